#pragma once

#include <QList>

#include "db/Result.h"
#include "tree/TreeNode.h"

// Adds the nodes under `parent` in one batch and expands the parent once: adding them one
// by one and expanding after each costs O(n^2) on large databases and account lists.
inline void addNodeBatch(TreeNode* parent, QList<QTreeWidgetItem*>& nodes) {
    parent->addChildren(nodes);
    parent->setExpanded(true);
}

// One node per row of a listing, made by `makeNode(row)`, added in one batch.
template <typename MakeNode>
void addRowNodes(TreeNode* parent, db::Result& rows, MakeNode makeNode) {
    QList<QTreeWidgetItem*> nodes;
    nodes.reserve(qsizetype(rows.rowCount()));
    while (rows.next()) nodes.append(makeNode(rows));
    addNodeBatch(parent, nodes);
}
