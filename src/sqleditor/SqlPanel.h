#pragma once

#include <QString>
#include <QWidget>
#include <memory>
#include <optional>

#include "db/Result.h"
#include "panels/ResultGrid.h"

class QCheckBox;
class QKeyEvent;
class QLabel;
class QPlainTextEdit;
class QSplitter;
class QTabWidget;
class QTableView;
class HistoryPane;
class QueryHistory;
struct HistoryEntry;
struct ExecOutcome;
class QCompleter;
class SqlHighlighter;
class EditorCompletion;
class QToolButton;
class SqlText;
class TMySQLConnection;
class TMySQLDataSet;
class ResultRows;
class ResultFooter;
class GridEditing;
class TabSession;

namespace ui {
class BusyCursor;
class ElidedLabel;
class Prompts;
}

// The SQL panel: one typed or loaded statement at a time, run on the dataset connection.
// Queries (SELECT, DESC, SHOW) show their rows in the grid; every other statement shows
// its outcome as text. A SELECT's rows can be saved as a result file, and the statement
// text loaded from and saved to script files. A whole script runs statement by statement,
// with a log line for each and a tab for each result set.
class SqlPanel : public QWidget {
    Q_OBJECT
public:
    static const QString kDefaultOpenFilter;  // "SQL files (*.sql);;All files (*.*)"
    static const QString kSaveFilter;         // "SQL files (*.sql);;All Files (*.*)"

    // `programDir` is where the file dialogs open.
    SqlPanel(TMySQLConnection& datasetConnection, ui::Prompts& prompts,
             const QString& programDir, QWidget* parent = nullptr);
    ~SqlPanel() override;

    // Exec runs its statement on the tab's own session, without the window waiting for it;
    // scripts run on that session's connection too. Set once, before the first run.
    void RunAsideOn(TabSession* session);
    TabSession* Session() const { return session_; }

    // Sets the label to "Use DB : " and the name.
    void SetUseDb(const QString& name);
    // The filter of the open dialog, from the next open on.
    void SetOpenFilter(const QString& filter) { openFilter_ = filter; }
    const QString& OpenFilter() const { return openFilter_; }

