#include <gtest/gtest.h>

#include <QBuffer>
#include <QProcess>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include "dump/RestoreEngine.h"
#include "dump/ScriptScan.h"
#include "sqleditor/Completion.h"
#include "sqleditor/QueryHistory.h"
#include "sqleditor/ScriptRun.h"
#include "sqleditor/SqlHighlighter.h"
#include "sqllex/Lexer.h"
#include "sqllex/ScriptReader.h"
#include "sqllex/SqlModeFollower.h"
#include "support/Failures.h"
#include "support/TestServer.h"

namespace {

constexpr sqllex::Rules kDefault{};
constexpr sqllex::Rules kNoBackslash{false, false};
constexpr sqllex::Rules kAnsi{true, true};
constexpr sqllex::Rules kBoth{false, true};

// ---- Split as the mariadb client splits --------------------------------------------------

struct ScriptCase {
    const char* name;
    const char* script;  // run after SET sql_mode = <mode>
};

std::ostream& operator<<(std::ostream& os, const ScriptCase& c) { return os << c.name; }

const ScriptCase kScripts[] = {
    {"quotes",
     "SELECT 'one;1';\n"
     "SELECT \"two;2\";\n"
     "SELECT 'it''s;3', \"say \"\"hi\"\";\";\n"
     "SELECT 'b\\';c';\n"
     "SELECT \"d\\\";e\";\n"
     "SELECT 'bs\\\\';\n"
     "SELECT 'end';\n"},
    {"double quotes around single ones",
     "SELECT \"a\\\";b\" AS x;\n"
     "SELECT 'c';\n"
     "SELECT \"d'e;\" AS y;\n"
     "SELECT 'f\"g;';\n"
     "SELECT 'h';\n"},
    {"quote inside a backtick name",
     "SELECT 1 AS `it's`;\n"
     "SELECT 2 AS `a\"b;`;\n"
     "SELECT 3 AS `x``y;`;\n"
     "SELECT 4;\n"},
    {"comments and strings inside each other",
     "SELECT 1 /* ; 'no string */ , 2;\n"
     "SELECT '/* no comment ;' AS c;\n"
     "SELECT 5--1;\n"
     "SELECT 7 -- ; a comment\n"
     ", 8;\n"
     "# a ; comment\n"
     "SELECT '# no comment; here', \"-- nor ; here\";\n"
     "SELECT 9 #; x\n"
     ";\n"},
    {"conditional comments",
     "/*!40101 SELECT 'cond;1' */;\n"
     "/*M!100100 SELECT 'cond;2' */;\n"
     "SELECT 1 /*! , 2 */;\n"
     "/* plain ; comment */ SELECT 3;\n"
     "/*!40101 SELECT \"in;code\" */;\n"},
    {"delimiter changes",
     "DELIMITER //\n"
     "BEGIN NOT ATOMIC SELECT 'in;body'; SELECT 2; END //\n"
     "SELECT 'x;y' //\n"
     "DELIMITER ;\n"
     "SELECT 'back';\n"
     "DELIMITER $$\n"
     "SELECT \"q$$\", 'r$$' $$\n"
     "delimiter ;\n"
     "SELECT 'done';\n"},
    {"the mode changes on the way",
     "SELECT 'a';\n"
     "SET sql_mode = 'NO_BACKSLASH_ESCAPES';\n"
     "SELECT 'c\\';\n"
     "SELECT 'd';\n"
     "SET sql_mode = 'ANSI_QUOTES';\n"
     "SELECT \"e\\\" FROM (SELECT 1 AS \"e\\\") AS t;\n"
     "SET sql_mode = '';\n"
     "SELECT 'g\\';h';\n"},
};

const char* const kModes[] = {"", "NO_BACKSLASH_ESCAPES", "ANSI_QUOTES",
                              "ANSI_QUOTES,NO_BACKSLASH_ESCAPES"};

// A value as the client prints it in batch mode.
QString batchText(const db::Value& v) {
    if (v.isNull()) return QStringLiteral("NULL");
    QString out;
    for (const QChar c : v.text()) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == QChar(0))
            out += QStringLiteral("\\0");
        else
            out += c;
    }
    return out;
}

struct Outcome {
    QStringList rows;  // each result row, its values joined by tabs
    int errors = 0;
};

