#include "dump/TfrmRestore.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "db/Connection.h"
#include "dump/DumpFormat.h"
#include "dump/RestoreEngine.h"
#include "dump/RestoreTally.h"
#include "dump/ScriptScan.h"
#include "files/RegularFile.h"
#include "files/RestoreInput.h"
#include "ui/BusyCursor.h"
#include "ui/Named.h"
#include "ui/ProgressRelay.h"
#include "ui/Prompts.h"
#include "ui/ServerWait.h"

namespace {

const QString kScriptPrefix = QStringLiteral("SQL Exec.......  ");
const QString kDataPrefix = QStringLiteral("Data Insert Exec.......  ");

// The lines of the script as the reader sees them: CR LF or a lone CR ends a line, a
// Ctrl-Z ends the text. For display only: a line longer than `lineShown` is cut, and when
// `more` bytes of the file were not read a last line says so. A very long line would take
// the text editor minutes to lay out.
QString shownLines(const QByteArray& bytes, qsizetype lineShown, qint64 more) {
    const qsizetype end = bytes.indexOf('\x1a') < 0 ? bytes.size() : bytes.indexOf('\x1a');
    QByteArray lines;
    lines.reserve(end);
    qsizetype start = 0;
    while (start < end) {
        qsizetype cr = bytes.indexOf('\r', start);
        if (cr < 0 || cr > end) cr = end;
        const qsizetype length = cr - start;
        lines += bytes.mid(start, std::min(length, lineShown));
        if (length > lineShown) lines += " ...";
        start = cr + (bytes.mid(cr, 2) == "\r\n" ? 2 : 1);
        if (cr < end) lines += '\n';
    }
    QString text = QString::fromUtf8(lines);
    if (more > 0)
        text += QStringLiteral("\n... (%1 more bytes of the file are not shown)").arg(more);
    return text;
}

const QString kNothingRun = QStringLiteral("Nothing was executed");

// The end of a run: the fixed text alone when everything ran, else what did not.
QString doneText(const QString& done, const dump::RestoreRun& run) {
    if (run.stopped) return done + QStringLiteral(" - Stopped");
    // A file without one statement this program can find (not one of its dumps).
    if (run.statements == 0 && run.leftoverLine)
        return done + QStringLiteral(" - nothing was executed");
    if (run.ok()) return done;
    QStringList parts{QStringLiteral("%1 statements").arg(run.statements)};
    if (run.failures) parts << QStringLiteral("%1 failed").arg(run.failures);
    if (run.warnedCount) parts << QStringLiteral("%1 with warnings").arg(run.warnedCount);
    if (run.oversizedCount)
        parts << QStringLiteral("%1 skipped as too large").arg(run.oversizedCount);
    if (run.commentedCount) parts << QStringLiteral("%1 did nothing").arg(run.commentedCount);
    if (run.definersLeftOut)
        parts << QStringLiteral("%1 created without their DEFINER").arg(run.definersLeftOut);
    if (run.leftoverLine)
        parts << QStringLiteral("text from line %1 on not executed").arg(run.leftoverLine);
    return done + QStringLiteral(" - ") + parts.join(QStringLiteral(", "));
}

}  // namespace

