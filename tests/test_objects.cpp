#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <optional>

#include "sqleditor/ObjectCommands.h"
#include "admin/ObjectDefinitions.h"
#include "admin/RoutineRun.h"
#include "dataset/TableRows.h"
#include "sqleditor/ObjectPanel.h"
#include "panels/RoutineRunForm.h"
#include "panels/TableDataView.h"
#include "support/Failures.h"
#include "support/TestNames.h"
#include "support/TreeFixture.h"

using admin::ObjectDefinitions;
using admin::ObjectKind;
using admin::ObjectRef;

namespace {

struct KindCase {
    const char* label;
    ObjectKind kind;
    const char* create;
    const char* edited;
    const char* editedMark;    // found in SHOW CREATE once `edited` is applied
    const char* syntaxError;
    const char* missingTable;  // a text over a table that is not there; null where not checked
};

// Every kind as an object named obj over the table t (a INT, b INT).
const KindCase kKinds[] = {
    {"view", ObjectKind::View, "CREATE VIEW obj AS SELECT a FROM t",
     "CREATE VIEW obj AS SELECT a, b FROM t", "`b`", "CREATE VIEW obj AS SELEC a FROM t",
     "CREATE VIEW obj AS SELECT a FROM no_such_table"},
    {"procedure", ObjectKind::Procedure, "CREATE PROCEDURE obj() SELECT 1",
     "CREATE PROCEDURE obj() SELECT 2", "SELECT 2", "CREATE PROCEDURE obj() SELEC 2", nullptr},
    {"function", ObjectKind::Function, "CREATE FUNCTION obj() RETURNS INT RETURN 1",
     "CREATE FUNCTION obj() RETURNS INT RETURN 2", "RETURN 2",
     "CREATE FUNCTION obj() RETURNS INT RETRN 2", nullptr},
    {"trigger", ObjectKind::Trigger, "CREATE TRIGGER obj BEFORE INSERT ON t FOR EACH ROW SET NEW.a = 1",
     "CREATE TRIGGER obj BEFORE INSERT ON t FOR EACH ROW SET NEW.a = 2", "NEW.a = 2",
     "CREATE TRIGGER obj BEFORE INSERT ON t FOR EACH ROW SE NEW.a = 2",
     "CREATE TRIGGER obj BEFORE INSERT ON no_such_table FOR EACH ROW SET NEW.a = 2"},
    {"event", ObjectKind::Event, "CREATE EVENT obj ON SCHEDULE EVERY 1 DAY DISABLE DO SELECT 1",
     "CREATE EVENT obj ON SCHEDULE EVERY 2 DAY DISABLE DO SELECT 2", "EVERY 2 DAY",
     "CREATE EVENT obj ON SCHEDULE EVERY 1 DAY DO SELEC 2", nullptr},
};


class ObjectDefinitionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch.exec("CREATE TABLE t (a INT, b INT)");
        connection = testserver::connect();
    }
    ObjectRef ref(ObjectKind kind) const { return {kind, scratch.name(), QStringLiteral("obj")}; }
    // The text column of SHOW CREATE, read on the scratch database's own connection, as
    // the bytes the server gives; empty when the object is not there.
    std::string showCreate(ObjectKind kind) {
        db::Connection& c = scratch.connection();
        if (!c.query(std::string("SHOW CREATE ") + showWord(kind) + " " +
                     db::qualifiedName(scratch.name(), QStringLiteral("obj"))))
            return {};
        db::Result r = c.storeResult();
        if (!r.next()) return {};
        return std::string(r.value(kind == ObjectKind::View ? 1 : kind == ObjectKind::Event ? 3 : 2).view());
    }
    void createAll() {
        for (const KindCase& k : kKinds) scratch.exec(k.create);
    }

    ScratchDatabase scratch{QStringLiteral("obj")};
    db::Connection connection;
};

