#pragma once

#include <QTreeWidgetItem>
#include <variant>

#include "registry/ServerRegistry.h"

// What a tree node stands for. The values are stored with the nodes and shared with the
// panels, menus and commands, so they never change.
enum TNodeLevel : quint8 {
    nlServer = 0,
    nlUserFolder = 1,
    nlDbFolder = 2,
    nlHostFolder = 3,
    nlTablesFolder = 4,
    nlDatabase = 5,
    nlProceduresFolder = 6,
    nlTable = 7,
    nlFieldsFolder = 8,
    nlField = 9,
    nlIndexKeyFolder = 10,
    nlValidityChecksFolder = 11,
    nlUser = 12,
    nlHostEntry = 13,
    // The connected server's variables, status counters and charts.
    nlServerStatus = 23,
    nlViewsFolder = 14,
    nlView = 15,
    nlRoutinesFolder = 16,
    nlProcedure = 17,
    nlFunction = 18,
    nlTriggersFolder = 19,
    nlTrigger = 20,
    nlEventsFolder = 21,
    nlEvent = 22,
};

// The account of a node below "USER": columns user and host of its row. A role (MariaDB
// keeps roles in the accounts table with an empty host) is named by its name alone in every
// statement: 'carol'@'' would name the account carol@%.
struct TUserKey {
    QString User;
    QString Host;
    bool Role = false;
};

// The host privilege entry of a node below "HOST": columns host and db of its row.
struct THostKey {
    QString Host;
    QString Db;
};

struct TNodeData {
    TNodeLevel level = nlServer;
    std::variant<std::monostate, TServerEntry, TUserKey, THostKey> key;
};

// A node of the object tree; owns its node data, which lives as long as the node.
class TreeNode : public QTreeWidgetItem {
public:
    static constexpr int Type = QTreeWidgetItem::UserType + 1;

    TreeNode(const QString& text, TNodeData data);

    const TNodeData& data() const { return data_; }
    TNodeLevel level() const { return data_.level; }
    const TServerEntry* serverEntry() const { return std::get_if<TServerEntry>(&data_.key); }
    const TUserKey* userKey() const { return std::get_if<TUserKey>(&data_.key); }
    const THostKey* hostKey() const { return std::get_if<THostKey>(&data_.key); }

    QString text() const { return QTreeWidgetItem::text(0); }
    // The full text as the tooltip: a narrow tree never hides a name.
    QVariant data(int column, int role) const override;
    TreeNode* parentNode() const { return cast(parent()); }
    // Distance from the root: servers 0, their folders 1, and so on.
    int depth() const;
    // The node `generations` levels up (1: parent), or null.
    TreeNode* ancestor(int generations) const;
    // The database a node belongs to: a database node itself, its "Tables" and procedures
    // folders, its tables, their "Fields" and "Index Key" folders and their fields, its
    // views, routines, triggers and events and their folders. Null for every other level.
    TreeNode* databaseNode() const;

    // A table node that stands for a view: drawn with its own image, in italics, and said
    // so in its tooltip. Its text stays the view's bare name, which every statement uses.
    void markAsView();
    bool isView() const { return view_; }

    static TreeNode* cast(QTreeWidgetItem* item) {
        return item && item->type() == Type ? static_cast<TreeNode*>(item) : nullptr;
    }

private:
    QIcon levelIcon() const;

    TNodeData data_;
    bool view_ = false;
};

// Whether a Table_type of SHOW FULL TABLES or TABLE_TYPE of information_schema.TABLES
// names a view ("VIEW", and "SYSTEM VIEW" in information_schema).
bool isViewType(const QString& tableType);

// Nodes below "USER" and "HOST": labelled key column 0 + "[" + column 1 + "]"; a role as its
// name and " (role)".
QString accountLabel(const TUserKey& key);
QString hostEntryLabel(const THostKey& key);
TreeNode* makeAccountNode(const TUserKey& key);
TreeNode* makeHostEntryNode(const THostKey& key);

// Image index of each level in the nine-image list.
int imageIndexOf(TNodeLevel level);
