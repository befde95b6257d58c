#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QStandardItemModel>
#include <QTemporaryDir>

#include "db/Connection.h"
#include "sqllex/ScriptReader.h"
#include "panels/ResultExport.h"
#include "support/Failures.h"
#include "support/TestFiles.h"
#include "support/TestNames.h"
#include "support/TestServer.h"

namespace {

// Every value a writer can get wrong: NULL beside '', the characters each format must
// quote or escape, multi-byte text, exact decimals, extreme numbers, bytes that are not
// text, a JSON document, and two values that look like JSON but are not (a ZEROFILL number,
// a JSON column holding what the check would have refused).
void createAwkwardTable(ScratchDatabase& scratch) {
    scratch.exec(
        "CREATE TABLE src (id INT PRIMARY KEY, t MEDIUMTEXT, d DECIMAL(30,10), f DOUBLE, "
        "u BIGINT UNSIGNED, b BLOB, j JSON, z INT(4) ZEROFILL)");
    scratch.exec("SET check_constraint_checks = 0");
    scratch.exec(R"(INSERT INTO src VALUES
        (1, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
        (2, '', 0, 0, 0, '', '[]', 0),
        (3, 'a,b "q"\r\nx\ty\\z 한국어', 12345678901234567890.0123456789, -1.5e300,
         18446744073709551615, 0x00FF00, '{"k": [1, "한", null], "big": 12345678901234567890}', 42),
        (4, NULL, NULL, NULL, NULL, NULL, '{"a": .5}', NULL))");
}

// What a Python script prints about the file given as its argument.
QString python(const char* script, const QString& path) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PYTHONIOENCODING"), QStringLiteral("utf-8"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("python3"),
                  {QStringLiteral("-c"), QString::fromUtf8(script), path});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        ADD_FAILURE() << "python3 failed: " << process.readAllStandardError().toStdString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

struct FormatCase {
    ExportFormat format;
    const char* reader;    // prints the rows Python's own parser reads from the file
    const char* rows;      // what it prints
    const char* rawBytes;  // bytes the file must hold (NULL and '' tell apart only there)
};

TEST(ResultExport, EachFormatReadsBackWithAStandardParser) {
    ScratchDatabase scratch;
    createAwkwardTable(scratch);
    const db::Result result = scratch.connection().select("SELECT * FROM src ORDER BY id");
    const QTemporaryDir dir;

    const char* const textRows =  // CSV and TSV alike, but for NULL
        "['id', 't', 'd', 'f', 'u', 'b', 'j', 'z']\n"
        "['1', @, @, @, @, @, @, @]\n"
        "['2', '', '0.0000000000', '0', '0', '', '[]', '0000']\n"
        "['3', 'a,b \"q\"\\r\\nx\\ty\\\\z 한국어', '12345678901234567890.0123456789', "
        "'-1.5e300', '18446744073709551615', '\\x00\\udcff\\x00', "
        "'{\"k\": [1, \"한\", null], \"big\": 12345678901234567890}', '0042']\n"
        "['4', @, @, @, @, @, '{\"a\": .5}', @]\n";
    // CSV writes the bytes of a binary column as hex, so the file stays UTF-8.
    const std::string csvRows = QString::fromUtf8(textRows)
                                    .replace('@', "''")
                                    .replace(QStringLiteral("'\\x00\\udcff\\x00'"),
                                             QStringLiteral("'00FF00'"))
                                    .toStdString();
    const std::string tsvRows = QString::fromUtf8(textRows).replace('@', "None").toStdString();
    const FormatCase cases[] = {
        {ExportFormat::Csv,
         "import csv,sys\n"
         "with open(sys.argv[1], newline='', encoding='utf-8', errors='surrogateescape') as f:\n"
         "    for row in csv.reader(f, strict=True): print(row)\n",
         csvRows.c_str(),
         "\r\n1,,,,,,,\r\n2,\"\",0.0000000000,0,0,\"\",[],0000\r\n3,\"a,b \"\"q\"\"\r\nx\ty\\z"},
        {ExportFormat::Tsv,
         "import csv,re,sys\n"
         "codes = {'t': '\\t', 'n': '\\n', 'r': '\\r', '0': '\\0', '\\\\': '\\\\'}\n"
         "with open(sys.argv[1], newline='', encoding='utf-8', errors='surrogateescape') as f:\n"
         "    for row in csv.reader(f, delimiter='\\t', quoting=csv.QUOTE_NONE):\n"
         "        print([None if v == '\\\\N' else\n"
         "               re.sub(r'\\\\(.)', lambda m: codes[m[1]], v) for v in row])\n",
         tsvRows.c_str(),
         "\n3\ta,b \"q\"\\r\\nx\\ty\\\\z 한국어\t12345678901234567890.0123456789\t-1.5e300\t"
         "18446744073709551615\t\\0\xFF\\0\t{"},
        {ExportFormat::Json,
         // Numbers keep the text they were written with, marked by '#'.
         "import json,sys\n"
         "with open(sys.argv[1], encoding='utf-8') as f:\n"
         "    rows = json.load(f, parse_int=lambda s: '#' + s, parse_float=lambda s: '#' + s)\n"
         "for row in rows: print(list(row.items()))\n",
         "[('id', '#1'), ('t', None), ('d', None), ('f', None), ('u', None), ('b', None), "
         "('j', None), ('z', None)]\n"
         "[('id', '#2'), ('t', ''), ('d', '#0.0000000000'), ('f', '#0'), ('u', '#0'), "
         "('b', ''), ('j', []), ('z', '0000')]\n"
         "[('id', '#3'), ('t', 'a,b \"q\"\\r\\nx\\ty\\\\z 한국어'), "
         // Digits a double would round are a string.
         "('d', '12345678901234567890.0123456789'), ('f', '#-1.5e300'), "
         "('u', '18446744073709551615'), ('b', 'AP8A'), "
         "('j', {'k': ['#1', '한', None], 'big': '#12345678901234567890'}), ('z', '0042')]\n"
         "[('id', '#4'), ('t', None), ('d', None), ('f', None), ('u', None), ('b', None), "
         "('j', '{\"a\": .5}'), ('z', None)]\n",
         ""},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(int(c.format));
        const QString path = dir.filePath(QStringLiteral("out"));
        ASSERT_EQ(failureOf([&] { exportRows(result, path, {c.format, {}}); }), QString());
        EXPECT_EQ(python(c.reader, path).toStdString(), c.rows);
        EXPECT_TRUE(readFile(path).contains(c.rawBytes)) << readFile(path).toStdString();
    }
}

TEST(ResultExport, SqlStatementsRefillTheTableInBoundedPieces) {
    ScratchDatabase scratch;
    createAwkwardTable(scratch);
    // 2500 more rows take three statements of at most 1000 rows; rows of 600 KB one each.
    scratch.exec(
        "INSERT INTO src (id, t, d) SELECT seq, REPEAT('x', seq % 50), seq / 7 "
        "FROM seq_100_to_2599");
    scratch.exec("INSERT INTO src (id, t) SELECT seq, REPEAT('é', 300000) FROM seq_5000_to_5002");
    scratch.exec("CREATE TABLE `copy of src` LIKE src");
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rows.sql"));
    {
        const db::Result result = scratch.connection().select("SELECT * FROM src");
        ASSERT_EQ(failureOf([&] {
                      exportRows(result, path, {ExportFormat::Sql, QStringLiteral("copy of src")});
                  }),
                  QString());
    }

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    sqllex::SqlScriptReader reader(file);
    int statements = 0;
    for (std::string_view statement; reader.next(statement); ++statements)
        scratch.exec(std::string(statement));
    EXPECT_FALSE(reader.failed()) << reader.errorString().toStdString();
    EXPECT_EQ(statements, 3 + 3);

    db::Result sums = scratch.connection().select("CHECKSUM TABLE src, `copy of src`");
    ASSERT_TRUE(sums.next());
    const QString source = sums.text(1);
    ASSERT_TRUE(sums.next());
    EXPECT_EQ(sums.text(1), source);
    EXPECT_EQ(scratch.scalar("SELECT COUNT(*) FROM `copy of src`"), QStringLiteral("2507"));
}

TEST(ResultExport, RowsOfOneTableNameItsDatabaseAndTable) {
    ScratchDatabase scratch;
    createAwkwardTable(scratch);
    scratch.exec("CREATE TABLE other (id INT)");
    const QString db = scratch.name();
    const struct {
        const char* query;
        QString database;
        QString table;
    } cases[] = {
        {"SELECT * FROM src", db, QStringLiteral("src")},
        {"SELECT s.id AS n, s.b FROM src AS s", db, QStringLiteral("src")},
        {"SELECT src.id, other.id FROM src JOIN other", {}, {}},
        {"SELECT id, 1 + 1 FROM src", {}, {}},
    };
    for (const auto& c : cases) {
        const db::Result result = scratch.connection().select(c.query);
        EXPECT_EQ(sourceTable(result), std::pair(c.database, c.table)) << c.query;
    }

    // The statements refill the table whatever database is current where they run; binary
    // columns of a CSV file are base64 when asked.
    const QTemporaryDir dir;
    const QString sql = dir.filePath(QStringLiteral("rows.sql"));
    const QString csv = dir.filePath(QStringLiteral("rows.csv"));
    {
        const db::Result result = scratch.connection().select("SELECT id, b FROM src");
        ExportOptions options(ExportFormat::Sql);
        std::tie(options.database, options.tableName) = sourceTable(result);
        ASSERT_EQ(failureOf([&] { exportRows(result, sql, options); }), QString());
        ExportOptions base64(ExportFormat::Csv);
        base64.csvBinary = ExportOptions::Binary::Base64;
        ASSERT_EQ(failureOf([&] { exportRows(result, csv, base64); }), QString());
    }
    EXPECT_TRUE(readFile(csv).contains("\r\n3,AP8A\r\n")) << readFile(csv).toStdString();
    const QString sum = scratch.scalar("SELECT SUM(CRC32(b)) FROM src");
    db::Connection elsewhere = testserver::connect();
    elsewhere.exec("USE mysql");
    elsewhere.exec("DELETE FROM " + db::quoteIdentifier(db) + ".src");
    elsewhere.exec(readFile(sql).chopped(2).toStdString());  // one statement, without ";\n"
    EXPECT_EQ(scratch.scalar("SELECT SUM(CRC32(b)) FROM src"), sum);
}

TEST(ResultExport, AFailedWriteLeavesNoFileAndSaysWhy) {
    ScratchDatabase scratch;
    createAwkwardTable(scratch);
    const db::Result result = scratch.connection().select("SELECT * FROM src");
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/out.csv"));
    const QString error = failureOf([&] { exportRows(result, path, {ExportFormat::Csv, {}}); });
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(error.contains(path)) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("No such file or directory"))) << error.toStdString();
    EXPECT_TRUE(filesIn(dir.path()).isEmpty());
    EXPECT_FALSE(QFile::exists(path));
}

TEST(ResultExport, SelectedCellsBecomeTabSeparatedLines) {
    QStandardItemModel model(3, 3);
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            model.setItem(row, column,
                          new QStandardItem(QStringLiteral("r%1c%2").arg(row).arg(column)));
    model.item(2, 1)->setText(QStringLiteral("tab\there\nline\\"));
    auto at = [&](int row, int column) { return model.index(row, column); };

    const struct {
        QModelIndexList cells;
        const char* tsv;
    } cases[] = {
        {{at(1, 1)}, "r1c1"},
        // Out of order, with holes inside the rectangle and a whole row between left out.
        {{at(2, 1), at(0, 2), at(0, 0)}, "r0c0\t\tr0c2\n\ttab\\there\\nline\\\\\t"},
        {{at(1, 0), at(0, 0), at(1, 2), at(0, 2)}, "r0c0\tr0c2\nr1c0\tr1c2"},
    };
    for (const auto& c : cases) EXPECT_EQ(cellsAsTsv(model, c.cells).toStdString(), c.tsv);
}

}  // namespace
