#include <gtest/gtest.h>

#include <QBuffer>

#include "dump/DumpFormat.h"
#include "dump/SqlScript.h"
#include "sqllex/ScriptReader.h"
#include "dump/StatementReader.h"

namespace {

using dump::ScriptFormat;

struct Expected {
    std::string text;
    qint64 line;
};

struct SplitCase {
    const char* name;
    std::string script;
    std::vector<Expected> statements;
};

std::ostream& operator<<(std::ostream& os, const SplitCase& c) { return os << c.name; }

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, CutsAsTheClientDoes) {
    const std::vector<sqllex::ScriptStatement> got = sqllex::splitSqlScript(GetParam().script);
    const std::vector<Expected>& want = GetParam().statements;
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].text, want[i].text) << "statement " << i;
        EXPECT_EQ(got[i].line, want[i].line) << "statement " << i;
    }
}

const std::string kMariadbDump =
    "/*M!999999\\- enable the sandbox mode */ \n"
    "-- MariaDB dump 10.19  Distrib 10.11.6-MariaDB\n"
    "--\n"
    "-- Host: localhost    Database: shop\n"
    "-- ------------------------------------------------------\n"
    "\n"
    "/*!40101 SET @OLD_CHARACTER_SET_CLIENT=@@CHARACTER_SET_CLIENT */;\n"
    "/*!40101 SET NAMES utf8mb4 */;\n"
    "/*M!100616 SET @OLD_NOTE_VERBOSITY=@@NOTE_VERBOSITY, NOTE_VERBOSITY=0 */;\n"
    "\n"
    "--\n"
    "-- Dumping data for table `t`\n"
    "--\n"
    "\n"
    "LOCK TABLES `t` WRITE;\n"
    "/*!40000 ALTER TABLE `t` DISABLE KEYS */;\n"
    "INSERT INTO `t` VALUES (1,'a;b'),(2,'c\\'d');\n"
    "UNLOCK TABLES;\n"
    "-- Dump completed on 2024-01-01 12:00:00\n";

const std::string kProcedure =
    "DELIMITER ;;\n"
    "CREATE PROCEDURE p()\n"
    "BEGIN\n"
    "  -- step one;\n"
    "  SELECT 'a;\n"
    "b;#+----';\n"
    "  /* done; */\n"
    "END ;;\n"
    "delimiter ;\n"
    "CALL p();\n";

// After SET NAMES gbk, 0xD5 0x5C is one character: the 0x5C is no backslash.
const std::string kGbkString = "SELECT '\xD5\x5C';\nSELECT 2;";

