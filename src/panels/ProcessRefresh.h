#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QTabWidget;
class QTreeWidget;
class ServerSession;
namespace admin {
class ServerPoller;
}

// The process panel's own controls, beside its tabs: a refresh of the list at an interval
// (off, 1, 2, 5 or 10 seconds), read on a connection and a thread of its own while the panel
// is shown, and a switch that hides sleeping connections. A refresh updates the items in
// place: the selection, the current item and the scroll position stay as the user left
// them. Call from the user-interface thread only.
class ProcessRefresh : public QObject {
    Q_OBJECT
public:
    ProcessRefresh(QTabWidget& page, QTreeWidget& list, ServerSession& session);
    ~ProcessRefresh() override;

    QComboBox* interval() const { return interval_; }
    QCheckBox* hideSleeping() const { return hideSleeping_; }
    // 0 turns the refresh off; other values are the offered seconds.
    void setIntervalSeconds(int seconds);
    int intervalSeconds() const;
    // Hides the sleeping connections' items, or shows them again, as the switch says; after
    // every fill of the list.
    void applyHiding();
    // Rows in the list's columns: the items are reused in order, the selection and current
    // item follow their connection's Id.
    void show(const QList<QStringList>& rows);
    // The server connected elsewhere or disconnected: the refresh stops until the panel is
    // shown for a connected server again.
    void ServerChanged();
    bool refreshing() const;
    // Refreshes shown so far.
    int refreshes() const { return refreshes_; }

Q_SIGNALS:
    void refreshed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void update();

    QTabWidget& page_;
    QTreeWidget& list_;
    ServerSession& session_;
    QComboBox* interval_ = nullptr;
    QCheckBox* hideSleeping_ = nullptr;
    admin::ServerPoller* poller_ = nullptr;
    int refreshes_ = 0;
};
