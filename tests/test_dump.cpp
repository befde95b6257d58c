#include <gtest/gtest.h>
#include <csignal>

#include <QBuffer>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <sys/stat.h>
#include <QThread>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <optional>

#include "db/Connection.h"
#include "dump/DumpCommands.h"
#include "dump/DumpFormat.h"
#include "dump/DumpWriter.h"
#include "dump/RestoreEngine.h"
#include "dump/ScriptScan.h"
#include "support/Failures.h"
#include "support/TestNames.h"
#include "dump/RestoreStatus.h"
#include "dump/RestoreTally.h"
#include "dump/StatementReader.h"
#include "dump/TfrmRestore.h"
#include "dump/TfrmSchema.h"
#include "registry/ServerRegistry.h"
#include "support/CliRunner.h"
#include "support/FileSizeLimit.h"
#include "support/ScriptedPrompts.h"
#include "support/TestFiles.h"
#include "support/TestServer.h"
#include "support/TreeFixture.h"

namespace {

using Row = std::vector<std::optional<std::string>>;

std::string q(const QString& name) { return db::quoteIdentifier(name); }

// Every column, the invisible and generated ones too, of every row, as bytes; sorted.
std::vector<Row> rowsOf(db::Connection& c, const QString& database, const std::string& table) {
    db::Result names = c.select(
        "SELECT COLUMN_NAME FROM information_schema.COLUMNS WHERE "
        "TABLE_SCHEMA = " +
        c.quoteValue(database) + " AND TABLE_NAME = " + c.quoteValue(table) +
        " ORDER BY ORDINAL_POSITION");
    std::string list;
    while (names.next())
        list += (list.empty() ? "" : ",") + db::quoteIdentifier(names.value(0).view());
    db::Result r =
        c.select("SELECT " + list + " FROM " + q(database) + "." + db::quoteIdentifier(table));
    std::vector<Row> rows;
    while (r.next()) {
        Row row;
        for (unsigned i = 0; i < r.columnCount(); ++i) {
            const db::Value v = r.value(i);
            row.push_back(v.isNull() ? std::nullopt : std::optional<std::string>(v.view()));
        }
        rows.push_back(std::move(row));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::vector<std::pair<std::string, std::string>> objectsOf(db::Connection& c, const QString& db) {
    db::Result r = c.select("SHOW FULL TABLES FROM " + q(db));
    std::vector<std::pair<std::string, std::string>> out;
    while (r.next()) out.emplace_back(r.value(0).view(), r.value(1).view());
    std::sort(out.begin(), out.end());
    return out;
}

std::string createOf(db::Connection& c, const QString& database, const std::string& table) {
    c.selectDb(database);  // view texts name no database only when it is current
    db::Result r = c.select("SHOW CREATE TABLE " + q(database) + "." + db::quoteIdentifier(table));
    return r.next() ? std::string(r.value(1).view()) : std::string();
}

// Same tables and views, same definitions, same values byte for byte.
void expectSameDatabase(const QString& source, const QString& target) {
    db::Connection c = testserver::connect();
    c.exec("SET time_zone = '+00:00'");
    const auto objects = objectsOf(c, source);
    ASSERT_FALSE(objects.empty());
    EXPECT_EQ(objectsOf(c, target), objects);
    for (const auto& [name, type] : objects) {
        EXPECT_EQ(createOf(c, target, name), createOf(c, source, name)) << name;
        EXPECT_EQ(rowsOf(c, target, name), rowsOf(c, source, name)) << name;
    }
}

// A database full of values and names that are hard to write down and read back.
void fillAwkward(ScratchDatabase& s) {
    db::Connection& c = s.connection();
    s.exec("SET SESSION sql_mode = 'NO_AUTO_VALUE_ON_ZERO', time_zone = '+09:00'");
    // child sorts before parent: its rows and its key come first in the files.
    s.exec("CREATE TABLE parent (id INT PRIMARY KEY) ENGINE=InnoDB");
    s.exec(
        "CREATE TABLE child (id INT PRIMARY KEY, pid INT NOT NULL, CONSTRAINT fk_child "
        "FOREIGN KEY (pid) REFERENCES parent (id)) ENGINE=InnoDB");
    s.exec("INSERT INTO parent VALUES (1), (2)");
    s.exec("INSERT INTO child VALUES (10, 2), (11, 1)");
    s.exec("CREATE TABLE `select` (`from` INT PRIMARY KEY, `where` VARCHAR(10))");
    s.exec("INSERT INTO `select` VALUES (1, 'order'), (2, NULL)");
    s.exec(
        "CREATE TABLE `odd ``name`` 'q' \"dq\"` (`col ``x`` 'y'` INT PRIMARY KEY, "
        "`sp ace` TEXT, hidden INT INVISIBLE)");
    s.exec(
        "INSERT INTO `odd ``name`` 'q' \"dq\"` (`col ``x`` 'y'`, `sp ace`, hidden) "
        "VALUES (1, ' lead and trail ', 5)");

    s.exec(
        "CREATE TABLE vals (id INT PRIMARY KEY AUTO_INCREMENT, t TEXT, v VARCHAR(255), "
        "c CHAR(10), ti TINYINT, si SMALLINT UNSIGNED, mi MEDIUMINT, bi BIGINT UNSIGNED, "
        "de DECIMAL(30,10), f FLOAT, d DOUBLE, dt DATE, tm TIME(6), dtt DATETIME(6), "
        "ts TIMESTAMP(6) NULL DEFAULT NULL, y YEAR, bt BIT(13), j JSON, g GEOMETRY, "
        "bl LONGBLOB, vb VARBINARY(300), bn BINARY(4), e ENUM('a','b c',''), "
        "st SET('x','y'), gen_v INT AS (ti + 1) VIRTUAL, "
        "gen_s VARCHAR(300) AS (CONCAT(v, '!')) STORED) CHARACTER SET utf8mb4");
    std::string all256;
    for (int b = 0; b < 256; ++b) all256 += char(b);
    static const char kNasty[] =
        "q'uote \"dq\" back\\slash CR\r LF\n CRLF\r\n zero\0 ctrlz\x1a end";
    const std::string nasty(kNasty, sizeof kNasty - 1);
    s.exec("INSERT INTO vals VALUES (0, " + c.quoteValue(nasty) + ", " +
           c.quoteValue(std::string_view("  \xED\x95\x9C\xEA\xB8\x80 \xF0\x9F\x98\x80 ")) +
           ", '  c', -128, 65535, -8388608, 18446744073709551615, "
           "-12345678901234567890.0123456789, 3.14159, 0.1, '0000-00-00', "
           "'-838:59:59.000000', '0000-00-00 00:00:00.000000', '2021-03-28 02:30:00.123456', "
           "0, b'1010101010101', '{\"k\": \"v\\\\\"q\\\\n\", \"arr\": [1, 2.5, null]}', "
           "ST_GeomFromText('POLYGON((0 0,10 0,10 10,0 10,0 0))'), " +
           c.quoteValue(all256) + ", '', 0x00000000, '', 'x,y', DEFAULT, DEFAULT)");
    s.exec("INSERT INTO vals (id) VALUES (1)");  // NULL next to the empty values above
    s.exec(
        "INSERT INTO vals (id, t, v, c, d, f, dt, tm, y, bt, j, g, bl, vb, e, st) VALUES "
        "(2, '', '', '', 1.7976931348623157e308, -1.5e-10, '2020-02-29', '12:34:56.789012', "
        "2155, b'0', '[]', POINT(1, 2), '', 'x', 'b c', ''), "
        "(3, NULL, '\\\\', NULL, -2.2250738585072014e-308, NULL, NULL, NULL, NULL, NULL, "
        "NULL, NULL, NULL, NULL, NULL, NULL)");

    std::string wide = "CREATE TABLE wide (id INT PRIMARY KEY";
    std::string values = "(1", values2 = "(2";
    for (int i = 1; i < 300; ++i) {
        wide +=
            i % 2 ? ", c" + std::to_string(i) + " INT" : ", c" + std::to_string(i) + " VARCHAR(3)";
        values += i % 2 ? ", " + std::to_string(i) : ", 'v" + std::to_string(i % 100) + "'";
        values2 += ", NULL";
    }
    s.exec(wide + ")");
    s.exec("INSERT INTO wide VALUES " + values + "), " + values2 + ")");

    // a_view sorts first but selects from v_vals.
    s.exec("CREATE VIEW v_vals AS SELECT id, v FROM vals WHERE id < 3");
    s.exec("CREATE VIEW a_view AS SELECT id FROM v_vals");
}

dump::RestoreRun runFile(dump::RestoreEngine& engine, const QString& path, dump::RunKind kind) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) ADD_FAILURE() << "cannot open " << path.toStdString();
    return engine.run(f, kind, {});
}

dump::RestoreRun runText(db::Connection& c, const QString& database, const QByteArray& text,
                         const dump::RestoreProgressFn& progress = {}) {
    QByteArray copy = text;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    dump::RestoreEngine engine(c, database);
    dump::RestoreRun run = engine.run(buffer, dump::RunKind::Script, progress);
    QString error;
    EXPECT_TRUE(attempt(&error, [&] { engine.finish(); })) << error.toStdString();
    return run;
}

// ---- the file format -------------------------------------------------------------------

struct PathCase {
    const char* schema;
    const char* data;
};

class DataFilePath : public ::testing::TestWithParam<PathCase> {};

TEST_P(DataFilePath, ReplacesTheLastThreeCharactersWithinTheFolder) {
    EXPECT_EQ(dump::dataFilePath(QString::fromUtf8(GetParam().schema)),
              QString::fromUtf8(GetParam().data));
}

INSTANTIATE_TEST_SUITE_P(Names, DataFilePath,
                         ::testing::Values(PathCase{"/d/dump.sql", "/d/dump.dat"},
                                           PathCase{"/d/a.text", "/d/a.tdat"},
                                           PathCase{"/d/backup.sql", "/d/backup.dat"},
                                           PathCase{"/d/ab", "/d/ab.dat"},
                                           PathCase{"/d/x.dat", "/d/x.dat"}));

TEST(DumpFormat, DefaultSuffixCaseAndCommentNames) {
    EXPECT_EQ(dump::withDefaultSuffix(QStringLiteral("/d/backup")),
              QStringLiteral("/d/backup.sql"));
    EXPECT_EQ(dump::withDefaultSuffix(QStringLiteral("/d/b.txt")), QStringLiteral("/d/b.txt"));

    // Words change; names, literals and routine bodies do not; comment lines change whole.
    struct {
        const char* text;
        const char* lower;
    } cases[] = {
        {"CREATE table `T\xED\x95\x9C` (a ENUM('PG','x\\'Y')) -- Z",
         "create table `T\xED\x95\x9C` (a enum('PG','x\\'Y')) -- z"},
        {"# Table structure for table 'Actor'\r\nCREATE TABLE `Actor` (`A` INT);#+----\r\n",
         "# table structure for table 'actor'\r\ncreate table `Actor` (`A` int);#+----\r\n"},
        {"CREATE DEFINER=`R`@`%` PROCEDURE `P`()\nBEGIN SELECT A FROM T; END;#+----\r\nSET A = 'B';#+----",
         "CREATE DEFINER=`R`@`%` PROCEDURE `P`()\nBEGIN SELECT A FROM T; END;#+----\r\nset a = 'B';#+----"},
    };
    for (const auto& c : cases) {
        QByteArray text(c.text);
        dump::convertCase(text, dump::LetterCase::Lower);
        EXPECT_EQ(text, QByteArray(c.lower)) << c.text;
    }
    QByteArray upper("create table `t` (a int comment 'x')");
    dump::convertCase(upper, dump::LetterCase::Upper);
    EXPECT_EQ(upper, QByteArray("CREATE TABLE `t` (A INT COMMENT 'x')"));

    EXPECT_EQ(dump::commentText("a\rb\nc\x1a"), QByteArray("a b c "));
}

TEST(DumpFormat, CreateTextKeepsWhatTheReaderRejoins) {
    // Line breaks after "(" and "," become CR LF; one between two words must not vanish
    // when the reader joins trimmed lines; one inside a quoted name stays a lone LF.
    const std::string create =
        "CREATE TABLE `a\nb` (\n  `id` int(11) NOT NULL COMMENT 'x\\ny',\n  PRIMARY KEY (`id`)\n)"
        " ENGINE=InnoDB DEFAULT CHARSET=latin1\n PARTITION BY RANGE (`id`)\n(PARTITION `p0` "
        "VALUES LESS THAN (10) ENGINE = InnoDB,\n PARTITION `p1` VALUES LESS THAN MAXVALUE "
        "ENGINE = InnoDB)";
    const QByteArray lines = dump::createTextLines(create);
    EXPECT_EQ(lines,
              QByteArray("CREATE TABLE `a\nb` (\r\n  `id` int(11) NOT NULL COMMENT 'x\\ny',\r\n"
                         "  PRIMARY KEY (`id`)\r\n) ENGINE=InnoDB DEFAULT CHARSET=latin1  "
                         "PARTITION BY RANGE (`id`)\r\n(PARTITION `p0` VALUES LESS THAN (10) "
                         "ENGINE = InnoDB,\r\n PARTITION `p1` VALUES LESS THAN MAXVALUE ENGINE "
                         "= InnoDB)"));
}

// ---- the statement reader --------------------------------------------------------------

struct ReaderCase {
    const char* name;
    std::string input;
    std::vector<std::string> statements;
    std::string leftover;
    bool pastCtrlZ = false;
    qint64 ctrlZLine = 0;
};

std::ostream& operator<<(std::ostream& os, const ReaderCase& c) { return os << c.name; }

class Reader : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(Reader, CutsStatements) {
    QByteArray bytes(GetParam().input.data(), qsizetype(GetParam().input.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    dump::StatementReader reader(buffer, dump::StatementReader::kDefaultLimit,
                                 GetParam().pastCtrlZ);
    std::vector<std::string> statements;
    std::string_view statement;
    while (reader.next(statement)) statements.emplace_back(statement);
    EXPECT_EQ(statements, GetParam().statements);
    EXPECT_EQ(reader.leftover(), GetParam().leftover);
    EXPECT_EQ(reader.ctrlZLine(), GetParam().ctrlZLine);
    EXPECT_FALSE(reader.failed());
}

const std::string kM = ";#+----";

INSTANTIATE_TEST_SUITE_P(
    Cases, Reader,
    ::testing::Values(
        ReaderCase{"TableScopeWithoutFinalLineBreak",
                   "#\r\n# Table structure for table 't'\r\n#\r\n\r\nCREATE TABLE `t` (\r\n  `a` "
                   "int\r\n) ENGINE=InnoDB" +
                       kM,
                   {"CREATE TABLE `t` (`a` int) ENGINE=InnoDB"},
                   ""},
        ReaderCase{"CommentPrefixesInEveryCase",
                   "# table structure for table 't'\r\n# DROP FOR TABLE 'T'\r\n# dumping data\r\n"
                   "# MySQL DataBase : d\r\n#-----\r\n# serv x\r\n  #  \r\n# Host h\r\nselect 1" +
                       kM + "\r\n",
                   {"select 1"},
                   ""},
        ReaderCase{"NoteLinesJoinTheNextStatement",
                   "# note\r\nInsert Into t values (1)" + kM + "\r\n",
                   {"# noteInsert Into t values (1)"},
                   ""},
        ReaderCase{"OldStyleLoneCrInsideAValue",
                   "Insert Into t values (1,'ab\r   cd');#+----\r\n",
                   {"Insert Into t values (1,'abcd')"},
                   ""},
        ReaderCase{"LoneLfStaysInsideTheLine",
                   "Insert Into t values ('a\nb')" + kM + "\r\n",
                   {"Insert Into t values ('a\nb')"},
                   ""},
        ReaderCase{"CrLfAndLoneCrEndLinesAlike",
                   "select\r1" + kM + "\rselect\r\n2" + kM + "\r\n",
                   {"select1", "select2"},
                   ""},
        ReaderCase{"CtrlZEndsTheFile",
                   "select 1" + kM + "\r\nselect 2" + kM + "\x1a" + "select 3" + kM + "\r\n",
                   {"select 1", "select 2"},
                   "", false, 2},
        ReaderCase{"CtrlZIsGonePastWhenAsked",
                   "select 1" + kM + "\r\n\x1a\r\nsel\x1a" + "ect 2" + kM + "\r\nselect 3" + kM,
                   {"select 1", "select 2", "select 3"},
                   "", true, 2},
        // Inside a quoted value a Ctrl-Z is data, also where the value spans lines.
        ReaderCase{"CtrlZInsideAValueIsKept",
                   "Insert Into t values ('20\x1a" "06', \"\\'\x1a\")" + kM + "\r\nselect 'a\r\nx\x1a" "b'" + kM,
                   {"Insert Into t values ('20\x1a" "06', \"\\'\x1a\")", "select 'ax\x1a" "b'"},
                   "", false, 0},
        ReaderCase{"CtrlZInsideAValueIsKeptGoingPast",
                   "Insert Into t values ('20\x1a" "06')\x1a" + kM + "\r\nselect 'a''\r\nx\x1a" "b'" + kM,
                   {"Insert Into t values ('20\x1a" "06')", "select 'a''x\x1a" "b'"},
                   "", true, 1},
        // A copy through a Unix tool: LF line breaks, the comment lines left in front.
        ReaderCase{"LfAfterTheMarkerEndsTheStatement",
                   "#\n# Table structure for table 't'\n#\n\nCREATE TABLE `t` (\n  `a` int\n) "
                   "ENGINE=InnoDB" + kM + "\n# Dumping data for table 't'\nInsert Into t values (1)" +
                       kM + "\n",
                   {"CREATE TABLE `t` (\n  `a` int\n) ENGINE=InnoDB", "Insert Into t values (1)"},
                   ""},
        ReaderCase{"MixedLineEnds",
                   "select 1" + kM + "\r\nselect 2" + kM + "\nselect 3" + kM + "\rselect 4" + kM,
                   {"select 1", "select 2", "select 3", "select 4"},
                   ""},
        ReaderCase{"TextAfterTheLastMarkerIsLeftOver",
                   "select 1" + kM + "\r\nInsert Into t\r\n values (2)\r\n",
                   {"select 1"},
                   "Insert Into tvalues (2)"},
        ReaderCase{"MarkerNotAtTheLineEndDoesNotEndTheStatement",
                   "select ';#+----x'\r\n, 2" + kM + "\r\n",
                   {"select ';#+----x', 2"},
                   ""},
        ReaderCase{"EmptyInput", "", {}, ""},
        ReaderCase{"ByteOrderMarkAtTheHead", "\xEF\xBB\xBF" "select 1" + kM + "\r\n", {"select 1"}, ""},
        ReaderCase{"StatementLongerThanOneRead",
                   "select '" + std::string(2'500'000, 'x') + "'" + kM + "\r\nselect 2" + kM,
                   {"select '" + std::string(2'500'000, 'x') + "'", "select 2"},
                   ""}),
    [](const auto& info) { return std::string(info.param.name); });

// What a restore into database "db" would do beyond it: each case a statement and the start
// of the reason (empty: it stays in the database).
TEST(ForeignStatements, AreToldApartFromTheDumpsOwn) {
    const std::pair<const char*, const char*> cases[] = {
        {"Insert Into `t` values (1,'USE other; DROP DATABASE x')", ""},
        {"CREATE TABLE `t` (`a` int) ENGINE=InnoDB", ""},
        {"Drop Table If Exists `a`, `db`.`b`", ""},
        {"CREATE ALGORITHM=UNDEFINED DEFINER=`u`@`%` SQL SECURITY DEFINER VIEW `v` AS select "
         "`src`.`t`.`a` AS `a` from `src`.`t`",
         ""},
        {"SET NAMES utf8mb4, @OLD = @@session.sql_mode", ""},
        {"START TRANSACTION", ""},
        {"SELECT 1.5, t.a FROM t", ""},
        {"USE db", ""},
        {"USE other", "selects the database `other`"},
        {"use `we ird`", "selects the database `we ird`"},
        {"DROP DATABASE other", "drops a database"},
        {"create schema if not exists x", "creates a database"},
        {"SET GLOBAL max_connections = 1", "changes a server-wide setting"},
        {"SET @@global.read_only = 1", "changes a server-wide setting"},
        {"/*!40101 SET GLOBAL x = 1 */", "changes a server-wide setting"},
        {"GRANT ALL ON *.* TO 'x'@'%' WITH GRANT OPTION", "changes privileges"},
        {"CREATE USER 'x'@'%'", "changes accounts"},
        {"SET PASSWORD FOR root@localhost = PASSWORD('x')", "changes accounts"},
        {"SHUTDOWN", "stops the server"},
        {"INSTALL SONAME 'ha_x'", "installs or removes a plugin"},
        {"Insert Into other.t values (1)", "acts on the database `other`"},
        {"INSERT IGNORE INTO `Db`.`t` VALUES (1)", "acts on the database `Db`"},
        {"Drop Table If Exists `a`, `other`.`b`", "acts on the database `other`"},
        {"RENAME TABLE t TO other.t", "acts on the database `other`"},
        {"CREATE TRIGGER tr BEFORE INSERT ON other.t FOR EACH ROW SET @a = 1",
         "acts on the database `other`"},
        {"SELECT * FROM t INTO OUTFILE '/tmp/x'", "writes a file on the server"},
        {"LOAD DATA LOCAL INFILE '/etc/passwd' INTO TABLE t", "reads a file"},
        {"CREATE FUNCTION f RETURNS STRING SONAME 'x.so'", "loads a plugin library"},
    };
    for (const auto& [statement, reason] : cases) {
        const QString got = dump::foreignReason(statement, QStringLiteral("db"));
        if (*reason == 0)
            EXPECT_TRUE(got.isEmpty()) << statement << " -> " << got.toStdString();
        else
            EXPECT_TRUE(got.startsWith(QLatin1String(reason))) << statement << " -> " << got.toStdString();
    }
}

TEST(ForeignStatements, FilesAreSniffedForText) {
    EXPECT_EQ(dump::sniffText(""), dump::TextKind::Empty);
    EXPECT_EQ(dump::sniffText("select 1;#+----\r\n"), dump::TextKind::Text);
    EXPECT_EQ(dump::sniffText("\xFF\xFEs\0e\0"), dump::TextKind::Utf16);
    EXPECT_EQ(dump::sniffText(QByteArray("s\0e\0l\0e\0c\0t\0", 12)), dump::TextKind::Utf16);
    static const char jpeg[] = "\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\x01\x01\0H\0H\0\0"
                               "\xFF\xDB\0C\0\x08\x06\x06\x07\x06\x05\x08\x07\x07\x07\t\t";
    EXPECT_EQ(dump::sniffText(QByteArray(jpeg, sizeof jpeg - 1)), dump::TextKind::Binary);
}

TEST(RestoreStatus, NumbersInsertsPerTableAndNamesObjects) {
    dump::RestoreStatus status(dump::RunKind::Script);
    std::vector<std::string> texts;
    auto note = [&](const char* statement, bool ok = true) {
        status.note(statement, ok);
        texts.push_back(status.text().toStdString());
    };
    note("Insert Into t values (1)");
    note("Insert Into t values (2)");
    note("insert into u values (1)");
    note("INSERT INTO t values (3)");
    note("Insert Into `my t` (`a`) values (1)");
    note("Drop Table If Exists `my t`");
    note("Drop Table t");
    note("CREATE TABLE `a ``b```(\n`x` int)");
    note("CREATE ALGORITHM=UNDEFINED DEFINER=`u`@`%` SQL SECURITY DEFINER VIEW `v` AS select 1");
    note("SET NAMES utf8mb4");
    note("COMMIT");
    note("Insert Into t values (4)", false);
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "Insert Ok! - t[1]", "Insert Ok! - t[2]", "Insert Ok! - u[1]",
                         "Insert Ok! - t[1]", "Insert Ok! - `my t`[1]", "Drop Ok! - `my t`",
                         "Drop Ok! - t", "Crerate Ok! - `a ``b```", "Crerate Ok! - `v`",
                         "Qurey OK!", "Qurey OK!", "Restore Error - Exec"}));

