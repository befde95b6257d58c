#include "ui/Prompts.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <algorithm>

#include "db/Connection.h"

namespace ui {

QString withReason(const QString& message, const QString& reason) {
    return reason.isEmpty() ? message : message + u'\n' + reason;
}

QString naming(const QString& question, const QString& object) {
    return question + u'\n' + object;
}

QString qualifiedLabel(const QString& database, const QString& name) {
    return QString::fromStdString(db::qualifiedName(database, name));
}

QString shortenedStatement(std::string_view statement, int maxChars) {
    const std::size_t head = std::size_t(maxChars) * 4 + 64;  // enough UTF-8 for the characters
    const bool cut = statement.size() > head;
    QString text =
        QString::fromUtf8(statement.data(), qsizetype(std::min(statement.size(), head))).simplified();
    if (cut && text.endsWith(QChar::ReplacementCharacter)) text.chop(1);  // a character cut in two
    if (cut || text.size() > maxChars) text = text.left(maxChars - 1) + QChar(0x2026);
    return text;
}

MessageParts splitLongMessage(const QString& text, int maxLines, int maxLineChars) {
    const QStringList lines = text.split(u'\n');
    const bool wide = std::any_of(lines.begin(), lines.end(),
                                  [&](const QString& line) { return line.size() > maxLineChars; });
    if (lines.size() <= maxLines && !wide) return {text, {}};
    QStringList shown;
    for (qsizetype i = 0; i < lines.size() && i < maxLines - 2; ++i)
        shown << (lines[i].size() > maxLineChars ? lines[i].left(maxLineChars) + QChar(0x2026)
                                                 : lines[i]);
    shown << QString() << QStringLiteral("(The whole text is under \"Show Details...\".)");
    return {shown.join(u'\n'), text};
}

namespace {

QString captionOrProduct(const QString& caption) {
    return caption.isEmpty() ? QApplication::applicationDisplayName() : caption;
}

}  // namespace

void WidgetPrompts::message(QWidget* parent, const QString& text, const QString& caption) {
    const MessageParts parts = splitLongMessage(text);
    QMessageBox box(QMessageBox::Information, captionOrProduct(caption), parts.shown,
                    QMessageBox::Ok, parent);
    if (!parts.details.isEmpty()) box.setDetailedText(parts.details);
    box.exec();
}

bool WidgetPrompts::okCancel(QWidget* parent, const QString& text, const QString& caption) {
    return QMessageBox::question(parent, captionOrProduct(caption), text,
                                 QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Ok) == QMessageBox::Ok;
}

bool WidgetPrompts::yesNo(QWidget* parent, const QString& text, const QString& caption) {
    return QMessageBox::question(parent, captionOrProduct(caption), text,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes) == QMessageBox::Yes;
}

QString WidgetPrompts::inputBox(QWidget* parent, const QString& caption, const QString& prompt,
                                const QString& defaultText) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, captionOrProduct(caption), prompt, QLineEdit::Normal,
                              defaultText, &ok);
    return ok ? text : defaultText;
}

std::optional<QString> WidgetPrompts::password(QWidget* parent, const QString& caption,
                                               const QString& prompt) {
    bool ok = false;
    const QString text = QInputDialog::getText(parent, captionOrProduct(caption), prompt,
                                               QLineEdit::Password, QString(), &ok);
    if (!ok) return std::nullopt;
    return text;
}

QString WidgetPrompts::openFileName(QWidget* parent, const QString& caption, const QString& dir,
                                    const QString& filter) {
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString WidgetPrompts::saveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                    const QString& filter) {
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

int WidgetPrompts::exec(QDialog* dialog) { return dialog->exec(); }

}  // namespace ui
