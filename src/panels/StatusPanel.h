#pragma once

#include <QTabWidget>

#include "admin/StatusSampler.h"

class QLabel;
class QLineEdit;
class QTreeWidget;
class ServerSession;
class StatusCharts;
class VariablesTab;
namespace admin {
class ServerPoller;
}
namespace ui {
class Prompts;
}

// The panel of a server's "Status" node: its variables, its status counters with their rate
// per second, and charts of its load. The counters are read every second on a connection
// and a thread of their own, and only while the counters or the charts are on screen and
// not paused; sampling stops when the panel is hidden or the server is disconnected.
// Call from the user-interface thread only.
class StatusPanel : public QTabWidget {
    Q_OBJECT
public:
    StatusPanel(ServerSession& session, ui::Prompts& prompts, QWidget* parent = nullptr);
    ~StatusPanel() override;

    // The node was clicked: reads the variables and starts sampling when it should run.
    void Load();
    // The session connected elsewhere or disconnected: sampling stops and what was sampled
    // from the old server is forgotten.
    void ServerChanged();
    // Milliseconds between samples (1000 unless a test wants them faster).
    void setSampleInterval(int ms) { intervalMs_ = ms; }

    VariablesTab* variables() const { return variables_; }
    StatusCharts* charts() const { return charts_; }
    QWidget* countersTab() const { return counters_; }
    QLineEdit* counterFilter() const { return counterFilter_; }
    QTreeWidget* counterList() const { return counterList_; }
    // What the panel says about sampling: stopped and why, or empty while it runs.
    QLabel* note() const { return note_; }
    bool sampling() const;
    // Samples received since the panel was made.
    int samples() const { return samples_; }
    const admin::StatusSampler& sampler() const { return sampler_; }

Q_SIGNALS:
    // A sample arrived and was shown (tests and the bench wait for it).
    void sampled();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Starts or stops the poller as the panel's state asks.
    void updateSampling();
    void received(const admin::StatusSample& sample);
    void showCounters();
    void applyCounterFilter();

    ServerSession& session_;
    VariablesTab* variables_ = nullptr;
    QWidget* counters_ = nullptr;
    QLineEdit* counterFilter_ = nullptr;
    QTreeWidget* counterList_ = nullptr;
    StatusCharts* charts_ = nullptr;
    QLabel* note_ = nullptr;
    admin::ServerPoller* poller_ = nullptr;
    admin::StatusSampler sampler_;
    int intervalMs_ = 1000;
    int samples_ = 0;
    bool stoppedByFailure_ = false;
    bool loadStarted_ = false;  // for the server connected now
};
