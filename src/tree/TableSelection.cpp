#include "tree/TableSelection.h"

#include <QItemSelectionModel>
#include <QTreeWidget>
#include <functional>

#include "tree/TreeNode.h"

TableSelection::TableSelection(QTreeWidget& tree) : QObject(&tree), tree_(tree) {
    tree_.setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(tree_.selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected) { narrow(selected); });
}

void TableSelection::narrow(const QItemSelection& selected) {
    const QModelIndexList fresh = selected.indexes();
    if (fresh.isEmpty()) return;  // only deselected: what stays is as allowed as before
    // The node just chosen leads: the clicked one is current already when its selection
    // comes; a key selects before it moves the current node.
    const QModelIndex current = tree_.selectionModel()->currentIndex();
    const QModelIndex leadIndex = fresh.contains(current) ? current : fresh.last();
    TreeNode* lead = TreeNode::cast(tree_.itemFromIndex(leadIndex));
    TreeNode* database = lead && lead->level() == nlTable ? lead->databaseNode() : nullptr;
    // Each deselection comes back here with nothing selected afresh, and ends there.
    for (QTreeWidgetItem* item : tree_.selectedItems()) {
        TreeNode* node = TreeNode::cast(item);
        const bool keep = node == lead || (database && node && node->level() == nlTable &&
                                           node->databaseNode() == database);
        if (!keep) item->setSelected(false);
    }
}

SelectedTables TableSelection::around(TreeNode* node) {
    SelectedTables out;
    TreeNode* database = node && node->level() == nlTable ? node->databaseNode() : nullptr;
    if (!database) return out;
    out.database = database->text();
    if (!node->isSelected()) {
        out.tables << node->text();
        return out;
    }
    // In the tree's order, whichever was clicked first.
    const std::function<void(QTreeWidgetItem*)> collect = [&](QTreeWidgetItem* item) {
        for (int i = 0; i < item->childCount(); ++i) {
            TreeNode* child = TreeNode::cast(item->child(i));
            if (!child) continue;
            if (child->level() == nlTable) {
                if (child->isSelected()) out.tables << child->text();
            } else {
                collect(child);
            }
        }
    };
    collect(database);
    return out;
}
