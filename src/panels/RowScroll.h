#pragma once

#include <QObject>

class QScrollBar;
class QTableView;
class RowFrame;

// The vertical scroll bar of a grid over a RowFrame: it spans every source row, not only
// the frame's. The grid's own bar (hidden) still moves with wheel and keys; this one follows
// it, and the frame moves on before the grid reaches its edge, so scrolling runs on through
// the whole source. A drag past the frame moves the frame to where the handle is.
// Ctrl+Home and Ctrl+End go to the source's first and last rows.
class RowScroll : public QObject {
    Q_OBJECT
public:
    RowScroll(QTableView& grid, RowFrame& frame, QWidget* barParent);

    QScrollBar& bar() const { return *bar_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateRange();
    void gridScrolled(int value);
    void barMoved(int value);
    void setGridValue(int value);
    void syncBar();

    QTableView& grid_;
    RowFrame& frame_;
    QScrollBar* bar_ = nullptr;
    bool syncing_ = false;
};
