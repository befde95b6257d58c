#include "tree/GrantListings.h"

#include "db/Connection.h"
#include "tree/TreeNode.h"

namespace grants {

namespace {

template <typename MakeNode>
void addNodes(TreeNode* folder, db::Result& rows, MakeNode makeNode) {
    QList<QTreeWidgetItem*> nodes;
    nodes.reserve(qsizetype(rows.rowCount()));
    while (rows.next()) nodes << makeNode(rows);
    // One batch and one expansion: node by node costs O(n^2) on servers with many accounts.
    folder->addChildren(nodes);
    folder->setExpanded(true);
}

}  // namespace

std::string accountList(const QString& grantsDb, bool withRoles) {
    return std::string("SELECT `User`, `Host`") + (withRoles ? ", `is_role`" : "") + " FROM " +
           db::qualifiedName(grantsDb, QStringLiteral("user"));
}

std::string hostEntryList(const QString& grantsDb) {
    return "SELECT `Host`, `Db` FROM " + db::qualifiedName(grantsDb, QStringLiteral("host"));
}

void addAccountNodes(TreeNode* folder, db::Result& rows) {
    const bool withRoles = rows.columnCount() > 2;
    addNodes(folder, rows, [withRoles](db::Result& row) {
        const bool role = withRoles && row.text(2).compare(QLatin1String("Y"), Qt::CaseInsensitive) == 0;
        return makeAccountNode({row.text(0), row.text(1), role});
    });
}

void addHostEntryNodes(TreeNode* folder, db::Result& rows) {
    addNodes(folder, rows, [](db::Result& row) { return makeHostEntryNode({row.text(0), row.text(1)}); });
}

}  // namespace grants