TfrmRestore::TfrmRestore(db::Connection& connection, ui::Prompts& prompts, QWidget* parent)
    : QDialog(parent), connection_(connection), prompts_(prompts) {
    setObjectName(QStringLiteral("frmRestore"));
    setWindowTitle(QStringLiteral("Restore"));
    resize(640, 480);

    SpeedButton2 = ui::named(new QPushButton(QStringLiteral("Exec"), this), "SpeedButton2");
    SpeedButton1 = ui::named(new QPushButton(QStringLiteral("Close"), this), "SpeedButton1");
    SpeedButton1->setToolTip(QStringLiteral("Close"));
    SpeedButton3 = ui::named(new QPushButton(QStringLiteral("Stop"), this), "SpeedButton3");
    SpeedButton3->setEnabled(false);
    ui::ServerWait::allowDuringCalls(SpeedButton3);
    Label1 = ui::named(new QLabel(QStringLiteral("DB : "), this), "Label1");
    CheckBox1 = ui::named(new QCheckBox(QStringLiteral("Data Include"), this), "CheckBox1");
    MemoSql = ui::named(new QPlainTextEdit(this), "MemoSql");
    MemoSql->setReadOnly(true);
    MemoSql->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoSql->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Label2 = ui::named(new QLabel(this), "Label2");
    lblSummary = ui::named(new QLabel(this), "lblSummary");
    lblSummary->setWordWrap(true);
    ProgressBar1 = ui::named(new QProgressBar(this), "ProgressBar1");
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setValue(0);
    ProgressBar1->setFormat(QString());

    auto* top = new QHBoxLayout;
    top->addWidget(SpeedButton2);
    top->addWidget(SpeedButton3);
    top->addWidget(SpeedButton1);
    top->addSpacing(16);
    top->addWidget(Label1);
    top->addStretch();
    top->addWidget(CheckBox1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(MemoSql, 1);
    layout->addWidget(ProgressBar1);
    layout->addWidget(Label2);
    layout->addWidget(lblSummary);

    connect(SpeedButton1, &QPushButton::clicked, this, &TfrmRestore::SpeedButton1Click);
    connect(SpeedButton2, &QPushButton::clicked, this, &TfrmRestore::SpeedButton2Click);
    connect(SpeedButton3, &QPushButton::clicked, this, &TfrmRestore::SpeedButton3Click);
}

void TfrmRestore::SetDatabase(const QString& name) {
    database_ = name;
    Label1->setText(QStringLiteral("DB : ") + name);
}

void TfrmRestore::LoadScript(const QString& path) {
    ui::BusyCursor busy;
    files::Read read = files::readRegularFile(path, kPreviewBytes, true);
    if (!read.ok())
        throw dump::DumpError(
            QStringLiteral("Cannot read %1: %2").arg(QDir::toNativeSeparators(path), read.reason()));
    // A compressed file shows its text; how much more there is is not known before the end.
    std::unique_ptr<QIODevice> input;
    try {
        input = files::RestoreInput::open(path);
    } catch (const files::ReadError&) {
        // The preview shows the bytes read above; Exec reports a file it cannot open.
    }
    if (input && files::RestoreInput::compressed(*input)) {
        read.bytes = input->read(kPreviewBytes);
        read.size = read.bytes.size();
    }
    // A picture or an archive is refused before it is shown as garbage; an empty file is
    // shown, and Exec says there is nothing to restore.
    const dump::TextKind kind = dump::sniffText(read.bytes);
    if (kind == dump::TextKind::Utf16 || kind == dump::TextKind::Binary ||
        kind == dump::TextKind::Xml)
        throw dump::DumpError(dump::textKindProblem(kind, QFileInfo(path).fileName()));
    scriptPath_ = path;
    const dump::ScriptSniff sniff =
        dump::sniffScript(read.bytes.left(64 * 1024), QFileInfo(path).fileName());
    plain_ = sniff.plain;
    lblSummary->setText(!sniff.notSql.isEmpty() ? sniff.notSql
                        : plain_      ? QStringLiteral("A plain SQL script (as mariadb-dump and mysqldump write)")
                                      : QStringLiteral("A Lorvex dump"));
    MemoSql->setPlainText(shownLines(read.bytes, kLineShown, read.size - read.bytes.size()));
}

void TfrmRestore::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    MemoSql->setFocus();
}

void TfrmRestore::setRunning(bool running) {
    busy_ = running;
    stopRequested_ = false;
    SpeedButton1->setEnabled(!running);
    SpeedButton2->setEnabled(!running);
    CheckBox1->setEnabled(!running);
    SpeedButton3->setEnabled(running);
}

void TfrmRestore::showProgress(const QString& prefix, const dump::RestoreProgress& p) {
    Label2->setText(dump::runningStatus(prefix, p));
    if (p.size > 0) {
        ProgressBar1->setValue(int(std::min<qint64>(p.position * 1000 / p.size, 1000)));
        const QString left = dump::timeLeft(clock_.elapsed(), p.position, p.size);
        ProgressBar1->setFormat(left.isEmpty() ? QStringLiteral("%p%")
                                               : QStringLiteral("%p% - ") + left);
    }
}

dump::RestoreRun TfrmRestore::runEngine(
    const QString& prefix,
    const std::function<dump::RestoreRun(const std::function<bool(const dump::RestoreProgress&)>&)>&
        run) {
    if (!connection_.waiter()) {
        return run([&](const dump::RestoreProgress& p) {
            showProgress(prefix, p);
            QCoreApplication::processEvents();
            return !stopRequested_;
        });
    }
    // Handing every round trip to the worker on its own would cost the window a wait per
    // statement; the run goes aside as a whole and passes its progress over.
    ui::ProgressRelay<dump::RestoreProgress> relay(
        [&](const dump::RestoreProgress& p) { showProgress(prefix, p); });
    dump::RestoreRun out;
    connection_.runAside(
        "Restoring into " + db::utf8(database_),
        [&] {
            out = run([&](const dump::RestoreProgress& p) {
                relay.post(p);
                // Escape cancels the whole call: between statements too.
                return !stopRequested_ && !connection_.waiter()->cancelRequested();
            });
        },
        true);
    relay.deliver();
    return out;
}

