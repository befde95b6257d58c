#pragma once

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <string>

#include "dataset/TMySQLConnection.h"
#include "dataset/TMySQLDataSet.h"

// The server session of one query tab: a connection of the tab's own, opened with the
// parameters of the window's connection (through the same tunnel, if any) when the tab first
// needs it, so a long statement in one tab leaves the window and the other tabs usable.
//
// A tab's statement runs asynchronously: start() sends it and reads its answer on a worker
// thread, and finished() hands the answer back on the user-interface thread. The window does
// not wait for it (the waiter is kept off the connection meanwhile): a call the tab makes on
// its connection during the run is refused by the connection's lease, not queued. Work that
// is not a single statement (a script, the completion's names) goes through the window's
// waiter as before, on the tab's connection.
class TabSession : public QObject {
    Q_OBJECT
public:
    explicit TabSession(TMySQLConnection& main, QObject* parent = nullptr);
    ~TabSession() override;

    TMySQLConnection& connection() { return own_; }
    // The database to use: selected before the next statement (the tab's "Use DB" label).
    void setDatabase(const QString& name);
    bool running() const { return running_; }
    qint64 runningMs() const { return running_ ? clock_.elapsed() : 0; }
    const QString& statementText() const { return statementText_; }

    // Runs `statement` on a worker thread, first opening the connection when it is closed
    // and selecting the database. False when nothing started (one runs already).
    bool start(const QString& statement, std::uint64_t rowLimit);
    // What the statement answered, once finished() came.
    TMySQLDataSet::Answer takeAnswer() { return std::move(answer_); }
    // Opens the connection now if it is closed, waiting through the window's waiter (a
    // script runs on the tab's connection). Throws db::DbError.
    void openNow();
    // Stops the running statement (KILL QUERY over a connection of its own); it then ends
    // as cancelled by the user.
    void cancel();
    // Ends the session (the window disconnected, the tab closed): a running statement is
    // given up, the next one opens the connection again.
    void close();

Q_SIGNALS:
    void started();
    void finished();
    // The cancel could not reach the server.
    void cancelFailed(const QString& text);

private:
    void done();
    // KILL QUERY for the session over a connection of its own; `report`: a failure is said
    // (cancelFailed).
    void sendKill(unsigned long id, bool report);
    db::ConnectParams params() const;

    TMySQLConnection& main_;
    TMySQLConnection own_;
    QFutureWatcher<TMySQLDataSet::Answer> watcher_;
    TMySQLDataSet::Answer answer_;
    db::Waiter* waiter_ = nullptr;  // the window's, off the connection while a statement runs
    QString database_;
    bool useDatabase_ = false;  // database_ changed since the session last selected one
    bool running_ = false;
    bool justOpened_ = false;
    QString statementText_;
    QElapsedTimer clock_;
    std::atomic<unsigned long> threadId_{0};  // of the session, once the worker knows it
    std::atomic<bool> cancelAsked_{false};
};