TEST_F(ObjectDefinitionsTest, EachKindIsShownEditedRefusedUnchangedAndDropped) {
    const QString definer =
        testserver::firstValue(scratch.connection(), "SELECT CURRENT_USER()");
    for (const KindCase& k : kKinds) {
        SCOPED_TRACE(k.label);
        ObjectDefinitions definitions(connection);
        EXPECT_FALSE(definitions.find(ref(k.kind)));
        definitions.create(scratch.name(), QString::fromLatin1(k.create));
        const std::optional<admin::ObjectDefinition> shown = definitions.find(ref(k.kind));
        ASSERT_TRUE(shown);
        EXPECT_TRUE(shown->readable);
        EXPECT_EQ(shown->text.toStdString(), showCreate(k.kind));
        EXPECT_EQ(shown->property("Definer"), definer);
        EXPECT_FALSE(shown->property("Character set").isEmpty());
        EXPECT_FALSE(shown->property("Collation").isEmpty());
        if (k.kind == ObjectKind::View || k.kind == ObjectKind::Procedure ||
            k.kind == ObjectKind::Function)
            EXPECT_EQ(shown->property("SQL security"), QStringLiteral("DEFINER"));
        if (k.kind == ObjectKind::Event) {
            EXPECT_TRUE(shown->property("Schedule").startsWith("EVERY 1 DAY STARTS '"))
                << shown->property("Schedule").toStdString();
            EXPECT_EQ(shown->property("Status"), QStringLiteral("DISABLED"));
        }

        // The text as the panel shows it (SHOW CREATE, no OR REPLACE) applies.
        definitions.apply(ref(k.kind), QString::fromLatin1(k.edited));
        const std::string edited = showCreate(k.kind);
        EXPECT_NE(edited.find(k.editedMark), std::string::npos) << edited;

        for (const char* refused : {k.syntaxError, k.missingTable}) {
            if (!refused) continue;
            const QString failure =
                failureOf([&] { definitions.apply(ref(k.kind), QString::fromLatin1(refused)); });
            EXPECT_TRUE(failure.contains("The server refused the new definition of the " +
                                         admin::kindNoun(k.kind)))
                << failure.toStdString();
            EXPECT_TRUE(failure.contains("The old definition is unchanged.")) << failure.toStdString();
            EXPECT_EQ(showCreate(k.kind), edited) << refused;
        }

        definitions.drop(ref(k.kind));
        EXPECT_FALSE(definitions.find(ref(k.kind)));
        EXPECT_TRUE(showCreate(k.kind).empty());
        EXPECT_FALSE(failureOf([&] { definitions.read(ref(k.kind)); }).isEmpty());
    }
}

// An account of its own that may see the objects but lacks what replacing them needs:
// DROP for a view, ALTER ROUTINE for routines, TRIGGER and EVENT for the others.
TEST_F(ObjectDefinitionsTest, APrivilegeRefusalLeavesEveryDefinitionByteForByte) {
    createAll();
    const QString user = uniqueName("weak");
    db::Connection& admin = scratch.connection();
    const std::string account = admin.quoteValue(user) + "@'%'";
    admin.exec("CREATE USER " + account + " IDENTIFIED BY 'weak-pw'");
    struct DropAccount {
        db::Connection& c;
        std::string account;
        ~DropAccount() { c.query("DROP USER IF EXISTS " + account); }
    } dropAccount{admin, account};
    admin.exec("GRANT SELECT, SHOW VIEW, CREATE VIEW, CREATE ROUTINE ON " +
               db::quoteIdentifier(scratch.name()) + ".* TO " + account);
    // So that the old text of a routine can be read (and would be put back).
    admin.exec("GRANT SELECT ON mysql.proc TO " + account);

    db::ConnectParams params = testserver::params();
    params.user = user;
    params.password = QStringLiteral("weak-pw");
    db::Connection weak;
    weak.connect(params);
    ObjectDefinitions definitions(weak);
    for (const KindCase& k : kKinds) {
        SCOPED_TRACE(k.label);
        const std::string before = showCreate(k.kind);
        ASSERT_FALSE(before.empty());
        const QString failure =
            failureOf([&] { definitions.apply(ref(k.kind), QString::fromLatin1(k.edited)); });
        EXPECT_TRUE(failure.contains("denied")) << failure.toStdString();
        EXPECT_EQ(showCreate(k.kind), before);
    }
}

