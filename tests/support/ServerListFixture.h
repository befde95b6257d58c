#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "app/ServerCommands.h"
#include "dataset/TMySQLConnection.h"
#include "registry/ServerRegistry.h"
#include "support/ScriptedPrompts.h"
#include "tree/ObjectTree.h"
#include "tree/ServerSession.h"
#include "tree/TreeNode.h"

// The window's server commands on a tree and a server list file of the test's own; every
// queued answer must be used.
class ServerListFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    void TearDown() override { EXPECT_TRUE(prompts.allAnswersUsed()); }

    TreeNode* root(int index = 0) const { return TreeNode::cast(widget.topLevelItem(index)); }
    void select(QTreeWidgetItem* item) { widget.setCurrentItem(item); }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("HostInfor.Dat"));
    ServerRegistry registry{path};
    TMySQLConnection dataset;
    ServerSession session{dataset, {}};
    QTreeWidget widget;
    ScriptedPrompts prompts;
    ObjectTree tree{widget, session, prompts};
    ServerCommands commands{tree, registry, prompts, &widget};
};

// A control of a dialog by its object name; fails the test when there is none.
template <class T>
T* childNamed(QDialog* dialog, const char* name) {
    auto* found = dialog->findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}