    // A refused data statement leaves the status of the one before.
    dump::RestoreStatus data(dump::RunKind::Data);
    data.note("Insert Into t values (1)", true);
    data.note("Insert Into t values (1)", false);
    EXPECT_EQ(data.text(), QStringLiteral("Insert Ok! - t[1]"));
}

struct BatchCase {
    const char* statement;
    bool noBackslashEscapes;
    bool selfContained;
};

class SelfContained : public ::testing::TestWithParam<BatchCase> {};

TEST_P(SelfContained, OnlyStatementsThatCannotSwallowTheNextShareATrip) {
    EXPECT_EQ(
        dump::RestorePolicy::selfContained(GetParam().statement,
                                           sqllex::Rules{!GetParam().noBackslashEscapes}),
        GetParam().selfContained)
        << GetParam().statement;
}

INSTANTIATE_TEST_SUITE_P(
    Statements, SelfContained,
    ::testing::Values(BatchCase{"Insert Into t values (1,'a;b#c--d/*e')", false, true},
                      BatchCase{"Insert Into t values ('O\\'Neil','\\\\')", false, true},
                      BatchCase{"Insert Into t values ('it''s', \"q\"\"q\", `a``b`)", false, true},
                      BatchCase{"Insert Into t values ('O\\'Neil')", true, false},
                      BatchCase{"Insert Into t values ('open", false, false},
                      BatchCase{"select 1; drop table x", false, false},
                      BatchCase{"select 1 # comment", false, false},
                      BatchCase{"select 1 -- comment", false, false},
                      BatchCase{"select 1 /* c */", false, false},
                      BatchCase{"select 2--1", false, true}, BatchCase{"call p()", false, false},
                      BatchCase{"SET sql_mode = 'ANSI_QUOTES'", false, false},
                      BatchCase{"", false, false}));

struct RowListCase {
    const char* statement;
    const char* rows;  // the text from the row list on; null: the statement cannot join others
};

class RowList : public ::testing::TestWithParam<RowListCase> {};

