#include "tree/NameColumn.h"

#include <QEvent>
#include <QHeaderView>
#include <QTreeWidget>
#include <algorithm>
#include <vector>

#include "ui/TextAdvance.h"

namespace {

// Exactly measured: the widest few by estimate, which kerning alone cannot reorder much.
constexpr std::size_t kMeasured = 8;

struct Shown {
    int estimate;
    QTreeWidgetItem* item;
};

// Estimates for the tree's font and for the few fonts of single nodes (views, a server
// given up).
class Estimates {
public:
    explicit Estimates(const QFont& base) : base_(base), baseAdvance_(base) {}
    int operator()(QTreeWidgetItem* item) {
        const QVariant own = item->data(0, Qt::FontRole);
        if (!own.isValid()) return baseAdvance_(item->text(0));
        const QFont font = own.value<QFont>().resolve(base_);
        for (auto& [known, advance] : others_)
            if (known == font) return advance(item->text(0));
        others_.emplace_back(font, ui::TextAdvance(font));
        return others_.back().second(item->text(0));
    }

private:
    QFont base_;
    ui::TextAdvance baseAdvance_;
    std::vector<std::pair<QFont, ui::TextAdvance>> others_;
};

}  // namespace

NameColumn::NameColumn(QTreeWidget& tree) : QObject(&tree), tree_(tree) {
    tree_.header()->setStretchLastSection(false);
    tree_.header()->setSectionResizeMode(0, QHeaderView::Fixed);
    QAbstractItemModel* model = tree_.model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &NameColumn::schedule);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &NameColumn::schedule);
    connect(model, &QAbstractItemModel::dataChanged, this, &NameColumn::schedule);
    connect(model, &QAbstractItemModel::layoutChanged, this, &NameColumn::schedule);
    connect(model, &QAbstractItemModel::modelReset, this, &NameColumn::schedule);
    connect(&tree_, &QTreeView::expanded, this, &NameColumn::schedule);
    connect(&tree_, &QTreeView::collapsed, this, &NameColumn::schedule);
    tree_.installEventFilter(this);
    schedule();
}

bool NameColumn::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &tree_ && (event->type() == QEvent::FontChange ||
                              event->type() == QEvent::StyleChange ||
                              event->type() == QEvent::Polish))
        schedule();
    return QObject::eventFilter(watched, event);
}

void NameColumn::schedule() {
    if (pending_) return;
    pending_ = true;
    QMetaObject::invokeMethod(this, &NameColumn::fit, Qt::QueuedConnection);
}

void NameColumn::fit() {
    pending_ = false;
    const int width = neededWidth();
    if (width > 0 && width != tree_.header()->sectionSize(0)) tree_.header()->resizeSection(0, width);
}

int NameColumn::neededWidth() const {
    Estimates estimate(tree_.font());
    const int indent = tree_.indentation();
    std::vector<Shown> shown;
    // The nodes of the expanded branches, each estimate with its indentation.
    std::vector<std::pair<QTreeWidgetItem*, int>> open{{tree_.invisibleRootItem(), 0}};
    const int rootLevel = tree_.rootIsDecorated() ? 1 : 0;
    while (!open.empty()) {
        const auto [parent, depth] = open.back();
        open.pop_back();
        const int offset = indent * (depth + rootLevel);
        for (int i = 0; i < parent->childCount(); ++i) {
            QTreeWidgetItem* item = parent->child(i);
            shown.push_back({estimate(item) + offset, item});
            if (item->childCount() > 0 && item->isExpanded()) open.emplace_back(item, depth + 1);
        }
    }
    if (shown.empty()) return 0;
    const std::size_t ranked = std::min(kMeasured, shown.size());
    std::partial_sort(shown.begin(), shown.begin() + std::ptrdiff_t(ranked), shown.end(),
                      [](const Shown& a, const Shown& b) { return a.estimate > b.estimate; });
    int width = 0;
    for (std::size_t i = 0; i < ranked; ++i) {
        int depth = 0;
        for (QTreeWidgetItem* p = shown[i].item->parent(); p; p = p->parent()) ++depth;
        width = std::max(width, tree_.sizeHintForIndex(tree_.indexFromItem(shown[i].item)).width() +
                                    indent * (depth + rootLevel));
    }
    return width;
}
