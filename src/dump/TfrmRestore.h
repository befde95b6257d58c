#pragma once

#include <QByteArray>
#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <atomic>
#include <functional>
#include <vector>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
namespace db {
class Connection;
}
namespace ui {
class Prompts;
}
namespace dump {
class RestoreEngine;
struct RestoreRun;
struct RunOptions;
struct RestoreProgress;
}  // namespace dump

// "Restore": replays a loaded schema file into a database and, with "Data Include", the
// data file beside it.
class TfrmRestore : public QDialog {
    Q_OBJECT
public:
    TfrmRestore(db::Connection& connection, ui::Prompts& prompts, QWidget* parent = nullptr);

    // The target database; Label1 shows it.
    void SetDatabase(const QString& name);
    // The memo shows at most this much of a script, and at most kLineShown bytes of a line.
    static constexpr qint64 kPreviewBytes = 1024 * 1024;
    static constexpr qsizetype kLineShown = 4096;

    // Shows the beginning of the script file, which Exec runs from the disk; throws
    // dump::DumpError when it cannot be read.
    void LoadScript(const QString& path);
    const QString& ScriptPath() const { return scriptPath_; }
    bool Busy() const { return busy_; }

public Q_SLOTS:
    void SpeedButton1Click();  // Close
    void SpeedButton2Click();  // Exec
    void SpeedButton3Click();  // Stop

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    // Runs the data file; returns its run, or false when there was none to run.
    bool RestoreData(dump::RestoreEngine& engine, dump::RestoreRun& run,
                     const dump::RunOptions& options);
    // The data file that Exec runs with "Data Include"; empty when there is none.
    QString dataFileToRun() const;
    // Reads the files before anything runs: refuses what cannot be restored, asks about
    // statements beyond the database and about a Ctrl-Z. False when nothing is to run.
    bool confirmRun(dump::RunOptions& options);
    void setRunning(bool running);
    // The status line (the statement's status, and the failures so far), the bar by bytes
    // of the file and the time left.
    void showProgress(const QString& prefix, const dump::RestoreProgress& p);
    // One run of the engine. With a waiter the whole run is one call of it, off the window's
    // thread, and the window shows the run's progress as it comes; without one the run
    // blocks and keeps the window painting from its progress calls.
    dump::RestoreRun runEngine(
        const QString& prefix,
        const std::function<dump::RestoreRun(const std::function<bool(const dump::RestoreProgress&)>&)>&
            run);
    // The tables the schema file would drop that hold data in the target now, asked about
    // once; false when the user does not want them replaced.
    bool confirmReplace(const std::vector<QString>& replaced);

    db::Connection& connection_;
    ui::Prompts& prompts_;
    QString database_;
    QString scriptPath_;
    bool plain_ = false;  // the script is a plain SQL script, not a dump of this program
    std::vector<QString> fileDatabases_;  // what the script's USE statements select
    bool busy_ = false;
    std::atomic_bool stopRequested_ = false;  // read by the run off the window's thread

    QPushButton* SpeedButton1;
    QPushButton* SpeedButton2;
    QPushButton* SpeedButton3;
    QLabel* Label1;
    QCheckBox* CheckBox1;
    QPlainTextEdit* MemoSql;
    QLabel* Label2;
    QLabel* lblSummary;  // the kind of script before a run, the check of the result after it
    QProgressBar* ProgressBar1;
    QElapsedTimer clock_;  // since the run began, for the time left
};