// CREATE OR REPLACE of a routine drops it before storing the new one: a comment too long for
// its column is refused after the drop, and the old definition has to be created again.
TEST_F(ObjectDefinitionsTest, ARoutineTheServerDroppedBeforeRefusingIsPutBack) {
    createAll();
    for (const KindCase& k : kKinds)
        EXPECT_EQ(ObjectDefinitions::replacesByDropping(k.kind),
                  k.kind == ObjectKind::Procedure || k.kind == ObjectKind::Function)
            << k.label;
    ObjectDefinitions definitions(connection);
    const QString longComment(70000, u'x');
    for (const auto& [kind, text] :
         {std::pair{ObjectKind::Procedure,
                    QStringLiteral("CREATE PROCEDURE obj() COMMENT '%1' SELECT 3")},
          std::pair{ObjectKind::Function,
                    QStringLiteral("CREATE FUNCTION obj() RETURNS INT COMMENT '%1' RETURN 3")}}) {
        SCOPED_TRACE(showWord(kind));
        const std::string before = showCreate(kind);
        const QString failure =
            failureOf([&] { definitions.apply(ref(kind), text.arg(longComment)); });
        EXPECT_TRUE(failure.contains("created again as it was")) << failure.left(400).toStdString();
        EXPECT_EQ(showCreate(kind), before);
    }
    // The session's own SQL mode is back after the old one was used to create it again.
    EXPECT_EQ(testserver::firstValue(connection, "SELECT @@SESSION.sql_mode"),
              testserver::firstValue(scratch.connection(), "SELECT @@SESSION.sql_mode"));
}

// The server puts a replaced trigger after the others; its place is kept unless the text
// names one or fires at another moment.
TEST_F(ObjectDefinitionsTest, AReplacedTriggerKeepsItsFiringOrder) {
    scratch.exec("CREATE TRIGGER first_one BEFORE INSERT ON t FOR EACH ROW SET NEW.a = 1");
    scratch.exec("CREATE TRIGGER second_one BEFORE INSERT ON t FOR EACH ROW SET NEW.b = 2");
    ObjectDefinitions definitions(connection);
    const ObjectRef first{ObjectKind::Trigger, scratch.name(), QStringLiteral("first_one")};
    auto order = [&] {
        return scratch.scalar("SELECT GROUP_CONCAT(TRIGGER_NAME ORDER BY ACTION_ORDER) FROM "
                              "information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = DATABASE()");
    };
    struct Case {
        const char* text;
        const char* order;
    };
    for (const Case& c :
         {Case{"CREATE TRIGGER first_one BEFORE INSERT ON t FOR EACH ROW SET NEW.a = 3",
               "first_one,second_one"},
          Case{"CREATE TRIGGER first_one BEFORE INSERT ON t FOR EACH ROW FOLLOWS second_one "
               "SET NEW.a = 4",
               "second_one,first_one"}}) {
        definitions.apply(first, QString::fromLatin1(c.text));
        EXPECT_EQ(order(), QLatin1String(c.order)) << c.text;
    }
}

TEST_F(ObjectDefinitionsTest, AnEventTheServerDroppedAtOnceIsSaidAndTheOldOneStays) {
    createAll();
    const std::string before = showCreate(ObjectKind::Event);
    const admin::ApplyOutcome outcome = ObjectDefinitions(connection).apply(
        ref(ObjectKind::Event),
        QStringLiteral("CREATE EVENT obj ON SCHEDULE AT '2000-01-01 00:00:00' DO SELECT 4"));
    EXPECT_TRUE(outcome.note.contains("dropped it at once")) << outcome.note.toStdString();
    EXPECT_EQ(showCreate(ObjectKind::Event), before);
}

TEST_F(ObjectDefinitionsTest, OnlyACreateIsSentAndTheTemplatesCreate) {
    createAll();
    ObjectDefinitions definitions(connection);
    const QString failure = failureOf(
        [&] { definitions.apply(ref(ObjectKind::View), QStringLiteral("DROP VIEW obj")); });
    EXPECT_TRUE(failure.contains("not a CREATE statement")) << failure.toStdString();
    EXPECT_FALSE(showCreate(ObjectKind::View).empty());

    struct Case {
        const char* in;
        const char* out;
    };
    for (const Case& c : {Case{"CREATE VIEW v AS SELECT 1", "CREATE OR REPLACE VIEW v AS SELECT 1"},
                          Case{"\n  create\tDEFINER=`u`@`h` EVENT e", "\n  CREATE OR REPLACE\tDEFINER=`u`@`h` EVENT e"},
                          Case{"CREATE OR REPLACE VIEW v AS SELECT 1", "CREATE OR REPLACE VIEW v AS SELECT 1"},
                          Case{"create or  replace view v", "create or  replace view v"},
                          Case{"SELECT 1", "SELECT 1"}})
        EXPECT_EQ(ObjectDefinitions::withOrReplace(QString::fromLatin1(c.in)).toStdString(), c.out);

    // Every template creates its kind as it stands.
    EXPECT_EQ(definitions.firstTable(scratch.name()), QStringLiteral("t"));
    for (const KindCase& k : kKinds) {
        SCOPED_TRACE(k.label);
        EXPECT_TRUE(failureOf([&] {
                        definitions.create(scratch.name(),
                                           ObjectDefinitions::templateFor(k.kind, QStringLiteral("t")));
                    }).isEmpty());
    }
    EXPECT_EQ(scratch.scalar("SELECT COUNT(*) FROM information_schema.ROUTINES WHERE "
                             "ROUTINE_SCHEMA = DATABASE() AND ROUTINE_NAME LIKE 'new\\_%'"),
              QStringLiteral("2"));
}

