#include <gtest/gtest.h>

#include <QApplication>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QClipboard>
#include <QCompleter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QStringListModel>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QSpinBox>
#include <QToolButton>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <optional>

#include "dataset/ResultRows.h"
#include "dataset/TMySQLConnection.h"
#include "panels/GridEditing.h"
#include "sqleditor/ResultFooter.h"
#include "dataset/TMySQLDataSet.h"
#include "sqleditor/ResultFile.h"
#include "sqleditor/ScriptFile.h"
#include "panels/ResultGrid.h"
#include "sqleditor/Completion.h"
#include "sqleditor/HistoryPane.h"
#include "sqleditor/QueryHistory.h"
#include "sqleditor/RunReport.h"
#include "sqleditor/ScriptRun.h"
#include "sqleditor/SqlHighlighter.h"
#include "sqleditor/SqlPanel.h"
#include "sqleditor/SqlText.h"
#include "support/CliRunner.h"
#include "support/Failures.h"
#include "support/ScriptedPrompts.h"
#include "support/TestFiles.h"
#include "support/TestServer.h"
#include "ui/ServerWait.h"

namespace {

// The bytes of a literal, zero bytes included.
template <std::size_t N>
QByteArray bytes(const char (&literal)[N]) {
    return QByteArray(literal, qsizetype(N - 1));
}

// ---- Statement text and first word -------------------------------------------------------

struct StatementCase {
    const char* editor;
    const char* statement;
    const char* firstWord;
    bool query;
    bool select;
    const char* useLabel;  // null: not a USE
};

class StatementRules : public ::testing::TestWithParam<StatementCase> {};

TEST_P(StatementRules, StatementAndFirstWord) {
    const StatementCase& c = GetParam();
    const SqlText sql(QString::fromUtf8(c.editor));
    EXPECT_EQ(sql.statement(), QString::fromUtf8(c.statement));
    EXPECT_EQ(sql.firstWord(), QString::fromUtf8(c.firstWord));
    EXPECT_EQ(sql.isQuery(), c.query);
    EXPECT_EQ(sql.isSelect(), c.select);
    EXPECT_EQ(sql.isUse(), c.useLabel != nullptr);
    if (c.useLabel) {
        EXPECT_EQ(sql.useDbLabel(), QString::fromUtf8(c.useLabel));
    }
}

INSTANTIATE_TEST_SUITE_P(
    SqlText, StatementRules,
    ::testing::Values(
        StatementCase{"SELECT * FROM t;", "SELECT * FROM t", "SELECT", true, true, nullptr},
        StatementCase{"select 1;;", "select 1;", "select", true, true, nullptr},
        StatementCase{"SELECT\n1", "SELECT\n1", "", false, false, nullptr},
        StatementCase{"SELECT\n* FROM t", "SELECT\n* FROM t", "SELECT\n*", false, false,
                      nullptr},
        StatementCase{"SELECT\t1 FROM t", "SELECT\t1 FROM t", "SELECT\t1", false, false,
                      nullptr},
        StatementCase{"SHOW", "SHOW", "", false, false, nullptr},
        StatementCase{"show;", "show", "", false, false, nullptr},
        StatementCase{"Show tables", "Show tables", "Show", true, false, nullptr},
        StatementCase{"desc t", "desc t", "desc", true, false, nullptr},
        StatementCase{" \r\n\t DESC t ;\r\n", "DESC t ", "DESC", true, false, nullptr},
        StatementCase{"use   mydb  ", "use   mydb", "use", false, false, "Use DB : mydb"},
        StatementCase{"\nUsE mydb;", "UsE mydb", "UsE", false, false, "Use DB : mydb"},
        StatementCase{"USE `two words`", "USE `two words`", "USE", false, false,
                      "Use DB : `two words`"},
        StatementCase{"USED x", "USED x", "USED", false, false, nullptr},
        // Letters are compared by ASCII only: the long s does not fold to "S".
        StatementCase{"\u017FELECT 1", "\u017FELECT 1", "\u017FELECT", false, false, nullptr},
        StatementCase{"", "", "", false, false, nullptr},
        StatementCase{" \n\t \r\n", "", "", false, false, nullptr},
        StatementCase{";", "", "", false, false, nullptr}));

TEST(SqlText, LinesForTheStatementLists) {
    EXPECT_EQ(SqlText(QStringLiteral("SELECT\r\n1\r2\n;")).lines(),
              (QStringList{"SELECT", "1", "2"}));
    EXPECT_TRUE(SqlText(QStringLiteral(" ; ")).lines().isEmpty());  // nothing to send
}

// ---- Result file format -------------------------------------------------------------------

using Cells = std::vector<std::vector<std::optional<QByteArray>>>;

ResultFile::CellReader reader(const Cells& cells) {
    return [&cells](int row, int column) -> db::Value {
        const std::optional<QByteArray>& v = cells[std::size_t(row)][std::size_t(column)];
        if (!v) return {};
        return {v->constData(), static_cast<unsigned long>(v->size())};
    };
}

TEST(ResultFile, LinesAreTabSeparatedAndEndInCrOnly) {
    const Cells cells{{QByteArray("a"), std::nullopt, QByteArray("c")},
                      {QByteArray(""), QByteArray("x y"), std::nullopt},
                      {QByteArray("\0\xff\r\n", 4), QByteArray("\t"), QByteArray("z")}};
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rows.txt"));
    writeFile(path, QByteArray(1000, 'o'));  // replaced entirely
    ASSERT_EQ(failureOf([&] { ResultFile::write(path, 3, 3, reader(cells)); }), QString());
    // Tab, CR, LF and backslash are escaped and NULL is \N; zero bytes stay.
    EXPECT_EQ(readFile(path), bytes("a\t\\N\tc\r"
                                    "\tx y\t\\N\r"
                                    "\0\xff\\r\\n\t\\t\tz\r"));
}

TEST(ResultFile, EmptyResultGivesEmptyFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("none.txt"));
    writeFile(path, "old contents");
    ASSERT_EQ(failureOf([&] { ResultFile::write(path, 0, 2, reader({})); }), QString());
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_EQ(readFile(path), QByteArray());
}

TEST(ResultFile, LargeResultIsWrittenCompletely) {
    // More than one write chunk, with a value that straddles the chunk boundary.
    const QByteArray value(70000, 'v');
    Cells cells(8, {QByteArray("k"), value});
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.txt"));
    ASSERT_EQ(failureOf([&] { ResultFile::write(path, 8, 2, reader(cells)); }), QString());
    const QByteArray line = "k\t" + value + "\r";
    EXPECT_EQ(readFile(path), line.repeated(8));
}

TEST(ResultFile, UnwritablePathIsReportedWithPathAndReason) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/dir/rows.txt"));
    const QString error = failureOf([&] { ResultFile::write(path, 0, 1, reader({})); });
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(error.contains(path)) << error.toStdString();
    EXPECT_GT(error.size(), path.size() + 30) << "no reason given: " << error.toStdString();
    EXPECT_FALSE(QFile::exists(path));
}

// ---- Script files -------------------------------------------------------------------------

struct ScriptCase {
    QByteArray file;
    const char* editor;
};

class ScriptLoad : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(ScriptLoad, LinesBecomeEditorLines) {
    QString text = QStringLiteral("unchanged");
    ASSERT_TRUE(ScriptFile::decode(GetParam().file, &text));
    EXPECT_EQ(text, QString::fromUtf8(GetParam().editor));
}

INSTANTIATE_TEST_SUITE_P(
    ScriptFile, ScriptLoad,
    ::testing::Values(ScriptCase{"SELECT 1\rFROM t\r", "SELECT 1\nFROM t\n"},
                      ScriptCase{"SELECT 1\nFROM t", "SELECT 1\nFROM t\n"},
                      ScriptCase{"SELECT 1\r\nFROM t\r\n", "SELECT 1\nFROM t\n"},
                      ScriptCase{"a\r\r\n\nb", "a\n\n\nb\n"},
                      ScriptCase{"\xEF\xBB\xBF-- \xED\x95\x9C\xEA\xB8\x80\r\n",
                                 "-- \xED\x95\x9C\xEA\xB8\x80\n"},
                      ScriptCase{"", ""}));

TEST(ScriptFile, LoadedCrLfFileSavesBackUnchanged) {
    QString loaded;
    ASSERT_TRUE(ScriptFile::decode("x\r\n\r\n  y \r\n", &loaded));
    EXPECT_EQ(ScriptFile::encode(loaded), QByteArray("x\r\n\r\n  y \r\n"));
}

