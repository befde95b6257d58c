#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace ui {

// Shows the whole value of one cell, read-only, in a fixed-width font.
class ValueViewer : public QDialog {
    Q_OBJECT
public:
    ValueViewer(const QString& columnName, const QString& text, QWidget* parent = nullptr);
    // The same, for changing the value: OK accepts the text, Cancel keeps the old one.
    enum class Mode { View, Edit };
    ValueViewer(const QString& columnName, const QString& text, Mode mode, QWidget* parent = nullptr);

    QPlainTextEdit* Text() const { return text_; }

private:
    QPlainTextEdit* text_;
};

}  // namespace ui
