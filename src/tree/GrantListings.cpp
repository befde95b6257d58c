#include "tree/GrantListings.h"

#include "db/Connection.h"
#include "tree/RowNodes.h"

namespace grants {

std::string accountList(const QString& grantsDb, bool withRoles) {
    return std::string("SELECT `User`, `Host`") + (withRoles ? ", `is_role`" : "") + " FROM " +
           db::qualifiedName(grantsDb, QStringLiteral("user"));
}

std::string hostEntryList(const QString& grantsDb) {
    return "SELECT `Host`, `Db` FROM " + db::qualifiedName(grantsDb, QStringLiteral("host"));
}

void addAccountNodes(TreeNode* folder, db::Result& rows) {
    const bool withRoles = rows.columnCount() > 2;
    addRowNodes(folder, rows, [withRoles](db::Result& row) {
        const bool role = withRoles && row.text(2).compare(QLatin1String("Y"), Qt::CaseInsensitive) == 0;
        return makeAccountNode({row.text(0), row.text(1), role});
    });
}

void addHostEntryNodes(TreeNode* folder, db::Result& rows) {
    addRowNodes(folder, rows, [](db::Result& row) { return makeHostEntryNode({row.text(0), row.text(1)}); });
}

}  // namespace grants