// The real client, reading the script from its standard input as `mariadb db < file` does.
Outcome clientOutcome(const std::string& script) {
    const db::ConnectParams p = testserver::params();
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MYSQL_PWD"), p.password);
    client.setProcessEnvironment(env);
    client.start(QStringLiteral("/usr/bin/mariadb"),
                 {QStringLiteral("--no-defaults"), QStringLiteral("--batch"),
                  QStringLiteral("--skip-column-names"), QStringLiteral("--force"),
                  QStringLiteral("--protocol=TCP"), QStringLiteral("-h"),
                  testserver::hostField().section(u':', 0, 0), QStringLiteral("-P"),
                  testserver::hostField().section(u':', 1), QStringLiteral("-u"), p.user});
    EXPECT_TRUE(client.waitForStarted(10000)) << "cannot start /usr/bin/mariadb";
    client.write(script.data(), qint64(script.size()));
    client.closeWriteChannel();
    EXPECT_TRUE(client.waitForFinished(60000));
    Outcome o;
    const QString out = QString::fromUtf8(client.readAllStandardOutput());
    for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts)) o.rows << line;
    const QString err = QString::fromUtf8(client.readAllStandardError());
    EXPECT_EQ(client.exitStatus(), QProcess::NormalExit) << err.toStdString();
    // Only the server's errors ("ERROR 1064 (42000) at line 3: ..."): the client also
    // complains of a backslash outside quotes, which it takes for one of its commands.
    static const QRegularExpression serverError(QStringLiteral("^ERROR \\d+ "));
    for (const QString& line : err.split(u'\n', Qt::SkipEmptyParts))
        if (serverError.match(line).hasMatch()) ++o.errors;
    return o;
}

// Run script, which splits as it runs with the connection's rules.
Outcome ownOutcome(const std::string& script) {
    db::Connection c = testserver::connect();
    Outcome o;
    ScriptRun::run(
        c, script, false,
        [&](const ScriptStep& step, const std::string&, std::vector<db::Result>& results) {
            if (!step.ok) ++o.errors;
            for (db::Result& r : results) {
                r.seek(0);
                while (r.next()) {
                    QStringList values;
                    for (unsigned k = 0; k < r.columnCount(); ++k) values << batchText(r.value(k));
                    o.rows << values.join(u'\t');
                }
            }
            return true;
        });
    return o;
}

class SplitLikeTheClient : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(SplitLikeTheClient, InEverySqlMode) {
    qsizetype clientRows = 0;
    for (const char* mode : kModes) {
        const std::string script =
            std::string("SET sql_mode = '") + mode + "';\n" + GetParam().script;
        const Outcome client = clientOutcome(script);
        const Outcome own = ownOutcome(script);
        clientRows += client.rows.size();
        EXPECT_EQ(own.rows.join(u'\n').toStdString(), client.rows.join(u'\n').toStdString())
            << "mode '" << mode << "'";
        EXPECT_EQ(own.errors, client.errors) << "mode '" << mode << "'";
    }
    EXPECT_GT(clientRows, 0) << "the client printed no rows in any mode";
}

INSTANTIATE_TEST_SUITE_P(Scripts, SplitLikeTheClient, ::testing::ValuesIn(kScripts));

// ---- The rules themselves ----------------------------------------------------------------

struct SplitCase {
    const char* script;
    sqllex::Rules rules;
    std::vector<std::string> statements;
};

TEST(SqlLex, SplitsByTheRulesGiven) {
    const SplitCase cases[] = {
        {"SELECT 'a\\';b';SELECT 2", kDefault, {"SELECT 'a\\';b'", "SELECT 2"}},
        {"SELECT 'a\\';b';SELECT 2", kNoBackslash, {"SELECT 'a\\'", "b';SELECT 2"}},
        {"SELECT \"a\\\";b\";SELECT 2", kAnsi, {"SELECT \"a\\\"", "b\";SELECT 2"}},
        {"SELECT \"a\\\";b\";SELECT 2", kDefault, {"SELECT \"a\\\";b\"", "SELECT 2"}},
        {"SELECT 'x\\';y';SELECT 2", kAnsi, {"SELECT 'x\\';y'", "SELECT 2"}},
        {"SELECT `a\\`;SELECT 2", kDefault, {"SELECT `a\\`", "SELECT 2"}},
    };
    for (const SplitCase& c : cases) {
        std::vector<std::string> got;
        for (const sqllex::ScriptStatement& s : sqllex::splitSqlScript(c.script, c.rules))
            got.push_back(s.text);
        EXPECT_EQ(got, c.statements) << c.script;
    }
}

