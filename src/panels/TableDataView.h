#pragma once

#include <QWidget>

class QTableView;
class QToolButton;
class TMySQLConnection;
class TMySQLDataSet;
class TreeNode;
namespace ui {
class Prompts;
}

// The "Data" tab of the table panel: the rows of one table in a read-only grid with a
// navigator. Nothing is ever sent to the server from the grid or the navigator.
class TableDataView : public QWidget {
    Q_OBJECT
public:
    TableDataView(TMySQLConnection& datasetConnection, ui::Prompts& prompts,
                  QWidget* parent = nullptr);

    TMySQLDataSet& MySQLDataSet1() { return *MySQLDataSet1_; }
    QTableView& DBGrid1() { return *DBGrid1_; }
    // The navigator's buttons in order: first, prior, next, last, insert, delete, edit,
    // post, cancel, refresh.
    const QList<QToolButton*>& DBNavigator1() const { return navigator_; }

    // Loads the rows of the table node (its database is the node's grandparent). A table
    // that cannot be read shows the server's text, then "Data View Error" (or, when the
    // connection was lost, how to connect again); the grid is then empty. Returns whether
    // the rows were loaded.
    bool LoadTableData(TreeNode* table);

private:
    void followCursor();
    // Opens the dataset and shows why it failed (or why a later result of it failed).
    bool openRows();
    // After a failed open: when the dataset's connection was lost, says so and how to
    // connect again. Returns whether it did.
    bool reportLostConnection();

    ui::Prompts& prompts_;
    TMySQLDataSet* MySQLDataSet1_ = nullptr;
    QTableView* DBGrid1_ = nullptr;
    QList<QToolButton*> navigator_;
};
