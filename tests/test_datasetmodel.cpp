#include <gtest/gtest.h>

#include <QBrush>
#include <QLoggingCategory>

#include "dataset/TMySQLConnection.h"
#include "dataset/TMySQLDataSet.h"
#include "dataset/ValueText.h"
#include "panels/ResultGrid.h"
#include "ui/ValueViewer.h"
#include <QHeaderView>
#include <QPlainTextEdit>
#include "support/ScriptedPrompts.h"
#include "support/TestServer.h"

namespace {

class DataSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        connection.SetHost(testserver::hostField());
        connection.SetUser(testserver::user());
        connection.SetPasswd(testserver::password());
        connection.SetDB(scratch.name());
        connection.Open();
        dataSet.SetConnection(&connection);
    }

    bool open(const QString& sql) {
        dataSet.Close();
        dataSet.SetSQL({sql});
        const bool opened = dataSet.Open();
        if (!dataSet.LastError().isEmpty()) errors << dataSet.LastError();
        return opened;
    }
    QVariant data(int row, int column, int role = Qt::DisplayRole) const {
        return dataSet.data(dataSet.index(row, column), role);
    }
    QString text(int row, int column) const { return data(row, column).toString(); }
    bool isNull(int row, int column) const {
        return data(row, column, TMySQLDataSet::IsNullRole).toBool();
    }
    bool rightAligned(int row, int column) const {
        return (data(row, column, Qt::TextAlignmentRole).toInt() & Qt::AlignRight) != 0;
    }
    // The navigation state as one comparable value: RecNo, Bof, Eof.
    std::tuple<int, bool, bool> position() const {
        return {dataSet.RecNo(), dataSet.Bof(), dataSet.Eof()};
    }
    void createRows(int count) {
        scratch.exec("CREATE TABLE t (id INT PRIMARY KEY)");
        if (count > 0)
            scratch.exec("INSERT INTO t SELECT seq FROM seq_1_to_" + std::to_string(count));
    }

    ScratchDatabase scratch{QStringLiteral("ds")};
    TMySQLConnection connection;
    ScriptedPrompts prompts;
    QStringList errors;  // what each open() reported, for the window to show
    TMySQLDataSet dataSet;
};

using Pos = std::tuple<int, bool, bool>;

