#include "tree/ObjectListings.h"

#include "db/Connection.h"
#include "tree/RowNodes.h"

namespace objects {

bool isObjectFolder(TNodeLevel level) {
    for (TNodeLevel folder : kObjectFolders)
        if (folder == level) return true;
    return false;
}

bool isObjectLevel(TNodeLevel level) {
    switch (level) {
        case nlView:
        case nlProcedure:
        case nlFunction:
        case nlTrigger:
        case nlEvent: return true;
        default: return false;
    }
}

QString folderText(TNodeLevel folder) {
    switch (folder) {
        case nlViewsFolder: return QStringLiteral("Views");
        case nlRoutinesFolder: return QStringLiteral("Routines");
        case nlTriggersFolder: return QStringLiteral("Triggers");
        case nlEventsFolder: return QStringLiteral("Events");
        default: return {};
    }
}

TNodeLevel folderOf(TNodeLevel object) {
    switch (object) {
        case nlView: return nlViewsFolder;
        case nlProcedure:
        case nlFunction: return nlRoutinesFolder;
        case nlTrigger: return nlTriggersFolder;
        case nlEvent: return nlEventsFolder;
        default: return object;
    }
}

std::string listingStatement(db::Connection& connection, TNodeLevel folder,
                             const QString& database) {
    const std::string schema = connection.quoteValue(database);
    switch (folder) {
        case nlViewsFolder:
            return "SELECT TABLE_NAME FROM information_schema.VIEWS WHERE TABLE_SCHEMA = " +
                   schema + " ORDER BY TABLE_NAME";
        case nlRoutinesFolder:
            return "SELECT ROUTINE_NAME, ROUTINE_TYPE FROM information_schema.ROUTINES WHERE "
                   "ROUTINE_SCHEMA = " + schema + " ORDER BY ROUTINE_NAME, ROUTINE_TYPE";
        case nlTriggersFolder:
            return "SELECT TRIGGER_NAME FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = " +
                   schema + " ORDER BY TRIGGER_NAME";
        case nlEventsFolder:
            return "SELECT EVENT_NAME FROM information_schema.EVENTS WHERE EVENT_SCHEMA = " +
                   schema + " ORDER BY EVENT_NAME";
        default: return {};
    }
}

TNodeLevel objectLevel(TNodeLevel folder, db::Result& row) {
    switch (folder) {
        case nlRoutinesFolder:
            // A procedure and a function may share a name; the type tells them apart.
            return row.text(1) == QLatin1String("FUNCTION") ? nlFunction : nlProcedure;
        case nlTriggersFolder: return nlTrigger;
        case nlEventsFolder: return nlEvent;
        default: return nlView;
    }
}

bool showsRows(const TreeNode* folder, db::Result& rows) {
    bool same = std::uint64_t(folder->childCount()) == rows.rowCount();
    for (int i = 0; same && rows.next(); ++i) {
        const auto* node = static_cast<const TreeNode*>(folder->child(i));
        same = node->level() == objectLevel(folder->level(), rows) && node->text() == rows.text(0);
    }
    rows.seek(0);
    return same;
}

void addObjectNodes(TreeNode* folder, db::Result& rows) {
    const TNodeLevel kind = folder->level();
    addRowNodes(folder, rows, [kind](db::Result& row) {
        return new TreeNode(row.text(0), TNodeData{objectLevel(kind, row), {}});
    });
}

}  // namespace objects
