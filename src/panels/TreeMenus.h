#pragma once

#include <QObject>
#include <QString>

#include "tree/TreeNode.h"

class QAction;
class QMenu;
class QWidget;

// The tree's context menus, one per node level that has one, with their items.
class TreeMenus : public QObject {
    Q_OBJECT
public:
    explicit TreeMenus(QWidget* parent);

    // The menu for a node level, or null for the levels that have none.
    QMenu* menuFor(TNodeLevel level) const;
    // Names the object items for the node the menu opens on ("New View", "Drop Function")
    // and shows only those that apply to it; nothing for other levels.
    void prepareFor(TNodeLevel level);

    QMenu* PServer = nullptr;
    QMenu* PopupUser = nullptr;
    QMenu* PopupUserView = nullptr;
    QMenu* PopupHost = nullptr;
    QMenu* PopupHostView = nullptr;
    QMenu* PopupFDB = nullptr;
    QMenu* PopupDB = nullptr;
    QMenu* PopupFtable = nullptr;
    QMenu* PopupTable = nullptr;
    QMenu* PopupObjects = nullptr;  // "Views", "Routines", "Triggers", "Events"
    QMenu* PopupObject = nullptr;   // a view, routine, trigger or event

    QAction* Information1 = nullptr;   // "Properties"
    QAction* DeleteServer1 = nullptr;  // "Delete Server"
    QAction* Add2 = nullptr;           // "User Add" (accounts folder)
    QAction* Refresh2 = nullptr;       // "Refresh" (accounts folder)
    QAction* Add1 = nullptr;           // "User Add" (account)
    QAction* Delete2 = nullptr;        // "User Delete"
    QAction* Add3 = nullptr;           // "Host Add" (host entries folder)
    QAction* Refresh3 = nullptr;       // "Refresh" (host entries folder)
    QAction* Add4 = nullptr;           // "Host Add" (host entry)
    QAction* Delete1 = nullptr;        // "Host Delete"
    QAction* Add5 = nullptr;           // "DB Add"
    QAction* Refresh1 = nullptr;       // "Refresh" (databases folder)
    QAction* DBSchema1 = nullptr;      // "DB Schema / Dump"
    QAction* Restore1 = nullptr;       // "Restore"
    QAction* Drop1 = nullptr;          // "DB Drop"
    QAction* NewTable1 = nullptr;      // "NewTable"
    QAction* Refresh4 = nullptr;       // "Refresh" (tables folder)
    QAction* TableSchema1 = nullptr;   // "Table Schema  / Dump"
    QAction* TableInformation1 = nullptr;  // "Table Properties"
    QAction* TableRename1 = nullptr;   // "Table Rename"
    QAction* Drop2 = nullptr;          // "Table Drop"
    QAction* ImportCsv1 = nullptr;     // "Import CSV..."
    // Table maintenance, on the table or on the tables selected with it.
    QAction* CheckTable1 = nullptr;     // "Check Table"
    QAction* AnalyzeTable1 = nullptr;   // "Analyze Table"
    QAction* OptimizeTable1 = nullptr;  // "Optimize Table..."
    QAction* RepairTable1 = nullptr;    // "Repair Table"
    QAction* ChecksumTable1 = nullptr;  // "Checksum Table"
    QAction* NewObject1 = nullptr;     // "New View", "New Procedure", ... (folder and object)
    QAction* NewFunction1 = nullptr;   // "New Function" (routines)
    QAction* RefreshObjects1 = nullptr;  // "Refresh" (object folders)
    QAction* DropObject1 = nullptr;    // "Drop View", ...
    QAction* RunRoutine1 = nullptr;    // "Run..." (procedures and functions)
};
