#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <set>

#include "db/Connection.h"
#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>

#include "dump/CsvImport.h"
#include "dump/DumpCommands.h"
#include "dump/TfrmCsvImport.h"
#include "files/CsvReader.h"
#include "files/TextCodec.h"
#include "panels/ResultExport.h"
#include "support/CliRunner.h"
#include "support/ScriptedPrompts.h"
#include "support/TestFiles.h"
#include "support/TestNames.h"
#include "support/Failures.h"
#include "support/TestServer.h"
#include "ui/ServerWait.h"

namespace {

using files::CsvFormat;
using files::LineEnd;
using files::NullMarker;
using Method = dump::CsvImportOptions::Method;

// ---- Reading and detection, on bytes alone.

struct DetectCase {
    const char* name;
    QByteArray bytes;
    char delimiter;
    char quote;
    bool escapes;
    NullMarker null;
    LineEnd lineEnd;
    bool header;
    const char* encoding;
};

TEST(CsvDetect, FormatFromTheFirstBytes) {
    const DetectCase cases[] = {
        {"rfc4180", "id,name\r\n1,\"a,b\"\r\n2,\r\n", ',', '"', false, NullMarker::Empty,
         LineEnd::CrLf, true, "UTF-8"},
        {"semicolon", "1;x;y\n2;z;w\n", ';', '"', false, NullMarker::None, LineEnd::Lf, false,
         "UTF-8"},
        {"mariadb -B", "a\tb\n1\tNULL\n2\tx\\ty\n", '\t', 0, true, NullMarker::Word, LineEnd::Lf,
         true, "UTF-8"},
        {"outfile", "1\t\\N\n2\tq\n", '\t', 0, true, NullMarker::BackslashN, LineEnd::Lf, false,
         "UTF-8"},
        {"bars, CR", "k|v\r1|'x'\r", '|', '\'', false, NullMarker::None, LineEnd::Cr, true,
         "UTF-8"},
        {"bom", "\xEF\xBB\xBFn,m\n1,2\n", ',', '"', false, NullMarker::None, LineEnd::Lf, true,
         "UTF-8-BOM"},
        {"cp949", QByteArray("n,m\n1,") + *files::toCp949(QStringLiteral("한국어")) + "\n", ',', '"',
         false, NullMarker::None, LineEnd::Lf, true, "CP949"},
        {"latin-1", "n,m\n1,Zo\xEB\n", ',', '"', false, NullMarker::None, LineEnd::Lf, true,
         "WINDOWS-1252"},
    };
    for (const DetectCase& c : cases) {
        SCOPED_TRACE(c.name);
        const CsvFormat f = files::detectCsvFormat(c.bytes);
        EXPECT_EQ(f.delimiter, c.delimiter);
        EXPECT_EQ(f.quote, c.quote);
        EXPECT_EQ(f.backslashEscapes, c.escapes);
        EXPECT_EQ(f.null, c.null);
        EXPECT_EQ(f.lineEnd, c.lineEnd);
        EXPECT_EQ(f.header, c.header);
        EXPECT_EQ(f.encoding, QByteArray(c.encoding));
    }
}

// Records as "field|field" with NULL as <N>, each with its line.
QStringList readAll(const QByteArray& bytes, const CsvFormat& format) {
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    files::CsvReader reader(buffer, format);
    QStringList out;
    while (reader.next()) {
        QStringList fields;
        for (std::size_t i = 0; i < reader.fieldCount(); ++i) {
            const files::CsvField& f = reader.fields()[i];
            fields << (f.null ? QStringLiteral("<N>") : QString::fromStdString(f.text));
        }
        out << QStringLiteral("%1:%2").arg(reader.line()).arg(fields.join(u'|'));
    }
    return out;
}

TEST(CsvReader, RecordsAndTheirLines) {
    CsvFormat csv;
    csv.header = false;
    CsvFormat crlf = csv;
    crlf.lineEnd = LineEnd::CrLf;
    CsvFormat tsv = csv;
    tsv.delimiter = '\t';
    tsv.quote = 0;
    tsv.backslashEscapes = true;
    tsv.null = NullMarker::BackslashN;
    CsvFormat empty = csv;
    empty.null = NullMarker::Empty;
    struct Case {
        QByteArray bytes;
        CsvFormat format;
        QStringList records;
    } const cases[] = {
        {"a,\"b,\"\"c\"\"\nd\",e\n\nf", csv, {"1:a|b,\"c\"\nd|e", "4:f"}},
        {"x,\"1\r\n2\"\r\ny,z\r\n", crlf, {"1:x|1\r\n2", "3:y|z"}},
        {"a\\tb\t\\N\tc\\\\d\\\nnext\n2\t\t\n", tsv, {"1:a\tb|<N>|c\\d\nnext", "3:2||"}},
        {",\"\",x\n", empty, {"1:<N>||x"}},
    };
    for (const Case& c : cases) EXPECT_EQ(readAll(c.bytes, c.format), c.records) << c.bytes.toStdString();
    EXPECT_THROW(readAll("a,\"open\n", csv), files::CsvError);
}

// ---- Imports into the test server.

// Values each format must quote or escape, multi-byte text, NULL beside '', a value with
// a line break before the lines that follow.
const char* const kAwkwardRows = R"((1, 'plain', 1.50, 'x'),
    (2, 'a,b "q"', NULL, ''),
    (3, 'two\r\nlines\nand\ttab', -2.25, 'back\\slash'),
    (4, '한국어 テキスト', 0, NULL),
    (5, '', 3.00, ',;|'))";