QString TfrmRestore::dataFileToRun() const {
    const QString path = dump::dataFilePath(scriptPath_);
    // A script named *.dat is its own data file: replaying it twice would insert twice.
    if (!CheckBox1->isChecked() || !QFileInfo::exists(path) ||
        QFileInfo(path).absoluteFilePath() == QFileInfo(scriptPath_).absoluteFilePath())
        return {};
    return path;
}

bool TfrmRestore::confirmRun(dump::RunOptions& options) {
    // "Data Include" with no data file to read would restore the schema alone and look
    // like a whole restore: refuse before anything runs.
    if (CheckBox1->isChecked()) {
        const QString path = dump::dataFilePath(scriptPath_);
        if (QFileInfo(path).absoluteFilePath() != QFileInfo(scriptPath_).absoluteFilePath()) {
            QFile data(path);
            if (!data.open(QIODevice::ReadOnly)) {
                prompts_.message(this,
                                 QStringLiteral("Cannot read the data file %1: %2\nNothing was "
                                                "restored; untick \"Data Include\" to restore "
                                                "the schema alone.")
                                     .arg(QDir::toNativeSeparators(path), data.errorString()),
                                 QStringLiteral("Restore"));
                return false;
            }
        }
    }
    dump::RestoreCheck check;
    {
        ui::BusyCursor busy;
        const QString dataFile = dataFileToRun();
        const sqllex::Rules rules = connection_.sqlRules();
        connection_.runAside("Reading the files through", [&] {
            check = dump::checkRestore(scriptPath_, dataFile, database_, {}, rules);
        });
    }
    if (!check.problem.isEmpty()) {
        prompts_.message(this, check.problem, QStringLiteral("Restore"));
        return false;
    }
    plain_ = check.plain;
    options.format = plain_ ? dump::ScriptFormat::Plain : dump::ScriptFormat::Own;
    // Triggers wait for the rows, so that they do not fire on the dump's own inserts.
    options.deferLate = !plain_ && !dataFileToRun().isEmpty();
    // A dump of this program names no other database and changes nothing on the server;
    // a file that does was made or changed by someone else.
    if (!check.foreign.isEmpty() &&
        !prompts_.okCancel(this,
                           QStringLiteral("%1 statements reach beyond the database %2 or act on "
                                          "the server as a whole:\n\n%3\n\nRun them anyway?")
                               .arg(check.foreignCount)
                               .arg(database_, check.foreign),
                           QStringLiteral("Restore Notice")))
        return false;
    // Tables of equal names in two databases of the file would collide in one.
    fileDatabases_ = check.databases;
    if (check.severalDatabases()) {
        options.followUse = prompts_.yesNo(
            this,
            QStringLiteral("The file holds %1 databases: %2.\n\nRestore each into its own "
                           "database, as the file says? (No: all into `%3`.)")
                .arg(check.databases.size())
                .arg(dump::quotedNames(check.databases), database_),
            QStringLiteral("Restore Notice"));
    }
    if (!confirmReplace(check.replaced)) return false;
    if (!check.ctrlZ.isEmpty())
        options.pastCtrlZ = prompts_.yesNo(
            this,
            QStringLiteral("%1 holds a Ctrl-Z, the end-of-file mark of old tools. Lorvex never "
                           "writes one into a dump, so it is most likely damage.\n\nGo on after "
                           "it? (No: stop reading there.)")
                .arg(check.ctrlZ),
            QStringLiteral("Restore Notice"));
    return true;
}

bool TfrmRestore::confirmReplace(const std::vector<QString>& replaced) {
    if (replaced.empty()) return true;
    // Only what exists now is lost; a dump into an empty database replaces nothing.
    QStringList existing;
    {
        ui::BusyCursor busy;
        if (connection_.query("SHOW FULL TABLES FROM " + db::quoteIdentifier(database_))) {
            db::Result tables = connection_.storeResult();
            while (tables && tables.next()) {
                const QString name = tables.text(0);
                if (std::find(replaced.begin(), replaced.end(), name) != replaced.end())
                    existing << name;
            }
        }
    }
    if (existing.isEmpty()) return true;
    constexpr qsizetype kNamed = 5;
    QString names = existing.mid(0, kNamed).join(QStringLiteral(", "));
    if (existing.size() > kNamed) names += QStringLiteral(" and %1 more").arg(existing.size() - kNamed);
    const bool rowsComeBack = !dataFileToRun().isEmpty();
    return prompts_.okCancel(
        this,
        QStringLiteral("The script drops and creates again %1 tables or views of %2 that exist "
                       "now: %3.\n\n%4\n\nGo on?")
            .arg(existing.size())
            .arg(database_, names,
                 rowsComeBack ? QStringLiteral("Their rows come back from the data file.")
                              : QStringLiteral("Their rows will be lost: \"Data Include\" is not "
                                               "ticked or there is no data file beside the script.")),
        QStringLiteral("Restore Notice"));
}

