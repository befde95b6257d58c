// A server that goes away (killed, or restarted in order) in the middle of the tree, the
// grid, a dump or a restore: each ends in a clear message or a non-zero exit, never in a
// crash, a hang or a reported success. These tests run on a private server of their own.
#include <gtest/gtest.h>
#include <signal.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QMainWindow>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "dataset/TMySQLDataSet.h"
#include "db/Connection.h"
#include "dump/DumpWriter.h"
#include "dump/RestoreEngine.h"
#include "dataset/TableRows.h"
#include "panels/TableDataView.h"
#include "panels/DetailPanels.h"
#include "support/Failures.h"
#include "support/CliRunner.h"
#include "support/PrivateServer.h"
#include "support/TestFiles.h"
#include "support/TestNames.h"
#include "support/TreeFixture.h"
#include "ui/ServerWait.h"

namespace {

// One server for the whole test program, created by the first test that needs it (so that a
// server that does not start fails that test): initialising a data directory takes seconds.
// Removed while the application still exists.
PrivateServer* privateServer = nullptr;

class PrivateServerEnvironment : public ::testing::Environment {
public:
    void TearDown() override {
        delete privateServer;
        privateServer = nullptr;
    }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new PrivateServerEnvironment);

// Ends the test program when a step takes longer than it may: a hang must fail the run
// instead of blocking it.
class Watchdog {
public:
    Watchdog(const char* what, int seconds)
        : thread_([this, what, seconds] {
              std::unique_lock lock(mutex_);
              if (!wake_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
                  std::fprintf(stderr, "HANG: %s did not end within %d s\n", what, seconds);
                  std::fflush(stderr);
                  std::_Exit(124);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

// Kills the private server (SIGKILL) from another thread as soon as it lists a session that
// matches `condition` (on information_schema.PROCESSLIST), so that a call blocked on the
// test's thread is cut off at a known point.
class KillWhenSeen {
public:
    KillWhenSeen(const PrivateServer& server, std::string condition)
        : pid_(server.pid()), params_(server.params()), condition_(std::move(condition)) {
        thread_ = std::thread([this] { watch(); });
    }
    ~KillWhenSeen() {
        stop_ = true;
        thread_.join();
    }
    bool fired() const { return fired_; }

private:
    void watch() {
        db::Connection c;
        try {
            c.connect(params_);
        } catch (const db::DbError&) {
            return;
        }
        const std::string query =
            "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID <> CONNECTION_ID() "
            "AND " +
            condition_;
        for (int i = 0; i < 3000 && !stop_; ++i) {
            if (c.query(query)) {
                db::Result r = c.storeResult();
                if (r && r.next() && r.text(0) != QLatin1String("0")) {
                    ::kill(pid_t(pid_), SIGKILL);
                    fired_ = true;
                    return;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    qint64 pid_;
    db::ConnectParams params_;
    std::string condition_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> fired_{false};
    std::thread thread_;
};

std::string q(const QString& name) { return db::quoteIdentifier(name); }

bool saysConnectionLost(const QString& text) {
    return text.contains(QLatin1String("connection to the server was lost"));
}

// The tree (and the grid on the tree's dataset connection) registered with the private
// server, and a database of the test's own on it.
class ServerFault : public TreeFixture {
protected:
    void SetUp() override {
        if (!privateServer) privateServer = new PrivateServer;
        ensureRunning();
        if (HasFatalFailure()) return;
        database = uniqueName("fault");
        db::Connection admin = mariadb().connect();
        admin.exec("CREATE DATABASE " + q(database) + " CHARACTER SET utf8mb4");
        tree = std::make_unique<ObjectTree>(widget, session, prompts);
        tree->AddServerNode(QStringLiteral("private server"), mariadb().entry());
    }

    void TearDown() override {
        ensureRunning();
        try {
            mariadb().connect().exec("DROP DATABASE IF EXISTS " + q(database));
        } catch (const db::DbError&) {
        }
    }

    PrivateServer& mariadb() { return *privateServer; }

    void ensureRunning() {
        if (mariadb().running()) return;
        QString error;
        ASSERT_TRUE(mariadb().start(&error)) << error.toStdString();
    }

    void restart() {
        QString error;
        ASSERT_TRUE(mariadb().restart(&error)) << error.toStdString();
    }

    // Statements on a fresh connection with the test's database current.
    void exec(std::initializer_list<std::string> statements) {
        db::Connection c = mariadb().connect();
        ASSERT_TRUE(c.selectDb(database));
        for (const std::string& s : statements) c.exec(s);
    }

    std::uint64_t count(const char* table) {
        db::Connection c = mariadb().connect();
        db::Result r = c.select("SELECT COUNT(*) FROM " + q(database) + "." + table);
        return r.next() ? r.text(0).toULongLong() : 0;
    }

    // Connects through the tree and lists the test database's tables.
    TreeNode* listTables() {
        doubleClick(server());
        doubleClick(find({"DB"}));
        doubleClick(find({"DB", database}));
        TreeNode* tables = find({"DB", database, "Tables"});
        doubleClick(tables);
        return tables;
    }

    // a_small is dumped first, then b_big, too large for the socket buffers to hold whole.
    void fillDumpTables() {
        exec({"CREATE TABLE a_small (id INT PRIMARY KEY, v VARCHAR(20))",
              "INSERT INTO a_small VALUES (1, 'one'), (2, 'two')",
              "CREATE TABLE b_big (id INT PRIMARY KEY, pad VARCHAR(200)) ENGINE=InnoDB",
              "INSERT INTO b_big SELECT seq, REPEAT('y', 200) FROM seq_1_to_200000"});
    }

    void createRestoreTables() {
        exec({"CREATE TABLE u (id INT PRIMARY KEY) ENGINE=InnoDB",
              "CREATE TABLE v (id INT PRIMARY KEY) ENGINE=InnoDB",
              "CREATE TABLE t (id INT PRIMARY KEY) ENGINE=InnoDB"});
    }

    QString database;
};

// ---- the tree ---------------------------------------------------------------------------

// The server's grant tables are looked at again when the host entries are listed: a host table
// created while connected is seen without connecting again. (On the private server, so the
// shared one keeps its catalogue.)
TEST_F(ServerFault, AHostTableCreatedWhileConnectedIsSeenWithoutReconnecting) {
    doubleClick(server());
    doubleClick(find({"HOST"}));
    ASSERT_EQ(prompts.messages(), QStringList{noHostTableMessage()});
    db::Connection admin = mariadb().connect();
    admin.exec("CREATE TABLE mysql.host (Host CHAR(60) NOT NULL, Db CHAR(64) NOT NULL, "
               "PRIMARY KEY (Host, Db))");
    struct DropHostTable {
        db::Connection& c;
        ~DropHostTable() { c.query("DROP TABLE IF EXISTS mysql.host"); }
    } dropLater{admin};
    admin.exec("INSERT INTO mysql.host VALUES ('h1', 'd1')");
    prompts.clear();
    doubleClick(find({"HOST"}));
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
    EXPECT_EQ(childTexts(find({"HOST"})), QStringList{"h1[d1]"});
}

TEST_F(ServerFault, TreeReportsALostServerKeepsItsNodesAndReconnectsOnDoubleClick) {
    exec({"CREATE TABLE t1 (a INT)"});
    Watchdog watchdog("the tree after a lost server", 120);
    TreeNode* tables = listTables();
    ASSERT_EQ(childTexts(tables), QStringList{"t1"});
    ASSERT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();

    mariadb().kill();
    // Every listing reports the loss and what to do, and keeps what it showed.
    for (const QStringList& path :
         {QStringList{"DB", database, "Tables"}, QStringList{"DB"}, QStringList{"USER"}}) {
        prompts.clear();
        doubleClick(find(path));
        const QStringList shown = prompts.messages();
        ASSERT_EQ(shown.size(), 1) << path.join(u'/').toStdString();
        EXPECT_TRUE(saysConnectionLost(shown[0])) << shown[0].toStdString();
        EXPECT_TRUE(shown[0].contains(QLatin1String("Double-click the server")))
            << shown[0].toStdString();
    }
    EXPECT_EQ(childTexts(find({"DB", database, "Tables"})), QStringList{"t1"});
    EXPECT_EQ(childTexts(server()), (QStringList{"DB", "USER", "HOST", "Status"}));

    // A click shows a node's panel: the loss is said there as well, not an empty panel.
    DetailPanels panels(session, prompts);
    for (const QStringList& path : {QStringList{"DB", database, "Tables"},
                                    QStringList{"DB", database, "Tables", "t1"}}) {
        prompts.clear();
        TreeNode* node = find(path);
        ASSERT_NE(node, nullptr);
        panels.SetPanel(node->level(), node);
        ASSERT_EQ(prompts.messages().size(), 1) << path.join(u'/').toStdString();
        EXPECT_TRUE(saysConnectionLost(prompts.messages()[0])) << prompts.messages()[0].toStdString();
    }

    // While the server is down, connecting fails at once and the folders go.
    prompts.clear();
    doubleClick(server());
    ASSERT_EQ(prompts.messages().size(), 1);
    // The fixed text, then the client library's reason.
    EXPECT_TRUE(prompts.messages()[0].startsWith("Server Connection Error\n"))
        << prompts.messages()[0].toStdString();
    EXPECT_EQ(server()->childCount(), 0);

    ensureRunning();
    prompts.clear();
    tables = listTables();
    EXPECT_EQ(childTexts(tables), QStringList{"t1"});
    EXPECT_TRUE(dataset.Connected());

    // An orderly restart between two listings: the next listing reports, and the double
    // click on the still-connected server opens a fresh connection.
    exec({"CREATE TABLE t2 (a INT)"});
    restart();
    doubleClick(tables);
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(saysConnectionLost(prompts.messages()[0])) << prompts.messages()[0].toStdString();
    prompts.clear();
    tables = listTables();
    EXPECT_EQ(childTexts(tables), (QStringList{"t1", "t2"}));
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
}

// ---- the grid ---------------------------------------------------------------------------

TEST_F(ServerFault, GridReportsAServerKilledWhileItReadsAndOpensAgainAfterReconnecting) {
    exec({"CREATE TABLE small (id INT PRIMARY KEY, v VARCHAR(20))",
          "INSERT INTO small VALUES (1, 'a'), (2, 'b'), (3, NULL)",
          "CREATE TABLE big (id INT PRIMARY KEY, pad VARCHAR(100)) ENGINE=InnoDB",
          "INSERT INTO big SELECT seq, REPEAT('x', 100) FROM seq_1_to_50000",
          // Holds its reader in "User sleep" for long enough to be killed meanwhile.
          "CREATE VIEW slow AS SELECT b.* FROM big b JOIN (SELECT SLEEP(30) AS z) s"});
    Watchdog watchdog("the grid after a lost server", 120);
    TreeNode* tables = listTables();
    ASSERT_EQ(childTexts(tables), (QStringList{"big", "slow", "small"}));
    TableDataView view(dataset, prompts);
    TableRows& rows = view.rows();
    ASSERT_TRUE(view.LoadTableData(find({"DB", database, "Tables", "small"})));
    ASSERT_EQ(rows.rowCount(), 3);

    {
        KillWhenSeen killer(mariadb(), "STATE = 'User sleep' AND INFO LIKE 'SELECT %slow%'");
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(view.LoadTableData(find({"DB", database, "Tables", "slow"})));
        EXPECT_LT(clock.elapsed(), 25000) << "the grid waited for the statement to end";
        ASSERT_TRUE(killer.fired());
    }
    mariadb().kill();  // reaps the killed process
    QStringList shown = prompts.messages();
    ASSERT_EQ(shown.size(), 2) << shown.join(u'|').toStdString();
    EXPECT_TRUE(saysConnectionLost(shown[1])) << shown[1].toStdString();
    EXPECT_TRUE(shown[1].contains(QLatin1String("Double-click the server")));
    EXPECT_FALSE(rows.isOpen());
    EXPECT_EQ(rows.rowCount(), 0);
    EXPECT_EQ(view.DBGrid1().model()->rowCount(), 0);

    // With the server down, opening and refreshing report and leave the grid empty.
    prompts.clear();
    EXPECT_FALSE(view.LoadTableData(find({"DB", database, "Tables", "small"})));
    view.DBNavigator1()[9]->click();
    shown = prompts.messages();
    ASSERT_EQ(shown.size(), 4) << shown.join(u'|').toStdString();
    EXPECT_TRUE(saysConnectionLost(shown[1])) << shown[1].toStdString();
    EXPECT_TRUE(saysConnectionLost(shown[3])) << shown[3].toStdString();
    EXPECT_EQ(rows.rowCount(), 0);

    ensureRunning();
    prompts.clear();
    listTables();
    ASSERT_TRUE(view.LoadTableData(find({"DB", database, "Tables", "big"})));
    view.countRows();  // the grid opens on the server's estimate
    EXPECT_EQ(rows.rowCount(), 50000);
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
}

// ---- dump -------------------------------------------------------------------------------

TEST_F(ServerFault, DumpKilledMidwayLeavesTheFilesAsTheyWere) {
    fillDumpTables();
    QTemporaryDir dir;
    const QString schemaPath = dir.filePath(QStringLiteral("dump.sql"));
    const QByteArray before = "an earlier dump that must survive\r\n";
    writeFile(schemaPath, before);
    Watchdog watchdog("the dump after a lost server", 120);

    db::Connection c = mariadb().connect();
    dump::DumpWriter writer(c);
    const dump::DumpTarget target{database, {}};
    QString error;
    std::optional<dump::SchemaText> schema =
        attempt(&error, [&] { return writer.schema(target, true); });
    ASSERT_TRUE(schema) << error.toStdString();
    std::uint64_t smallRows = 0;
    bool killed = false;
    const dump::DumpResult result =
        writer.save(schemaPath, schema->text, &target, [&](const dump::DumpProgress& p) {
            // Waiting makes the next report come at once: a_small's last one, then b_big's
            // first, after its rows began to arrive.
            if (p.table == QLatin1String("a_small")) {
                smallRows = p.rows;
                QThread::msleep(60);
            } else if (!killed) {
                mariadb().kill();
                killed = true;
            }
            return true;
        });
    ASSERT_TRUE(killed);
    EXPECT_EQ(smallRows, 2u);  // rows were written before the server went
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.stopped);
    EXPECT_FALSE(result.schemaFailed);
    EXPECT_TRUE(saysConnectionLost(result.error)) << result.error.toStdString();
    EXPECT_TRUE(result.error.contains(QLatin1String("b_big"))) << result.error.toStdString();
    EXPECT_EQ(readFile(schemaPath), before);
    EXPECT_EQ(filesIn(dir.path()), QStringList{"dump.sql"});  // no data file, no temporary file

    // A new connection dumps again.
    ensureRunning();
    db::Connection fresh = mariadb().connect();
    dump::DumpWriter again(fresh);
    const dump::DumpTarget one{database, QStringLiteral("a_small")};
    schema = attempt(&error, [&] { return again.schema(one, false); });
    ASSERT_TRUE(schema) << error.toStdString();
    const dump::DumpResult retried = again.save(schemaPath, schema->text, &one, {});
    EXPECT_TRUE(retried.ok) << retried.error.toStdString();
    EXPECT_EQ(filesIn(dir.path()), (QStringList{"dump.dat", "dump.sql"}));
}

// ---- lorvex-cli -------------------------------------------------------------------------

// Runs lorvex-cli against the private server; a run that does not end in time is killed
// and fails the test.
CliResult runCli(const PrivateServer& server, const QStringList& arguments) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LORVEX_PASSWORD"), server.password());
    return runProgram(cliPath(),
                      QStringList{arguments.first(), QStringLiteral("--host"), server.hostField(),
                                  QStringLiteral("--user"), server.user()} +
                          arguments.mid(1),
                      env, 90);
}

// The server is killed while the CLI waits for a table another session holds locked: after
// the schema was read, the files were opened and the first table's rows were written.
TEST_F(ServerFault, CliDumpKilledMidwayExitsNonZeroAndLeavesTheFilesAsTheyWere) {
    fillDumpTables();
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out.sql"));
    const QByteArray before = "an earlier dump that must survive\r\n";
    writeFile(out, before);

    db::Connection locker = mariadb().connect();
    locker.exec("LOCK TABLES " + q(database) + ".b_big WRITE");
    CliResult run;
    {
        KillWhenSeen killer(mariadb(), "STATE LIKE 'Waiting for table metadata lock%' AND DB = '" +
                                           db::utf8(database) + "'");
        run = runCli(mariadb(), {QStringLiteral("dump"), QStringLiteral("--database"), database,
                                 QStringLiteral("--data"), QStringLiteral("--out"), out});
        EXPECT_TRUE(killer.fired()) << run.out.toStdString() << run.err.toStdString();
    }
    mariadb().kill();
    EXPECT_EQ(run.code, 1) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
    EXPECT_TRUE(run.err.startsWith(QLatin1String("lorvex-cli: "))) << run.err.toStdString();
    EXPECT_TRUE(saysConnectionLost(run.err)) << run.err.toStdString();
    EXPECT_EQ(readFile(out), before);
    EXPECT_EQ(filesIn(dir.path()), QStringList{"out.sql"});

    // Every run opens its own connection: after the restart the same command works.
    ensureRunning();
    run = runCli(mariadb(), {QStringLiteral("dump"), QStringLiteral("--database"), database,
                             QStringLiteral("--data"), QStringLiteral("--out"), out});
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith(QLatin1String("dump: 2 tables, 200002 rows")))
        << run.out.toStdString();
    EXPECT_EQ(filesIn(dir.path()), (QStringList{"out.dat", "out.sql"}));
}

// ---- restore ----------------------------------------------------------------------------

// 6000 one-row INSERTs into u (committed by the engine on the way), 100 into v (not
// committed yet), one into t at line 6101, ten more into u. One statement per line.
QByteArray restoreScript() {
    QByteArray text;
    for (int i = 1; i <= 6000; ++i)
        text += "INSERT INTO u VALUES (" + QByteArray::number(i) + ");#+----\r\n";
    for (int i = 1; i <= 100; ++i)
        text += "INSERT INTO v VALUES (" + QByteArray::number(i) + ");#+----\r\n";
    text += "INSERT INTO t VALUES (1);#+----\r\n";
    for (int i = 6001; i <= 6010; ++i)
        text += "INSERT INTO u VALUES (" + QByteArray::number(i) + ");#+----\r\n";
    return text;
}
constexpr qint64 kLineOfT = 6101;

qint64 lineIn(const QString& text) {
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("at line (\\d+)")).match(text);
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

TEST_F(ServerFault, RestoreKilledMidwayNamesTheLineAndClaimsOnlyWhatWasKept) {
    createRestoreTables();
    QByteArray script = restoreScript();
    QBuffer input(&script);
    ASSERT_TRUE(input.open(QIODevice::ReadOnly));
    Watchdog watchdog("the restore after a lost server", 120);

    db::Connection c = mariadb().connect();
    dump::RestoreEngine engine(c, database);
    bool killed = false;
    // Each report waits a little so that the next trip reports again; the server goes once
    // v's rows have run, after u's were committed.
    const dump::RestoreRun run =
        engine.run(input, dump::RunKind::Data, [&](const dump::RestoreProgress& p) {
            if (p.statements > 6000 && !killed) {
                mariadb().kill();
                killed = true;
            } else {
                QThread::msleep(60);
            }
            return true;
        });
    QString finishError;
    EXPECT_TRUE(attempt(&finishError, [&] { engine.finish(); })) << finishError.toStdString();
    ASSERT_TRUE(killed);
    EXPECT_FALSE(run.ok());
    EXPECT_TRUE(saysConnectionLost(run.fatal)) << run.fatal.toStdString();
    EXPECT_EQ(lineIn(run.fatal), kLineOfT) << run.fatal.toStdString();
    EXPECT_EQ(run.failures, 0u);  // the server refused nothing

    // The count claims exactly the statements that were kept: not those rolled back with
    // the connection.
    ensureRunning();
    const std::uint64_t kept = count("u") + count("v") + count("t");
    EXPECT_GT(kept, 0u);
    EXPECT_EQ(run.statements, kept);
    EXPECT_EQ(count("v"), 0u);
}

TEST_F(ServerFault, CliRestoreKilledMidwayExitsNonZeroNamingTheLine) {
    createRestoreTables();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("restore.sql"));
    writeFile(file, restoreScript());

    db::Connection locker = mariadb().connect();
    locker.exec("LOCK TABLES " + q(database) + ".t WRITE");
    CliResult run;
    {
        KillWhenSeen killer(mariadb(), "STATE LIKE 'Waiting for table metadata lock%' AND DB = '" +
                                           db::utf8(database) + "'");
        run = runCli(mariadb(),
                     {QStringLiteral("restore"), QStringLiteral("--database"), database, file});
        EXPECT_TRUE(killer.fired()) << run.out.toStdString() << run.err.toStdString();
    }
    mariadb().kill();
    EXPECT_EQ(run.code, 1) << run.err.toStdString();
    EXPECT_TRUE(saysConnectionLost(run.err)) << run.err.toStdString();
    EXPECT_EQ(lineIn(run.err), kLineOfT) << run.err.toStdString();
    const QRegularExpressionMatch claimed =
        QRegularExpression(QStringLiteral("^restore: (\\d+) statements, 0 failures, "))
            .match(run.out);
    ASSERT_TRUE(claimed.hasMatch()) << run.out.toStdString();

    ensureRunning();
    EXPECT_EQ(claimed.captured(1).toULongLong(), count("u") + count("v") + count("t"));
    EXPECT_EQ(count("t"), 0u);
}

// A server that stops answering (here: its process stopped) ends the CLI's wait after the
// timeout it was given, instead of holding it forever.
TEST_F(ServerFault, CliGivesUpOnAServerThatStopsAnswering) {
    createRestoreTables();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("slow.sql"));
    writeFile(file, "Insert Into u values (1);#+----\r\nSELECT SLEEP(3);#+----\r\n");
    CliResult run;
    {
        // Frozen while it runs the SLEEP, thawed only after the CLI gave up.
        std::thread freezer([&] {
            db::Connection c = mariadb().connect();
            for (int i = 0; i < 400; ++i) {
                db::Result r = c.select("SELECT COUNT(*) FROM information_schema.PROCESSLIST "
                                        "WHERE INFO LIKE 'SELECT SLEEP(3)%'");
                if (r.next() && r.text(0) != QLatin1String("0")) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            ::kill(pid_t(mariadb().pid()), SIGSTOP);
        });
        run = runCli(mariadb(), {QStringLiteral("restore"), QStringLiteral("--database"), database,
                                 QStringLiteral("--timeout"), QStringLiteral("2"), file});
        freezer.join();
        ::kill(pid_t(mariadb().pid()), SIGCONT);
    }
    EXPECT_EQ(run.code, 1) << run.err.toStdString();
    EXPECT_TRUE(saysConnectionLost(run.err)) << run.err.toStdString();
}

// A server that answers neither a statement nor its cancel (its process stopped) never holds
// the window: Disconnect gives the connection up at once, and closing the window during
// the call closes it within kCloseWithinMs. The call ends as a lost connection that says
// the statement may still run there; the server node reads as disconnected at once and
// loses its folders once the command is over.
TEST_F(ServerFault, AServerThatAnswersNeitherTheStatementNorItsCancelIsGivenUp) {
    for (const bool byClosing : {false, true}) {
        SCOPED_TRACE(byClosing ? "closing the window" : "Disconnect");
        ui::ServerWait wait{prompts};
        QMainWindow window;
        window.show();
        doubleClick(server());
        ASSERT_GT(server()->childCount(), 0);
        db::Connection& c = session.MainConnection();
        session.SetWaiter(&wait);
        QObject::connect(&wait, &ui::ServerWait::connectionGivenUp, tree.get(),
                         &ObjectTree::GiveUpConnection);
        if (byClosing) prompts.answerYesNo(true);  // "Cancel it and close the window?"
        QElapsedTimer clock, sinceAsked;
        bool stopped = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (!stopped && clock.elapsed() > 300) {
                stopped = true;
                ::kill(pid_t(mariadb().pid()), SIGSTOP);
                sinceAsked.start();
                if (byClosing)
                    window.close();
                else
                    wait.cancel();
            }
            if (!byClosing && wait.disconnectButton() && wait.disconnectButton()->isVisible())
                wait.disconnectButton()->click();
        });
        poll.start(20);
        clock.start();
        EXPECT_FALSE(c.query("SELECT SLEEP(60)"));
        const qint64 took = sinceAsked.elapsed();
        ::kill(pid_t(mariadb().pid()), SIGCONT);
        EXPECT_TRUE(c.connectionLost()) << c.errorText().toStdString();
        EXPECT_TRUE(c.errorText().startsWith(QStringLiteral("Disconnected: the server answered neither")))
            << c.errorText().toStdString();
        EXPECT_LT(took, byClosing ? 2000 : ui::ServerWait::kGiveUpAfterMs + 1500);
        if (byClosing) {
            EXPECT_FALSE(window.isVisible());
        }
        EXPECT_TRUE(server()->font(0).italic());
        EXPECT_GT(server()->childCount(), 0);  // the command that made the call still runs
        QElapsedTimer settle;
        settle.start();
        while (tree->givingUp() && settle.elapsed() < 2000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_EQ(server()->childCount(), 0);
        EXPECT_FALSE(c.isOpen());
        session.SetWaiter(nullptr);
        EXPECT_TRUE(prompts.allAnswersUsed());
        prompts.clear();
    }
}

// A server that takes packets of 1 MiB at most: the one statement larger than that is
// skipped and named with the setting to raise; everything else is restored.
TEST_F(ServerFault, StatementsLargerThanThePacketLimitAreSkippedAndTheRunGoesOn) {
    createRestoreTables();
    db::Connection admin = mariadb().connect();
    admin.exec("SET GLOBAL max_allowed_packet = 1048576");
    struct PutBack {
        db::Connection& c;
        ~PutBack() { c.query("SET GLOBAL max_allowed_packet = 268435456"); }
    } putBack{admin};
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("rows.sql"));
    writeFile(file, "Insert Into u values (1);#+----\r\nInsert Into u values (2 + LENGTH('" +
                        QByteArray(2 << 20, 'x') + "'));#+----\r\nInsert Into u values (3);#+----\r\n");
    const CliResult run =
        runCli(mariadb(), {QStringLiteral("restore"), QStringLiteral("--database"), database, file});
    EXPECT_EQ(run.code, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("1 statements are larger than the server accepts "
                                                "(max_allowed_packet = 1048576 bytes)")))
        << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("line 2: 2097")));
    EXPECT_TRUE(run.err.contains(QStringLiteral("SET GLOBAL max_allowed_packet = 2099200")))
        << run.err.toStdString();
    EXPECT_EQ(count("u"), 2u);  // the rows before and after it
}

