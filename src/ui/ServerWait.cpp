#include "ui/ServerWait.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QFrame>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QAbstractSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSplitterHandle>
#include <QTabBar>
#include <QTextEdit>
#include <QPushButton>
#include <QSemaphore>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <memory>

#include "db/Connection.h"
#include "ui/Prompts.h"

namespace ui {

namespace {

constexpr int kTickMs = 100;
constexpr int kStatementShown = 80;
const char* const kAllowedProperty = "lorvexAllowedDuringCalls";

// The window the indicator belongs to: a modal dialog running the command takes input
// only for itself and its own windows.
QWidget* indicatorParent() {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    if (QWidget* active = QApplication::activeWindow()) return active;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && qobject_cast<QMainWindow*>(w)) return w;
    return nullptr;
}

bool isUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::InputMethod:
            return true;
        default:
            return false;
    }
}

}  // namespace

ServerWait::ServerWait(Prompts& prompts, QObject* parent) : QObject(parent), prompts_(prompts) {
    pool_.setMaxThreadCount(2);  // the call and a KILL QUERY
    pool_.setExpiryTimeout(-1);
}

ServerWait::~ServerWait() {
    // A call cannot outlive its connection: wait for the worker (only at exit).
    call_.waitForFinished();
    kill_.waitForFinished();
    delete indicator_;
}

QString ServerWait::runningText(const QString& server, std::string_view statement) {
    return QStringLiteral("Running on %1: %2").arg(server, shortenedStatement(statement, kStatementShown));
}

void ServerWait::allowDuringCalls(QWidget* control, bool allowed) {
    control->setProperty(kAllowedProperty, allowed);
}

template <class T>
void ServerWait::waitFor(const QFuture<T>& future) {
    QEventLoop loop;
    QFutureWatcher<T> watcher;
    connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished()) loop.exec();
}

db::Waiter::Outcome ServerWait::run(db::Connection& connection, std::string_view what,
                                    const std::function<void()>& call, bool cancellable) {
    if (running_) return Outcome::Refused;
    running_ = &connection;
    threadId_ = cancellable ? connection.threadId() : 0;
    cancelRequested_ = false;
    kill_ = {};
    const QString server =
        connection.params().label.isEmpty() ? connection.params().host : connection.params().label;
    runningLine_ = runningText(server, what);
    clock_.start();

    // Most calls are answered within a few milliseconds: such an answer is taken without
    // spinning an event loop for it, which would cost about as much again. The window
    // stands still for no longer than kQuickMs.
    const auto answered = std::make_shared<QSemaphore>();
    call_ = QtConcurrent::run(&pool_, [&call, answered] {
        call();
        answered->release();
    });
    if (answered->tryAcquire(1, kQuickMs)) {
        call_.waitForFinished();
        running_ = nullptr;
        return Outcome::Done;
    }
    qApp->installEventFilter(this);

    QTimer show;
    show.setSingleShot(true);
    connect(&show, &QTimer::timeout, this, &ServerWait::showIndicator);
    show.start(kShowAfterMs);
    QTimer tick;
    connect(&tick, &QTimer::timeout, this, &ServerWait::updateIndicator);
    tick.start(kTickMs);

    waitFor(call_);
    // A KILL still on its way would stop the next statement of the session; a session
    // given up has none.
    if (kill_.isValid() && !connection.abandoned()) waitFor(kill_);

    hideIndicator();
    running_ = nullptr;
    if (closeAfter_) {
        // Closed now, before the command goes on to report the cancel: a message box would
        // otherwise keep the window open until it was answered. The filter stays to dismiss
        // that message.
        closed_ = std::exchange(closeAfter_, nullptr);
        closed_->close();
    } else if (!closed_) {
        qApp->removeEventFilter(this);
    }
    return cancelRequested_ ? Outcome::Cancelled : Outcome::Done;
}

void ServerWait::disconnect() {
    if (!running_) return;
    running_->abandonNow();
    Q_EMIT connectionGivenUp(running_);
}

