#include "panels/RowScroll.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTableView>
#include <algorithm>

#include "dataset/RowFrame.h"

RowScroll::RowScroll(QTableView& grid, RowFrame& frame, QWidget* barParent)
    : QObject(&grid), grid_(grid), frame_(frame) {
    bar_ = new QScrollBar(Qt::Vertical, barParent);
    bar_->setObjectName(QStringLiteral("RowScrollBar"));
    bar_->hide();
    // Scrolling by whole rows makes the grid's bar count rows, as this one does.
    grid_.setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    grid_.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QScrollBar* own = grid_.verticalScrollBar();
    connect(own, &QScrollBar::valueChanged, this, &RowScroll::gridScrolled);
    connect(own, &QScrollBar::rangeChanged, this, &RowScroll::updateRange);
    connect(bar_, &QScrollBar::valueChanged, this, &RowScroll::barMoved);
    connect(&frame_, &QAbstractItemModel::modelReset, this, &RowScroll::updateRange);
    connect(&frame_, &RowFrame::moved, this, &RowScroll::updateRange);
    if (QAbstractItemModel* source = frame_.sourceModel()) {
        // Rows come and go in the source, whether or not the frame's change (an estimate met
        // its end far below): the frame has followed them by then.
        connect(source, &QAbstractItemModel::rowsInserted, this, &RowScroll::updateRange);
        connect(source, &QAbstractItemModel::rowsRemoved, this, &RowScroll::updateRange);
    }
    grid_.installEventFilter(this);
}

void RowScroll::updateRange() {
    const QScrollBar* own = grid_.verticalScrollBar();
    const int maximum = std::max(0, frame_.sourceRowCount() - frame_.rowCount() + own->maximum());
    const QSignalBlocker block(bar_);
    bar_->setRange(0, maximum);
    bar_->setPageStep(own->pageStep());
    bar_->setSingleStep(own->singleStep());
    bar_->setVisible(maximum > 0);
    // While the grid is being put back on its rows, it is not where it will be.
    if (!syncing_) syncBar();
}

void RowScroll::syncBar() {
    const QSignalBlocker block(bar_);
    bar_->setValue(frame_.start() + grid_.verticalScrollBar()->value());
}

void RowScroll::setGridValue(int value) {
    syncing_ = true;
    grid_.verticalScrollBar()->setValue(value);
    syncing_ = false;
    syncBar();
}

void RowScroll::gridScrolled(int value) {
    if (syncing_) return;
    const int rows = frame_.rowCount();
    const int page = grid_.verticalScrollBar()->pageStep();
    const int margin = std::max(page, rows / 4);
    const bool nearTop = value < margin && frame_.start() > 0;
    const bool nearEnd =
        value + page > rows - margin && frame_.start() + rows < frame_.sourceRowCount();
    if (nearTop || nearEnd) {
        // The frame moves on, centred on the rows shown, which stay where they are on screen.
        const int top = frame_.start() + value;
        frame_.moveTo(top - (rows - page) / 2);
        setGridValue(top - frame_.start());
        return;
    }
    syncBar();
}

void RowScroll::barMoved(int value) {
    const int inFrame = value - frame_.start();
    if (inFrame < 0 || inFrame > grid_.verticalScrollBar()->maximum()) {
        frame_.moveTo(value - (frame_.rowCount() - grid_.verticalScrollBar()->pageStep()) / 2);
        setGridValue(value - frame_.start());
        return;
    }
    grid_.verticalScrollBar()->setValue(inFrame);
}

bool RowScroll::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &grid_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool home = key->key() == Qt::Key_Home, end = key->key() == Qt::Key_End;
        if ((home || end) && key->modifiers() == Qt::ControlModifier) {
            // The frame moves first: the current cell may be outside it afterwards.
            const int column = std::max(0, grid_.currentIndex().column());
            frame_.moveTo(home ? 0 : frame_.sourceRowCount());
            const QModelIndex target = frame_.index(home ? 0 : frame_.rowCount() - 1, column);
            grid_.setCurrentIndex(target);
            grid_.scrollTo(target);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
