#pragma once

#include <QHash>
#include <QMetaType>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

namespace db {
class Connection;
}

namespace admin {

// One answer of SHOW GLOBAL STATUS and when it arrived.
struct StatusSample {
    qint64 takenMs = 0;  // a monotonic clock's milliseconds, not the wall clock
    std::vector<std::pair<QString, QString>> values;  // name, value, in the server's order

    // The value of a counter as a number; none when absent or not a number.
    std::optional<double> number(const QString& name) const;

private:
    friend StatusSample readStatus(db::Connection& connection);
    friend class StatusSampler;
    void index();
    QHash<QString, std::size_t> byName_;
};

// SHOW GLOBAL STATUS on `connection`, stamped when its answer is in: the time between two
// answers is what the counters grew in, whatever a timer's jitter. Throws db::DbError.
StatusSample readStatus(db::Connection& connection);
// Milliseconds of the monotonic clock the samples are stamped with.
qint64 monotonicMs();

// The figures the charts draw, for the time between two samples.
struct StatusPoint {
    qint64 takenMs = 0;
    double queriesPerSecond = 0;
    double connections = 0;  // Threads_connected
    double threadsRunning = 0;
    double bytesReceivedPerSecond = 0;
    double bytesSentPerSecond = 0;
    double diskReadsPerSecond = 0;     // Innodb_buffer_pool_reads
    double readRequestsPerSecond = 0;  // Innodb_buffer_pool_read_requests
    std::optional<double> hitRatio;    // percent of read requests served from memory
    double slowQueriesPerSecond = 0;
};

// Keeps the last two samples and works out what changed between them.
class StatusSampler {
public:
    void add(StatusSample sample);
    bool hasRate() const { return count_ >= 2; }
    const StatusSample& latest() const { return samples_[(count_ + 1) % 2]; }
    // Seconds between the two samples; 0 before the second.
    double seconds() const;
    // How much a counter grew per second between the two samples. None before the second
    // sample, for a value that is no number, and for a counter that went backwards (FLUSH
    // STATUS or a restart reset it): a negative rate would be a lie.
    std::optional<double> rate(const QString& name) const;
    // The charts' figures; none before the second sample. A counter that went backwards
    // counts as 0 for that interval.
    std::optional<StatusPoint> point() const;

private:
    StatusSample samples_[2];
    int count_ = 0;  // samples added so far (the latest is at (count_ + 1) % 2)
};

}  // namespace admin

Q_DECLARE_METATYPE(admin::StatusSample)
