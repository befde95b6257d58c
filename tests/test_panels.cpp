#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cmath>
#include <optional>

#include "dataset/TMySQLConnection.h"
#include "db/Connection.h"
#include "db/GrantColumns.h"
#include "panels/DetailPanels.h"
#include "panels/PanelStatements.h"
#include "panels/ProcessCommands.h"
#include "support/ScriptedPrompts.h"
#include "support/TestServer.h"
#include "tree/ServerSession.h"
#include "tree/TreeNode.h"

// Readable failure messages.
static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

const QStringList kTableProperties{
    "Name",           "Type",           "Row_format",      "Rows",
    "Avg_row_length", "Data_length",    "Max_data_length", "Index_length",
    "Data_free",      "Auto_increment", "Create_time",     "Update_time",
    "Check_time",     "Create_options", "Comment"};

QStringList headers(QTreeWidget* list) {
    QStringList out;
    for (int i = 0; i < list->columnCount(); ++i) out << list->headerItem()->text(i);
    return out;
}

QStringList row(QTreeWidget* list, int index) {
    QStringList out;
    QTreeWidgetItem* item = list->topLevelItem(index);
    if (!item) return {QStringLiteral("<no item %1>").arg(index)};
    for (int i = 0; i < list->columnCount(); ++i) out << item->text(i);
    return out;
}

QStringList column(QTreeWidget* list, int col) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(col);
    return out;
}

// The value of a name/value list's property.
QString property(QTreeWidget* list, const QString& name) {
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(0) == name) return list->topLevelItem(i)->text(1);
    return QStringLiteral("<missing>");
}

QStringList tabCaptions(QTabWidget* pages) {
    QStringList out;
    for (int i = 0; i < pages->count(); ++i) out << pages->tabText(i);
    return out;
}

QWidget* sqlTab(QTabWidget* pages) {
    for (int i = 0; i < pages->count(); ++i)
        if (pages->tabText(i) == QLatin1String("SQL")) return pages->widget(i);
    return nullptr;
}

QStringList checkedBoxes(const auto& boxes) {
    QStringList out;
    for (QCheckBox* box : boxes)
        if (box->isChecked()) out << box->objectName();
    return out;
}

TreeNode* add(QTreeWidgetItem* parent, const QString& text, TNodeLevel level,
              decltype(TNodeData::key) key = {}) {
    auto* node = new TreeNode(text, TNodeData{level, std::move(key)});
    parent->addChild(node);
    return node;
}

double luminance(QRgb c) {
    const auto channel = [](int v) {
        const double x = v / 255.0;
        return x <= 0.03928 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

// How clearly the first row's text stands out once the row is selected, as drawn: the
// contrast ratio between the row's background (its commonest colour) and the pixel that
// differs from it most. 1 is invisible, 21 black on white.
double selectedRowContrast(QTreeWidget* list) {
    list->setCurrentItem(list->topLevelItem(0));
    QApplication::processEvents();
    const QImage image = list->viewport()->grab().toImage();
    const QRect row = list->visualItemRect(list->topLevelItem(0)).intersected(image.rect());
    QHash<QRgb, int> counts;
    for (int y = row.top(); y <= row.bottom(); ++y)
        for (int x = row.left(); x <= row.right(); ++x) ++counts[image.pixel(x, y)];
    if (counts.isEmpty()) return 0;
    QRgb background = counts.begin().key();
    for (auto it = counts.begin(); it != counts.end(); ++it)
        if (it.value() > counts[background]) background = it.key();
    double best = 1;
    const double b = luminance(background);
    for (auto it = counts.begin(); it != counts.end(); ++it) {
        const double l = luminance(it.key());
        best = std::max(best, (std::max(l, b) + 0.05) / (std::min(l, b) + 0.05));
    }
    return best;
}

// Drops an extra database or account when the test ends, however it ends.
struct DropOnExit {
    db::Connection& connection;
    std::string statement;
    ~DropOnExit() { connection.query(statement); }
};

// Panels over a session connected to the test server, inside a window with the tree, and
// a hand-built tree: server > "DB" > database > "Tables" > table > "Fields" > field.
class PanelsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_THROW(session.Connect(QStringLiteral("test"), testserver::serverEntry()));
        auto* layout = new QVBoxLayout(&window);
        tree = new QTreeWidget(&window);
        panels = new DetailPanels(session, prompts, &window);
        panels->setTreeView(tree);
        layout->addWidget(tree);
        layout->addWidget(panels);
        server = new TreeNode(QStringLiteral("test"), TNodeData{nlServer, testserver::serverEntry()});
        tree->addTopLevelItem(server);
        dbFolder = add(server, QStringLiteral("DB"), nlDbFolder);
    }

    // The path of a database down to one table and its folders.
    struct TablePath {
        TreeNode* database;
        TreeNode* tables;
        TreeNode* table;
        TreeNode* fields;
        TreeNode* indexes;
    };
    TablePath pathTo(const QString& database, const QString& table) {
        TablePath p;
        p.database = add(dbFolder, database, nlDatabase);
        p.tables = add(p.database, QStringLiteral("Tables"), nlTablesFolder);
        p.table = add(p.tables, table, nlTable);
        p.fields = add(p.table, QStringLiteral("Fields"), nlFieldsFolder);
        p.indexes = add(p.table, QStringLiteral("Index Key"), nlIndexKeyFolder);
        return p;
    }

    // SetPanel as the tree click runs it; the busy cursor must be gone afterwards.
    void setPanel(int level, TreeNode* node) {
        panels->SetPanel(level, node);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "level " << level;
    }

    std::vector<int> visiblePanels() const {
        std::vector<int> out;
        for (int n = 1; n <= 8; ++n)
            if (panels->panel(n)->isVisibleTo(panels)) out.push_back(n);
        return out;
    }

    TMySQLConnection dataset;
    ServerSession session{dataset, nullptr};
    ScriptedPrompts prompts;
    QWidget window;
    QTreeWidget* tree = nullptr;
    DetailPanels* panels = nullptr;
    TreeNode* server = nullptr;
    TreeNode* dbFolder = nullptr;
};

