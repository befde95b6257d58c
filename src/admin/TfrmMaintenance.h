#pragma once

#include <QDialog>
#include <QStringList>

#include "admin/TableMaintenance.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;
namespace db {
class Connection;
}

// Check, Analyze, Optimize, Repair or Checksum over the tables chosen in the tree: starts as
// soon as it is shown, says which table of how many runs, and lists every result row the
// server gave for each. Cancel stops it between tables and stops the running statement;
// Close is for after. The work is admin::TableMaintenance's; the dialog only shows it.
class TfrmMaintenance : public QDialog {
    Q_OBJECT
public:
    TfrmMaintenance(db::Connection& connection, QWidget* parent = nullptr);

    void SetWork(const QString& database, const QStringList& tables, admin::MaintenanceOp op);

    const admin::MaintenanceRun& run() const { return run_; }
    QTableWidget* grid() const { return grid_; }
    QLabel* status() const { return status_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* closeButton() const { return close_; }

public Q_SLOTS:
    // Runs the work once; the first show starts it.
    void Start();
    void CancelClick();
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showProgress(const admin::MaintenanceProgress& progress);
    void showRows();
    admin::MaintenanceRun runEngine();

    db::Connection& connection_;
    QString database_;
    QStringList tables_;
    admin::MaintenanceOp op_ = admin::MaintenanceOp::Check;
    admin::MaintenanceRun run_;
    bool started_ = false;
    bool busy_ = false;
    bool stopRequested_ = false;

    QTableWidget* grid_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* close_ = nullptr;
};
