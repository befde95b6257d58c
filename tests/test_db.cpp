#include <gtest/gtest.h>

#include <QTimer>
#include <chrono>
#include <thread>

#include "db/ColumnType.h"
#include "db/Connection.h"
#include "support/ScriptedPrompts.h"
#include "ui/ServerWait.h"
#include "support/TestServer.h"

namespace {

TEST(QuoteIdentifier, DoublesBackticksAndKeepsEverythingElse) {
    EXPECT_EQ(db::quoteIdentifier(std::string_view("t1")), "`t1`");
    EXPECT_EQ(db::quoteIdentifier(std::string_view("a`b")), "`a``b`");
    EXPECT_EQ(db::quoteIdentifier(std::string_view("``")), "``````");
    EXPECT_EQ(db::quoteIdentifier(QStringLiteral("my db.x'y")), "`my db.x'y`");
    EXPECT_EQ(db::qualifiedName(QStringLiteral("d"), QStringLiteral("t`")), "`d`.`t```");
}

TEST(Connection, RefusedLoginCarriesTheServerMessageAndStaysClosed) {
    db::ConnectParams p = testserver::params();
    p.password += QStringLiteral("-wrong");
    db::Connection c;
    try {
        c.connect(p);
        FAIL() << "a wrong password was accepted";
    } catch (const db::DbError& e) {
        EXPECT_EQ(e.code(), 1045u);
        EXPECT_NE(std::string(e.what()).find("Access denied"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(c.isOpen());
    EXPECT_FALSE(c.query("SELECT 1"));
    EXPECT_FALSE(c.storeResult());
}

TEST(Connection, UnreachablePortAndBadPortAreErrors) {
    db::ConnectParams p = testserver::params();
    p.host = QStringLiteral("127.0.0.1:1");
    db::Connection c;
    EXPECT_THROW(c.connect(p), db::DbError);
    p.host = QStringLiteral("127.0.0.1:99999");
    try {
        c.connect(p);
        FAIL() << "an invalid port was accepted";
    } catch (const db::DbError& e) {
        EXPECT_NE(std::string(e.what()).find("99999"), std::string::npos) << e.what();
    }
}

// The client library would try its local socket for "localhost" and ignore the port.
TEST(Connection, LocalhostWithAPortConnectsOverTcpToThatPort) {
    db::ConnectParams p = testserver::params();
    p.host = QStringLiteral("localhost:%1").arg(qEnvironmentVariable("LORVEX_TEST_PORT"));
    db::Connection c;
    ASSERT_NO_THROW(c.connect(p));
    EXPECT_TRUE(c.hostInfo().contains(QStringLiteral("TCP/IP"))) << c.hostInfo().toStdString();
}

TEST(Connection, ErrorsCarryNumberStateAndStatement) {
    ScratchDatabase scratch;
    db::Connection& c = scratch.connection();
    try {
        c.exec("SELECT * FROM no_such_table");
        FAIL();
    } catch (const db::DbError& e) {
        EXPECT_EQ(e.code(), 1146u);
        EXPECT_EQ(e.sqlState(), "42S02");
        EXPECT_EQ(e.statement(), "SELECT * FROM no_such_table");
        EXPECT_FALSE(e.connectionLost());
    }
    // A statement that returns no rows is an error where rows are expected.
    EXPECT_THROW(c.select("DO 1"), db::DbError);
    // The connection is still usable afterwards.
    EXPECT_EQ(c.select("SELECT 7").rowCount(), 1u);
}

TEST(Result, ReadsNullEmptyAndBinaryValuesByPosition) {
    ScratchDatabase scratch;
    scratch.exec("CREATE TABLE t (id INT, s VARCHAR(20), b BLOB)");
    db::Connection& c = scratch.connection();
    const std::string binary("a\0b\r\n\x1a\xff", 7);
    scratch.exec("INSERT INTO t VALUES (1, NULL, ''), (2, '', " + c.quoteValue(binary) + ")");

    db::Result r = c.select("SELECT id, s, b FROM t ORDER BY id");
    ASSERT_EQ(r.rowCount(), 2u);
    ASSERT_EQ(r.columnCount(), 3u);
    EXPECT_EQ(r.columns()[0].name, "id");
    EXPECT_EQ(r.columns()[0].type, 3u);    // LONG
    EXPECT_EQ(r.columns()[1].type, 253u);  // VAR_STRING
    EXPECT_EQ(r.columns()[2].type, 252u);  // BLOB
    EXPECT_TRUE(r.columns()[2].isBinary());
    EXPECT_FALSE(r.columns()[1].isBinary());

    ASSERT_TRUE(r.next());
    EXPECT_TRUE(r.value(1).isNull());
    EXPECT_EQ(r.text(1), QString());
    EXPECT_FALSE(r.value(2).isNull());
    EXPECT_EQ(r.value(2).length, 0u);
    ASSERT_TRUE(r.next());
    EXPECT_FALSE(r.value(1).isNull());
    EXPECT_EQ(r.value(1).length, 0u);
    EXPECT_EQ(std::string(r.value(2).view()), binary);
    EXPECT_TRUE(r.value(7).isNull());  // past the last column: no value
    EXPECT_FALSE(r.next());

    r.seek(1);
    ASSERT_TRUE(r.next());
    EXPECT_EQ(r.text(0), QStringLiteral("2"));

    // Moving a result keeps one owner.
    db::Result moved = std::move(r);
    EXPECT_FALSE(r);
    EXPECT_TRUE(moved);
}

// A capped result reads as the stored one does, for the rows it keeps, whatever their values;
// the rest are counted. Read through StoredRows and through next() alike.
TEST(Result, KeptRowsReadAsStoredRowsAndTheRestAreCounted) {
    ScratchDatabase scratch;
    db::Connection& c = scratch.connection();
    scratch.exec("CREATE TABLE t (id INT, s VARCHAR(20), b LONGBLOB)");
    const std::string binary("a\0b\r\n\x1a\xff", 7);
    scratch.exec("INSERT INTO t VALUES (1, NULL, ''), (2, '', " + c.quoteValue(binary) +
                 "), (3, 'x', REPEAT('z', 3000000)), (4, NULL, NULL), (5, 'e', 'f')");
    const char* select = "SELECT id, s, b FROM t ORDER BY id";
    for (const std::uint64_t limit : {0ull, 2ull, 4ull, 5ull, 100ull}) {
        SCOPED_TRACE(limit);
        db::Result stored = c.select(select);
        const db::StoredRows all(stored);
        ASSERT_TRUE(c.query(select));
        db::Result kept = c.storeResult(limit);
        ASSERT_TRUE(kept) << c.errorText().toStdString();
        const std::uint64_t keeps = std::min<std::uint64_t>(limit, 5);
        EXPECT_TRUE(kept.isStored());
        EXPECT_EQ(kept.rowCount(), keeps);
        EXPECT_EQ(kept.notRead(), 5 - keeps);
        EXPECT_TRUE(kept.notReadKnown());
        const db::StoredRows rows(kept);
        ASSERT_EQ(rows.size(), keeps);
        for (std::size_t row = 0; row < keeps; ++row) {
            ASSERT_TRUE(kept.next());
            for (unsigned column = 0; column < 3; ++column) {
                EXPECT_EQ(rows.value(row, column).isNull(), all.value(row, column).isNull());
                EXPECT_EQ(rows.value(row, column).view(), all.value(row, column).view());
                EXPECT_EQ(kept.value(column).view(), all.value(row, column).view());
                EXPECT_EQ(kept.value(column).isNull(), all.value(row, column).isNull());
            }
        }
        EXPECT_FALSE(kept.next());
        kept.seek(0);
        EXPECT_EQ(kept.next(), keeps > 0);
    }
    // The connection is ready for the next statement.
    EXPECT_EQ(c.select("SELECT 1").rowCount(), 1u);
}

// The one classification the grid and the dump share, read from real column metadata.
TEST(ColumnType, EachServerColumnTypeHasItsKind) {
    using K = db::ColumnKind;
    const struct {
        const char* definition;
        K kind;
    } columns[] = {
        {"TINYINT", K::Integer},        {"SMALLINT UNSIGNED", K::Integer},
        {"MEDIUMINT", K::Integer},      {"INT", K::Integer},
        {"BIGINT UNSIGNED", K::Integer}, {"DECIMAL(30,4)", K::Decimal},
        {"FLOAT", K::Float},            {"DOUBLE", K::Float},
        {"DATE", K::Date},              {"TIME(3)", K::Time},
        {"DATETIME", K::DateTime},      {"TIMESTAMP NULL", K::DateTime},
        {"YEAR", K::Year},              {"BIT(5)", K::Bit},
        {"CHAR(3)", K::String},         {"VARCHAR(20)", K::String},
        {"ENUM('a','b')", K::String},   {"SET('x','y')", K::String},
        {"TEXT", K::Text},              {"LONGTEXT", K::Text},
        {"JSON", K::Json},              {"BINARY(4)", K::Binary},
        {"VARBINARY(8)", K::Binary},    {"BLOB", K::Binary},
        {"MEDIUMBLOB", K::Binary},      {"GEOMETRY", K::Geometry},
        {"POINT", K::Geometry},
    };
    std::string create = "CREATE TABLE t (";
    for (std::size_t i = 0; i < std::size(columns); ++i)
        create += (i ? ", c" : "c") + std::to_string(i) + ' ' + columns[i].definition;
    ScratchDatabase scratch;
    scratch.exec(create + ")");
    db::Result r = scratch.connection().select("SELECT * FROM t");
    ASSERT_EQ(r.columnCount(), std::size(columns));
    for (std::size_t i = 0; i < std::size(columns); ++i)
        EXPECT_EQ(db::classify(r.columns()[i]), columns[i].kind) << columns[i].definition;
    // Expressions have no table behind them: a binary string is bytes, a text is text.
    db::Result e = scratch.connection().select("SELECT 'a', BINARY 'a', 1 + 1, NOW()");
    ASSERT_EQ(e.columnCount(), 4u);
    EXPECT_EQ(db::classify(e.columns()[0]), K::String);
    EXPECT_EQ(db::classify(e.columns()[1]), K::Binary);
    EXPECT_EQ(db::classify(e.columns()[2]), K::Integer);
    EXPECT_EQ(db::classify(e.columns()[3]), K::DateTime);
}

// Values and names that would end a literal or an identifier must arrive as typed.
TEST(Escaping, HostileValuesAndNamesRoundTrip) {
    ScratchDatabase scratch;
    db::Connection& c = scratch.connection();
    const QString table = QStringLiteral("we`ird 'name\".x; drop");
    scratch.exec("CREATE TABLE " + db::quoteIdentifier(table) + " (v LONGBLOB, t TEXT)");
    const std::vector<std::string> values = {
        "it's", "back\\slash", std::string("zero\0byte", 9), "cr\rlf\ncrlf\r\n",
        "ctrl-z\x1a", "\"dq\"", "x'); DROP TABLE t; --", "",
    };
    for (const std::string& v : values)
        scratch.exec("INSERT INTO " + db::quoteIdentifier(table) + " (v) VALUES (" +
                     c.quoteValue(v) + ")");
    const QString korean = QStringLiteral("한글 '값' \\ 😀");
    scratch.exec("INSERT INTO " + db::quoteIdentifier(table) + " (t) VALUES (" +
                 c.quoteValue(korean) + ")");

    db::Result r = c.select("SELECT v, t FROM " + db::qualifiedName(scratch.name(), table));
    ASSERT_EQ(r.rowCount(), values.size() + 1);
    for (const std::string& v : values) {
        ASSERT_TRUE(r.next());
        EXPECT_EQ(std::string(r.value(0).view()), v);
    }
    ASSERT_TRUE(r.next());
    EXPECT_EQ(r.text(1), korean);
}

TEST(Connection, MultiStatementResultsAreAllReadBack) {
    db::ConnectParams p = testserver::params();
    p.multiStatements = true;
    db::Connection c;
    c.connect(p);
    ASSERT_TRUE(c.query("SELECT 1; SELECT 2, 3; DO 0"));
    db::Result first = c.storeResult();
    EXPECT_EQ(first.columnCount(), 1u);
    EXPECT_TRUE(c.moreResults());
    ASSERT_EQ(c.nextResult(), 0);
    EXPECT_EQ(c.storeResult().columnCount(), 2u);
    c.discardResults();
    // Nothing is left pending: the next statement runs.
    EXPECT_EQ(c.select("SELECT 4").rowCount(), 1u);
}

TEST(Connection, ProcessListAndServerInfo) {
    db::Connection c = testserver::connect();
    db::Result processes = c.listProcesses();
    ASSERT_TRUE(processes);
    EXPECT_GE(processes.rowCount(), 1u);
    EXPECT_GE(processes.columnCount(), 8u);
    EXPECT_FALSE(c.serverInfo().isEmpty());
    EXPECT_TRUE(c.hostInfo().contains(QStringLiteral("127.0.0.1")));
}

}  // namespace

// The handle is lent to one call at a time: a call made while one runs - from another
// thread, or from the window's thread while it waits (a timer's refresh) - is refused with
// "commands out of sync", and the running call keeps its own outcome.
TEST(ConnectionLease, ACallWhileAnotherRunsIsRefusedAndTheRunningOneUnharmed) {
    const BusyHandleCallsExpected onPurpose;
    for (const bool windowWaits : {false, true}) {
        SCOPED_TRACE(windowWaits ? "the window's thread while it waits" : "another thread");
        ScriptedPrompts prompts;
        ui::ServerWait wait{prompts};
        db::Connection c = testserver::connect();
        if (windowWaits) c.setWaiter(&wait);
        std::optional<std::pair<bool, unsigned>> second;
        const auto secondCall = [&] {
            const bool ok = c.query("SELECT 1");
            second = {ok, c.errorNumber()};
        };
        std::thread other;
        if (windowWaits)
            QTimer::singleShot(300, secondCall);
        else
            other = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                secondCall();
            });
        EXPECT_TRUE(c.query("SELECT SLEEP(1)"));
        if (other.joinable()) other.join();
        ASSERT_TRUE(second);
        EXPECT_FALSE(second->first);
        EXPECT_EQ(second->second, 2014u);
        EXPECT_EQ(c.errorNumber(), 0u);
        db::Result r = c.storeResult();
        ASSERT_TRUE(r && r.next());
        EXPECT_EQ(r.text(0), QStringLiteral("0"));
        c.setWaiter(nullptr);
    }
}

// A read that times out says so, and that the statement may have run, instead of the client
// library's plain "lost connection".
TEST(ConnectionTimeout, AReadTimeoutSaysTheStatementMayHaveRun) {
    db::ConnectParams params = testserver::params();
    params.netTimeout = 1;
    db::Connection c;
    c.connect(params);
    EXPECT_FALSE(c.query("SELECT SLEEP(3)"));
    EXPECT_TRUE(c.connectionLost());
    EXPECT_EQ(c.errorText(), QStringLiteral("No answer from the server within 1 s; the statement "
                                            "may still be running or may have been applied."));
}

