#include "tree/ObjectTreeView.h"

#include <QKeyEvent>

void ObjectTreeView::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentItem()) {
        event->accept();
        Q_EMIT enterPressed();
        return;
    }
    QTreeWidgetItem* before = currentItem();
    QTreeWidget::keyPressEvent(event);
    if (currentItem() && currentItem() != before) Q_EMIT currentMovedByKey();
}
