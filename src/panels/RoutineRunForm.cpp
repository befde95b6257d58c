#include "panels/RoutineRunForm.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Named.h"

RoutineRunForm::RoutineRunForm(const QString& title,
                               const std::vector<admin::RoutineParameter>& params, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("RoutineRunForm"));
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    for (const admin::RoutineParameter& p : params) {
        if (!p.takesValue()) continue;
        const QString number = QString::number(fields_.size() + 1);
        auto* row = new QHBoxLayout;
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("ArgValue") + number);
        auto* null = new QCheckBox(QStringLiteral("NULL"), this);
        null->setObjectName(QStringLiteral("ArgNull") + number);
        connect(null, &QCheckBox::toggled, edit, &QLineEdit::setDisabled);
        row->addWidget(edit, 1);
        row->addWidget(null);
        form->addRow(QStringLiteral("%1 %2 (%3)").arg(p.mode, p.name, p.type), row);
        fields_.emplace_back(edit, null);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Run"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

std::vector<admin::ArgumentValue> RoutineRunForm::values() const {
    std::vector<admin::ArgumentValue> out;
    out.reserve(fields_.size());
    for (const auto& [edit, null] : fields_)
        out.push_back(null->isChecked() ? std::nullopt : admin::ArgumentValue(edit->text()));
    return out;
}