void TfrmRestore::SpeedButton2Click() {
    if (busy_) return;
    dump::RunOptions options;
    if (!confirmRun(options)) {
        Label2->setText(kNothingRun);
        return;
    }
    ui::BusyCursor busy;
    setRunning(true);
    QStringList problems;  // shown together at the end

    dump::RestoreEngine engine(connection_, database_);
    // Read from the file as it runs: a dump of any size takes the memory of one statement.
    std::unique_ptr<QIODevice> input;
    try {
        input = files::RestoreInput::open(scriptPath_);
    } catch (const files::ReadError& e) {
        setRunning(false);
        prompts_.message(this, e.text(), QStringLiteral("Restore"));
        return;
    }
    clock_.start();
    const dump::RestoreRun script = runEngine(kScriptPrefix, [&](const auto& progress) {
        return engine.run(*input, dump::RunKind::Script, progress, options);
    });
    const QString scriptName = QFileInfo(scriptPath_).fileName();
    if (!script.fatal.isEmpty()) {
        Label2->setText(kScriptPrefix + QStringLiteral("Restore Error - Exec"));
        problems << QStringLiteral("Restore Error - Create / Drop\r\n\r\n") + script.fatal;
    } else {
        Label2->setText(doneText(QStringLiteral("SQL Done"), script));
        const QString report = dump::failureReport(script, scriptName);
        if (!report.isEmpty()) problems << report;
        dump::RestoreRun data;
        bool going = !script.stopped;
        if (CheckBox1->isChecked() && going && RestoreData(engine, data, options)) {
            if (!data.fatal.isEmpty()) {
                problems << QStringLiteral("Restore Error - Insert\r\n\r\n") + data.fatal;
                going = false;
            } else {
                Label2->setText(doneText(QStringLiteral("Data Insert Done"), data));
                const QString dataReport = dump::failureReport(
                    data, QFileInfo(dump::dataFilePath(scriptPath_)).fileName());
                if (!dataReport.isEmpty()) problems << dataReport;
                going = !data.stopped;
            }
        }
        if (going && !script.late.empty()) {
            // The status of the run as a whole stays; the triggers' own is only passing.
            const QString status = Label2->text();
            const dump::RestoreRun late = runEngine(kScriptPrefix, [&](const auto& progress) {
                return engine.runLate(script.late, progress, options);
            });
            Label2->setText(late.ok() ? status
                                      : status + QStringLiteral(" - triggers and events: ") +
                                            doneText(QString(), late).mid(3));
            const QString report = dump::failureReport(late, scriptName);
            if (!late.fatal.isEmpty())
                problems << QStringLiteral("Restore Error - Create / Drop\r\n\r\n") + late.fatal;
            else if (!report.isEmpty())
                problems << report;
        }
    }
    try {
        engine.finish();
    } catch (const dump::DumpError& e) {
        problems << e.text();
    }
    // What the files carried against what the database holds now.
    const dump::DatabasesVerified check =
        dump::verifyDatabases(connection_, database_, engine.tallies());
    QString summary = check.differs ? QStringLiteral("The restored database differs from the files.")
                                    : check.text;
    if (const QString way = dump::databasesDone(fileDatabases_, options.followUse, database_);
        !way.isEmpty())
        summary = way + u'\n' + summary;
    lblSummary->setText(summary);
    if (check.differs) problems << check.text;
    setRunning(false);
    if (!problems.isEmpty())
        prompts_.message(this, problems.join(QStringLiteral("\r\n\r\n")),
                         QStringLiteral("Restore"));
}

bool TfrmRestore::RestoreData(dump::RestoreEngine& engine, dump::RestoreRun& run,
                              const dump::RunOptions& options) {
    const QString path = dataFileToRun();
    if (path.isEmpty()) {
        Label2->setText(QStringLiteral("Data Insert - Ignore"));
        return false;
    }
    std::unique_ptr<QIODevice> file;
    try {
        file = files::RestoreInput::open(path);
    } catch (const files::ReadError& e) {
        run.fatal = e.text();
        return true;
    }
    clock_.start();
    dump::RunOptions dataOptions = options;
    dataOptions.format = dump::ScriptFormat::Own;  // a data file is always this program's
    run = runEngine(kDataPrefix, [&](const auto& progress) {
        return engine.run(*file, dump::RunKind::Data, progress, dataOptions);
    });
    return true;
}

void TfrmRestore::SpeedButton1Click() { reject(); }

void TfrmRestore::SpeedButton3Click() {
    stopRequested_ = true;
    connection_.cancelRunning();  // also the statement the server is running now
}

void TfrmRestore::reject() {
    if (busy_) {
        SpeedButton3Click();
        return;
    }
    QDialog::reject();
}