void ServerWait::cancel() {
    if (!running_ || cancelRequested_ || call_.isFinished()) return;
    cancelRequested_ = true;
    cancelClock_.start();
    updateIndicator();
    // A connect has no session to stop yet; it gives up after its own timeout.
    if (threadId_ == 0) return;
    const db::ConnectParams params = running_->params();
    const unsigned long id = threadId_;
    kill_ = QtConcurrent::run(&pool_, [params, id] {
        try {
            db::cancelQuery(params, id);
        } catch (const db::DbError& e) {
            return QString::fromUtf8(e.what());
        }
        return QString();
    });
}

void ServerWait::showIndicator() {
    if (!running_) return;
    QWidget* parent = indicatorParent();
    // Made once and kept, hidden, between calls; made again only for another window.
    if (indicator_ && indicator_->parentWidget() != parent) delete indicator_;
    if (!indicator_) {
        auto* frame = new QFrame(parent, Qt::Tool | Qt::FramelessWindowHint);
        frame->setObjectName(QStringLiteral("ServerWaitIndicator"));
        frame->setAttribute(Qt::WA_ShowWithoutActivating);
        frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
        auto* layout = new QHBoxLayout(frame);
        label_ = new QLabel(frame);
        label_->setTextFormat(Qt::PlainText);
        cancelButton_ = new QPushButton(QStringLiteral("Cancel"), frame);
        cancelButton_->setCursor(Qt::ArrowCursor);
        connect(cancelButton_, &QPushButton::clicked, this, &ServerWait::cancel);
        disconnectButton_ = new QPushButton(QStringLiteral("Disconnect"), frame);
        disconnectButton_->setCursor(Qt::ArrowCursor);
        disconnectButton_->hide();
        connect(disconnectButton_, &QPushButton::clicked, this, &ServerWait::disconnect);
        layout->addWidget(label_, 1);
        layout->addWidget(cancelButton_);
        layout->addWidget(disconnectButton_);
        indicator_ = frame;
    }
    QWidget* frame = indicator_;
    updateIndicator();
    frame->adjustSize();
    if (parent) {
        const QRect area = parent->geometry();
        frame->move(area.right() - frame->width() - 12, area.bottom() - frame->height() - 12);
    }
    frame->show();
}

void ServerWait::updateIndicator() {
    if (!label_ || !running_) return;
    QString second = QStringLiteral("%1 s").arg(clock_.elapsed() / 1000);
    bool unreachable = false;
    if (cancelRequested_) {
        const QString failed =
            kill_.isValid() && kill_.isFinished() ? kill_.result() : QString();
        unreachable = !failed.isEmpty() || cancelClock_.elapsed() >= kGiveUpAfterMs;
        second = !failed.isEmpty() ? QStringLiteral("Cannot cancel: %1").arg(failed)
                 : unreachable     ? QStringLiteral("The server does not answer the cancel.")
                                   : QStringLiteral("Cancelling...");
        if (unreachable) second += QStringLiteral(" Disconnect gives the connection up.");
    }
    label_->setText(runningLine_ + QLatin1Char('\n') + second);
    cancelButton_->setEnabled(!cancelRequested_ && threadId_ != 0);
    if (unreachable && disconnectButton_->isHidden()) {
        disconnectButton_->show();
        indicator_->adjustSize();
    }
}

void ServerWait::hideIndicator() {
    if (indicator_) indicator_->hide();
    if (disconnectButton_) disconnectButton_->hide();
}

// A text field or editor, or a part of one (its viewport, its own context menu).
bool inTextField(const QWidget* w) {
    for (; w; w = w->parentWidget())
        if (qobject_cast<const QPlainTextEdit*>(w) || qobject_cast<const QTextEdit*>(w) ||
            qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w))
            return true;
    return false;
}

