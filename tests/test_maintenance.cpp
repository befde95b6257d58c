#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

#include "admin/MaintenanceCommands.h"
#include "admin/TableMaintenance.h"
#include "admin/TfrmMaintenance.h"
#include "app/CommandWiring.h"
#include "support/CliRunner.h"
#include "support/CommandWindows.h"
#include "support/Failures.h"
#include "support/TestNames.h"
#include "support/TestServer.h"
#include "tree/TableSelection.h"
#include "ui/ServerWait.h"

namespace {

using admin::MaintenanceOp;
using admin::MaintenanceRun;
using admin::TableMaintenance;
using admin::TableOutcome;
using State = TableOutcome::State;

// Tables of each kind the operations meet, with the same rows in "inno" and "twin".
class Maintenance : public ::testing::Test {
protected:
    void SetUp() override {
        db.exec("CREATE TABLE inno (id INT PRIMARY KEY, s VARCHAR(20)) ENGINE=InnoDB");
        db.exec("CREATE TABLE myi (id INT PRIMARY KEY, s VARCHAR(20)) ENGINE=MyISAM");
        db.exec("CREATE TABLE aria (id INT PRIMARY KEY, s VARCHAR(20)) ENGINE=Aria");
        db.exec("CREATE TABLE twin (id INT PRIMARY KEY, s VARCHAR(20)) ENGINE=InnoDB");
        for (const char* t : {"inno", "myi", "aria", "twin"})
            db.exec(std::string("INSERT INTO ") + t + " VALUES (1, 'one'), (2, 'two')");
        db.exec("UPDATE aria SET s = 'other' WHERE id = 2");
    }
    // A table's rows, for messages.
    static std::string rowsOf(const TableOutcome& t) {
        std::string out;
        for (const admin::MaintenanceRow& r : t.rows)
            out += (r.table + u'|' + r.op + u'|' + r.msgType + u'|' + r.msgText + u'\n').toStdString();
        return out;
    }

