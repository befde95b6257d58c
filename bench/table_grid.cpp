// The Data tab of the real main window over a 10,000,000-row InnoDB table, against the
// mariadb client reading its first 1,000 rows (`mariadb -e "SELECT * ... LIMIT 1000"`, wall
// time of the process, median of several runs) in the same run:
//   - open: from the click on the table node (Data tab showing) until the first screen of
//     rows is painted; target at most 2x the client;
//   - Last: from the navigator's Last until the last rows are painted; target 200 ms;
//   - memory (VmRSS) above the connected window after opening, after Last, after a drag of
//     the scroll bar to the middle and after paging down through 100,000 rows; target 100 MB;
//   - paging down through 100,000 rows, one Page Down at a time through the event queue, each
//     waiting until its screen is painted with its rows: the longest pause of the event loop;
//     target 50 ms.
// The window runs in fresh processes (this program with "grid"), so one run's memory does not
// carry into the next. Server from LORVEX_TEST_HOST/PORT/USER/PASSWORD (bench/run starts one);
// the table is created once in a database of its own and reused by later runs on that server.
// Last measured 2026-12-10 on 2 cores shared with other builds (load average 1-2), a
// RelWithDebInfo build, 3 window runs: open 146 ms (median; 142-154) against the client's 9 ms
// (median of 15): MISSED (target 18 ms). About 100 ms and 78 MB of it go to the grid's row
// header, which keeps an entry for each of the ~9.7 million rows estimated: with the count held
// at 100,000 (an experiment, not shipped) the same open took 44-49 ms and 4 MB. Last 4 ms; a
// drag to the middle 1.8 s (an OFFSET read; no target); memory above the window 82 MB opened,
// 82 at Last, 82 in the middle, 87 after paging; 3,847 pages in 4.1-4.3 s, longest pause 13 ms.
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "BenchServer.h"
#include "BenchWindow.h"
#include "app/TfrmMain.h"
#include "dataset/TableRows.h"
#include "db/Connection.h"
#include "panels/DetailPanels.h"
#include "dataset/RowFrame.h"
#include "panels/GridEditing.h"
#include "panels/TableDataView.h"

