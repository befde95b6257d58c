#pragma once

#include <QObject>
#include <QStringList>
#include <deque>
#include <memory>

#include "sqleditor/Completion.h"

class QCompleter;
class QEvent;
class QKeyEvent;
class QPlainTextEdit;

// The completion list of the SQL editor: offers what fits the word at the cursor (Ctrl+Space,
// and after a '.'), narrows as the word grows, and puts the chosen word in with Return or Tab;
// Escape closes it. Reading the names may wait for the server: keys typed meanwhile are kept
// and reach the editor, in order, once the list is there. Everything else the editor gets.
class EditorCompletion : public QObject {
    Q_OBJECT
public:
    // Watches `editor` from now on: make it after the editor's other key filters.
    EditorCompletion(db::Connection& connection, QPlainTextEdit& editor, QObject* parent);
    ~EditorCompletion() override;

    QCompleter* completer() const { return completer_; }
    // Opens the list for the word at the cursor; nothing without a connection.
    void show();
    // While the editor's statement runs on its connection, names cannot be read there: no
    // list is offered.
    void setPaused(bool paused) { paused_ = paused; }
    // The names are read again at the next completion.
    void clear() { completion_->clear(); }
    void setKeywords(const QStringList& words) { completion_->setKeywords(words); }
    // How the editor's text is read (the session's SQL mode).
    void setRules(sqllex::Rules rules) { completion_->setRules(rules); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Shows what of the offer fits the word at the cursor; closes the list when nothing
    // does or the cursor left the word.
    void narrow();
    void insert(const QString& word);
    // A key for the open list (choose, take, close); false when it is the editor's.
    bool listKey(QObject* watched, QKeyEvent* key);

    db::Connection& connection_;
    QPlainTextEdit& editor_;
    std::unique_ptr<Completion> completion_;
    Completion::Offer offer_;  // what the open list was made from
    bool lookingUp_ = false;   // names are being read for the list
    bool paused_ = false;
    bool replaying_ = false;
    bool forwarding_ = false;  // a key handed on to the editor, not to be handled again
    std::deque<std::unique_ptr<QEvent>> typedAhead_;  // keys typed while names were read
    QCompleter* completer_ = nullptr;
};
