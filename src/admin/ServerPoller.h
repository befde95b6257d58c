#pragma once

#include <QObject>
#include <QVariant>
#include <functional>
#include <memory>

#include "db/Connection.h"

class QThread;

namespace admin {

// Runs one job at an interval on a thread of its own, against a connection of its own made
// with the window's connection's parameters, so that periodic reads never wait on or
// block the window. The window only receives what the job returned.
// Create, start and stop from the user-interface thread only.
class ServerPoller : public QObject {
    Q_OBJECT
public:
    // `job` runs on the poller's thread; it returns what `polled` carries and throws
    // db::DbError when the server refuses or is gone.
    using Job = std::function<QVariant(db::Connection&)>;

    explicit ServerPoller(Job job, QObject* parent = nullptr);
    ~ServerPoller() override;

    // Connects on the poller's thread and runs the job at once, then every `intervalMs`.
    // A poller already running is stopped first.
    void start(const db::ConnectParams& params, int intervalMs);
    // Ends the thread. A job blocked on a server that does not answer is cut off (its
    // socket shut down), so this returns at once.
    void stop();
    bool running() const { return thread_ != nullptr; }
    // How many times the job has run since the poller was created, for tests and benches.
    int runs() const { return runs_; }

Q_SIGNALS:
    void polled(const QVariant& result);
    // The connection failed or the job threw: the poller has stopped. `reason` says why.
    void failed(const QString& reason);

private:
    class Worker;
    Job job_;
    QThread* thread_ = nullptr;
    Worker* worker_ = nullptr;
    int runs_ = 0;
    int generation_ = 0;  // of the worker started last
};

}  // namespace admin