TEST(ScriptFile, NonUtf8FileIsRefused) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cp949.sql"));
    writeFile(path, "-- \xC7\xD1\xB1\xDB\r\n");
    QString text = QStringLiteral("kept");
    const QString error = failureOf([&] { text = ScriptFile::load(path); });
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(text, QStringLiteral("kept"));
    EXPECT_TRUE(error.contains(path)) << error.toStdString();
}

TEST(ScriptFile, FolderAndHugeFileAreRefusedAndTheTextIsKept) {
    QTemporaryDir dir;
    const QString huge = dir.filePath(QStringLiteral("huge.sql"));
    writeFile(huge, "select 1;\r\n");
    ASSERT_TRUE(QFile::resize(huge, ScriptFile::kMaxSize + 1));
    for (const QString& path : {dir.path(), huge}) {
        QString text = QStringLiteral("kept");
        const QString error = failureOf([&] { text = ScriptFile::load(path); });
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(text, QStringLiteral("kept"));
        EXPECT_TRUE(error.startsWith("Cannot load the script file \"" + path + "\": "))
            << error.toStdString();
    }
}

// ---- The panel against the server ---------------------------------------------------------

// Records where the file dialogs open and with which filter.
class RecordingPrompts : public ScriptedPrompts {
public:
    struct Dialog {
        QString dir;
        QString filter;
    };
    QString openFileName(QWidget* parent, const QString& caption, const QString& dir,
                         const QString& filter) override {
        dialogs.push_back({dir, filter});
        return ScriptedPrompts::openFileName(parent, caption, dir, filter);
    }
    QString saveFileName(QWidget* parent, const QString& caption, const QString& dir,
                         const QString& filter) override {
        dialogs.push_back({dir, filter});
        return ScriptedPrompts::saveFileName(parent, caption, dir, filter);
    }
    void message(QWidget* parent, const QString& text, const QString& caption = {}) override {
        QThread::msleep(messageDelayMs);  // the user reading it
        ScriptedPrompts::message(parent, text, caption);
    }
    unsigned long messageDelayMs = 0;
    QStringList kinds() const {
        QStringList out;
        for (const Shown& s : shown()) out << s.kind;
        return out;
    }
    std::vector<Dialog> dialogs;
};

class SqlPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch.exec("CREATE TABLE t (id INT PRIMARY KEY, name VARCHAR(20), data BLOB)");
        scratch.exec("INSERT INTO t VALUES (1, 'one', x'00FF0D0A'), (2, NULL, ''), "
                     "(3, '\xED\x95\x9C', NULL)");
        connection.SetHost(testserver::hostField());
        connection.SetUser(testserver::user());
        connection.SetPasswd(testserver::password());
        connection.SetDB(scratch.name());
        connection.Open();
        ASSERT_TRUE(programDir.isValid());
        panel = std::make_unique<SqlPanel>(connection, prompts, programDir.path(), &window);
        window.resize(800, 600);
        window.show();
    }
    void TearDown() override { EXPECT_TRUE(prompts.allAnswersUsed()); }

    void run(const QString& text) {
        panel->MemoSQL()->setPlainText(text);
        panel->SpeedButton7Click();
    }
    bool gridShown() const { return panel->DBGrid2()->isVisibleTo(panel.get()); }
    bool memoShown() const { return panel->MemoResult()->isVisibleTo(panel.get()); }
    QString memo() const { return panel->MemoResult()->toPlainText(); }
    QString cell(int row, int column) const {
        TMySQLDataSet* ds = panel->MySQLDataSet2();
        return ds->data(ds->index(row, column)).toString();
    }
    QString currentDatabase() {
        db::Result r = connection.connection().select("SELECT DATABASE()");
        return r.next() ? r.text(0) : QString();
    }
    QString path(const char* name) const { return programDir.filePath(QLatin1String(name)); }

    ScratchDatabase scratch{QStringLiteral("sql")};
    TMySQLConnection connection;
    RecordingPrompts prompts;
    QTemporaryDir programDir;
    QWidget window;
    std::unique_ptr<SqlPanel> panel;
};

TEST_F(SqlPanelTest, CheckBoxKeepsToTheStripsRightEdge) {
    for (int width : {900, 420, 1300}) {
        panel->resize(width, 500);
        QApplication::processEvents();
        QWidget* strip = panel->Panel6();
        ASSERT_EQ(strip->width(), width);
        EXPECT_EQ(panel->CheckBox1()->x() + panel->CheckBox1()->width(), strip->width() - 15)
            << "width " << width;
    }
}

TEST_F(SqlPanelTest, SelectShowsTheRowsInTheGrid) {
    EXPECT_FALSE(gridShown());
    run(QStringLiteral("SELECT id, name FROM t ORDER BY id;"));
    EXPECT_TRUE(gridShown());
    EXPECT_FALSE(memoShown());
    ASSERT_EQ(panel->MySQLDataSet2()->rowCount(), 3);
    EXPECT_EQ(cell(0, 1), QStringLiteral("one"));
    EXPECT_EQ(cell(2, 1), QString::fromUtf8("\xED\x95\x9C"));
    EXPECT_TRUE(prompts.shown().empty());
    // A command afterwards swaps the result area back.
    run(QStringLiteral("DO 1"));
    EXPECT_FALSE(gridShown());
    EXPECT_TRUE(memoShown());
}

TEST_F(SqlPanelTest, DescAndShowUseTheGridAndNeverOfferTheFile) {
    panel->CheckBox1()->setChecked(true);
    for (const char* statement : {"DESC t", "SHOW COLUMNS FROM t", "show tables;"}) {
        run(QLatin1String(statement));
        EXPECT_TRUE(gridShown()) << statement;
        EXPECT_GT(panel->MySQLDataSet2()->rowCount(), 0) << statement;
    }
    EXPECT_TRUE(prompts.shown().empty());  // no question, no dialog
}

TEST_F(SqlPanelTest, UseSetsTheLabelAndTheDatasetConnectionsDatabase) {
    ScratchDatabase other{QStringLiteral("use")};
    panel->SetUseDb(scratch.name());
    run(QStringLiteral("use   ") + other.name() + QStringLiteral("  "));
    EXPECT_EQ(panel->LUseDb()->text(), QStringLiteral("Use DB : ") + other.name());
    EXPECT_EQ(currentDatabase(), other.name());
    EXPECT_TRUE(memoShown());
    EXPECT_EQ(memo(), QStringLiteral("Query OK, 0 rows affected"));

    // A refused USE leaves the label on the database still in use.
    run(QStringLiteral("USE lvx_no_such_database_here"));
    EXPECT_EQ(panel->LUseDb()->text(), QStringLiteral("Use DB : ") + other.name());
    EXPECT_EQ(currentDatabase(), other.name());
    EXPECT_TRUE(memo().contains(QStringLiteral("lvx_no_such_database_here")))
        << memo().toStdString();
}

TEST_F(SqlPanelTest, ALongDatabaseNameIsCutInTheLabelAndNeverWidensThePanel) {
    panel->SetUseDb(QStringLiteral("d"));
    const int narrowest = panel->minimumSizeHint().width();
    const QString label = QStringLiteral("Use DB : ") + QString(300, u'd');
    panel->SetUseDb(QString(300, u'd'));
    EXPECT_EQ(panel->minimumSizeHint().width(), narrowest);
    EXPECT_EQ(panel->LUseDb()->text(), label);
    EXPECT_EQ(panel->LUseDb()->toolTip(), label);
}

TEST_F(SqlPanelTest, CommandsReportTheirOutcome) {
    run(QStringLiteral("UPDATE t SET name = 'x' WHERE id <= 2"));
    EXPECT_EQ(memo(), QStringLiteral("Query OK, 2 rows affected"));
    run(QStringLiteral("DELETE FROM t WHERE id = 3;"));
    EXPECT_EQ(memo(), QStringLiteral("Query OK, 1 row affected"));

    run(QStringLiteral("DROP TABLE lvx_not_there"));
    EXPECT_TRUE(memoShown());
    EXPECT_TRUE(memo().contains(QStringLiteral("Unknown table"))) << memo().toStdString();
    EXPECT_TRUE(prompts.shown().empty());  // the memo, not a message box
}