TEST_F(DataSetTest, NavigationOnAnEmptyResult) {
    createRows(0);
    ASSERT_TRUE(open(QStringLiteral("SELECT id FROM t")));
    EXPECT_EQ(dataSet.RecordCount(), 0);
    EXPECT_EQ(dataSet.columnCount(), 1);  // the fields exist without rows
    EXPECT_EQ(position(), Pos(0, true, true));
    dataSet.Next();
    dataSet.Prior();
    dataSet.Last();
    EXPECT_EQ(position(), Pos(0, true, true));
    dataSet.First();
    dataSet.SetRecNo(1);
    EXPECT_EQ(position(), Pos(0, true, true));
    EXPECT_FALSE(dataSet.GotoBookmark(dataSet.GetBookmark()));
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(DataSetTest, NavigationOnOneRow) {
    createRows(1);
    ASSERT_TRUE(open(QStringLiteral("SELECT id FROM t")));
    EXPECT_EQ(position(), Pos(1, true, false));
    dataSet.Next();  // past the end: stays on the row
    EXPECT_EQ(position(), Pos(1, false, true));
    dataSet.Next();
    EXPECT_EQ(position(), Pos(1, false, true));
    dataSet.Prior();  // before the start: stays on the row
    EXPECT_EQ(position(), Pos(1, true, false));
    dataSet.Prior();
    EXPECT_EQ(position(), Pos(1, true, false));
    dataSet.Last();
    EXPECT_EQ(position(), Pos(1, false, true));
    dataSet.First();
    EXPECT_EQ(position(), Pos(1, true, false));
}

TEST_F(DataSetTest, NavigationOnSeveralRowsAndBookmarks) {
    createRows(5);
    ASSERT_TRUE(open(QStringLiteral("SELECT id FROM t ORDER BY id")));
    int scrolls = 0;
    QObject::connect(&dataSet, &TMySQLDataSet::AfterScroll, [&] { ++scrolls; });
    EXPECT_EQ(position(), Pos(1, true, false));
    for (int i = 0; i < 4; ++i) dataSet.Next();
    EXPECT_EQ(position(), Pos(5, false, false));
    EXPECT_EQ(dataSet.rawValue(dataSet.RecNo() - 1, 0), QByteArray("5"));
    dataSet.Next();
    EXPECT_EQ(position(), Pos(5, false, true));
    EXPECT_EQ(scrolls, 4);  // hitting the end does not move
    dataSet.Prior();
    EXPECT_EQ(position(), Pos(4, false, false));
    dataSet.Last();
    EXPECT_EQ(position(), Pos(5, false, true));
    dataSet.First();
    dataSet.Prior();
    EXPECT_EQ(position(), Pos(1, true, false));
    dataSet.Next();  // continues from the first row, not from before it
    EXPECT_EQ(position(), Pos(2, false, false));

    dataSet.SetRecNo(3);
    EXPECT_EQ(position(), Pos(3, false, false));
    for (int outside : {0, -1, 6, 1000}) dataSet.SetRecNo(outside);
    EXPECT_EQ(position(), Pos(3, false, false));

    const TBookmark third = dataSet.GetBookmark();
    dataSet.Last();
    ASSERT_TRUE(dataSet.GotoBookmark(third));
    EXPECT_EQ(position(), Pos(3, false, false));
    EXPECT_EQ(dataSet.rawValue(dataSet.RecNo() - 1, 0), QByteArray("3"));
    EXPECT_FALSE(dataSet.GotoBookmark(TBookmark{99, third.generation}));
    EXPECT_EQ(dataSet.RecNo(), 3);

    // A bookmark does not survive a re-open: the rows it pointed at may be different ones.
    dataSet.Close();
    ASSERT_TRUE(dataSet.Open());
    EXPECT_FALSE(dataSet.BookmarkValid(third));
    EXPECT_FALSE(dataSet.GotoBookmark(third));
    EXPECT_EQ(position(), Pos(1, true, false));
}

TEST_F(DataSetTest, RefusedStatementIsShownOnceAndLeavesTheDataSetClosed) {
    EXPECT_FALSE(open(QStringLiteral("SELECT * FROM missing_table")));
    EXPECT_FALSE(dataSet.Active());
    EXPECT_EQ(errors,
              QStringList{QStringLiteral("Table '%1.missing_table' doesn't exist").arg(
                  scratch.name())});
    EXPECT_EQ(dataSet.rowCount(), 0);
    EXPECT_EQ(dataSet.columnCount(), 0);
    EXPECT_EQ(position(), Pos(0, true, true));

    errors.clear();
    EXPECT_FALSE(open(QString()));
    EXPECT_EQ(errors, QStringList{QStringLiteral("Query was empty")});

    // The connection is still in step with the server.
    errors.clear();
    EXPECT_TRUE(open(QStringLiteral("SELECT 1")));
    EXPECT_TRUE(errors.isEmpty());

    TMySQLDataSet unconnected;
    unconnected.SetSQL({QStringLiteral("SELECT 1")});
    EXPECT_FALSE(unconnected.Open());
    EXPECT_EQ(unconnected.LastError(), QStringLiteral("The dataset has no connection."));
}

TEST_F(DataSetTest, StatementWithoutResultSetFailsTheOpen) {
    EXPECT_FALSE(open(QStringLiteral("DO 1")));
    EXPECT_FALSE(dataSet.Active());
    EXPECT_EQ(errors,
              QStringList{QStringLiteral("The statement returned no result set.")});
    errors.clear();
    EXPECT_TRUE(open(QStringLiteral("SELECT 2")));
    EXPECT_EQ(dataSet.rawValue(0, 0), QByteArray("2"));
}

TEST_F(DataSetTest, ProcedureResultsAreAllReadSoTheConnectionStaysUsable) {
    scratch.exec("CREATE PROCEDURE two_sets() BEGIN SELECT 1 AS a; SELECT 2 AS b, 3 AS c; END");
    scratch.exec("CREATE PROCEDURE then_fails() BEGIN SELECT 1 AS a; SELECT * FROM nowhere; END");

    ASSERT_TRUE(open(QStringLiteral("CALL two_sets()")));
    EXPECT_EQ(dataSet.columnCount(), 1);
    EXPECT_EQ(dataSet.FieldDefs()[0].name, QStringLiteral("a"));
    EXPECT_TRUE(errors.isEmpty());
    ASSERT_TRUE(open(QStringLiteral("SELECT 'next'")));
    EXPECT_EQ(text(0, 0), QStringLiteral("next"));

    // The first set is shown; the failure of a later statement is not passed off as success.
    ASSERT_TRUE(open(QStringLiteral("CALL then_fails()")));
    EXPECT_EQ(dataSet.rowCount(), 1);
    EXPECT_EQ(errors,
              QStringList{QStringLiteral("Table '%1.nowhere' doesn't exist").arg(scratch.name())});
    EXPECT_TRUE(open(QStringLiteral("SELECT 1")));
}

TEST_F(DataSetTest, EveryColumnTypeIsShownAsTheServerSentIt) {
    scratch.exec(
        "CREATE TABLE types (id INT PRIMARY KEY, d DECIMAL(20,6), big BIGINT, "
        "ubig BIGINT UNSIGNED, dbl DOUBLE, dt DATE, dtm DATETIME, tm TIME, yr YEAR, bt BIT(8), "
        "js JSON, tx TEXT, bl BLOB, nul VARCHAR(20), empty VARCHAR(20))");
    std::string allBytes;
    for (int i = 0; i < 256; ++i) allBytes += char(i);
    scratch.exec("SET SESSION sql_mode = ''");  // allows the zero dates
    scratch.exec(
        "INSERT INTO types VALUES (1, 12345678901234.123456, 3000000000, 18446744073709551615, "
        "2.5, '0000-00-00', '0000-00-00 00:00:00', '-838:59:59', 2024, b'10100101', "
        "'{\"k\": [1, 2]}', '한국어 텍스트', X'" +
        QByteArray::fromStdString(allBytes).toHex().toStdString() + "', NULL, '')");
    scratch.exec("INSERT INTO types (id) VALUES (2)");
    ASSERT_TRUE(open(QStringLiteral("SELECT * FROM types ORDER BY id")));

    const std::vector<FieldType> expected{
        FieldType::Integer, FieldType::Decimal, FieldType::Integer, FieldType::Integer,
        FieldType::Float,   FieldType::Date,    FieldType::DateTime, FieldType::Time,
        FieldType::Year,    FieldType::Bit,     FieldType::Json,    FieldType::Text,
        FieldType::Binary,  FieldType::String,  FieldType::String};
    ASSERT_EQ(dataSet.columnCount(), int(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(CellFormat::typeName(dataSet.FieldDefs()[i].type),
                  CellFormat::typeName(expected[i]))
            << dataSet.FieldDefs()[i].name.toStdString();
        EXPECT_EQ(dataSet.FieldDefs()[i].fieldNo, int(i) + 1);
    }
    EXPECT_EQ(dataSet.headerData(1, Qt::Horizontal).toString(), QStringLiteral("d"));

    const QStringList shown{QStringLiteral("1"),
                            QStringLiteral("12345678901234.123456"),
                            QStringLiteral("3000000000"),
                            QStringLiteral("18446744073709551615"),
                            QStringLiteral("2.5"),
                            QStringLiteral("0000-00-00"),
                            QStringLiteral("0000-00-00 00:00:00"),
                            QStringLiteral("-838:59:59"),
                            QStringLiteral("2024"),
                            QStringLiteral("b'10100101'"),
                            QStringLiteral("{\"k\": [1, 2]}"),
                            QStringLiteral("한국어 텍스트"),
                            QStringLiteral("0x000102030405060708090A0B0C0D0E0F… (256 bytes)"),
                            QStringLiteral("NULL"),
                            QString()};
    for (int c = 0; c < shown.size(); ++c)
        EXPECT_EQ(text(0, c), shown[c]) << dataSet.FieldDefs()[c].name.toStdString();

    for (int c : {0, 1, 2, 3, 4, 8}) EXPECT_TRUE(rightAligned(0, c)) << c;
    for (int c : {5, 11, 12, 14}) EXPECT_FALSE(rightAligned(0, c)) << c;

    // NULL and the empty string look different and say so.
    const int nul = 13, empty = 14;
    EXPECT_TRUE(isNull(0, nul));
    EXPECT_TRUE(data(0, nul, Qt::ForegroundRole).isValid());
    EXPECT_FALSE(isNull(0, empty));
    EXPECT_FALSE(data(0, empty, Qt::ForegroundRole).isValid());
    bool null = false;
    EXPECT_TRUE(dataSet.rawValue(0, empty, &null).isEmpty());
    EXPECT_FALSE(null);
    dataSet.rawValue(0, nul, &null);
    EXPECT_TRUE(null);

    EXPECT_EQ(dataSet.rawValue(0, 12), QByteArray::fromStdString(allBytes));
    EXPECT_EQ(dataSet.rawValue(0, 11), QByteArray("한국어 텍스트"));
    EXPECT_EQ(dataSet.rawValue(0, 3), QByteArray("18446744073709551615"));

    // The second row is NULL in every column but the key.
    for (int c = 1; c < dataSet.columnCount(); ++c) {
        EXPECT_TRUE(isNull(1, c)) << c;
        EXPECT_EQ(text(1, c), QStringLiteral("NULL"));
    }
}

TEST_F(DataSetTest, CellsOfExpressions) {
    ASSERT_TRUE(open(QStringLiteral(
        "SELECT 1 AS a, 2 AS a, REPEAT('가', 2000) AS long_text, NULL AS n, 'NULL' AS word, "
        "UNHEX('FF') AS one_byte, UNHEX('') AS no_bytes, CAST(5 AS BINARY(3)) AS padded")));
    // Columns of the same name each show their own value.
    EXPECT_EQ(text(0, 0), QStringLiteral("1"));
    EXPECT_EQ(text(0, 1), QStringLiteral("2"));
    // A long text is cut for display at a character boundary; its bytes stay whole.
    EXPECT_EQ(text(0, 2), QString(1365, QChar(0xAC00)) + QChar(0x2026));
    EXPECT_EQ(dataSet.rawValue(0, 2).size(), 6000);
    EXPECT_EQ(text(0, 3), QStringLiteral("NULL"));
    EXPECT_TRUE(isNull(0, 3));
    EXPECT_EQ(text(0, 4), QStringLiteral("NULL"));  // the word, not a NULL
    EXPECT_FALSE(isNull(0, 4));
    EXPECT_EQ(text(0, 5), QStringLiteral("0xFF (1 byte)"));
    EXPECT_EQ(text(0, 6), QString());
    EXPECT_EQ(text(0, 7), QStringLiteral("0x350000 (3 bytes)"));
    EXPECT_EQ(dataSet.rawValue(0, 7), QByteArray("5\0\0", 3));
    for (int outside : {-1, 8}) {
        bool null = false;
        dataSet.rawValue(0, outside, &null);
        EXPECT_TRUE(null);
        EXPECT_FALSE(data(0, outside).isValid());
    }
}

TEST_F(DataSetTest, RefusesEveryEdit) {
    createRows(2);
    ASSERT_TRUE(open(QStringLiteral("SELECT id FROM t ORDER BY id")));
    EXPECT_FALSE(dataSet.GetCanModify());
    const QModelIndex first = dataSet.index(0, 0);
    EXPECT_FALSE(dataSet.flags(first).testFlag(Qt::ItemIsEditable));
    EXPECT_TRUE(dataSet.flags(first).testFlag(Qt::ItemIsSelectable));
    EXPECT_FALSE(dataSet.setData(first, QStringLiteral("7")));
    EXPECT_FALSE(dataSet.insertRows(0, 1));
    EXPECT_FALSE(dataSet.removeRows(0, 1));
    EXPECT_EQ(text(0, 0), QStringLiteral("1"));
    EXPECT_EQ(dataSet.rowCount(), 2);
    db::Result rows = scratch.connection().select("SELECT GROUP_CONCAT(id ORDER BY id) FROM t");
    ASSERT_TRUE(rows.next());
    EXPECT_EQ(rows.text(0), QStringLiteral("1,2"));
}

TEST_F(DataSetTest, CloseResetsTheModelAndReopenRunsTheNewStatement) {
    createRows(3);
    int resets = 0;
    QObject::connect(&dataSet, &QAbstractItemModel::modelReset, [&] { ++resets; });
    dataSet.SetSQL({QStringLiteral("SELECT id"), QStringLiteral("FROM t")});  // joined by CR LF
    dataSet.SetActive(true);
    ASSERT_TRUE(dataSet.Active());
    EXPECT_EQ(dataSet.rowCount(), 3);
    EXPECT_EQ(resets, 1);

    // A new statement does not run until the dataset opens again.
    dataSet.SetSQL({QStringLiteral("SELECT id, id * 10 AS tenfold FROM t WHERE id > 1")});
    EXPECT_EQ(dataSet.rowCount(), 3);
    dataSet.SetActive(false);
    EXPECT_EQ(resets, 2);
    EXPECT_FALSE(dataSet.Active());
    EXPECT_EQ(dataSet.rowCount(), 0);
    EXPECT_EQ(dataSet.columnCount(), 0);
    EXPECT_TRUE(dataSet.FieldDefs().empty());
    EXPECT_EQ(position(), Pos(0, true, true));
    EXPECT_FALSE(data(0, 0).isValid());

    ASSERT_TRUE(dataSet.Open());
    EXPECT_EQ(dataSet.rowCount(), 2);
    EXPECT_EQ(dataSet.columnCount(), 2);
    EXPECT_EQ(dataSet.headerData(1, Qt::Horizontal).toString(), QStringLiteral("tenfold"));

    // The stored rows outlive the connection they came from.
    connection.SetConnected(false);
    EXPECT_TRUE(dataSet.Active());
    EXPECT_EQ(text(1, 1), QStringLiteral("30"));
    dataSet.Close();
    EXPECT_FALSE(open(QStringLiteral("SELECT 1")));
    EXPECT_EQ(errors.size(), 1);
}

// Collects the trace while a test runs.
struct TraceCapture {
    static inline QStringList lines;
    static inline QtMessageHandler previous = nullptr;

    TraceCapture() {
        lines.clear();
        previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext& context, const QString& text) {
                if (context.category == QLatin1String("lorvex.dataset")) lines << text;
            });
    }
    ~TraceCapture() {
        qInstallMessageHandler(previous);
        QLoggingCategory::setFilterRules(QString());
    }
};

