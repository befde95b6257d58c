#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include "dataset/TMySQLConnection.h"
#include "support/TestServer.h"

namespace {

// Records the order in which the connection's events fire.
struct EventLog {
    QStringList events;
    void attach(TMySQLConnection& c) {
        QObject::connect(&c, &TMySQLConnection::BeforeConnect, [this] { events << "BC"; });
        QObject::connect(&c, &TMySQLConnection::AfterConnect, [this] { events << "AC"; });
        QObject::connect(&c, &TMySQLConnection::BeforeDisconnect, [this] { events << "BD"; });
        QObject::connect(&c, &TMySQLConnection::AfterDisconnect, [this] { events << "AD"; });
    }
};

void configure(TMySQLConnection& c, const QString& database = QStringLiteral("mysql")) {
    c.SetHost(testserver::hostField());
    c.SetUser(testserver::user());
    c.SetPasswd(testserver::password());
    c.SetDB(database);
}

QString scalar(db::Connection& c, const std::string& statement) {
    db::Result r = c.select(statement);
    return r.next() ? r.text(0) : QStringLiteral("<no row>");
}

bool processExists(db::Connection& admin, const QString& id) {
    return scalar(admin, "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " +
                             db::utf8(id)) != QStringLiteral("0");
}

TEST(TMySQLConnection, StartsDisconnectedWithDefaults) {
    TMySQLConnection c;
    EXPECT_FALSE(c.Connected());
    EXPECT_EQ(c.Port(), 3306);
    EXPECT_TRUE(c.Host().isEmpty());
    EXPECT_TRUE(c.SQL().isEmpty());
    EXPECT_FALSE(c.connection().isOpen());
}

TEST(TMySQLConnection, OpenSelectsTheDatabaseAndConnectsOnce) {
    TMySQLConnection c;
    EventLog log;
    log.attach(c);
    configure(c);
    c.SetPort(1);  // not used to connect: the host field carries the port
    c.Open();
    ASSERT_TRUE(c.Connected());
    EXPECT_EQ(scalar(c.connection(), "SELECT DATABASE()"), QStringLiteral("mysql"));
    const QString id = scalar(c.connection(), "SELECT CONNECTION_ID()");
    c.SetConnected(true);  // already connected: nothing happens
    EXPECT_EQ(scalar(c.connection(), "SELECT CONNECTION_ID()"), id);
    c.SetConnected(false);
    EXPECT_FALSE(c.Connected());
    EXPECT_FALSE(c.connection().isOpen());
    EXPECT_EQ(log.events, (QStringList{"BC", "AC", "BD", "AD"}));
}

TEST(TMySQLConnection, RefusedPasswordRaisesTheLibraryMessage) {
    TMySQLConnection c;
    EventLog log;
    log.attach(c);
    configure(c);
    c.SetPasswd(c.Passwd() + QStringLiteral("x"));
    try {
        c.Open();
        FAIL() << "a wrong password was accepted";
    } catch (const db::DbError& e) {
        EXPECT_NE(std::string(e.what()).find("Access denied"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(c.Connected());
    EXPECT_FALSE(c.connection().isOpen());
    EXPECT_EQ(log.events, QStringList{"BC"});  // AfterConnect never fires
}

// Without a database the handle is open all the same; it must count as connected so that
// destruction closes it rather than leaking a server connection.
TEST(TMySQLConnection, EmptyDatabaseStillConnectsAndDestructionCloses) {
    db::Connection admin = testserver::connect();
    QString id;
    {
        TMySQLConnection c;
        configure(c, QString());
        c.Open();
        ASSERT_TRUE(c.Connected());
        EXPECT_EQ(scalar(c.connection(), "SELECT DATABASE() IS NULL"), QStringLiteral("1"));
        id = scalar(c.connection(), "SELECT CONNECTION_ID()");
        EXPECT_TRUE(processExists(admin, id));
    }
    QElapsedTimer timer;
    timer.start();
    while (processExists(admin, id) && timer.elapsed() < 5000) QThread::msleep(20);
    EXPECT_FALSE(processExists(admin, id)) << "the destroyed component left its connection open";
}

TEST(TMySQLConnection, SelectDatabaseKeepsTheNameEvenWhenRefused) {
    ScratchDatabase scratch;
    TMySQLConnection c;
    configure(c);
    c.Open();
    c.SelectDatabase(scratch.name());
    EXPECT_EQ(c.DB(), scratch.name());
    EXPECT_EQ(scalar(c.connection(), "SELECT DATABASE()"), scratch.name());
    c.SelectDatabase(QStringLiteral("lvx_no_such_database"));
    EXPECT_EQ(c.DB(), QStringLiteral("lvx_no_such_database"));
    EXPECT_EQ(scalar(c.connection(), "SELECT DATABASE()"), scratch.name());
}

TEST(TMySQLConnection, ExecSqlReportsOutcomesAndKeepsTheConnectionInStep) {
    ScratchDatabase scratch;
    scratch.exec("CREATE TABLE t (id INT)");
    scratch.exec("INSERT INTO t VALUES (1), (2), (3)");
    TMySQLConnection c;
    configure(c, scratch.name());
    c.Open();

    ExecOutcome empty = c.ExecSQL();  // empty list: nothing is sent
    EXPECT_FALSE(empty.sent);

    c.SetSQL({QStringLiteral("UPDATE t"), QStringLiteral("SET id = id + 10")});
    ExecOutcome update = c.ExecSQL();
    EXPECT_TRUE(update.sent);
    EXPECT_TRUE(update.ok);
    EXPECT_EQ(update.affectedRows, 3u);

    // A statement that returns rows must not leave them pending on the connection.
    c.SetSQL({QStringLiteral("SELECT"), QStringLiteral("* FROM t")});
    ExecOutcome rows = c.ExecSQL();
    EXPECT_TRUE(rows.ok);
    EXPECT_TRUE(rows.returnedRows);
    EXPECT_EQ(scalar(c.connection(), "SELECT COUNT(*) FROM t"), QStringLiteral("3"));

    c.SetSQL({QStringLiteral("DROP TABLE no_such_table")});
    ExecOutcome failed = c.ExecSQL();
    EXPECT_TRUE(failed.sent);
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.errorCode, 1051u);
    EXPECT_TRUE(failed.errorText.contains(QStringLiteral("no_such_table")));
    EXPECT_EQ(scalar(c.connection(), "SELECT 5"), QStringLiteral("5"));
}

}  // namespace
