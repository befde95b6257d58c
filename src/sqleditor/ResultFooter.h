#pragma once

#include <QWidget>
#include <cstdint>

class GridEditing;
class QLabel;
class QSpinBox;
class QToolButton;
class ResultRows;

// Under a query's rows: how many there are and how many the row limit left unread, the
// limit itself, and - when the rows are one table's with its key - the editing buttons
// (Insert, Delete, Post, Cancel, Preview); otherwise why the rows are read-only.
class ResultFooter : public QWidget {
    Q_OBJECT
public:
    // Rows a result keeps unless the user raises the limit.
    static constexpr int kDefaultRowLimit = 100000;

    ResultFooter(ResultRows& rows, GridEditing& editing, QWidget* parent = nullptr);

    // The rows a result keeps at most; 0: every row.
    std::uint64_t rowLimit() const;
    QSpinBox& RowLimit() const { return *limit_; }
    QLabel& Status() const { return *status_; }
    QToolButton& Insert() const { return *insert_; }
    QToolButton& Delete() const { return *delete_; }
    QToolButton& Post() const { return *post_; }
    QToolButton& Cancel() const { return *cancel_; }
    QToolButton& Preview() const { return *preview_; }

    // Brings the text and the buttons up to date with the rows.
    void refresh();

private:
    ResultRows& rows_;
    QSpinBox* limit_ = nullptr;
    QLabel* status_ = nullptr;
    QToolButton* insert_ = nullptr;
    QToolButton* delete_ = nullptr;
    QToolButton* post_ = nullptr;
    QToolButton* cancel_ = nullptr;
    QToolButton* preview_ = nullptr;
};
