// The table grid's rows read a window at a time: every way of moving through a table shows
// the rows the server would list in one statement, in the same order, whatever the key,
// the sort, the filter or a wrong estimate of the row count; memory stays bounded.
#include <gtest/gtest.h>

#include <functional>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QStringList>
#include <QTableView>

#include "dataset/RowFrame.h"
#include "dataset/TMySQLConnection.h"
#include "dataset/TableRows.h"
#include "dataset/TableShape.h"
#include "dataset/ValueCheck.h"
#include "panels/GridEditing.h"
#include "panels/TableDataView.h"
#include "support/ScriptedPrompts.h"
#include "support/TestServer.h"
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

namespace {

class TableRowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        c = testserver::connect();
        rows.setConnection(&c);
    }

    // Every row as "v1|v2|..." with NULL as "∅", read by the model one row at a time in the
    // given direction, as a grid scrolls: when rows appear or go above the one shown, the
    // position follows them.
    QStringList walk(bool down = true) {
        QStringList out;
        const int step = down ? 1 : -1;
        int last = down ? -1 : rows.rowCount();  // where the row read last is now
        const auto follow = [&](int first, int n) {
            if (first <= last) last += n;
        };
        const QMetaObject::Connection added = QObject::connect(
            &rows, &QAbstractItemModel::rowsInserted,
            [&](const QModelIndex&, int first, int end) { follow(first, end - first + 1); });
        const QMetaObject::Connection removed = QObject::connect(
            &rows, &QAbstractItemModel::rowsRemoved,
            [&](const QModelIndex&, int first, int end) { follow(first, -(end - first + 1)); });
        for (int tries = 0; last + step >= 0 && last + step < rows.rowCount() && tries < 100000; ++tries) {
            if (!rows.ensureLoaded(last + step) && !rows.isLoaded(last + step)) {
                if (last + step >= rows.rowCount()) break;  // the end came nearer
                ADD_FAILURE() << "row " << last + step << ": " << rows.lastError().toStdString();
                break;
            }
            if (!rows.isLoaded(last + step)) continue;  // moved while it was read
            last += step;
            out.append(line(last));
        }
        QObject::disconnect(added);
        QObject::disconnect(removed);
        if (!down) std::reverse(out.begin(), out.end());
        return out;
    }

    QString line(int row) const {
        QStringList cells;
        for (int col = 0; col < rows.columnCount(); ++col) {
            const db::Value v = rows.cell(row, col);
            cells << (v.isNull() ? QStringLiteral("∅") : QString::fromLatin1(v.bytes().toHex()));
        }
        return cells.join(u'|');
    }

    // The same rows from one statement.
    QStringList expected(const std::string& orderAndWhere) {
        db::Result r = c.select("SELECT * FROM " + db::qualifiedName(scratch.name(), "t") + " " +
                                orderAndWhere);
        QStringList out;
        while (r.next()) {
            QStringList cells;
            for (unsigned col = 0; col < r.columnCount(); ++col) {
                const db::Value v = r.value(col);
                cells << (v.isNull() ? QStringLiteral("∅") : QString::fromLatin1(v.bytes().toHex()));
            }
            out << cells.join(u'|');
        }
        return out;
    }

    // Empty when the lists agree; else where they first differ.
    static std::string difference(const QStringList& got, const QStringList& want) {
        for (qsizetype i = 0; i < std::min(got.size(), want.size()); ++i)
            if (got[i] != want[i])
                return "row " + std::to_string(i) + ": " + got[i].toStdString() + " instead of " +
                       want[i].toStdString();
        if (got.size() != want.size())
            return std::to_string(got.size()) + " rows instead of " + std::to_string(want.size());
        return {};
    }

    TableShape shape() { return readTableShape(c, scratch.name(), QStringLiteral("t")); }

    // The window's dataset connection, on the scratch database.
    void openDataConnection(TMySQLConnection& connection) {
        connection.SetHost(testserver::hostField());
        connection.SetUser(testserver::user());
        connection.SetPasswd(testserver::password());
        connection.SetDB(scratch.name());
        connection.Open();
    }

    ScratchDatabase scratch{QStringLiteral("rows")};
    db::Connection c;
    TableRows rows;
};

struct KeyCase {
    const char* name;
    const char* create;
    const char* fill;      // rows from seq_1_to_N as `seq`
    const char* order;     // how the server orders them
    int sortColumn = -1;   // sorted on the server by this column first
    bool descending = false;
};

