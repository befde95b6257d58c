#pragma once
// The real main window against the bench server, and the event-loop clock the window
// benchmarks share.

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>

#include "BenchServer.h"
#include "app/TfrmMain.h"
#include "ui/Prompts.h"

namespace bench {

struct Measured {
    qint64 ms = 0;
    qint64 gapMs = 0;  // the longest pause of the event loop
};

// Runs `command` while a 5 ms timer notes the longest pause of the event loop; `during`
// runs once after `afterMs`.
inline Measured measure(const std::function<void()>& command, int afterMs = -1,
                        const std::function<void()>& during = {}) {
    QElapsedTimer clock;
    clock.start();
    Measured m;
    qint64 last = 0;
    bool fired = false;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        m.gapMs = std::max(m.gapMs, now - last);
        last = now;
        if (!fired && afterMs >= 0 && now >= afterMs) {
            fired = true;
            during();
        }
    });
    tick.start(5);
    command();
    m.ms = clock.elapsed();
    m.gapMs = std::max(m.gapMs, m.ms - last);
    return m;
}

// Notes when the watched widget has been painted: with `ready` given, only a paint done when
// ready() held (the rows on screen read, say) counts, and `paintedAt` is the time on `clock`
// when that paint had ended.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* widget, std::function<bool()> ready = {},
                        const QElapsedTimer* clock = nullptr)
        : ready_(std::move(ready)), clock_(clock) {
        widget->installEventFilter(this);
    }
    bool painted = false;
    qint64 paintedAt = -1;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint || inside_) return false;
        if (ready_ && !ready_()) return false;
        // Painted here, so that the time taken is the paint's end.
        inside_ = true;
        static_cast<QObject*>(watched)->event(event);
        inside_ = false;
        painted = true;
        if (clock_) paintedAt = clock_->elapsed();
        return true;
    }
    // Processes events until a paint that counts has been delivered (and so handled); false
    // when none came within `timeoutMs`.
    bool wait(int timeoutMs = 60000) {
        painted = false;
        QElapsedTimer waited;
        waited.start();
        while (!painted) {
            if (waited.elapsed() > timeoutMs) return false;
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        QApplication::processEvents();
        return true;
    }

private:
    std::function<bool()> ready_;
    const QElapsedTimer* clock_;
    bool inside_ = false;
};

// Says messages on stderr, answers OK to every question and No to yes-or-no ones (which
// offer to change something), and opens `file`.
class QuietPrompts : public ui::WidgetPrompts {
public:
    QString file;

    void message(QWidget*, const QString& text, const QString&) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool okCancel(QWidget*, const QString&, const QString&) override { return true; }
    bool yesNo(QWidget*, const QString&, const QString&) override { return false; }
    QString openFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return file;
    }
};

// TfrmMain in a program folder of its own that lists the bench server, shown (offscreen
// under runChild) with the server connected and expanded.
class MainWindow {
public:
    explicit MainWindow(ui::Prompts& prompts) {
        QFile list(dir_.filePath(QStringLiteral("HostInfor.Dat")));
        if (!list.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write the server list");
        const db::ConnectParams p = params();
        list.write(QStringLiteral("<HOST NAME=\"bench\"><IP>%1</IP><USERID>%2</USERID><PASSWD>%3"
                                  "</PASSWD></HOST>")
                       .arg(p.host, p.user, p.password)
                       .toUtf8());
        list.close();
        // As the window keeps it: it would otherwise offer to make the list private.
        list.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        window_ = std::make_unique<TfrmMain>(dir_.path(), prompts);
        window_->resize(1000, 700);
        window_->show();
        expand(window_->TreeView1().topLevelItem(0));
    }

    TfrmMain& window() { return *window_; }
    QString dir() const { return dir_.path(); }

    // The node at `path` below the server node (captions, "DB" first), each node on the
    // way expanded when it does not list the next one yet.
    QTreeWidgetItem* open(std::initializer_list<QString> path) {
        QTreeWidgetItem* item = window_->TreeView1().topLevelItem(0);
        for (const QString& caption : path) {
            QTreeWidgetItem* found = childNamed(item, caption);
            if (!found) {
                expand(item);
                found = childNamed(item, caption);
            }
            if (!found) throw std::runtime_error("tree node missing: " + caption.toStdString());
            item = found;
        }
        return item;
    }

    // A single click on `item`, as the tree passes it on.
    void click(QTreeWidgetItem* item) {
        window_->TreeView1().setCurrentItem(item);
        window_->TreeView1Click();
    }

    void expand(QTreeWidgetItem* item) {
        if (!item) throw std::runtime_error("tree node missing");
        window_->TreeView1().setCurrentItem(item);
        window_->tree().ExpandNode();
    }

private:
    static QTreeWidgetItem* childNamed(QTreeWidgetItem* item, const QString& caption) {
        for (int i = 0; i < item->childCount(); ++i)
            if (item->child(i)->text(0) == caption) return item->child(i);
        return nullptr;
    }

    QTemporaryDir dir_;
    std::unique_ptr<TfrmMain> window_;
};

}  // namespace bench