class CsvImportTest : public ::testing::Test {
protected:
    void SetUp() override {
        db.exec("CREATE TABLE src (id INT PRIMARY KEY, s VARCHAR(100) NOT NULL, n DECIMAL(10,2), "
                "txt TEXT) ENGINE=InnoDB");
        db.exec("CREATE TABLE copy LIKE src");
    }

    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    dump::CsvImportResult import(const QString& file, Method method, bool keep = false,
                                 std::optional<CsvFormat> format = std::nullopt) {
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        dump::CsvImportOptions o;
        o.database = db.name();
        o.table = QStringLiteral("copy");
        o.path = file;
        o.format = format ? *format : files::detectCsvFormat(f.read(files::kCsvDetectBytes));
        o.method = method;
        o.keepLoaded = keep;
        return dump::CsvImport(session, o).run();
    }

    // Rows of src that copy does not hold exactly, and the other way round.
    int differences() {
        const char* same = "c.id = s.id AND c.s = s.s AND c.n <=> s.n AND c.txt <=> s.txt";
        return db.scalar(std::string("SELECT (SELECT COUNT(*) FROM src s WHERE NOT EXISTS "
                                     "(SELECT 1 FROM copy c WHERE ") + same +
                         ")) + (SELECT COUNT(*) FROM copy) - (SELECT COUNT(*) FROM src)")
            .toInt();
    }

    ScratchDatabase db{QStringLiteral("csv")};
    db::Connection session = connectTo(db.name());
    QTemporaryDir dir;

    static db::Connection connectTo(const QString& database) {
        db::ConnectParams p = testserver::params();
        p.database = database;
        db::Connection c;
        c.connect(p);
        return c;
    }
};

class CsvImportMethods : public CsvImportTest, public ::testing::WithParamInterface<Method> {};

TEST_P(CsvImportMethods, OwnExportReadsBackExactly) {
    db.exec(std::string("INSERT INTO src VALUES ") + kAwkwardRows);
    for (const ExportFormat format : {ExportFormat::Csv, ExportFormat::Tsv}) {
        SCOPED_TRACE(format == ExportFormat::Csv ? "csv" : "tsv");
        db.exec("TRUNCATE copy");
        const db::Result rows = db.connection().select("SELECT * FROM " + db::quoteIdentifier(db.name()) + ".src");
        const QString error = failureOf([&] { exportRows(rows, path("export.txt"), ExportOptions(format)); });
        ASSERT_TRUE(error.isEmpty()) << error.toStdString();
        const dump::CsvImportResult r = import(path("export.txt"), GetParam());
        EXPECT_TRUE(r.ok()) << r.summary().toStdString();
        EXPECT_EQ(r.localInfile, GetParam() == Method::LocalInfile);
        EXPECT_EQ(r.loaded, 5u);
        EXPECT_EQ(differences(), 0);
    }
}

