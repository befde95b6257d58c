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
    connect(model, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex& parent) {
        forget(parent);
        fit();
    });
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this, &NameColumn::forgetRemoved);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &NameColumn::fit);
    connect(model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& first) {
        forget(first.parent());
        fit();
    });
    const auto all = [this] {
        widths_.clear();
        fit();
    };
    connect(model, &QAbstractItemModel::layoutChanged, this, all);
    connect(model, &QAbstractItemModel::modelReset, this, all);
    connect(&tree_, &QTreeView::expanded, this, &NameColumn::fit);
    connect(&tree_, &QTreeView::collapsed, this, &NameColumn::fit);
    tree_.installEventFilter(this);
    fit();
}

bool NameColumn::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &tree_ && (event->type() == QEvent::FontChange ||
                              event->type() == QEvent::StyleChange ||
                              event->type() == QEvent::Polish)) {
        widths_.clear();
        fit();
    }
    return QObject::eventFilter(watched, event);
}

QTreeWidgetItem* NameColumn::itemOf(const QModelIndex& index) const {
    return index.isValid() ? tree_.itemFromIndex(index) : tree_.invisibleRootItem();
}

// The tree's model is cleared while the tree is destroyed, when only its QWidget part is
// left: its signals then find no tree to measure. (The type seen during a destructor is
// the class being destroyed, so the cast tells.)
bool NameColumn::treeGone() const { return qobject_cast<const QTreeWidget*>(&tree_) == nullptr; }

void NameColumn::forget(const QModelIndex& parent) {
    if (!treeGone()) widths_.remove(itemOf(parent));
}

void NameColumn::forgetRemoved(const QModelIndex& parent, int first, int last) {
    if (treeGone()) return;
    QTreeWidgetItem* item = itemOf(parent);
    widths_.remove(item);
    std::vector<QTreeWidgetItem*> gone;
    for (int i = first; item && i <= last && i < item->childCount(); ++i) gone.push_back(item->child(i));
    while (!gone.empty()) {
        QTreeWidgetItem* node = gone.back();
        gone.pop_back();
        if (node->childCount() == 0) continue;
        widths_.remove(node);
        for (int i = 0; i < node->childCount(); ++i) gone.push_back(node->child(i));
    }
}

void NameColumn::fit() {
    if (treeGone()) return;
    const int width = neededWidth();
    if (width > 0 && width != tree_.header()->sectionSize(0)) tree_.header()->resizeSection(0, width);
}

int NameColumn::childrenWidth(QTreeWidgetItem* parent) const {
    Estimates estimate(tree_.font());
    std::vector<std::pair<int, QTreeWidgetItem*>> ranked;
    ranked.reserve(std::size_t(parent->childCount()));
    for (int i = 0; i < parent->childCount(); ++i) {
        QTreeWidgetItem* child = parent->child(i);
        ranked.emplace_back(estimate(child), child);
    }
    const std::size_t measured = std::min(kMeasured, ranked.size());
    std::partial_sort(ranked.begin(), ranked.begin() + std::ptrdiff_t(measured), ranked.end(),
                      [](const auto& a, const auto& b) { return a.first > b.first; });
    int width = 0;
    for (std::size_t i = 0; i < measured; ++i)
        width = std::max(width, tree_.sizeHintForIndex(tree_.indexFromItem(ranked[i].second)).width());
    return width;
}

int NameColumn::neededWidth() {
    const int indent = tree_.indentation();
    const int rootLevel = tree_.rootIsDecorated() ? 1 : 0;
    int width = 0;
    // The expanded branches: each parent's children are shown at its depth plus one.
    std::vector<std::pair<QTreeWidgetItem*, int>> open{{tree_.invisibleRootItem(), 0}};
    while (!open.empty()) {
        const auto [parent, depth] = open.back();
        open.pop_back();
        if (parent->childCount() == 0) continue;
        auto known = widths_.constFind(parent);
        if (known == widths_.constEnd()) known = widths_.insert(parent, childrenWidth(parent));
        width = std::max(width, *known + indent * (depth + rootLevel));
        for (int i = 0; i < parent->childCount(); ++i) {
            QTreeWidgetItem* child = parent->child(i);
            if (child->childCount() > 0 && child->isExpanded()) open.emplace_back(child, depth + 1);
        }
    }
    return width;
}
