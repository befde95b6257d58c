#include "ui/GridLineDelegate.h"

#include <QPainter>

namespace ui {

void GridLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);
    painter->save();
    painter->setPen(option.palette.color(QPalette::Midlight));
    const QRect r = option.rect;
    painter->drawLine(r.topRight(), r.bottomRight());
    painter->drawLine(r.bottomLeft(), r.bottomRight());
    painter->restore();
}

}  // namespace ui