// Values go in quoted (a quote in one cannot end it), NULL as NULL; each SELECT of the
// procedure is a result of its own, and OUT and INOUT come back through variables.
TEST_F(ObjectDefinitionsTest, ARoutineRunsWithItsValuesAndGivesBackEveryResult) {
    scratch.exec("CREATE PROCEDURE obj(IN a VARCHAR(20), OUT b INT, INOUT c INT) "
                 "BEGIN SELECT a AS got, a IS NULL AS was_null; SELECT 1 AS x UNION SELECT 2; "
                 "SET b = 40, c = c + 1; END");
    scratch.exec("CREATE FUNCTION obj(a INT) RETURNS INT RETURN a * 2");
    admin::RoutineRun run(connection);
    const std::vector<admin::RoutineParameter> params = run.parameters(ref(ObjectKind::Procedure));
    ASSERT_EQ(params.size(), 3u);
    EXPECT_EQ(params[1].mode, QStringLiteral("OUT"));
    EXPECT_EQ(params[2].name, QStringLiteral("c"));

    struct Case {
        admin::ArgumentValue a, c;
        std::optional<QString> got, wasNull, cAfter;
    };
    for (const Case& k : {Case{QStringLiteral("it's"), QStringLiteral("5"), QStringLiteral("it's"),
                               QStringLiteral("0"), QStringLiteral("6")},
                          Case{std::nullopt, std::nullopt, std::nullopt, QStringLiteral("1"),
                               std::nullopt}}) {
        const admin::RoutineRunResult r = run.run(ref(ObjectKind::Procedure), params, {k.a, k.c});
        ASSERT_EQ(r.sets.size(), 2u);
        EXPECT_EQ(r.sets[0].columns, (QStringList{"got", "was_null"}));
        EXPECT_EQ(r.sets[0].rows.at(0).at(0), k.got);
        EXPECT_EQ(r.sets[0].rows.at(0).at(1), k.wasNull);
        EXPECT_EQ(r.sets[1].rows.size(), 2u);
        ASSERT_EQ(r.outValues.size(), 2u);
        EXPECT_EQ(r.outValues[0], (std::pair{QStringLiteral("b"), std::optional<QString>("40")}));
        EXPECT_EQ(r.outValues[1].second, k.cAfter);
    }
    const std::vector<admin::RoutineParameter> fparams = run.parameters(ref(ObjectKind::Function));
    ASSERT_EQ(fparams.size(), 1u);
    const admin::RoutineRunResult f =
        run.run(ref(ObjectKind::Function), fparams, {QStringLiteral("21")});
    ASSERT_EQ(f.sets.size(), 1u);
    EXPECT_EQ(f.sets[0].rows.at(0).at(0), std::optional<QString>("42"));
    EXPECT_TRUE(f.outValues.empty());
    // The connection is ready for the next statement.
    EXPECT_EQ(testserver::firstValue(connection, "SELECT 7"), QStringLiteral("7"));
}

// The panel and its commands on the tree, as the window wires them.
class ObjectCommandsTest : public TreeFixture {
protected:
    void SetUp() override {
        TreeFixture::SetUp();
        scratch.exec("CREATE TABLE t (a INT, b INT)");
        scratch.exec("INSERT INTO t VALUES (1, 2)");
        scratch.exec("CREATE VIEW v AS SELECT a FROM t");
        scratch.exec("CREATE PROCEDURE p() SELECT 1");
        panel = std::make_unique<ObjectPanel>(dataset, prompts);
        commands = std::make_unique<ObjectCommands>(*tree, *panel, session, prompts, nullptr);
        doubleClick(server());
        doubleClick(find({"DB"}));
        doubleClick(find({"DB", scratch.name()}));
    }
    TreeNode* open(const QString& folder, const QString& object = {}) {
        TreeNode* node = find({"DB", scratch.name(), folder});
        if (node && node->childCount() == 0) doubleClick(node);
        if (!object.isEmpty()) node = find({"DB", scratch.name(), folder, object});
        if (node) widget.setCurrentItem(node);
        return node;
    }

