#pragma once

#include <QString>
#include <string>

class TreeNode;
namespace db {
class Result;
}

// The listings of the accounts and host privilege tables, shared by the tree's double click
// and start-up restore and by the account commands' refresh and insert, so that a node
// below "USER" or "HOST" is always built the same way.
namespace grants {

// User, host and, with `withRoles`, whether the row is a role (MariaDB's is_role column).
std::string accountList(const QString& grantsDb, bool withRoles);
std::string hostEntryList(const QString& grantsDb);

// One node per row, added under the folder in one batch, the folder expanded. Account rows
// with a third column read it as is_role.
void addAccountNodes(TreeNode* folder, db::Result& rows);
void addHostEntryNodes(TreeNode* folder, db::Result& rows);

}  // namespace grants