TEST(SqlLex, ReadsTheModeOfSqlModeAndItsChanges) {
    EXPECT_EQ(sqllex::rulesOfSqlMode("STRICT_TRANS_TABLES,ANSI_QUOTES"), kAnsi);
    EXPECT_EQ(sqllex::rulesOfSqlMode("no_backslash_escapes"), kNoBackslash);
    EXPECT_EQ(sqllex::rulesOfSqlMode("ANSI_QUOTES_X,NO_ENGINE_SUBSTITUTION"), kDefault);
    EXPECT_TRUE(sqllex::maySetSqlMode("/*!40101 SET @OLD=@@SQL_MODE, SQL_MODE='' */"));
    EXPECT_TRUE(sqllex::maySetSqlMode("set session sql_mode = 'ANSI'"));
    EXPECT_FALSE(sqllex::maySetSqlMode("SET @x = 'sql_mode'"));
    EXPECT_FALSE(sqllex::maySetSqlMode("SELECT @@sql_mode"));
}

TEST(SqlLex, FollowsLiteralChangesOfTheModeThroughAScript) {
    struct Case {
        std::vector<const char*> statements;
        sqllex::Rules rules;
    };
    const Case cases[] = {
        {{"SET sql_mode = 'ANSI_QUOTES'"}, kAnsi},
        {{"SET SESSION sql_mode='NO_BACKSLASH_ESCAPES,ANSI_QUOTES'"}, kBoth},
        {{"SET @@session.SQL_MODE := \"NO_BACKSLASH_ESCAPES\""}, kNoBackslash},
        {{"SET GLOBAL sql_mode = 'ANSI_QUOTES'"}, kDefault},
        {{"SET @@global.sql_mode = 'ANSI_QUOTES'"}, kDefault},
        {{"SET sql_mode = CONCAT(@@sql_mode, ',ANSI_QUOTES')"}, kDefault},
        {{"/*!40101 SET @OLD_SQL_MODE=@@SQL_MODE, SQL_MODE='ANSI_QUOTES' */"}, kAnsi},
        {{"/*!40101 SET @OLD_SQL_MODE=@@SQL_MODE, SQL_MODE='ANSI_QUOTES' */",
          "/*!40101 SET SQL_MODE=@old_sql_mode */"},
         kDefault},
        {{"SELECT 'SET sql_mode = ''ANSI_QUOTES'''"}, kDefault},
    };
    for (const Case& c : cases) {
        sqllex::SqlModeFollower follower(kDefault);
        for (const char* statement : c.statements) follower.after(statement);
        EXPECT_EQ(follower.rules(), c.rules) << c.statements.back();
    }
}

TEST(SqlLex, CarriesOpenTextIntoTheNextPiece) {
    std::u16string_view line1 = u"SELECT \"a\\\" b";
    sqllex::TextLexer first(line1, kAnsi);
    sqllex::Token t;
    while ((t = first.next()).kind != sqllex::Kind::End && t.kind != sqllex::Kind::Name) {
    }
    EXPECT_EQ(line1.substr(t.begin, t.size()), u"\"a\\\"");  // closed: no escape in a name
    sqllex::TextLexer open(u"SELECT 'a\\' b", kDefault);
    while ((t = open.next()).kind != sqllex::Kind::End) {
    }
    EXPECT_EQ(open.state().inside, sqllex::State::Single);
    sqllex::TextLexer rest(u"c' /*!50000 x", kDefault, open.state());
    EXPECT_EQ(rest.next().kind, sqllex::Kind::String);
    while ((t = rest.next()).kind != sqllex::Kind::End) {
    }
    EXPECT_EQ(sqllex::State::unpacked(rest.state().packed()), rest.state());
    EXPECT_TRUE(rest.state().inCode);
}

// ---- The readers that use the rules ------------------------------------------------------

TEST(SqlLex, ForeignStatementsAreReadInTheRules) {
    const QString db = QStringLiteral("target");
    EXPECT_FALSE(dump::foreignReason("INSERT INTO \"other\".t VALUES (1)", db, kAnsi).isEmpty());
    EXPECT_EQ(dump::usedDatabase("USE \"shop\"", kAnsi), QStringLiteral("shop"));
    // Where backslashes are ordinary, 'a\' ends before the statement goes on.
    EXPECT_FALSE(
        dump::foreignReason("SELECT 'a\\' INTO OUTFILE '/tmp/x'", db, kNoBackslash).isEmpty());
    EXPECT_TRUE(dump::foreignReason("SELECT 'a\\' INTO OUTFILE '/tmp/x'", db, kDefault).isEmpty());

    // The look through a file follows its SET sql_mode statements.
    QByteArray script =
        "/*!40101 SET @OLD_SQL_MODE=@@SQL_MODE, SQL_MODE='ANSI_QUOTES' */;\n"
        "INSERT INTO \"other\".t VALUES (1);\n"
        "/*!40101 SET SQL_MODE=@OLD_SQL_MODE */;\n"
        "INSERT INTO t VALUES (\"other\".x);\n";
    QBuffer input(&script);
    input.open(QIODevice::ReadOnly);
    const dump::ScriptScan scan = dump::scanScript(input, db, true);
    ASSERT_EQ(scan.foreign.size(), 1u);
    EXPECT_EQ(scan.foreign[0].line, 2);
}