namespace {

const QString kDatabase = QStringLiteral("lvx_bench_table");
const QString kTable = QStringLiteral("rows_10m");
constexpr int kRows = 10000000;
constexpr int kPagedRows = 100000;
constexpr int kClientRunsPerRun = 5;
constexpr double kOpenRatio = 2.0;
constexpr double kLastMs = 200;
constexpr double kMemoryMb = 100;
constexpr double kGapMs = 50;

// Created once; later runs on the same server reuse it. The INSERT is one statement, so a
// table whose last row is there is whole.
void ensureTable() {
    db::Connection c;
    c.connect(bench::params());
    c.exec("CREATE DATABASE IF NOT EXISTS " + db::quoteIdentifier(kDatabase));
    if (!c.selectDb(kDatabase)) throw c.lastError();  // the sequence table needs a database
    if (c.query("SELECT MAX(id) FROM rows_10m")) {
        db::Result r = c.storeResult();
        if (r && r.next() && r.text(0).toInt() == kRows) return;
    }
    std::fprintf(stderr, "creating %d rows ...\n", kRows);
    c.exec("CREATE OR REPLACE TABLE rows_10m (id INT UNSIGNED PRIMARY KEY, qty BIGINT, "
           "price DECIMAL(12,2), ratio DOUBLE, created DATETIME, day DATE, name VARCHAR(40), "
           "note TEXT, flag TINYINT, digest BINARY(16)) ENGINE=InnoDB");
    c.exec("INSERT INTO rows_10m SELECT seq, seq * 1000003, seq / 100, seq / 7, "
           "TIMESTAMP'2020-01-01 00:00:00' + INTERVAL seq SECOND, "
           "DATE'2020-01-01' + INTERVAL (seq % 3650) DAY, CONCAT('name-', seq), "
           "IF(seq % 10 = 0, NULL, REPEAT('x', seq % 50)), seq % 2, UNHEX(MD5(seq)) "
           "FROM seq_1_to_" + std::to_string(kRows));
}

// The grid shows grid row `mustShow` (any row at -1, none below), and every table row on
// its screen has been read.
bool screenRead(TableDataView& view, int mustShow) {
    if (mustShow < -1) return false;
    TableRows& rows = view.rows();
    QTableView& grid = view.DBGrid1();
    if (!rows.isOpen() || rows.rowCount() == 0) return false;
    // Rows of the table, from the grid's rows of its frame.
    const int start = view.frame().start();
    const int top = grid.rowAt(0) < 0 ? -1 : start + grid.rowAt(0);
    int bottom = grid.rowAt(grid.viewport()->height() - 1);
    bottom = bottom < 0 ? rows.rowCount() - 1 : start + bottom;
    if (top < 0 || (mustShow >= 0 && (mustShow < top || mustShow > bottom))) return false;
    for (int row = top; row <= bottom; ++row)
        if (rows.tableRow(row) >= 0 && !rows.isLoaded(rows.tableRow(row))) return false;
    return true;
}

// Lets queued work (reads asked for, paints) run, so that memory is measured at rest.
void settle() {
    for (int i = 0; i < 20; ++i) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

// One run of the window in this process: prints "name value" lines.
int runGrid() {
    bench::QuietPrompts prompts;
    bench::MainWindow window(prompts);
    TfrmMain& w = window.window();
    TableDataView& view = w.dataView();
    TableRows& rows = view.rows();
    QTableView& grid = view.DBGrid1();
    QTreeWidgetItem* table =
        window.open({QStringLiteral("DB"), kDatabase, QStringLiteral("Tables"), kTable});
    // The Data tab is the one the user has open.
    w.panels().PTableDetail()->setCurrentWidget(w.panels().DataTab());
    settle();
    const long base = bench::statusKb("VmRSS:");
    std::map<std::string, double> out;
    const auto rssMb = [&] {
        settle();
        return double(bench::statusKb("VmRSS:") - base) / 1024;
    };
    QElapsedTimer clock;
    int mustShow = 0;
    int pagedFrom = -1;  // paging: the current row before the key, which must have moved on
    bench::PaintWatch watch(grid.viewport(), [&] {
        if (pagedFrom < 0) return screenRead(view, mustShow);
        const int current = view.editing().currentRow();
        return current != pagedFrom && screenRead(view, current);
    }, &clock);
    const auto timed = [&](const std::function<void()>& action) {
        watch.painted = false;
        clock.start();
        action();
        if (!watch.painted && !watch.wait()) throw std::runtime_error("the grid was never painted");
        return double(watch.paintedAt);
    };

    out["open_ms"] = timed([&] { window.click(table); });
    if (rows.rowCount() == 0) throw std::runtime_error("the table opened empty");
    out["open_mb"] = rssMb();

    out["last_ms"] = timed([&] {
        mustShow = -2;
        view.DBNavigator1()[3]->click();
        mustShow = rows.rowCount() - 1;
    });
    out["last_ok"] = rows.cell(rows.tableRow(rows.rowCount() - 1), 0).text() == QString::number(kRows);
    out["last_mb"] = rssMb();

    // A drag of the scroll bar's handle to the middle.
    QScrollBar& bar = view.rowScrollBar();
    out["middle_ms"] = timed([&] {
        mustShow = -2;
        bar.setValue(bar.maximum() / 2);
        mustShow = view.frame().start() + grid.rowAt(0);
    });
    out["middle_mb"] = rssMb();

    grid.setFocus();
    view.editing().selectRow(view.frame().start() + grid.rowAt(0));
    const int from = view.editing().currentRow();
    int pages = 0, repeated = 0;
    const bench::Measured paging = bench::measure([&] {
        while (view.editing().currentRow() < from + kPagedRows) {
            const int before = view.editing().currentRow();
            pagedFrom = before;
            for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease})
                QCoreApplication::postEvent(&grid, new QKeyEvent(type, Qt::Key_PageDown, Qt::NoModifier));
            watch.painted = false;
            QElapsedTimer waited;
            waited.start();
            while (!watch.painted && waited.elapsed() < 5000) {
                QApplication::processEvents(QEventLoop::AllEvents, 5);
            }
            if (!watch.painted) ++repeated;  // the key was refused: press it again
            ++pages;
        }
    });
    pagedFrom = -1;
    out["page_ms"] = double(paging.ms);
    out["page_gap_ms"] = double(paging.gapMs);
    out["pages"] = pages;
    out["pages_refused"] = repeated;
    out["paged_mb"] = rssMb();
    out["kept_rows"] = double(rows.keptRows());
    out["base_mb"] = double(base) / 1024;
    for (const auto& [name, value] : out) std::printf("%s %.1f\n", name.c_str(), value);
    return 0;
}