TEST_P(RowList, OnlyPlainRowListsJoin) {
    const std::string_view statement = GetParam().statement;
    const std::size_t at = dump::RestorePolicy::rowListAt(statement, sqllex::Rules{});
    if (!GetParam().rows)
        EXPECT_EQ(at, std::string_view::npos) << statement;
    else
        EXPECT_EQ(at == std::string_view::npos ? "<none>" : statement.substr(at), GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(
    Statements, RowList,
    ::testing::Values(
        RowListCase{"Insert Into `t` values (1,'a')", "(1,'a')"},
        RowListCase{"insert into t (`a`, `values`) VALUES (1), ( 2 )", "(1), ( 2 )"},
        RowListCase{"Insert Into t values ('x) values (y', \"(\")", "('x) values (y', \"(\")"},
        RowListCase{"Insert Into t values ('it\\'s')", "('it\\'s')"},
        RowListCase{"INSERT INTO t VALUES (1) ON DUPLICATE KEY UPDATE a=VALUES(a)", nullptr},
        RowListCase{"Insert Into t values (1) RETURNING id", nullptr},
        RowListCase{"Insert Into t values (1),", nullptr},
        RowListCase{"Insert Into t select 1", nullptr},
        RowListCase{"Insert Into t values (1", nullptr},
        RowListCase{"REPLACE INTO t VALUES (1)", nullptr}));

// ---- the dump writer against the server -------------------------------------------------

class DumpTest : public ::testing::Test {
protected:
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir;
};

TEST_F(DumpTest, DatabaseSchemaLayout) {
    ScratchDatabase s;
    db::Connection c = testserver::connect();
    dump::DumpWriter writer(c);
    QString error;

    const QByteArray header =
        "#\r\n# MySQL DataBase : " + s.name().toUtf8() + "\r\n#\r\n\r\n" + dump::sessionHeader();
    std::optional<dump::SchemaText> empty = attempt(&error, [&] {
        return writer.schema({s.name(), {}}, true);
    });
    ASSERT_TRUE(empty) << error.toStdString();
    EXPECT_EQ(empty->text, header);

    for (const char* t : {"b", "a", "c"}) s.exec(std::string("CREATE TABLE ") + t + " (x INT)");
    std::optional<dump::SchemaText> schema = attempt(&error, [&] {
        return writer.schema({s.name(), {}}, true);
    });
    ASSERT_TRUE(schema) << error.toStdString();
    QByteArray expected = header;
    for (const char* t : {"c", "b", "a"})
        expected += QByteArray("#\r\n# Drop for Table '") + t +
                    "'\r\n#\r\n\r\nDrop Table If Exists `" + t + "`;#+----\r\n\r\n";
    for (const char* t : {"a", "b", "c"}) {
        QByteArray create = QByteArray::fromStdString(createOf(c, s.name(), t));
        create.replace("\n", "\r\n");
        expected += QByteArray("#\r\n# Table structure for table '") + t + "'\r\n#\r\n\r\n" +
                    create + ";#+----\r\n\r\n";
    }
    EXPECT_EQ(schema->text, expected);
    EXPECT_EQ(schema->tables, 3);

    // Table scope: no header, the marker last.
    std::optional<dump::SchemaText> table =
        attempt(&error, [&] { return writer.schema({s.name(), QStringLiteral("b")}, false); });
    ASSERT_TRUE(table);
    EXPECT_TRUE(
        table->text.startsWith(dump::sessionHeader() + "#\r\n# Table structure for table 'b'"));
    EXPECT_TRUE(table->text.endsWith(";#+----"));

    // The session is left as it was found.
    c.exec("SET time_zone = '+03:00', sql_mode = 'ANSI_QUOTES'");
    ASSERT_TRUE(attempt(&error, [&] { return writer.schema({s.name(), {}}, false); }));
    db::Result r = c.select("SELECT @@time_zone, @@sql_mode");
    ASSERT_TRUE(r.next());
    EXPECT_EQ(r.text(0), QStringLiteral("+03:00"));
    EXPECT_EQ(r.text(1), QStringLiteral("ANSI_QUOTES"));

    EXPECT_FALSE(attempt(&error, [&] {
        return writer.schema({s.name(), QStringLiteral("missing")}, false);
    }));
    EXPECT_TRUE(error.contains(QStringLiteral("doesn't exist"))) << error.toStdString();
}

TEST_F(DumpTest, DataFileLayout) {
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT, a VARCHAR(20), b VARCHAR(20))");
    s.exec("INSERT INTO t VALUES (7, 'O''Neil', NULL), (8, 'a\\\\b', '  x  ')");
    s.exec("CREATE TABLE one (id INT)");
    s.exec("INSERT INTO one VALUES (1)");
    s.exec("CREATE TABLE none (id INT)");
    db::Connection c = testserver::connect();
    dump::DumpWriter writer(c);

    const dump::DumpTarget table{s.name(), QStringLiteral("t")};
    dump::DumpResult result = writer.save(path("t.sql"), "schema", &table, {});
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(readFile(path("t.sql")), QByteArray("schema"));
    EXPECT_EQ(readFile(path("t.dat")),
              dump::sessionHeader() +
                  "# Dumping data for table 't'\r\n#\r\n\r\n"
                  "Insert Into `t` values (7,'O\\'Neil',Null);#+----\r\n"
                  "Insert Into `t` values (8,'a\\\\b','  x  ');#+----\r\n"
                  "# Dumped 2 rows of table 't'\r\n");
    EXPECT_EQ(result.rows, 2u);

    const dump::DumpTarget database{s.name(), {}};
    result = writer.save(path("d.sql"), "", &database, {});
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(readFile(path("d.dat")),
              dump::sessionHeader() +
                  "#\r\n# Dumping data for table 'one'\r\n#\r\n\r\n"
                  "Insert Into `one` values (1);#+----\r\n"
                  "# Dumped 1 rows of table 'one'\r\n"
                  "#\r\n# Dumping data for table 't'\r\n#\r\n\r\n"
                  "Insert Into `t` values (7,'O\\'Neil',Null);#+----\r\n"
                  "Insert Into `t` values (8,'a\\\\b','  x  ');#+----\r\n"
                  "# Dumped 2 rows of table 't'\r\n\r\n\r\n");
    EXPECT_EQ(result.tables, 3);

    // A table without rows still replaces an old data file: no stale rows beside a new schema.
    writeFile(path("none.dat"), "Insert Into `none` values (99);#+----\r\n");
    const dump::DumpTarget none{s.name(), QStringLiteral("none")};
    ASSERT_TRUE(writer.save(path("none.sql"), "", &none, {}).ok);
    EXPECT_EQ(readFile(path("none.dat")), dump::sessionHeader());
}

TEST_F(DumpTest, FailedOrStoppedDumpLeavesTheOldFiles) {
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT)");
    s.exec("INSERT INTO t SELECT seq FROM seq_1_to_2000");
    writeFile(path("old.sql"), "old schema");
    writeFile(path("old.dat"), "old data");
    db::Connection c = testserver::connect();
    dump::DumpWriter writer(c);

    const dump::DumpTarget target{s.name(), {}};
    dump::DumpResult stopped = writer.save(path("old.sql"), "new", &target,
                                           [](const dump::DumpProgress&) { return false; });
    EXPECT_TRUE(stopped.stopped);
    EXPECT_FALSE(stopped.ok);

    const dump::DumpTarget missing{s.name() + QStringLiteral("_gone"), {}};
    dump::DumpResult failed = writer.save(path("old.sql"), "new", &missing, {});
    EXPECT_FALSE(failed.ok);
    EXPECT_FALSE(failed.schemaFailed);
    EXPECT_FALSE(failed.error.isEmpty());

    dump::DumpResult sameFile = writer.save(path("x.dat"), "new", &target, {});
    EXPECT_FALSE(sameFile.ok);
    EXPECT_FALSE(QFile::exists(path("x.dat")));

    dump::DumpResult noFolder = writer.save(path("no/such/dir.sql"), "new", nullptr, {});
    EXPECT_TRUE(noFolder.schemaFailed);

    {
        // The disk fills up while the data file is written: the schema file is not replaced
        // either, or a new schema would stand beside the old rows.
        FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.ok());
        dump::DumpResult full = writer.save(path("old.sql"), "new", &target, {});
        EXPECT_FALSE(full.ok);
        EXPECT_TRUE(full.error.contains(QStringLiteral("File too large"))) << full.error.toStdString();
    }

    EXPECT_EQ(readFile(path("old.sql")), QByteArray("old schema"));
    EXPECT_EQ(readFile(path("old.dat")), QByteArray("old data"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);  // no temporary files left
}

// The acceptance round trip through the engine, for both scopes.
class RoundTrip : public DumpTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RoundTrip, AwkwardValuesComeBackByteForByte) {
    const bool drop = GetParam();
    ScratchDatabase source(QStringLiteral("src"));
    fillAwkward(source);
    ScratchDatabase target(QStringLiteral("dst"));
    if (drop) target.exec("CREATE TABLE vals (junk INT)");  // replaced by the drop block

    db::Connection c = testserver::connect();
    c.exec("SET time_zone = '-07:00'");  // the files do not depend on the session's zone
    dump::DumpWriter writer(c);
    QString error;
    std::optional<dump::SchemaText> schema = attempt(&error, [&] {
        return writer.schema({source.name(), {}}, drop);
    });
    ASSERT_TRUE(schema) << error.toStdString();
    EXPECT_EQ(schema->tables, 8);
    const dump::DumpTarget all{source.name(), {}};
    const dump::DumpResult dumped = writer.save(path("a.sql"), schema->text, &all, {});
    ASSERT_TRUE(dumped.ok) << dumped.error.toStdString();
    EXPECT_EQ(dumped.rows, 13u);
    // Only the comment header names the source: no statement (views included) does.
    EXPECT_FALSE(readFile(path("a.sql")).contains("`" + source.name().toUtf8() + "`"));

    db::Connection r = testserver::connect();
    for (int pass = 0; pass < (drop ? 2 : 1); ++pass) {  // with drop blocks a replay is repeatable
        dump::RestoreEngine engine(r, target.name());
        const dump::RestoreRun script = runFile(engine, path("a.sql"), dump::RunKind::Script);
        EXPECT_TRUE(script.ok()) << dump::failureReport(script, "a.sql").toStdString()
                                 << script.fatal.toStdString();
        const dump::RestoreRun data = runFile(engine, path("a.dat"), dump::RunKind::Data);
        EXPECT_TRUE(data.ok()) << dump::failureReport(data, "a.dat").toStdString();
        EXPECT_EQ(data.statements, 13u + 5u);
        ASSERT_TRUE(attempt(&error, [&] { engine.finish(); })) << error.toStdString();
    }
    expectSameDatabase(source.name(), target.name());
}

INSTANTIATE_TEST_SUITE_P(DropBlocks, RoundTrip, ::testing::Bool());

TEST_F(DumpTest, TableScopeRoundTripOfAViewAndAGeneratedColumn) {
    ScratchDatabase source(QStringLiteral("src"));
    fillAwkward(source);
    ScratchDatabase target(QStringLiteral("dst"));
    db::Connection c = testserver::connect();
    dump::DumpWriter writer(c);
    QString error;
    for (const char* table : {"vals", "v_vals"}) {
        const dump::DumpTarget one{source.name(), QString::fromLatin1(table)};
        std::optional<dump::SchemaText> schema =
            attempt(&error, [&] { return writer.schema(one, true); });
        ASSERT_TRUE(schema) << error.toStdString();
        ASSERT_TRUE(writer.save(path("t.sql"), schema->text, &one, {}).ok);
        dump::RestoreEngine engine(c, target.name());
        EXPECT_TRUE(runFile(engine, path("t.sql"), dump::RunKind::Script).ok()) << table;
        EXPECT_TRUE(runFile(engine, path("t.dat"), dump::RunKind::Data).ok()) << table;
    }
    c.exec("SET time_zone = '+00:00'");
    EXPECT_EQ(rowsOf(c, target.name(), "vals"), rowsOf(c, source.name(), "vals"));
    EXPECT_EQ(rowsOf(c, target.name(), "v_vals"), rowsOf(c, source.name(), "v_vals"));
    EXPECT_FALSE(readFile(path("t.dat")).contains("Insert"));  // a view has no rows of its own
}

// ---- the restore engine ----------------------------------------------------------------

// InnoDB takes the one-row INSERTs as one and replays them one by one when it refuses
// them; MyISAM, which keeps the rows before a refused one, takes them one by one.
// Past the limit a statement is skipped with its length and the reading goes on; the limit
// is the statement without its marker.
TEST(StatementReader, AStatementLongerThanTheLimitIsSkipped) {
    struct Read {
        std::vector<std::string> statements;
        std::vector<std::uint64_t> skipped;
        std::vector<qint64> lines;
        std::string leftover;
        qint64 leftoverLine = 0;
    };
    const auto readAll = [](const QByteArray& text, std::size_t limit) {
        QByteArray copy = text;
        QBuffer buffer(&copy);
        buffer.open(QIODevice::ReadOnly);
        dump::StatementReader reader(buffer, limit);
        Read read;
        std::string_view statement;
        while (reader.next(statement)) {
            read.statements.emplace_back(statement);
            read.skipped.push_back(reader.skippedLength());
            read.lines.push_back(reader.line());
        }
        EXPECT_FALSE(reader.failed()) << reader.errorString().toStdString();
        read.leftover = reader.leftover();
        read.leftoverLine = reader.leftoverLine();
        return read;
    };
    // One line of 300 bytes without a line break: no marker ends it, so it is left over.
    const QByteArray longLine = "select 1" + QByteArray(kM.c_str()) + "\r\n" + QByteArray(300, 'x');
    Read read = readAll(longLine, 100);
    EXPECT_EQ(read.statements, std::vector<std::string>{"select 1"});
    EXPECT_EQ(read.leftover, std::string(300, 'x'));
    EXPECT_EQ(read.leftoverLine, 2);
    // Many short lines adding up, then a statement that fits.
    QByteArray joined = "select 1" + QByteArray(kM.c_str()) + "\r\n\r\n";
    std::string long161;
    for (int i = 0; i < 40; ++i) {
        joined += "abcd\r\n";
        long161 += "abcd";
    }
    long161 += "x";
    read = readAll(joined + "x" + QByteArray(kM.c_str()) + "\r\nselect 2" + QByteArray(kM.c_str()),
                   100);
    EXPECT_EQ(read.statements, (std::vector<std::string>{"select 1", long161, "select 2"}));
    EXPECT_EQ(read.skipped, (std::vector<std::uint64_t>{0, 161, 0}));
    EXPECT_EQ(read.lines, (std::vector<qint64>{1, 43, 44}));
    // At the limit itself the statement is still read; one byte more is too many.
    read = readAll(QByteArray(100, 'y') + QByteArray(kM.c_str()) + "\r\n" + QByteArray(101, 'z') +
                       QByteArray(kM.c_str()),
                   100);
    EXPECT_EQ(read.statements, (std::vector<std::string>{std::string(100, 'y'), std::string(101, 'z')}));
    EXPECT_EQ(read.skipped, (std::vector<std::uint64_t>{0, 101}));
    EXPECT_TRUE(read.leftover.empty());
}

// Files that are no dumps: each run ends, reports what it could not run, and leaves the
// connection usable and the database as the statements the server accepted left it.
TEST(RestoreEngine, FilesThatAreNoDumpsEndInAReport) {
    ScratchDatabase s;
    db::Connection c = testserver::connect();

    const dump::RestoreRun comments =
        runText(c, s.name(), "# Dump of a database\r\n#\r\n# MySQL x\r\n\r\n   \r\n#-----\r\n");
    EXPECT_TRUE(comments.ok());
    EXPECT_EQ(comments.statements, 0u);
    EXPECT_EQ(comments.leftoverLine, 0);

    const dump::RestoreRun unfinished = runText(
        c, s.name(), "CREATE TABLE t (x INT)" + QByteArray(kM.c_str()) + "\r\nInsert Into t\r\nvalues (1)");
    EXPECT_EQ(unfinished.statements, 1u);
    EXPECT_EQ(unfinished.leftoverLine, 2);
    EXPECT_FALSE(unfinished.ok());

    // Binary noise with markers and line ends scattered through it.
    QByteArray noise;
    quint32 state = 7;
    for (int i = 1; i <= 2 << 20; ++i) {
        state = state * 1664525u + 1013904223u;
        noise += char(state >> 24) == '\x1a' ? 'Z' : char(state >> 24);  // Ctrl-Z ends a file
        if (i % 5000 == 0) noise += QByteArray(kM.c_str()) + "\r\n";
    }
    const dump::RestoreRun garbage = runText(c, s.name(), noise);
    EXPECT_TRUE(garbage.fatal.isEmpty()) << garbage.fatal.toStdString();
    EXPECT_GT(garbage.failures, 100u);
    EXPECT_EQ(garbage.firstFailures.size(), dump::RestoreEngine::kFailuresListed);
    EXPECT_FALSE(dump::failureReport(garbage, QStringLiteral("noise.sql")).isEmpty());

    // A 100 MB line without a marker is left over, not run; one with a marker is refused.
    QByteArray huge(100 << 20, 'z');
    const dump::RestoreRun leftover = runText(c, s.name(), "select 1" + QByteArray(kM.c_str()) + "\r\n" + huge);
    EXPECT_EQ(leftover.statements, 1u);
    EXPECT_EQ(leftover.leftoverLine, 2);
    huge += QByteArray(kM.c_str());
    const dump::RestoreRun refused = runText(c, s.name(), huge);
    EXPECT_EQ(refused.statements, 1u);
    EXPECT_EQ(refused.failures, 1u);
    EXPECT_TRUE(refused.fatal.isEmpty()) << refused.fatal.toStdString();
    huge.clear();

    db::Result tables = c.select("SHOW TABLES FROM " + db::quoteIdentifier(s.name()));
    EXPECT_EQ(tables.rowCount(), 1u);  // only t, created by the unfinished file
    db::Result rows = c.select("SELECT COUNT(*) FROM " + db::qualifiedName(s.name(), QStringLiteral("t")));
    ASSERT_TRUE(rows.next());
    EXPECT_EQ(rows.text(0), QStringLiteral("0"));
}

// A note line joins the statement after it into one comment: the server would take it and do
// nothing. It is not run, and the report names it instead of counting it as restored.
TEST(RestoreEngine, AStatementThatIsACommentToItsEndIsReportedNotCounted) {
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT)");
    db::Connection c = testserver::connect();
    const dump::RestoreRun run = runText(
        c, s.name(), "# note\r\nInsert Into t values (1);#+----\r\n-- x\r\nInsert Into t values (2);#+----\r\nInsert Into t values (3);#+----\r\n");
    EXPECT_EQ(run.statements, 1u);
    EXPECT_EQ(run.commentedCount, 2u);
    ASSERT_EQ(run.commented.size(), 2u);
    EXPECT_EQ(run.commented[0].line, 2);
    EXPECT_FALSE(run.ok());
    const QString report = dump::failureReport(run, QStringLiteral("n.sql"));
    EXPECT_TRUE(report.contains(QStringLiteral("2 statements began with a comment and did nothing")))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("line 2: # noteInsert Into t values (1)")));
}