    QWidget* Panel6() const { return Panel6_; }
    QToolButton* SpeedButton7() const { return SpeedButton7_; }
    QToolButton* SpeedButton8() const { return SpeedButton8_; }
    QToolButton* SpeedButton9() const { return SpeedButton9_; }
    // Cut to its width with the whole text as tooltip: a long name never widens the window.
    QLabel* LUseDb() const;
    QCheckBox* CheckBox1() const { return CheckBox1_; }
    QPlainTextEdit* MemoSQL() const { return MemoSQL_; }
    QSplitter* Splitter2() const { return Splitter2_; }
    QPlainTextEdit* MemoResult() const { return MemoResult_; }
    QTableView* DBGrid2() const { return DBGrid2_; }
    QToolButton* SpeedButtonScript() const { return SpeedButtonScript_; }
    QCheckBox* CheckBoxStopAtError() const { return CheckBoxStopAtError_; }
    // A script's answers: "Messages" (the log) first, then one tab per result set.
    QTabWidget* ScriptResults() const { return ScriptResults_; }
    QCompleter* Completer() const;
    HistoryPane* History() const { return historyPane_; }
    QueryHistory& QueryLog() const { return *history_; }
    // The history file beside the settings file.
    static constexpr const char* kHistoryFile = "SqlHistory.sqlite";
    QPlainTextEdit* MemoLog() const { return MemoLog_; }
    SqlHighlighter* Highlighter() const { return highlighter_; }
    // Result tabs kept; older ones are closed as new ones come.
    static constexpr int kMaxResultTabs = 50;
    // Lines the Messages log keeps; older ones go as new ones come.
    static constexpr int kMaxLogLines = 10000;
    // While a script runs, the log is brought up to date this often.
    static constexpr int kLogCatchUpMs = 100;
    TMySQLDataSet* MySQLDataSet2() const { return MySQLDataSet2_; }
    // The query's rows as the grid shows them, edited there when they are one table's.
    ResultRows* ResultModel() const { return resultRows_; }
    GridEditing* ResultEditing() const { return resultEditing_; }
    ResultFooter* Footer() const { return footer_; }

public Q_SLOTS:
    // Runs the statement under the busy cursor.
    void SpeedButton7Click();
    // Replaces the editor text with a script file; nothing is run.
    void SpeedButton8Click();
    // Saves the editor text as a script file; nothing happens for a blank text.
    void SpeedButton9Click();
    // Offers completions for the word at the cursor (Ctrl+Space, and after a '.'). The list
    // narrows as the word grows; Return or Tab takes the chosen name, Escape closes it.
    void ShowCompletions();
    // The names of databases, tables and columns are read again at the next completion.
    void ForgetNames();
    // Runs every statement of the editor text (or of the selection) in order, logging each
    // one and giving each result set a tab.
    void RunScriptClick();

Q_SIGNALS:
    // A short note for the window's status line.
    void statusMessage(const QString& text);
    // The connection was lost and the user wants it back (the window connects the server
    // again); nothing is sent again.
    void reconnectRequested();
    // The editor text was just loaded from, or saved to, the file at `path`.
    void fileChosen(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Ctrl+E/U run, Ctrl+Shift+E runs the script, Ctrl+O/keypad 9 open, Ctrl+S/keypad minus
    // save, Ctrl+R searches the history. The editor still receives the key.
    void MemoSQLKeyDown(const QKeyEvent& event);
    // Keeps CheckBox1's right edge 15 pixels from the strip's right edge.
    void Panel6ConstrainedResize();

    void showGrid(bool grid);
    void showScriptResults();
    void addResultTab(db::Result result, qint64 line, int number);
    void showResultGrid(QWidget* page);
    // The selection when there is one, else the whole text.
    QString editorText() const;
    // Shows what Exec's statement answered (run here or on the tab's session).
    void finishExec(const SqlText& sql, const ExecOutcome& ran, std::optional<ui::BusyCursor>& busy);
    // False when the dataset refused to open (it has reported why).
    bool showQuery(const ExecOutcome& outcome);
    // Says in the status line how many result sets the last statement answered with beyond
    // the one shown.
    void reportDroppedResults();
    QString serverWarnings();
    // A cancelled Exec: the memo and the status line say so, no message box.
    void reportCancel(const ExecOutcome& outcome);
    // After a run that lost the connection: says why and offers to connect again. True when
    // the connection was lost.
    bool offerReconnect(const QString& reason);
    ExecOutcome showCommand(const SqlText& sql, const ExecOutcome& outcome);
    HistoryEntry historyEntry(QString statement, qint64 ms, qint64 rows, QString outcome) const;
    // The quoting rules of the connection's SQL mode into the colouring and the completion:
    // after the connect and after each statement, which may have changed the mode.
    void refreshRules();
    // Keeps a statement sent from the panel in the history.
    void remember(const QString& statement, qint64 ms, qint64 rows, const QString& outcome);
    void saveResult();
    QString resolve(const QString& path) const;

    TMySQLConnection& connection_;
    ui::Prompts& prompts_;
    QString programDir_;
    QString openFilter_;
    bool forwardingKey_ = false;  // a key handed on to the editor, not to be handled again

    TMySQLDataSet* MySQLDataSet2_ = nullptr;
    ResultRows* resultRows_ = nullptr;
    GridEditing* resultEditing_ = nullptr;
    ResultFooter* footer_ = nullptr;
    QWidget* Panel6_ = nullptr;
    QToolButton* SpeedButton7_ = nullptr;
    QToolButton* SpeedButton8_ = nullptr;
    QToolButton* SpeedButton9_ = nullptr;
    ui::ElidedLabel* LUseDb_ = nullptr;
    QCheckBox* CheckBox1_ = nullptr;
    QPlainTextEdit* MemoSQL_ = nullptr;
    QSplitter* Splitter2_ = nullptr;
    QPlainTextEdit* MemoResult_ = nullptr;
    ResultGrid* DBGrid2_ = nullptr;
    QToolButton* SpeedButtonScript_ = nullptr;
    QCheckBox* CheckBoxStopAtError_ = nullptr;
    QTabWidget* ScriptResults_ = nullptr;
    QPlainTextEdit* MemoLog_ = nullptr;
    SqlHighlighter* highlighter_ = nullptr;
    EditorCompletion* completion_ = nullptr;
    std::unique_ptr<QueryHistory> history_;
    TabSession* session_ = nullptr;
    QString asideText_;  // the editor text of the statement running on the session
    HistoryPane* historyPane_ = nullptr;
};
