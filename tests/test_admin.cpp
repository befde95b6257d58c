#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <atomic>
#include <memory>

#include "admin/DatabaseCommands.h"
#include "admin/HelpLauncher.h"
#include "admin/TfrmInfor.h"
#include "designer/TfrmCreateTable.h"
#include "panels/TreeMenus.h"
#include "support/CommandWindows.h"
#include "support/TestNames.h"
#include "support/TreeFixture.h"

namespace {

bool databaseExists(db::Connection& c, const QString& name) {
    db::Result rows = c.select("SHOW DATABASES LIKE " + c.quoteValue(name));
    return rows.rowCount() == 1;
}

bool tableExists(db::Connection& c, const QString& database, const QString& table) {
    db::Result rows = c.select("SHOW TABLES FROM " + db::quoteIdentifier(database) + " LIKE " +
                               c.quoteValue(table));
    return rows.rowCount() == 1;
}

// The first line of each message. A failure ("...실패!") must say on its second line why the
// server refused; a message without one gives "<no reason>".
QStringList headlines(const QStringList& messages) {
    QStringList out;
    for (const QString& m : messages) {
        const QString first = m.section(u'\n', 0, 0);
        const bool failed = first.endsWith(QStringLiteral("실패!"));
        out << (failed && m.section(u'\n', 1).trimmed().isEmpty() ? QStringLiteral("<no reason>")
                                                                   : first);
    }
    return out;
}

// How a test answers an input box: Cancel, or OK with a text.
struct Input {
    bool ok;
    QString text;
};

void answer(ScriptedPrompts& prompts, const Input& input) {
    if (input.ok)
        prompts.answerInput(input.text);
    else
        prompts.cancelInput();
}

using DatabaseCommandsTest = DatabaseCommandsFixture;

// --- DB Add -------------------------------------------------------------------------------

struct AddCase {
    const char* name;
    Input input;
    QStringList messages;
    bool created;
};

void PrintTo(const AddCase& c, std::ostream* os) { *os << c.name; }

class DbAdd : public DatabaseCommandsTest, public ::testing::WithParamInterface<AddCase> {};

TEST_P(DbAdd, InputBoxRulesThenCreateAndRelist) {
    const AddCase& param = GetParam();
    Input input = param.input;
    if (input.text == QLatin1String("<unique>")) input.text = uniqueName("add `x` y");
    if (input.text.startsWith(QLatin1String("lvx_"))) toDrop << input.text;
    const int before = find({"DB"})->childCount();

    select(find({"DB"}));
    answer(prompts, input);
    menus->Add5->trigger();

    ASSERT_EQ(prompts.shown().size(), param.messages.size() + 1);
    EXPECT_EQ(prompts.shown()[0].caption, QStringLiteral("ADD"));
    EXPECT_EQ(prompts.shown()[0].text, QStringLiteral("DB Name을 입력하세요."));
    EXPECT_EQ(headlines(prompts.messages()), param.messages);
    if (param.created) {
        EXPECT_TRUE(databaseExists(dba, input.text));
        EXPECT_NE(find({"DB", input.text}), nullptr);
    } else {
        EXPECT_EQ(find({"DB"})->childCount(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, DbAdd,
    ::testing::Values(AddCase{"Cancel", {false, {}}, {}, false},
                      AddCase{"DefaultTextLeft", {true, "DataBase Name"}, {}, false},
                      AddCase{"EmptiedEdit", {true, ""}, {"추가할 DB명을 써주십시오."}, false},
                      // Quoted, so blanks and backticks are part of the name.
                      AddCase{"NewName", {true, "<unique>"}, {"DB생성 성공!"}, true},
                      AddCase{
                          "RefusedName", {true, "lvx_trailing_blank "}, {"DB생성 실패!"}, false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- DB Drop ------------------------------------------------------------------------------

struct DropCase {
    const char* name;
    bool confirm;
    bool goneBehindTheTreesBack;
    QStringList messages;
    bool nodeKept;
};

void PrintTo(const DropCase& c, std::ostream* os) { *os << c.name; }

class DbDrop : public DatabaseCommandsTest, public ::testing::WithParamInterface<DropCase> {};

TEST_P(DbDrop, ConfirmsAndRemovesTheNodeOnlyAfterTheServerDropped) {
    const DropCase& param = GetParam();
    const QString name = uniqueName("drop");
    toDrop << name;
    dba.exec("CREATE DATABASE " + db::quoteIdentifier(name));
    doubleClick(find({"DB"}));
    select(find({"DB", name}));
    contextDb = name;
    if (param.goneBehindTheTreesBack) dba.exec("DROP DATABASE " + db::quoteIdentifier(name));

    prompts.answerOkCancel(param.confirm);
    menus->Drop1->trigger();

    ASSERT_FALSE(prompts.shown().empty());
    EXPECT_EQ(prompts.shown()[0].text, "DataBase를 삭제하시겠습니까?\n" + name);
    EXPECT_EQ(prompts.shown()[0].caption, QStringLiteral("Drop Notice"));
    EXPECT_EQ(headlines(prompts.messages()), param.messages);
    EXPECT_EQ(find({"DB", name}) != nullptr, param.nodeKept);
    EXPECT_EQ(contextDb.isEmpty(), param.confirm);
    EXPECT_EQ(databaseExists(dba, name), !param.confirm && !param.goneBehindTheTreesBack);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DbDrop,
    ::testing::Values(DropCase{"Cancel", false, false, {}, true},
                      DropCase{"Ok", true, false, {"DB 삭제 성공!"}, false},
                      DropCase{"OkButRefused", true, true, {"DB 삭제 실패!"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Table Drop ---------------------------------------------------------------------------

struct TableDropCase {
    const char* name;
    const char* current;  // the connection's current database: "mysql" or "other"
    bool confirm;
    bool goneBehindTheTreesBack;
    QStringList messages;
    bool nodeKept;
};

void PrintTo(const TableDropCase& c, std::ostream* os) { *os << c.name; }

class TableDrop : public DatabaseCommandsTest,
                  public ::testing::WithParamInterface<TableDropCase> {};

TEST_P(TableDrop, DropsTheTableOfTheNodesDatabaseWhateverIsCurrent) {
    const TableDropCase& param = GetParam();
    ScratchDatabase mine;
    ScratchDatabase other;
    mine.exec("CREATE TABLE t (a INT)");
    other.exec("CREATE TABLE t (a INT)");
    TreeNode* folder = tablesOf(mine.name());
    select(find({"DB", mine.name(), "Tables", "t"}));
    contextTable = QStringLiteral("t");
    if (param.goneBehindTheTreesBack) mine.exec("DROP TABLE t");
    ASSERT_TRUE(session.MainConnection().selectDb(
        QLatin1String(param.current) == QLatin1String("other") ? other.name() : "mysql"));

    prompts.answerOkCancel(param.confirm);
    menus->Drop2->trigger();

    EXPECT_EQ(prompts.shown()[0].text,
              "Table을 삭제하시겠습니까?\n`" + mine.name() + "`.`t`");
    EXPECT_EQ(prompts.shown()[0].caption, QStringLiteral("Drop Notice"));
    EXPECT_EQ(headlines(prompts.messages()), param.messages);
    EXPECT_EQ(tableExists(dba, mine.name(), "t"), !param.confirm && !param.goneBehindTheTreesBack);
    EXPECT_TRUE(tableExists(dba, other.name(), "t"));
    EXPECT_EQ(childTexts(folder), param.nodeKept ? QStringList{"t"} : QStringList{});
    EXPECT_EQ(contextTable.isEmpty(), param.confirm);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, TableDrop, ::testing::Values(
    TableDropCase{"MysqlCurrent", "mysql", true, false, {"Table 삭제 성공!"}, false},
    TableDropCase{"SameNameCurrent", "other", true, false, {"Table 삭제 성공!"}, false},
    TableDropCase{"Cancel", "mysql", false, false, {}, true},
    TableDropCase{"Refused", "mysql", true, true, {"Table 삭제 실패!"}, true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A view is marked in the tree; Drop asks about a view and drops it as one (a dot in the
// names stays readable); the designer refuses it; Rename renames it, still a view.
TEST_F(DatabaseCommandsTest, ViewsAreMarkedDroppedAsViewsAndKeptFromTheDesigner) {
    const QString database = QStringLiteral("lvx_v.%1").arg(::getpid());
    dba.exec("CREATE DATABASE " + db::quoteIdentifier(database));
    toDrop << database;
    dba.exec("CREATE TABLE " + db::qualifiedName(database, "t") + " (a INT)");
    for (const char* view : {"v.", "w"})
        dba.exec("CREATE VIEW " + db::qualifiedName(database, view) + " AS SELECT a FROM " +
                 db::qualifiedName(database, "t"));
    TreeNode* folder = tablesOf(database);
    EXPECT_EQ(childTexts(folder), (QStringList{"t", "v.", "w"}));
    EXPECT_FALSE(find({"DB", database, "Tables", "t"})->isView());
    TreeNode* w = find({"DB", database, "Tables", "w"});
    ASSERT_TRUE(w->isView());
    EXPECT_EQ(w->data(0, Qt::ToolTipRole).toString(), QStringLiteral("w (view)"));

    select(w);
    menus->TableInformation1->trigger();
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith(QStringLiteral("This is a view")));

    prompts.clear();
    select(find({"DB", database, "Tables", "v."}));
    prompts.answerOkCancel(true);
    menus->Drop2->trigger();
    EXPECT_EQ(prompts.shown()[0].text.section(u'\n', 1), "`" + database + "`.`v.`");
    EXPECT_TRUE(prompts.shown()[0].text.startsWith(QStringLiteral("Drop this view?")));
    EXPECT_EQ(prompts.messages(), QStringList{"View dropped."});
    EXPECT_FALSE(tableExists(dba, database, "v."));
    EXPECT_EQ(childTexts(folder), (QStringList{"t", "w"}));

    prompts.clear();
    select(find({"DB", database, "Tables", "w"}));
    prompts.answerInput(QStringLiteral("w2"));
    menus->TableRename1->trigger();
    EXPECT_EQ(prompts.messages(), QStringList{"Table ReName 성공!"});
    TreeNode* renamed = find({"DB", database, "Tables", "w2"});
    ASSERT_NE(renamed, nullptr);
    EXPECT_TRUE(renamed->isView());
}

// --- Table Rename -------------------------------------------------------------------------

struct RenameCase {
    const char* name;
    Input input;
    QStringList messages;
    QStringList tablesAfter;  // on the server and in the re-listed folder
};

void PrintTo(const RenameCase& c, std::ostream* os) { *os << c.name; }

class TableRename : public DatabaseCommandsTest,
                    public ::testing::WithParamInterface<RenameCase> {};

TEST_P(TableRename, InputBoxRulesThenRenameInTheNodesDatabase) {
    const RenameCase& param = GetParam();
    ScratchDatabase mine;
    mine.exec("CREATE TABLE orders (a INT)");
    mine.exec("CREATE TABLE taken (a INT)");
    TreeNode* folder = tablesOf(mine.name());
    select(find({"DB", mine.name(), "Tables", "orders"}));
    ASSERT_TRUE(session.MainConnection().selectDb("mysql"));

    answer(prompts, param.input);
    menus->TableRename1->trigger();

    ASSERT_FALSE(prompts.shown().empty());
    EXPECT_EQ(prompts.shown()[0].caption, QStringLiteral("Table Rename"));
    EXPECT_EQ(prompts.shown()[0].text, QStringLiteral("Table Name 변경"));
    EXPECT_EQ(headlines(prompts.messages()), param.messages);
    QStringList onServer;
    db::Result rows = dba.select("SHOW TABLES FROM " + db::quoteIdentifier(mine.name()));
    while (rows.next()) onServer << rows.text(0);
    onServer.sort();
    EXPECT_EQ(onServer, param.tablesAfter);
    QStringList listed = childTexts(folder);
    listed.sort();
    EXPECT_EQ(listed, param.tablesAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, TableRename,
    ::testing::Values(
        RenameCase{"CancelReturnsTheOldName", {false, {}}, {}, {"orders", "taken"}},
        RenameCase{"Unchanged", {true, "orders"}, {}, {"orders", "taken"}},
        RenameCase{"Emptied", {true, ""}, {"변경할 Table명을 써주십시오."}, {"orders", "taken"}},
        RenameCase{"NewName", {true, "orders 2"}, {"Table ReName 성공!"}, {"orders 2", "taken"}},
        RenameCase{"NameTaken", {true, "taken"}, {"Table ReName 실패!"}, {"orders", "taken"}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- NewTable and Table Properties --------------------------------------------------------

struct NewTableCase {
    const char* name;
    Input input;
    QStringList messages;
    bool designerOpens;
};

void PrintTo(const NewTableCase& c, std::ostream* os) { *os << c.name; }

class NewTable : public DatabaseCommandsTest, public ::testing::WithParamInterface<NewTableCase> {};

TEST_P(NewTable, InputBoxRulesThenTheDesignerThenTheFolderIsRelisted) {
    const NewTableCase& param = GetParam();
    ScratchDatabase mine;
    TreeNode* folder = tablesOf(mine.name());
    select(folder);
    // Made behind the tree's back: shows only if the folder is re-listed.
    mine.exec("CREATE TABLE existing (a INT)");

    answer(prompts, param.input);
    // Blanks around the name: said, and the table gets the name without them.
    const bool trimmed = param.input.ok && param.input.text != param.input.text.trimmed() &&
                         !param.input.text.trimmed().isEmpty();
    if (trimmed) prompts.answerOkCancel(true);
    if (param.designerOpens) {
        prompts.onDialog([&](QDialog* dialog) {
            auto* designer = qobject_cast<TfrmCreateTable*>(dialog);
            EXPECT_NE(designer, nullptr);
            if (!designer) return int(QDialog::Rejected);
            EXPECT_FALSE(designer->AlterMode());
            EXPECT_EQ(designer->DatabaseName(), mine.name());
            EXPECT_EQ(designer->TableName(), QStringLiteral("fresh"));
            EXPECT_EQ(designer->LTable->text(), QStringLiteral("Table Name : fresh"));
            EXPECT_EQ(designer->parentWidget(), &widget);
            // Closed without creating anything.
            prompts.answerOkCancel(true);
            designer->CancelClick();
            return designer->result();
        });
    }
    menus->NewTable1->trigger();

    EXPECT_TRUE(prompts.allAnswersUsed());
    EXPECT_EQ(prompts.shown()[0].caption, QStringLiteral("New Table"));
    EXPECT_EQ(prompts.shown()[0].text, QStringLiteral("Table Name을 넣어주세요."));
    if (trimmed) {
        EXPECT_TRUE(prompts.shown()[1].text.contains(QStringLiteral("named \"fresh\"")));
    }
    EXPECT_EQ(prompts.messages(), param.messages);
    EXPECT_EQ(childTexts(folder), param.designerOpens ? QStringList{"existing"} : QStringList{});
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, NewTable,
    ::testing::Values(NewTableCase{"Cancel", {false, {}}, {}, false},
                      NewTableCase{"DefaultTextLeft", {true, "New Table"}, {}, false},
                      NewTableCase{"Emptied", {true, ""}, {"Table Name을 넣어주세요."}, false},
                      NewTableCase{"Named", {true, " fresh "}, {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DatabaseCommandsTest, TablePropertiesOpensTheDesignerOnTheNodesTable) {
    ScratchDatabase mine;
    mine.exec("CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(3))");
    tablesOf(mine.name());
    select(find({"DB", mine.name(), "Tables", "t"}));
    ASSERT_TRUE(session.MainConnection().selectDb("mysql"));
    prompts.onDialog([&](QDialog* dialog) {
        auto* designer = qobject_cast<TfrmCreateTable*>(dialog);
        EXPECT_NE(designer, nullptr);
        if (!designer) return int(QDialog::Rejected);
        EXPECT_TRUE(designer->AlterMode());
        EXPECT_EQ(designer->DatabaseName(), mine.name());
        EXPECT_EQ(designer->LTable->text(), QStringLiteral("Table Name : t"));
        EXPECT_EQ(designer->RowCount(), 3);
        EXPECT_EQ(designer->Row(0).key, QStringLiteral("PRI"));
        designer->CancelClick();
        return designer->result();
    });
    menus->TableInformation1->trigger();
    EXPECT_TRUE(prompts.allAnswersUsed());
    EXPECT_TRUE(prompts.messages().isEmpty());
}

// --- About box and help -------------------------------------------------------------------

TEST(AboutBox, TextsFocusAndLinks) {
    QList<QUrl> opened;
    TfrmInfor box([&](const QUrl& url) {
        opened << url;
        return true;
    });
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Lorvex Information"));
    EXPECT_EQ(box.StaticText1->text(), QStringLiteral("Lorvex"));
    EXPECT_TRUE(box.StaticText1->font().bold());
    EXPECT_TRUE(box.LabelVersion->text().contains(QStringLiteral(LORVEX_VERSION)));
    EXPECT_EQ(box.Button1->text(), QStringLiteral("확 인"));
    EXPECT_TRUE(box.Label1->text().contains(TfrmInfor::HomePage().toString()));
    EXPECT_TRUE(box.Label2->text().contains(TfrmInfor::SecondSite().toString()));
    EXPECT_NE(TfrmInfor::HomePage(), TfrmInfor::SecondSite());
    EXPECT_EQ(box.Image1->size(), QSize(32, 32));

    box.show();
    EXPECT_EQ(box.focusWidget(), box.Button1);
    // A link opens its address and leaves the box open.
    Q_EMIT box.Label1->linkActivated(box.Label1->text());
    Q_EMIT box.Label2->linkActivated(box.Label2->text());
    EXPECT_EQ(opened, QList<QUrl>({TfrmInfor::HomePage(), TfrmInfor::SecondSite()}));
    EXPECT_TRUE(box.isVisible());
    // Enter on the focused button closes it.
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(box.Button1, &enter);
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), QDialog::Rejected);
}

TEST(AboutBox, AboutRunsTheBoxModallyOwnedByTheWindow) {
    ScriptedPrompts prompts;
    QWidget window;
    HelpLauncher help(QStringLiteral("/nonexistent/"), prompts, &window,
                      [](const QUrl&) { return true; });
    prompts.onDialog([&](QDialog* dialog) {
        EXPECT_NE(qobject_cast<TfrmInfor*>(dialog), nullptr);
        EXPECT_EQ(dialog->parentWidget(), &window);
        return int(QDialog::Rejected);
    });
    help.About1Click();
    EXPECT_TRUE(prompts.allAnswersUsed());
    EXPECT_TRUE(prompts.messages().isEmpty());
}

struct HelpCase {
    const char* name;
    bool chm;
    bool guide;
    bool chmOpens;
    QStringList opened;  // file names, in the order tried
    bool guideOpens = true;
    const char* message = nullptr;  // how the message starts; none when a file opened
};

void PrintTo(const HelpCase& c, std::ostream* os) { *os << c.name; }

class HelpFile : public ::testing::TestWithParam<HelpCase> {};

TEST_P(HelpFile, OpensTheCompiledHelpElseTheGuide) {
    const HelpCase& param = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString programDir = dir.path() + u'/';
    for (auto [present, name] : {std::pair{param.chm, HelpLauncher::HelpFileName()},
                                 std::pair{param.guide, HelpLauncher::GuideFileName()}}) {
        if (!present) continue;
        QFile file(programDir + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ScriptedPrompts prompts;
    QStringList opened;
    HelpLauncher help(programDir, prompts, nullptr, [&](const QUrl& url) {
        EXPECT_TRUE(url.isLocalFile());
        opened << url.toLocalFile().mid(programDir.size());
        return url.toLocalFile().endsWith(QLatin1String(".chm")) ? param.chmOpens
                                                                  : param.guideOpens;
    });
    help.Help2Click();
    EXPECT_EQ(opened, param.opened);
    if (!param.message) {
        EXPECT_TRUE(prompts.shown().empty());
    } else {
        ASSERT_EQ(prompts.messages().size(), 1);
        EXPECT_TRUE(prompts.messages()[0].startsWith(QLatin1String(param.message)));
        // The path to open by hand.
        EXPECT_TRUE(prompts.messages()[0].endsWith(programDir + HelpLauncher::GuideFileName()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, HelpFile,
    ::testing::Values(
        HelpCase{"Both", true, true, true, {"Lorvex Help.chm"}},
        HelpCase{"OnlyGuide", false, true, true, {"Lorvex Help.html"}},
        HelpCase{"ChmWithoutViewer", true, true, false, {"Lorvex Help.chm", "Lorvex Help.html"}},
        HelpCase{"NoViewerAtAll", true, true, false, {"Lorvex Help.chm", "Lorvex Help.html"},
                 false, "No program is set up to open the help file."},
        HelpCase{"Neither", false, false, true, {}, true, "The help file was not found."}),
    [](const auto& info) { return std::string(info.param.name); });

// The guide is copied beside the executable by the build.
TEST(HelpGuide, ShipsBesideTheProgram) {
    const QString guide = QCoreApplication::applicationDirPath() + QStringLiteral("/../") +
                          HelpLauncher::GuideFileName();
    QFile file(guide);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << guide.toStdString();
    EXPECT_TRUE(file.readAll().contains("<title>Lorvex Help</title>"));
}

}  // namespace