TEST_F(SqlPanelTest, EveryStatementThatAnswersWithRowsShowsThemOnce) {
    // Not SELECT, DESC or SHOW and a blank, yet each answers with rows; none offers the file.
    panel->CheckBox1()->setChecked(true);
    const struct {
        const char* statement;
        int rows;
    } cases[] = {
        {"SELECT\n1", 1},
        {"-- first a comment\nSELECT id FROM t", 3},
        {"EXPLAIN SELECT * FROM t", 1},
        {"DESCRIBE t", 3},
        {"WITH x AS (SELECT 1 AS a UNION SELECT 2) SELECT * FROM x", 2},
        {"CHECK TABLE t", 1},
        {"(SELECT 5)", 1},
    };
    for (const auto& c : cases) {
        run(QLatin1String(c.statement));
        EXPECT_TRUE(gridShown()) << c.statement;
        EXPECT_EQ(panel->MySQLDataSet2()->rowCount(), c.rows) << c.statement;
    }
    EXPECT_EQ(cell(0, 0), QStringLiteral("5"));
    EXPECT_TRUE(prompts.shown().empty());
    // Sent once: an INSERT ... RETURNING answers with its row and inserts one row.
    run(QStringLiteral("INSERT INTO t (id) VALUES (9) RETURNING id"));
    EXPECT_EQ(cell(0, 0), QStringLiteral("9"));
    db::Result count = scratch.connection().select("SELECT COUNT(*) FROM t WHERE id = 9");
    ASSERT_TRUE(count.next());
    EXPECT_EQ(count.text(0), QStringLiteral("1"));
}

TEST_F(SqlPanelTest, RejectedQueryIsReportedOnce) {
    for (const char* statement : {"SELECT * FROM lvx_missing_table", "SELECT 1; SELECT 2"}) {
        prompts.clear();
        run(QLatin1String(statement));
        ASSERT_EQ(prompts.messages().size(), 1) << statement;
        EXPECT_FALSE(prompts.messages().front().isEmpty());
        EXPECT_TRUE(gridShown());
        EXPECT_EQ(panel->MySQLDataSet2()->rowCount(), 0);
    }
    EXPECT_TRUE(prompts.messages().front().contains(QStringLiteral("syntax")));
}

TEST_F(SqlPanelTest, EmptyEditorSendsNothing) {
    run(QStringLiteral("DO 1"));
    ASSERT_FALSE(memo().isEmpty());
    connection.SetConnected(false);  // anything sent now would report "not connected"
    for (const char* text : {"", "  \n\t\r\n ", ";"}) {
        run(QLatin1String(text));
        EXPECT_TRUE(memoShown()) << text;
        EXPECT_EQ(memo(), QString()) << text;
    }
    run(QStringLiteral("DO 1"));
    EXPECT_EQ(memo(), QStringLiteral("Not connected to a server."));
}

TEST_F(SqlPanelTest, SelectRowsAreSavedAsTheGridShowsThem) {
    // The same table in another database: after a USE in the panel, the file must hold the
    // grid's rows, not those of some other connection's current database.
    ScratchDatabase other{QStringLiteral("res")};
    other.exec("CREATE TABLE t (id INT, name VARCHAR(20), data BLOB)");
    other.exec("INSERT INTO t VALUES (7, 'seven', x'00FF'), (8, NULL, NULL)");
    run(QStringLiteral("USE ") + other.name());

    panel->CheckBox1()->setChecked(true);
    const QString file = path("result");
    writeFile(file, "previous contents, longer than the result");
    prompts.answerYesNo(true);
    prompts.answerFile(file);
    run(QStringLiteral("select id, name, data, '' AS e from t order by id"));

    EXPECT_EQ(prompts.kinds(), (QStringList{"yesNo", "save", "message"}));
    EXPECT_EQ(prompts.shown()[0].text, QString::fromUtf8("Query 결과를 파일로 저장하시겠습니까?"));
    ASSERT_EQ(prompts.dialogs.size(), 1u);
    EXPECT_EQ(prompts.dialogs[0].dir, programDir.path());
    EXPECT_EQ(prompts.dialogs[0].filter, QStringLiteral("SQL files (*.sql);;All Files (*.*)"));
    EXPECT_EQ(prompts.messages(), QStringList{file});
    EXPECT_EQ(readFile(file), bytes("7\tseven\t\0\xff\t\r8\t\\N\t\\N\t\r"));
    EXPECT_EQ(panel->MySQLDataSet2()->rowCount(), 2);
}

TEST_F(SqlPanelTest, SavedValuesAreEscapedAsTheMariadbClientPrintsThem) {
    scratch.exec("CREATE TABLE odd (id INT, v VARCHAR(20))");
    scratch.exec("INSERT INTO odd VALUES (1, 'a\\tb'), (2, 'c\\nd'), (3, 'e\\\\f'), "
                 "(4, '\\\\t'), (5, 'plain')");
    const char* const query = "SELECT id, v FROM odd ORDER BY id";
    const QString host = testserver::hostField();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MYSQL_PWD"), testserver::password());
    const CliResult client = runProgram(
        QStringLiteral("mariadb"),
        {QStringLiteral("--no-defaults"), QStringLiteral("-h") + host.section(u':', 0, 0),
         QStringLiteral("-P") + host.section(u':', 1), QStringLiteral("-u") + testserver::user(),
         QStringLiteral("-B"), QStringLiteral("-N"), QStringLiteral("-e"), QLatin1String(query),
         scratch.name()},
        env, 60);
    ASSERT_EQ(client.code, 0) << client.err.toStdString();
    ASSERT_EQ(client.out.count(u'\n'), 5) << client.out.toStdString();

    panel->CheckBox1()->setChecked(true);
    const QString file = path("escaped");
    prompts.answerYesNo(true);
    prompts.answerFile(file);
    run(QLatin1String(query));
    // The same fields as the client's; only the line end differs (CR here).
    EXPECT_EQ(readFile(file), client.out.toUtf8().replace('\n', '\r'));
}

TEST_F(SqlPanelTest, ResultFileIsOnlyWrittenWhenAsked) {
    panel->CheckBox1()->setChecked(true);
    prompts.answerYesNo(false);  // No: no dialog
    run(QStringLiteral("SELECT id FROM t"));
    prompts.answerYesNo(true);
    prompts.answerFile(QString());  // the dialog cancelled: no message, no file
    run(QStringLiteral("SELECT id FROM t"));
    EXPECT_EQ(prompts.kinds(), (QStringList{"yesNo", "yesNo", "save"}));
    // Only the history beside the settings: no result file.
    EXPECT_EQ(QDir(programDir.path()).entryList(QDir::Files),
              QStringList{QLatin1String(SqlPanel::kHistoryFile)});

    // A refused SELECT asks nothing.
    prompts.clear();
    run(QStringLiteral("SELECT nope FROM t"));
    EXPECT_EQ(prompts.kinds(), QStringList{"message"});
}

TEST_F(SqlPanelTest, UnwritableResultFileIsReportedAndTheGridKeepsItsRows) {
    panel->CheckBox1()->setChecked(true);
    const QString file = path("no/such/dir/out.txt");
    prompts.answerYesNo(true);
    prompts.answerFile(file);
    run(QStringLiteral("SELECT id FROM t"));
    const QStringList messages = prompts.messages();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[0], file);
    EXPECT_TRUE(messages[1].contains(file)) << messages[1].toStdString();
    EXPECT_EQ(panel->MySQLDataSet2()->rowCount(), 3);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(SqlPanelTest, OpenReplacesTheEditorTextWithoutRunning) {
    const QString script = path("script.sql");
    writeFile(script, "SELECT 1\rFROM t\r\nWHERE 1\n");
    panel->MemoSQL()->setPlainText(QStringLiteral("old text"));
    prompts.answerFile(script);
    panel->SpeedButton8Click();
    EXPECT_EQ(panel->MemoSQL()->toPlainText(), QStringLiteral("SELECT 1\nFROM t\nWHERE 1\n"));
    EXPECT_FALSE(panel->MemoSQL()->document()->isUndoAvailable());
    EXPECT_FALSE(gridShown());
    EXPECT_EQ(memo(), QString());

    panel->SetOpenFilter(QStringLiteral("SQL files (*.sql)"));
    prompts.answerFile(QString());  // cancelled: the text stays
    panel->SpeedButton8Click();
    EXPECT_EQ(panel->MemoSQL()->toPlainText(), QStringLiteral("SELECT 1\nFROM t\nWHERE 1\n"));
    ASSERT_EQ(prompts.dialogs.size(), 2u);
    EXPECT_EQ(prompts.dialogs[0].dir, programDir.path());
    EXPECT_EQ(prompts.dialogs[0].filter, QStringLiteral("SQL files (*.sql);;All files (*.*)"));
    EXPECT_EQ(prompts.dialogs[1].filter, QStringLiteral("SQL files (*.sql)"));
}

TEST_F(SqlPanelTest, FileErrorsKeepTheEditorText) {
    panel->MemoSQL()->setPlainText(QStringLiteral("SELECT 42"));
    prompts.answerFile(path("missing.sql"));
    panel->SpeedButton8Click();
    prompts.answerFile(programDir.path());  // a directory cannot be written as a file
    panel->SpeedButton9Click();
    const QStringList messages = prompts.messages();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].contains(path("missing.sql"))) << messages[0].toStdString();
    EXPECT_TRUE(messages[1].contains(programDir.path())) << messages[1].toStdString();
    EXPECT_EQ(panel->MemoSQL()->toPlainText(), QStringLiteral("SELECT 42"));
}

