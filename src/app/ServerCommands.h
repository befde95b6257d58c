#pragma once

#include <QString>

class ObjectTree;
class TreeNode;
class ServerRegistry;
class QWidget;
namespace ui {
class Prompts;
}

// New Server, Properties and Delete Server: each changes the registry file and keeps the
// tree's server nodes in step with it, so they live with the window, which knows both. Failures are reported with one fixed message per
// command; whatever was done before the failure stays done.
class ServerCommands {
public:
    ServerCommands(ObjectTree& tree, ServerRegistry& registry, ui::Prompts& prompts,
                   QWidget* dialogParent);

    // New Server: asks for a server, adds its node as the last root, then appends its record.
    void N3Click();
    // Properties of the selected server node: saves or deletes its record in TfrmServer and
    // replaces or removes the node afterwards.
    void Information1Click();
    // Delete Server, after confirmation: removes the record first, the node second.
    void N4Click();
    void DeleteServer1Click() { N4Click(); }

private:
    // Whether `name` may be given to a server: unused by any server but `self`, or the user
    // agrees to a second server of that name.
    bool acceptName(QWidget* dialog, const QString& name, const TreeNode* self);

    ObjectTree& tree_;
    ServerRegistry& registry_;
    ui::Prompts& prompts_;
    QWidget* dialogParent_;
};
