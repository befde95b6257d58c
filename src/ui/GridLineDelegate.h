#pragma once

#include <QStyledItemDelegate>

namespace ui {

// Draws each item as the style does, then a thin line on its right and bottom edges, so a
// report-style list reads as a grid. Lines drawn by a style sheet would turn the list over to
// the style sheet's drawing, whose selected rows lose their contrast.
class GridLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    // One pixel more each way, for the lines: they never cover the text (an underscore).
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace ui
