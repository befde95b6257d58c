// The SQL editor against the MariaDB client, in the same run:
//   script     a 10,000-statement script through Run script (log and result tabs on, the
//              window's waiter on) against `mariadb` reading the same file; target within
//              1.2x, and the process under 100 MB;
//   export     a 1,000,000-row result written as CSV (query and file) against `mariadb -B`
//              writing the same rows; target within 1.5x;
//   highlight  typing at the end of a 5 MB script: the longest pause of a key press;
//              target under 100 ms.
// Each measurement runs in a fresh process (this program with the case's name), best of
// LORVEX_BENCH_RUNS (3). Server from LORVEX_TEST_HOST/PORT/USER/PASSWORD (bench/run).
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

#include "BenchServer.h"
#include "dataset/TMySQLConnection.h"
#include "db/Connection.h"
#include "panels/ResultExport.h"
#include "sqleditor/SqlPanel.h"
#include "ui/Prompts.h"
#include "ui/ServerWait.h"

namespace {

const QString kDatabase = QStringLiteral("lvx_bench_sql");
constexpr int kExportRows = 1000000;
constexpr int kStatements = 10000;

void prepare() {
    db::Connection c;
    c.connect(bench::params());
    c.exec("CREATE DATABASE IF NOT EXISTS " + db::quoteIdentifier(kDatabase));
    if (!c.selectDb(kDatabase)) throw c.lastError();
    c.exec("CREATE TABLE IF NOT EXISTS script_t (id INT PRIMARY KEY, name VARCHAR(40))");
    if (c.query("SELECT COUNT(*) FROM export_1m")) {
        db::Result r = c.storeResult();
        if (r && r.next() && r.text(0).toInt() == kExportRows) return;
    }
    std::fprintf(stderr, "creating %d rows ...\n", kExportRows);
    c.exec("CREATE OR REPLACE TABLE export_1m (id INT PRIMARY KEY, amount DECIMAL(10,2), "
           "label VARCHAR(40), note TEXT, stamp DATETIME) ENGINE=InnoDB");
    c.exec("INSERT INTO export_1m SELECT seq, seq / 10, CONCAT('label, \"', seq, '\"'), "
           "IF(seq % 5 = 0, NULL, REPEAT('n', seq % 40)), "
           "TIMESTAMP'2022-01-01 00:00:00' + INTERVAL seq MINUTE FROM seq_1_to_" +
           std::to_string(kExportRows));
}

// Nine inserts for every lookup.
QByteArray script() {
    QByteArray text;
    for (int i = 1; i <= kStatements; ++i) {
        if (i % 10 == 0)
            text += "SELECT id, name FROM script_t WHERE id = " + QByteArray::number(i - 1) + ";\n";
        else
            text += "INSERT INTO script_t VALUES (" + QByteArray::number(i) + ", 'name-" +
                    QByteArray::number(i) + "');\n";
    }
    return text;
}

void truncateScriptTable() {
    db::Connection c;
    c.connect(bench::params());
    c.exec("TRUNCATE " + db::qualifiedName(kDatabase, QStringLiteral("script_t")));
}

class QuietPrompts : public ui::WidgetPrompts {
public:
    void message(QWidget*, const QString& text, const QString&) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
};

// The cases, each in its own process: prints "ms peak_kb".
int runCase(const QString& name) {
    QuietPrompts prompts;
    QTemporaryDir dir;
    if (name == QLatin1String("highlight")) {
        QByteArray text;
        while (text.size() < 5 * 1024 * 1024) text += script();
        SqlPanel panel(*new TMySQLConnection(qApp), prompts, dir.path());
        panel.resize(900, 700);
        panel.show();
        panel.MemoSQL()->setPlainText(QString::fromUtf8(text));
        panel.MemoSQL()->moveCursor(QTextCursor::End);
        QApplication::processEvents();
        qint64 longest = 0;
        for (const char c : QByteArray("SELECT * FROM script_t WHERE name = 'typed';")) {
            QElapsedTimer clock;
            clock.start();
            QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(QLatin1Char(c)));
            QCoreApplication::sendEvent(panel.MemoSQL(), &key);
            QApplication::processEvents();
            longest = std::max(longest, clock.elapsed());
        }
        std::printf("%lld %ld\n", longest, bench::statusKb("VmHWM:"));
        return 0;
    }
    TMySQLConnection connection;
    const db::ConnectParams p = bench::params();
    connection.SetHost(p.host);
    connection.SetUser(p.user);
    connection.SetPasswd(p.password);
    connection.SetDB(kDatabase);
    ui::ServerWait wait(prompts);
    connection.connection().setWaiter(&wait);
    connection.Open();
    QElapsedTimer clock;
    if (name == QLatin1String("script")) {
        SqlPanel panel(connection, prompts, dir.path());
        panel.show();
        panel.CheckBoxStopAtError()->setChecked(false);
        panel.MemoSQL()->setPlainText(QString::fromUtf8(script()));
        clock.start();
        panel.RunScriptClick();
    } else {
        clock.start();
        db::Connection& c = connection.connection();
        if (!c.query("SELECT * FROM export_1m")) throw c.lastError();
        db::Result rows = c.storeResult();
        c.runAside("Exporting", [&] {
            exportRows(rows, dir.filePath(QStringLiteral("rows.csv")), {ExportFormat::Csv, {}});
        });
    }
    std::printf("%lld %ld\n", clock.elapsed(), bench::statusKb("VmHWM:"));
    return 0;
}