TEST_F(SqlPanelTest, SaveWritesCrLfUnderTheNameAsTyped) {
    const QString file = path("noext");
    writeFile(file, "an older, longer script that must disappear");
    panel->MemoSQL()->setPlainText(QString::fromUtf8("  SELECT 1\n-- \xED\x95\x9C\n"));
    prompts.answerFile(file);
    panel->SpeedButton9Click();
    EXPECT_EQ(readFile(file), QByteArray("  SELECT 1\r\n-- \xED\x95\x9C\r\n"));
    EXPECT_FALSE(QFile::exists(file + QStringLiteral(".sql")));
    ASSERT_EQ(prompts.dialogs.size(), 1u);
    EXPECT_EQ(prompts.dialogs[0].filter, QStringLiteral("SQL files (*.sql);;All Files (*.*)"));
    EXPECT_TRUE(prompts.messages().isEmpty());

    // Only blanks and line breaks: no dialog at all.
    panel->MemoSQL()->setPlainText(QStringLiteral(" \n\t\n  "));
    panel->SpeedButton9Click();
    EXPECT_EQ(prompts.dialogs.size(), 1u);
}

// ---- Editor keys --------------------------------------------------------------------------

enum class Action { Run, Open, Save, None };

struct KeyCase {
    const char* name;
    int key;
    Qt::KeyboardModifiers modifiers;
    Action action;
    const char* text = "";  // the character the key carries, as a keyboard sends it
};

// Sees the key events that bubble up from the editor: they arrive only when the panel let
// the editor have them and the editor had no use for them.
class KeyRecorder : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) ++keyPresses;
        return false;
    }
    int keyPresses = 0;
};

class EditorKeys : public SqlPanelTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(EditorKeys, RunOpenOrSaveAndLeaveTheKeyToTheEditor) {
    const KeyCase& c = GetParam();
    scratch.exec("CREATE TABLE k (x INT)");
    panel->MemoSQL()->setPlainText(QStringLiteral("INSERT INTO k VALUES (1)"));
    if (c.action == Action::Open || c.action == Action::Save) prompts.answerFile(QString());
    KeyRecorder recorder;
    window.installEventFilter(&recorder);

    QKeyEvent press(QEvent::KeyPress, c.key, c.modifiers, QString::fromLatin1(c.text));
    QCoreApplication::sendEvent(panel->MemoSQL(), &press);

    EXPECT_EQ(recorder.keyPresses, 1) << "the editor did not get the key";
    EXPECT_EQ(panel->MemoSQL()->toPlainText(), QStringLiteral("INSERT INTO k VALUES (1)"))
        << "the key typed into the statement";
    db::Result r = scratch.connection().select("SELECT COUNT(*) FROM k");
    ASSERT_TRUE(r.next());
    EXPECT_EQ(r.text(0), c.action == Action::Run ? QStringLiteral("1") : QStringLiteral("0"));
    QStringList expected;
    if (c.action == Action::Open) expected << "open";
    if (c.action == Action::Save) expected << "save";
    EXPECT_EQ(prompts.kinds(), expected);
}

constexpr Qt::KeyboardModifiers kCtrl = Qt::ControlModifier;
constexpr Qt::KeyboardModifiers kCtrlKeypad = Qt::ControlModifier | Qt::KeypadModifier;

INSTANTIATE_TEST_SUITE_P(
    SqlPanel, EditorKeys,
    ::testing::Values(
        KeyCase{"CtrlE", Qt::Key_E, kCtrl, Action::Run},
        KeyCase{"CtrlU", Qt::Key_U, kCtrl, Action::Run},
        KeyCase{"CtrlAltE", Qt::Key_E, kCtrl | Qt::AltModifier, Action::Run},
        KeyCase{"CtrlO", Qt::Key_O, kCtrl, Action::Open},
        KeyCase{"CtrlKeypad9", Qt::Key_9, kCtrlKeypad, Action::Open},
        KeyCase{"CtrlKeypad9WithItsDigit", Qt::Key_9, kCtrlKeypad, Action::Open, "9"},
        KeyCase{"Ctrl9", Qt::Key_9, kCtrl, Action::None},
        KeyCase{"CtrlS", Qt::Key_S, kCtrl, Action::Save},
        KeyCase{"CtrlShiftS", Qt::Key_S, kCtrl | Qt::ShiftModifier, Action::Save},
        KeyCase{"CtrlKeypadMinus", Qt::Key_Minus, kCtrlKeypad, Action::Save},
        KeyCase{"CtrlKeypadMinusWithItsSign", Qt::Key_Minus, kCtrlKeypad, Action::Save, "-"},
        KeyCase{"CtrlMinus", Qt::Key_Minus, kCtrl, Action::None},
        KeyCase{"AltE", Qt::Key_E, Qt::AltModifier, Action::None},
        KeyCase{"F5", Qt::Key_F5, Qt::NoModifier, Action::None}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

TEST_F(SqlPanelTest, HeldKeyRunsAgainOnEveryRepeat) {
    scratch.exec("CREATE TABLE k (x INT)");
    panel->MemoSQL()->setPlainText(QStringLiteral("INSERT INTO k VALUES (1)"));
    for (bool repeat : {false, true, true}) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_E, Qt::ControlModifier, QString(), repeat);
        QCoreApplication::sendEvent(panel->MemoSQL(), &press);
    }
    db::Result r = scratch.connection().select("SELECT COUNT(*) FROM k");
    ASSERT_TRUE(r.next());
    EXPECT_EQ(r.text(0), QStringLiteral("3"));
    // A plain key with text still types into the editor.
    QKeyEvent typed(QEvent::KeyPress, Qt::Key_E, Qt::NoModifier, QStringLiteral("e"));
    QCoreApplication::sendEvent(panel->MemoSQL(), &typed);
    EXPECT_EQ(panel->MemoSQL()->toPlainText().count(u'e'), 1);
}

// ---- Scripts ------------------------------------------------------------------------------

const char* const kScript =
    "CREATE TABLE s (id INT);\n"
    "INSERT INTO s VALUES (1),(2); -- a ; in a comment\n"
    "SELECT id FROM s ORDER BY id;\n"
    "SELECT 'a;b' AS v /* ; */;\n"
    "INSERT INTO missing_table VALUES (1);\n"
    "DELIMITER //\n"
    "CREATE PROCEDURE p() BEGIN SELECT COUNT(*) FROM s; SELECT 'x'; END//\n"
    "DELIMITER ;\n"
    "CALL p();\n"
    "USE mysql\n";