// Input that could not be read through beforehand (a pipe) is refused as it runs: the run
// stops before the first statement that reaches beyond the database.
TEST(RestoreEngine, RefusingForeignStatementsStopsBeforeTheFirst) {
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT)");
    db::Connection c = testserver::connect();
    QByteArray text = "Insert Into t values (1);#+----\r\nDROP DATABASE lvx_never_there;#+----\r\n"
                      "Insert Into t values (2);#+----\r\n";
    QBuffer buffer(&text);
    buffer.open(QIODevice::ReadOnly);
    dump::RestoreEngine engine(c, s.name());
    dump::RunOptions options;
    options.refuseForeign = true;
    const dump::RestoreRun run = engine.run(buffer, dump::RunKind::Script, {}, options);
    QString error;
    EXPECT_TRUE(attempt(&error, [&] { engine.finish(); })) << error.toStdString();
    EXPECT_TRUE(run.fatal.startsWith(QStringLiteral("The restore stopped before line 2: the "
                                                    "statement there drops a database")))
        << run.fatal.toStdString();
    db::Result rows = s.connection().select("SELECT GROUP_CONCAT(id) FROM t");
    ASSERT_TRUE(rows.next());
    EXPECT_EQ(rows.text(0), QStringLiteral("1"));
}

TEST(RestoreProgressText, CountsRefusalsAndEstimatesTheTimeLeft) {
    dump::RestoreProgress p;
    p.status = QStringLiteral("Qurey OK!");
    EXPECT_EQ(dump::runningStatus(QStringLiteral("Data Insert Exec.......  "), p),
              QStringLiteral("Data Insert Exec.......  Qurey OK!"));
    p.failures = 12;
    EXPECT_EQ(dump::runningStatus(QStringLiteral("Data Insert Exec.......  "), p),
              QStringLiteral("Data Insert Exec.......  Qurey OK!  - 12 failed"));
    EXPECT_EQ(dump::timeLeft(500, 10, 100), QString());      // too early to tell
    EXPECT_EQ(dump::timeLeft(10'000, 50, 100), QStringLiteral("about 10 s left"));
    EXPECT_EQ(dump::timeLeft(60'000, 25, 100), QStringLiteral("about 3 min left"));
    EXPECT_EQ(dump::timeLeft(3'600'000, 40, 100), QStringLiteral("about 1 h 30 min left"));
    EXPECT_EQ(dump::timeLeft(10'000, 100, 100), QString());  // done
}

class RefusedStatements : public ::testing::TestWithParam<const char*> {};

TEST_P(RefusedStatements, AreCountedListedAndTheRestRuns) {
    ScratchDatabase s;
    s.exec(std::string("CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(20)) ENGINE=") + GetParam());
    QByteArray text;
    for (int i = 1; i <= 250; ++i) {
        const int id = (i == 57 || i == 180) ? 1 : i;  // two duplicate keys inside trips
        text += "Insert Into t values (" + QByteArray::number(id) + ",'a;b\\'c');#+----\r\n";
    }
    text += "select 1; drop table t;#+----\r\n";  // two statements in one: refused, not run
    text += "Insert Into t values (999, 'open);#+----\r\n";
    text += "Insert Into t values (1000, 'x');#+----\r\n";
    text += "Insert Into t values (1001, 'y')\r\n";  // no marker: reported, not run

    db::Connection c = testserver::connect();
    const dump::RestoreRun run = runText(c, s.name(), text);
    EXPECT_EQ(run.statements, 253u);
    EXPECT_EQ(run.failures, 4u);
    ASSERT_EQ(run.firstFailures.size(), 4u);
    EXPECT_EQ(run.firstFailures[0].line, 57);
    EXPECT_EQ(run.firstFailures[0].code, 1062u);
    EXPECT_EQ(run.firstFailures[1].line, 180);
    EXPECT_EQ(run.firstFailures[2].line, 251);
    EXPECT_EQ(run.firstFailures[3].line, 252);
    EXPECT_EQ(run.firstFailures[1].statement, QByteArray("Insert Into t values (1,'a;b\\'c')"));
    EXPECT_EQ(run.leftoverLine, 254);
    EXPECT_FALSE(run.ok());
    EXPECT_EQ(run.status, QStringLiteral("Insert Ok! - t[249]"));

    db::Result r = s.connection().select("SELECT COUNT(*), SUM(id), MIN(v) FROM t");
    ASSERT_TRUE(r.next());
    EXPECT_EQ(r.text(0), QStringLiteral("249"));
    EXPECT_EQ(r.text(1).toLongLong(), 250LL * 251 / 2 - 57 - 180 + 1000);
    EXPECT_EQ(r.text(2), QStringLiteral("a;b'c"));

    const QString report = dump::failureReport(run, QStringLiteral("s.sql"));
    EXPECT_TRUE(report.contains(QStringLiteral("s.sql: 4 of 253 statements failed:")));
    EXPECT_TRUE(report.contains(QStringLiteral("line 57: Duplicate entry")));
    EXPECT_TRUE(report.contains(QStringLiteral("from line 254 on has no end marker")));
}

INSTANTIATE_TEST_SUITE_P(Engines, RefusedStatements, ::testing::Values("InnoDB", "MyISAM"));

// Without strict mode the server stores an invalid or too long value as something else and
// only warns: such statements are counted and listed, and the run is not ok.
const char* const kWarnedScript =
    "SET sql_mode = ''" ";#+----\r\n"
    "CREATE TABLE IF NOT EXISTS w (id INT, s VARCHAR(10) CHARACTER SET utf8mb4, c CHAR(1))"
    ";#+----\r\n"
    "Insert Into w values (1,'20\xff\xfe" "06','a')" ";#+----\r\n"
    "SET @lvx = 1" ";#+----\r\n"
    "Insert Into w values (2,'x','abc')" ";#+----\r\n"
    "Insert Into w values (3,'y','b')" ";#+----\r\n";

TEST(RestoreEngine, StatementsTheServerWarnedOnAreCountedAndListed) {
    ScratchDatabase s;
    db::Connection c = testserver::connect();
    const dump::RestoreRun run = runText(c, s.name(), kWarnedScript);
    EXPECT_EQ(run.failures, 0u);
    EXPECT_EQ(run.warnedCount, 2u);
    ASSERT_EQ(run.warned.size(), 2u);
    EXPECT_EQ(run.warned[0].line, 3);  // shared a trip: counted without the server's words
    EXPECT_EQ(run.warned[1].line, 5);
    EXPECT_EQ(run.warned[1].code, 1265u);
    EXPECT_FALSE(run.ok());
    EXPECT_TRUE(run.okButWarned());
    const QString report = dump::failureReport(run, QStringLiteral("w.sql"));
    EXPECT_TRUE(report.contains(QStringLiteral("w.sql: the server warned on 2 statements")))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("line 5: Data truncated for column 'c'")))
        << report.toStdString();
    // Alone, the first one is read with its words too.
    s.exec("DELETE FROM w");
    const dump::RestoreRun alone = runText(c, s.name(), QByteArray(kWarnedScript).left(
                                                            QByteArray(kWarnedScript).indexOf("SET @lvx")));
    ASSERT_EQ(alone.warned.size(), 1u);
    EXPECT_EQ(alone.warned[0].code, 1366u);
}

// Hands out `head`, then `length` bytes of filler, then `tail`, without holding the filler:
// a file larger than the test would want to keep.
class LongInput : public QIODevice {
public:
    LongInput(QByteArray head, qint64 length, QByteArray tail)
        : head_(std::move(head)), tail_(std::move(tail)), length_(length) {
        open(QIODevice::ReadOnly);
    }
    qint64 size() const override { return head_.size() + length_ + tail_.size(); }
    bool isSequential() const override { return false; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        qint64 n = 0;
        for (; n < maxSize && at_ < size(); ++n, ++at_) {
            if (at_ < head_.size()) {
                data[n] = head_[at_];
            } else if (at_ < head_.size() + length_) {
                const qint64 run = std::min(maxSize - n, head_.size() + length_ - at_);
                std::memset(data + n, 'x', std::size_t(run));
                n += run - 1;
                at_ += run - 1;
            } else {
                data[n] = tail_[at_ - head_.size() - length_];
            }
        }
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray head_, tail_;
    qint64 length_;
    qint64 at_ = 0;
};

// The process's peak memory (VmHWM) in bytes, after `reset` set it back to what is in use.
qint64 peakMemory(bool reset = false) {
    if (reset) {
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (clear.open(QIODevice::WriteOnly)) clear.write("5");
    }
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

// An INSERT far larger than the packet limit, on one line, between two that fit: in either
// format it is skipped as it is read (the memory does not grow with it), counted and named
// as too large, its table's rows left uncountable, and the rows around it are restored.
class PastThePacketLimit : public ::testing::TestWithParam<bool> {};

TEST_P(PastThePacketLimit, IsSkippedWhileReadAndTheRunGoesOn) {
    const bool plain = GetParam();
    constexpr qint64 kFiller = qint64(64) << 20;
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT PRIMARY KEY, v LONGTEXT) ENGINE=InnoDB");
    const QByteArray end = plain ? ";\n" : ";#+----\r\n";
    const QByteArray open = "INSERT INTO t VALUES (2, '";
    LongInput input("INSERT INTO t VALUES (1, 'a')" + end + open, kFiller,
                    "')" + end + "INSERT INTO t VALUES (3, 'c')" + end);

    db::Connection c = testserver::connect();
    dump::RestoreEngine engine(c, s.name());
    engine.lowerPacketLimit(64 << 10);
    dump::RunOptions options;
    options.format = plain ? dump::ScriptFormat::Plain : dump::ScriptFormat::Own;
    const qint64 before = peakMemory(true);
    const dump::RestoreRun run = engine.run(input, dump::RunKind::Data, {}, options);
    EXPECT_LT(peakMemory() - before, kFiller / 4);
    ASSERT_EQ(failureOf([&] { engine.finish(); }), QString());

    EXPECT_TRUE(run.fatal.isEmpty()) << run.fatal.toStdString();
    EXPECT_EQ(run.statements, 2u);
    EXPECT_EQ(run.failures, 0u);
    EXPECT_EQ(run.oversizedCount, 1u);
    ASSERT_EQ(run.oversized.size(), 1u);
    EXPECT_EQ(run.oversized[0].line, 2);
    EXPECT_EQ(run.oversized[0].bytes, std::uint64_t(open.size() + kFiller + 2));
    EXPECT_EQ(run.packetLimit, 64u << 10);
    EXPECT_EQ(run.leftoverLine, 0);
    EXPECT_FALSE(run.ok());
    EXPECT_EQ(s.scalar("SELECT GROUP_CONCAT(id ORDER BY id) FROM t"), QStringLiteral("1,3"));
    ASSERT_EQ(engine.tally().tables().count("t"), 1u);
    EXPECT_FALSE(engine.tally().tables().at("t").countable);
    const QString report = dump::failureReport(run, QStringLiteral("big.sql"));
    EXPECT_TRUE(report.contains(QStringLiteral("big.sql: 1 statements are larger than the server "
                                               "accepts (max_allowed_packet = 65536 bytes)")))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("line 2: %1 bytes").arg(open.size() + kFiller + 2)))
        << report.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Formats, PastThePacketLimit, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Plain" : "Own"; });

// The read-through before a restore passes over a statement past its limit (by default
// larger than any server takes), as the restore does, and goes on to what follows it.
TEST_P(PastThePacketLimit, IsPassedOverByTheReadThrough) {
    const bool plain = GetParam();
    const QByteArray end = plain ? ";\n" : ";#+----\r\n";
    LongInput input("INSERT INTO t VALUES (1, 'a')" + end + "INSERT INTO t VALUES (2, '",
                    qint64(8) << 20, "')" + end + "DROP DATABASE other" + end);
    const dump::ScriptScan scan = dump::scanScript(input, QStringLiteral("db"), plain, {}, 64 << 10);
    EXPECT_EQ(scan.statements, 3u);
    EXPECT_EQ(scan.foreignCount, 1u);
    ASSERT_EQ(scan.foreign.size(), 1u);
    EXPECT_EQ(scan.foreign[0].line, 3);

    // Anything but rows that is too long to hold is not judged by its start alone: what its
    // unread rest does is unknown, so it is asked about.
    LongInput update("UPDATE t SET v = '", qint64(8) << 20, "' WHERE id = 1" + end);
    const dump::ScriptScan partly = dump::scanScript(update, QStringLiteral("db"), plain, {}, 64 << 10);
    ASSERT_EQ(partly.foreign.size(), 1u);
    EXPECT_TRUE(partly.foreign[0].reason.startsWith(QStringLiteral("is longer than 65536 bytes: only its start")))
        << partly.foreign[0].reason.toStdString();
}

TEST(RestoreEngine, UnusableDatabaseStopsBeforeAnyStatement) {
    ScratchDatabase s;
    db::Connection c = testserver::connect();
    ASSERT_TRUE(c.selectDb(s.name()));  // the database a careless replay would fill
    const dump::RestoreRun run =
        runText(c, s.name() + QStringLiteral("_missing"), "CREATE TABLE t (x INT);#+----\r\n");
    EXPECT_TRUE(run.fatal.contains(QStringLiteral("cannot be used"))) << run.fatal.toStdString();
    EXPECT_EQ(run.statements, 0u);
    EXPECT_TRUE(s.connection().select("SHOW TABLES").rowCount() == 0);
}

TEST(RestoreEngine, RestoresTheSessionSettingsAndCommits) {
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT PRIMARY KEY) ENGINE=InnoDB");
    db::Connection c = testserver::connect();
    c.exec(
        "SET foreign_key_checks = 1, unique_checks = 1, autocommit = 1, "
        "sql_mode = 'STRICT_ALL_TABLES', time_zone = '+02:00'");
    QByteArray text = dump::sessionHeader();
    for (int i = 0; i < 12000; ++i)
        text += "Insert Into t values (" + QByteArray::number(i) + ");#+----\r\n";
    const dump::RestoreRun run = runText(c, s.name(), text);
    EXPECT_TRUE(run.ok());
    EXPECT_EQ(run.statements, 12005u);
    db::Result r = c.select(
        "SELECT @@foreign_key_checks, @@unique_checks, @@autocommit, "
        "@@sql_mode, @@time_zone");
    ASSERT_TRUE(r.next());
    EXPECT_EQ(r.text(0), QStringLiteral("1"));
    EXPECT_EQ(r.text(1), QStringLiteral("1"));
    EXPECT_EQ(r.text(2), QStringLiteral("1"));
    EXPECT_EQ(r.text(3), QStringLiteral("STRICT_ALL_TABLES"));
    EXPECT_EQ(r.text(4), QStringLiteral("+02:00"));
    EXPECT_FALSE(c.multiStatements());
    // Another session sees every row: all of it was committed.
    db::Result n = s.connection().select("SELECT COUNT(*) FROM t");
    ASSERT_TRUE(n.next());
    EXPECT_EQ(n.text(0), QStringLiteral("12000"));
}

TEST(RestoreEngine, StopKeepsWhatRanAndRunsNoMore) {
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT PRIMARY KEY) ENGINE=MyISAM");  // a hundred rows per trip
    QByteArray text;
    for (int i = 0; i < 1000; ++i)
        text += "Insert Into t values (" + QByteArray::number(i) + ");#+----\r\n";
    db::Connection c = testserver::connect();
    const dump::RestoreRun run =
        runText(c, s.name(), text, [](const dump::RestoreProgress&) { return false; });
    EXPECT_TRUE(run.stopped);
    EXPECT_EQ(run.statements, dump::RestoreEngine::kStatementsPerTrip);
    db::Result n = s.connection().select("SELECT COUNT(*) FROM t");
    ASSERT_TRUE(n.next());
    EXPECT_EQ(n.text(0).toULongLong(), dump::RestoreEngine::kStatementsPerTrip);
}

// ---- the dialogs -------------------------------------------------------------------------

template <typename T>
T* child(QObject* parent, const char* name) {
    T* widget = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

QString labelText(QObject* dialog, const char* name) { return child<QLabel>(dialog, name)->text(); }

class DumpDialogs : public TreeFixture {
protected:
    void SetUp() override {
        TreeFixture::SetUp();
        doubleClick(server());  // connects the session
        ASSERT_TRUE(session.MainConnection().isOpen());
        commands =
            std::make_unique<DumpCommands>(session.MainConnection(), prompts, dir.path(), nullptr);
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir;
    std::unique_ptr<DumpCommands> commands;
};

TEST_F(DumpDialogs, SchemaDialogControlsOptionsAndSave) {
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT, v VARCHAR(10))");
    s.exec("INSERT INTO t VALUES (1, 'x'), (2, NULL)");

    prompts.answerFile(path("backup"));  // no extension: the default one is added
    prompts.onDialog([&](QDialog* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Scehma / Dump"));
        auto* dialog = static_cast<TfrmSchema*>(d);
        EXPECT_EQ(dialog->Scope(), TfrmSchema::ScopeTable);
        EXPECT_TRUE(child<QRadioButton>(d, "RadioButton1")->isChecked());
        EXPECT_EQ(child<QCheckBox>(d, "CheckBox1")->text(), QStringLiteral("Data Include"));
        EXPECT_EQ(child<QCheckBox>(d, "CheckBox2")->text(), QStringLiteral("Drop Include"));
        // However small the dialog is made, every caption stays whole.
        d->show();
        d->resize(100, 100);
        QCoreApplication::processEvents();
        for (const QAbstractButton* box : d->findChildren<QAbstractButton*>())
            EXPECT_GE(box->width(), box->sizeHint().width()) << box->text().toStdString();
        EXPECT_EQ(labelText(d, "lblStatus"), QString());
        const QByteArray shown = dialog->SchemaText();
        EXPECT_TRUE(shown.contains("CREATE TABLE `t`"));

        child<QCheckBox>(d, "CheckBox2")->click();
        EXPECT_TRUE(dialog->SchemaText().contains("Drop Table If Exists `t`;#+----"));
        child<QRadioButton>(d, "RadioButton2")->click();
        EXPECT_TRUE(dialog->SchemaText().contains("create table `t`"));
        EXPECT_TRUE(dialog->SchemaText().contains("# table structure for table 't'"));

        child<QCheckBox>(d, "CheckBox1")->click();
        child<QPushButton>(d, "BitBtn1")->click();
        EXPECT_EQ(labelText(d, "lblStatus"), QStringLiteral("Done"));
        EXPECT_EQ(dialog->Scope(), TfrmSchema::ScopeNone);
        EXPECT_EQ(readFile(path("backup.sql")), dialog->SchemaText());
        EXPECT_TRUE(
            readFile(path("backup.dat")).contains("Insert Into `t` values (2,Null);#+----"));

        // Scope 0: Default no longer rebuilds; Upper still converts.
        const QByteArray lowered = dialog->SchemaText();
        child<QRadioButton>(d, "RadioButton1")->click();
        EXPECT_EQ(dialog->SchemaText(), lowered);
        child<QRadioButton>(d, "RadioButton3")->click();
        EXPECT_TRUE(dialog->SchemaText().contains("CREATE TABLE `t`"));  // names keep their case
        child<QPushButton>(d, "BitBtn2")->click();
        return d->result();
    });
    commands->TableSchema1Click(s.name(), QStringLiteral("t"));
    EXPECT_TRUE(prompts.allAnswersUsed());
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
}

TEST_F(DumpDialogs, SchemaDialogReportsErrors) {
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT)");
    prompts.answerFile(path("no/such/folder/x.sql"));
    prompts.onDialog([&](QDialog* d) {
        child<QPushButton>(d, "BitBtn1")->click();
        EXPECT_EQ(static_cast<TfrmSchema*>(d)->Scope(), TfrmSchema::ScopeDatabase);
        return int(QDialog::Rejected);
    });
    commands->DBSchema1Click(s.name());
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith(QStringLiteral("Schema Save Error\r\n\r\n")));

    prompts.clear();
    prompts.onDialog([](QDialog*) { return int(QDialog::Rejected); });
    commands->TableSchema1Click(s.name(), QStringLiteral("missing"));
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith(QStringLiteral("Schema FormShow Error\r\n\r\n")));
    EXPECT_TRUE(prompts.allAnswersUsed());
}