bool ServerWait::passes(QObject* target, QEvent* event) const {
    auto* w = static_cast<QWidget*>(target);
    const QEvent::Type type = event->type();
    // A text field claims its own keys (Ctrl+C) through the override event, let through
    // below; other shortcuts were refused before.
    if (type == QEvent::Wheel) return true;
    if (auto* menu = qobject_cast<QMenu*>(w)) {
        // Moving through a menu is free; choosing an item runs it, unless the item belongs
        // to a text field's own menu (Copy, Select All).
        const bool chooses =
            type == QEvent::MouseButtonRelease ||
            (type == QEvent::KeyPress &&
             (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Return ||
              static_cast<QKeyEvent*>(event)->key() == Qt::Key_Enter));
        if (!chooses) return true;
        QAction* action = type == QEvent::MouseButtonRelease
                              ? menu->actionAt(static_cast<QMouseEvent*>(event)->position().toPoint())
                              : menu->activeAction();
        return !action || action->menu() || action->isSeparator() || inTextField(menu->parentWidget());
    }
    // The completion list of the text field being typed in.
    if (QWidget* window = w->window(); window->windowType() == Qt::Popup &&
                                       qobject_cast<QAbstractItemView*>(window) &&
                                       inTextField(QApplication::focusWidget()))
        return true;
    if (qobject_cast<QMenuBar*>(w) || qobject_cast<QScrollBar*>(w) ||
        qobject_cast<QSplitterHandle*>(w) || qobject_cast<QTabBar*>(w))
        return true;
    return inTextField(w);
}

void ServerWait::refuse(QEvent* event) {
    // One note for a press, not for its release and the moves around it.
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::KeyPress || type == QEvent::Shortcut ||
        type == QEvent::MouseButtonDblClick)
        Q_EMIT inputRefused(runningLine_ +
                          QStringLiteral(" - wait for it to end, or press Escape to cancel it."));
}

bool ServerWait::allowed(QObject* target) const {
    for (auto* w = qobject_cast<QWidget*>(target); w; w = w->parentWidget()) {
        if (w == indicator_ || w->property(kAllowedProperty).toBool()) return true;
    }
    return false;
}

bool ServerWait::eventFilter(QObject* watched, QEvent* event) {
    if (closed_ && !running_ && event->type() == QEvent::Show) {
        if (auto* dialog = qobject_cast<QDialog*>(watched); dialog && dialog->isWindow())
            QTimer::singleShot(0, dialog, [dialog] { dialog->reject(); });
        return false;
    }
    if (prompting_ || !running_) return false;
    const QEvent::Type type = event->type();
    // A shortcut goes to its action, no widget: it would start a command.
    if (type == QEvent::Shortcut) {
        refuse(event);
        return true;
    }
    // Events reach a window before its widgets; the widgets are what is filtered.
    if (!watched->isWidgetType()) return false;
    if ((type == QEvent::KeyPress || type == QEvent::ShortcutOverride) &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        cancel();
        event->accept();
        return true;
    }
    if (isUserInput(type)) {
        if (allowed(watched) || passes(watched, event)) return false;
        refuse(event);
        return true;
    }
    if (type == QEvent::Close) {
        auto* window = static_cast<QWidget*>(watched);
        if (!window->isWindow() || allowed(window)) return false;
        event->ignore();
        if (qobject_cast<QMainWindow*>(window)) {
            QTimer::singleShot(0, this, [this, w = QPointer<QWidget>(window)] {
                if (w) askToClose(w);
            });
        } else {
            cancel();
        }
        return true;
    }
    return false;
}

void ServerWait::askToClose(QWidget* window) {
    if (!running_) {
        window->close();
        return;
    }
    prompting_ = true;
    const bool yes = prompts_.yesNo(
        window, runningLine_ + QStringLiteral("\n\nCancel it and close the window?"),
        QStringLiteral("Close"));
    prompting_ = false;
    if (!yes) return;
    if (!running_) {
        // The call ended while the question was open: close now, and dismiss what the
        // command still shows.
        closed_ = window;
        qApp->installEventFilter(this);
        window->close();
        return;
    }
    closeAfter_ = window;
    cancel();
    QTimer::singleShot(kCloseWithinMs, this, [this] {
        if (closeAfter_) disconnect();
    });
}

}  // namespace ui