TEST_P(CsvImportMethods, MariadbBatchAndPythonCsvOutput) {
    db.exec(std::string("INSERT INTO src VALUES ") + kAwkwardRows);
    // mariadb -B: tab separated, escaped, NULL as the word.
    QProcess mariadb;
    mariadb.setStandardOutputFile(path("batch.tsv"));
    mariadb.start(QStringLiteral("/usr/bin/mariadb"),
                  {QStringLiteral("-B"), QStringLiteral("-h127.0.0.1"),
                   QStringLiteral("-P") + qEnvironmentVariable("LORVEX_TEST_PORT"),
                   QStringLiteral("-u") + testserver::user(), QStringLiteral("-p") + testserver::password(),
                   QStringLiteral("-e"),
                   QStringLiteral("SELECT * FROM %1.src ORDER BY id").arg(QString::fromStdString(db::quoteIdentifier(db.name())))});
    ASSERT_TRUE(mariadb.waitForFinished(60000));
    ASSERT_EQ(mariadb.exitCode(), 0) << mariadb.readAllStandardError().toStdString();
    dump::CsvImportResult r = import(path("batch.tsv"), GetParam());
    EXPECT_TRUE(r.ok()) << r.summary().toStdString();
    EXPECT_EQ(differences(), 0);

    // Python's csv module: quotes, commas and line breaks inside fields; None as empty.
    db.exec("TRUNCATE copy");
    db.exec("UPDATE src SET txt = 'was empty' WHERE txt = ''");  // '' and None look alike there
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QStringLiteral(R"(
import csv, sys
rows = [['id', 's', 'n', 'txt'], [1, 'plain', '1.50', 'x'], [2, 'a,b "q"', None, 'was empty'],
        [3, 'two\r\nlines\nand\ttab', '-2.25', 'back\\slash'], [4, '한국어 テキスト', '0.00', None],
        [5, '', '3.00', ',;|']]
with open(sys.argv[1], 'w', newline='', encoding='utf-8') as f:
    csv.writer(f).writerows(rows)
)"), path("python.csv")});
    ASSERT_TRUE(python.waitForFinished(60000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    // The empty s of row 5 is NOT NULL: read empty fields as empty text, NULL only for n, txt.
    CsvFormat f = files::detectCsvFormat(readFile(path("python.csv")));
    EXPECT_EQ(f.null, NullMarker::Empty);
    db.exec("UPDATE src SET s = 'x' WHERE id = 5");
    writeFile(path("python.csv"), readFile(path("python.csv")).replace("\r\n5,,", "\r\n5,x,"));
    r = import(path("python.csv"), GetParam());
    EXPECT_TRUE(r.ok()) << r.summary().toStdString();
    EXPECT_EQ(differences(), 0);
}

TEST_P(CsvImportMethods, BomCrlfAndLegacyEncodings) {
    struct Case {
        const char* name;
        const char* rows;
        QByteArray bytes;
    } const cases[] = {
        {"bom crlf", "(1, '한국어', NULL, 'é'), (2, 'Zoë', 1.00, NULL)",
         "\xEF\xBB\xBFid,s,n,txt\r\n1,한국어,,é\r\n2,Zoë,1.00,\r\n"},
        {"cp949", "(1, '한국어', NULL, '가나다'), (2, 'Zoe', 1.00, NULL)",
         *files::toCp949(QStringLiteral("id;s;n;txt\n1;한국어;\\N;가나다\n2;Zoe;1.00;\\N\n"))},
        // Latin-1 read as the detected Windows-1252, which agrees on these letters.
        {"latin-1", "(2, 'Zoë', 1.00, NULL)", "id,s,n,txt\n2,Zo\xEB,1.00,\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        db.exec("TRUNCATE src");
        db.exec("TRUNCATE copy");
        db.exec(std::string("INSERT INTO src VALUES ") + c.rows);
        writeFile(path("enc.csv"), c.bytes);
        const dump::CsvImportResult r = import(path("enc.csv"), GetParam());
        EXPECT_TRUE(r.ok()) << r.summary().toStdString();
        EXPECT_EQ(differences(), 0);
    }
}

TEST_P(CsvImportMethods, RefusedLineByItsFileLineRolledBackOrKept) {
    // The header and a value with two line breaks put record 3 on line 6; line 8 is short.
    writeFile(path("bad.csv"),
              "id,s,n,txt\n1,\"one\ntwo\nthree\",1,a\n2,b,2,b\nX,c,3,c\n4,d,4,d\n5,e\n");
    dump::CsvImportResult r = import(path("bad.csv"), GetParam());
    EXPECT_TRUE(r.rolledBack);
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM copy"), QStringLiteral("0"));
    ASSERT_EQ(r.problems.size(), 2u) << r.summary().toStdString();
    EXPECT_EQ(r.problems[0].line, 6u);
    EXPECT_TRUE(r.problems[0].reason.contains(QLatin1String("'X'"))) << r.problems[0].reason.toStdString();
    EXPECT_EQ(r.problems[1].line, 8u);
    EXPECT_EQ(r.problems[1].reason, QStringLiteral("The line has 2 fields, the file's header 4."));

    r = import(path("bad.csv"), GetParam(), true);
    EXPECT_FALSE(r.rolledBack);
    EXPECT_EQ(r.loaded, 3u);
    EXPECT_EQ(r.records, 5u);
    EXPECT_EQ(db.scalar("SELECT GROUP_CONCAT(id ORDER BY id) FROM copy"), QStringLiteral("1,2,4"));
    EXPECT_TRUE(r.summary().startsWith(QLatin1String("Loaded 3 of 5 rows; 2 refused:\nline 6: ")))
        << r.summary().toStdString();
}

// A duplicate key named by its line after the header and a value with a line break, though
// LOAD DATA's warning about it names no row; a value refused after it keeps its own line.
TEST_P(CsvImportMethods, ADuplicateKeyIsNamedByItsLine) {
    writeFile(path("dup.csv"), "id,s,n,txt\n1,\"one\ntwo\",1,a\n2,b,2,b\n1,c,3,c\n3,X,x,d\n4,d,4,d\n");
    for (const bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "kept" : "rolled back");
        db.exec("TRUNCATE copy");
        const dump::CsvImportResult r = import(path("dup.csv"), GetParam(), keep);
        ASSERT_EQ(r.problems.size(), 2u) << r.summary().toStdString();
        EXPECT_EQ(r.problems[0].line, 5u);
        EXPECT_TRUE(r.problems[0].reason.startsWith(QLatin1String("Duplicate entry '1'")))
            << r.problems[0].reason.toStdString();
        EXPECT_EQ(r.problems[1].line, 6u);
        EXPECT_TRUE(r.problems[1].reason.contains(QLatin1String("'x'"))) << r.problems[1].reason.toStdString();
        EXPECT_EQ(r.rolledBack, !keep);
        EXPECT_EQ(r.refused, 2u);
        EXPECT_EQ(db.scalar("SELECT GROUP_CONCAT(CONCAT(id, s) ORDER BY id) FROM copy"),
                  keep ? QStringLiteral("1one\ntwo,2b,4d") : QString());
    }
}

// Where the server names no row for a refused line, the summary says the line is unknown.
TEST(CsvSummary, ALineTheServerDidNotNameIsSaidUnknown) {
    dump::CsvImportResult r;
    r.records = 3;
    r.loaded = 1;
    r.refused = 2;
    r.problems = {{4, QStringLiteral("Data truncated for column 's'")},
                  {0, QStringLiteral("Duplicate entry '1' for key 'PRIMARY'")}};
    EXPECT_EQ(r.summary().toStdString(),
              "Loaded 1 of 3 rows; 2 refused:\nline 4: Data truncated for column 's'\n"
              "line unknown (the server did not say): Duplicate entry '1' for key 'PRIMARY'");
}

TEST_P(CsvImportMethods, CancelRollsBack) {
    QByteArray rows = "id,s\n";
    for (int i = 1; i <= 100000; ++i) rows += QByteArray::number(i) + ",row\n";
    writeFile(path("long.csv"), rows);
    QFile f(path("long.csv"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    dump::CsvImportOptions o;
    o.database = db.name();
    o.table = QStringLiteral("copy");
    o.path = path("long.csv");
    o.format = files::detectCsvFormat(f.read(files::kCsvDetectBytes));
    o.method = GetParam();
    int calls = 0;
    const dump::CsvImportResult r =
        dump::CsvImport(session, o).run([&](const dump::CsvProgress&) { return ++calls < 2; });
    EXPECT_TRUE(r.cancelled);
    EXPECT_TRUE(r.rolledBack);
    EXPECT_EQ(r.summary(), QStringLiteral("Cancelled: nothing was loaded (the import was rolled back)."));
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM copy"), QStringLiteral("0"));
}

INSTANTIATE_TEST_SUITE_P(Both, CsvImportMethods,
                         ::testing::Values(Method::LocalInfile, Method::Inserts),
                         [](const auto& info) {
                             return info.param == Method::LocalInfile ? "LocalInfile" : "Inserts";
                         });

// Whatever file the server names, the session sends only the data it was given.
TEST_F(CsvImportTest, LocalInfileSendsOnlyTheGivenData) {
    db::ConnectParams p = testserver::params();
    p.database = db.name();
    p.localInfile = true;
    db::Connection c;
    c.connect(p);
    bool given = false;
    ASSERT_TRUE(c.loadLocal("LOAD DATA LOCAL INFILE '/etc/passwd' INTO TABLE copy (id, s)",
                            [&](char* buffer, unsigned) -> long {
                                if (given) return 0;
                                given = true;
                                std::memcpy(buffer, "7\tseven\n", 8);
                                return 8;
                            }))
        << c.errorText().toStdString();
    EXPECT_EQ(db.scalar("SELECT GROUP_CONCAT(CONCAT(id, s)) FROM copy"), QStringLiteral("7seven"));
    // A session not opened for it refuses the server's request.
    EXPECT_FALSE(session.query("LOAD DATA LOCAL INFILE '/etc/passwd' INTO TABLE copy"));
}

// The table menu's command: the file asked for, its rows previewed with their lines, the
// columns mapped by the header's names whatever their order, the outcome shown.
TEST_F(CsvImportTest, DialogPreviewsMapsAndImports) {
    writeFile(path("dialog.csv"), "txt;id;s\n\"a\nb\";1;x\nq;2;y\n");
    ScriptedPrompts prompts;
    prompts.answerFile(path("dialog.csv"));
    QString outcome;
    prompts.onDialog([&](QDialog* d) {
        auto* dialog = qobject_cast<TfrmCsvImport*>(d);
        EXPECT_NE(dialog, nullptr);
        if (!dialog) return 0;
        EXPECT_EQ(dialog->format().delimiter, ';');
        EXPECT_EQ(dialog->preview()->rowCount(), 2);
        EXPECT_EQ(dialog->preview()->verticalHeaderItem(1)->text(), QStringLiteral("4"));
        EXPECT_EQ(dialog->mapping(), (std::vector<int>{3, 0, 1}));
        dialog->importButton()->click();
        outcome = dialog->outcome()->toPlainText();
        return 0;
    });
    QWidget window;
    DumpCommands commands(session, prompts, dir.path(), &window);
    commands.ImportCsv1Click(db.name(), QStringLiteral("copy"));
    EXPECT_EQ(outcome, QStringLiteral("Loaded 2 of 2 rows."));
    EXPECT_EQ(db.scalar("SELECT GROUP_CONCAT(CONCAT_WS(':', id, s, REPLACE(txt, '\\n', '/')) ORDER BY id) FROM copy"),
              QStringLiteral("1:x:a/b,2:y:q"));
}

// Through the window's waiter: the bar moves while the file loads, and Cancel mid-way rolls
// the InnoDB table back and says so.
TEST_F(CsvImportTest, TheDialogShowsProgressAndCancelRollsBack) {
    QByteArray rows = "id,s\n";
    for (int i = 1; i <= 1500000; ++i) rows += QByteArray::number(i) + ",row\n";
    writeFile(path("big.csv"), rows);
    ScriptedPrompts prompts;
    ui::ServerWait wait{prompts};
    session.setWaiter(&wait);
    TfrmCsvImport dialog(session, prompts);
    dialog.SetTable(db.name(), QStringLiteral("copy"));
    dialog.LoadFile(path("big.csv"));
    // Cancelled once the bar has shown two steps of the import.
    std::set<int> shown;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (const int value = dialog.progressBar()->value(); value > 0) shown.insert(value);
        if (shown.size() == 2 && dialog.cancelButton()->isEnabled()) dialog.cancelButton()->click();
    });
    watch.start(20);
    dialog.importButton()->click();
    watch.stop();
    session.setWaiter(nullptr);
    EXPECT_GE(shown.size(), 2u);
    EXPECT_LT(*shown.rbegin(), 1000);
    EXPECT_EQ(dialog.outcome()->toPlainText(),
              QStringLiteral("Cancelled: nothing was loaded (the import was rolled back)."));
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM copy"), QStringLiteral("0"));
    EXPECT_TRUE(dialog.importButton()->isEnabled());
}

TEST_F(CsvImportTest, CommandLine) {
    writeFile(path("cli.tsv"), "9\tnine\t\\N\tz\n10\tten\t1.5\t\\N\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LORVEX_PASSWORD"), testserver::password());
    const CliResult r = runProgram(
        cliPath(), {"import", "--host", testserver::hostField(), "--user", testserver::user(),
                    "--database", db.name(), "--table", "copy", "--method", "insert",
                    "--no-header", path("cli.tsv")},
        env);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QLatin1String("Loaded 2 of 2 rows."))) << r.out.toStdString();
    EXPECT_EQ(db.scalar("SELECT GROUP_CONCAT(CONCAT_WS(':', id, s, n, txt) ORDER BY id) FROM copy"),
              QStringLiteral("9:nine:z,10:ten:1.50"));
}

}  // namespace