TEST(PanelStatements, NamesAreQuotedAndTheTablePatternMatchesOnlyItself) {
    EXPECT_EQ(panels::likeLiteral(QStringLiteral("a_b%c\\d")), QStringLiteral("a\\_b\\%c\\\\d"));
    EXPECT_EQ(panels::tableStatusStatement(QStringLiteral("my db")),
              "SHOW TABLE STATUS FROM `my db`");
    EXPECT_EQ(panels::showColumnsStatement(QStringLiteral("d.b"), QStringLiteral("t`x")),
              "SHOW COLUMNS FROM `d.b`.`t``x`");
    EXPECT_EQ(panels::showIndexStatement(QStringLiteral("d"), QStringLiteral("t'1")),
              "SHOW INDEX FROM `d`.`t'1`");

    // On the server the pattern of a_b lists a_b alone, never axb.
    ScratchDatabase scratch;
    scratch.exec("CREATE TABLE a_b (i INT)");
    scratch.exec("CREATE TABLE axb (i INT)");
    db::Connection& c = scratch.connection();
    db::Result rows =
        c.select(panels::tableStatusStatement(c, scratch.name(), QStringLiteral("a_b")));
    QStringList names;
    while (rows.next()) names << rows.text(0);
    EXPECT_EQ(names, QStringList{"a_b"});
}

