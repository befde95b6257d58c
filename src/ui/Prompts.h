#pragma once

#include <QString>
#include <optional>
#include <string_view>

class QDialog;
class QWidget;

namespace ui {

// A fixed message with the reason under it ("DB 삭제 실패!" and the server's text), as every
// failure the server or the client library explains is shown; the fixed text alone when
// there is no reason.
QString withReason(const QString& message, const QString& reason);

// A question and, on a line of its own, the object it is about ("DataBase를
// 삭제하시겠습니까?" and the database's name): every delete and drop says what goes.
QString naming(const QString& question, const QString& object);

// A table (or view) named in a message as its statements name it, database and name each
// in backticks: a dot inside a name ("x." and "y") cannot be read as the separator.
QString qualifiedLabel(const QString& database, const QString& name);

// A statement on one line for a log or a status, cut to `maxChars` with an ellipsis. Only
// its head is read: a restore hands over statements of a megabyte.
QString shortenedStatement(std::string_view statement, int maxChars);

// A message too tall for the screen, split: the lines a box shows (ending with a pointer to
// the details) and the whole text for its scrollable details; `details` is empty when the
// message fits as it is. A long list of failed statements would put the OK button off
// screen.
struct MessageParts {
    QString shown;
    QString details;
};
MessageParts splitLongMessage(const QString& text, int maxLines = 20, int maxLineChars = 300);

// Every message box, question, input box, file dialog and modal dialog goes through this
// seam, so that tests can answer from a script instead of blocking on a window.
class Prompts {
public:
    virtual ~Prompts() = default;

    // An information box with an OK button.
    virtual void message(QWidget* parent, const QString& text, const QString& caption = {}) = 0;
    // OK/Cancel question; true only for OK.
    virtual bool okCancel(QWidget* parent, const QString& text, const QString& caption) = 0;
    // Yes/No question; true only for Yes.
    virtual bool yesNo(QWidget* parent, const QString& text, const QString& caption) = 0;
    // Input box: returns the typed text, or `defaultText` when cancelled.
    virtual QString inputBox(QWidget* parent, const QString& caption, const QString& prompt,
                             const QString& defaultText) = 0;
    // A password box: the typed text (hidden as typed), or std::nullopt when cancelled.
    virtual std::optional<QString> password(QWidget* parent, const QString& caption,
                                            const QString& prompt) = 0;
    // File dialogs: the chosen path, or empty when cancelled.
    virtual QString openFileName(QWidget* parent, const QString& caption, const QString& dir,
                                 const QString& filter) = 0;
    virtual QString saveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                 const QString& filter) = 0;
    // Runs a modal dialog; returns its QDialog::DialogCode result.
    virtual int exec(QDialog* dialog) = 0;
};

// The production implementation: QMessageBox, QInputDialog, QFileDialog, QDialog::exec().
class WidgetPrompts : public Prompts {
public:
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
};

}  // namespace ui