TEST_F(DumpDialogs, RestoreDialogRunsScriptAndDataWithStatus) {
    ScratchDatabase source(QStringLiteral("src"));
    source.exec("CREATE TABLE t (id INT PRIMARY KEY)");
    source.exec("INSERT INTO t VALUES (1), (2)");
    ScratchDatabase target(QStringLiteral("dst"));
    {
        db::Connection c = testserver::connect();
        dump::DumpWriter writer(c);
        QString error;
        const dump::DumpTarget all{source.name(), {}};
        ASSERT_TRUE(writer
                        .save(path("r.sql"),
                              attempt(&error, [&] { return writer.schema(all, false); })->text,
                              &all, {})
                        .ok);
    }

    prompts.answerFile(path("r.sql"));
    prompts.onDialog([&](QDialog* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Restore"));
        EXPECT_EQ(labelText(d, "Label1"), QStringLiteral("DB : ") + target.name());
        EXPECT_EQ(labelText(d, "Label2"), QString());
        child<QCheckBox>(d, "CheckBox1")->click();
        child<QPushButton>(d, "SpeedButton2")->click();
        EXPECT_EQ(labelText(d, "Label2"), QStringLiteral("Data Insert Done"));
        // Again: the rows exist now, so both inserts are refused and counted.
        child<QPushButton>(d, "SpeedButton2")->click();
        EXPECT_EQ(labelText(d, "Label2"), QStringLiteral("Data Insert Done - 7 statements, 2 failed"));
        child<QCheckBox>(d, "CheckBox1")->click();
        QFile::remove(path("r.dat"));
        child<QPushButton>(d, "SpeedButton2")->click();
        EXPECT_EQ(labelText(d, "Label2"), QStringLiteral("SQL Done - 6 statements, 1 failed"));
        child<QCheckBox>(d, "CheckBox1")->click();
        // "Data Include" without its data file: refused, nothing runs.
        target.exec("DROP TABLE t");
        child<QPushButton>(d, "SpeedButton2")->click();
        EXPECT_EQ(labelText(d, "Label2"), QStringLiteral("Nothing was executed"));
        EXPECT_FALSE(target.connection().select("SHOW TABLES").next());
        target.exec("CREATE TABLE t (id INT PRIMARY KEY)");
        target.exec("INSERT INTO t VALUES (1), (2)");
        child<QPushButton>(d, "SpeedButton1")->click();
        return d->result();
    });
    commands->Restore1Click(target.name());
    db::Result n = target.connection().select("SELECT COUNT(*) FROM t");
    ASSERT_TRUE(n.next());
    EXPECT_EQ(n.text(0), QStringLiteral("2"));
    const QStringList messages = prompts.messages();
    ASSERT_EQ(messages.size(), 3);
    EXPECT_TRUE(messages[2].contains(QStringLiteral("Cannot read the data file")))
        << messages[2].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("r.sql: 1 of 6 statements failed:")));
    EXPECT_TRUE(messages[0].contains(QStringLiteral("r.dat: 2 of 7 statements failed:")));
    EXPECT_TRUE(messages[1].contains(QStringLiteral("Table 't' already exists")));
}

// Triggers run after the rows; the status line still ends with the rows' status.
TEST_F(DumpDialogs, RestoreDialogKeepsTheDataStatusAfterTriggers) {
    ScratchDatabase source(QStringLiteral("src"));
    source.exec("CREATE TABLE t (id INT PRIMARY KEY)");
    source.exec("INSERT INTO t VALUES (1)");
    source.exec("CREATE TRIGGER t_bi BEFORE INSERT ON t FOR EACH ROW SET NEW.id = NEW.id + 1");
    ScratchDatabase target(QStringLiteral("dst"));
    {
        db::Connection c = testserver::connect();
        dump::DumpWriter writer(c);
        QString error;
        const dump::DumpTarget all{source.name(), {}};
        ASSERT_TRUE(writer
                        .save(path("g.sql"),
                              attempt(&error, [&] { return writer.schema(all, false); })->text,
                              &all, {})
                        .ok);
    }
    prompts.answerFile(path("g.sql"));
    prompts.onDialog([&](QDialog* d) {
        child<QCheckBox>(d, "CheckBox1")->click();
        child<QPushButton>(d, "SpeedButton2")->click();
        EXPECT_EQ(labelText(d, "Label2"), QStringLiteral("Data Insert Done"));
        return int(QDialog::Rejected);
    });
    commands->Restore1Click(target.name());
    db::Result n = target.connection().select("SELECT COUNT(*) FROM information_schema.TRIGGERS "
                                              "WHERE TRIGGER_SCHEMA = DATABASE()");
    ASSERT_TRUE(n.next());
    EXPECT_EQ(n.text(0), QStringLiteral("1"));
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
}

// A file that is not one of this program's dumps runs nothing, and the status says so.
// A plain SQL script runs as the mariadb client would run it; a text that is no SQL runs
// nothing and says so.
TEST_F(DumpDialogs, RestoreReadsPlainScriptsAndRefusesWhatIsNoSql) {
    ScratchDatabase s;
    writeFile(path("plain.sql"), "-- by hand\nCREATE TABLE t (id INT);\nINSERT INTO t VALUES (1),(2);\n");
    writeFile(path("notes.sql"), "\nhello world\n");
    for (const char* file : {"plain.sql", "notes.sql"}) {
        prompts.answerFile(path(file));
        prompts.onDialog([&](QDialog* d) {
            const bool plain = QByteArray(file) == "plain.sql";
            EXPECT_EQ(labelText(d, "lblSummary").startsWith(QStringLiteral("A plain SQL script")), plain);
            child<QPushButton>(d, "SpeedButton2")->click();
            if (plain) {
                EXPECT_EQ(labelText(d, "Label2"), QStringLiteral("SQL Done"));
                EXPECT_TRUE(labelText(d, "lblSummary").startsWith(QStringLiteral("Checked: 1 table holds")))
                    << labelText(d, "lblSummary").toStdString();
            }
            child<QPushButton>(d, "SpeedButton1")->click();
            return d->result();
        });
        commands->Restore1Click(s.name());
    }
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("line 2 is not SQL")))
        << prompts.messages()[0].toStdString();
    EXPECT_EQ(s.scalar("SELECT COUNT(*) FROM t"), QStringLiteral("2"));
}

// A script that drops tables holding rows now asks once, naming them and saying whether
// their rows come back.
TEST_F(DumpDialogs, RestoreOverExistingTablesAsksWhetherToReplaceThem) {
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT PRIMARY KEY)");
    s.exec("CREATE TABLE u (id INT)");
    s.exec("INSERT INTO t VALUES (1), (2)");
    {
        db::Connection c = testserver::connect();
        dump::DumpWriter writer(c);
        QString error;
        const dump::DumpTarget all{s.name(), {}};
        ASSERT_TRUE(writer
                        .save(path("d.sql"),
                              attempt(&error, [&] { return writer.schema(all, true); })->text, &all,
                              {})
                        .ok);
    }
    const auto rows = [&] {
        db::Result r = s.connection().select("SELECT COUNT(*) FROM t");
        return r.next() ? r.text(0) : QString();
    };
    for (bool withData : {false, true}) {
        prompts.clear();
        prompts.answerFile(path("d.sql"));
        prompts.answerOkCancel(false);
        prompts.onDialog([&](QDialog* d) {
            if (withData) child<QCheckBox>(d, "CheckBox1")->click();
            child<QPushButton>(d, "SpeedButton2")->click();
            EXPECT_EQ(labelText(d, "Label2"), QStringLiteral("Nothing was executed"));
            return int(QDialog::Rejected);
        });
        commands->Restore1Click(s.name());
        const QString question = prompts.shown()[1].text;
        EXPECT_TRUE(question.contains(QStringLiteral("2 tables or views of %1 that exist now: t, u").arg(s.name())))
            << question.toStdString();
        EXPECT_TRUE(question.contains(withData ? QStringLiteral("Their rows come back")
                                               : QStringLiteral("Their rows will be lost")));
        EXPECT_EQ(rows(), QStringLiteral("2"));
    }
    // Into an empty database nothing is replaced: no question; the bar ends full.
    ScratchDatabase empty;
    prompts.clear();
    prompts.answerFile(path("d.sql"));
    prompts.onDialog([&](QDialog* d) {
        child<QCheckBox>(d, "CheckBox1")->click();
        child<QPushButton>(d, "SpeedButton2")->click();
        EXPECT_EQ(labelText(d, "Label2"), QStringLiteral("Data Insert Done"));
        EXPECT_EQ(child<QProgressBar>(d, "ProgressBar1")->value(), 1000);
        return int(QDialog::Rejected);
    });
    commands->Restore1Click(empty.name());
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_TRUE(prompts.allAnswersUsed());
}

// A data file of another kind beside the chosen schema name (H2.txt and H2.dat) is not
// replaced without a question.
TEST_F(DumpDialogs, SchemaSaveAsksBeforeReplacingAnExistingDataFile) {
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT)");
    writeFile(path("H2.dat"), "someone else's data");
    for (bool replace : {false, true}) {
        prompts.answerFile(path("H2.txt"));
        prompts.answerOkCancel(replace);
        prompts.onDialog([&](QDialog* d) {
            child<QCheckBox>(d, "CheckBox1")->click();
            child<QPushButton>(d, "BitBtn1")->click();
            return int(QDialog::Rejected);
        });
        commands->DBSchema1Click(s.name());
        EXPECT_TRUE(prompts.shown().back().text.contains(QStringLiteral("H2.dat exists already")));
        EXPECT_EQ(readFile(path("H2.dat")) == "someone else's data", !replace);
        EXPECT_EQ(QFile::exists(path("H2.txt")), replace);
    }
    EXPECT_TRUE(prompts.allAnswersUsed());
}

