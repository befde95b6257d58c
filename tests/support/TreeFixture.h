#pragma once

#include <gtest/gtest.h>

#include <QTreeWidget>
#include <memory>

#include "dataset/TMySQLConnection.h"
#include "support/ScriptedPrompts.h"
#include "support/TestServer.h"
#include "tree/ObjectTree.h"
#include "tree/ServerSession.h"

// A tree with the test server registered as its only root, connected through the tree's own
// connection step, plus helpers to find and open nodes by their path of texts.
class TreeFixture : public ::testing::Test {
protected:
    void SetUp() override;

    TServerEntry testEntry() const;
    TreeNode* server() const { return TreeNode::cast(widget.topLevelItem(0)); }
    // The node at the path of texts below the server ("DB", "mydb", "Tables", "t1").
    TreeNode* find(const QStringList& path) const;
    // Selects the node and runs the double click on it.
    void doubleClick(TreeNode* node);
    QStringList childTexts(TreeNode* node) const;

    QTreeWidget widget;
    TMySQLConnection dataset;
    QStringList remembered;
    ServerSession session{dataset, [this](const QString& name) { remembered << name; }};
    ScriptedPrompts prompts;
    std::unique_ptr<ObjectTree> tree;
};