TEST_F(DataSetTest, TraceIsOffByDefaultAndNeverShowsStatementText) {
    TraceCapture capture;
    ASSERT_TRUE(open(QStringLiteral("SELECT 1")));
    EXPECT_TRUE(TraceCapture::lines.isEmpty()) << TraceCapture::lines.join(u'\n').toStdString();

    QLoggingCategory::setFilterRules(QStringLiteral("lorvex.dataset.debug=true"));
    // The column's name is the expression, secret included.
    ASSERT_TRUE(open(QStringLiteral("SELECT PASSWORD('sekret-4711'), 'sekret-4711' AS x")));
    EXPECT_FALSE(open(QStringLiteral("SELECT 'sekret-4711' FROM missing")));
    dataSet.Next();
    const QString trace = TraceCapture::lines.join(u'\n');
    EXPECT_TRUE(trace.contains(QStringLiteral("Open"))) << trace.toStdString();
    EXPECT_TRUE(trace.contains(QStringLiteral("BuildFieldDefs"))) << trace.toStdString();
    EXPECT_FALSE(trace.contains(QStringLiteral("sekret"))) << trace.toStdString();
    if (!testserver::password().isEmpty()) {
        EXPECT_FALSE(trace.contains(testserver::password())) << trace.toStdString();
    }
}

