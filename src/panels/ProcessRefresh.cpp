#include "panels/ProcessRefresh.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QSet>
#include <QTabWidget>
#include <QTreeWidget>

#include "admin/ServerPoller.h"
#include "db/Connection.h"
#include "db/Result.h"
#include "panels/PanelStatements.h"
#include "tree/ServerSession.h"
#include "ui/Named.h"

namespace {

// The places of Id and Command among panels::kProcessListColumns.
constexpr int kIdColumn = 0;
constexpr int kCommandColumn = 4;

QList<QStringList> readProcesses(db::Connection& c) {
    db::Result rows = c.listProcesses();
    if (!rows) throw c.lastError("SHOW PROCESSLIST");
    const std::vector<int> positions = panels::columnPositions(rows, panels::kProcessListColumns);
    QList<QStringList> texts;
    while (rows.next()) {
        QStringList row;
        for (int p : positions) row << (p < 0 ? QString() : rows.text(unsigned(p)));
        texts << row;
    }
    return texts;
}

}  // namespace

ProcessRefresh::ProcessRefresh(QTabWidget& page, QTreeWidget& list, ServerSession& session)
    : QObject(&page), page_(page), list_(list), session_(session) {
    auto* controls = ui::named(new QWidget(&page), "ProcessControls");
    auto* layout = new QHBoxLayout(controls);
    layout->setContentsMargins(4, 0, 4, 0);
    interval_ = ui::named(new QComboBox(controls), "ProcessRefreshInterval");
    interval_->addItem(QStringLiteral("off"), 0);
    for (int seconds : {1, 2, 5, 10})
        interval_->addItem(QStringLiteral("%1 s").arg(seconds), seconds);
    auto* label = new QLabel(QStringLiteral("&Refresh:"), controls);
    label->setBuddy(interval_);
    hideSleeping_ =
        ui::named(new QCheckBox(QStringLiteral("Hide sleeping"), controls), "HideSleeping");
    layout->addWidget(hideSleeping_);
    layout->addWidget(label);
    layout->addWidget(interval_);
    page_.setCornerWidget(controls, Qt::TopRightCorner);

    poller_ = new admin::ServerPoller(
        [](db::Connection& c) { return QVariant::fromValue(readProcesses(c)); }, this);
    connect(poller_, &admin::ServerPoller::polled, this,
            [this](const QVariant& rows) { show(rows.value<QList<QStringList>>()); });
    // A refresh that failed (the server went away) turns itself off; the list keeps what it
    // showed, and the interval's tooltip says why.
    connect(poller_, &admin::ServerPoller::failed, this, [this](const QString& reason) {
        setIntervalSeconds(0);
        interval_->setToolTip(QStringLiteral("The refresh stopped: %1").arg(reason));
    });
    connect(interval_, &QComboBox::currentIndexChanged, this, [this] {
        interval_->setToolTip(QString());
        poller_->stop();
        update();
    });
    connect(hideSleeping_, &QCheckBox::toggled, this, &ProcessRefresh::applyHiding);
    page_.installEventFilter(this);
}

ProcessRefresh::~ProcessRefresh() { poller_->stop(); }

void ProcessRefresh::setIntervalSeconds(int seconds) {
    const int index = interval_->findData(seconds);
    if (index >= 0) interval_->setCurrentIndex(index);
}

int ProcessRefresh::intervalSeconds() const { return interval_->currentData().toInt(); }

bool ProcessRefresh::refreshing() const { return poller_->running(); }

void ProcessRefresh::ServerChanged() { poller_->stop(); }

bool ProcessRefresh::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &page_ && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        update();
    return QObject::eventFilter(watched, event);
}

void ProcessRefresh::update() {
    const int seconds = intervalSeconds();
    const bool wanted = seconds > 0 && page_.isVisible() && session_.MainConnection().isOpen();
    if (wanted == poller_->running()) return;
    if (wanted)
        poller_->start(session_.MainConnection().params(), seconds * 1000);
    else
        poller_->stop();
}

void ProcessRefresh::applyHiding() {
    const bool hide = hideSleeping_->isChecked();
    for (int i = 0; i < list_.topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list_.topLevelItem(i);
        const bool hidden = hide && item->text(kCommandColumn) == QLatin1String("Sleep");
        if (item->isHidden() != hidden) item->setHidden(hidden);
    }
}

void ProcessRefresh::show(const QList<QStringList>& rows) {
    QSet<QString> selected;
    for (QTreeWidgetItem* item : list_.selectedItems()) selected.insert(item->text(kIdColumn));
    const QString current = list_.currentItem() ? list_.currentItem()->text(kIdColumn) : QString();
    const int scroll = list_.verticalScrollBar()->value();
    const int horizontal = list_.horizontalScrollBar()->value();

    while (list_.topLevelItemCount() > rows.size())
        delete list_.takeTopLevelItem(list_.topLevelItemCount() - 1);
    QList<QTreeWidgetItem*> added;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        QTreeWidgetItem* item =
            i < list_.topLevelItemCount() ? list_.topLevelItem(int(i)) : nullptr;
        if (!item) {
            added << new QTreeWidgetItem(rows[i]);
            continue;
        }
        for (int c = 0; c < rows[i].size(); ++c)
            if (item->text(c) != rows[i][c]) item->setText(c, rows[i][c]);
    }
    list_.addTopLevelItems(added);

    // The same connections stay selected, wherever their rows went.
    QTreeWidgetItem* currentItem = nullptr;
    for (int i = 0; i < list_.topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list_.topLevelItem(i);
        const QString id = item->text(kIdColumn);
        if (item->isSelected() != selected.contains(id)) item->setSelected(selected.contains(id));
        if (!current.isEmpty() && id == current) currentItem = item;
    }
    if (currentItem && list_.currentItem() != currentItem)
        list_.selectionModel()->setCurrentIndex(list_.indexFromItem(currentItem),
                                                QItemSelectionModel::NoUpdate);
    applyHiding();
    list_.verticalScrollBar()->setValue(scroll);
    list_.horizontalScrollBar()->setValue(horizontal);
    ++refreshes_;
    Q_EMIT refreshed();
}
