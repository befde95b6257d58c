#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QTemporaryDir>

#include "sqleditor/QueryHistory.h"
#include "support/TestFiles.h"
#include "support/TestNames.h"

namespace {

TEST(MaskPasswords, HidesThePasswordLiteralsAndNothingElse) {
    const struct {
        const char* statement;
        const char* masked;  // nullptr: unchanged
    } cases[] = {
        {"CREATE USER 'bob'@'%' IDENTIFIED BY 'secret'",
         "CREATE USER 'bob'@'%' IDENTIFIED BY '***'"},
        {"grant all on *.* to bob@localhost identified\n\tby \"it''s \\\" x\" with grant option",
         "grant all on *.* to bob@localhost identified\n\tby '***' with grant option"},
        {"ALTER USER bob IDENTIFIED BY PASSWORD '*2470C0C06DEE42FD1618BB99005ADCA2EC9D1E19'",
         "ALTER USER bob IDENTIFIED BY PASSWORD '***'"},
        {"SET PASSWORD FOR 'bob'@'localhost' = PASSWORD('it\\'s')",
         "SET PASSWORD FOR 'bob'@'localhost' = PASSWORD('***')"},
        {"set password = 'x'; SELECT 1 = 'kept'", "set password = '***'; SELECT 1 = 'kept'"},
        {"CREATE USER u IDENTIFIED VIA ed25519 USING PASSWORD ( 'a' ) OR unix_socket",
         "CREATE USER u IDENTIFIED VIA ed25519 USING PASSWORD ( '***' ) OR unix_socket"},
        {"create user u identified via pam using 'svc'",
         "create user u identified via pam using '***'"},
        // Joined literals and introducers are still the password.
        {"CREATE USER u IDENTIFIED BY 'sec' 'ret', v IDENTIFIED BY _utf8mb4'x'",
         "CREATE USER u IDENTIFIED BY '***', v IDENTIFIED BY _utf8mb4'***'"},
        {"/*!80000 ALTER USER u IDENTIFIED BY 'x' */",
         "/*!80000 ALTER USER u IDENTIFIED BY '***' */"},
        {"CHANGE MASTER TO MASTER_USER='r', MASTER_PASSWORD='x'",
         "CHANGE MASTER TO MASTER_USER='r', MASTER_PASSWORD='***'"},
        {"CREATE USER u IDENTIFIED BY 'never closed", "CREATE USER u IDENTIFIED BY '***'"},
        // A literal left open hides the rest of the statement, in every password form.
        {"CHANGE MASTER TO MASTER_PASSWORD='secret", "CHANGE MASTER TO MASTER_PASSWORD='***'"},
        {"CHANGE MASTER TO MASTER_PASSWORD=\"secret, MASTER_HOST='h'",
         "CHANGE MASTER TO MASTER_PASSWORD='***'"},
        {"CHANGE MASTER TO MASTER_PASSWORD = 'it\\'s", "CHANGE MASTER TO MASTER_PASSWORD = '***'"},
        {"SET PASSWORD = PASSWORD('x", "SET PASSWORD = PASSWORD('***'"},
        {"SET PASSWORD FOR u = \"x", "SET PASSWORD FOR u = '***'"},
        {"ALTER USER u IDENTIFIED BY PASSWORD '*24; SELECT 1",
         "ALTER USER u IDENTIFIED BY PASSWORD '***'"},
        {"CREATE USER u IDENTIFIED VIA pam USING \"svc", "CREATE USER u IDENTIFIED VIA pam USING '***'"},
        {"CREATE SERVER s FOREIGN DATA WRAPPER mysql OPTIONS (USER 'r', PASSWORD 'p",
         "CREATE SERVER s FOREIGN DATA WRAPPER mysql OPTIONS (USER 'r', PASSWORD '***'"},
        {"CHANGE MASTER TO MASTER_PASSWORD='a' 'b", "CHANGE MASTER TO MASTER_PASSWORD='***'"},
        {"GRANT ALL ON *.* TO u IDENTIFIED BY 'x\\", "GRANT ALL ON *.* TO u IDENTIFIED BY '***'"},
        {"CHANGE MASTER 'conn' TO MASTER_PASSWORD='p", "CHANGE MASTER 'conn' TO MASTER_PASSWORD='***'"},
        {"CHANGE MASTER TO MASTER_PASSWORD=_utf8mb4'p", "CHANGE MASTER TO MASTER_PASSWORD=_utf8mb4'***'"},
        // Words inside other strings and comments, and columns named password.
        {"SELECT 'IDENTIFIED BY ''x''', \"PASSWORD('y')\" -- IDENTIFIED BY 'z'\n", nullptr},
        {"/* SET PASSWORD = 'x' */ SELECT 1 # PASSWORD('y')", nullptr},
        {"UPDATE app SET password = 'plain', `password` = 'b' WHERE name = 'PASSWORD'", nullptr},
        {"SELECT * FROM t ORDER BY 'a'", nullptr},
    };
    for (const auto& c : cases) {
        const QString statement = QString::fromUtf8(c.statement);
        EXPECT_EQ(maskPasswords(statement), c.masked ? QString::fromUtf8(c.masked) : statement)
            << c.statement;
    }
}

TEST(MaskPasswords, OutcomesThatQuoteTheStatementLoseThePassword) {
    const struct {
        const char* statement;
        const char* outcome;
        const char* masked;
    } cases[] = {
        {"CHANGE MASTER TO MASTER_PASSWORD='secret",
         "You have an error in your SQL syntax; check the manual that corresponds to your "
         "MariaDB server version for the right syntax to use near ''secret' at line 1",
         "You have an error in your SQL syntax; check the manual that corresponds to your "
         "MariaDB server version for the right syntax to use near '***' at line 1"},
        {"CREATE USER u IDENTIFIED BY \"longsecret", "near '\"longsec", "near '***"},
        {"SET PASSWORD = PASSWORD('pw1') extra", "Password 'pw1' refused", "Password '***' refused"},
        // Without a password the outcome stays as the server wrote it.
        {"SELECT 'x", "near ''x' at line 1", "near ''x' at line 1"},
        {"CREATE USER u IDENTIFIED BY 'pw'", "Query OK, 0 rows affected",
         "Query OK, 0 rows affected"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(maskPasswordsInOutcome(QString::fromUtf8(c.statement),
                                         QString::fromUtf8(c.outcome)),
                  QString::fromUtf8(c.masked))
            << c.statement;
}

HistoryEntry entry(const QString& statement, qint64 second) {
    HistoryEntry e;
    e.server = QStringLiteral("local");
    e.database = QStringLiteral("shop");
    e.started = QDateTime::fromMSecsSinceEpoch(1700000000000 + second * 1000 + 123, Qt::UTC);
    e.durationMs = 42;
    e.rows = 12;
    e.outcome = QStringLiteral("12 rows");
    e.statement = statement;
    return e;
}

QStringList statements(const std::vector<HistoryEntry>& entries) {
    QStringList out;
    for (const HistoryEntry& e : entries) out << e.statement;
    return out;
}

class QueryHistoryTest : public ::testing::Test {
protected:
    QString path() const { return dir_.filePath(QStringLiteral("history.sqlite")); }
    QTemporaryDir dir_;
};

TEST_F(QueryHistoryTest, KeepsEntriesAcrossInstancesInAPrivateFile) {
    const mode_t previous = ::umask(0);
    QueryHistory first(path());
    ::umask(previous);
    ASSERT_TRUE(first.isOpen()) << first.error().toStdString();
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    HistoryEntry failed = entry(QStringLiteral("CREATE USER x IDENTIFIED BY 'pw'"), 2);
    failed.database.clear();
    failed.rows = -1;
    failed.outcome = QStringLiteral("Access denied");
    ASSERT_TRUE(first.record(entry(QStringLiteral("SELECT 한 FROM t"), 1)));
    ASSERT_TRUE(first.record(failed));

    // A second instance at the same time, as a second window would open it.
    QueryHistory second(path());
    const std::vector<HistoryEntry> read = second.search({});
    ASSERT_EQ(read.size(), 2u) << second.error().toStdString();
    failed.statement = QStringLiteral("CREATE USER x IDENTIFIED BY '***'");
    for (const auto& [got, want] :
         {std::pair(read[0], failed),
          std::pair(read[1], entry(QStringLiteral("SELECT 한 FROM t"), 1))}) {
        EXPECT_EQ(got.server, want.server);
        EXPECT_EQ(got.database, want.database);
        EXPECT_EQ(got.started, want.started);
        EXPECT_EQ(got.started.timeSpec(), Qt::UTC);
        EXPECT_EQ(got.durationMs, want.durationMs);
        EXPECT_EQ(got.rows, want.rows);
        EXPECT_EQ(got.outcome, want.outcome);
        EXPECT_EQ(got.statement, want.statement);
    }
    EXPECT_TRUE(second.clear());
    EXPECT_TRUE(first.search({}).empty());
}

TEST_F(QueryHistoryTest, SearchMatchesTextLiterallyInAnyCaseNewestFirst) {
    QueryHistory history(path());
    const char* const kept[] = {"SELECT 100% FROM t", "SELECT 100 FROM t", "select a_b",
                                "select axb", "SELECT ÄRGER"};
    qint64 second = 0;
    for (const char* statement : kept)
        ASSERT_TRUE(history.record(entry(QString::fromUtf8(statement), ++second)));

    const struct {
        const char* text;
        int limit;
        QStringList found;
    } cases[] = {
        {"%", 10, {"SELECT 100% FROM t"}},
        {"a_b", 10, {"select a_b"}},
        {"_", 10, {"select a_b"}},
        {"ärger", 10, {"SELECT ÄRGER"}},
        {"FROM T", 10, {"SELECT 100 FROM t", "SELECT 100% FROM t"}},
        {"", 2, {"SELECT ÄRGER", "select axb"}},
        {"nothing", 10, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(statements(history.search(QString::fromUtf8(c.text), c.limit)), c.found)
            << c.text;
}

TEST_F(QueryHistoryTest, DropsTheOldestBeyondTheLimit) {
    {
        QueryHistory history(path(), 3);
        // Out of time order (a clock set back): the oldest go, not the first recorded.
        for (const qint64 second : {5, 1, 4, 2, 3})
            ASSERT_TRUE(history.record(entry(QString::number(second), second)));
    }
    QueryHistory reopened(path());
    EXPECT_EQ(statements(reopened.search({})), (QStringList{"5", "4", "3"}));
}

TEST_F(QueryHistoryTest, AFileThatIsNoHistoryTurnsItOff) {
    const QByteArray garbage = QByteArray("not a database\n").repeated(200);
    writeFile(path(), garbage);
    const QString folder = dir_.filePath(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkdir(folder));

    for (const QString& unusable :
         {path(), folder, dir_.filePath(QStringLiteral("missing/history.sqlite"))}) {
        QueryHistory history(unusable);
        EXPECT_FALSE(history.isOpen());
        EXPECT_TRUE(history.error().contains(unusable)) << history.error().toStdString();
        EXPECT_FALSE(history.record(entry(QStringLiteral("SELECT 1"), 1)));
        EXPECT_TRUE(history.search({}).empty());
    }
    EXPECT_EQ(readFile(path()), garbage);
}

}  // namespace
