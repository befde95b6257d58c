#include "sqleditor/HistoryPane.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

#include "sqleditor/QueryHistory.h"

namespace {
constexpr qsizetype kTextShown = 200;      // characters of a statement in its line
constexpr qsizetype kTooltipShown = 2000;  // and in its tooltip
}  // namespace

HistoryPane::HistoryPane(QueryHistory& history, QWidget* parent)
    : QWidget(parent), history_(history) {
    setObjectName(QStringLiteral("HistoryPane"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("EditHistorySearch"));
    search_->setPlaceholderText(QStringLiteral("Search the history [Ctrl+R]"));
    search_->setClearButtonEnabled(true);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("ListHistory"));
    list_->setUniformItemSizes(true);
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    layout->addWidget(search_);
    layout->addWidget(list_, 1);
    layout->addWidget(status_);
    connect(search_, &QLineEdit::textChanged, this, &HistoryPane::Refresh);
    connect(search_, &QLineEdit::returnPressed, this, [this] {
        if (list_->count() > 0) Q_EMIT StatementChosen(list_->item(0)->data(Qt::UserRole).toString());
    });
    auto choose = [this](QListWidgetItem* item) {
        Q_EMIT StatementChosen(item->data(Qt::UserRole).toString());
    };
    connect(list_, &QListWidget::itemDoubleClicked, this, choose);
    connect(list_, &QListWidget::itemActivated, this, choose);
}

void HistoryPane::Start() {
    show();
    Refresh();
    search_->setFocus();
    search_->selectAll();
}

void HistoryPane::Refresh() {
    list_->clear();
    if (!history_.isOpen()) {
        status_->setText(history_.error());
        return;
    }
    for (const HistoryEntry& e : history_.search(search_->text(), kShown)) {
        const QString simplified = e.statement.simplified();
        const QString firstLine = simplified.size() > kTextShown
                                      ? simplified.left(kTextShown) + QChar(0x2026)
                                      : simplified;
        auto* item = new QListWidgetItem(
            QStringLiteral("%1  %2  %3").arg(e.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                                             e.outcome, firstLine),
            list_);
        item->setData(Qt::UserRole, e.statement);
        item->setToolTip(QStringLiteral("%1 / %2, %3 ms\n%4")
                             .arg(e.server, e.database.isEmpty() ? QStringLiteral("-") : e.database)
                             .arg(e.durationMs)
                             .arg(e.statement.size() > kTooltipShown
                                      ? e.statement.left(kTooltipShown) +
                                            QStringLiteral("\n... (%1 more characters; double-click "
                                                           "to load it all)")
                                                .arg(e.statement.size() - kTooltipShown)
                                      : e.statement));
    }
    status_->setText(history_.error());
}
