#pragma once

#include <QString>
#include <string>

#include "tree/TreeNode.h"

namespace db {
class Connection;
class Result;
}

// The folders of a database's stored objects ("Views", "Routines", "Triggers", "Events"):
// what each is called, the one statement that lists it and the nodes made from its rows.
namespace objects {

// The folder levels in the order a database shows them, after "Tables" and "Procedures".
inline constexpr TNodeLevel kObjectFolders[] = {nlViewsFolder, nlRoutinesFolder,
                                                nlTriggersFolder, nlEventsFolder};

bool isObjectFolder(TNodeLevel level);
bool isObjectLevel(TNodeLevel level);
// "Views", "Routines", "Triggers", "Events".
QString folderText(TNodeLevel folder);
// The folder an object's node sits in (nlRoutinesFolder for procedures and functions).
TNodeLevel folderOf(TNodeLevel object);

// The listing of a folder of `database`: names (and for routines their type) in name order,
// from information_schema, so that one query lists the whole folder whatever the current
// database is.
std::string listingStatement(db::Connection& connection, TNodeLevel folder,
                             const QString& database);
// The level of the object a row of the folder's listing stands for.
TNodeLevel objectLevel(TNodeLevel folder, db::Result& row);
// One node per row of the folder's listing, added under it in one batch.
void addObjectNodes(TreeNode* folder, db::Result& rows);
// Whether the folder's nodes are the listing's rows already, in order (then a refresh keeps
// them, and the node selected stays selected). The rows are read again from the start after.
bool showsRows(const TreeNode* folder, db::Result& rows);

}  // namespace objects