// ---- an orderly restart between two operations ------------------------------------------

TEST_F(ServerFault, AfterARestartTheOldConnectionReportsAndTheDialogEnginesWriteNothing) {
    exec({"CREATE TABLE a (id INT PRIMARY KEY)", "INSERT INTO a VALUES (1), (2)"});
    Watchdog watchdog("the engines after a restart", 120);
    db::Connection old = mariadb().connect();
    restart();

    QTemporaryDir dir;
    const QString schemaPath = dir.filePath(QStringLiteral("a.sql"));
    dump::DumpWriter writer(old);
    const dump::DumpTarget target{database, QStringLiteral("a")};
    QString error;
    EXPECT_FALSE(attempt(&error, [&] { return writer.schema(target, false); }));
    EXPECT_TRUE(saysConnectionLost(error)) << error.toStdString();
    const dump::DumpResult dumped = writer.save(schemaPath, "schema", &target, {});
    EXPECT_FALSE(dumped.ok);
    EXPECT_TRUE(saysConnectionLost(dumped.error)) << dumped.error.toStdString();
    EXPECT_TRUE(filesIn(dir.path()).isEmpty()) << filesIn(dir.path()).join(u' ').toStdString();

    QByteArray script = "INSERT INTO a VALUES (3);#+----\r\n";
    QBuffer input(&script);
    ASSERT_TRUE(input.open(QIODevice::ReadOnly));
    dump::RestoreEngine engine(old, database);
    const dump::RestoreRun run = engine.run(input, dump::RunKind::Data, {});
    EXPECT_TRUE(saysConnectionLost(run.fatal)) << run.fatal.toStdString();
    EXPECT_EQ(run.statements, 0u);
    EXPECT_EQ(count("a"), 2u);

    // A new connection works.
    db::Connection fresh = mariadb().connect();
    dump::RestoreEngine again(fresh, database);
    input.seek(0);
    const dump::RestoreRun rerun = again.run(input, dump::RunKind::Data, {});
    EXPECT_TRUE(rerun.ok()) << rerun.fatal.toStdString();
    EXPECT_TRUE(attempt(&error, [&] { again.finish(); })) << error.toStdString();
    EXPECT_EQ(count("a"), 3u);
}

}  // namespace
