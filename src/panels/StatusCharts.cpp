#include "panels/StatusCharts.h"

#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>

#include "ui/Named.h"

namespace {

// The longest span offered: older points are dropped.
constexpr int kMaxSpanSeconds = 15 * 60;

}  // namespace

struct StatusCharts::Chart {
    QChart* chart = nullptr;
    QChartView* view = nullptr;
    QDateTimeAxis* time = nullptr;
    QValueAxis* values = nullptr;
    std::vector<QLineSeries*> series;
    bool percent = false;
};

StatusCharts::StatusCharts(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    auto* bar = new QHBoxLayout;
    layout->addLayout(bar);
    pause_ = ui::named(new QPushButton(QStringLiteral("Pause"), this), "ChartsPause");
    pause_->setCheckable(true);
    span_ = ui::named(new QComboBox(this), "ChartsSpan");
    span_->addItem(QStringLiteral("1 minute"), 60);
    span_->addItem(QStringLiteral("5 minutes"), 300);
    span_->addItem(QStringLiteral("15 minutes"), kMaxSpanSeconds);
    span_->setCurrentIndex(1);
    auto* label = new QLabel(QStringLiteral("&Span:"), this);
    label->setBuddy(span_);
    bar->addWidget(pause_);
    bar->addWidget(label);
    bar->addWidget(span_);
    bar->addStretch();

    auto* grid = new QGridLayout;
    layout->addLayout(grid, 1);
    grid->setSpacing(2);
    auto add = [&](const QString& title, std::initializer_list<QString> series, int row,
                   int column) -> Chart& {
        Chart& c = addChart(title, series);
        grid->addWidget(c.view, row, column);
        return c;
    };
    add(QStringLiteral("Queries per second"), {QStringLiteral("queries/s")}, 0, 0);
    add(QStringLiteral("Connections"),
        {QStringLiteral("connected"), QStringLiteral("threads running")}, 0, 1);
    add(QStringLiteral("Network, bytes per second"),
        {QStringLiteral("received"), QStringLiteral("sent")}, 1, 0);
    add(QStringLiteral("InnoDB buffer pool, pages per second"),
        {QStringLiteral("read requests"), QStringLiteral("reads from disk")}, 1, 1);
    add(QStringLiteral("Buffer pool hit ratio, %"), {QStringLiteral("hit ratio")}, 2, 0).percent =
        true;
    add(QStringLiteral("Slow queries per second"), {QStringLiteral("slow queries/s")}, 2, 1);

    connect(pause_, &QPushButton::toggled, this, [this](bool on) {
        pause_->setText(on ? QStringLiteral("Resume") : QStringLiteral("Pause"));
        Q_EMIT pausedChanged(on);
    });
    connect(span_, &QComboBox::currentIndexChanged, this, [this] { showRange(); });
}

StatusCharts::~StatusCharts() { qDeleteAll(charts_); }

StatusCharts::Chart& StatusCharts::addChart(const QString& title,
                                            std::initializer_list<QString> names) {
    auto* c = new Chart;
    c->chart = new QChart;
    c->chart->setTitle(title);
    c->chart->setAnimationOptions(QChart::NoAnimation);
    c->chart->legend()->setVisible(names.size() > 1);
    c->chart->legend()->setAlignment(Qt::AlignBottom);
    c->chart->setMargins(QMargins(2, 2, 2, 2));
    c->time = new QDateTimeAxis;
    c->time->setFormat(QStringLiteral("hh:mm:ss"));
    c->time->setTickCount(4);
    c->values = new QValueAxis;
    c->values->setLabelFormat(QStringLiteral("%.0f"));
    c->values->setRange(0, 1);
    c->chart->addAxis(c->time, Qt::AlignBottom);
    c->chart->addAxis(c->values, Qt::AlignLeft);
    for (const QString& name : names) {
        auto* s = new QLineSeries;
        s->setName(name);
        c->chart->addSeries(s);
        s->attachAxis(c->time);
        s->attachAxis(c->values);
        c->series.push_back(s);
    }
    c->view = new QChartView(c->chart, this);
    c->view->setMinimumSize(200, 140);
    // Lines of one pixel need no smoothing; drawing them plain keeps the charts cheap.
    c->view->setRenderHint(QPainter::Antialiasing, false);
    charts_.push_back(c);
    return *c;
}

void StatusCharts::addPoint(const admin::StatusPoint& p) {
    // Placed by the wall clock when it arrives, which the time axis shows as the time of
    // day; a sample is read a few milliseconds before.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const double x = double(now);
    const std::vector<std::vector<double>> values = {
        {p.queriesPerSecond},
        {p.connections, p.threadsRunning},
        {p.bytesReceivedPerSecond, p.bytesSentPerSecond},
        {p.readRequestsPerSecond, p.diskReadsPerSecond},
        {p.hitRatio.value_or(100.0)},
        {p.slowQueriesPerSecond},
    };
    const double oldest = x - 1000.0 * kMaxSpanSeconds;
    for (std::size_t i = 0; i < charts_.size(); ++i) {
        for (std::size_t s = 0; s < charts_[i]->series.size(); ++s) {
            QLineSeries* series = charts_[i]->series[s];
            // A hit ratio of an interval without requests is no point at all.
            if (!(charts_[i]->percent && !p.hitRatio)) series->append(x, values[i][s]);
            int drop = 0;
            while (drop < series->count() && series->at(drop).x() < oldest) ++drop;
            if (drop > 0) series->removePoints(0, drop);
        }
    }
    lastMs_ = now;
    showRange();
}

void StatusCharts::showRange() {
    if (lastMs_ == 0) return;
    const qint64 from = lastMs_ - 1000LL * spanSeconds();
    for (Chart* c : charts_) {
        double top = 0;
        for (QLineSeries* s : c->series) {
            const QList<QPointF> points = s->points();
            for (auto it = points.crbegin(); it != points.crend() && it->x() >= double(from); ++it)
                top = std::max(top, it->y());
        }
        c->values->setRange(0, c->percent ? 100.0 : std::max(1.0, top * 1.15));
        c->time->setRange(QDateTime::fromMSecsSinceEpoch(from),
                          QDateTime::fromMSecsSinceEpoch(lastMs_));
    }
}

void StatusCharts::clear() {
    for (Chart* c : charts_)
        for (QLineSeries* s : c->series) s->clear();
    lastMs_ = 0;
}

int StatusCharts::spanSeconds() const { return span_->currentData().toInt(); }

void StatusCharts::setSpanSeconds(int seconds) {
    const int index = span_->findData(seconds);
    if (index >= 0) span_->setCurrentIndex(index);
}

bool StatusCharts::paused() const { return pause_->isChecked(); }

int StatusCharts::pointCount(int chart, int series) const {
    if (chart < 0 || std::size_t(chart) >= charts_.size()) return -1;
    const auto& s = charts_[std::size_t(chart)]->series;
    return series >= 0 && std::size_t(series) < s.size() ? int(s[std::size_t(series)]->count())
                                                         : -1;
}
