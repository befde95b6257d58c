#include "sqleditor/ResultFooter.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QSpinBox>
#include <QToolButton>

#include "dataset/ResultRows.h"
#include "dataset/TMySQLDataSet.h"
#include "panels/GridEditing.h"
#include "ui/Counted.h"

ResultFooter::ResultFooter(ResultRows& rows, GridEditing& editing, QWidget* parent)
    : QWidget(parent), rows_(rows) {
    setObjectName(QStringLiteral("ResultFooter"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 1, 2, 1);
    const auto button = [&](const char* name, const char* text, const char* hint) {
        auto* b = new QToolButton(this);
        b->setObjectName(QLatin1String(name));
        b->setText(QLatin1String(text));
        b->setToolTip(QLatin1String(hint));
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(b);
        return b;
    };
    insert_ = button("ResultInsert", "Insert", "Add a row (Insert)");
    delete_ = button("ResultDelete", "Delete", "Delete the selected rows (Ctrl+Delete)");
    post_ = button("ResultPost", "Post", "Post every edit in one transaction (Ctrl+Enter)");
    cancel_ = button("ResultCancel", "Cancel", "Put the row back as it was read (Escape)");
    preview_ = button("ResultPreview", "Preview", "The statements Post would send");
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("ResultStatus"));
    status_->setWordWrap(true);
    layout->addSpacing(6);
    layout->addWidget(status_, 1);
    auto* limitLabel = new QLabel(QStringLiteral("Row limit:"), this);
    limit_ = new QSpinBox(this);
    limit_->setObjectName(QStringLiteral("RowLimit"));
    limit_->setRange(0, 2000000000);
    limit_->setSingleStep(100000);
    limit_->setGroupSeparatorShown(true);
    limit_->setSpecialValueText(QStringLiteral("none"));
    limit_->setValue(kDefaultRowLimit);
    limit_->setToolTip(QStringLiteral(
        "Rows a result keeps at most; the rest are counted, not kept. Takes effect at the next run."));
    limitLabel->setBuddy(limit_);
    layout->addWidget(limitLabel);
    layout->addWidget(limit_);

    connect(insert_, &QToolButton::clicked, &editing, &GridEditing::addRow);
    connect(delete_, &QToolButton::clicked, &editing, &GridEditing::deleteSelectedRows);
    connect(post_, &QToolButton::clicked, &editing, [&editing] { editing.post(); });
    connect(cancel_, &QToolButton::clicked, &editing, &GridEditing::cancelEdit);
    connect(preview_, &QToolButton::clicked, &editing, &GridEditing::previewEdits);
    connect(&rows_, &EditableRows::editsChanged, this, &ResultFooter::refresh);
    connect(&rows_, &QAbstractItemModel::modelReset, this, &ResultFooter::refresh);
    connect(&editing, &GridEditing::note, status_, &QLabel::setText);
    refresh();
}

std::uint64_t ResultFooter::rowLimit() const { return std::uint64_t(limit_->value()); }

void ResultFooter::refresh() {
    const bool editable = rows_.editable();
    for (QToolButton* b : {insert_, delete_}) b->setVisible(editable);
    for (QToolButton* b : {post_, cancel_, preview_}) {
        b->setVisible(editable || rows_.hasEdits());
        b->setEnabled(rows_.hasEdits());
    }
    const TMySQLDataSet& data = rows_.dataSet();
    if (!data.Active()) {
        status_->clear();
        return;
    }
    QString text = ui::counted(std::uint64_t(data.rowCount()), "row");
    if (data.NotRead() > 0)
        text += QStringLiteral("; %1 more not read (the row limit)")
                    .arg(QLocale().toString(qulonglong(data.NotRead())));
    else if (!data.NotReadKnown())
        text += QStringLiteral("; more not read (the row limit), not counted");
    if (rows_.hasEdits())
        text += QStringLiteral("; %1 not posted").arg(ui::counted(rows_.editCount(), "edit"));
    if (!rows_.readOnlyReason().isEmpty()) text += QStringLiteral(". ") + rows_.readOnlyReason();
    status_->setText(text);
}