// Exec reads the files first: statements beyond the target are asked about (Cancel runs
// nothing), a USE in the file never moves the restore, a Ctrl-Z is asked about, an empty
// file has nothing to restore, and a data file cut short says how far it got.
TEST_F(DumpDialogs, RestoreDialogChecksTheFilesBeforeRunningAnything) {
    ScratchDatabase target(QStringLiteral("dst"));
    ScratchDatabase other(QStringLiteral("other"));
    const std::string m = ";#+----\r\n";
    const QByteArray foreign = QByteArray::fromStdString(
        "CREATE TABLE t (id INT PRIMARY KEY)" + m + "USE `" + other.name().toStdString() + "`" + m +
        "CREATE TABLE u (id INT)" + m + "Insert Into `" + other.name().toStdString() +
        "`.`t` values (1)" + m);
    writeFile(path("f.sql"), foreign);
    writeFile(path("f.dat"), QByteArray::fromStdString("Insert Into t values (1)" + m +
                                                        "Insert Into t values (1)" + m +
                                                        "Insert Into t values (2"));
    const auto tables = [](ScratchDatabase& s) {
        QStringList names;
        db::Result r = s.connection().select("SHOW TABLES");
        while (r.next()) names << r.text(0);
        return names.join(u',');
    };
    prompts.answerFile(path("f.sql"));
    prompts.answerOkCancel(false);
    prompts.answerOkCancel(true);
    prompts.onDialog([&](QDialog* d) {
        child<QCheckBox>(d, "CheckBox1")->click();
        child<QPushButton>(d, "SpeedButton2")->click();  // Cancel
        EXPECT_EQ(labelText(d, "Label2"), QStringLiteral("Nothing was executed"));
        EXPECT_EQ(tables(target), QString());
        const QString question = prompts.shown().back().text;
        EXPECT_TRUE(question.contains(QStringLiteral("f.sql line 2: selects the database")))
            << question.toStdString();
        EXPECT_TRUE(question.contains(QStringLiteral("f.sql line 4: acts on the database")));
        child<QPushButton>(d, "SpeedButton2")->click();  // OK
        EXPECT_EQ(labelText(d, "Label2"),
                  QStringLiteral("Data Insert Done - 2 statements, 1 failed, text from line 3 "
                                 "on not executed"));
        child<QPushButton>(d, "SpeedButton1")->click();
        return d->result();
    });
    commands->Restore1Click(target.name());
    EXPECT_EQ(tables(target), QStringLiteral("t,u"));  // both here, not in the other database
    EXPECT_EQ(tables(other), QString());

    // A Ctrl-Z: the answer decides whether what follows it runs.
    writeFile(path("z.sql"), QByteArray::fromStdString("CREATE TABLE z1 (a INT)" + m + "\x1a" +
                                                        m.substr(7) + "CREATE TABLE z2 (a INT)" + m));
    for (bool goOn : {false, true}) {
        prompts.clear();
        prompts.answerFile(path("z.sql"));
        prompts.answerYesNo(goOn);
        prompts.onDialog([&](QDialog* d) {
            child<QPushButton>(d, "SpeedButton2")->click();
            return int(QDialog::Rejected);
        });
        commands->Restore1Click(target.name());
        ASSERT_GE(prompts.shown().size(), 2u);  // the file, then the question
        EXPECT_TRUE(prompts.shown()[1].text.contains(QStringLiteral("line 2 of z.sql holds a Ctrl-Z")))
            << prompts.shown()[1].text.toStdString() << " / " << prompts.messages().join('|').toStdString();
        EXPECT_EQ(tables(target), goOn ? QStringLiteral("t,u,z1,z2") : QStringLiteral("t,u,z1"));
        target.exec("DROP TABLE IF EXISTS z1, z2");
    }

    // An empty file and a picture: said at once, nothing runs.
    prompts.clear();
    writeFile(path("empty.sql"), "");
    prompts.answerFile(path("empty.sql"));
    prompts.onDialog([&](QDialog* d) {
        child<QPushButton>(d, "SpeedButton2")->click();
        EXPECT_EQ(labelText(d, "Label2"), QStringLiteral("Nothing was executed"));
        return int(QDialog::Rejected);
    });
    commands->Restore1Click(target.name());
    writeFile(path("photo.sql"), QByteArray("\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\x01\x01", 14));
    prompts.answerFile(path("photo.sql"));
    commands->Restore1Click(target.name());
    ASSERT_EQ(prompts.messages().size(), 2);
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("nothing to restore")));
    EXPECT_TRUE(prompts.messages()[1].contains(QStringLiteral("photo.sql is not a text file")));
    EXPECT_TRUE(prompts.allAnswersUsed());
}

// A large script: the memo shows its beginning with long lines cut, and Exec runs the whole
// file from disk. A folder chosen as the script is refused with a message.
TEST_F(DumpDialogs, RestoreDialogShowsPartOfALargeScriptAndRunsAllOfIt) {
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT PRIMARY KEY, v LONGTEXT)");
    QByteArray text = "Insert Into t values (1, '" + QByteArray(2 << 20, 'a') + "');#+----\r\n";
    for (int i = 2; i <= 20; ++i)  // well past what the memo shows
        text += "Insert Into t values (" + QByteArray::number(i) + ", '" +
                QByteArray(256 << 10, 'b') + "');#+----\r\n";
    text += "Insert Into t values (0, 'last');#+----\r\n";
    QFile file(path("big.sql"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(text), text.size());
    file.close();

    prompts.answerFile(path("big.sql"));
    prompts.onDialog([&](QDialog* d) {
        const QString shown = child<QPlainTextEdit>(d, "MemoSql")->toPlainText();
        EXPECT_LT(shown.size(), TfrmRestore::kPreviewBytes);
        EXPECT_TRUE(shown.startsWith(QStringLiteral("Insert Into t values (1, 'aaa")));
        EXPECT_TRUE(shown.contains(QStringLiteral("a ...\n")));
        EXPECT_TRUE(shown.endsWith(QStringLiteral(" more bytes of the file are not shown)")));
        child<QPushButton>(d, "SpeedButton2")->click();
        EXPECT_EQ(labelText(d, "Label2"), QStringLiteral("SQL Done"));
        child<QPushButton>(d, "SpeedButton1")->click();
        return d->result();
    });
    commands->Restore1Click(s.name());
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
    db::Result r = s.connection().select("SELECT COUNT(*), MAX(v = 'last') FROM t");
    ASSERT_TRUE(r.next());
    EXPECT_GT(r.text(0).toInt(), 10);
    EXPECT_EQ(r.text(1), QStringLiteral("1"));

    prompts.clear();
    prompts.answerFile(dir.path());
    commands->Restore1Click(s.name());
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("it is not a regular file")))
        << prompts.messages()[0].toStdString();
}

TEST_F(DumpDialogs, RestoreDialogStopsAndReportsAnUnusableDatabase) {
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT PRIMARY KEY) ENGINE=MyISAM");
    QByteArray text;
    for (int i = 0; i < 5000; ++i)
        text += "Insert Into t values (" + QByteArray::number(i) + ");#+----\r\n";
    writeFile(path("big.sql"), text);

    prompts.answerFile(path("big.sql"));
    prompts.onDialog([&](QDialog* d) {
        auto* stop = child<QPushButton>(d, "SpeedButton3");
        EXPECT_FALSE(stop->isEnabled());
        // Clicked from the event loop the run keeps alive while it works.
        QTimer::singleShot(0, stop, [stop] {
            EXPECT_TRUE(stop->isEnabled());
            stop->click();
        });
        child<QPushButton>(d, "SpeedButton2")->click();
        EXPECT_EQ(labelText(d, "Label2"), QStringLiteral("SQL Done - Stopped"));
        return int(QDialog::Rejected);
    });
    commands->Restore1Click(s.name());
    db::Result n = s.connection().select("SELECT COUNT(*) FROM t");
    ASSERT_TRUE(n.next());
    EXPECT_GT(n.text(0).toInt(), 0);
    EXPECT_LT(n.text(0).toInt(), 5000);

    prompts.answerFile(path("big.sql"));
    prompts.onDialog([&](QDialog* d) {
        child<QPushButton>(d, "SpeedButton2")->click();
        return int(QDialog::Rejected);
    });
    commands->Restore1Click(s.name() + QStringLiteral("_missing"));
    ASSERT_FALSE(prompts.messages().isEmpty());
    EXPECT_TRUE(prompts.messages().last().contains(QStringLiteral("cannot be used")));

    prompts.answerFile(path("missing.sql"));
    commands->Restore1Click(s.name());
    EXPECT_TRUE(prompts.messages().last().startsWith(QStringLiteral("Restore Error")));
    EXPECT_TRUE(prompts.allAnswersUsed());
}

// ---- lorvex-cli ------------------------------------------------------------------------------

QProcessEnvironment cliEnvironment(
    const std::optional<QString>& password = testserver::password()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LORVEX_PASSWORD"));
    if (password) env.insert(QStringLiteral("LORVEX_PASSWORD"), *password);
    return env;
}

CliResult runCli(const QStringList& arguments, const QProcessEnvironment& env = cliEnvironment(),
                 const QString& program = cliPath()) {
    return runProgram(program, arguments, env);
}

QStringList connection() {
    return {QStringLiteral("--host"), testserver::hostField(), QStringLiteral("--user"),
            testserver::user()};
}

// A file of several databases goes each into its own when asked (window and command line
// alike), or all into the target; either way the outcome says which was done.
TEST_F(DumpDialogs, RestoreOfSeveralDatabasesGoesEachIntoItsOwnOrAllIntoTheTarget) {
    for (const bool each : {true, false}) {
        ScratchDatabase target, a(QStringLiteral("a")), b(QStringLiteral("b"));
        const QByteArray script = "USE `" + a.name().toUtf8() +
                                  "`;\nCREATE TABLE t (id INT);\nINSERT INTO t VALUES (1),(2);\n"
                                  "USE `" + b.name().toUtf8() +
                                  "`;\nCREATE TABLE t (id INT);\nINSERT INTO t VALUES (3);\n";
        writeFile(path("two.sql"), script);
        prompts.answerFile(path("two.sql"));
        prompts.answerOkCancel(true);  // the USE statements reach beyond the target
        prompts.answerYesNo(each);
        prompts.onDialog([&](QDialog* d) {
            child<QPushButton>(d, "SpeedButton2")->click();
            const QString summary = labelText(d, "lblSummary");
            EXPECT_TRUE(summary.startsWith(each ? QStringLiteral("Each of the file's 2 databases went into its own: `%1`, `%2`.").arg(a.name(), b.name())
                                                : QStringLiteral("The file's 2 databases (`%1`, `%2`) all went into `%3`.").arg(a.name(), b.name(), target.name())))
                << summary.toStdString();
            child<QPushButton>(d, "SpeedButton1")->click();
            return d->result();
        });
        commands->Restore1Click(target.name());
        EXPECT_TRUE(prompts.allAnswersUsed());
        if (each) {
            EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
            EXPECT_EQ(a.scalar("SELECT COUNT(*) FROM t"), QStringLiteral("2"));
            EXPECT_EQ(b.scalar("SELECT COUNT(*) FROM t"), QStringLiteral("1"));
            EXPECT_EQ(target.scalar("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE()"),
                      QStringLiteral("0"));
            // The session is back in the database it was in.
            EXPECT_EQ(testserver::firstValue(session.MainConnection(), "SELECT DATABASE()"), target.name());
        } else {
            // The tables of equal names collide: the second CREATE fails, its rows join.
            EXPECT_EQ(target.scalar("SELECT COUNT(*) FROM t"), QStringLiteral("3"));
            EXPECT_EQ(a.scalar("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE()"),
                      QStringLiteral("0"));
        }
        prompts.clear();
    }

    // The command line: --each-database, as the window's Yes.
    ScratchDatabase target, a(QStringLiteral("a")), b(QStringLiteral("b"));
    writeFile(path("cli.sql"), "USE `" + a.name().toUtf8() + "`;\nCREATE TABLE t (id INT);\n"
                               "INSERT INTO t VALUES (1),(2);\nUSE `" + b.name().toUtf8() +
                               "`;\nCREATE TABLE t (id INT);\nINSERT INTO t VALUES (3);\n");
    const CliResult restored =
        runCli(QStringList{QStringLiteral("restore")} + connection() +
               QStringList{"--database", target.name(), "--allow-foreign-statements",
                           "--each-database", path("cli.sql")});
    EXPECT_EQ(restored.code, 0) << restored.err.toStdString();
    EXPECT_TRUE(restored.out.contains(QStringLiteral("Each of the file's 2 databases went into its own")))
        << restored.out.toStdString();
    EXPECT_TRUE(restored.out.contains(QStringLiteral("1 row the files carried, and 1 object they create is in %1").arg(b.name())))
        << restored.out.toStdString();
    EXPECT_EQ(a.scalar("SELECT COUNT(*) FROM t"), QStringLiteral("2"));
}

TEST_F(DumpTest, CliRoundTripOfAwkwardValues) {
    ScratchDatabase source(QStringLiteral("src"));
    fillAwkward(source);
    ScratchDatabase target(QStringLiteral("dst"));
    const CliResult dumped = runCli(
        QStringList{QStringLiteral("dump")} + connection() +
        QStringList{"--database", source.name(), "--drop", "--data", "--out", path("a.sql")});
    EXPECT_EQ(dumped.code, 0) << dumped.err.toStdString();
    EXPECT_TRUE(dumped.out.startsWith(QStringLiteral("dump: 8 tables, 13 rows, 0 failures, ")))
        << dumped.out.toStdString();
    EXPECT_EQ(dumped.err, QString());  // no progress where stderr is no terminal

    const CliResult restored =
        runCli(QStringList{QStringLiteral("restore")} + connection() +
               QStringList{"--database", target.name(), "--data", path("a.sql")});
    EXPECT_EQ(restored.code, 0) << restored.err.toStdString();
    EXPECT_TRUE(restored.out.startsWith(QStringLiteral("restore: 39 statements, 0 failures, ")))
        << restored.out.toStdString();
    EXPECT_EQ(restored.err, QString());
    expectSameDatabase(source.name(), target.name());
}

struct SameFilesCase {
    const char* table;  // empty: the whole database
    bool drop;
    const char* button;
    const char* letterCase;
};

class SameFiles : public DumpTest, public ::testing::WithParamInterface<SameFilesCase> {};

