#include "support/TreeFixture.h"

void TreeFixture::SetUp() {
    tree = std::make_unique<ObjectTree>(widget, session, prompts);
    tree->AddServerNode(QStringLiteral("test server"), testEntry());
}

TServerEntry TreeFixture::testEntry() const {
    return TServerEntry{testserver::hostField(), testserver::user(), testserver::password()};
}

TreeNode* TreeFixture::find(const QStringList& path) const {
    QTreeWidgetItem* item = widget.topLevelItem(0);
    for (const QString& text : path) {
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; item && i < item->childCount(); ++i)
            if (item->child(i)->text(0) == text) {
                next = item->child(i);
                break;
            }
        item = next;
    }
    return TreeNode::cast(item);
}

void TreeFixture::doubleClick(TreeNode* node) {
    ASSERT_NE(node, nullptr);
    widget.setCurrentItem(node);
    tree->ExpandNode();
}

QStringList TreeFixture::childTexts(TreeNode* node) const {
    QStringList texts;
    for (int i = 0; node && i < node->childCount(); ++i) texts << node->child(i)->text(0);
    return texts;
}
