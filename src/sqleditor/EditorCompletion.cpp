#include "sqleditor/EditorCompletion.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringListModel>

#include "db/Connection.h"
#include "ui/BusyCursor.h"
#include "ui/ServerWait.h"

EditorCompletion::EditorCompletion(db::Connection& connection, QPlainTextEdit& editor,
                                   QObject* parent)
    : QObject(parent), connection_(connection), editor_(editor),
      completion_(std::make_unique<Completion>(connection)) {
    // Before the completer's own filter, which then sees the editor's keys first.
    editor_.installEventFilter(this);
    completer_ = new QCompleter(new QStringListModel(this), this);
    completer_->setWidget(&editor_);
    completer_->setCaseSensitivity(Qt::CaseInsensitive);
    completer_->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    connect(completer_, qOverload<const QString&>(&QCompleter::activated), this,
            &EditorCompletion::insert);
    // The list sees keys first while it is open, and the editor's clicks while names are read.
    completer_->popup()->installEventFilter(this);
    editor_.viewport()->installEventFilter(this);
    connect(&editor_, &QPlainTextEdit::cursorPositionChanged, this, &EditorCompletion::narrow);
}

EditorCompletion::~EditorCompletion() = default;

void EditorCompletion::show() {
    if (!connection_.isOpen() || lookingUp_ || paused_) return;
    // A list still open would take the keys typed meanwhile, and they would be shut out.
    completer_->popup()->hide();
    {
        // Reading names may wait for the server: keys typed meanwhile are kept and reach
        // the editor, in order, once the list is there.
        ui::BusyCursor busy;
        lookingUp_ = true;
        ui::ServerWait::allowDuringCalls(&editor_);
        offer_ = completion_->offer(editor_.toPlainText(), editor_.textCursor().position());
        ui::ServerWait::allowDuringCalls(&editor_, false);
        lookingUp_ = false;
    }
    const QStringList words =
        offer_.matching(Completion::requestAt(editor_.toPlainText(), editor_.textCursor().position())
                            .prefix);
    if (words.isEmpty()) {
        completer_->popup()->hide();
    } else {
        static_cast<QStringListModel*>(completer_->model())->setStringList(words);
        QRect at = editor_.cursorRect();
        at.setWidth(completer_->popup()->sizeHintForColumn(0) +
                    completer_->popup()->verticalScrollBar()->sizeHint().width());
        completer_->complete(at);
        completer_->popup()->setCurrentIndex(completer_->completionModel()->index(0, 0));
    }
    // A key typed ahead may open another list; the outermost call hands on every key.
    if (replaying_) return;
    replaying_ = true;
    while (!typedAhead_.empty()) {
        std::unique_ptr<QEvent> typed = std::move(typedAhead_.front());
        typedAhead_.pop_front();
        QCoreApplication::sendEvent(&editor_, typed.get());
    }
    replaying_ = false;
}

void EditorCompletion::narrow() {
    QAbstractItemView* list = completer_->popup();
    if (!list->isVisible() || lookingUp_) return;
    const Completion::Request r =
        Completion::requestAt(editor_.toPlainText(), editor_.textCursor().position());
    const QStringList words = r.start == offer_.start ? offer_.matching(r.prefix) : QStringList();
    if (words.isEmpty()) {
        list->hide();
        return;
    }
    auto* model = static_cast<QStringListModel*>(completer_->model());
    if (model->stringList() == words) return;
    model->setStringList(words);
    list->setCurrentIndex(completer_->completionModel()->index(0, 0));
}

void EditorCompletion::insert(const QString& word) {
    completer_->popup()->hide();
    QTextCursor cursor = editor_.textCursor();
    const Completion::Request r = Completion::requestAt(editor_.toPlainText(), cursor.position());
    cursor.setPosition(r.start, QTextCursor::KeepAnchor);
    cursor.insertText(word);
    editor_.setTextCursor(cursor);
}

bool EditorCompletion::listKey(QObject* watched, QKeyEvent* key) {
    QAbstractItemView* list = completer_->popup();
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    switch (key->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        // Moves through the list, wherever the key was sent.
        if (watched == list) return false;
        QCoreApplication::sendEvent(list, key);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Tab:
        if (mods != Qt::NoModifier) return false;
        if (list->currentIndex().isValid())
            insert(list->currentIndex().data().toString());
        else
            list->hide();
        return true;
    case Qt::Key_Escape:
        list->hide();
        return true;
    default:
        return false;
    }
}

bool EditorCompletion::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (lookingUp_ && (watched == &editor_ || watched == editor_.viewport())) {
        // Typing waits for the names; the cursor stays where they were asked for.
        if (type == QEvent::KeyPress || type == QEvent::InputMethod) {
            typedAhead_.emplace_back(event->clone());
            return true;
        }
        if (type == QEvent::KeyRelease || type == QEvent::MouseButtonPress ||
            type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick)
            return true;
    }
    if (watched == completer_->popup() && type == QEvent::KeyPress) {
        // The open list gets the keys: it keeps the ones that choose, the editor the rest.
        auto* key = static_cast<QKeyEvent*>(event);
        if (listKey(watched, key)) return true;
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down ||
            key->key() == Qt::Key_PageUp || key->key() == Qt::Key_PageDown)
            return false;
        QCoreApplication::sendEvent(&editor_, key);
        return true;
    }
    if (watched == &editor_ && type == QEvent::KeyPress && !forwarding_) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (completer_->popup()->isVisible() && listKey(watched, key)) return true;
        if (key->key() == Qt::Key_Space && (key->modifiers() & Qt::ControlModifier)) {
            show();
            return true;
        }
        if (key->text() == QLatin1String(".")) {
            // The dot goes in first; then its table's columns are offered.
            forwarding_ = true;
            QCoreApplication::sendEvent(&editor_, key);
            forwarding_ = false;
            show();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