// The grid on a dataset: the first record current after each open, columns fitted to what
// they show, sorting on the stored rows that keeps the current record, and the whole value
// of a cell in the viewer.
TEST_F(DataSetTest, ResultGridSortsStoredRowsAndShowsWholeValues) {
    scratch.exec("CREATE TABLE g (id INT, name VARCHAR(40), big BIGINT UNSIGNED, j JSON, b BLOB, "
                 "note TEXT)");
    scratch.exec("INSERT INTO g VALUES (1, 'beta', 18446744073709551615, '{\"a\":[1,2]}', "
                 "x'00414243', REPEAT('long ', 400)), (2, 'Alpha', 9007199254740993, NULL, NULL, "
                 "'short'), (3, NULL, 9007199254740992, '[]', '', NULL), (4, 'alpha', 10, NULL, "
                 "NULL, 'n')");
    ResultGrid grid(dataSet, prompts);
    grid.resize(700, 300);
    ASSERT_TRUE(open(QStringLiteral("SELECT * FROM g ORDER BY id")));
    EXPECT_EQ(grid.currentIndex(), dataSet.index(0, 0));
    EXPECT_TRUE(grid.selectionModel()->isSelected(dataSet.index(0, 0)));
    for (int c = 0; c < dataSet.columnCount(); ++c) {
        EXPECT_LE(grid.columnWidth(c), ResultGrid::kMaxColumnWidth) << c;
        EXPECT_GE(grid.columnWidth(c), grid.fontMetrics().horizontalAdvance(
                                           dataSet.headerData(c, Qt::Horizontal).toString()))
            << c;
    }
    EXPECT_EQ(grid.columnWidth(5), ResultGrid::kMaxColumnWidth);  // the long text is capped
    EXPECT_TRUE(data(0, 5, Qt::ToolTipRole).toString().startsWith(QStringLiteral("long long")));

    const auto ids = [&] {
        QStringList out;
        for (int r = 0; r < dataSet.rowCount(); ++r) out << text(r, 0);
        return out.join(u',');
    };
    grid.setCurrentIndex(dataSet.index(1, 1));  // the record of id 2, in the grid
    dataSet.SetRecNo(2);                        // and under the record cursor
    const struct {
        int column;
        Qt::SortOrder order;
        const char* ids;
    } sorts[] = {
        {1, Qt::AscendingOrder, "3,2,4,1"},   // NULL first, case ignored, stable
        {1, Qt::DescendingOrder, "1,4,2,3"},
        {2, Qt::AscendingOrder, "4,3,2,1"},   // exact beyond the 53 bits of a double
        {0, Qt::DescendingOrder, "4,3,2,1"},
        {-1, Qt::AscendingOrder, "1,2,3,4"},  // the server's order again
    };
    for (const auto& sort : sorts) {
        grid.sortByColumn(sort.column, sort.order);
        EXPECT_EQ(ids(), QLatin1String(sort.ids)) << sort.column;
        EXPECT_EQ(text(grid.currentIndex().row(), 0), QStringLiteral("2")) << sort.column;
        EXPECT_EQ(text(dataSet.RecNo() - 1, 0), QStringLiteral("2")) << sort.column;
    }

    // A new open starts unsorted, with its first record current.
    grid.sortByColumn(0, Qt::DescendingOrder);
    dataSet.Close();
    ASSERT_TRUE(dataSet.Open());
    EXPECT_EQ(ids(), QStringLiteral("1,2,3,4"));
    EXPECT_EQ(grid.horizontalHeader()->sortIndicatorSection(), -1);

    QStringList viewed;
    const auto view = [&](int row, int column) {
        prompts.onDialog([&](QDialog* d) {
            viewed << static_cast<ui::ValueViewer*>(d)->Text()->toPlainText();
            return int(QDialog::Rejected);
        });
        grid.ShowValue(dataSet.index(row, column));
    };
    view(0, 3);
    view(0, 4);
    view(1, 3);
    EXPECT_EQ(viewed, (QStringList{"{\n    \"a\": [\n        1,\n        2\n    ]\n}\n",
                                   "00000000  00 41 42 43                                       |.ABC|\n",
                                   "NULL"}));
}

