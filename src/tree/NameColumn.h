#pragma once

#include <QObject>

class QTreeWidget;

// Keeps a tree's one column as wide as its widest shown node, so that names are never cut
// and a narrow tree scrolls sideways. The header's ResizeToContents did this by laying out
// up to a thousand rows through the style each time the tree laid itself out or painted:
// more than listing a large folder cost otherwise. Here the shown names are ranked by the
// advances of their characters and only the widest few are measured, once for each batch
// of changes, when control is back in the event loop.
class NameColumn : public QObject {
public:
    explicit NameColumn(QTreeWidget& tree);

    // The width the nodes shown now need.
    int neededWidth() const;
    // Sizes the column at once.
    void fit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void schedule();

    QTreeWidget& tree_;
    bool pending_ = false;
};
