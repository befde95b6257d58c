#pragma once

#include <QObject>
#include <QString>
#include <exception>
#include <vector>

#include "tree/TreeNode.h"

class QTreeWidget;
class ServerSession;
namespace ui {
class Prompts;
}
namespace db {
class Connection;
class Result;
}

// The saved expansion of the connected server's tree: the values of keys level1..level4.
struct ExpansionLists {
    QString level1;
    QString level2;
    QString level3;
    QString level4;
};

// The object tree: server nodes from the registry, and below the connected server the
// folders, databases, tables, columns, accounts and host entries, listed on demand from
// the main connection. Call from the user-interface thread only.
class ObjectTree : public QObject {
    Q_OBJECT
public:
    ObjectTree(QTreeWidget& tree, ServerSession& session, ui::Prompts& prompts);

    QTreeWidget& widget() { return tree_; }
    TreeNode* selectedNode() const;
    TreeNode* serverNodeNamed(const QString& name) const;

    // A server node appended after the existing root nodes.
    TreeNode* AddServerNode(const QString& name, const TServerEntry& entry);

    // The double click: connects a server node or lists the next level of the selected node.
    // A failed connection is reported with "Server Connection Error" and, on a second line,
    // the client library's reason; a refused listing with the server's text, and a lost
    // connection with lostConnectionMessage; the folder then keeps its nodes. On a connected
    // server node it connects afresh.
    void ExpandNode();
    // Closes the previous server's connections, removes the folders of the node connected
    // before and connects `server`, adding "DB", "USER", "HOST" and "Status". Throws
    // db::DbError when the server refuses.
    void ConnectServerNode(TreeNode* server);
    // Connects the server that was connected again (after its connection was lost), as a
    // double-click on its node does; a refusal is said. False when no server was connected.
    bool ReconnectServer();
    // The user gave `connection` up while a call of it ran. When it is one of the session's,
    // the server node is marked disconnected at once; its folders go and the session is
    // closed as soon as no command is under way any more (a handler still on the stack may
    // hold one of those nodes). A double-click connects again.
    void GiveUpConnection(const db::Connection* connection);
    // Whether the connected server's session was given up and not yet closed.
    bool givingUp() const { return givingUp_; }

    // Re-list the selected "DB" or "Tables" folder.
    void RefreshDatabases();
    void RefreshTables();
    // Lists a "Views", "Routines", "Triggers" or "Events" folder again from the server; the
    // folder keeps its nodes when the listing fails (and the call throws db::DbError).
    void ListObjectFolder(TreeNode* folder);
    // The context menu's "Refresh" on the selected one of those folders; a failure is said.
    void RefreshObjects();

    // Start-up: rebuilds the folders recorded in the lists below the connected server.
    // Throws db::DbError when a listing the server must answer fails.
    void RestoreExpansion(const ExpansionLists& lists);
    // The lists to save at close, from the nodes expanded now.
    ExpansionLists CurrentExpansion() const;

    // The server node connected last in this run, while it is still in the tree; null
    // before the first connection and after the node was removed.
    TreeNode* connectedNode() const;

Q_SIGNALS:
    // An accounts or host-entries folder was listed from an empty table: the window
    // opens the matching panel ready for a new entry.
    void UserFolderEmpty();
    void HostFolderEmpty();

private:
    void listDatabases(TreeNode* folder);
    void listTables(TreeNode* folder, TreeNode* database);
    void listColumns(TreeNode* folder);
    enum class HostListing { DoubleClick, StartUp };
    void listAccounts(TreeNode* folder, bool announceEmpty);
    void listHostEntries(TreeNode* folder, HostListing how);
    void addObjectFolders(TreeNode* node);
    // Shows a lost connection as such, with what to do; any other failure as `otherwise`.
    void reportFailure(const std::exception& error, const QString& otherwise);
    TreeNode* firstNodeAtDepth(int depth, const std::function<bool(TreeNode*)>& match) const;

    QTreeWidget& tree_;
    ServerSession& session_;
    ui::Prompts& prompts_;
    void closeGivenUpSession();

    TreeNode* connected_ = nullptr;
    bool givingUp_ = false;
    int closeAtLevel_ = 0;
};

// The message shown where a server has no host privilege table.
QString noHostTableMessage();