TEST_F(PanelsTest, PanelsCarryTheirControlsTabsAndHeaders) {
    for (QTabWidget* pages : {panels->PTable(), panels->PField(), panels->PColumn(),
                              panels->PIndex(), panels->PProcess()})
        EXPECT_EQ(tabCaptions(pages), (QStringList{"Descript", "SQL"}));
    EXPECT_EQ(tabCaptions(panels->PTableDetail()), (QStringList{"Descript", "Data", "SQL"}));
    EXPECT_EQ(panels->PTableDetail()->widget(1), panels->DataTab());

    EXPECT_EQ(headers(panels->TableListView()),
              (QStringList{"Name", "Type", "Row_Format", "Create_Time"}));
    EXPECT_EQ(headers(panels->FieldListView()),
              (QStringList{"Field", "Type", "Null", "Key", "Default", "Extra"}));
    EXPECT_EQ(headers(panels->IndexListView()),
              (QStringList{"Key_name", "Column_name", "Non_unique", "Comment"}));
    EXPECT_EQ(headers(panels->ProcessListView()),
              (QStringList{"Id", "User", "Host", "DB", "Command", "Time", "State", "Info"}));
    for (QTreeWidget* list : {panels->ColumnListView(), panels->DetailListView()}) {
        EXPECT_TRUE(list->isHeaderHidden()) << list->objectName().toStdString();
        EXPECT_EQ(list->columnCount(), 2);
    }

    EXPECT_EQ(panels->EditUPass()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(panels->SpeedButton1()->text(), "+");
    EXPECT_EQ(panels->SpeedButton2()->text(), "Save");
    EXPECT_EQ(panels->SpeedButton3()->text(), "-");
    EXPECT_EQ(panels->userPrivilegeBoxes()[8]->objectName(), "UProcess");
    EXPECT_EQ(panels->userPrivilegeBoxes()[8]->text(), "Process_priv");
    EXPECT_EQ(panels->hostPrivilegeBoxes()[6]->objectName(), "HGrant");
    EXPECT_EQ(panels->hostPrivilegeBoxes()[6]->text(), "Grant_priv");
}

TEST_F(PanelsTest, SwitchPanelShowsOnePanelAndMovesTheSqlPanelAlong) {
    auto* sqlContent = new QWidget;
    panels->panelSQL()->layout()->addWidget(sqlContent);
    window.show();
    window.activateWindow();

    panels->PTableDetail()->setCurrentIndex(1);  // the user's last choice: "Data"
    for (int n = 1; n <= 8; ++n) {
        panels->SwitchPanel(n);
        EXPECT_EQ(panels->ShownPanel(), n);
        EXPECT_EQ(visiblePanels(), std::vector<int>{n});
        if (auto* pages = qobject_cast<QTabWidget*>(panels->panel(n))) {
            EXPECT_EQ(panels->panelSQL()->parentWidget(), sqlTab(pages)) << "panel " << n;
            EXPECT_FALSE(panels->panelSQL()->isHidden());
        }
    }
    EXPECT_EQ(panels->PTableDetail()->currentIndex(), 1);
    EXPECT_EQ(sqlContent->parentWidget(), panels->panelSQL());

    auto* elsewhere = new QLineEdit(&window);  // a visible control that keeps the focus
    window.layout()->addWidget(elsewhere);
    elsewhere->show();
    elsewhere->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(elsewhere->hasFocus());
    panels->SwitchPanel(0);
    EXPECT_EQ(panels->ShownPanel(), 0);
    EXPECT_TRUE(visiblePanels().empty());
    QApplication::processEvents();
    EXPECT_TRUE(tree->hasFocus());

    panels->SwitchPanel(4);
    panels->SwitchPanel(42);  // kept as given, shows nothing
    EXPECT_EQ(panels->ShownPanel(), 42);
    EXPECT_TRUE(visiblePanels().empty());
    panels->SwitchPanel(-1);
    EXPECT_EQ(panels->ShownPanel(), -1);
    EXPECT_TRUE(visiblePanels().empty());
}

TEST_F(PanelsTest, TablesFolderListsTheStatusOfEveryTable) {
    ScratchDatabase scratch;
    scratch.exec("CREATE TABLE t1 (i INT) ENGINE=InnoDB ROW_FORMAT=COMPACT");
    scratch.exec("CREATE TABLE t2 (i INT) ENGINE=MyISAM");
    scratch.exec("CREATE VIEW v AS SELECT i FROM t2");  // shown as a view, not as no type
    const TablePath p = pathTo(scratch.name(), QStringLiteral("t1"));

    setPanel(nlTablesFolder, p.tables);
    EXPECT_EQ(panels->ShownPanel(), 3);
    QTreeWidget* list = panels->TableListView();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(row(list, 0).mid(0, 3), (QStringList{"t1", "InnoDB", "Compact"}));
    EXPECT_EQ(row(list, 1).mid(0, 2), (QStringList{"t2", "MyISAM"}));
    EXPECT_EQ(row(list, 2).mid(0, 2), (QStringList{"v", "VIEW"}));
    const QRegularExpression dateTime(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d"));
    EXPECT_TRUE(dateTime.match(row(list, 0)[3]).hasMatch()) << row(list, 0)[3].toStdString();
    setPanel(nlTable, add(p.tables, QStringLiteral("v"), nlTable));
    EXPECT_EQ(property(panels->DetailListView(), "Type"), "VIEW");
    EXPECT_TRUE(prompts.messages().isEmpty());
}

TEST_F(PanelsTest, NamesWithBlanksDotsAndQuotesAreListed) {
    db::Connection admin = testserver::connect();
    const QString database = QStringLiteral("lvx p.'q %1").arg(::getpid());
    const QString table = QStringLiteral("my t.a'b`c_d");
    admin.exec("CREATE DATABASE " + db::quoteIdentifier(database));
    DropOnExit drop{admin, "DROP DATABASE IF EXISTS " + db::quoteIdentifier(database)};
    admin.exec("CREATE TABLE " + db::qualifiedName(database, table) + " (`a col` INT PRIMARY KEY)");
    const TablePath p = pathTo(database, table);

    setPanel(nlTablesFolder, p.tables);
    EXPECT_EQ(column(panels->TableListView(), 0), QStringList{table});
    setPanel(nlTable, p.table);
    EXPECT_EQ(property(panels->DetailListView(), "Name"), table);
    setPanel(nlFieldsFolder, p.fields);
    EXPECT_EQ(column(panels->FieldListView(), 0), QStringList{"a col"});
    setPanel(nlField, add(p.fields, QStringLiteral("a col"), nlField));
    EXPECT_EQ(property(panels->ColumnListView(), "Key"), "PRI");
    setPanel(nlIndexKeyFolder, p.indexes);
    EXPECT_EQ(column(panels->IndexListView(), 1), QStringList{"a col"});
    EXPECT_TRUE(prompts.messages().isEmpty());
}

TEST_F(PanelsTest, TableNodeShowsItsOwnStatusRowOnlyAfterLoadingTheData) {
    ScratchDatabase scratch;
    {
        db::Result r = scratch.connection().select("SELECT @@lower_case_table_names");
        ASSERT_TRUE(r.next());
        ASSERT_EQ(r.text(0), "0") << "the test needs case-sensitive table names";
    }
    scratch.exec(
        "CREATE TABLE Mixed (id INT AUTO_INCREMENT PRIMARY KEY) ENGINE=InnoDB "
        "ROW_FORMAT=DYNAMIC AUTO_INCREMENT=42 COMMENT='upper'");
    scratch.exec("CREATE TABLE mixed (id INT) ENGINE=MyISAM COMMENT='lower'");
    scratch.exec("CREATE TABLE a_b (id INT) COMMENT='underscore'");
    scratch.exec("CREATE TABLE axb (id INT) COMMENT='x'");
    const TablePath p = pathTo(scratch.name(), QStringLiteral("Mixed"));

    panels->DetailListView()->addTopLevelItem(new QTreeWidgetItem(QStringList{"stale", "v"}));
    QStringList seen;
    QObject::connect(panels, &DetailPanels::LoadTableData, [&](TreeNode* table) {
        seen << table->text() << QString::number(panels->ShownPanel())
             << panels->DetailListView()->topLevelItem(0)->text(0);
    });

    setPanel(nlTable, p.table);
    EXPECT_EQ(seen, (QStringList{"Mixed", "7", "stale"}));
    QTreeWidget* list = panels->DetailListView();
    EXPECT_EQ(column(list, 0), kTableProperties);
    EXPECT_EQ(property(list, "Name"), "Mixed");
    EXPECT_EQ(property(list, "Type"), "InnoDB");
    EXPECT_EQ(property(list, "Row_format"), "Dynamic");
    EXPECT_EQ(property(list, "Auto_increment"), "42");
    EXPECT_EQ(property(list, "Comment"), "upper");
    EXPECT_EQ(property(list, "Check_time"), "");  // NULL reads as empty text

    setPanel(nlTable, add(p.tables, QStringLiteral("a_b"), nlTable));
    EXPECT_EQ(list->topLevelItemCount(), 15);
    EXPECT_EQ(property(list, "Comment"), "underscore");

    // A node whose name the server spells otherwise matches no row, but the data still loads.
    seen.clear();
    setPanel(nlTable, add(p.tables, QStringLiteral("MIXED"), nlTable));
    EXPECT_EQ(seen.value(0), "MIXED");
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_TRUE(prompts.messages().isEmpty());
}

TEST_F(PanelsTest, FieldsFolderAndFieldNodeShowTheColumns) {
    ScratchDatabase scratch;
    scratch.exec(
        "CREATE TABLE t (id INT NOT NULL AUTO_INCREMENT PRIMARY KEY, "
        "name VARCHAR(20) DEFAULT 'x', note TEXT NULL)");
    const TablePath p = pathTo(scratch.name(), QStringLiteral("t"));

    setPanel(nlFieldsFolder, p.fields);
    EXPECT_EQ(panels->ShownPanel(), 4);
    QTreeWidget* fields = panels->FieldListView();
    ASSERT_EQ(fields->topLevelItemCount(), 3);
    EXPECT_EQ(row(fields, 0), (QStringList{"id", "int(11)", "NO", "PRI", "", "auto_increment"}));
    EXPECT_EQ(row(fields, 1), (QStringList{"name", "varchar(20)", "YES", "", "x", ""}));
    EXPECT_EQ(row(fields, 2).mid(0, 3), (QStringList{"note", "text", "YES"}));

    setPanel(nlField, add(p.fields, QStringLiteral("name"), nlField));
    EXPECT_EQ(panels->ShownPanel(), 5);
    QTreeWidget* props = panels->ColumnListView();
    EXPECT_EQ(column(props, 0), (QStringList{"Field", "Type", "Null", "Key", "Default", "Extra"}));
    EXPECT_EQ(column(props, 1), (QStringList{"name", "varchar(20)", "YES", "", "x", ""}));

    // Exact comparison: another letter case matches nothing.
    setPanel(nlField, add(p.fields, QStringLiteral("NAME"), nlField));
    EXPECT_EQ(props->topLevelItemCount(), 0);
    EXPECT_TRUE(prompts.messages().isEmpty());
}

TEST_F(PanelsTest, IndexFolderListsOneItemPerKeyColumn) {
    ScratchDatabase scratch;
    scratch.exec(
        "CREATE TABLE m (a INT, b INT, c INT, PRIMARY KEY (a, b), KEY k (c)) "
        "ENGINE=MyISAM");
    scratch.exec("ALTER TABLE m DISABLE KEYS");  // the server comments the key "disabled"
    const TablePath p = pathTo(scratch.name(), QStringLiteral("m"));

    setPanel(nlIndexKeyFolder, p.indexes);
    EXPECT_EQ(panels->ShownPanel(), 6);
    QTreeWidget* list = panels->IndexListView();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(row(list, 0), (QStringList{"PRIMARY", "a", "0", ""}));
    EXPECT_EQ(row(list, 1), (QStringList{"PRIMARY", "b", "0", ""}));
    EXPECT_EQ(row(list, 2), (QStringList{"k", "c", "1", "disabled"}));
}

TEST_F(PanelsTest, RefusedSelectionOrListingKeepsTheOldItemsSilently) {
    ScratchDatabase scratch;
    scratch.exec("CREATE TABLE t (i INT)");
    const TablePath good = pathTo(scratch.name(), QStringLiteral("t"));
    setPanel(nlTablesFolder, good.tables);
    setPanel(nlFieldsFolder, good.fields);
    ASSERT_EQ(panels->TableListView()->topLevelItemCount(), 1);
    ASSERT_EQ(panels->FieldListView()->topLevelItemCount(), 1);

    const TablePath gone = pathTo(scratch.name() + "_gone", QStringLiteral("t"));
    setPanel(nlTablesFolder, gone.tables);
    EXPECT_EQ(panels->ShownPanel(), 3);
    EXPECT_EQ(column(panels->TableListView(), 0), QStringList{"t"});

    // The database exists but the table does not: the listing fails.
    const TablePath noTable = pathTo(scratch.name(), QStringLiteral("no_such_table"));
    setPanel(nlFieldsFolder, noTable.fields);
    EXPECT_EQ(panels->ShownPanel(), 4);
    EXPECT_EQ(column(panels->FieldListView(), 0), QStringList{"i"});
    EXPECT_TRUE(prompts.messages().isEmpty());

    // A node without the ancestors its level needs cannot be filled.
    auto* orphan = new TreeNode(QStringLiteral("x"), TNodeData{nlTable, {}});
    tree->addTopLevelItem(orphan);
    setPanel(nlTable, orphan);
    EXPECT_EQ(prompts.messages(), QStringList{"SetPanel Error"});
}

TEST_F(PanelsTest, FolderLevelsWithoutAPanelLeaveTheShownOne) {
    ScratchDatabase scratch;
    scratch.exec("CREATE TABLE t (i INT)");
    const TablePath p = pathTo(scratch.name(), QStringLiteral("t"));
    setPanel(nlFieldsFolder, p.fields);
    for (int level : {int(nlUserFolder), int(nlDbFolder), int(nlHostFolder), int(nlDatabase),
                      int(nlValidityChecksFolder), 99}) {
        setPanel(level, p.database);
        EXPECT_EQ(panels->ShownPanel(), 4) << "level " << level;
        EXPECT_EQ(visiblePanels(), std::vector<int>{4});
        EXPECT_EQ(column(panels->FieldListView(), 0), QStringList{"i"});
    }
    setPanel(nlServer, server);
    EXPECT_EQ(panels->ShownPanel(), 0);
    EXPECT_TRUE(visiblePanels().empty());
    EXPECT_TRUE(prompts.messages().isEmpty());
}

TEST_F(PanelsTest, EveryListShowsItsSelectedRowClearlyAndItsCaptionsWhole) {
    ScratchDatabase scratch;
    scratch.exec("CREATE TABLE t (id INT PRIMARY KEY)");
    const TablePath p = pathTo(scratch.name(), QStringLiteral("t"));
    const std::pair<TreeNode*, QTreeWidget*> fills[] = {
        {p.tables, panels->TableListView()},
        {p.fields, panels->FieldListView()},
        {add(p.fields, QStringLiteral("id"), nlField), panels->ColumnListView()},
        {p.indexes, panels->IndexListView()},
        {p.table, panels->DetailListView()},
        {add(p.database, QStringLiteral("Procedures"), nlProceduresFolder),
         panels->ProcessListView()},
    };
    window.resize(900, 700);
    window.show();
    for (const auto& [node, list] : fills) {
        setPanel(node->level(), node);
        ASSERT_GT(list->topLevelItemCount(), 0) << list->objectName().toStdString();
        EXPECT_GE(selectedRowContrast(list), 3.0) << list->objectName().toStdString();
    }
    // The property names are never cut.
    for (QTreeWidget* list : {panels->DetailListView(), panels->ColumnListView()}) {
        int widest = 0;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            widest = std::max(widest, list->fontMetrics().horizontalAdvance(
                                          list->topLevelItem(i)->text(0)));
        EXPECT_GT(list->columnWidth(0), widest) << list->objectName().toStdString();
    }
}

// "Kill Query" and "Kill Connection" act on the connection of the current row, after a
// question naming it; the window's own connections are never ended.
TEST_F(PanelsTest, ProcessListKillsTheChosenConnectionAfterAskingAndSparesItsOwn) {
    ProcessCommands commands(*panels, session, prompts, &window);
    db::Connection victim = testserver::connect();
    const QString id = QString::number(victim.threadId());
    ScratchDatabase scratch;
    TreeNode* procedures = add(pathTo(scratch.name(), QStringLiteral("t")).database,
                               QStringLiteral("Procedures"), nlProceduresFolder);
    const auto selectRow = [&](const QString& rowId) {
        QTreeWidget* list = panels->ProcessListView();
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(0) == rowId) {
                list->setCurrentItem(list->topLevelItem(i));
                return true;
            }
        return false;
    };
    setPanel(nlProceduresFolder, procedures);
    ASSERT_TRUE(selectRow(id));

    prompts.answerOkCancel(false);
    commands.KillConnection()->trigger();
    ASSERT_EQ(prompts.shown().size(), 1u);
    EXPECT_EQ(prompts.shown()[0].caption, QStringLiteral("Kill Notice"));
    EXPECT_TRUE(prompts.shown()[0].text.contains(id));
    EXPECT_TRUE(prompts.shown()[0].text.contains(testserver::user()));
    EXPECT_TRUE(victim.query("SELECT 1"));
    victim.discardResults();

    prompts.answerOkCancel(true);
    commands.KillQuery()->trigger();  // an idle connection: nothing to stop, it lives on
    EXPECT_TRUE(victim.query("SELECT 1"));
    victim.discardResults();
    ASSERT_TRUE(selectRow(id));
    prompts.answerOkCancel(true);
    commands.KillConnection()->trigger();
    EXPECT_FALSE(victim.query("SELECT 1"));
    // Listed afresh; the server may show the ended session for a moment longer.
    for (int i = 0; i < 100 && selectRow(id); ++i) {
        QThread::msleep(20);
        panels->ListProcesses();
    }
    EXPECT_FALSE(selectRow(id));
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();

    ASSERT_TRUE(selectRow(QString::number(session.MainConnection().threadId())));
    commands.KillConnection()->trigger();
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].contains("own connections"));
    EXPECT_TRUE(session.MainConnection().query("SELECT 1"));
    session.MainConnection().discardResults();
    EXPECT_TRUE(prompts.allAnswersUsed());
}

