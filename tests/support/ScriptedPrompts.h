#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>

#include "ui/Prompts.h"

// Answers prompts from queues and records what was shown, so tests never block on a
// window. An unexpected prompt (nothing queued) fails the test and answers "cancel".
class ScriptedPrompts : public ui::Prompts {
public:
    struct Shown {
        QString kind;  // "message", "okCancel", "yesNo", "inputBox", "password", "open", "save"
        QString text;
        QString caption;
    };

    // Queue answers, consumed in order by the kind of prompt they belong to.
    void answerOkCancel(bool ok) { questions_.push_back(ok); }
    void answerYesNo(bool yes) { questions_.push_back(yes); }
    // Answers input and password boxes; cancelInput() cancels one.
    void answerInput(const QString& text) { inputs_.push_back({true, text}); }
    void cancelInput() { inputs_.push_back({false, {}}); }
    void answerFile(const QString& path) { files_.push_back(path); }
    // Drives the next modal dialog: the callback fills edits and clicks buttons, then
    // returns the dialog's result (or the dialog's own result after it closed itself).
    void onDialog(std::function<int(QDialog*)> driver) { dialogs_.push_back(std::move(driver)); }

    const std::vector<Shown>& shown() const { return shown_; }
    QStringList messages() const;  // texts of every message box shown, in order
    void clear() { shown_.clear(); }
    bool allAnswersUsed() const {
        return questions_.empty() && inputs_.empty() && files_.empty() && dialogs_.empty();
    }

    void message(QWidget* parent, const QString& text, const QString& caption = {}) override;
    bool okCancel(QWidget* parent, const QString& text, const QString& caption) override;
    bool yesNo(QWidget* parent, const QString& text, const QString& caption) override;
    QString inputBox(QWidget* parent, const QString& caption, const QString& prompt,
                     const QString& defaultText) override;
    std::optional<QString> password(QWidget* parent, const QString& caption,
                                    const QString& prompt) override;
    QString openFileName(QWidget* parent, const QString& caption, const QString& dir,
                         const QString& filter) override;
    QString saveFileName(QWidget* parent, const QString& caption, const QString& dir,
                         const QString& filter) override;
    int exec(QDialog* dialog) override;

private:
    bool nextQuestion(const QString& kind, const QString& text, const QString& caption);
    QString nextFile(const QString& kind, const QString& caption);

    std::vector<Shown> shown_;
    std::deque<bool> questions_;
    std::deque<std::pair<bool, QString>> inputs_;
    std::deque<QString> files_;
    std::deque<std::function<int(QDialog*)>> dialogs_;
};