class ScriptRunTest : public SqlPanelTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ScriptRunTest, EachStatementIsLoggedAndEachResultGetsATab) {
    const bool stopAtError = GetParam();
    panel->CheckBoxStopAtError()->setChecked(stopAtError);
    panel->MemoSQL()->setPlainText(QString::fromUtf8(kScript));
    QKeyEvent key(QEvent::KeyPress, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
    QCoreApplication::sendEvent(panel->MemoSQL(), &key);

    const QStringList log = panel->MemoLog()->toPlainText().split(u'\n');
    ASSERT_EQ(log.size(), stopAtError ? 6 : 9) << log.join(u'\n').toStdString();
    EXPECT_TRUE(log[1].startsWith(QStringLiteral("Line 2: 2 rows affected, 0 warnings, ")));
    EXPECT_TRUE(log[2].startsWith(QStringLiteral("Line 3: 2 rows, ")));
    EXPECT_TRUE(log[3].endsWith(QStringLiteral("SELECT 'a;b' AS v /* ; */"))) << log[3].toStdString();
    EXPECT_TRUE(log[4].startsWith(QStringLiteral("Line 5: ")) && log[4].contains(QStringLiteral("doesn't exist")));
    EXPECT_TRUE(log.last().startsWith(stopAtError ? QStringLiteral("5 statements, 1 failed, ")
                                                  : QStringLiteral("8 statements, 1 failed, ")));
    EXPECT_EQ(log.last().endsWith(QStringLiteral(", stopped")), stopAtError);

    QTabWidget* tabs = panel->ScriptResults();
    EXPECT_TRUE(tabs->isVisibleTo(panel.get()));
    EXPECT_FALSE(gridShown());
    // SELECT, SELECT, and the procedure's two sets.
    ASSERT_EQ(tabs->count(), stopAtError ? 3 : 5);
    EXPECT_EQ(tabs->currentIndex(), tabs->count() - 1);
    EXPECT_EQ(tabs->tabText(2), QStringLiteral("Result 2 (line 4)"));
    auto* rows = tabs->widget(2)->findChild<TMySQLDataSet*>();
    ASSERT_NE(rows, nullptr);
    // Grids are made for the tabs shown only.
    EXPECT_NE(tabs->currentWidget()->findChild<ResultGrid*>(), nullptr);
    EXPECT_EQ(tabs->widget(1)->findChild<ResultGrid*>(), nullptr);
    tabs->setCurrentIndex(1);
    EXPECT_NE(tabs->widget(1)->findChild<ResultGrid*>(), nullptr);
    EXPECT_EQ(rows->data(rows->index(0, 0)).toString(), QStringLiteral("a;b"));
    EXPECT_EQ(panel->LUseDb()->text(),
              QStringLiteral("Use DB : ") + (stopAtError ? scratch.name() : QStringLiteral("mysql")));
    EXPECT_TRUE(prompts.shown().empty());
}

INSTANTIATE_TEST_SUITE_P(StopAtError, ScriptRunTest, ::testing::Bool());

// ---- What the panel says about a run -----------------------------------------------------

struct LogLineCase {
    const char* name;
    ScriptStep step;
    const char* line;
};

class LogLines : public ::testing::TestWithParam<LogLineCase> {};

TEST_P(LogLines, CarryTheErrorNumberAndEachWarning) {
    EXPECT_EQ(RunReport::logLine(GetParam().step), QString::fromUtf8(GetParam().line));
}

INSTANTIATE_TEST_SUITE_P(
    RunReport, LogLines,
    ::testing::Values(
        LogLineCase{"Ran",
                    {.line = 3, .statement = "SELECT * FROM t", .ok = true, .outcome = "12 rows", .ms = 4},
                    "Line 3: 12 rows, 0 warnings, 4 ms: SELECT * FROM t"},
        LogLineCase{"Failed",
                    {.line = 5,
                     .statement = "SELECT * FROM x.y",
                     .outcome = "Table 'x.y' doesn't exist",
                     .errorCode = 1146,
                     .ms = 2},
                    "Line 5: Error 1146: Table 'x.y' doesn't exist, 0 warnings, 2 ms: SELECT * FROM x.y"},
        LogLineCase{"TwoWarnings",
                    {.line = 2,
                     .statement = "INSERT IGNORE INTO w VALUES ('1x'), ('2y')",
                     .ok = true,
                     .outcome = "2 rows affected",
                     .warnings = 2,
                     .warningList = {{"Warning", 1265, "Data truncated for column 'n' at row 1"},
                                     {"Note", 1003, "second"}},
                     .ms = 1},
                    "Line 2: 2 rows affected, 2 warnings, 1 ms: INSERT IGNORE INTO w VALUES ('1x'), ('2y')\n"
                    "  Warning 1265: Data truncated for column 'n' at row 1\n"
                    "  Note 1003: second"},
        // A cancel is no server error: no number, its own words.
        LogLineCase{"Cancelled",
                    {.line = 2,
                     .statement = "SELECT SLEEP(5)",
                     .cancelled = true,
                     .outcome = "Cancelled by the user after 0.4 s.",
                     .ms = 400},
                    "Line 2: Cancelled by the user after 0.4 s., 0 warnings, 400 ms: SELECT SLEEP(5)"},
        // The server's text and the statement are taken as they are, % and all.
        LogLineCase{"PercentSigns",
                    {.line = 7,
                     .statement = "SELECT '%1' FROM %2",
                     .outcome = "You have an error near '%2'",
                     .errorCode = 1064,
                     .ms = 1},
                    "Line 7: Error 1064: You have an error near '%2', 0 warnings, 1 ms: SELECT '%1' FROM %2"}),
    [](const ::testing::TestParamInfo<LogLineCase>& info) { return std::string(info.param.name); });

struct CancelCase {
    int ran;
    int total;
    const char* status;
};

class CancelNotes : public ::testing::TestWithParam<CancelCase> {};

TEST_P(CancelNotes, SayHowFarTheRunGot) {
    EXPECT_EQ(RunReport::cancelled(GetParam().ran, GetParam().total), QString::fromUtf8(GetParam().status));
}

INSTANTIATE_TEST_SUITE_P(RunReport, CancelNotes,
                         ::testing::Values(CancelCase{2, 5, "Cancelled: 2 of 5 statements ran."},
                                           CancelCase{0, 1, "Cancelled: 0 of 1 statement ran."},
                                           CancelCase{1, 2, "Cancelled: 1 of 2 statements ran."}));

TEST_F(SqlPanelTest, TheMessagesLogNamesErrorNumbersAndWarnings) {
    panel->CheckBoxStopAtError()->setChecked(false);
    panel->MemoSQL()->setPlainText(
        QStringLiteral("SELECT CAST('abc' AS INT) AS n;\nSELECT * FROM no_such_table_x;\nDO 1;"));
    panel->RunScriptClick();
    const QStringList log = panel->MemoLog()->toPlainText().split(u'\n');
    ASSERT_EQ(log.size(), 5) << log.join(u'\n').toStdString();
    EXPECT_TRUE(log[0].startsWith(QStringLiteral("Line 1: 1 row, 1 warning, "))) << log[0].toStdString();
    EXPECT_EQ(log[1], QStringLiteral("  Warning 1292: Truncated incorrect INTEGER value: 'abc'"));
    EXPECT_TRUE(log[2].startsWith(QStringLiteral("Line 2: Error 1146: Table '%1.no_such_table_x' doesn't exist, 0 warnings, ")
                                      .arg(scratch.name())))
        << log[2].toStdString();
    EXPECT_TRUE(log[3].startsWith(QStringLiteral("Line 3: 0 rows affected, 0 warnings, "))) << log[3].toStdString();
    EXPECT_TRUE(log[4].startsWith(QStringLiteral("3 statements, 1 failed, "))) << log[4].toStdString();
    EXPECT_TRUE(prompts.shown().empty());
}

TEST_F(SqlPanelTest, WarningLinesCountTowardsTheLogsCap) {
    // Half the cap in statements, each with a warning line: together past the cap.
    const int statements = SqlPanel::kMaxLogLines / 2 + 1;
    panel->MemoSQL()->setPlainText(QStringLiteral("DO CAST('abc' AS INT);\n").repeated(statements));
    panel->RunScriptClick();
    const QString log = panel->MemoLog()->toPlainText();
    EXPECT_EQ(panel->MemoLog()->blockCount(), SqlPanel::kMaxLogLines);
    EXPECT_TRUE(log.contains(
        QStringLiteral("\n4 earlier lines no longer in this log: it keeps its last 10000 lines.\n")))
        << log.right(300).toStdString();
}

TEST_F(SqlPanelTest, CtrlERunsTheSelectionAlone) {
    panel->MemoSQL()->setPlainText(QStringLiteral("SELECT 1;\nSELECT id\nFROM t ORDER BY id DESC;"));
    QTextCursor cursor = panel->MemoSQL()->textCursor();
    cursor.setPosition(10);
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    panel->MemoSQL()->setTextCursor(cursor);
    QKeyEvent key(QEvent::KeyPress, Qt::Key_E, Qt::ControlModifier);
    QCoreApplication::sendEvent(panel->MemoSQL(), &key);
    ASSERT_EQ(panel->MySQLDataSet2()->rowCount(), 3);
    EXPECT_EQ(cell(0, 0), QStringLiteral("3"));
}

// ---- Highlighting -------------------------------------------------------------------------

TEST(SqlHighlighter, ColoursEachKindAndCarriesOpenTextIntoTheNextLine) {
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("SELECT `a b`, 'it''s', 12.5 FROM t -- note\n"
                                    "/* open\n still */ select x.from # done\n"
                                    "'two\nlines' --no comment"));
    SqlHighlighter h(&doc);
    auto kindAt = [&](int line, int column) {
        const QTextBlock block = doc.findBlockByNumber(line);
        for (const QTextLayout::FormatRange& r : block.layout()->formats())
            if (column >= r.start && column < r.start + r.length)
                for (int k = 0; k < SqlHighlighter::KindCount; ++k)
                    if (r.format == h.format(SqlHighlighter::Kind(k))) return k;
        return -1;
    };
    struct Case { int line, column, kind; };
    const Case cases[] = {
        {0, 0, SqlHighlighter::Keyword},     {0, 8, SqlHighlighter::QuotedName},
        {0, 15, SqlHighlighter::String},     {0, 19, SqlHighlighter::String},
        {0, 23, SqlHighlighter::Number},     {0, 28, SqlHighlighter::Keyword},
        {0, 33, -1},                         {0, 38, SqlHighlighter::Comment},
        {1, 3, SqlHighlighter::Comment},     {2, 3, SqlHighlighter::Comment},
        {2, 10, SqlHighlighter::Keyword},    {2, 19, -1 /* x.from is a name */},
        {2, 26, SqlHighlighter::Comment},    {3, 2, SqlHighlighter::String},
        {4, 2, SqlHighlighter::String},      {4, 8, -1 /* "--no" is no comment */},
    };
    for (const Case& c : cases) EXPECT_EQ(kindAt(c.line, c.column), c.kind) << c.line << ":" << c.column;
}

