#include "admin/TfrmMaintenance.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "db/Connection.h"
#include "ui/BusyCursor.h"
#include "ui/ProgressRelay.h"
#include "ui/Prompts.h"
#include "ui/ServerWait.h"

TfrmMaintenance::TfrmMaintenance(db::Connection& connection, QWidget* parent)
    : QDialog(parent), connection_(connection) {
    setObjectName(QStringLiteral("TfrmMaintenance"));
    resize(720, 420);

    grid_ = new QTableWidget(0, 4, this);
    grid_->setObjectName(QStringLiteral("results"));
    grid_->setHorizontalHeaderLabels({QStringLiteral("Table"), QStringLiteral("Op"),
                                      QStringLiteral("Msg_type"), QStringLiteral("Msg_text")});
    grid_->horizontalHeader()->setStretchLastSection(true);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->verticalHeader()->hide();
    bar_ = new QProgressBar(this);
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setEnabled(false);
    ui::ServerWait::allowDuringCalls(cancel_);
    close_ = new QPushButton(QStringLiteral("Close"), this);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    buttons->addWidget(close_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(grid_, 1);
    layout->addWidget(bar_);
    layout->addWidget(status_);
    layout->addLayout(buttons);

    connect(cancel_, &QPushButton::clicked, this, &TfrmMaintenance::CancelClick);
    connect(close_, &QPushButton::clicked, this, &TfrmMaintenance::reject);
}

void TfrmMaintenance::SetWork(const QString& database, const QStringList& tables,
                              admin::MaintenanceOp op) {
    database_ = database;
    tables_ = tables;
    op_ = op;
    setWindowTitle(tables.size() == 1
                       ? QStringLiteral("%1 %2").arg(admin::opCaption(op),
                                                     ui::qualifiedLabel(database, tables.first()))
                       : QStringLiteral("%1 %2 tables of %3")
                             .arg(admin::opCaption(op))
                             .arg(tables.size())
                             .arg(QString::fromStdString(db::quoteIdentifier(database))));
    bar_->setRange(0, int(tables.size()));
    bar_->setValue(0);
}

void TfrmMaintenance::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Once the dialog is on screen, so that its progress shows from the first table.
    if (!started_) QTimer::singleShot(0, this, &TfrmMaintenance::Start);
}

void TfrmMaintenance::showProgress(const admin::MaintenanceProgress& p) {
    bar_->setValue(p.index);
    status_->setText(p.index < p.total ? QStringLiteral("Table %1 of %2: %3")
                                             .arg(p.index + 1)
                                             .arg(p.total)
                                             .arg(ui::qualifiedLabel(database_, p.table))
                                       : QString());
}

admin::MaintenanceRun TfrmMaintenance::runEngine() {
    admin::TableMaintenance engine(connection_, database_, op_);
    if (!connection_.waiter()) {
        return engine.run(tables_, [this](const admin::MaintenanceProgress& p) {
            showProgress(p);
            QCoreApplication::processEvents();
            return !stopRequested_;
        });
    }
    // The whole loop goes aside as one call, its progress passed over to the window.
    ui::ProgressRelay<admin::MaintenanceProgress> relay(
        [this](const admin::MaintenanceProgress& p) { showProgress(p); });
    admin::MaintenanceRun out;
    connection_.runAside(
        db::utf8(QStringLiteral("%1 on tables of %2").arg(admin::opCaption(op_), database_)),
        [&] {
            out = engine.run(tables_, [&](const admin::MaintenanceProgress& p) {
                relay.post(p);
                // Escape cancels the whole call: between tables too.
                return !stopRequested_ && !connection_.waiter()->cancelRequested();
            });
        },
        true);
    relay.deliver();
    return out;
}

void TfrmMaintenance::Start() {
    if (started_) return;
    started_ = true;
    busy_ = true;
    stopRequested_ = false;
    cancel_->setEnabled(true);
    close_->setEnabled(false);
    try {
        ui::BusyCursor busy;
        run_ = runEngine();
        status_->setText(run_.summary());
    } catch (const std::exception& e) {
        status_->setText(QStringLiteral("The %1 failed: %2")
                             .arg(admin::opName(op_), QString::fromUtf8(e.what())));
    }
    bar_->setValue(run_.finished());
    showRows();
    busy_ = false;
    cancel_->setEnabled(false);
    close_->setEnabled(true);
}

void TfrmMaintenance::showRows() {
    const std::vector<admin::MaintenanceRow> rows = run_.rows();
    grid_->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r) {
        const admin::MaintenanceRow& row = rows[std::size_t(r)];
        const QString cells[] = {row.table, row.op, row.msgType, row.msgText};
        for (int c = 0; c < 4; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (row.isError()) item->setForeground(Qt::red);
            grid_->setItem(r, c, item);
        }
    }
    grid_->resizeColumnsToContents();
}

void TfrmMaintenance::CancelClick() {
    stopRequested_ = true;
    connection_.cancelRunning();  // also the statement the server is running now
}

void TfrmMaintenance::reject() {
    // The close box or Escape while it runs stops it; Close closes once it has stopped.
    if (busy_) {
        CancelClick();
        return;
    }
    QDialog::reject();
}
