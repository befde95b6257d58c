#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QItemSelection;
class QTreeWidget;
class TreeNode;

// The tables a command acts on: the names, in the tree's order, and their database.
struct SelectedTables {
    QString database;
    QStringList tables;
};

// Lets the tree select several tables of one database at once (Ctrl and Shift click, Shift
// with the arrows) and nothing else with them: a selection that reaches another database or
// another kind of node keeps only the node just chosen and the tables of its database. The
// current node stays what the panels and the other commands follow, as with one selected.
class TableSelection : public QObject {
    Q_OBJECT
public:
    explicit TableSelection(QTreeWidget& tree);

    // The selected tables when `node` (the node a context menu opened on) is one of them;
    // otherwise `node` alone, when it is a table; else nothing.
    static SelectedTables around(TreeNode* node);

private:
    void narrow(const QItemSelection& selected);

    QTreeWidget& tree_;
};
