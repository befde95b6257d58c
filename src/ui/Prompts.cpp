#include "ui/Prompts.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace ui {

QString withReason(const QString& message, const QString& reason) {
    return reason.isEmpty() ? message : message + u'\n' + reason;
}

namespace {

QString captionOrProduct(const QString& caption) {
    return caption.isEmpty() ? QApplication::applicationDisplayName() : caption;
}

}  // namespace

void WidgetPrompts::message(QWidget* parent, const QString& text, const QString& caption) {
    QMessageBox::information(parent, captionOrProduct(caption), text);
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