TEST_F(SqlPanelTest, KeywordsComeFromTheServer) {
    const QStringList words = SqlHighlighter::serverKeywords(connection.connection());
    EXPECT_TRUE(words.contains(QStringLiteral("SELECT"), Qt::CaseInsensitive));
    // Each connect hands the list to the colouring and the completion.
    connection.SetConnected(false);
    connection.Open();
    // Words the help tables have no topic for are keywords all the same.
    for (const char* word : {"WHERE", "AS", "HAVING", "WHEN", "THEN", "ELSE", "INNER", "OUTER", "DESC"}) {
        EXPECT_TRUE(words.contains(QLatin1String(word))) << word;
        EXPECT_TRUE(panel->Highlighter()->isKeyword(QString::fromLatin1(word).toLower())) << word;
    }
    EXPECT_FALSE(panel->Highlighter()->isKeyword(u"customer_id"));
    panel->MemoSQL()->setPlainText(QStringLiteral("SELECT * FROM t WHE"));
    panel->MemoSQL()->moveCursor(QTextCursor::End);
    panel->ShowCompletions();
    EXPECT_TRUE(static_cast<QStringListModel*>(panel->Completer()->model())
                    ->stringList()
                    .contains(QStringLiteral("WHERE")));
}

// ---- Completion -----------------------------------------------------------------------------

TEST_F(SqlPanelTest, CompletionOffersNamesFromTheServerAndKeepsThemUntilARefresh) {
    scratch.exec("CREATE TABLE orders (id INT, customer_id INT, total DECIMAL(8,2))");
    scratch.exec("CREATE TABLE customers (id INT, `full name` VARCHAR(40))");
    scratch.exec("CREATE TABLE items (`item id` INT, `order` INT, qty INT, `1st` INT, `a``b` INT)");
    ScratchDatabase dashed{QStringLiteral("my-app")};
    dashed.exec("CREATE TABLE `select` (x INT)");
    dashed.exec("CREATE TABLE plain (y INT)");
    Completion completion(connection.connection());
    completion.setKeywords(SqlHighlighter::builtInKeywords());
    const QString db = scratch.name();
    const QString dashedDb = QString::fromStdString(db::quoteIdentifier(dashed.name()));
    struct Case {
        QString text;
        QString before;  // the cursor stands before this text; empty: at the end
        QStringList expected;
        bool exact;  // nothing else offered (after a qualifier, no keywords)
    };
    const Case cases[] = {
        {"SELECT * FROM or", "", {"orders", "ORDER"}, false},
        {"SELECT o. FROM orders o", " FROM", {"id", "customer_id", "total"}, true},
        {"SELECT c.fu FROM customers AS c", " FROM", {"`full name`"}, true},
        // Names are offered as they must be typed.
        {"SELECT i. FROM items i", " FROM", {"`item id`", "`order`", "qty", "`1st`", "`a``b`"}, true},
        {"SELECT * FROM items WHERE `it", "", {"`item id`", "items"}, true},
        {"SELECT * FROM " + db + ".", "", {"customers", "items", "orders", "t"}, true},
        {"SELECT * FROM " + dashedDb + ".", "", {"`select`", "plain"}, true},
        {"SELECT * FROM " + dashedDb + ".`sel", "", {"`select`"}, true},
        {"SELECT " + db + ".orders. FROM t", " FROM", {"id", "customer_id", "total"}, true},
        {"SELECT " + dashedDb + ".`select`.", "", {"x"}, true},
        // Keywords after a table are no alias; every table of a list and a join counts.
        {"SELECT * FROM orders JOIN customers c ON c.", "", {"id", "`full name`"}, true},
        {"SELECT * FROM orders o, customers AS c WHERE c.", "", {"id", "`full name`"}, true},
        {"SELECT * FROM orders LEFT JOIN items ON items.q", "", {"qty"}, true},
        {"UPDATE orders o, items i SET o.to", "", {"total"}, true},
        {"SELECT cu FROM orders", " FROM", {"customer_id", "customers", "CURRENT_USER"}, false},
        {"SELECT * FROM " + db + ".cu", "", {"customers"}, true},
        {"SELECT 1; UPDATE orders SET to", "", {"total"}, false},
        {"SEL", "", {"SELECT"}, false},
    };
    for (const Case& c : cases) {
        const int cursor = c.before.isEmpty() ? int(c.text.size()) : int(c.text.indexOf(c.before));
        QStringList got = completion.candidates(c.text, cursor);
        for (const QString& want : c.expected)
            EXPECT_TRUE(got.contains(want)) << c.text.toStdString() << " lacks " << want.toStdString()
                                            << ": " << got.join(u',').toStdString();
        if (c.exact) {
            EXPECT_EQ(got.size(), c.expected.size()) << c.text.toStdString() << ": " << got.join(u',').toStdString();
        }
    }
    // Read once: a table made afterwards is offered only after a refresh.
    scratch.exec("CREATE TABLE ordered_later (id INT)");
    EXPECT_FALSE(completion.candidates(QStringLiteral("SELECT * FROM ord"), 17).contains(QStringLiteral("ordered_later")));
    completion.clear();
    EXPECT_TRUE(completion.candidates(QStringLiteral("SELECT * FROM ord"), 17).contains(QStringLiteral("ordered_later")));

    // In the editor: Ctrl+Space shows the list; choosing replaces the typed part.
    panel->MemoSQL()->setPlainText(QStringLiteral("SELECT * FROM custo"));
    panel->MemoSQL()->moveCursor(QTextCursor::End);
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Space, Qt::ControlModifier);
    QCoreApplication::sendEvent(panel->MemoSQL(), &key);
    ASSERT_TRUE(panel->Completer()->popup()->isVisible());
    Q_EMIT panel->Completer()->activated(QStringLiteral("customers"));
    EXPECT_EQ(panel->MemoSQL()->toPlainText(), QStringLiteral("SELECT * FROM customers"));
}

struct CompletionKeysCase {
    const char* name;
    std::vector<int> keys;  // after "o.cu"
    bool toList;            // sent to the open list, as the window system does, or to the editor
    const char* text;       // the editor text afterwards
    bool open;              // the list still shown
};

class CompletionKeys : public SqlPanelTest, public ::testing::WithParamInterface<CompletionKeysCase> {};

