#pragma once

#include <QString>
#include <memory>

class AccountCommands;
class DatabaseCommands;
class DetailPanels;
class MaintenanceCommands;
class ObjectTree;
class ServerSession;
class TreeMenus;
class QWidget;
namespace ui {
class Prompts;
}

// The window's wiring of the account and database commands to the detail panels and the
// tree's context menus: the commands know neither, so that account logic stays free of
// panel widgets.

// The account commands on the user and host panels, their buttons connected. Arguments as
// for AccountCommands.
std::unique_ptr<AccountCommands> accountCommandsOn(ObjectTree& tree, DetailPanels& panels,
                                                   ServerSession& session, ui::Prompts& prompts,
                                                   QWidget* window,
                                                   QString grantsDb = QStringLiteral("mysql"));
// "User Add", "User Delete", "Host Add", "Host Delete" and the two folders' "Refresh".
void connectAccountMenus(AccountCommands& commands, TreeMenus& menus);
// "DB Add", "DB Drop", "NewTable", "Table Properties", "Table Rename" and "Table Drop". The
// drops clear `contextDb` and `contextTable`, which must outlive the commands.
void connectDatabaseMenus(DatabaseCommands& commands, TreeMenus& menus, QString& contextDb,
                          QString& contextTable);
// "Check Table", "Analyze Table", "Optimize Table...", "Repair Table" and "Checksum Table".
void connectMaintenanceMenus(MaintenanceCommands& commands, TreeMenus& menus);
