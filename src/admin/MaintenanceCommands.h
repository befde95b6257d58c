#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include "admin/TableMaintenance.h"

class ObjectTree;
class ServerSession;
class QWidget;
namespace ui {
class Prompts;
}

// The question before Optimize: which tables, and that each is rebuilt and locked meanwhile.
// Long lists name the first tables and count the rest.
QString optimizeQuestion(const QString& database, const QStringList& tables);

// "Check", "Analyze", "Optimize", "Repair" and "Checksum" of the table menu: on the tables
// selected in the tree when the menu opened on one of them, else on that table alone. The
// run and its results are shown in TfrmMaintenance, on the session's main connection.
class MaintenanceCommands : public QObject {
    Q_OBJECT
public:
    MaintenanceCommands(ObjectTree& tree, ServerSession& session, ui::Prompts& prompts,
                        QWidget* window);

    void MaintainClick(admin::MaintenanceOp op);

private:
    ObjectTree& tree_;
    ServerSession& session_;
    ui::Prompts& prompts_;
    QWidget* window_;
};