TEST_F(PanelsTest, ProceduresFolderListsTheServersConnections) {
    ScratchDatabase scratch;  // its own connection has the scratch database current
    const TablePath p = pathTo(scratch.name(), QStringLiteral("t"));
    TreeNode* procedures = add(p.database, QStringLiteral("Procedures"), nlProceduresFolder);

    setPanel(nlProceduresFolder, procedures);
    EXPECT_EQ(panels->ShownPanel(), 8);
    QTreeWidget* list = panels->ProcessListView();
    bool found = false;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QStringList r = row(list, i);
        if (r[1] == testserver::user() && r[3] == scratch.name()) {
            found = true;
            EXPECT_GT(r[0].toULongLong(), 0u);  // the connection's Id, to kill it by
        }
    }
    EXPECT_TRUE(found) << "no connection of " << testserver::user().toStdString() << " on "
                       << scratch.name().toStdString();
    EXPECT_TRUE(prompts.messages().isEmpty());
}

TEST_F(PanelsTest, AccountNodeLoadsTheAccountAndAMissingOneChangesNothing) {
    db::Connection admin = testserver::connect();
    const QString user = QStringLiteral("o'lvx%1").arg(::getpid());
    const QString host = QStringLiteral("h%x");
    const std::string account = admin.quoteValue(user) + "@" + admin.quoteValue(host);
    admin.query("DROP USER IF EXISTS " + account);
    admin.exec("CREATE USER " + account + " IDENTIFIED BY 'pw'");
    DropOnExit drop{admin, "DROP USER IF EXISTS " + account};
    admin.exec("GRANT SELECT, PROCESS ON *.* TO " + account);
    db::Result hash = admin.select("SELECT PASSWORD('pw')");
    ASSERT_TRUE(hash.next());

    TreeNode* folder = add(server, QStringLiteral("USER"), nlUserFolder);
    TreeNode* node = add(folder, user + "[" + host + "]", nlUser, TUserKey{user, host});
    panels->accountState().AddMode = 1;
    setPanel(nlUser, node);

    EXPECT_EQ(panels->ShownPanel(), 1);
    EXPECT_EQ(panels->EditUUser()->text(), user);
    EXPECT_EQ(panels->EditUHost()->text(), host);
    EXPECT_EQ(panels->EditUPass()->text(), hash.text(0));
    const AccountPanelState& state = panels->accountState();
    EXPECT_EQ(state.AddMode, 0);
    EXPECT_EQ(state.OldUser, user);
    EXPECT_EQ(state.OldUHost, host);
    EXPECT_EQ(state.OldUPass, hash.text(0));
    EXPECT_EQ(checkedBoxes(panels->userPrivilegeBoxes()), (QStringList{"USelect", "UProcess"}));
    EXPECT_TRUE(prompts.messages().isEmpty());

    // The account is gone: the panel keeps what it showed.
    panels->accountState().AddMode = 1;
    TreeNode* missing = add(folder, "nobody[x]", nlUser, TUserKey{user + "_gone", host});
    setPanel(nlUser, missing);
    EXPECT_EQ(prompts.messages(), QStringList{"SetPanel Error"});
    EXPECT_EQ(panels->ShownPanel(), 1);
    EXPECT_EQ(panels->EditUUser()->text(), user);
    EXPECT_EQ(state.OldUser, user);
    EXPECT_EQ(state.OldUPass, hash.text(0));
    EXPECT_EQ(state.AddMode, 1);
    EXPECT_EQ(checkedBoxes(panels->userPrivilegeBoxes()), (QStringList{"USelect", "UProcess"}));
}