TEST_P(SameFiles, DialogAndCliWriteIdenticalBytes) {
    ScratchDatabase source;
    fillAwkward(source);
    const QString table = QString::fromLatin1(GetParam().table);

    db::Connection c = testserver::connect();
    ScriptedPrompts prompts;
    TfrmSchema dialog(c, prompts);
    dialog.SetState(table.isEmpty() ? TfrmSchema::ScopeDatabase : TfrmSchema::ScopeTable,
                    source.name(), table, dir.path());
    prompts.answerFile(path("dialog.sql"));
    prompts.onDialog([&](QDialog* d) {
        if (GetParam().drop) child<QCheckBox>(d, "CheckBox2")->click();
        child<QRadioButton>(d, GetParam().button)->click();
        child<QCheckBox>(d, "CheckBox1")->click();
        child<QPushButton>(d, "BitBtn1")->click();
        return int(QDialog::Accepted);
    });
    prompts.exec(&dialog);
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();

    QStringList arguments = QStringList{QStringLiteral("dump")} + connection() +
                            QStringList{"--database",
                                        source.name(),
                                        "--data",
                                        "--case",
                                        QString::fromLatin1(GetParam().letterCase),
                                        "--out",
                                        path("cli.sql")};
    if (!table.isEmpty()) arguments << QStringLiteral("--table") << table;
    if (GetParam().drop) arguments << QStringLiteral("--drop");
    const CliResult cli = runCli(arguments);
    ASSERT_EQ(cli.code, 0) << cli.err.toStdString();

    EXPECT_GT(readFile(path("cli.sql")).size(), 100);
    EXPECT_EQ(readFile(path("dialog.sql")), readFile(path("cli.sql")));
    EXPECT_GT(readFile(path("cli.dat")).size(), 100);
    EXPECT_EQ(readFile(path("dialog.dat")), readFile(path("cli.dat")));
}

INSTANTIATE_TEST_SUITE_P(Choices, SameFiles,
                         ::testing::Values(SameFilesCase{"", true, "RadioButton3", "upper"},
                                           SameFilesCase{"vals", false, "RadioButton2", "lower"},
                                           SameFilesCase{"wide", true, "RadioButton1", "default"}));

TEST_F(DumpTest, CliExitCodesAndMessages) {
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT PRIMARY KEY)");
    writeFile(path("s.sql"),
              "Insert Into t values (1);#+----\r\n"
              "Insert Into t values (1);#+----\r\n"
              "Insert Into t values (2);#+----\r\n"
              "Insert Into t values (3)");
    const QString wrong = QStringLiteral("wrong-Pw-5521");
    struct Case {
        QStringList arguments;
        QProcessEnvironment env;
        int code;
        QString err;
    };
    const QStringList dump = QStringList{QStringLiteral("dump")} + connection();
    const QStringList restore = QStringList{QStringLiteral("restore")} + connection();
    const std::vector<Case> cases = {
        {{}, cliEnvironment(), 2, QStringLiteral("no command given")},
        {{QStringLiteral("copy")}, cliEnvironment(), 2, QStringLiteral("unknown command")},
        {dump + QStringList{"--bogus"}, cliEnvironment(), 2,
         QStringLiteral("unknown option \"--bogus\"")},
        {dump + QStringList{"--out", path("x.sql")}, cliEnvironment(), 2,
         QStringLiteral("give --database")},
        {dump + QStringList{"--database", s.name(), "--case", "title", "--out", path("x.sql")},
         cliEnvironment(), 2, QStringLiteral("--case takes")},
        {restore + QStringList{"--database", s.name(), "--table", "t", path("s.sql")},
         cliEnvironment(), 2, QStringLiteral("unknown option \"--table\"")},
        {dump + QStringList{"--database", s.name(), "--out", path("x.sql")}, cliEnvironment(wrong),
         1, QStringLiteral("Access denied")},
        {dump + QStringList{"--database", s.name(), "--out", path("x.sql")},
         cliEnvironment(std::nullopt), 1, QStringLiteral("Access denied")},
        {dump + QStringList{"--database", s.name() + "_none", "--out", path("x.sql")},
         cliEnvironment(), 1, QStringLiteral("Cannot select the database")},
        {restore + QStringList{"--database", s.name() + "_none", path("s.sql")}, cliEnvironment(),
         1, QStringLiteral("cannot be used")},
        {restore + QStringList{"--database", s.name(), "--data", path("s.sql")}, cliEnvironment(),
         1, QStringLiteral("cannot read the data file")},
        {restore + QStringList{"--database", s.name(), path("none.sql")}, cliEnvironment(), 1,
         QStringLiteral("cannot read")},
        {restore + QStringList{"--database", s.name(), path("empty.sql")}, cliEnvironment(), 1,
         QStringLiteral("empty.sql is empty: there is nothing to restore")},
        {restore + QStringList{"--database", s.name(), path("wide.sql")}, cliEnvironment(), 1,
         QStringLiteral("wide.sql is UTF-16 text")},
        {restore + QStringList{"--database", s.name(), path("foreign.sql")}, cliEnvironment(), 1,
         QStringLiteral("foreign.sql line 2: drops a database")},
        {restore + QStringList{"--database", s.name(), path("warned.sql")}, cliEnvironment(), 3,
         QStringLiteral("warned.sql: the server warned on 2 statements")},
        {restore + QStringList{"--database", s.name(), "/dev/zero"}, cliEnvironment(), 1,
         QStringLiteral("cannot read /dev/zero: it is not a regular file")},
        {restore + QStringList{"--database", s.name(), path("photo.sql")}, cliEnvironment(), 1,
         QStringLiteral("photo.sql is not a text file (it holds NUL bytes)")},
        {restore + QStringList{"--database", s.name(), path("x.xml")}, cliEnvironment(), 1,
         QStringLiteral("x.xml is an XML dump")},
        {restore + QStringList{"--database", s.name(), path("s8.sql.gz")}, cliEnvironment(), 0,
         QString()},
        {restore + QStringList{"--database", s.name(), path("cut.sql.gz")}, cliEnvironment(), 1,
         QStringLiteral("cut off")},
        {restore + QStringList{"--database", s.name(), "--timeout", "soon", path("s.sql")},
         cliEnvironment(), 2, QStringLiteral("--timeout takes a number of seconds")},
    };
    writeFile(path("empty.sql"), "");
    writeFile(path("warned.sql"), kWarnedScript);
    writeFile(path("photo.sql"), QByteArray("\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\x01\x01", 14));
    writeFile(path("x.xml"), "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<mysqldump>\n");
    // Two gzip members joined, as cat joins compressed files; and one cut short.
    for (const char* part : {"Insert Into t values (8);#+----\r\n", "Insert Into t values (9);#+----\r\n"}) {
        writeFile(path("part.sql"), part);
        ASSERT_EQ(runProgram(QStringLiteral("gzip"), {"-f", path("part.sql")},
                             QProcessEnvironment::systemEnvironment()).code, 0);
        QFile joined(path("s8.sql.gz"));
        ASSERT_TRUE(joined.open(QIODevice::Append));
        joined.write(readFile(path("part.sql.gz")));
    }
    writeFile(path("cut.sql.gz"), readFile(path("s8.sql.gz")).chopped(12));
    writeFile(path("wide.sql"), QByteArray("\xFF\xFEs\0e\0l\0", 8));
    writeFile(path("foreign.sql"), "Insert Into t values (7);#+----\r\n"
                                   "DROP DATABASE IF EXISTS lvx_never_there;#+----\r\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        const CliResult r = runCli(c.arguments, c.env);
        EXPECT_EQ(r.code, c.code);
        EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(wrong) || r.out.contains(wrong));
        EXPECT_FALSE(r.err.contains(QStringLiteral("Data Insert - Ignore")));  // nothing ran
        EXPECT_FALSE(r.err.contains(testserver::password()) ||
                     r.out.contains(testserver::password()));
    }
    EXPECT_FALSE(QFile::exists(path("x.sql")));
    // The refused file ran nothing; given leave, it runs.
    db::Result seven = s.connection().select("SELECT COUNT(*) FROM t WHERE id = 7");
    ASSERT_TRUE(seven.next());
    EXPECT_EQ(seven.text(0), QStringLiteral("0"));
    db::Result unpacked = s.connection().select("SELECT COUNT(*) FROM t WHERE id IN (8, 9)");
    ASSERT_TRUE(unpacked.next());
    EXPECT_EQ(unpacked.text(0), QStringLiteral("2"));  // both members of the compressed file
    s.exec("DELETE FROM t WHERE id IN (8, 9)");
    EXPECT_EQ(runCli(restore + QStringList{"--database", s.name(), "--allow-foreign-statements",
                                           path("foreign.sql")})
                  .code,
              0);
    s.exec("DELETE FROM t");

    // Refused statements and a last statement without its marker fail the run.
    const CliResult r = runCli(restore + QStringList{"--database", s.name(), path("s.sql")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("restore: 3 statements, 1 failures, ")))
        << r.out.toStdString();
    EXPECT_TRUE(
        r.err.contains(QStringLiteral("s.sql: 1 of 3 statements failed:\nline 2: Duplicate entry")))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("from line 4 on has no end marker")));
}

// A data file cut short (a copy that stopped): every table whose count line never came is
// named as possibly short, not only the statement left without its marker.
TEST_F(DumpTest, CutDataFileNamesTheTablesThatMayHaveLostRows) {
    ScratchDatabase source(QStringLiteral("src"));
    source.exec("CREATE TABLE a (id INT PRIMARY KEY)");
    source.exec("CREATE TABLE b (id INT PRIMARY KEY)");
    source.exec("INSERT INTO a VALUES (1), (2), (3)");
    source.exec("INSERT INTO b VALUES (1)");
    const QStringList restore = QStringList{QStringLiteral("restore")} + connection();
    ASSERT_EQ(runCli(QStringList{QStringLiteral("dump")} + connection() +
                     QStringList{"--database", source.name(), "--data", "--out", path("c.sql")})
                  .code,
              0);
    const QByteArray data = readFile(path("c.dat"));
    const qsizetype cut = data.indexOf("(2)");
    ASSERT_GT(cut, 0) << data.toStdString();
    writeFile(path("c.dat"), data.left(cut + 2));
    ScratchDatabase target(QStringLiteral("dst"));
    const CliResult r = runCli(restore + QStringList{"--database", target.name(), "--data", path("c.sql")});
    EXPECT_EQ(r.code, 1);
    for (const char* table : {"a: holds 1 row;", "b: holds 0 rows;"})
        EXPECT_TRUE(r.err.contains(QStringLiteral("table ") + QLatin1String(table) +
                                   QStringLiteral(" the data file was cut short")))
            << table << "\n" << r.err.toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("Checked:"))) << r.out.toStdString();
}

// Past a file size limit the dump fails with a message, and the files of the last dump stay.
TEST_F(DumpTest, CliReportsAFileSizeLimitAndKeepsTheOldFiles) {
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT PRIMARY KEY, v TEXT)");
    s.exec("INSERT INTO t VALUES (1, REPEAT('x', 20000))");
    writeFile(path("o.sql"), "old");
    const QStringList dump = QStringList{QStringLiteral("dump")} + connection() +
                             QStringList{"--database", s.name(), "--data", "--out", path("o.sql")};
    const CliResult r = runProgram(QStringLiteral("sh"),
                                   QStringList{"-c", "ulimit -f 8; exec \"$0\" \"$@\"", cliPath()} + dump,
                                   cliEnvironment());
    EXPECT_EQ(r.code, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("lorvex-cli: "))) << r.err.toStdString();
    EXPECT_EQ(readFile(path("o.sql")), QByteArray("old"));
}

// Ctrl-C (or SIGTERM) stops the statement running on the server, not only the program: the
// restore ends at once as stopped, and the server no longer runs it.
TEST_F(DumpTest, CliInterruptStopsTheRunningStatement) {
    ScratchDatabase s;
    const QString marker = uniqueName("sleep");
    writeFile(path("slow.sql"), ("SELECT SLEEP(120) AS `" + marker + "`;#+----\r\n").toUtf8());
    QProcess process;
    process.setProcessEnvironment(cliEnvironment());
    process.start(cliPath(), QStringList{"restore"} + connection() +
                                 QStringList{"--database", s.name(), path("slow.sql")});
    ASSERT_TRUE(process.waitForStarted());
    const std::string running = "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE INFO LIKE " +
                                s.connection().quoteValue("%" + marker + "%") + " AND ID <> CONNECTION_ID()";
    const auto runs = [&] {
        db::Result r = s.connection().select(running);
        return r.next() && r.text(0) != QLatin1String("0");
    };
    for (int i = 0; i < 200 && !runs(); ++i) QThread::msleep(50);
    ASSERT_TRUE(runs()) << process.readAllStandardError().toStdString();
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 130);
    EXPECT_TRUE(process.readAllStandardError().contains("interrupted"));
    EXPECT_FALSE(runs());
}

// A password given on the command line disappears from the process's arguments (what ps and
// /proc show) as soon as they are read, and never shows in an error about a misspelt option.
TEST_F(DumpTest, CliHidesAPasswordGivenAsAnArgument) {
    ScratchDatabase s;
    const QString fifo = path("wait.sql");
    const QByteArray secret = testserver::password().toLocal8Bit();
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QStringList& password :
         {QStringList{"--password=" + testserver::password()},
          QStringList{"--password", testserver::password()}}) {
        QProcess process;
        process.setProcessEnvironment(cliEnvironment(std::nullopt));
        process.start(cliPath(), QStringList{"restore"} + connection() + password +
                                     QStringList{"--database", s.name(), fifo});
        ASSERT_TRUE(process.waitForStarted());
        // The program now waits for the script to be written into the pipe.
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(process.processId()));
        QByteArray shown;
        for (int i = 0; i < 100; ++i) {
            ASSERT_TRUE(cmdline.open(QIODevice::ReadOnly));
            shown = cmdline.readAll();
            cmdline.close();
            // Right after the start the pid may not have run the program yet.
            if (shown.contains("restore") && !shown.contains(secret)) break;
            QThread::msleep(50);
        }
        ASSERT_EQ(process.state(), QProcess::Running) << process.readAllStandardError().toStdString();
        EXPECT_TRUE(shown.contains("restore")) << shown.toStdString();
        EXPECT_FALSE(shown.contains(secret));
        QFile writer(fifo);  // opening blocks until the program reads: it does, it is running
        ASSERT_TRUE(writer.open(QIODevice::WriteOnly));
        writer.write("select 1;#+----\r\n");
        writer.close();
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    }

    const CliResult r = runCli(QStringList{"dump"} + connection() +
                               QStringList{"--pasword=" + testserver::password(), "--database",
                                           s.name(), "--out", path("x.sql")});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("unknown option \"--pasword\""))) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(testserver::password()));
}

TEST_F(DumpTest, CliRegisteredServerAndPasswordSources) {
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT)");
    const QString program = path("lorvex-cli");
    ASSERT_TRUE(QFile::copy(cliPath(), program));
    ServerRegistry(path("HostInfor.Dat"))
        .AppendServerEntry(QStringLiteral("test srv"),
                           {testserver::hostField(), testserver::user(), testserver::password()});
    const QStringList arguments{"dump",   "--server", "test srv",   "--database",
                                s.name(), "--out",    path("r.sql")};

    CliResult r = runCli(arguments, cliEnvironment(std::nullopt), program);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(path("r.sql")));
    EXPECT_FALSE(QFile::exists(path("r.dat")));

    r = runCli(arguments, cliEnvironment(QStringLiteral("env-wins")),
               program);  // env over registry
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Access denied"))) << r.err.toStdString();

    r = runCli(arguments + QStringList{"--password", testserver::password()},
               cliEnvironment(QStringLiteral("env-loses")), program);  // option over env
    EXPECT_EQ(r.code, 0) << r.err.toStdString();

    r = runCli({"dump", "--server", "nobody", "--database", s.name(), "--out", path("n.sql")},
               cliEnvironment(), program);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("no server named \"nobody\"")))
        << r.err.toStdString();
}

}  // namespace

