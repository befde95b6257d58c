#include "admin/StatusSampler.h"

#include <algorithm>
#include <chrono>

#include "db/Connection.h"
#include "db/Result.h"

namespace admin {

std::optional<double> StatusSample::number(const QString& name) const {
    const auto found = byName_.constFind(name);
    if (found == byName_.constEnd()) return std::nullopt;
    bool ok = false;
    const double value = values[*found].second.toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

void StatusSample::index() {
    byName_.clear();
    byName_.reserve(qsizetype(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) byName_.insert(values[i].first, i);
}

qint64 monotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

StatusSample readStatus(db::Connection& connection) {
    db::Result rows = connection.select("SHOW GLOBAL STATUS");
    StatusSample sample;
    sample.takenMs = monotonicMs();
    sample.values.reserve(std::size_t(rows.rowCount()));
    while (rows.next()) sample.values.emplace_back(rows.text(0), rows.text(1));
    sample.index();
    return sample;
}

void StatusSampler::add(StatusSample sample) {
    if (sample.byName_.isEmpty()) sample.index();
    samples_[count_ % 2] = std::move(sample);
    ++count_;
}

double StatusSampler::seconds() const {
    if (!hasRate()) return 0;
    const StatusSample& now = latest();
    const StatusSample& before = samples_[count_ % 2];
    return double(now.takenMs - before.takenMs) / 1000.0;
}

std::optional<double> StatusSampler::rate(const QString& name) const {
    const double elapsed = seconds();
    if (elapsed <= 0) return std::nullopt;
    const std::optional<double> now = latest().number(name);
    const std::optional<double> before = samples_[count_ % 2].number(name);
    if (!now || !before || *now < *before) return std::nullopt;
    return (*now - *before) / elapsed;
}

std::optional<StatusPoint> StatusSampler::point() const {
    if (seconds() <= 0) return std::nullopt;
    const StatusSample& now = latest();
    const auto perSecond = [this](const char* name) {
        return rate(QLatin1String(name)).value_or(0.0);
    };
    StatusPoint p;
    p.takenMs = now.takenMs;
    p.queriesPerSecond = perSecond("Questions");
    p.connections = now.number(QStringLiteral("Threads_connected")).value_or(0);
    p.threadsRunning = now.number(QStringLiteral("Threads_running")).value_or(0);
    p.bytesReceivedPerSecond = perSecond("Bytes_received");
    p.bytesSentPerSecond = perSecond("Bytes_sent");
    p.slowQueriesPerSecond = perSecond("Slow_queries");
    const std::optional<double> reads = rate(QStringLiteral("Innodb_buffer_pool_reads"));
    const std::optional<double> requests = rate(QStringLiteral("Innodb_buffer_pool_read_requests"));
    p.diskReadsPerSecond = reads.value_or(0);
    p.readRequestsPerSecond = requests.value_or(0);
    // No request in the interval: nothing to rate, rather than a perfect 100 %.
    if (reads && requests && *requests > 0)
        p.hitRatio = std::clamp(100.0 * (1.0 - *reads / *requests), 0.0, 100.0);
    return p;
}

}  // namespace admin