struct Figure {
    qint64 ms = -1;
    long peakKb = 0;
};

Figure best(const QString& name, int runs) {
    Figure out;
    for (int i = 0; i < runs; ++i) {
        if (name == QLatin1String("script")) truncateScriptTable();
        const QList<QByteArray> f = bench::runChild(name).trimmed().split(' ');
        if (f.size() != 2) throw std::runtime_error("a measuring run gave no figures");
        const Figure run{f[0].toLongLong(), f[1].toLong()};
        if (out.ms < 0 || run.ms < out.ms) out.ms = run.ms;
        out.peakKb = std::max(out.peakKb, run.peakKb);
    }
    return out;
}

qint64 bestClient(const QStringList& extra, const QString& input, int runs, bool truncate) {
    qint64 bestMs = -1;
    for (int i = 0; i < runs; ++i) {
        if (truncate) truncateScriptTable();
        QProcess tool;
        if (!input.isEmpty()) tool.setStandardInputFile(input);
        tool.setStandardOutputFile(QStringLiteral("/dev/null"));
        QElapsedTimer clock;
        clock.start();
        tool.start(QStringLiteral("mariadb"), bench::clientArguments() + extra);
        tool.waitForFinished(-1);
        if (tool.exitCode() != 0) throw std::runtime_error("the mariadb client failed");
        if (bestMs < 0 || clock.elapsed() < bestMs) bestMs = clock.elapsed();
    }
    return bestMs;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        QApplication app(argc, argv);
        try {
            return runCase(QString::fromLatin1(argv[1]));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "sql_editor: %s\n", e.what());
            return 1;
        }
    }
    QCoreApplication app(argc, argv);
    try {
        prepare();
        const int runs = bench::runs();
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("script.sql"));
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(script()) < 0) return 1;
        out.close();

        const Figure scriptRun = best(QStringLiteral("script"), runs);
        const qint64 scriptClient = bestClient({kDatabase}, file, runs, true);
        const Figure exportRun = best(QStringLiteral("export"), runs);
        const qint64 exportClient = bestClient(
            {QStringLiteral("-B"), QStringLiteral("-e"),
             QStringLiteral("SELECT * FROM %1.export_1m").arg(kDatabase)},
            {}, runs, false);
        const Figure typing = best(QStringLiteral("highlight"), runs);

        const double scriptRatio = double(scriptRun.ms) / double(std::max<qint64>(scriptClient, 1));
        const double exportRatio = double(exportRun.ms) / double(std::max<qint64>(exportClient, 1));
        std::printf("best of %d runs\n", runs);
        std::printf("script    %6lld ms (peak %ld MB)  mariadb %6lld ms  ratio %.3f\n", scriptRun.ms,
                    scriptRun.peakKb / 1024, scriptClient, scriptRatio);
        std::printf("export    %6lld ms (peak %ld MB)  mariadb -B %lld ms  ratio %.3f\n",
                    exportRun.ms, exportRun.peakKb / 1024, exportClient, exportRatio);
        std::printf("highlight longest key press at the end of 5 MB: %lld ms\n", typing.ms);
        const bool met = scriptRatio <= 1.2 && scriptRun.peakKb < 100 * 1024 &&
                         exportRatio <= 1.5 && typing.ms < 100;
        std::printf("targets (script <= 1.2x under 100 MB, export <= 1.5x, key press < 100 ms): %s\n",
                    met ? "met" : "MISSED");
        return met ? 0 : 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sql_editor: %s\n", e.what());
        return 1;
    }
}
