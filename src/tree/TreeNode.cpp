#include "tree/TreeNode.h"

#include <QFont>

#include "tree/NodeImages.h"

TreeNode::TreeNode(const QString& text, TNodeData data)
    : QTreeWidgetItem(QStringList{text}, Type), data_(std::move(data)) {}

QIcon TreeNode::levelIcon() const {
    if (view_) return NodeImages::viewIcon();
    const QIcon own = NodeImages::objectIcon(data_.level);
    return own.isNull() ? NodeImages::icon(imageIndexOf(data_.level)) : own;
}

int TreeNode::depth() const {
    int d = 0;
    for (QTreeWidgetItem* p = parent(); p; p = p->parent()) ++d;
    return d;
}

TreeNode* TreeNode::ancestor(int generations) const {
    QTreeWidgetItem* item = const_cast<TreeNode*>(this);
    for (int i = 0; i < generations && item; ++i) item = item->parent();
    return cast(item);
}

TreeNode* TreeNode::databaseNode() const {
    switch (level()) {
        case nlDatabase: return ancestor(0);
        case nlTablesFolder:
        case nlProceduresFolder:
        case nlViewsFolder:
        case nlRoutinesFolder:
        case nlTriggersFolder:
        case nlEventsFolder: return ancestor(1);
        case nlTable:
        case nlView:
        case nlProcedure:
        case nlFunction:
        case nlTrigger:
        case nlEvent: return ancestor(2);
        case nlFieldsFolder:
        case nlIndexKeyFolder: return ancestor(3);
        case nlField: return ancestor(4);
        default: return nullptr;
    }
}

void TreeNode::markAsView() {
    view_ = true;
    QFont italic = font(0);
    italic.setItalic(true);
    setFont(0, italic);
}

bool isViewType(const QString& tableType) {
    return tableType.compare(QLatin1String("VIEW"), Qt::CaseInsensitive) == 0 ||
           tableType.compare(QLatin1String("SYSTEM VIEW"), Qt::CaseInsensitive) == 0;
}

QVariant TreeNode::data(int column, int role) const {
    if (role == Qt::ToolTipRole && column == 0)
        return view_ ? text() + QStringLiteral(" (view)") : text();
    // The image follows from the level and is looked up as the node is drawn: a listing of
    // thousands of nodes need not store it with each of them.
    if (role == Qt::DecorationRole && column == 0) {
        const QVariant own = QTreeWidgetItem::data(column, role);
        return own.isValid() ? own : QVariant(levelIcon());
    }
    return QTreeWidgetItem::data(column, role);
}

QString accountLabel(const TUserKey& key) {
    if (key.Role) return key.User + QStringLiteral(" (role)");
    return key.User + u'[' + key.Host + u']';
}

QString hostEntryLabel(const THostKey& key) { return key.Host + u'[' + key.Db + u']'; }

TreeNode* makeAccountNode(const TUserKey& key) {
    return new TreeNode(accountLabel(key), TNodeData{nlUser, key});
}

TreeNode* makeHostEntryNode(const THostKey& key) {
    return new TreeNode(hostEntryLabel(key), TNodeData{nlHostEntry, key});
}

int imageIndexOf(TNodeLevel level) {
    switch (level) {
        case nlServer: return 0;
        case nlUserFolder: return 6;
        case nlDbFolder: return 1;
        case nlHostFolder: return 8;
        case nlDatabase: return 2;
        case nlTable: return 4;
        case nlFieldsFolder:
        case nlIndexKeyFolder:
        case nlValidityChecksFolder: return 5;
        case nlField: return 7;
        case nlView:
        case nlProcedure:
        case nlFunction:
        case nlTrigger:
        case nlEvent: return 4;
        case nlTablesFolder:
        case nlProceduresFolder:
        case nlViewsFolder:
        case nlRoutinesFolder:
        case nlTriggersFolder:
        case nlEventsFolder:
        case nlUser:
        case nlHostEntry: return 3;
        case nlServerStatus: return 5;
    }
    return 0;
}
