#include "panels/ProcessCommands.h"

#include <QMenu>
#include <QTreeWidget>

#include "dataset/TMySQLConnection.h"
#include "db/Connection.h"
#include "panels/DetailPanels.h"
#include "tree/ServerSession.h"
#include "ui/BusyCursor.h"
#include "ui/Named.h"
#include "ui/Prompts.h"

ProcessCommands::ProcessCommands(DetailPanels& panels, ServerSession& session,
                                 ui::Prompts& prompts, QWidget* window)
    : QObject(window), panels_(panels), session_(session), prompts_(prompts), window_(window) {
    menu_ = ui::named(new QMenu(window), "PopupProcess");
    killQuery_ = ui::named(menu_->addAction(QStringLiteral("Kill Query")), "KillQuery1");
    killConnection_ =
        ui::named(menu_->addAction(QStringLiteral("Kill Connection")), "KillConnection1");
    connect(killQuery_, &QAction::triggered, this, &ProcessCommands::KillQueryClick);
    connect(killConnection_, &QAction::triggered, this, &ProcessCommands::KillConnectionClick);

    QTreeWidget* list = panels_.ProcessListView();
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this, &ProcessCommands::popup);
}

void ProcessCommands::popup(const QPoint& pos) {
    QTreeWidget* list = panels_.ProcessListView();
    QTreeWidgetItem* item = list->itemAt(pos);
    if (!item) return;
    list->setCurrentItem(item);
    menu_->popup(list->viewport()->mapToGlobal(pos));
}

void ProcessCommands::KillQueryClick() { kill(false); }

void ProcessCommands::KillConnectionClick() { kill(true); }

void ProcessCommands::kill(bool connection) {
    QTreeWidgetItem* item = panels_.ProcessListView()->currentItem();
    if (!item) return;
    bool numeric = false;
    const qulonglong id = item->text(0).toULongLong(&numeric);
    if (!numeric) return;
    const QString user = item->text(1);
    // The window's own connections: killing them would cut the window off the server.
    if (id == session_.MainConnection().threadId() ||
        id == session_.DatasetConnection().connection().threadId()) {
        prompts_.message(window_, QStringLiteral("Connection %1 is one of Lorvex's own "
                                                 "connections to the server; ending it would cut "
                                                 "this window off. It was left running.")
                                      .arg(id));
        return;
    }
    const QString question =
        connection ? QStringLiteral("End connection %1 of user %2?").arg(id).arg(user)
                   : QStringLiteral("Stop the statement that connection %1 of user %2 is "
                                    "running?")
                         .arg(id)
                         .arg(user);
    if (!prompts_.okCancel(window_, question, QStringLiteral("Kill Notice"))) return;
    ui::BusyCursor busy;
    db::Connection& c = session_.MainConnection();
    const std::string statement =
        (connection ? "KILL CONNECTION " : "KILL QUERY ") + std::to_string(id);
    if (!c.query(statement)) {
        prompts_.message(window_, ui::withReason(connection ? QStringLiteral("Kill Connection Error")
                                                            : QStringLiteral("Kill Query Error"),
                                                 c.errorText()));
        return;
    }
    panels_.ListProcesses();
}
