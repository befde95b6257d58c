#include "sqleditor/TabSession.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include "db/DbError.h"

namespace {

// The database of the tab's label, refused (dropped since, or not granted).
QString useFailure(const QString& database, const QString& reason) {
    return QStringLiteral("Cannot use the database %1: %2").arg(database, reason);
}

// The threads of the tabs' statements and of their cancels: apart from the global pool,
// whose few threads two long statements would take, leaving a cancel queued behind them.
QThreadPool& sessionThreads() {
    static QThreadPool pool;
    // A thread ends as soon as it is idle: one kept to the end of the process would hold
    // the TLS library's state for its thread past the process's last checks.
    static const bool sized = (pool.setMaxThreadCount(256), pool.setExpiryTimeout(0), true);
    (void)sized;
    return pool;
}

}  // namespace

TabSession::TabSession(TMySQLConnection& main, QObject* parent)
    : QObject(parent), main_(main) {
    connect(&watcher_, &QFutureWatcherBase::finished, this, &TabSession::done);
}

TabSession::~TabSession() { close(); }

void TabSession::setDatabase(const QString& name) {
    database_ = name;
    useDatabase_ = true;
    own_.SetDB(name);
}

db::ConnectParams TabSession::params() const {
    db::ConnectParams params = main_.connection().params();
    params.database.clear();  // selected after the connect: a dropped one must not refuse it
    return params;
}

bool TabSession::start(const QString& statement, std::uint64_t rowLimit) {
    if (running_) return false;
    db::Connection& c = own_.connection();
    // A session the server dropped, or that a cancel gave up, is opened anew.
    if (c.isOpen() && (c.connectionLost() || c.abandoned())) c.close();
    const bool open = c.isOpen();
    if (!open && !main_.connection().isOpen()) {
        answer_ = {};
        answer_.failure = QStringLiteral("Not connected to a server: connect one in the tree first.");
        answer_.errorCode = 2006;
        running_ = true;  // done() reports it, as any other answer
        QTimer::singleShot(0, this, &TabSession::done);
        return true;
    }
    const db::ConnectParams connectWith = params();
    const QString database = (!open || useDatabase_) ? database_ : QString();
    waiter_ = main_.connection().waiter();
    c.setWaiter(nullptr);  // the worker makes its calls itself; the window does not wait
    running_ = true;
    justOpened_ = !open;
    useDatabase_ = false;
    cancelAsked_ = false;
    threadId_ = open ? c.threadId() : 0;
    statementText_ = statement;
    clock_.start();
    const std::string bytes = db::utf8(statement);
    watcher_.setFuture(QtConcurrent::run(&sessionThreads(), [this, &c, open, connectWith, database, bytes, rowLimit] {
        TMySQLDataSet::Answer answer;
        try {
            if (!open) c.connect(connectWith);
        } catch (const db::DbError& e) {
            answer.failure = QString::fromUtf8(e.what());
            answer.errorCode = e.code();
            return answer;
        }
        threadId_ = c.threadId();
        if (!database.isEmpty() && !c.selectDb(database)) {
            answer.failure = useFailure(database, c.errorText());
            answer.errorCode = c.errorNumber();
            return answer;
        }
        return TMySQLDataSet::Execute(c, bytes, rowLimit);
    }));
    Q_EMIT started();
    return true;
}

void TabSession::done() {
    if (!running_) return;
    if (watcher_.future().isValid() && watcher_.isFinished()) {
        answer_ = watcher_.future().takeResult();
        watcher_.setFuture(QFuture<TMySQLDataSet::Answer>());
    }
    own_.connection().setWaiter(waiter_);
    // The window waits for a call of its own (another tab's statement reading its warnings):
    // the answer is shown when that has ended, not inside its wait.
    if (waiter_ && waiter_->busy()) {
        QTimer::singleShot(20, this, &TabSession::done);
        return;
    }
    // Whatever the statement ended with after the user's cancel (an interruption, or the
    // connection given up while it was still being opened) is the cancel.
    if (cancelAsked_ && answer_.errorCode != 0) {
        answer_.cancelled = true;
        answer_.failure = db::cancelledText(clock_.elapsed());
    }
    running_ = false;
    if (justOpened_ && own_.connection().isOpen()) Q_EMIT own_.AfterConnect();
    justOpened_ = false;
    Q_EMIT finished();
}

void TabSession::openNow() {
    if (running_) return;
    db::Connection& c = own_.connection();
    c.setWaiter(main_.connection().waiter());
    if (!c.isOpen()) {
        c.connect(params());
        useDatabase_ = true;
        Q_EMIT own_.AfterConnect();
    }
    if (useDatabase_ && !database_.isEmpty()) c.selectDb(database_);
    useDatabase_ = false;
}

void TabSession::cancel() {
    if (!running_ || cancelAsked_) return;
    cancelAsked_ = true;
    const unsigned long id = threadId_;
    if (id == 0) {  // still connecting: nothing runs on the server yet
        own_.connection().abandonNow();
        return;
    }
    sendKill(id, true);
}

void TabSession::sendKill(unsigned long id, bool report) {
    const db::ConnectParams params = main_.connection().params();
    QPointer<TabSession> self(this);
    // Off the window's thread: reaching the server may take its 2 s.
    (void)QtConcurrent::run(&sessionThreads(), [self, params, id, report] {
        try {
            db::cancelQuery(params, id);
        } catch (const db::DbError& e) {
            if (!report) return;
            const QString text = QString::fromUtf8(e.what());
            QMetaObject::invokeMethod(qApp, [self, text] {
                if (self) Q_EMIT self->cancelFailed(text);
            });
        }
    });
}

void TabSession::close() {
    db::Connection& c = own_.connection();
    if (running_) {
        // The server goes on with a statement whose client has gone (an UPDATE would still
        // change every row): it is stopped there too. Given up here rather than waited
        // for: the socket is shut under the statement, which ends at once.
        if (const unsigned long id = threadId_; id != 0 && !cancelAsked_) sendKill(id, false);
        if (watcher_.isRunning()) c.abandonNow();
        watcher_.waitForFinished();
        if (watcher_.future().isValid()) answer_ = watcher_.future().takeResult();
        watcher_.setFuture(QFuture<TMySQLDataSet::Answer>());
        c.setWaiter(waiter_);
        running_ = false;
        justOpened_ = false;
        // The user ended it (disconnected, closed the tab): said as a cancel, not as a
        // connection to get back.
        answer_.cancelled = true;
        answer_.errorCode = answer_.errorCode ? answer_.errorCode : 2013;
        answer_.failure = QStringLiteral("Stopped after %1 s: the tab's connection was closed.")
                              .arg(double(clock_.elapsed()) / 1000.0, 0, 'f', 1);
        Q_EMIT finished();
    }
    c.close();
    useDatabase_ = true;
}
