#include "ui/ValueViewer.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "ui/Named.h"

namespace ui {

ValueViewer::ValueViewer(const QString& columnName, const QString& text, QWidget* parent)
    : ValueViewer(columnName, text, Mode::View, parent) {}

ValueViewer::ValueViewer(const QString& columnName, const QString& text, Mode mode, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("ValueViewer"));
    setWindowTitle(QStringLiteral("Value - %1").arg(columnName));
    resize(640, 420);
    text_ = named(new QPlainTextEdit(this), "ValueText");
    text_->setReadOnly(mode == Mode::View);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text_->setPlainText(text);
    auto* buttons = new QDialogButtonBox(
        mode == Mode::View ? QDialogButtonBox::Close : QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addWidget(buttons);
}

}  // namespace ui