// Tables of 2,600 rows (more than five windows) under every kind of order.
const KeyCase kKeyCases[] = {
    {"int primary key", "CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(10))",
     "SELECT seq * 3, CONCAT('v', seq) FROM seq_1_to_2600", "ORDER BY id"},
    {"two-column key", "CREATE TABLE t (a INT, b VARCHAR(8), v INT, PRIMARY KEY (a, b))",
     "SELECT seq % 7, CONCAT('b', seq), seq FROM seq_1_to_2600", "ORDER BY a, b"},
    {"text key in a case-blind collation",
     "CREATE TABLE t (k VARCHAR(20) COLLATE utf8mb4_general_ci PRIMARY KEY, v INT)",
     "SELECT CONCAT(IF(seq % 2, 'A', 'a'), LPAD(seq, 5, '0'), ' é''\\\\'), seq FROM seq_1_to_2600",
     "ORDER BY k"},
    {"binary key with every byte", "CREATE TABLE t (k VARBINARY(4) PRIMARY KEY, v INT)",
     "SELECT UNHEX(LPAD(HEX(seq * 25), 4, '0')), seq FROM seq_1_to_2600", "ORDER BY k"},
    {"unique not-null key, no primary",
     "CREATE TABLE t (n INT NULL, u INT NOT NULL, UNIQUE KEY (n), UNIQUE KEY uu (u))",
     "SELECT IF(seq % 5, seq, NULL), 10000 - seq FROM seq_1_to_2600", "ORDER BY u"},
    {"no key: pages by position", "CREATE TABLE t (v INT, w VARCHAR(5))",
     "SELECT seq, 'x' FROM seq_1_to_2600", ""},
    {"sorted by a nullable column with repeats",
     "CREATE TABLE t (id INT PRIMARY KEY, s INT NULL)",
     "SELECT seq, IF(seq % 9 = 0, NULL, seq % 13) FROM seq_1_to_2600", "ORDER BY s, id", 1},
    {"sorted down by a nullable column",
     "CREATE TABLE t (id INT PRIMARY KEY, s VARCHAR(3) NULL)",
     "SELECT seq, IF(seq % 9 = 0, NULL, seq % 13) FROM seq_1_to_2600", "ORDER BY s DESC, id", 1,
     true},
};

