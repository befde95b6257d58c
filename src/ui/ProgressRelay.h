#pragma once

#include <QMetaObject>
#include <QObject>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

namespace ui {

// Brings the progress of work run aside (db::Connection::runAside) to the window's thread.
// The work's thread posts its latest progress; the window shows it from its event loop,
// which the waiter keeps running. At most one note waits in the queue: progress that comes
// faster than the window shows it replaces the note instead of piling up behind it.
// Made and destroyed on the window's thread; what is still waiting when it goes is shown.
template <class Progress>
class ProgressRelay {
public:
    explicit ProgressRelay(std::function<void(const Progress&)> show) : show_(std::move(show)) {}
    ~ProgressRelay() { deliver(); }
    ProgressRelay(const ProgressRelay&) = delete;
    ProgressRelay& operator=(const ProgressRelay&) = delete;

    // From the work's thread.
    void post(const Progress& progress) {
        {
            const std::lock_guard<std::mutex> hold(lock_);
            latest_ = progress;
            if (std::exchange(queued_, true)) return;
        }
        QMetaObject::invokeMethod(&receiver_, [this] { deliver(); }, Qt::QueuedConnection);
    }

    // On the window's thread: shows the progress waiting, if any.
    void deliver() {
        std::optional<Progress> progress;
        {
            const std::lock_guard<std::mutex> hold(lock_);
            progress.swap(latest_);
            queued_ = false;
        }
        if (progress) show_(*progress);
    }

private:
    std::function<void(const Progress&)> show_;
    QObject receiver_;  // a note still queued when the relay goes is dropped with it
    std::mutex lock_;
    std::optional<Progress> latest_;
    bool queued_ = false;
};

}  // namespace ui