// ---- complete backups: routines, triggers, events -------------------------------------

namespace {

// Tables with keys both ways, a trigger that fills another table, routines whose bodies hold
// comments, line breaks, CR LF and the end marker in a literal, a function a view calls, a
// view on that view, an event and a definer that exists nowhere.
void fillObjects(ScratchDatabase& s) {
    s.exec("CREATE TABLE dept (id INT PRIMARY KEY, boss INT NULL) ENGINE=InnoDB");
    s.exec("CREATE TABLE emp (id INT PRIMARY KEY, dept INT, name VARCHAR(40), "
           "FOREIGN KEY (dept) REFERENCES dept (id)) ENGINE=InnoDB");
    s.exec("ALTER TABLE dept ADD FOREIGN KEY (boss) REFERENCES emp (id)");
    s.exec("CREATE TABLE audit (n INT AUTO_INCREMENT PRIMARY KEY, what VARCHAR(60))");
    s.exec("CREATE TRIGGER emp_ai AFTER INSERT ON emp FOR EACH ROW\n"
           "  INSERT INTO audit (what) VALUES (CONCAT('hired ', NEW.name))");
    s.exec("CREATE TRIGGER emp_bi BEFORE INSERT ON emp FOR EACH ROW SET NEW.name = TRIM(NEW.name)");
    s.exec("CREATE FUNCTION label(x VARCHAR(40)) RETURNS VARCHAR(80) DETERMINISTIC\n"
           "BEGIN\n  -- a dash comment; with a semicolon\n  # a hash comment\n"
           "  RETURN CONCAT(x, '\nline;#+----\n', \"done;\");\nEND");
    s.exec("CREATE DEFINER=`lvx_ghost`@`%` PROCEDURE hire(IN n INT)\r\nBEGIN\r\n"
           "  /* CR LF body */ SELECT n, 'a;#+----';\r\nEND");
    s.exec("CREATE VIEW v_names AS SELECT id, label(name) AS l FROM emp");
    s.exec("CREATE VIEW v_top AS SELECT l FROM v_names WHERE id < 3");
    s.exec("CREATE EVENT ev ON SCHEDULE EVERY 1 DAY STARTS '2030-01-01 00:00:00' DISABLE "
           "DO DELETE FROM audit WHERE n < 0");
    s.exec("INSERT INTO dept VALUES (1, NULL), (2, NULL)");
    s.exec("INSERT INTO emp VALUES (1, 1, ' ann '), (2, 2, 'bob'), (3, 1, 'cy')");
    s.exec("UPDATE dept SET boss = id");
}

// Routines, triggers and events with their texts and modes, as the server shows them.
std::vector<std::string> objectTexts(db::Connection& c, const QString& database) {
    std::vector<std::string> out;
    const std::string schema = c.quoteValue(database);
    const std::pair<const char*, std::string> kinds[] = {
        {"FUNCTION", "SELECT ROUTINE_NAME FROM information_schema.ROUTINES WHERE ROUTINE_TYPE = "
                     "'FUNCTION' AND ROUTINE_SCHEMA = " + schema},
        {"PROCEDURE", "SELECT ROUTINE_NAME FROM information_schema.ROUTINES WHERE ROUTINE_TYPE = "
                      "'PROCEDURE' AND ROUTINE_SCHEMA = " + schema},
        {"TRIGGER", "SELECT TRIGGER_NAME FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = " + schema},
        {"EVENT", "SELECT EVENT_NAME FROM information_schema.EVENTS WHERE EVENT_SCHEMA = " + schema},
    };
    c.selectDb(database);
    for (const auto& [kind, list] : kinds) {
        std::vector<std::string> names;
        for (db::Result r = c.select(list); r.next();) names.emplace_back(r.value(0).view());
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            db::Result r = c.select(std::string("SHOW CREATE ") + kind + " " + db::quoteIdentifier(name));
            EXPECT_TRUE(r.next());
            std::string text = std::string(kind) + " " + name + ":";
            // Name, mode and text (an event's time zone too); not the creation time.
            for (unsigned i = 1; i < std::min(r.columnCount(), kind == std::string("EVENT") ? 4u : 3u); ++i)
                text += "|" + std::string(r.value(i).view());
            out.push_back(text);
        }
    }
    return out;
}

void expectSameBackup(const QString& source, const QString& target) {
    expectSameDatabase(source, target);
    db::Connection c = testserver::connect();
    const std::vector<std::string> objects = objectTexts(c, source);
    EXPECT_EQ(objects.size(), 5u);
    EXPECT_EQ(objectTexts(c, target), objects);
}

QStringList mariadbConnection() {
    const QString host = testserver::hostField();
    return {QStringLiteral("--no-defaults"), QStringLiteral("-h") + host.section(u':', 0, 0),
            QStringLiteral("-P") + (host.contains(u':') ? host.section(u':', 1) : QStringLiteral("3306")),
            QStringLiteral("-u") + testserver::user()};
}

QProcessEnvironment mariadbEnvironment() {
    QProcessEnvironment env = cliEnvironment();
    env.insert(QStringLiteral("MYSQL_PWD"), env.value(QStringLiteral("LORVEX_PASSWORD")));
    return env;
}

}  // namespace

TEST_F(DumpTest, EveryObjectComesBackIdenticalAndTriggersDoNotFireOnTheDumpsRows) {
    ScratchDatabase source(QStringLiteral("src"));
    fillObjects(source);
    const CliResult dumped = runCli(
        QStringList{QStringLiteral("dump")} + connection() +
        QStringList{"--database", source.name(), "--drop", "--data", "--out", path("o.sql")});
    ASSERT_EQ(dumped.code, 0) << dumped.err.toStdString();
    EXPECT_TRUE(dumped.out.contains(QStringLiteral("also 2 routines, 2 triggers, 1 event")))
        << dumped.out.toStdString();
    const QByteArray schema = readFile(path("o.sql"));
    EXPECT_LT(schema.indexOf("FUNCTION `label`"), schema.indexOf("VIEW `v_names`"));
    EXPECT_LT(schema.indexOf("VIEW `v_names`"), schema.indexOf("VIEW `v_top`"));
    EXPECT_TRUE(schema.contains("# Dumping triggers and events, after the rows"));
    EXPECT_TRUE(schema.contains("#+hex "));  // the CR LF procedure

    // Into an empty database, then over that copy again: --drop replaces, nothing is lost.
    ScratchDatabase target(QStringLiteral("dst"));
    for (int pass = 0; pass < 2; ++pass) {
        const CliResult restored =
            runCli(QStringList{QStringLiteral("restore")} + connection() +
                   QStringList{"--database", target.name(), "--data", path("o.sql")});
        EXPECT_EQ(restored.code, 0) << restored.err.toStdString();
        EXPECT_TRUE(restored.out.contains(QStringLiteral("Checked: 3 tables hold the 8 rows")))
            << restored.out.toStdString();
        EXPECT_TRUE(restored.err.contains(QStringLiteral("DEFINER=`lvx_ghost`@`%`")))
            << restored.err.toStdString();
        expectSameBackup(source.name(), target.name());
    }

    // The same database through mariadb-dump, replayed as a plain script.
    const CliResult md = runProgram(
        QStringLiteral("mariadb-dump"),
        mariadbConnection() + QStringList{"--routines", "--triggers", "--events",
                                          "--result-file=" + path("md.sql"), source.name()},
        mariadbEnvironment());
    ASSERT_EQ(md.code, 0) << md.err.toStdString();
    ScratchDatabase plain(QStringLiteral("md"));
    const CliResult replayed = runCli(QStringList{QStringLiteral("restore")} + connection() +
                                      QStringList{"--database", plain.name(), path("md.sql")});
    EXPECT_EQ(replayed.code, 0) << replayed.err.toStdString() << replayed.out.toStdString();
    EXPECT_TRUE(replayed.out.contains(QStringLiteral("(plain SQL script)"))) << replayed.out.toStdString();
    expectSameBackup(source.name(), plain.name());
}

TEST_F(DumpTest, DefinersCanBeLeftOutAndAreLeftOutWhenRefused) {
    ScratchDatabase source(QStringLiteral("src"));
    source.exec("CREATE TABLE t (id INT)");
    source.exec("CREATE DEFINER=`lvx_ghost`@`%` TRIGGER t_bi BEFORE INSERT ON t FOR EACH ROW "
                "SET NEW.id = NEW.id + 1");
    ScratchDatabase target(QStringLiteral("dst"));

    // Written without DEFINER: the restoring account owns the trigger.
    const CliResult dumped = runCli(QStringList{QStringLiteral("dump")} + connection() +
                                    QStringList{"--database", source.name(), "--table", "t",
                                                "--skip-definer", "--out", path("t.sql")});
    ASSERT_EQ(dumped.code, 0) << dumped.err.toStdString();
    EXPECT_FALSE(readFile(path("t.sql")).contains("DEFINER"));

    // An account that may not name another definer: the server refuses, the trigger is
    // created without it and the report says so.
    const QString low = uniqueName("lvx_low");
    db::Connection admin = testserver::connect();
    admin.exec("CREATE USER " + admin.quoteValue(low) + "@'%' IDENTIFIED BY 'pw'");
    admin.exec("GRANT ALL ON " + q(target.name()) + ".* TO " + admin.quoteValue(low) + "@'%'");
    db::ConnectParams params = testserver::params();
    params.user = low;
    params.password = QStringLiteral("pw");
    db::Connection lowConnection;
    lowConnection.connect(params);
    QByteArray file = "CREATE TABLE t (id INT);#+----\r\nCREATE DEFINER=`lvx_ghost`@`%` TRIGGER "
                      "t_bi BEFORE INSERT ON t FOR EACH ROW SET NEW.id = 1;#+----\r\n";
    const dump::RestoreRun run = runText(lowConnection, target.name(), file);
    admin.exec("DROP USER " + admin.quoteValue(low) + "@'%'");
    EXPECT_EQ(run.failures, 0u);
    EXPECT_EQ(run.definersLeftOut, 1u);
    EXPECT_FALSE(run.ok());
    EXPECT_TRUE(dump::failureReport(run, QStringLiteral("t.sql")).contains(QStringLiteral("line 2: DEFINER=`lvx_ghost`@`%`")));
    EXPECT_EQ(target.scalar("SELECT DEFINER FROM information_schema.TRIGGERS WHERE TRIGGER_NAME = "
                            "'t_bi' AND TRIGGER_SCHEMA = DATABASE()"),
              low + QStringLiteral("@%"));
}

// Money moves between two tables while the dump reads them: the dumped state is one that
// existed, so the total is the same.
TEST_F(DumpTest, ADatabaseBeingWrittenDumpsOneMoment) {
    ScratchDatabase source(QStringLiteral("src"));
    for (const char* t : {"a", "b"}) {
        source.exec(std::string("CREATE TABLE ") + t + " (id INT PRIMARY KEY, v INT) ENGINE=InnoDB");
        source.exec(std::string("INSERT INTO ") + t + " SELECT seq, 100 FROM seq_1_to_30000");
    }
    source.exec("CREATE TABLE m (id INT) ENGINE=MyISAM");
    QProcess dumper;
    dumper.setProcessEnvironment(cliEnvironment());
    dumper.start(cliPath(), QStringList{QStringLiteral("dump")} + connection() +
                                QStringList{"--database", source.name(), "--data", "--out", path("s.sql")});
    ASSERT_TRUE(dumper.waitForStarted());
    db::Connection writer = testserver::connect();
    writer.selectDb(source.name());
    int moves = 0;
    while (dumper.state() != QProcess::NotRunning) {
        const std::string id = std::to_string(1 + moves % 30000);
        writer.exec("START TRANSACTION");
        writer.exec("UPDATE a SET v = v - 7 WHERE id = " + id);
        writer.exec("UPDATE b SET v = v + 7 WHERE id = " + id);
        writer.exec("COMMIT");
        ++moves;
        dumper.waitForFinished(1);
    }
    ASSERT_EQ(dumper.exitCode(), 0) << dumper.readAllStandardError().toStdString();
    EXPECT_TRUE(QString::fromLocal8Bit(dumper.readAllStandardOutput())
                    .contains(QStringLiteral("read outside the consistent snapshot: m")));
    ScratchDatabase target(QStringLiteral("dst"));
    const CliResult restored = runCli(QStringList{QStringLiteral("restore")} + connection() +
                                      QStringList{"--database", target.name(), "--data", path("s.sql")});
    ASSERT_EQ(restored.code, 0) << restored.err.toStdString();
    EXPECT_GT(moves, 0);
    EXPECT_EQ(target.scalar("SELECT (SELECT SUM(v) FROM a) + (SELECT SUM(v) FROM b)"),
              QStringLiteral("6000000"));
}

// The check after a restore names a table whose rows did not all arrive.
TEST_F(DumpTest, VerificationNamesTablesThatDiffer) {
    ScratchDatabase target;
    db::Connection c = testserver::connect();
    const QByteArray file =
        "CREATE TABLE t (id INT PRIMARY KEY);#+----\r\nCREATE TABLE u (id INT);#+----\r\n"
        "Insert Into `t` values (1);#+----\r\nInsert Into `t` values (1);#+----\r\n"
        "# Dumped 3 rows of table 't'\r\nInsert Into `u` values (5);#+----\r\n";
    QByteArray copy = file;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    dump::RestoreEngine engine(c, target.name());
    const dump::RestoreRun run = engine.run(buffer, dump::RunKind::Data, {});
    ASSERT_EQ(failureOf([&] { engine.finish(); }), QString());
    EXPECT_EQ(run.failures, 1u);
    const dump::Verification v = dump::verifyRestore(c, target.name(), engine.tally());
    EXPECT_TRUE(v.checked);
    EXPECT_EQ(v.tables, 2);
    EXPECT_EQ(v.differences,
              QStringList({QStringLiteral("table t: the data file carries 2 rows, the dump wrote 3 "
                                          "(the file is incomplete)"),
                           QStringLiteral("table t: holds 1 row, the files carried 2")}));

    // A statement skipped as too large is in the file: counted as skipped, not as missing.
    ScratchDatabase small(QStringLiteral("small"));
    small.exec("CREATE TABLE t (id INT PRIMARY KEY)");
    small.exec("INSERT INTO t VALUES (2)");
    dump::RestoreTally tally;
    tally.skipped("t", 1);
    tally.inserted("Insert Into `t` values ", "t", 1);
    tally.dumped("t", 2);
    tally.inserted("Insert Into `gone` values ", "gone", 3);  // its CREATE failed
    EXPECT_EQ(dump::verifyRestore(c, small.name(), tally).differences,
              QStringList({QStringLiteral("table gone: not in the database; the files carried 3 rows"),
                           QStringLiteral("table t: holds 1 row; 1 row of the files were in "
                                          "statements skipped as too large")}));
}