INSTANTIATE_TEST_SUITE_P(
    Scripts, SplitTest,
    ::testing::Values(
        SplitCase{"QuotesHideTheDelimiter", "SELECT ';', \";\", `a;b`;\nSELECT 2;",
                  {{"SELECT ';', \";\", `a;b`", 1}, {"SELECT 2", 2}}},
        SplitCase{"EscapedAndDoubledQuotes",
                  "SELECT 'it''s;', 'a\\';b', \"q\"\";\", `x``;`;SELECT '\\\\';SELECT `\\`;",
                  {{"SELECT 'it''s;', 'a\\';b', \"q\"\";\", `x``;`", 1},
                   {"SELECT '\\\\'", 1},
                   {"SELECT `\\`", 1}}},
        SplitCase{"CommentsBeforeAreDroppedInsideKept",
                  "-- a; b\n# c; d\n/* e;\n f */ SELECT 1 /* g; */ -- h;\n;\nSELECT 2 # i;\n;",
                  {{"SELECT 1 /* g; */ -- h;", 4}, {"SELECT 2 # i;", 6}}},
        SplitCase{"DashesWithoutBlankAreCode", "SELECT 1--x;\nSELECT 1 -- x;\n2;",
                  {{"SELECT 1--x", 1}, {"SELECT 1 -- x;\n2", 2}}},
        SplitCase{"ProcedureBetweenDelimiters", kProcedure,
                  {{"CREATE PROCEDURE p()\nBEGIN\n  -- step one;\n  SELECT 'a;\nb;#+----';\n"
                    "  /* done; */\nEND",
                    2},
                   {"CALL p()", 10}}},
        SplitCase{"BackslashDelimiterCommand", "\\d //\nSELECT 1; SELECT 2//\n\\d ;\nSELECT 3;",
                  {{"SELECT 1; SELECT 2", 2}, {"SELECT 3", 4}}},
        SplitCase{"MariadbDump", kMariadbDump,
                  {{"/*!40101 SET @OLD_CHARACTER_SET_CLIENT=@@CHARACTER_SET_CLIENT */", 7},
                   {"/*!40101 SET NAMES utf8mb4 */", 8},
                   {"/*M!100616 SET @OLD_NOTE_VERBOSITY=@@NOTE_VERBOSITY, NOTE_VERBOSITY=0 */", 9},
                   {"LOCK TABLES `t` WRITE", 15},
                   {"/*!40000 ALTER TABLE `t` DISABLE KEYS */", 16},
                   {"INSERT INTO `t` VALUES (1,'a;b'),(2,'c\\'d')", 17},
                   {"UNLOCK TABLES", 18}}},
        // The client ends the statement at a delimiter inside code the server runs.
        SplitCase{"ConditionalCommentIsCode", "/*!40101 SET @a=';' */;/*!50003 SELECT 1; */;",
                  {{"/*!40101 SET @a=';' */", 1}, {"/*!50003 SELECT 1", 1}, {"*/", 1}}},
        SplitCase{"LastStatementWithoutDelimiter", ";;SELECT 1;;;\n  SELECT 2  \n",
                  {{"SELECT 1", 1}, {"SELECT 2", 2}}},
        SplitCase{"OnlyCommentsAfterTheLast", "SELECT 1; -- end\n/* x */\n", {{"SELECT 1", 1}}},
        SplitCase{"CrLfLineBreaks", "SELECT 1;\r\n\r\nSELECT\r\n 2 \r\n;\r\n",
                  {{"SELECT 1", 1}, {"SELECT\r\n 2", 3}}},
        SplitCase{"Utf8TextAndByteOrderMark", "\xEF\xBB\xBFSELECT 'Grüße; 日本';\nSELECT 2;",
                  {{"SELECT 'Grüße; 日本'", 1}, {"SELECT 2", 2}}},
        SplitCase{"GbkSecondByteIsNoBackslash", "SET NAMES gbk;\n" + kGbkString,
                  {{"SET NAMES gbk", 1}, {"SELECT '\xD5\x5C'", 2}, {"SELECT 2", 3}}},
        SplitCase{"Utf8mb4BackslashEscapes", "SET NAMES utf8mb4;\n" + kGbkString,
                  {{"SET NAMES utf8mb4", 1}, {kGbkString, 2}}},
        // mysqldump saves the client character set around each table and restores it.
        SplitCase{"GbkRestoredFromSavedVariable",
                  "/*!40101 SET NAMES gbk */;\n"
                  "/*!40101 SET @saved_cs_client = @@character_set_client */;\n"
                  "/*!40101 SET character_set_client = utf8 */;\n"
                  "/*!40101 SET character_set_client = @saved_cs_client */;\n" +
                      kGbkString,
                  {{"/*!40101 SET NAMES gbk */", 1},
                   {"/*!40101 SET @saved_cs_client = @@character_set_client */", 2},
                   {"/*!40101 SET character_set_client = utf8 */", 3},
                   {"/*!40101 SET character_set_client = @saved_cs_client */", 4},
                   {"SELECT '\xD5\x5C'", 5},
                   {"SELECT 2", 6}}},
        SplitCase{"SjisSecondByteIsNoBacktick", "SET SESSION character_set_client='sjis';"
                                                "SELECT `\x83\x60`;SELECT 1;",
                  {{"SET SESSION character_set_client='sjis'", 1},
                   {"SELECT `\x83\x60`", 1},
                   {"SELECT 1", 1}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SqlScriptReader, StatementAcrossReadBoundaryComesOutWhole) {
    constexpr std::size_t kBoundary = std::size_t(1) << 20;
    const std::string head = "SELECT 1;\n";
    std::string insert = "INSERT INTO t VALUES ('";
    // The CR of the CR LF inside the statement is the last byte of the first read.
    insert.append(kBoundary - 4 - head.size() - insert.size(), 'x');
    insert += "'),\r\n('" + std::string(5000, 'y') + "')";
    QByteArray bytes = QByteArray::fromStdString(head + insert + ";\r\nDELIMITER $$\nSELECT 2$$");
    ASSERT_EQ(bytes.at(qsizetype(kBoundary) - 1), '\r');
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    sqllex::SqlScriptReader reader(buffer);
    std::vector<Expected> got;
    std::string_view statement;
    while (reader.next(statement)) got.push_back({std::string(statement), reader.line()});
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[1].text, insert);
    EXPECT_EQ(got[1].line, 2);
    EXPECT_EQ(got[2].text, "SELECT 2");
    EXPECT_EQ(got[2].line, 5);
    EXPECT_EQ(reader.delimiter(), "$$");
    EXPECT_EQ(reader.position(), bytes.size());
    EXPECT_FALSE(reader.failed());
}

// Past the limit a statement is skipped, named by its line, and the reading goes on.
TEST(SqlScriptReader, OverLongStatementIsSkippedWithItsLine) {
    constexpr std::size_t kLimit = std::size_t(1) << 20;
    const std::string select = "SELECT '" + std::string(2 * kLimit, 'z') + "'";
    QByteArray bytes = QByteArray::fromStdString("SELECT 1;\n\n/* long */ " + select + ";\nSELECT 3;");
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    sqllex::SqlScriptReader reader(buffer, kLimit);
    std::string_view statement;
    ASSERT_TRUE(reader.next(statement));
    EXPECT_EQ(statement, "SELECT 1");
    ASSERT_TRUE(reader.next(statement));
    EXPECT_EQ(reader.skippedLength(), select.size());
    EXPECT_EQ(reader.line(), 3);
    EXPECT_EQ(statement, select.substr(0, dump::kSkippedHead));
    ASSERT_TRUE(reader.next(statement));
    EXPECT_EQ(statement, "SELECT 3");
    EXPECT_EQ(reader.skippedLength(), 0u);
    EXPECT_FALSE(reader.next(statement));
    EXPECT_FALSE(reader.failed());
}

// Both restore readers, under a small limit, on statements many times as long, whole lines
// of them and lines without an end: each is skipped as it is read, reported with the length,
// line and first bytes it has when read whole, and the statement after it comes whole; the
// reader holds no more than the limit and one read piece meanwhile.
struct SkipCase {
    const char* name;
    std::vector<std::string> lines;  // of the long statement
};

std::ostream& operator<<(std::ostream& os, const SkipCase& c) { return os << c.name; }

struct ReadOut {
    std::vector<std::string> statements;
    std::vector<std::uint64_t> skipped;
    std::vector<qint64> lines;
    qint64 position = 0;
    std::size_t held = 0;
    std::string leftover;
    qint64 ctrlZLine = 0;
};

template <typename Reader>
ReadOut readThrough(Reader& reader) {
    ReadOut out;
    std::string_view statement;
    while (reader.next(statement)) {
        out.statements.emplace_back(statement);
        out.skipped.push_back(reader.skippedLength());
        out.lines.push_back(reader.line());
    }
    EXPECT_FALSE(reader.failed()) << reader.errorString().toStdString();
    out.position = reader.position();
    out.held = reader.heldBytes();
    return out;
}

// `own`: this program's format (CR LF, the marker), read past a Ctrl-Z as the restore does.
ReadOut readText(const std::string& text, bool own, std::size_t limit) {
    QByteArray bytes = QByteArray::fromStdString(text);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    if (own) {
        dump::StatementReader reader(buffer, limit, true);
        ReadOut out = readThrough(reader);
        out.leftover = reader.leftover();
        out.ctrlZLine = reader.ctrlZLine();
        return out;
    }
    sqllex::SqlScriptReader reader(buffer, limit);
    return readThrough(reader);
}

class SkipTest : public ::testing::TestWithParam<std::tuple<SkipCase, bool>> {};

TEST_P(SkipTest, PassesOverAStatementPastTheLimit) {
    constexpr std::size_t kLimit = 64 << 10;
    const auto& [c, own] = GetParam();
    const std::string lineBreak = own ? "\r\n" : "\n";
    const std::string end = own ? std::string(dump::kMarker) + lineBreak : ";" + lineBreak;
    std::string text = "\xEF\xBB\xBFSELECT 1" + end + lineBreak;
    for (std::size_t i = 0; i < c.lines.size(); ++i)
        text += c.lines[i] + (i + 1 < c.lines.size() ? lineBreak : end);
    text += "INSERT INTO t VALUES (2)" + end;

    const ReadOut whole = readText(text, own, dump::StatementReader::kDefaultLimit);
    ASSERT_EQ(whole.statements.size(), 3u);
    const ReadOut got = readText(text, own, kLimit);
    ASSERT_EQ(got.statements.size(), 3u);
    EXPECT_EQ(got.statements[0], "SELECT 1");
    EXPECT_EQ(got.skipped[0], 0u);
    EXPECT_GT(got.skipped[1], 4 * kLimit);
    EXPECT_EQ(got.skipped[1], whole.statements[1].size());
    EXPECT_EQ(got.statements[1], whole.statements[1].substr(0, dump::kSkippedHead));
    EXPECT_EQ(got.lines, whole.lines);
    EXPECT_EQ(got.statements[2], "INSERT INTO t VALUES (2)");
    EXPECT_EQ(got.skipped[2], 0u);
    EXPECT_EQ(got.position, qint64(text.size()));
    EXPECT_LT(got.held, kLimit + dump::kReadPiece);
    EXPECT_EQ(got.leftover, "");
    EXPECT_EQ(got.ctrlZLine, whole.ctrlZLine);

    // Without its end the statement is text left over, named by its head.
    if (own) {
        const std::string cut = text.substr(0, text.rfind("INSERT INTO t VALUES (2)"));
        const std::string open = cut.substr(0, cut.size() - end.size());
        const ReadOut rest = readText(open, own, kLimit);
        EXPECT_EQ(rest.statements, std::vector<std::string>{"SELECT 1"});
        EXPECT_EQ(rest.leftover, whole.statements[1].substr(0, dump::kSkippedHead));
        EXPECT_LT(rest.held, kLimit + dump::kReadPiece);
    }
}

const std::string kMiB(1 << 20, 'x');

std::vector<std::string> rowLines(int rows) {
    std::vector<std::string> lines{"INSERT INTO t VALUES"};
    for (int i = 1; i <= rows; ++i)
        lines.push_back("  (" + std::to_string(i) + ", '" + std::string(1000, 'a' + i % 26) + "')" +
                        (i < rows ? "," : ""));
    return lines;
}

INSTANTIATE_TEST_SUITE_P(
    Statements, SkipTest,
    ::testing::Combine(
        ::testing::Values(
            SkipCase{"OneLineWithoutLineEnds",
                     {"INSERT INTO t VALUES (1, '" + kMiB + kMiB + kMiB + kMiB + "')"}},
            SkipCase{"SpreadOverLines", rowLines(3000)},
            // Quoted: an end marker, a delimiter, a Ctrl-Z and a lone LF that end nothing.
            SkipCase{"EndsInsideQuotesAreData",
                     {"INSERT INTO t VALUES (1, '" + kMiB + ";#+---- ;\x1a\n" + kMiB + "',",
                      "  '" + kMiB + kMiB + "' )"}},
            SkipCase{"LongLineAfterShortOnes",
                     {"INSERT INTO t VALUES", "(1, 'short'),", "(2, '" + kMiB + kMiB + kMiB + "')"}},
            // Outside quotes a Ctrl-Z is damage, dropped (and its line noted) in this format.
            SkipCase{"CtrlZOutsideQuotes",
                     {"INSERT INTO t VALUES (1, '" + kMiB + "')\x1a, (2, '" + kMiB + kMiB + "')"}}),
        ::testing::Bool()),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "Own" : "Plain");
    });