TEST_F(TableRowsTest, EveryWayThroughTheRowsShowsWhatTheServerLists) {
    for (const KeyCase& k : kKeyCases) {
        SCOPED_TRACE(k.name);
        scratch.exec("DROP TABLE IF EXISTS t");
        scratch.exec(k.create);
        scratch.exec(std::string("INSERT INTO t ") + k.fill);
        const QStringList want = expected(k.order);
        ASSERT_EQ(want.size(), 2600);
        // Too high, too low and right: the count corrects itself as the ends are met.
        for (const std::uint64_t estimate : {100000u, 40u, 2600u}) {
            SCOPED_TRACE(estimate);
            TableShape s = shape();
            s.estimatedRows = estimate;
            rows.open(s);
            if (k.sortColumn >= 0)
                rows.sort(k.sortColumn, k.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
            if (k.order[0]) {
                EXPECT_EQ(difference(walk(true), want), "");
            } else {
                EXPECT_EQ(walk(true).size(), 2600);  // no order to compare against
            }
            EXPECT_EQ(rows.rowCount(), 2600);
            EXPECT_TRUE(rows.countIsExact());
            // From the end up, after jumping there first.
            rows.open(s);
            if (k.sortColumn >= 0)
                rows.sort(k.sortColumn, k.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
            ASSERT_TRUE(rows.loadEnd()) << rows.lastError().toStdString();
            const QStringList up = walk(false);
            if (k.order[0]) {
                EXPECT_EQ(difference(up, want), "");
            }
            EXPECT_EQ(rows.rowCount(), 2600);
            // A jump into the middle reads that row's window directly.
            rows.open(s);
            if (k.sortColumn >= 0)
                rows.sort(k.sortColumn, k.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
            if (rows.rowCount() > 1500 && k.order[0]) {
                ASSERT_TRUE(rows.ensureLoaded(1500));
                EXPECT_EQ(line(1500), want[1500]);
            }
        }
    }
}

TEST_F(TableRowsTest, MemoryStaysBoundedAndFilterAndCountWork) {
    scratch.exec("CREATE TABLE t (id INT PRIMARY KEY, v INT)");
    scratch.exec("INSERT INTO t SELECT seq, seq % 10 FROM seq_1_to_60000");
    rows.open(scratch.name(), QStringLiteral("t"));
    for (int row = 0; row < rows.rowCount(); row += 97) ASSERT_TRUE(rows.ensureLoaded(row));
    EXPECT_LE(rows.keptRows(), TableRows::kKeptRows + 4 * TableRows::kWindowRows);
    // The walk went as far as the server's estimate; Last finds the real end whatever it was.
    ASSERT_TRUE(rows.loadEnd());
    EXPECT_EQ(rows.cell(rows.rowCount() - 1, 0).text(), QStringLiteral("60000"));
    EXPECT_LE(rows.keptRows(), TableRows::kKeptRows + 4 * TableRows::kWindowRows);

    rows.setFilter(QStringLiteral("v = 3"));
    EXPECT_EQ(rows.rowCount(), 6000);
    EXPECT_TRUE(rows.countIsExact());
    EXPECT_EQ(difference(walk(true), expected("WHERE v = 3 ORDER BY id")), "");

    // A condition the server refuses says why and leaves the rows as they were.
    EXPECT_THROW(rows.setFilter(QStringLiteral("no_such_column = 1")), db::DbError);
    EXPECT_EQ(rows.rowCount(), 6000);
    EXPECT_EQ(rows.pager()->filter(), QStringLiteral("v = 3"));

    rows.setFilter({});
    rows.countRows();
    EXPECT_EQ(rows.rowCount(), 60000);
    EXPECT_TRUE(rows.countIsExact());
}

// A grid asks for the cells it paints; those not read yet are read once control is back in
// the event loop, and appear.
TEST_F(TableRowsTest, AGridScrolledAnywhereShowsThoseRowsOnceRead) {
    scratch.exec("CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(10))");
    scratch.exec("INSERT INTO t SELECT seq, CONCAT('v', seq) FROM seq_1_to_30000");
    rows.open(scratch.name(), QStringLiteral("t"));
    QTableView view;
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.setModel(&rows);
    view.resize(400, 300);
    view.show();
    const auto shown = [&](int row) {
        view.scrollTo(rows.index(row, 1), QAbstractItemView::PositionAtCenter);
        QElapsedTimer clock;
        clock.start();
        while (!rows.isLoaded(row) && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return rows.index(row, 1).data().toString();
    };
    EXPECT_EQ(shown(12345), QStringLiteral("v12346"));
    EXPECT_EQ(shown(12345 - 700), QStringLiteral("v11646"));
    ASSERT_TRUE(rows.loadEnd());
    EXPECT_EQ(shown(rows.rowCount() - 1), QStringLiteral("v30000"));
}

// Edits wait in the grid, marked, until posted; a post that fails keeps them.
TEST_F(TableRowsTest, EditsArePendingUntilPostedAndAFailedPostKeepsThem) {
    scratch.exec("CREATE TABLE t (id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(10) NULL, g INT AS (id + 1))");
    scratch.exec("INSERT INTO t (id, v) SELECT seq, CONCAT('v', seq) FROM seq_1_to_1200");
    rows.open(scratch.name(), QStringLiteral("t"));
    ASSERT_TRUE(rows.editable());
    EXPECT_FALSE(rows.flags(rows.index(0, 2)) & Qt::ItemIsEditable);  // generated
    ASSERT_TRUE(rows.setData(rows.index(2, 1), QStringLiteral("x'y")));
    ASSERT_TRUE(rows.setNull(rows.index(3, 1)));
    rows.deleteRows({5});
    rows.addRow();  // shown on top: the table's rows move down by one
    ASSERT_TRUE(rows.setData(rows.index(0, 1), QStringLiteral("added")));
    EXPECT_EQ(rows.index(3, 1).data().toString(), QStringLiteral("x'y"));
    EXPECT_TRUE(rows.index(4, 1).data(TableRows::IsNullRole).toBool());
    EXPECT_EQ(rows.headerData(3, Qt::Vertical).toString(), QStringLiteral("3 *"));
    EXPECT_EQ(rows.preview().size(), 4u);
    EXPECT_EQ(scratch.scalar("SELECT v FROM t WHERE id = 3"), QStringLiteral("v3"));  // nothing sent yet

    const PostOutcome out = rows.post(10);
    ASSERT_TRUE(out.applied) << out.reason.toStdString();
    EXPECT_FALSE(rows.hasEdits());
    EXPECT_EQ(scratch.scalar("SELECT CONCAT_WS(',', (SELECT v FROM t WHERE id = 3), "
                             "(SELECT IFNULL(v, 'NULL') FROM t WHERE id = 4), "
                             "(SELECT COUNT(*) FROM t WHERE id = 6), (SELECT g FROM t WHERE v = 'added'))"),
              QStringLiteral("x'y,NULL,0,1202"));
    ASSERT_TRUE(rows.ensureLoaded(2));
    EXPECT_EQ(rows.index(2, 1).data().toString(), QStringLiteral("x'y"));

    // Changed elsewhere after it was read: nothing is applied, the edit stays to correct.
    ASSERT_TRUE(rows.setData(rows.index(0, 1), QStringLiteral("mine")));
    ASSERT_TRUE(rows.setData(rows.index(1, 1), QStringLiteral("mine too")));
    scratch.exec("UPDATE t SET v = 'theirs' WHERE id = 2");
    const PostOutcome refused = rows.post();
    EXPECT_FALSE(refused.applied);
    EXPECT_TRUE(refused.changedElsewhere);
    EXPECT_EQ(rows.gridRowOf(refused.failedEdit), 1);
    EXPECT_EQ(rows.editCount(), 2);
    EXPECT_EQ(scratch.scalar("SELECT v FROM t WHERE id = 1"), QStringLiteral("v1"));
    rows.revertRow(1);
    EXPECT_EQ(rows.editCount(), 1);
}

// What an editor may send, checked before sending; members of ENUM and SET as the server
// words them, quotes doubled.
TEST(ValueCheck, TypingSlipsAreCaughtBeforeAnythingIsSent) {
    struct Case {
        const char* type;
        const char* text;
        bool json;
        bool taken;
    };
    const Case cases[] = {
        {"int(11)", "-12", false, true},          {"int(11)", "12a", false, false},
        {"int(10) unsigned", "-1", false, false}, {"decimal(10,2)", "1.5e3", false, true},
        {"double", ".5", false, true},            {"double", "1,5", false, false},
        {"date", "2024-02-29", false, true},      {"date", "2023-02-29", false, false},
        {"date", "0000-00-00", false, true},      {"date", "30.02.2024", false, false},
        {"datetime", "2024-01-02 03:04:05.123", false, true},
        {"datetime", "2024-01-02", false, true},  {"time", "-838:59:59", false, true},
        {"time", "noon", false, false},           {"enum('a','it''s')", "it's", false, true},
        {"enum('a','b')", "c", false, false},     {"set('x','y')", "x,y", false, true},
        {"set('x','y')", "x,z", false, false},    {"longtext", "{\"a\": [1, 2]}", true, true},
        {"longtext", "{\"a\": ", true, false},  {"longtext", "7", true, true},
        {"varchar(10)", "anything", false, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.type) + " <- " + k.text);
        const TableColumn column{QStringLiteral("c"), QString::fromLatin1(k.type), true};
        EXPECT_EQ(valuecheck::problem(column, QString::fromUtf8(k.text), k.json).isEmpty(), k.taken);
    }
    EXPECT_EQ(valuecheck::members(QStringLiteral("enum('a','it''s','')")),
              (QStringList{"a", "it's", ""}));
}

struct ShapeCase {
    const char* name;
    const char* create;
    QStringList key;
    bool readOnly;
};

TEST_F(TableRowsTest, TheKeyThatNamesARowIsChosenOrTheTableIsReadOnly) {
    const ShapeCase cases[] = {
        {"primary before unique", "CREATE TABLE t (a INT NOT NULL, b INT NOT NULL, UNIQUE (a), PRIMARY KEY (b))", {"b"}, false},
        {"nullable unique is no key", "CREATE TABLE t (a INT NULL, UNIQUE (a))", {}, true},
        {"prefix unique is no key", "CREATE TABLE t (a VARCHAR(50) NOT NULL, UNIQUE (a(10)))", {}, true},
        {"first usable unique", "CREATE TABLE t (a INT NULL, b INT NOT NULL, c INT NOT NULL, UNIQUE k1 (a, b), UNIQUE k2 (c, b))", {"c", "b"}, false},
        {"no key", "CREATE TABLE t (a INT)", {}, true},
    };
    for (const ShapeCase& k : cases) {
        SCOPED_TRACE(k.name);
        scratch.exec("DROP TABLE IF EXISTS t");
        scratch.exec(k.create);
        const TableShape s = shape();
        QStringList key;
        for (int i : s.key) key << s.columns[std::size_t(i)].name;
        EXPECT_EQ(key, k.key);
        EXPECT_EQ(!s.readOnlyReason().isEmpty(), k.readOnly);
    }
    scratch.exec("DROP TABLE t");
    scratch.exec("CREATE TABLE t (id INT AUTO_INCREMENT PRIMARY KEY, g INT AS (id * 2) VIRTUAL)");
    const TableShape s = shape();
    EXPECT_TRUE(s.columns[0].autoIncrement);
    EXPECT_TRUE(s.columns[1].generated);
    scratch.exec("CREATE VIEW vw AS SELECT * FROM t");
    EXPECT_FALSE(readTableShape(c, scratch.name(), QStringLiteral("vw")).readOnlyReason().isEmpty());
}

// The Data tab: the navigator's editing buttons live for a table with a key; Delete asks,
// naming the rows by their keys; Ctrl+Enter posts; a refused filter says why under the box.
TEST_F(TableRowsTest, TheDataTabEditsFiltersAndSaysWhatItDid) {
    scratch.exec("CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(10) NULL)");
    scratch.exec("INSERT INTO t VALUES (1, 'a'), (2, 'b'), (3, 'c')");
    TMySQLConnection connection;
    openDataConnection(connection);
    ScriptedPrompts prompts;
    TableDataView view(connection, prompts);
    view.resize(500, 300);
    view.show();
    QApplication::setActiveWindow(&view);  // the grid's shortcuts need an active window
    ASSERT_TRUE(view.LoadTable(scratch.name(), QStringLiteral("t")));
    const auto& nav = view.DBNavigator1();
    EXPECT_TRUE(nav[4]->isEnabled());
    EXPECT_FALSE(nav[7]->isEnabled());  // nothing to post yet
    EXPECT_EQ(view.status().text(), QStringLiteral("3 rows"));

    TableRows& model = view.rows();
    ASSERT_TRUE(model.setData(model.index(0, 1), QStringLiteral("A")));
    view.editing().selectRow(1);
    prompts.answerYesNo(true);
    nav[5]->click();
    ASSERT_EQ(prompts.shown().size(), 1u);
    EXPECT_TRUE(prompts.shown()[0].text.startsWith(QStringLiteral("Delete 1 row (id: 2)")))
        << prompts.shown()[0].text.toStdString();
    EXPECT_TRUE(nav[7]->isEnabled());
    EXPECT_TRUE(view.status().text().contains(QLatin1String("2 edits not posted")));
    QString previewed;
    prompts.onDialog([&](QDialog* dialog) {
        previewed = dialog->findChild<QPlainTextEdit*>()->toPlainText();
        return int(QDialog::Rejected);
    });
    view.findChild<QToolButton*>(QStringLiteral("PreviewEdits"))->click();
    EXPECT_TRUE(previewed.contains(QLatin1String("SET `v` = 'A' WHERE `id` = 1 AND `v` <=> 'a'")))
        << previewed.toStdString();
    EXPECT_TRUE(previewed.contains(QLatin1String("DELETE FROM"))) << previewed.toStdString();
    view.DBGrid1().setFocus();
    QTest::keyClick(&view.DBGrid1(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_FALSE(model.hasEdits());
    EXPECT_EQ(scratch.scalar("SELECT GROUP_CONCAT(v ORDER BY id) FROM t"), QStringLiteral("A,c"));

    view.filterBox().setText(QStringLiteral("no_such = 1"));
    QTest::keyClick(&view.filterBox(), Qt::Key_Return);
    EXPECT_FALSE(view.filterError().isHidden());
    EXPECT_TRUE(view.filterError().text().contains(QLatin1String("no_such")));
    EXPECT_EQ(model.rowCount(), 2);  // the rows stay
    view.filterBox().setText(QStringLiteral("v = 'c'"));
    QTest::keyClick(&view.filterBox(), Qt::Key_Return);
    EXPECT_TRUE(view.filterError().isHidden());
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(view.status().text(), QStringLiteral("1 row (filtered)"));
    EXPECT_TRUE(prompts.allAnswersUsed());
}

// A frame over rows that come and go before, inside and after it keeps showing source rows
// in order, as many as it may, and a cell held (the current cell) stays on its row. Qt's
// model tester checks every signal the frame sends.
TEST(RowFrame, RowsComingAndGoingAroundTheFrameKeepItOnTheSourceRows) {
    struct Case {
        const char* name;
        int start;                   // where the frame is before
        std::function<void(QStandardItemModel&)> change;
    };
    int next = 1000;
    const auto insert = [&next](int at, int n) {
        return [at, n, &next](QStandardItemModel& m) {
            QList<QStandardItem*> items;
            for (int i = 0; i < n; ++i) items << new QStandardItem(QStringLiteral("n%1").arg(next++));
            for (int i = n - 1; i >= 0; --i) m.insertRow(at, items[i]);
        };
    };
    const auto remove = [](int at, int n) { return [at, n](QStandardItemModel& m) { m.removeRows(at, n); }; };
    const Case cases[] = {
        {"rows added before", 50, insert(0, 3)},
        {"rows added inside", 50, insert(60, 5)},
        {"rows added at its end", 50, insert(70, 2)},
        {"rows added after", 50, insert(90, 4)},
        {"rows gone before", 50, remove(10, 5)},
        {"rows gone across its start", 50, remove(45, 10)},
        {"rows gone inside", 50, remove(55, 3)},
        {"rows gone at the source's end", 80, remove(90, 10)},
        {"most rows gone", 80, remove(0, 95)},
        {"every row gone", 80, remove(0, 100)},
        {"rows added to a frame smaller than its capacity", 0, [](QStandardItemModel& m) {
             m.removeRows(0, 95);
             for (int i = 0; i < 30; ++i) m.appendRow(new QStandardItem(QStringLiteral("a%1").arg(i)));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QStandardItemModel source;
        for (int i = 0; i < 100; ++i) source.appendRow(new QStandardItem(QStringLiteral("r%1").arg(i)));
        RowFrame frame;
        frame.setCapacity(20);
        frame.setSourceModel(&source);
        QAbstractItemModelTester tester(&frame, QAbstractItemModelTester::FailureReportingMode::Fatal);
        frame.moveTo(c.start);
        ASSERT_EQ(frame.start(), c.start);
        const QPersistentModelIndex held = frame.index(5, 0);
        const QString heldText = held.data().toString();
        c.change(source);
        const int n = source.rowCount();
        EXPECT_EQ(frame.rowCount(), std::min(20, n));
        EXPECT_LE(frame.start() + frame.rowCount(), n);
        for (int r = 0; r < frame.rowCount(); ++r)
            ASSERT_EQ(frame.index(r, 0).data().toString().toStdString(),
                      source.index(frame.start() + r, 0).data().toString().toStdString())
                << "frame row " << r;
        // A held cell is on its row still, or its row is no longer in the frame.
        if (held.isValid())
            EXPECT_EQ(held.data().toString().toStdString(), heldText.toStdString());
        else
            EXPECT_TRUE(frame.match(frame.index(0, 0), Qt::DisplayRole, heldText).isEmpty());
    }
}

// The grid shows a frame of the rows, its scroll bar spans them all: every way of moving
// (the bar, keys, the navigator) reaches every row, what is shown is the table's row there,
// and edits made deep in the table, or at its top while the frame is deep, reach their rows.
TEST_F(TableRowsTest, TheGridsFrameMovesThroughTheWholeTable) {
    scratch.exec("CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(10))");
    scratch.exec("INSERT INTO t SELECT seq, CONCAT('v', seq) FROM seq_1_to_3000");
    TMySQLConnection connection;
    openDataConnection(connection);
    ScriptedPrompts prompts;
    TableDataView view(connection, prompts);
    view.frame().setCapacity(200);
    view.resize(500, 300);
    view.show();
    QApplication::setActiveWindow(&view);
    ASSERT_TRUE(view.LoadTable(scratch.name(), QStringLiteral("t")));
    view.countRows();  // exact positions, whatever the estimate (it is sampled)
    ASSERT_TRUE(view.rows().countIsExact());
    QTableView& grid = view.DBGrid1();
    RowFrame& frame = view.frame();
    GridEditing& editing = view.editing();
    // The grid's top row and its current row, as the table's values, once read.
    const auto shownValue = [&](int gridRow) {
        const QModelIndex cell = frame.index(gridRow, 1);
        QElapsedTimer clock;
        clock.start();
        while (!view.rows().isLoaded(frame.start() + gridRow) && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return cell.data().toString().toStdString();
    };
    const auto check = [&](const char* step, int wantCurrent, int wantTop) {
        SCOPED_TRACE(step);
        EXPECT_LE(frame.rowCount(), 200);
        EXPECT_LE(frame.start() + frame.rowCount(), 3000);
        if (wantCurrent >= 0) {
            EXPECT_EQ(editing.currentRow(), wantCurrent);
            EXPECT_EQ(shownValue(grid.currentIndex().row()), "v" + std::to_string(wantCurrent + 1));
        }
        if (wantTop >= 0) {
            EXPECT_EQ(frame.start() + grid.rowAt(0), wantTop);
            EXPECT_EQ(shownValue(grid.rowAt(0)), "v" + std::to_string(wantTop + 1));
            EXPECT_EQ(view.rowScrollBar().value(), wantTop);
        }
    };
    grid.setFocus();  // the grid's shortcuts
    const int idWidth = grid.columnWidth(0);  // fitted to the first rows' ids
    QScrollBar& bar = view.rowScrollBar();
    EXPECT_FALSE(bar.isHidden());
    EXPECT_EQ(bar.maximum(), 3000 - grid.verticalScrollBar()->pageStep());
    check("opened", 0, 0);
    bar.setValue(1500);
    check("the bar dragged past the frame", -1, 1500);
    bar.setValue(1510);
    check("the bar moved within the frame", -1, 1510);
    editing.selectRow(2900);
    check("a row selected far away", 2900, -1);
    // The ids shown there are wider than the first rows' were: their column widened.
    EXPECT_TRUE(QTest::qWaitFor([&] { return grid.columnWidth(0) > idWidth; }, 2000));
    grid.horizontalHeader()->resizeSection(0, idWidth / 2);  // the user's width stays
    const int userWidth = grid.columnWidth(0);
    bar.setValue(2990);
    QTest::qWait(2 * TableDataView::kWidenAfterMs);
    EXPECT_EQ(grid.columnWidth(0), userWidth);
    QTest::keyClick(&grid, Qt::Key_Home, Qt::ControlModifier);
    check("Ctrl+Home", 0, 0);
    QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
    check("Ctrl+End", 2999, -1);
    QTest::keyClick(&grid, Qt::Key_Home, Qt::ControlModifier);
    for (int i = 0; i < 400; ++i) QTest::keyClick(&grid, Qt::Key_Down);
    check("keys run on past the first frame", 400, -1);
    EXPECT_GT(frame.start(), 0);

    // An edit deep in the table, then a row added at the top while the frame is deep.
    editing.selectRow(2500);
    ASSERT_TRUE(frame.setData(frame.index(grid.currentIndex().row(), 1), QStringLiteral("deep")));
    editing.addRow();
    EXPECT_EQ(frame.start(), 0);
    EXPECT_EQ(grid.currentIndex().row(), 0);
    ASSERT_TRUE(frame.setData(frame.index(0, 0), QStringLiteral("5000")));
    ASSERT_TRUE(frame.setData(frame.index(0, 1), QStringLiteral("new")));
    editing.selectRow(2801);  // the table's row 2800, below the row added
    EXPECT_EQ(editing.currentRow(), 2801);
    EXPECT_EQ(shownValue(grid.currentIndex().row()), "v2801");
    QTest::keyClick(&grid, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_FALSE(view.rows().hasEdits()) << prompts.messages().join(u'\n').toStdString();
    EXPECT_EQ(scratch.scalar("SELECT GROUP_CONCAT(id ORDER BY id) FROM t WHERE v IN ('deep', 'new')"),
              QStringLiteral("2501,5000"));

    // Rows read again from the start (a filter, a sort) show from their first.
    bar.setValue(2000);
    view.filterBox().setText(QStringLiteral("id > 10"));
    QTest::keyClick(&view.filterBox(), Qt::Key_Return);
    EXPECT_EQ(frame.start() + grid.rowAt(0), 0);
    EXPECT_EQ(editing.currentRow(), 0);
    EXPECT_EQ(bar.value(), 0);
    EXPECT_EQ(shownValue(0), "v11");
    EXPECT_TRUE(prompts.allAnswersUsed());
}

}  // namespace

