#pragma once

#include <QElapsedTimer>
#include <atomic>
#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>

#include "db/Waiter.h"

#include <QLabel>
#include <QPushButton>
class QWidget;

namespace ui {

class Prompts;

// How the window waits for the server without freezing.
//
// Every connection the window uses is given this waiter (db::Connection::setWaiter). A
// blocking client-library call is run on a worker thread while the user-interface thread
// spins a local event loop: the window repaints, moves and resizes, and input that needs
// no server goes on - typing and selecting in text fields and editors (their own context
// menus too), scrolling, opening menus. What would start a command - buttons, menu items,
// shortcuts, clicks and keys in trees and grids - is refused, with a note (inputRefused:
// what runs, that Escape cancels it), except the busy indicator and the controls marked
// with allowDuringCalls() (a dump's Stop button). So a handler never runs twice, and a
// second command cannot start on a connection that is busy; a call made anyway (a timer)
// is refused by the connection's lease. The command itself keeps its order: its next line
// runs when the call has ended, as before.
//
// A call answered within kQuickMs is taken without the event loop: the window stands
// still no longer than that, and a quick answer costs no more than the answer.
//
// After kShowAfterMs an indicator names the server, the statement and the seconds spent,
// with a Cancel button; Escape presses it. Cancel sends KILL QUERY for the session over a
// short-lived connection of its own; the call ends with the server's interruption, which
// the connection reports as "Cancelled by the user after 4.2 s.". The session stays usable.
// Closing the main window during a call asks whether to cancel it; agreed, the window
// closes as soon as the call has ended, and what the cancelled command still has to say
// (its message about the cancel) is dismissed: the user has already answered.
class ServerWait : public QObject, public db::Waiter {
    Q_OBJECT

public:
    static constexpr int kShowAfterMs = 300;
    // A call answered within this is waited for without an event loop.
    static constexpr int kQuickMs = 3;

    explicit ServerWait(Prompts& prompts, QObject* parent = nullptr);
    ~ServerWait() override;

    Outcome run(db::Connection& connection, std::string_view what,
                const std::function<void()>& call, bool cancellable) override;
    void cancel() override;
    bool busy() const override { return running_ != nullptr; }
    bool cancelRequested() const override { return cancelRequested_; }

    // A control that stays usable while a call runs (and should cancel it); `allowed` false
    // shuts it out again.
    static void allowDuringCalls(QWidget* control, bool allowed = true);

Q_SIGNALS:
    // Input that would start a command was refused while a call runs: a line for the
    // status bar.
    void inputRefused(const QString& note);
    // The user gave the running call's connection up (Disconnect, or closing the window
    // past kCloseWithinMs): its session is gone.
    void connectionGivenUp(const db::Connection* connection);

public:

    // The indicator (hidden between calls); null before the first call that showed it.
    QWidget* indicator() const { return indicator_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    // Shown once a cancel has not reached the server (its connection failed or has not
    // got through within kGiveUpAfterMs): gives the connection up (db::Connection::abandonNow).
    QPushButton* disconnectButton() const { return disconnectButton_; }
    static constexpr int kGiveUpAfterMs = 3000;
    // After "Cancel it and close the window?" the window waits this long for the cancel,
    // then gives the connection up: a stopped server never holds it open.
    static constexpr int kCloseWithinMs = 1000;
    void disconnect();

    // The indicator's first line: "Running on <server>: <statement, shortened>".
    static QString runningText(const QString& server, std::string_view statement);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showIndicator();
    void updateIndicator();
    void hideIndicator();
    bool allowed(QObject* target) const;
    // Whether input to `target` may go on while a call runs (see the class comment).
    bool passes(QObject* target, QEvent* event) const;
    void refuse(QEvent* event);
    void askToClose(QWidget* window);
    template <class T>
    void waitFor(const QFuture<T>& future);

    Prompts& prompts_;
    QThreadPool pool_;  // its threads stay: a call never waits for one to start
    db::Connection* running_ = nullptr;
    unsigned long threadId_ = 0;  // the session the running call is on
    QString runningLine_;
    QElapsedTimer clock_;
    std::atomic_bool cancelRequested_ = false;  // read by the work running aside
    bool prompting_ = false;
    QFuture<void> call_;
    QFuture<QString> kill_;  // the KILL QUERY: its error, empty when sent
    QPointer<QWidget> indicator_;
    QPointer<QLabel> label_;
    QPointer<QPushButton> cancelButton_;
    QPointer<QPushButton> disconnectButton_;
    QElapsedTimer cancelClock_;  // since the cancel was asked for
    QPointer<QWidget> closeAfter_;
    // The window closed on the user's word; from then on the command's dialogs are dismissed.
    QPointer<QWidget> closed_;
};

}  // namespace ui