struct GuessCase {
    const char* name;
    QByteArray head;
    ScriptFormat format;
    qint64 line;
};

std::ostream& operator<<(std::ostream& os, const GuessCase& c) { return os << c.name; }

class GuessTest : public ::testing::TestWithParam<GuessCase> {};

TEST_P(GuessTest, TellsTheFormat) {
    const dump::FormatGuess guess = dump::guessScriptFormat(GetParam().head);
    EXPECT_EQ(int(guess.format), int(GetParam().format));
    EXPECT_EQ(guess.line, GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Heads, GuessTest,
    ::testing::Values(
        GuessCase{"OwnByMarker", "hello\r\nDROP TABLE t;#+----\r\n", ScriptFormat::Own, 0},
        GuessCase{"OwnByHeader", "#\r\n# MySQL DataBase : shop\r\n#\r\n", ScriptFormat::Own, 0},
        GuessCase{"OwnHeaderInOtherCase", "\n# table structure for table 't'\n", ScriptFormat::Own, 0},
        GuessCase{"MarkerInsideALine", "SELECT ';#+----x';\n", ScriptFormat::Plain, 0},
        GuessCase{"PlainMariadbDump", QByteArray::fromStdString(kMariadbDump), ScriptFormat::Plain, 0},
        GuessCase{"PlainHandWritten", "  use shop;\ncreate table t (a int);", ScriptFormat::Plain, 0},
        GuessCase{"PlainParenthesis", "(SELECT 1) UNION (SELECT 2);", ScriptFormat::Plain, 0},
        GuessCase{"OnlyComments", "-- nothing\n/* here", ScriptFormat::Plain, 0},
        GuessCase{"Empty", "", ScriptFormat::Plain, 0},
        GuessCase{"HelloWorld", "hello world\n", ScriptFormat::NotSql, 1},
        GuessCase{"NotSqlAfterComments", "-- a\n/* b */ # c\nhello;\n", ScriptFormat::NotSql, 3},
        GuessCase{"NotSqlInConditionalComment", "/*!40101 FOO */;", ScriptFormat::NotSql, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
