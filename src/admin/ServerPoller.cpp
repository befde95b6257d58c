#include "admin/ServerPoller.h"

#include <QThread>
#include <QTimer>
#include <atomic>

namespace admin {

namespace {

// A periodic read gives a server that stopped answering a few seconds, not the ten minutes
// a statement of the user's may take.
constexpr unsigned kPollTimeoutSeconds = 5;

}  // namespace

// Lives on the poller's thread; owns the connection, which only that thread uses.
class ServerPoller::Worker : public QObject {
    Q_OBJECT
public:
    Worker(Job job, db::ConnectParams params, int intervalMs)
        : job_(std::move(job)), params_(std::move(params)), intervalMs_(intervalMs) {}

    void begin() {
        timer_ = new QTimer(this);
        timer_->setInterval(intervalMs_);
        connect(timer_, &QTimer::timeout, this, &Worker::tick);
        try {
            params_.database.clear();
            params_.multiStatements = false;
            params_.netTimeout = kPollTimeoutSeconds;
            params_.connectTimeout = kPollTimeoutSeconds;
            if (stopping_) return;
            connection_.connect(params_);
        } catch (const std::exception& error) {
            if (!stopping_) Q_EMIT failed(QString::fromUtf8(error.what()));
            return;
        }
        tick();
        timer_->start();
    }

    void finish() {
        if (timer_) timer_->stop();
        connection_.close();
    }

    // From the user-interface thread: no further job starts, and one that runs now is cut
    // off from its server.
    void interrupt() {
        stopping_ = true;
        connection_.abandonNow();
    }

Q_SIGNALS:
    void polled(const QVariant& result);
    void failed(const QString& reason);

private:
    void tick() {
        if (stopping_) return;
        try {
            QVariant result = job_(connection_);
            if (!stopping_) Q_EMIT polled(result);
        } catch (const std::exception& error) {
            timer_->stop();
            if (!stopping_) Q_EMIT failed(QString::fromUtf8(error.what()));
        }
    }

    Job job_;
    db::ConnectParams params_;
    int intervalMs_;
    db::Connection connection_;
    QTimer* timer_ = nullptr;
    std::atomic<bool> stopping_{false};
};

ServerPoller::ServerPoller(Job job, QObject* parent) : QObject(parent), job_(std::move(job)) {}

ServerPoller::~ServerPoller() { stop(); }

void ServerPoller::start(const db::ConnectParams& params, int intervalMs) {
    stop();
    thread_ = new QThread;
    worker_ = new Worker(job_, params, intervalMs);
    worker_->moveToThread(thread_);
    connect(thread_, &QThread::started, worker_, &Worker::begin);
    // What a stopped worker had already sent is dropped: the window asked for no more.
    const int generation = ++generation_;
    connect(worker_, &Worker::polled, this, [this, generation](const QVariant& result) {
        if (generation != generation_ || !thread_) return;
        ++runs_;
        Q_EMIT polled(result);
    });
    connect(worker_, &Worker::failed, this, [this, generation](const QString& reason) {
        if (generation != generation_ || !thread_) return;
        stop();
        Q_EMIT failed(reason);
    });
    thread_->start();
}

void ServerPoller::stop() {
    if (!thread_) return;
    worker_->interrupt();
    // The worker's own clean-up runs on its thread, before that thread's loop ends.
    QMetaObject::invokeMethod(worker_, &Worker::finish, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
    delete worker_;
    delete thread_;
    worker_ = nullptr;
    thread_ = nullptr;
}

}  // namespace admin

#include "ServerPoller.moc"