TEST_P(CompletionKeys, KeysTypedAsTheListOpensReachTheEditorAndTheListTakesItsOwn) {
    const CompletionKeysCase& c = GetParam();
    scratch.exec("CREATE TABLE orders (id INT, customer_id INT, customer_note TEXT, total INT)");
    // As in the window: the names are read while the window goes on, user input shut out.
    ui::ServerWait wait{prompts};
    connection.connection().setWaiter(&wait);
    QPlainTextEdit* editor = panel->MemoSQL();
    editor->setPlainText(QStringLiteral("SELECT * FROM orders o WHERE o"));
    editor->moveCursor(QTextCursor::End);
    // Typed right after the dot: they arrive while the list is being made.
    for (const char* typed : {"c", "u"})
        QCoreApplication::postEvent(editor, new QKeyEvent(QEvent::KeyPress, Qt::Key_C, Qt::NoModifier,
                                                          QString::fromLatin1(typed)));
    QTest::keyClick(editor, '.');
    QCoreApplication::processEvents();
    const QString before = QStringLiteral("SELECT * FROM orders o WHERE o.");
    EXPECT_EQ(editor->toPlainText(), before + QStringLiteral("cu"));
    QAbstractItemView* list = panel->Completer()->popup();
    ASSERT_TRUE(list->isVisible());
    EXPECT_EQ(static_cast<QStringListModel*>(panel->Completer()->model())->stringList(),
              QStringList({QStringLiteral("customer_id"), QStringLiteral("customer_note")}));

    for (int k : c.keys) QTest::keyClick(c.toList ? static_cast<QWidget*>(list) : editor, Qt::Key(k));
    EXPECT_EQ(editor->toPlainText(), before + QLatin1String(c.text));
    EXPECT_EQ(list->isVisible(), c.open);
    connection.connection().setWaiter(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    SqlPanel, CompletionKeys,
    ::testing::Values(
        CompletionKeysCase{"Return", {Qt::Key_Return}, false, "customer_id", false},
        CompletionKeysCase{"ReturnToList", {Qt::Key_Return}, true, "customer_id", false},
        CompletionKeysCase{"Tab", {Qt::Key_Tab}, false, "customer_id", false},
        CompletionKeysCase{"TabToList", {Qt::Key_Tab}, true, "customer_id", false},
        CompletionKeysCase{"DownReturn", {Qt::Key_Down, Qt::Key_Return}, false, "customer_note", false},
        CompletionKeysCase{"DownReturnToList", {Qt::Key_Down, Qt::Key_Return}, true, "customer_note", false},
        CompletionKeysCase{"Escape", {Qt::Key_Escape}, false, "cu", false},
        CompletionKeysCase{"EscapeToList", {Qt::Key_Escape}, true, "cu", false},
        CompletionKeysCase{"TypingNarrows", {'S', 'T', 'O', 'M', 'E', 'R', '_', 'N', Qt::Key_Return},
                           true, "customer_note", false},
        CompletionKeysCase{"NothingFitsClosesTheList", {'X'}, false, "cux", false},
        CompletionKeysCase{"ABlankClosesTheList", {' ', Qt::Key_Return}, false, "cu \n", false}),
    [](const ::testing::TestParamInfo<CompletionKeysCase>& info) { return std::string(info.param.name); });

// ---- History and export ---------------------------------------------------------------------

TEST_F(SqlPanelTest, StatementsAreKeptInTheHistoryWithPasswordsMaskedAndComeBack) {
    run(QStringLiteral("SELECT PASSWORD('hunter2') AS p"));
    run(QStringLiteral("DO 1"));
    panel->MemoSQL()->setPlainText(QStringLiteral("SELECT id FROM t; SELECT nope FROM t;"));
    panel->CheckBoxStopAtError()->setChecked(false);
    panel->RunScriptClick();
    EXPECT_EQ(QFile::permissions(path(SqlPanel::kHistoryFile)),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

    QKeyEvent ctrlR(QEvent::KeyPress, Qt::Key_R, Qt::ControlModifier);
    QCoreApplication::sendEvent(panel->MemoSQL(), &ctrlR);
    HistoryPane* pane = panel->History();
    ASSERT_TRUE(pane->isVisibleTo(panel.get()));
    // Newest first; the script is one entry, so a long one never pushes out the others.
    ASSERT_EQ(pane->List()->count(), 3);
    EXPECT_TRUE(pane->List()->item(0)->text().contains(
        QStringLiteral("2 statements, 1 failed  SELECT id FROM t; SELECT nope FROM t;")))
        << pane->List()->item(0)->text().toStdString();
    EXPECT_TRUE(pane->List()->item(1)->text().contains(QStringLiteral("DO 1")));
    pane->Search()->setText(QStringLiteral("hunter2"));
    EXPECT_EQ(pane->List()->count(), 0);  // masked before it was stored
    pane->Search()->setText(QStringLiteral("password("));
    ASSERT_EQ(pane->List()->count(), 1);
    Q_EMIT pane->List()->itemDoubleClicked(pane->List()->item(0));
    EXPECT_EQ(panel->MemoSQL()->toPlainText(), QStringLiteral("SELECT PASSWORD('***') AS p"));

    // Kept across runs: a new panel on the same folder finds the entries.
    SqlPanel again(connection, prompts, programDir.path());
    EXPECT_EQ(again.QueryLog().search(QStringLiteral("do 1")).size(), 1u);
}

TEST_F(SqlPanelTest, CountsAreSingularForOneAndTabsPastTheCapAreNamed) {
    run(QStringLiteral("SELECT 1"));
    panel->MemoSQL()->setPlainText(QStringLiteral("SELECT 1"));
    panel->RunScriptClick();
    const std::vector<HistoryEntry> kept = panel->QueryLog().search({});
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].outcome, QStringLiteral("1 statement, 0 failed"));
    EXPECT_EQ(kept[1].outcome, QStringLiteral("1 row"));
    EXPECT_TRUE(panel->MemoLog()->toPlainText().contains(QStringLiteral("\n1 statement, 0 failed, ")))
        << panel->MemoLog()->toPlainText().toStdString();

    QString script;
    for (int i = 0; i < SqlPanel::kMaxResultTabs + 2; ++i) script += QStringLiteral("SELECT %1;\n").arg(i);
    panel->MemoSQL()->setPlainText(script);
    panel->RunScriptClick();
    EXPECT_EQ(panel->ScriptResults()->count(), SqlPanel::kMaxResultTabs + 1);
    EXPECT_TRUE(panel->MemoLog()->toPlainText().contains(
        QStringLiteral("2 earlier result sets without a tab: only the last 50 result sets are kept.")))
        << panel->MemoLog()->toPlainText().toStdString();
}

TEST_F(SqlPanelTest, HistoryLinesSayWhereTheyCutAStatement) {
    const QString longest = QStringLiteral("SELECT '") + QString(3000, u'x') + u'\'';
    for (const QString& statement : {QStringLiteral("SELECT 2"), longest}) run(statement);
    panel->History()->Start();
    QListWidget* list = panel->History()->List();
    ASSERT_EQ(list->count(), 2);
    EXPECT_TRUE(list->item(0)->text().endsWith(QChar(0x2026)));
    EXPECT_TRUE(list->item(0)->toolTip().endsWith(
        QStringLiteral("(1009 more characters; double-click to load it all)")));
    EXPECT_TRUE(list->item(1)->text().endsWith(QStringLiteral("SELECT 2")));
    EXPECT_TRUE(list->item(1)->toolTip().endsWith(QStringLiteral("\nSELECT 2")));
}

TEST_F(SqlPanelTest, HistoryTimesTheStatementNotTheMessageAboutIt) {
    prompts.messageDelayMs = 1500;
    run(QStringLiteral("SELECT nope FROM t"));
    ASSERT_EQ(prompts.messages().size(), 1);
    const std::vector<HistoryEntry> kept = panel->QueryLog().search({});
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_LT(kept[0].durationMs, 1500);
}

TEST_F(SqlPanelTest, ExecSaysHowManyResultSetsOfACallItDoesNotShow) {
    scratch.exec("CREATE PROCEDURE three() BEGIN SELECT 1 AS a; SELECT 2 AS b; SELECT 3 AS c; END");
    scratch.exec("CREATE PROCEDURE one() SELECT 1 AS a");
    QStringList status;
    QObject::connect(panel.get(), &SqlPanel::statusMessage,
                     [&status](const QString& text) { status << text; });
    run(QStringLiteral("CALL one()"));
    EXPECT_TRUE(status.isEmpty()) << status.join(u'|').toStdString();
    run(QStringLiteral("CALL three()"));
    EXPECT_EQ(cell(0, 0), QStringLiteral("1"));
    ASSERT_EQ(status.size(), 1);
    EXPECT_TRUE(status[0].startsWith(QStringLiteral("2 more result sets were not shown")))
        << status[0].toStdString();
}

TEST_F(SqlPanelTest, ExecShowsTheServersWarnings) {
    scratch.exec("CREATE TABLE w (n INT)");
    QStringList status;
    QObject::connect(panel.get(), &SqlPanel::statusMessage,
                     [&status](const QString& text) { status << text; });
    // A query: the grid shows the changed value, the status line says why.
    run(QStringLiteral("SELECT CAST('abc' AS INT) AS n"));
    EXPECT_EQ(cell(0, 0), QStringLiteral("0"));
    ASSERT_EQ(status.size(), 1);
    EXPECT_TRUE(status[0].startsWith(QStringLiteral("1 warning: Warning 1292: Truncated")))
        << status[0].toStdString();
    // A command: the memo has the outcome, then each warning.
    run(QStringLiteral("INSERT IGNORE INTO w VALUES ('1x'), ('2y')"));
    EXPECT_TRUE(memo().startsWith(QStringLiteral("Query OK, 2 rows affected\n2 warnings:\nWarning 1265: ")))
        << memo().toStdString();
    EXPECT_EQ(memo().count(QStringLiteral("\nWarning 1265: Data truncated")), 2) << memo().toStdString();
    // Without warnings nothing is added.
    run(QStringLiteral("INSERT INTO w VALUES (3)"));
    EXPECT_EQ(memo(), QStringLiteral("Query OK, 1 row affected"));
    EXPECT_EQ(status.size(), 1);
}

