#include "panels/StatusPanel.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "admin/ServerPoller.h"
#include "db/Connection.h"
#include "panels/StatusCharts.h"
#include "panels/VariablesTab.h"
#include "tree/ServerSession.h"
#include "ui/Named.h"

namespace {

enum CounterColumn { colName = 0, colValue = 1, colRate = 2 };

// Rates as a person reads them: whole numbers when large, two decimals when small.
QString rateText(const std::optional<double>& rate) {
    if (!rate) return QString();
    return QString::number(*rate, 'f', *rate >= 100 ? 0 : 2);
}

}  // namespace

StatusPanel::StatusPanel(ServerSession& session, ui::Prompts& prompts, QWidget* parent)
    : QTabWidget(parent), session_(session) {
    setObjectName(QStringLiteral("PStatus"));
    variables_ = ui::named(new VariablesTab(session, prompts, this), "VariablesTab");
    addTab(variables_, QStringLiteral("Variables"));

    counters_ = ui::named(new QWidget(this), "CountersTab");
    auto* layout = new QVBoxLayout(counters_);
    layout->setContentsMargins(2, 2, 2, 2);
    counterFilter_ = ui::named(new QLineEdit(counters_), "CounterFilter");
    counterFilter_->setPlaceholderText(QStringLiteral("Filter by name"));
    counterFilter_->setClearButtonEnabled(true);
    counterList_ = ui::named(new QTreeWidget(counters_), "CounterList");
    counterList_->setRootIsDecorated(false);
    counterList_->setUniformRowHeights(true);
    counterList_->setAllColumnsShowFocus(true);
    counterList_->setHeaderLabels(
        {QStringLiteral("Counter"), QStringLiteral("Value"), QStringLiteral("Per second")});
    counterList_->header()->resizeSection(colName, 300);
    counterList_->header()->resizeSection(colValue, 200);
    layout->addWidget(counterFilter_);
    layout->addWidget(counterList_, 1);
    addTab(counters_, QStringLiteral("Status"));

    charts_ = ui::named(new StatusCharts(this), "ChartsTab");
    addTab(charts_, QStringLiteral("Charts"));

    note_ = ui::named(new QLabel(this), "StatusNote");
    setCornerWidget(note_, Qt::TopRightCorner);

    poller_ = new admin::ServerPoller(
        [](db::Connection& c) { return QVariant::fromValue(admin::readStatus(c)); }, this);
    connect(poller_, &admin::ServerPoller::polled, this,
            [this](const QVariant& v) { received(v.value<admin::StatusSample>()); });
    connect(poller_, &admin::ServerPoller::failed, this, [this](const QString& reason) {
        stoppedByFailure_ = true;
        note_->setText(QStringLiteral("Sampling stopped: %1 Click the Status node to start again.")
                           .arg(reason));
    });
    connect(this, &QTabWidget::currentChanged, this, [this] {
        if (currentWidget() == counters_) showCounters();
        updateSampling();
    });
    connect(counterFilter_, &QLineEdit::textChanged, this, [this] { applyCounterFilter(); });
    connect(charts_, &StatusCharts::pausedChanged, this, [this] { updateSampling(); });
}

StatusPanel::~StatusPanel() { poller_->stop(); }

bool StatusPanel::sampling() const { return poller_->running(); }

void StatusPanel::Load() {
    loadStarted_ = true;
    stoppedByFailure_ = false;
    note_->clear();
    variables_->Load();
    updateSampling();
}

void StatusPanel::ServerChanged() {
    loadStarted_ = false;
    poller_->stop();
    sampler_ = {};
    charts_->clear();
    counterList_->clear();
    note_->clear();
}

void StatusPanel::showEvent(QShowEvent* event) {
    QTabWidget::showEvent(event);
    updateSampling();
    // Shown without its node's click (the panel the last run ended on): the variables are
    // read once the window is up, unless a click has read them by then.
    // A click's Load may be waiting for the server right now, with this timer firing in the
    // wait: it must not send a second read beside it.
    QTimer::singleShot(0, this, [this] {
        if (!loadStarted_ && isVisible() && session_.MainConnection().isOpen()) Load();
    });
}

void StatusPanel::hideEvent(QHideEvent* event) {
    QTabWidget::hideEvent(event);
    updateSampling();
}

void StatusPanel::updateSampling() {
    const bool wanted =
        isVisible() && !stoppedByFailure_ && session_.MainConnection().isOpen() &&
        (currentWidget() == counters_ || (currentWidget() == charts_ && !charts_->paused()));
    if (wanted == poller_->running()) return;
    if (!wanted) {
        poller_->stop();
        return;
    }
    // A new run starts its rates afresh: the interval since the last sample before a pause
    // is no second.
    sampler_ = {};
    poller_->start(session_.MainConnection().params(), intervalMs_);
}

void StatusPanel::received(const admin::StatusSample& sample) {
    sampler_.add(sample);
    ++samples_;
    if (std::optional<admin::StatusPoint> point = sampler_.point(); point && !charts_->paused())
        charts_->addPoint(*point);
    if (currentWidget() == counters_) showCounters();
    Q_EMIT sampled();
}

// Updates the items in place, so that the selection and the scroll position stay where the
// user left them.
void StatusPanel::showCounters() {
    const auto& values = sampler_.latest().values;
    if (std::size_t(counterList_->topLevelItemCount()) != values.size()) {
        counterList_->clear();
        QList<QTreeWidgetItem*> items;
        for (std::size_t i = 0; i < values.size(); ++i) items << new QTreeWidgetItem;
        counterList_->addTopLevelItems(items);
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        QTreeWidgetItem* item = counterList_->topLevelItem(int(i));
        const auto& [name, value] = values[i];
        const QString rate = rateText(sampler_.rate(name));
        if (item->text(colName) != name) item->setText(colName, name);
        if (item->text(colValue) != value) item->setText(colValue, value);
        if (item->text(colRate) != rate) item->setText(colRate, rate);
    }
    applyCounterFilter();
}

void StatusPanel::applyCounterFilter() {
    const QString text = counterFilter_->text().trimmed();
    for (int i = 0; i < counterList_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = counterList_->topLevelItem(i);
        const bool hide =
            !text.isEmpty() && !item->text(colName).contains(text, Qt::CaseInsensitive);
        if (item->isHidden() != hide) item->setHidden(hide);
    }
}
