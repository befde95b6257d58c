#pragma once

#include <QHash>
#include <QObject>

class QModelIndex;
class QTreeWidget;
class QTreeWidgetItem;

// Keeps a tree's one column as wide as its widest shown node, so that names are never cut
// and a narrow tree scrolls sideways. The header's ResizeToContents did this by laying out
// up to a thousand rows through the style each time the tree laid itself out or painted:
// more than listing a large folder cost otherwise. Here each parent's children are ranked
// by the advances of their characters and only the widest few are measured, once after the
// children changed; the widths of the parents shown make the column's. Sized at once after
// each change: a resize put off to the event loop now and then left the tree without a
// current node after an arrow key.
class NameColumn : public QObject {
public:
    explicit NameColumn(QTreeWidget& tree);

    // The width the nodes shown now need.
    int neededWidth();
    // Sizes the column to it.
    void fit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool treeGone() const;
    QTreeWidgetItem* itemOf(const QModelIndex& index) const;
    void forget(const QModelIndex& parent);
    // The subtrees about to go: their parents' widths must not outlive them.
    void forgetRemoved(const QModelIndex& parent, int first, int last);
    // The width the widest child of `parent` needs, its indentation not counted.
    int childrenWidth(QTreeWidgetItem* parent) const;

    QTreeWidget& tree_;
    QHash<const QTreeWidgetItem*, int> widths_;  // parent -> childrenWidth
};
