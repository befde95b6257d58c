// Importing a 1,000,000-row CSV file into an InnoDB table with dump::CsvImport against
// `mariadb --local-infile=1 -e "LOAD DATA LOCAL INFILE ..."` of the same file, in the same
// run, alternating. Targets: the import takes at most 1.2x the client tool's time, and its
// peak memory does not grow with the file (1,000,000 rows against 250,000).
// Each import runs in a fresh process (this program with "import FILE"), so one case's peak
// memory does not carry into the next. Server from LORVEX_TEST_HOST/PORT/USER/PASSWORD
// (bench/run starts one).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "BenchServer.h"
#include "db/Connection.h"
#include "dump/CsvImport.h"

namespace {

const QString kDatabase = QStringLiteral("lvx_bench_csv");
constexpr double kMaxRatio = 1.2;
constexpr long kMaxGrowthKb = 16 * 1024;

// Rows with quoted fields, commas, doubled quotes and a line break now and then.
void writeFile(const QString& path, int rows) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) throw std::runtime_error("cannot write");
    QByteArray out = "id,name,amount,note\n";
    for (int i = 1; i <= rows; ++i) {
        out += QByteArray::number(i) + ",\"Name " + QByteArray::number(i % 977) + ", \"\"x\"\"\"," +
               QByteArray::number(i % 100000) + '.' + QByteArray::number(10 + i % 90) + ',';
        out += i % 10 == 0 ? QByteArray("\"two\nlines\"") : "note " + QByteArray::number(i * 7);
        out += '\n';
        if (out.size() > (1 << 20)) {
            f.write(out);
            out.clear();
        }
    }
    f.write(out);
}

void reset(db::Connection& c) {
    c.exec("CREATE DATABASE IF NOT EXISTS " + db::quoteIdentifier(kDatabase));
    c.exec("DROP TABLE IF EXISTS " + db::quoteIdentifier(kDatabase) + ".t");
    c.exec("CREATE TABLE " + db::quoteIdentifier(kDatabase) +
           ".t (id INT PRIMARY KEY, name VARCHAR(64), amount DECIMAL(12,2), note VARCHAR(200)) "
           "ENGINE=InnoDB");
}

// The child: one import; prints "ms peak_kb rows".
int importChild(const QString& path) {
    db::Connection session;
    session.connect(bench::params());
    dump::CsvImportOptions o;
    o.database = kDatabase;
    o.table = QStringLiteral("t");
    o.path = path;
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    o.format = files::detectCsvFormat(f.read(files::kCsvDetectBytes));
    QElapsedTimer clock;
    clock.start();
    const dump::CsvImportResult r = dump::CsvImport(session, o).run();
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    if (!r.ok()) {
        std::fprintf(stderr, "%s\n", r.summary().toUtf8().constData());
        return 1;
    }
    std::printf("%.1f %ld %llu\n", ms, bench::statusKb("VmHWM:"), (unsigned long long)r.loaded);
    return 0;
}

double mariadbLoad(const QString& path) {
    QStringList args = bench::clientArguments();
    args << QStringLiteral("--local-infile=1") << QStringLiteral("-e")
         << QStringLiteral("LOAD DATA LOCAL INFILE '%1' INTO TABLE %2.t CHARACTER SET utf8mb4 "
                           "FIELDS TERMINATED BY ',' OPTIONALLY ENCLOSED BY '\"' "
                           "LINES TERMINATED BY '\\n' IGNORE 1 LINES")
                .arg(path, kDatabase);
    return bench::clientMs(QStringLiteral("mariadb"), args);
}

using bench::median;

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "import") return importChild(QString::fromLocal8Bit(argv[2]));
    try {
        const QString dir = QDir::tempPath();
        const QString big = dir + QStringLiteral("/lvx_bench_1m.csv");
        const QString small = dir + QStringLiteral("/lvx_bench_250k.csv");
        writeFile(big, 1000000);
        writeFile(small, 250000);
        db::Connection c;
        c.connect(bench::params());
        std::vector<double> tool, ours;
        long peakBig = 0, peakSmall = 0;
        for (int run = 0; run < bench::runs(); ++run) {
            reset(c);
            tool.push_back(mariadbLoad(big));
            reset(c);
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("import"), big});
            child.waitForFinished(-1);
            const QList<QByteArray> out = child.readAllStandardOutput().trimmed().split(' ');
            if (child.exitCode() != 0 || out.size() != 3) throw std::runtime_error("the import failed");
            ours.push_back(out[0].toDouble());
            peakBig = std::max(peakBig, out[1].toLong());
            std::printf("run %d: mariadb LOAD DATA LOCAL %8.0f ms | CsvImport %8.0f ms (%s rows) | %.2fx\n",
                        run + 1, tool.back(), ours.back(), out[2].constData(), ours.back() / tool.back());
        }
        reset(c);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("import"), small});
        child.waitForFinished(-1);
        peakSmall = child.readAllStandardOutput().trimmed().split(' ').value(1).toLong();
        c.exec("DROP DATABASE " + db::quoteIdentifier(kDatabase));
        QFile::remove(big);
        QFile::remove(small);

        const double ratio = median(ours) / median(tool);
        std::printf("median: mariadb %.0f ms, CsvImport %.0f ms: %.2fx (target <= %.1fx)\n",
                    median(tool), median(ours), ratio, kMaxRatio);
        std::printf("peak memory (VmHWM): 250,000 rows %ld kB, 1,000,000 rows %ld kB (target: "
                    "growth <= %ld kB)\n",
                    peakSmall, peakBig, kMaxGrowthKb);
        return ratio <= kMaxRatio && peakBig - peakSmall <= kMaxGrowthKb ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "csv_import: %s\n", e.what());
        return 1;
    }
}
