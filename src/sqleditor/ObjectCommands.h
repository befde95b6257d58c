#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <optional>

#include "admin/ObjectDefinitions.h"
#include "tree/TreeNode.h"

class ObjectPanel;
class ObjectTree;
class ServerSession;
class QWidget;
namespace ui {
class Prompts;
}

// The object panel's and the object folders' commands: show the selected view, routine,
// trigger or event, Apply the editor's text, New and Drop. Each catches the failures it
// can meet and says them; the tree changes only after the server carried a change out.
class ObjectCommands : public QObject {
    Q_OBJECT
public:
    ObjectCommands(ObjectTree& tree, ObjectPanel& panel, ServerSession& session,
                   ui::Prompts& prompts, QWidget* window);

    // The object a node stands for; empty for any other node.
    static std::optional<admin::ObjectRef> objectOf(TreeNode* node);

    // A click on an object's node: its definition and properties in the panel, and for a
    // view its rows once the "Data" tab is shown.
    void ShowObject(TreeNode* node);
    // The panel's Apply: replaces the shown object with the editor's text, or creates the
    // new one. A routine is replaced only after the user agreed (the server drops it first).
    // A refusal is said with the server's reason; the editor keeps the user's text.
    void Apply();
    // "New" on an object folder or object: a starting text in the panel; `function` for
    // "New Function" below "Routines".
    void NewObject(bool function = false);
    // "Run..." on a routine's node, or the panel's Run for the routine it shows: asks for
    // the IN and INOUT values (when there are any), runs it and shows what it returned.
    void RunRoutine(bool shownInPanel);
    // "Drop" on an object node, after a question naming it; the folder is listed again.
    void DropObject();

Q_SIGNALS:
    // The panel should be shown (a new object's text was put in it).
    void panelWanted();

private:
    TreeNode* folderNode(const QString& database, TNodeLevel folder) const;
    // What a folder holds before a change, as keys of level and name: its nodes, or for a
    // folder not listed yet the server's listing, so that a new object can be told apart.
    QSet<QString> contents(const QString& database, TNodeLevel folder);
    // Lists the folder again and selects the node named `select` there (without a name, the
    // node that is not in `before`), which it returns; null when there is none.
    TreeNode* relist(const QString& database, TNodeLevel folder, const QString& select = {},
                     const QSet<QString>* before = nullptr);
    void loadViewRowsIfShown();
    void report(const std::exception& error, const QString& what);

    ObjectTree& tree_;
    ObjectPanel& panel_;
    ServerSession& session_;
    ui::Prompts& prompts_;
    QWidget* window_;
    bool viewRowsPending_ = false;
};