TEST(SqlLex, HistoryMasksPasswordsInTheSessionsRules) {
    const QString statement = QStringLiteral("SELECT 'a\\'; CREATE USER u IDENTIFIED BY 'secret'");
    EXPECT_FALSE(maskPasswords(statement, kNoBackslash).contains(u"secret"));
    EXPECT_EQ(maskPasswords(statement, kDefault), statement);  // all one string there
}

TEST(SqlLex, CompletionAndColouringFollowAnsiQuotes) {
    const Completion::Request r =
        Completion::requestAt(QStringLiteral("SELECT \"my co"), 13, kAnsi);
    EXPECT_TRUE(r.quoted);
    EXPECT_EQ(r.prefix, QStringLiteral("my co"));
    EXPECT_FALSE(Completion::requestAt(QStringLiteral("SELECT \"my co"), 13, kDefault).quoted);
    const Completion::Request column =
        Completion::requestAt(QStringLiteral("SELECT \"my db\".`t``1`.co"), 24, kAnsi);
    EXPECT_EQ(column.database, QStringLiteral("my db"));
    EXPECT_EQ(column.qualifier, QStringLiteral("t`1"));
    EXPECT_EQ(column.prefix, QStringLiteral("co"));
    const auto named =
        Completion::tablesNamed(QStringLiteral("SELECT 'a;b' FROM \"t 1\" x WHERE x."), 34, kAnsi);
    ASSERT_TRUE(named.contains(QStringLiteral("x")));
    EXPECT_EQ(named.value(QStringLiteral("x")).name, QStringLiteral("t 1"));

    QTextDocument doc;
    doc.setPlainText(QStringLiteral("SELECT \"a\\\" FROM t"));
    SqlHighlighter h(&doc);
    const auto formatAt = [&](int column) {
        for (const QTextLayout::FormatRange& r : doc.firstBlock().layout()->formats())
            if (column >= r.start && column < r.start + r.length) return r.format;
        return QTextCharFormat();
    };
    EXPECT_EQ(formatAt(13), h.format(SqlHighlighter::String));  // the string runs on
    h.setRules(kAnsi);
    EXPECT_EQ(formatAt(8), h.format(SqlHighlighter::QuotedName));
    EXPECT_EQ(formatAt(13), h.format(SqlHighlighter::Keyword));  // FROM, after the name
}

// ---- The server's rules -----------------------------------------------------------------

TEST(SqlLex, ConnectionReportsTheRulesOfItsSqlMode) {
    db::Connection c = testserver::connect();
    const std::pair<const char*, sqllex::Rules> modes[] = {
        {"ANSI_QUOTES", kAnsi},
        {"NO_BACKSLASH_ESCAPES", kNoBackslash},
        {"ANSI", kAnsi},
        {"ANSI_QUOTES,NO_BACKSLASH_ESCAPES", kBoth},
        {"", kDefault}};
    for (const auto& [mode, rules] : modes) {
        c.exec(std::string("SET sql_mode = '") + mode + "'");
        EXPECT_EQ(c.sqlRules(), rules) << mode;
    }
}

TEST(SqlLex, RestoreReadsEachStatementInTheModeBeforeIt) {
    ScratchDatabase target(QStringLiteral("lex"));
    target.exec("CREATE TABLE t (v VARCHAR(20))");
    QByteArray script =
        "SET sql_mode = 'NO_BACKSLASH_ESCAPES';\n"
        "INSERT INTO t VALUES ('a\\');\n"
        "INSERT INTO t VALUES ('b');\n"
        "SET sql_mode = 'ANSI_QUOTES';\n"
        "INSERT INTO \"t\" VALUES ('c\\';d');\n";
    QBuffer input(&script);
    input.open(QIODevice::ReadOnly);
    db::Connection c = testserver::connect();
    dump::RestoreEngine engine(c, target.name());
    dump::RunOptions options;
    options.format = dump::ScriptFormat::Plain;
    const dump::RestoreRun run = engine.run(input, dump::RunKind::Script, {}, options);
    const QString error = failureOf([&] { engine.finish(); });
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(run.failures, 0u) << run.fatal.toStdString();
    EXPECT_EQ(target.scalar("SELECT GROUP_CONCAT(v ORDER BY v SEPARATOR '|') FROM t"),
              QStringLiteral("a\\|b|c';d"));
}

}  // namespace
