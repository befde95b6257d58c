#pragma once

#include <QString>
#include <QStringList>
#include <QTabWidget>
#include <map>
#include <memory>
#include <optional>

#include "sqleditor/QueryTabStore.h"

class QTimer;
class QToolButton;
class TabSession;
class SqlPanel;
class TMySQLConnection;

namespace ui {
class Prompts;
}

// The editors of the SQL tab: a tab for each SqlPanel. Ctrl+T (or "+") opens one, Ctrl+W
// (or the tab's close button) closes the current one, asking first when its text is not
// saved to its file. The last tab never goes: closing it leaves one empty tab. A tab is
// named after its file, "Query N" while it has none, and marked with '*' while its text
// differs from the file's. What the tabs hold is kept beside the settings file
// (QueryTabStore) and restored at the next start, after a crash too.
//
// The first tab runs on the window's connection, waited for as every call of the window is.
// Every other tab has a session of its own (TabSession), opened when it first runs a
// statement: its statement runs without the window waiting, with a "Running" line and a
// Cancel button (and Escape) of the tab's own, so the other tabs and the tree stay usable.
// When the window's tab closes, the next tab opened takes the window's connection.
class QueryTabs : public QTabWidget {
    Q_OBJECT
public:
    static constexpr char kModifiedMark = '*';

    QueryTabs(TMySQLConnection& connection, ui::Prompts& prompts, const QString& programDir,
              QWidget* parent = nullptr);
    ~QueryTabs() override;

    // Opens the tabs of the last run (one empty tab when there were none). Returns what could
    // not be restored as it was, for the window to tell.
    QStringList Restore();

    SqlPanel& Current() const { return Panel(currentIndex()); }
    SqlPanel& Panel(int index) const;
    // "Query 3", "report.sql"; without the mark.
    QString TabName(int index) const;
    QString FileName(int index) const;
    // The text differs from its file's (or, without a file, is not empty).
    bool Modified(int index) const;
    QToolButton* NewTabButton() const { return newTabButton_; }
    QueryTabStore& Store() { return store_; }
    // The tab's own session; null for the tab on the window's connection.
    TabSession* Session(int index) const;
    // The tab's "Running 3 s" line with its Cancel button; null for the window's tab.
    QWidget* RunLine(int index) const;

    SqlPanel& NewTab();
    // False when the tab stays (the user cancelled, or the save failed).
    bool CloseTab(int index);
    // The names of the tabs whose statement runs on a session of their own.
    QStringList RunningTabs() const;

    // The database the tree chose, for the current tab (and the window's tab, whose
    // connection the window moves to it).
    void SetUseDb(const QString& name);
    // A new or closed connection: no tab has a database yet, and the tabs' own sessions
    // end (the next statement opens them again, on the server now connected).
    void ClearUseDb();
    // A dropped database leaves every tab that named it.
    void ForgetDatabase(const QString& name);
    void ForgetNames();
    void SetOpenFilter(const QString& filter);
    // Writes the tabs now (closing the window).
    void Flush() { store_.flush(); }

Q_SIGNALS:
    void statusMessage(const QString& text);
    void reconnectRequested();

private:
    struct TabState {
        QString fileName;
        // The file's text as the editor last had it; none when the file is gone.
        std::optional<QString> baseline = QString();
        int number = 0;  // of "Query N", while there is no file
        std::shared_ptr<TabSession> session;
        QWidget* runLine = nullptr;
    };

    SqlPanel& addPanel(const QString& text, const QString& fileName);
    TabState& state(int index);
    const TabState& state(int index) const;
    int freeNumber() const;
    void updateTitle(int index);
    // Asks whether to save; false keeps the tab.
    bool mayClose(int index);
    bool saveTab(int index);
    QueryTabStore::Contents contents() const;
    // The running line, Cancel and Escape of a tab with its own session.
    QWidget* addRunLine(SqlPanel& panel, TabSession& session);
    void updateRunLines();
    QString resolve(const QString& path) const;

    TMySQLConnection& connection_;
    ui::Prompts& prompts_;
    QString programDir_;
    QString openFilter_;
    QueryTabStore store_;
    QToolButton* newTabButton_ = nullptr;
    std::map<const QWidget*, TabState> states_;
    bool restoring_ = false;
    const QWidget* windowTab_ = nullptr;  // the tab on the window's connection
    QTimer* runClock_ = nullptr;
};