int runAll() {
    ensureTable();
    const QStringList clientArgs =
        bench::clientArguments() +
        QStringList{QStringLiteral("-e"),
                    QStringLiteral("SELECT * FROM %1.%2 LIMIT 1000").arg(kDatabase, kTable)};
    std::vector<double> client;
    std::vector<std::map<std::string, double>> grids;
    for (int run = 0; run < bench::runs(); ++run) {
        for (int i = 0; i < kClientRunsPerRun; ++i)
            client.push_back(bench::clientMs(QStringLiteral("mariadb"), clientArgs));
        grids.push_back(bench::namedValues(bench::runChild(QStringLiteral("grid"))));
        const auto& g = grids.back();
        std::printf("run %d: open %.0f ms, Last %.0f ms, middle %.0f ms, %.0f pages in %.0f ms "
                    "(longest pause %.0f ms, %.0f keys pressed again), memory above the window "
                    "%.0f/%.0f/%.0f/%.0f MB, %.0f rows kept; client %.0f ms\n",
                    run + 1, g.at("open_ms"), g.at("last_ms"), g.at("middle_ms"), g.at("pages"),
                    g.at("page_ms"), g.at("page_gap_ms"), g.at("pages_refused"), g.at("open_mb"),
                    g.at("last_mb"), g.at("middle_mb"), g.at("paged_mb"), g.at("kept_rows"),
                    client.back());
    }
    const auto middle = [&](const char* name) {
        std::vector<double> v;
        for (const auto& g : grids) v.push_back(g.at(name));
        return bench::median(v);
    };
    const auto worst = [&](const char* name) {
        double m = 0;
        for (const auto& g : grids) m = std::max(m, g.at(name));
        return m;
    };
    bool lastOk = true;
    for (const auto& g : grids) lastOk = lastOk && g.at("last_ok") > 0;
    const double clientMs = bench::median(client);
    const double openMs = middle("open_ms");
    std::printf("\n%d rows; %d window runs, medians (memory and pauses: the worst run); the "
                "client: median of %zu runs; connected window %.0f MB\n",
                kRows, bench::runs(), client.size(), middle("base_mb"));
    const bool met = bench::printLines({
        {"open to first screen painted, ms", openMs, clientMs, kOpenRatio * clientMs,
         openMs <= kOpenRatio * clientMs},
        {"Last to last rows painted, ms", middle("last_ms"), -1, kLastMs,
         middle("last_ms") <= kLastMs && lastOk},
        {"drag to the middle painted, ms", middle("middle_ms"), -1, -1, true},
        {"memory above the window: opened, MB", worst("open_mb"), -1, kMemoryMb,
         worst("open_mb") <= kMemoryMb},
        {"memory above the window: at Last, MB", worst("last_mb"), -1, kMemoryMb,
         worst("last_mb") <= kMemoryMb},
        {"memory above the window: middle, MB", worst("middle_mb"), -1, kMemoryMb,
         worst("middle_mb") <= kMemoryMb},
        {"memory above the window: 100,000 paged, MB", worst("paged_mb"), -1, kMemoryMb,
         worst("paged_mb") <= kMemoryMb},
        {"paging 100,000 rows: longest pause, ms", worst("page_gap_ms"), -1, kGapMs,
         worst("page_gap_ms") <= kGapMs},
    });
    std::printf("Last shows the table's last row: %s\n", lastOk ? "yes" : "NO");
    std::printf("%s\n", met ? "targets met" : "TARGETS MISSED");
    return met ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc > 1 && qstrcmp(argv[1], "grid") == 0) {
            QApplication app(argc, argv);
            return runGrid();
        }
        QCoreApplication app(argc, argv);
        return runAll();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "table_grid: %s\n", e.what());
        return 1;
    }
}