// Privilege values other than "Y", empty passwords and host entries, on grant tables of the
// test's own (the server has no host table, and its own accounts hold only Y and N).
TEST_F(PanelsTest, GrantTableValuesOtherThanYLeaveTheBoxUnchecked) {
    ScratchDatabase scratch;
    std::string privileges;
    for (const char* c : db::kUserPrivilegeColumns)
        privileges += std::string(", ") + c + " CHAR(1)";
    scratch.exec(
        "CREATE TABLE user (Host CHAR(60), User CHAR(80), Password TEXT, "
        "authentication_string TEXT" +
        privileges + ")");
    scratch.exec(
        "INSERT INTO user VALUES ('%', 'anna', '', '', "
        "'Y','y','N','Y','','Y','N','N','N','N','N','N','N','Y')");
    std::string hostPrivileges;
    for (const char* c : db::kHostPrivilegeColumns)
        hostPrivileges += std::string(", ") + c + " CHAR(1)";
    scratch.exec("CREATE TABLE host (Host CHAR(60), Db CHAR(64)" + hostPrivileges + ")");
    scratch.exec(
        "INSERT INTO host VALUES ('h''1', 'd_b', 'Y','y','N','Y','Y','N','Y','n','N','Y')");
    panels->setGrantsDatabase(scratch.name());

    TreeNode* users = add(server, QStringLiteral("USER"), nlUserFolder);
    panels->EditUPass()->setText(QStringLiteral("previous"));
    setPanel(nlUser, add(users, "anna[%]", nlUser, TUserKey{"anna", "%"}));
    EXPECT_EQ(panels->EditUPass()->text(), "");
    EXPECT_EQ(checkedBoxes(panels->userPrivilegeBoxes()),
              (QStringList{"USelect", "UDelete", "UDrop", "UAlter"}));

    TreeNode* hosts = add(server, QStringLiteral("HOST"), nlHostFolder);
    panels->accountState().AddMode = 1;
    setPanel(nlHostEntry, add(hosts, "h'1[d_b]", nlHostEntry, THostKey{"h'1", "d_b"}));
    EXPECT_EQ(panels->ShownPanel(), 2);
    EXPECT_EQ(panels->EditHHost()->text(), "h'1");
    EXPECT_EQ(panels->EditHDb()->text(), "d_b");
    EXPECT_EQ(panels->accountState().OldHHost, "h'1");
    EXPECT_EQ(panels->accountState().OldHDb, "d_b");
    EXPECT_EQ(panels->accountState().AddMode, 0);
    EXPECT_EQ(checkedBoxes(panels->hostPrivilegeBoxes()),
              (QStringList{"HSelect", "HDelete", "HCreate", "HGrant", "HAlter"}));
    // The user panel's remembered key is not touched by a host entry.
    EXPECT_EQ(panels->accountState().OldUser, "anna");
    EXPECT_TRUE(prompts.messages().isEmpty());

    // The pattern characters of a key are plain text: d%b is not d_b.
    setPanel(nlHostEntry, add(hosts, "h'1[d%b]", nlHostEntry, THostKey{"h'1", "d%b"}));
    EXPECT_EQ(prompts.messages(), QStringList{"SetPanel Error"});
    EXPECT_EQ(panels->accountState().OldHDb, "d_b");
}

TEST_F(PanelsTest, HostEntryWithoutAHostTableIsAnError) {
    // Servers since MariaDB 10.4 and MySQL 5.7 have no mysql.host; on an older one the
    // test's own database stands in for a grants database without it.
    std::optional<ScratchDatabase> noHostTable;
    if (session.traits().hasHostTable) {
        noHostTable.emplace();
        panels->setGrantsDatabase(noHostTable->name());
    }
    panels->accountState().OldHHost = QStringLiteral("kept");
    panels->accountState().AddMode = 1;
    panels->EditHHost()->setText(QStringLiteral("shown"));
    TreeNode* hosts = add(server, QStringLiteral("HOST"), nlHostFolder);
    setPanel(nlHostEntry,
             add(hosts, "localhost[test]", nlHostEntry, THostKey{"localhost", "test"}));
    EXPECT_EQ(prompts.messages(), QStringList{"SetPanel Error"});
    EXPECT_EQ(panels->ShownPanel(), 2);
    EXPECT_EQ(panels->EditHHost()->text(), "shown");
    EXPECT_EQ(panels->accountState().OldHHost, "kept");
    EXPECT_EQ(panels->accountState().AddMode, 1);
}

}  // namespace
