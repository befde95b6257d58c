#pragma once

#include <QWidget>
#include <vector>

#include "admin/StatusSampler.h"

class QChart;
class QChartView;
class QComboBox;
class QLineSeries;
class QPushButton;
class QValueAxis;
class QDateTimeAxis;

// The "Charts" tab: the server's load over the last minutes, one point per sample: queries
// per second, connections and threads running, bytes received and sent per second, InnoDB
// buffer pool reads from disk against read requests and their hit ratio, slow queries per
// second. It only draws what it is given (addPoint); the panel samples.
class StatusCharts : public QWidget {
    Q_OBJECT
public:
    explicit StatusCharts(QWidget* parent = nullptr);
    ~StatusCharts() override;

    void addPoint(const admin::StatusPoint& point);
    // Forgets every point (another server, or a new start).
    void clear();
    // Seconds the charts span: 60, 300 or 900.
    int spanSeconds() const;
    void setSpanSeconds(int seconds);
    bool paused() const;

    QPushButton* pause() const { return pause_; }
    QComboBox* span() const { return span_; }
    // The points a series holds now, for tests: chart 0..5, series 0..1.
    int pointCount(int chart, int series = 0) const;

Q_SIGNALS:
    // Pause was pressed or released: the panel stops or resumes sampling.
    void pausedChanged(bool paused);

private:
    struct Chart;
    Chart& addChart(const QString& title, std::initializer_list<QString> series);
    void showRange();

    QPushButton* pause_ = nullptr;
    QComboBox* span_ = nullptr;
    std::vector<Chart*> charts_;
    qint64 lastMs_ = 0;
};