    ScratchDatabase scratch{QStringLiteral("cmd")};
    std::unique_ptr<ObjectPanel> panel;
    std::unique_ptr<ObjectCommands> commands;
};

TEST_F(ObjectCommandsTest, ARefusedApplySaysWhyAndKeepsTheUsersText) {
    TreeNode* procedure = open(QStringLiteral("Routines"), QStringLiteral("p"));
    ASSERT_NE(procedure, nullptr);
    commands->ShowObject(procedure);
    const QString shown = panel->Editor()->toPlainText();
    EXPECT_TRUE(shown.startsWith("CREATE DEFINER=")) << shown.toStdString();
    EXPECT_EQ(panel->Title()->text(), "The procedure " + ui::qualifiedLabel(scratch.name(), "p"));
    EXPECT_GT(panel->PropertyList()->topLevelItemCount(), 5);
    EXPECT_FALSE(panel->RunButton()->isHidden());

    // Declined: nothing is sent.
    const QString broken = QStringLiteral("CREATE PROCEDURE p() SELEC 2");
    panel->Editor()->setPlainText(broken);
    prompts.answerYesNo(false);
    commands->Apply();
    ASSERT_EQ(prompts.shown().size(), 1u);
    EXPECT_EQ(prompts.shown()[0].kind, QStringLiteral("yesNo"));
    EXPECT_TRUE(prompts.shown()[0].text.contains("by dropping it")) << prompts.shown()[0].text.toStdString();

    prompts.answerYesNo(true);
    commands->Apply();
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].contains("SQL syntax")) << prompts.messages()[0].toStdString();
    EXPECT_EQ(panel->Editor()->toPlainText(), broken);
    EXPECT_EQ(scratch.scalar("SELECT ROUTINE_DEFINITION FROM information_schema.ROUTINES WHERE "
                             "ROUTINE_SCHEMA = DATABASE() AND ROUTINE_NAME = 'p'"),
              QStringLiteral("SELECT 1"));

    // Accepted: the panel shows the server's text afterwards.
    panel->Editor()->setPlainText(QStringLiteral("CREATE PROCEDURE p() SELECT 5"));
    prompts.answerYesNo(true);
    commands->Apply();
    EXPECT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(panel->Editor()->toPlainText().startsWith("CREATE DEFINER="));
    EXPECT_TRUE(panel->Editor()->toPlainText().endsWith("SELECT 5"));
    EXPECT_TRUE(prompts.allAnswersUsed());
}

TEST_F(ObjectCommandsTest, NewAndDropListTheFolderAgain) {
    TreeNode* views = open(QStringLiteral("Views"));
    ASSERT_NE(views, nullptr);
    EXPECT_EQ(childTexts(views), QStringList{"v"});
    commands->NewObject();
    EXPECT_FALSE(panel->shownObject());
    EXPECT_EQ(panel->Editor()->toPlainText(), ObjectDefinitions::templateFor(ObjectKind::View));
    commands->Apply();
    EXPECT_EQ(childTexts(find({"DB", scratch.name(), "Views"})), (QStringList{"new_view", "v"}));
    // The new view is the panel's now: a second Apply replaces it.
    ASSERT_TRUE(panel->shownObject());
    EXPECT_EQ(panel->shownObject()->name, QStringLiteral("new_view"));

    // A trigger's template names the database's first table.
    open(QStringLiteral("Triggers"));
    commands->NewObject();
    EXPECT_TRUE(panel->Editor()->toPlainText().contains("ON `t`")) << panel->Editor()->toPlainText().toStdString();

    open(QStringLiteral("Views"), QStringLiteral("v"));
    prompts.answerYesNo(false);
    commands->DropObject();
    EXPECT_EQ(childTexts(find({"DB", scratch.name(), "Views"})), (QStringList{"new_view", "v"}));
    prompts.answerYesNo(true);
    commands->DropObject();
    EXPECT_EQ(childTexts(find({"DB", scratch.name(), "Views"})), QStringList{"new_view"});
    ASSERT_EQ(prompts.shown().size(), 2u);
    EXPECT_EQ(prompts.shown()[1].text,
              "Drop the view " + ui::qualifiedLabel(scratch.name(), "v") + u'?');
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'\n').toStdString();
}