TEST_F(SqlPanelTest, ARefusedStatementKeepsItsPasswordOutOfTheHistory) {
    // Each is refused with the server's text quoting the statement.
    for (const char* statement :
         {"CHANGE MASTER TO MASTER_PASSWORD='hunter3", "SET PASSWORD = \"hunter3",
          "CREATE USER lvx_nobody IDENTIFIED BY 'hunter3' WITH nonsense"}) {
        run(QString::fromUtf8(statement));
    }
    const std::vector<HistoryEntry> kept = panel->QueryLog().search({});
    ASSERT_EQ(kept.size(), 3u);
    for (const HistoryEntry& e : kept) {
        EXPECT_TRUE(e.outcome.contains(QStringLiteral("syntax"))) << e.outcome.toStdString();
        EXPECT_FALSE(e.outcome.contains(QStringLiteral("hunter3"))) << e.outcome.toStdString();
        EXPECT_FALSE(e.statement.contains(QStringLiteral("hunter3"))) << e.statement.toStdString();
    }
}

TEST_F(SqlPanelTest, AGridExportsItsRowsAndCopiesTheSelection) {
    run(QStringLiteral("SELECT id, name FROM t ORDER BY id"));
    auto* grid = static_cast<ResultGrid*>(panel->DBGrid2());
    prompts.answerFile(path("rows.json"));
    grid->ExportRows();
    QFile file(path("rows.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonArray rows = QJsonDocument::fromJson(file.readAll()).array();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].toObject()[QStringLiteral("id")].toInt(), 1);
    EXPECT_TRUE(rows[1].toObject()[QStringLiteral("name")].isNull());

    grid->selectionModel()->select(QItemSelection(grid->model()->index(0, 0), grid->model()->index(1, 1)),
                                   QItemSelectionModel::ClearAndSelect);
    grid->CopySelection();
    // NULL is \N, so it differs from the text 'NULL'.
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("1\tone\n2\t\\N"));

    // The SQL file fills the table the rows came from, in its database.
    prompts.answerFile(path("rows.sql"));
    grid->ExportRows();
    EXPECT_TRUE(readFile(path("rows.sql"))
                    .startsWith("INSERT INTO `" + scratch.name().toUtf8() + "`.`t` (`id`,`name`)"))
        << readFile(path("rows.sql")).toStdString();
}

// A query's rows are editable only when each of them names one row of one table.
TEST_F(SqlPanelTest, AResultIsEditableOnlyWhenItsRowsAreOneTablesRowsWithTheKey) {
    scratch.exec("CREATE TABLE keyless (a INT, b INT)");
    scratch.exec("INSERT INTO keyless VALUES (1, 2)");
    scratch.exec("CREATE VIEW v AS SELECT id, name FROM t");
    const struct {
        const char* statement;
        const char* reason;  // empty: editable
    } cases[] = {
        {"SELECT id, name FROM t", ""},
        {"SELECT name AS n, id AS k FROM t ORDER BY name", ""},
        {"SELECT * FROM t WHERE id > 1", ""},
        {"SELECT name FROM t", "key column id"},
        {"SELECT id, UPPER(name) FROM t", "computed"},
        {"SELECT a.id, b.name FROM t a JOIN t b ON a.id = b.id", "more than one table"},
        {"SELECT id, name, id FROM t", "selected twice"},
        {"SELECT * FROM keyless", "no PRIMARY KEY"},
        {"SELECT * FROM v", "view"},
        {"SELECT 1", "computed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.statement);
        run(QString::fromUtf8(c.statement));
        ResultRows& rows = *panel->ResultModel();
        ASSERT_TRUE(gridShown());
        EXPECT_EQ(rows.editable(), *c.reason == '\0') << rows.readOnlyReason().toStdString();
        EXPECT_TRUE(rows.readOnlyReason().contains(QString::fromUtf8(c.reason)))
            << rows.readOnlyReason().toStdString();
        EXPECT_EQ(panel->Footer()->Post().isVisibleTo(panel.get()), rows.editable());
        if (!rows.editable()) {
            EXPECT_FALSE(rows.flags(rows.index(0, 0)) & Qt::ItemIsEditable);
            EXPECT_TRUE(panel->Footer()->Status().text().contains(rows.readOnlyReason()));
        }
    }
}

// Edits of a result reach the table by its key, whatever the select list calls the columns,
// and the statement runs again afterwards so the rows show as the server holds them.
TEST_F(SqlPanelTest, EditsOfAResultArePostedAndTheRowsReadAgain) {
    run(QStringLiteral("SELECT name AS n, id AS k FROM t ORDER BY id"));
    ResultRows& rows = *panel->ResultModel();
    ASSERT_TRUE(rows.editable()) << rows.readOnlyReason().toStdString();
    ASSERT_TRUE(rows.setData(rows.index(0, 0), QStringLiteral("uno")));
    ASSERT_TRUE(rows.setNull(rows.index(2, 0)));
    // Sorted in the grid: the edits follow their rows.
    rows.sort(0, Qt::DescendingOrder);
    EXPECT_EQ(rows.editCount(), 2);
    EXPECT_TRUE(rows.editAtRow(0) || rows.editAtRow(1) || rows.editAtRow(2));
    prompts.answerYesNo(true);  // delete row id 2
    int rowOfTwo = -1;
    for (int r = 0; r < rows.rowCount(); ++r)
        if (rows.index(r, 1).data().toString() == QLatin1String("2")) rowOfTwo = r;
    ASSERT_GE(rowOfTwo, 0);
    panel->DBGrid2()->setCurrentIndex(rows.index(rowOfTwo, 0));
    panel->ResultEditing()->deleteSelectedRows();
    // The question names the row by the table's key, as the table calls it.
    ASSERT_FALSE(prompts.shown().empty());
    EXPECT_TRUE(prompts.shown().back().text.contains(QStringLiteral("(id: 2)")))
        << prompts.shown().back().text.toStdString();
    const std::vector<std::string> statements = rows.preview();
    ASSERT_EQ(statements.size(), 3u);
    EXPECT_NE(statements[0].find("UPDATE `" + scratch.name().toStdString() + "`.`t` SET `name`"),
              std::string::npos)
        << statements[0];
    ASSERT_TRUE(panel->ResultEditing()->post());
    EXPECT_FALSE(rows.hasEdits());
    db::Result now = connection.connection().select("SELECT id, name FROM t ORDER BY id");
    ASSERT_EQ(now.rowCount(), 2u);
    now.next();
    EXPECT_EQ(now.text(1).toStdString(), "uno");
    now.next();
    EXPECT_EQ(now.text(0).toStdString(), "3");
    EXPECT_TRUE(now.value(1).isNull());
    // Read again: the grid shows what the server holds.
    ASSERT_EQ(rows.rowCount(), 2);
    EXPECT_EQ(rows.index(0, 0).data().toString().toStdString(), "uno");

    // A new statement while edits wait asks first; No keeps them and runs nothing.
    ASSERT_TRUE(rows.setData(rows.index(0, 0), QStringLiteral("again")));
    prompts.answerYesNo(false);
    run(QStringLiteral("SELECT 1"));
    EXPECT_TRUE(rows.hasEdits());
    EXPECT_EQ(rows.columnCount(), 2);
    rows.revertAll();
}

// A statement returning more rows than the limit keeps the limit's worth and says how many it
// did not read; a script's result sets are capped the same way.
TEST_F(SqlPanelTest, RowsPastTheLimitAreCountedNotKept) {
    panel->Footer()->RowLimit().setValue(1000);
    run(QStringLiteral("SELECT seq, REPEAT('x', 100) FROM seq_1_to_2500"));
    TMySQLDataSet& data = *panel->MySQLDataSet2();
    EXPECT_EQ(data.rowCount(), 1000);
    EXPECT_EQ(data.NotRead(), 1500u);
    EXPECT_EQ(cell(999, 0).toStdString(), "1000");
    EXPECT_TRUE(panel->Footer()->Status().text().contains(QStringLiteral("1,500 more not read")))
        << panel->Footer()->Status().text().toStdString();
    // Raised to none: every row.
    panel->Footer()->RowLimit().setValue(0);
    run(QStringLiteral("SELECT seq FROM seq_1_to_2500"));
    EXPECT_EQ(data.rowCount(), 2500);
    EXPECT_EQ(data.NotRead(), 0u);

    panel->Footer()->RowLimit().setValue(1000);
    panel->MemoSQL()->setPlainText(QStringLiteral("SELECT seq FROM seq_1_to_1200;\nSELECT 1;"));
    panel->RunScriptClick();
    EXPECT_TRUE(panel->MemoLog()->toPlainText().contains(QStringLiteral("1200 rows (200 not read")))
        << panel->MemoLog()->toPlainText().toStdString();
    ASSERT_EQ(panel->ScriptResults()->count(), 3);
    panel->ScriptResults()->setCurrentIndex(1);
    auto* first = panel->ScriptResults()->widget(1)->findChild<TMySQLDataSet*>();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->rowCount(), 1000);
}

}  // namespace
