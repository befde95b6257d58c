#include "ui/GridLineDelegate.h"

#include <QPainter>

namespace ui {

void GridLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyleOptionViewItem inside = option;
    inside.rect.adjust(0, 0, -1, -1);
    QStyledItemDelegate::paint(painter, inside, index);
    painter->save();
    painter->setPen(option.palette.color(QPalette::Midlight));
    const QRect r = option.rect;
    painter->drawLine(r.topRight(), r.bottomRight());
    painter->drawLine(r.bottomLeft(), r.bottomRight());
    painter->restore();
}

QSize GridLineDelegate::sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    return QStyledItemDelegate::sizeHint(option, index) + QSize(1, 1);
}

}  // namespace ui