// A new object made in a folder never listed (or listed while empty) is listed there and
// selected; a function beside a procedure of the same name is told apart by its kind.
TEST_F(ObjectCommandsTest, ANewObjectIsSelectedInAFolderNotListedYet) {
    struct Case {
        const char* folder;
        bool listFirst;
        bool function;
        const char* text;  // null: the template
        const char* name;
        TNodeLevel level;
    } const cases[] = {
        {"Views", false, false, nullptr, "new_view", nlView},
        {"Routines", false, true, "CREATE FUNCTION p() RETURNS INT RETURN 1", "p", nlFunction},
        {"Triggers", true, false, nullptr, "new_trigger", nlTrigger},
        {"Events", false, false, nullptr, "new_event", nlEvent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        TreeNode* folder = find({"DB", scratch.name(), c.folder});
        ASSERT_NE(folder, nullptr);
        if (c.listFirst) doubleClick(folder);
        ASSERT_EQ(folder->childCount(), 0);
        widget.setCurrentItem(folder);
        commands->NewObject(c.function);
        if (c.text) panel->Editor()->setPlainText(QString::fromLatin1(c.text));
        commands->Apply();
        TreeNode* selected = tree->selectedNode();
        ASSERT_NE(selected, nullptr);
        EXPECT_EQ(selected->parentNode(), folder);
        EXPECT_EQ(selected->text().toStdString(), c.name);
        EXPECT_EQ(selected->level(), c.level);
        ASSERT_TRUE(panel->shownObject());
        EXPECT_EQ(panel->shownObject()->name.toStdString(), c.name);
    }
}

TEST_F(ObjectCommandsTest, RunAsksForTheValuesAndShowsEachResultInItsTab) {
    scratch.exec("CREATE PROCEDURE echo(IN a INT, INOUT b INT) BEGIN SELECT a; SELECT b; "
                 "SET b = b * 10; END");
    doubleClick(find({"DB", scratch.name(), "Routines"}));
    TreeNode* echo = open(QStringLiteral("Routines"), QStringLiteral("echo"));
    ASSERT_NE(echo, nullptr);
    prompts.onDialog([](QDialog* dialog) {
        dialog->findChild<QLineEdit*>(QStringLiteral("ArgValue1"))->setText(QStringLiteral("3"));
        dialog->findChild<QLineEdit*>(QStringLiteral("ArgValue2"))->setText(QStringLiteral("4"));
        EXPECT_EQ(dialog->findChild<QCheckBox*>(QStringLiteral("ArgNull3")), nullptr);
        return int(QDialog::Accepted);
    });
    commands->RunRoutine(false);
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'\n').toStdString();
    ASSERT_EQ(panel->currentWidget(), panel->RunTab());
    QTabWidget* results = panel->RunResults();
    ASSERT_EQ(results->count(), 3);
    EXPECT_EQ(results->tabText(2), QStringLiteral("OUT values"));
    auto cell = [&](int tab, int row, int column) {
        auto* table = qobject_cast<QTableWidget*>(results->widget(tab));
        return table && table->item(row, column) ? table->item(row, column)->text() : QString();
    };
    EXPECT_EQ(cell(0, 0, 0), QStringLiteral("3"));
    EXPECT_EQ(cell(1, 0, 0), QStringLiteral("4"));
    EXPECT_EQ(cell(2, 0, 1), QStringLiteral("40"));

    // Cancelling the form runs nothing; the panel's definition stays the routine's.
    prompts.onDialog([](QDialog*) { return int(QDialog::Rejected); });
    commands->RunRoutine(true);
    EXPECT_EQ(panel->shownObject()->name, QStringLiteral("echo"));
    EXPECT_TRUE(prompts.allAnswersUsed());
}

TEST_F(ObjectCommandsTest, AViewsRowsShowReadOnlyInItsDataTab) {
    TreeNode* view = open(QStringLiteral("Views"), QStringLiteral("v"));
    commands->ShowObject(view);
    EXPECT_TRUE(panel->isTabVisible(panel->indexOf(panel->DataTab())));
    EXPECT_EQ(panel->dataView().rows().rowCount(), 0);  // read once the tab is shown
    panel->setCurrentWidget(panel->DataTab());
    EXPECT_EQ(panel->dataView().rows().rowCount(), 1);
    EXPECT_TRUE(panel->dataView().status().text().contains("A view's rows are shown read-only."))
        << panel->dataView().status().text().toStdString();

    // A procedure has no rows to show.
    commands->ShowObject(open(QStringLiteral("Routines"), QStringLiteral("p")));
    EXPECT_FALSE(panel->isTabVisible(panel->indexOf(panel->DataTab())));
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'\n').toStdString();
}

}  // namespace