    ScratchDatabase db{QStringLiteral("maint")};
    db::Connection c = testserver::connect();
};

struct OpCase {
    const char* name;
    MaintenanceOp op;
    const char* statement;     // for `d``b`.`t`
    const char* skipped;       // the table not sent, if any
};

class MaintenanceOps : public Maintenance, public ::testing::WithParamInterface<OpCase> {};

// Each table has its own rows; the missing table is its own error and the others go on;
// Repair leaves the InnoDB table alone and says why.
TEST_P(MaintenanceOps, EveryTableItsOwnResult) {
    const OpCase& k = GetParam();
    EXPECT_EQ(TableMaintenance::statementFor(k.op, QStringLiteral("d`b"), QStringLiteral("t")),
              std::string(k.statement) + "`d``b`.`t`");
    const QStringList tables{"inno", "missing", "myi", "aria"};
    std::vector<admin::MaintenanceProgress> seen;
    const MaintenanceRun run = TableMaintenance(c, db.name(), k.op).run(tables, [&](const auto& p) {
        seen.push_back(p);
        return true;
    });
    ASSERT_EQ(run.tables.size(), 4u);
    EXPECT_FALSE(run.stopped);
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[1].table, QStringLiteral("missing"));
    EXPECT_EQ(seen[4].index, 4);
    for (const TableOutcome& t : run.tables) {
        SCOPED_TRACE(t.table.toStdString() + "\n" + rowsOf(t));
        ASSERT_FALSE(t.rows.empty());
        EXPECT_EQ(t.rows.front().table, db.name() + u'.' + t.table);
        EXPECT_EQ(t.rows.front().op, admin::opName(k.op));
        if (t.table == QLatin1String(k.skipped)) {
            EXPECT_EQ(t.state, State::Skipped);
            EXPECT_EQ(t.rows.back().msgType, QStringLiteral("skipped"));
            EXPECT_TRUE(t.rows.back().msgText.startsWith(QLatin1String("InnoDB tables cannot be repaired")));
            EXPECT_FALSE(t.failed());
        } else if (t.table == QLatin1String("missing")) {
            EXPECT_TRUE(t.failed());
            EXPECT_TRUE(std::any_of(t.rows.begin(), t.rows.end(), [](const auto& r) {
                return r.isError() && r.msgText.contains(QLatin1String("doesn't exist"));
            }));
        } else {
            EXPECT_EQ(t.state, State::Done);
            EXPECT_FALSE(t.failed());
            if (k.op == MaintenanceOp::Checksum)
                EXPECT_TRUE(t.rows.back().checksum.has_value());
            else
                EXPECT_EQ(t.rows.back().msgType, QStringLiteral("status"));
        }
    }
    EXPECT_EQ(run.failedCount(), 1);
    EXPECT_EQ(run.skippedCount(), *k.skipped ? 1 : 0);
    EXPECT_TRUE(run.summary().startsWith(admin::opCaption(k.op) + QStringLiteral(" of 4 tables: 1 with errors")))
        << run.summary().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    All, MaintenanceOps,
    ::testing::Values(OpCase{"Check", MaintenanceOp::Check, "CHECK TABLE ", ""},
                      OpCase{"Analyze", MaintenanceOp::Analyze, "ANALYZE TABLE ", ""},
                      OpCase{"Optimize", MaintenanceOp::Optimize, "OPTIMIZE TABLE ", ""},
                      OpCase{"Repair", MaintenanceOp::Repair, "REPAIR TABLE ", "inno"},
                      OpCase{"Checksum", MaintenanceOp::Checksum, "CHECKSUM TABLE ", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Maintenance, ChecksumsEqualForEqualRows) {
    const MaintenanceRun run =
        TableMaintenance(c, db.name(), MaintenanceOp::Checksum).run({"inno", "twin", "aria"});
    ASSERT_EQ(run.tables.size(), 3u);
    const auto sum = [&](int i) { return run.tables[std::size_t(i)].rows.at(0).checksum.value_or(QString()); };
    EXPECT_FALSE(sum(0).isEmpty());
    EXPECT_EQ(sum(0), sum(1));
    EXPECT_NE(sum(0), sum(2));
}

// Stopped before the second table: only the first was sent, and the summary says so.
TEST_F(Maintenance, CancelBetweenTables) {
    const MaintenanceRun run = TableMaintenance(c, db.name(), MaintenanceOp::Check)
                                   .run({"inno", "myi", "aria"}, [](const auto& p) { return p.index < 1; });
    EXPECT_TRUE(run.stopped);
    ASSERT_EQ(run.tables.size(), 1u);
    EXPECT_EQ(run.tables[0].table, QStringLiteral("inno"));
    EXPECT_EQ(run.summary(), QStringLiteral("Stopped after 1 of 3 tables (no errors); the rest were not sent."));
}

// A table locked by another session holds its statement; KILL QUERY (lorvex-cli's Ctrl-C)
// stops it, and the tables after it are not sent.
TEST_F(Maintenance, CancelDuringATable) {
    db::Connection locker = testserver::connect();
    locker.exec("LOCK TABLES " + db::qualifiedName(db.name(), QStringLiteral("myi")) + " WRITE");
    std::atomic_bool killed = false;
    MaintenanceRun run;
    std::thread worker([&] {
        run = TableMaintenance(c, db.name(), MaintenanceOp::Check)
                  .run({"inno", "myi", "aria"}, [&](const auto&) { return !killed.load(); });
    });
    db::Connection watcher = testserver::connect();
    const std::string waiting = "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " +
                                std::to_string(c.threadId()) + " AND INFO LIKE 'CHECK TABLE%myi%'";
    for (int i = 0; i < 500 && testserver::firstValue(watcher, waiting) != QLatin1String("1"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    killed = true;
    db::cancelQuery(testserver::params(), c.threadId());
    worker.join();
    locker.exec("UNLOCK TABLES");
    EXPECT_TRUE(run.stopped);
    ASSERT_EQ(run.tables.size(), 2u);
    EXPECT_TRUE(run.tables[1].failed()) << rowsOf(run.tables[1]);
    EXPECT_TRUE(c.query("SELECT 1"));  // the session stays
    c.discardResults();
}

// ---- The window: the selection, the question, the dialog.

class MaintenanceWindow : public DatabaseCommandsFixture {
protected:
    void SetUp() override {
        DatabaseCommandsFixture::SetUp();
        other.exec("CREATE TABLE elsewhere (id INT)");
        for (const char* t : {"a", "b", "c"})
            scratch.exec(std::string("CREATE TABLE ") + t + " (id INT PRIMARY KEY) ENGINE=InnoDB");
        selection = new TableSelection(widget);
        tablesOf(scratch.name());
        tablesOf(other.name());
        commands = std::make_unique<MaintenanceCommands>(*tree, session, prompts, &widget);
        connectMaintenanceMenus(*commands, *menus);
        widget.resize(400, 800);
        widget.show();
        widget.expandAll();
    }
    TreeNode* table(const QString& database, const char* name) {
        return find({"DB", database, "Tables", QString::fromLatin1(name)});
    }
    void click(TreeNode* node, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        ASSERT_NE(node, nullptr);
        widget.scrollToItem(node);
        QTest::mouseClick(widget.viewport(), Qt::LeftButton, modifiers,
                          widget.visualItemRect(node).center());
    }
    QStringList selected() const {
        QStringList out;
        for (QTreeWidgetItem* item : widget.selectedItems()) out << item->text(0);
        out.sort();
        return out;
    }
    QString optimizeCount() {
        return testserver::firstValue(session.MainConnection(), "SHOW SESSION STATUS LIKE 'Com_optimize'", 1);
    }

    ScratchDatabase scratch{QStringLiteral("maintwin")};
    ScratchDatabase other{QStringLiteral("maintother")};
    TableSelection* selection = nullptr;
    std::unique_ptr<MaintenanceCommands> commands;
};

// Ctrl and Shift gather tables of one database; a click elsewhere starts again, and the
// current node is the one clicked, as the panels expect.
TEST_F(MaintenanceWindow, SeveralTablesOfOneDatabase) {
    struct Step {
        const char* database;  // "s": scratch, "o": other, "f": the scratch Tables folder
        const char* node;
        Qt::KeyboardModifiers modifiers;
        QStringList selected;
    };
    const Step steps[] = {
        {"s", "a", Qt::NoModifier, {"a"}},
        {"s", "c", Qt::ControlModifier, {"a", "c"}},
        {"s", "a", Qt::ShiftModifier, {"a", "b", "c"}},
        {"o", "elsewhere", Qt::ControlModifier, {"elsewhere"}},
        {"s", "b", Qt::NoModifier, {"b"}},
        {"f", "Tables", Qt::ControlModifier, {"Tables"}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.database) + ":" + s.node);
        TreeNode* node = *s.database == 'f' ? find({"DB", scratch.name(), "Tables"})
                                            : table(*s.database == 's' ? scratch.name() : other.name(), s.node);
        click(node, s.modifiers);
        EXPECT_EQ(selected(), s.selected);
        EXPECT_EQ(tree->selectedNode(), node);
    }
}

// The question names the tables; refused, nothing is sent. Agreed, each is optimized once
// and the dialog lists their rows.
TEST_F(MaintenanceWindow, OptimizeAsksFirst) {
    click(table(scratch.name(), "a"));
    click(table(scratch.name(), "c"), Qt::ControlModifier);
    const QString before = optimizeCount();
    prompts.answerOkCancel(false);
    menus->OptimizeTable1->trigger();
    ASSERT_EQ(prompts.shown().size(), 1u);
    EXPECT_EQ(prompts.shown()[0].text, optimizeQuestion(scratch.name(), {"a", "c"}));
    EXPECT_TRUE(prompts.shown()[0].text.endsWith(ui::qualifiedLabel(scratch.name(), "a") + u'\n' +
                                                 ui::qualifiedLabel(scratch.name(), "c")));
    EXPECT_EQ(optimizeCount(), before);

    prompts.answerOkCancel(true);
    QString status;
    int rows = 0;
    prompts.onDialog([&](QDialog* d) {
        auto* dialog = qobject_cast<TfrmMaintenance*>(d);
        EXPECT_NE(dialog, nullptr);
        if (!dialog) return 0;
        dialog->show();  // the first show starts the run
        QCoreApplication::processEvents();
        status = dialog->status()->text();
        rows = dialog->grid()->rowCount();
        EXPECT_TRUE(dialog->closeButton()->isEnabled());
        return 0;
    });
    menus->OptimizeTable1->trigger();
    EXPECT_TRUE(prompts.allAnswersUsed());
    EXPECT_EQ(status, QStringLiteral("Optimize of 2 tables: no errors."));
    EXPECT_GE(rows, 2);
    EXPECT_EQ(optimizeCount().toInt(), before.toInt() + 2);
}

// Through the window's waiter: Cancel stops the statement a lock holds, and the dialog says
// how far it got.
TEST_F(MaintenanceWindow, CancelInTheDialogStopsTheRunningTable) {
    ui::ServerWait wait{prompts};
    db::Connection& main = session.MainConnection();
    main.setWaiter(&wait);
    db::Connection locker = testserver::connect();
    locker.exec("LOCK TABLES " + db::qualifiedName(scratch.name(), QStringLiteral("b")) + " WRITE");
    TfrmMaintenance dialog(main);
    dialog.SetWork(scratch.name(), {"a", "b", "c"}, MaintenanceOp::Check);
    db::Connection watcher = testserver::connect();
    const std::string waiting = "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " +
                                std::to_string(main.threadId()) + " AND INFO LIKE 'CHECK TABLE%`b`'";
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (testserver::firstValue(watcher, waiting) == QLatin1String("1")) {
            poll.stop();
            dialog.cancelButton()->click();
        }
    });
    poll.start(20);
    dialog.Start();
    locker.exec("UNLOCK TABLES");
    main.setWaiter(nullptr);
    EXPECT_TRUE(dialog.run().stopped);
    ASSERT_EQ(dialog.run().tables.size(), 2u);
    EXPECT_EQ(dialog.run().tables[1].state, State::Cancelled);
    EXPECT_TRUE(dialog.status()->text().startsWith(QLatin1String("Stopped after 1 of 3 tables")))
        << dialog.status()->text().toStdString();
    EXPECT_GE(dialog.grid()->rowCount(), 2);
}

// ---- lorvex-cli maintain.

struct CliCase {
    const char* name;
    QStringList arguments;  // after the connection; %db the scratch database
    int code;
    QStringList lines;  // each is in the output
};

class MaintainCommand : public Maintenance, public ::testing::WithParamInterface<CliCase> {};

TEST_P(MaintainCommand, RowsAndExitCode) {
    const CliCase& k = GetParam();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LORVEX_PASSWORD"), testserver::password());
    QStringList arguments{"maintain", "--host", testserver::hostField(), "--user", testserver::user()};
    for (QString a : k.arguments) arguments << a.replace(QLatin1String("%db"), db.name());
    const CliResult r = runProgram(cliPath(), arguments, env);
    EXPECT_EQ(r.code, k.code) << r.err.toStdString();
    for (QString line : k.lines) {
        line.replace(QLatin1String("%db"), db.name());
        EXPECT_TRUE((r.out + r.err).contains(line)) << line.toStdString() << "\n" << r.out.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MaintainCommand,
    ::testing::Values(
        CliCase{"CheckWithAMissingTable", {"--op", "check", "%db", "myi", "missing"}, 1,
                {"%db.myi\tcheck\tstatus\tOK\n", "%db.missing\tcheck\tError\t",
                 "maintain: Check of 2 tables: 1 with errors."}},
        CliCase{"RepairSkipsInnoDB", {"--op", "repair", "--database", "%db", "inno", "aria"}, 0,
                {"%db.inno\trepair\tskipped\tInnoDB tables cannot be repaired", "%db.aria\trepair\tstatus\tOK\n",
                 "maintain: Repair of 2 tables: 1 skipped."}},
        CliCase{"ChecksumOfEveryTable", {"--op", "checksum", "%db"}, 0,
                {"%db.aria\tchecksum\tchecksum\t", "%db.twin\tchecksum\tchecksum\t",
                 "maintain: Checksum of 4 tables: no errors."}},
        // Refused before anything is sent, with the usage.
        CliCase{"NoOp", {"%db", "t1"}, 2, {"lorvex-cli: give --op check|analyze|optimize|repair|checksum\n"}},
        CliCase{"BadOp", {"--op", "vacuum", "%db"}, 2,
                {"lorvex-cli: --op takes check, analyze, optimize, repair or checksum\n"}},
        CliCase{"NoDatabase", {"--op", "check"}, 2, {"lorvex-cli: give --database\n"}},
        CliCase{"NoDataOption", {"--op", "check", "--data", "%db"}, 2,
                {"lorvex-cli: unknown option \"--data\" for maintain\n"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
