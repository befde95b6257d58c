#pragma once

#include <QSet>
#include <QWidget>

class GridEditing;
class QLabel;
class QModelIndex;
class QLineEdit;
class QTableView;
class QScrollBar;
class QToolButton;
class RowFrame;
class RowScroll;
class TMySQLConnection;
class TableRows;
class TreeNode;
namespace ui {
class Prompts;
}

// The "Data" tab of the table panel: the rows of one table, read a window at a time as the
// grid shows them, with a navigator. A table with a key that names each row can be edited:
// changes wait, marked, until Post sends them in one transaction; one without stays
// read-only and says why. A filter box narrows the rows on the server and a header click
// sorts them there.
class TableDataView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSampledRows = 100;
    static constexpr int kMaxColumnWidth = 320;
    // Columns widen to the rows shown this long after the grid last scrolled or read.
    static constexpr int kWidenAfterMs = 100;

    TableDataView(TMySQLConnection& datasetConnection, ui::Prompts& prompts,
                  QWidget* parent = nullptr);

    TableRows& rows() { return *rows_; }
    // The grid shows the rows through a frame of at most RowFrame::kCapacity of them; its
    // scroll bar is rowScrollBar(), over every row.
    QTableView& DBGrid1() { return *DBGrid1_; }
    RowFrame& frame() { return *frame_; }
    QScrollBar& rowScrollBar();
    // The navigator's buttons in order: first, prior, next, last, insert, delete, edit,
    // post, cancel, refresh.
    const QList<QToolButton*>& DBNavigator1() const { return navigator_; }
    QLineEdit& filterBox() { return *filter_; }
    // The server's refusal of the filter, under the box; empty when it was taken.
    QLabel& filterError() { return *filterError_; }
    // "1,234 rows", "about 10,000,000 rows", or why the rows are read-only.
    QLabel& status() { return *status_; }

    // Loads the rows of the table node (its database is the node's grandparent). A table
    // that cannot be read shows the server's text, then "Data View Error" (or, when the
    // connection was lost, how to connect again); the grid is then empty. Edits not posted
    // are asked about first. Returns whether the rows were loaded.
    bool LoadTableData(TreeNode* table);
    bool LoadTable(const QString& database, const QString& table);

    // The editing commands and keys of the grid.
    GridEditing& editing() { return *editing_; }
    void refresh();
    void applyFilter();
    // Filters by the current cell's value: "=", "<>", "IS NULL" or "LIKE".
    void filterByCell(const QString& how);
    void countRows();

private:
    bool openTable();
    void showTop();
    void widenLater();
    void widenColumns();
    void updateState();
    void reportFailure(const std::exception& error);
    bool reportLostConnection();

    ui::Prompts& prompts_;
    TMySQLConnection& connection_;
    TableRows* rows_ = nullptr;
    RowFrame* frame_ = nullptr;
    RowScroll* scroll_ = nullptr;
    GridEditing* editing_ = nullptr;
    QToolButton* preview_ = nullptr;
    QTableView* DBGrid1_ = nullptr;
    QLineEdit* filter_ = nullptr;
    QLabel* filterError_ = nullptr;
    QLabel* status_ = nullptr;
    QList<QToolButton*> navigator_;
    QSet<int> userSized_;  // columns the user resized: never widened
    bool sizing_ = false;  // the view sizes a column itself (not the user)
    bool widenQueued_ = false;
    QString database_;  // the table shown, or the one that could not be opened
    QString table_;
};