TEST(ValueText, TextJsonAndBytesAreShownWhole) {
    using valuetext::forViewer;
    EXPECT_EQ(forViewer(FieldType::String, "plain {", false), QStringLiteral("plain {"));
    EXPECT_EQ(forViewer(FieldType::Text, "[1, 2", false), QStringLiteral("[1, 2"));  // not JSON
    EXPECT_EQ(forViewer(FieldType::Text, "[1,2]", false), QStringLiteral("[\n    1,\n    2\n]\n"));
    EXPECT_EQ(forViewer(FieldType::String, std::string_view("a\xff", 2), false),
              QStringLiteral("00000000  61 ff                                             |a.|\n"));
    EXPECT_EQ(valuetext::hexDump(std::string_view("0123456789abcdefg")),
              QStringLiteral("00000000  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  "
                             "|0123456789abcdef|\n"
                             "00000010  67                                                |g|\n"));
    // A value beyond what the viewer shows is cut between characters and says so.
    const std::string big(valuetext::kShownBytes - 1, 'x');
    std::string text = big;
    text.append("\xED\x95\x9C" "yz");
    const QString cut = forViewer(FieldType::Text, text, false);
    EXPECT_TRUE(cut.endsWith(QStringLiteral("\n... (5 more bytes not shown)")));
    EXPECT_EQ(cut.size(), qsizetype(big.size()) + 29);
}

}  // namespace
