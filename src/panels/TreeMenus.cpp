#include "panels/TreeMenus.h"

#include <QMenu>

#include "tree/ObjectListings.h"

TreeMenus::TreeMenus(QWidget* parent) : QObject(parent) {
    auto menu = [parent](const char* name) {
        auto* m = new QMenu(parent);
        m->setObjectName(QString::fromLatin1(name));
        return m;
    };
    auto item = [](QMenu* m, const char* name, const QString& caption) {
        QAction* a = m->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };

    PServer = menu("PServer");
    Information1 = item(PServer, "Information1", QStringLiteral("Properties"));
    DeleteServer1 = item(PServer, "DeleteServer1", QStringLiteral("Delete Server"));

    PopupUser = menu("PopupUser");
    Add2 = item(PopupUser, "Add2", QStringLiteral("User Add"));
    Refresh2 = item(PopupUser, "Refresh2", QStringLiteral("Refresh"));

    PopupUserView = menu("PopupUserView");
    Add1 = item(PopupUserView, "Add1", QStringLiteral("User Add"));
    Delete2 = item(PopupUserView, "Delete2", QStringLiteral("User Delete"));

    PopupHost = menu("PopupHost");
    Add3 = item(PopupHost, "Add3", QStringLiteral("Host Add"));
    Refresh3 = item(PopupHost, "Refresh3", QStringLiteral("Refresh"));

    PopupHostView = menu("PopupHostView");
    Add4 = item(PopupHostView, "Add4", QStringLiteral("Host Add"));
    Delete1 = item(PopupHostView, "Delete1", QStringLiteral("Host Delete"));

    PopupFDB = menu("PopupFDB");
    Add5 = item(PopupFDB, "Add5", QStringLiteral("DB Add"));
    Refresh1 = item(PopupFDB, "Refresh1", QStringLiteral("Refresh"));

    PopupDB = menu("PopupDB");
    DBSchema1 = item(PopupDB, "DBSchema1", QStringLiteral("DB Schema / Dump"));
    Restore1 = item(PopupDB, "Restore1", QStringLiteral("Restore"));
    Drop1 = item(PopupDB, "Drop1", QStringLiteral("DB Drop"));

    PopupFtable = menu("PopupFtable");
    NewTable1 = item(PopupFtable, "NewTable1", QStringLiteral("NewTable"));
    Refresh4 = item(PopupFtable, "Refresh4", QStringLiteral("Refresh"));

    PopupTable = menu("PopupTable");
    TableSchema1 = item(PopupTable, "TableSchema1", QStringLiteral("Table Schema  / Dump"));
    TableInformation1 = item(PopupTable, "TableInformation1", QStringLiteral("Table Properties"));
    TableRename1 = item(PopupTable, "TableRename1", QStringLiteral("Table Rename"));
    Drop2 = item(PopupTable, "Drop2", QStringLiteral("Table Drop"));
    ImportCsv1 = item(PopupTable, "ImportCsv1", QStringLiteral("Import CSV..."));
    PopupTable->addSeparator();
    CheckTable1 = item(PopupTable, "CheckTable1", QStringLiteral("Check Table"));
    AnalyzeTable1 = item(PopupTable, "AnalyzeTable1", QStringLiteral("Analyze Table"));
    OptimizeTable1 = item(PopupTable, "OptimizeTable1", QStringLiteral("Optimize Table..."));
    RepairTable1 = item(PopupTable, "RepairTable1", QStringLiteral("Repair Table"));
    ChecksumTable1 = item(PopupTable, "ChecksumTable1", QStringLiteral("Checksum Table"));

    // The object folders and their objects share the actions; prepareFor names them.
    PopupObjects = menu("PopupObjects");
    PopupObject = menu("PopupObject");
    NewObject1 = item(PopupObjects, "NewObject1", QStringLiteral("New"));
    NewFunction1 = item(PopupObjects, "NewFunction1", QStringLiteral("New Function"));
    RefreshObjects1 = item(PopupObjects, "RefreshObjects1", QStringLiteral("Refresh"));
    PopupObject->addAction(NewObject1);
    PopupObject->addAction(NewFunction1);
    DropObject1 = item(PopupObject, "DropObject1", QStringLiteral("Drop"));
    RunRoutine1 = item(PopupObject, "RunRoutine1", QStringLiteral("Run..."));
}

void TreeMenus::prepareFor(TNodeLevel level) {
    const TNodeLevel folder = objects::folderOf(level);
    if (!objects::isObjectFolder(folder)) return;
    const bool routines = folder == nlRoutinesFolder;
    const char* noun = folder == nlViewsFolder      ? "View"
                       : routines                   ? "Procedure"
                       : folder == nlTriggersFolder ? "Trigger"
                                                    : "Event";
    NewObject1->setText(QStringLiteral("New %1").arg(QLatin1String(noun)));
    NewFunction1->setVisible(routines);
    RunRoutine1->setVisible(level == nlProcedure || level == nlFunction);
    const QString kind = level == nlFunction ? QStringLiteral("Function")
                                             : QString::fromLatin1(noun);
    DropObject1->setText(QStringLiteral("Drop %1").arg(kind));
}

QMenu* TreeMenus::menuFor(TNodeLevel level) const {
    switch (level) {
        case nlServer: return PServer;
        case nlUserFolder: return PopupUser;
        case nlUser: return PopupUserView;
        case nlHostFolder: return PopupHost;
        case nlHostEntry: return PopupHostView;
        case nlDbFolder: return PopupFDB;
        case nlDatabase: return PopupDB;
        case nlTablesFolder: return PopupFtable;
        case nlTable: return PopupTable;
        case nlViewsFolder:
        case nlRoutinesFolder:
        case nlTriggersFolder:
        case nlEventsFolder: return PopupObjects;
        case nlView:
        case nlProcedure:
        case nlFunction:
        case nlTrigger:
        case nlEvent: return PopupObject;
        default: return nullptr;
    }
}
