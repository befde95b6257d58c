#include "tree/ObjectTree.h"

#include <algorithm>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include "db/Connection.h"
#include "files/CommaText.h"
#include "tree/GrantListings.h"
#include "tree/NameColumn.h"
#include "tree/ObjectListings.h"
#include "tree/RowNodes.h"
#include "tree/ServerSession.h"
#include "ui/BusyCursor.h"
#include "ui/Prompts.h"

namespace {

void removeChildren(TreeNode* node) { qDeleteAll(node->takeChildren()); }

// A server node whose session was given up reads as such until it is connected again.
void showGivenUp(TreeNode* server, bool givenUp) {
    QFont font = server->font(0);
    font.setItalic(givenUp);
    server->setFont(0, font);
    server->setData(0, Qt::ForegroundRole, givenUp ? QVariant(QColor(Qt::gray)) : QVariant());
    server->setToolTip(0, givenUp ? QStringLiteral("Disconnected: double-click to connect again")
                                  : QString());
}

TreeNode* folderNode(const char* text, TNodeLevel level) {
    return new TreeNode(QString::fromLatin1(text), TNodeData{level, {}});
}

// Runs a listing statement; throws db::DbError when it fails, so that a lost connection is
// reported instead of showing as an empty folder.
db::Result listing(db::Connection& c, const std::string& statement) {
    db::Result rows = c.queryResult(statement);
    if (!rows) throw c.lastError(statement);
    return rows;
}

void selectDatabase(db::Connection& c, const QString& name) {
    if (!c.selectDb(name)) throw c.lastError("USE " + db::quoteIdentifier(name));
}

TreeNode* databaseNode(db::Result& row) {
    return new TreeNode(row.text(0), TNodeData{nlDatabase, {}});
}

// A row of SHOW FULL TABLES: the name, then the kind (BASE TABLE, VIEW, SEQUENCE).
TreeNode* tableNode(db::Result& row) {
    auto* node = new TreeNode(row.text(0), TNodeData{nlTable, {}});
    if (row.columns().size() > 1 && isViewType(row.text(1))) node->markAsView();
    return node;
}

// The tables and views of a database, each with its kind, so views can be told apart.
std::string tableListing(const QString& database) {
    return "SHOW FULL TABLES FROM " + db::quoteIdentifier(database);
}

}  // namespace

QString noHostTableMessage() {
    return QStringLiteral("This server has no host privilege table (mysql.host).");
}

ObjectTree::ObjectTree(QTreeWidget& tree, ServerSession& session, ui::Prompts& prompts)
    : tree_(tree), session_(session), prompts_(prompts) {
    tree_.setColumnCount(1);
    tree_.setHeaderHidden(true);
    // Names are never cut: the one column is as wide as its widest shown node, and a narrow
    // tree scrolls sideways instead.
    new NameColumn(tree_);
    tree_.setTextElideMode(Qt::ElideNone);
    tree_.setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    tree_.setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    tree_.setRootIsDecorated(false);
    tree_.setExpandsOnDoubleClick(false);
    tree_.setUniformRowHeights(true);
    tree_.setSortingEnabled(false);
    tree_.setEditTriggers(QAbstractItemView::NoEditTriggers);
}

TreeNode* ObjectTree::selectedNode() const { return TreeNode::cast(tree_.currentItem()); }

TreeNode* ObjectTree::serverNodeNamed(const QString& name) const {
    for (int i = 0; i < tree_.topLevelItemCount(); ++i) {
        TreeNode* node = TreeNode::cast(tree_.topLevelItem(i));
        if (node && node->text() == name) return node;
    }
    return nullptr;
}

TreeNode* ObjectTree::AddServerNode(const QString& name, const TServerEntry& entry) {
    auto* node = new TreeNode(name, TNodeData{nlServer, entry});
    tree_.addTopLevelItem(node);
    return node;
}

TreeNode* ObjectTree::connectedNode() const {
    // Compared, never dereferenced, until found among the roots: the node may be gone.
    for (int i = 0; connected_ && i < tree_.topLevelItemCount(); ++i) {
        if (tree_.topLevelItem(i) == connected_) return connected_;
    }
    return nullptr;
}

void ObjectTree::ConnectServerNode(TreeNode* server) {
    if (!session_.ConnectedServer().isEmpty()) {
        session_.Disconnect();
        // The folders of the node that was connected, not of another root of the same name:
        // folders listed through one account must never act for another.
        if (TreeNode* previous = connectedNode()) removeChildren(previous);
        connected_ = nullptr;
    }
    const TServerEntry* entry = server->serverEntry();
    if (!entry) return;
    givingUp_ = false;
    showGivenUp(server, false);
    removeChildren(server);
    session_.Connect(server->text(), *entry);
    connected_ = server;

    server->insertChild(0, folderNode("DB", nlDbFolder));
    server->addChild(folderNode("USER", nlUserFolder));
    server->addChild(folderNode("HOST", nlHostFolder));
    server->addChild(folderNode("Status", nlServerStatus));
    server->setExpanded(true);
}

void ObjectTree::GiveUpConnection(const db::Connection* connection) {
    if (!session_.Owns(connection)) return;
    TreeNode* server = connectedNode();
    if (!server || givingUp_) return;
    givingUp_ = true;
    // Called from the loop that waits for the call: the command waiting there runs one
    // level further out.
    closeAtLevel_ = std::max(0, QThread::currentThread()->loopLevel() - 1);
    showGivenUp(server, true);
    closeGivenUpSession();
}

void ObjectTree::closeGivenUpSession() {
    if (!givingUp_) return;
    // Nested loops (the wait itself, a message the command shows) mean a handler is still
    // on the stack: try again once control is back in the window's own loop.
    if (QThread::currentThread()->loopLevel() > closeAtLevel_) {
        QTimer::singleShot(50, this, &ObjectTree::closeGivenUpSession);
        return;
    }
    givingUp_ = false;
    session_.Disconnect();
    if (TreeNode* server = connectedNode()) removeChildren(server);
}

bool ObjectTree::ReconnectServer() {
    TreeNode* server = connectedNode();
    if (!server) return false;
    ui::BusyCursor busy;
    try {
        ConnectServerNode(server);
    } catch (const std::exception& error) {
        prompts_.message(tree_.window(), ui::withReason(QStringLiteral("Server Connection Error"),
                                                        QString::fromUtf8(error.what())));
    }
    return true;
}

void ObjectTree::ExpandNode() {
    TreeNode* node = selectedNode();
    if (!node) return;
    ui::BusyCursor busy;
    try {
        switch (node->level()) {
            case nlServer:
                ConnectServerNode(node);
                break;
            case nlDbFolder:
                listDatabases(node);
                break;
            case nlTablesFolder:
                if (TreeNode* database = node->parentNode()) listTables(node, database);
                break;
            case nlFieldsFolder:
                listColumns(node);
                break;
            case nlUserFolder:
                if (node->childCount() == 0) listAccounts(node, true);
                else node->setExpanded(!node->isExpanded());
                break;
            case nlHostFolder:
                if (node->childCount() == 0) listHostEntries(node, HostListing::DoubleClick);
                else node->setExpanded(!node->isExpanded());
                break;
            case nlViewsFolder:
            case nlRoutinesFolder:
            case nlTriggersFolder:
            case nlEventsFolder:
                ListObjectFolder(node);
                break;
            case nlDatabase:
            case nlTable:
                if (node->childCount() == 0) addObjectFolders(node);
                else node->setExpanded(!node->isExpanded());
                break;
            default:
                break;
        }
    } catch (const std::exception& error) {
        // A refused connection says why under the fixed text; a refused listing shows the
        // server's reason.
        if (node->level() == nlServer) {
            prompts_.message(tree_.window(), ui::withReason(QStringLiteral("Server Connection Error"),
                                                            QString::fromUtf8(error.what())));
        } else {
            reportFailure(error, QString::fromUtf8(error.what()));
        }
    }
}

void ObjectTree::reportFailure(const std::exception& error, const QString& otherwise) {
    const auto* dbError = dynamic_cast<const db::DbError*>(&error);
    prompts_.message(tree_.window(), dbError && dbError->connectionLost()
                                         ? lostConnectionMessage(QString::fromUtf8(error.what()))
                                         : otherwise);
}

void ObjectTree::addObjectFolders(TreeNode* node) {
    QList<QTreeWidgetItem*> folders;
    if (node->level() == nlDatabase) {
        folders << folderNode("Tables", nlTablesFolder)
                << folderNode("Procedures", nlProceduresFolder);
        for (TNodeLevel level : objects::kObjectFolders)
            folders << new TreeNode(objects::folderText(level), TNodeData{level, {}});
    } else {
        folders << folderNode("Fields", nlFieldsFolder) << folderNode("Index Key", nlIndexKeyFolder)
                << folderNode("Validity Checks", nlValidityChecksFolder);
    }
    addNodeBatch(node, folders);
}

// Listings read first and replace the folder's nodes afterwards: a failed one keeps what the
// folder showed.
void ObjectTree::listDatabases(TreeNode* folder) {
    db::Result rows = listing(session_.MainConnection(), "SHOW DATABASES");
    removeChildren(folder);
    addRowNodes(folder, rows, databaseNode);
}

void ObjectTree::listTables(TreeNode* folder, TreeNode* database) {
    db::Connection& c = session_.MainConnection();
    selectDatabase(c, database->text());
    db::Result rows = listing(c, tableListing(database->text()));
    removeChildren(folder);
    addRowNodes(folder, rows, tableNode);
}

void ObjectTree::listColumns(TreeNode* folder) {
    TreeNode* table = folder->parentNode();
    TreeNode* database = folder->databaseNode();
    if (!database) return;
    db::Result rows = listing(session_.MainConnection(),
                              "SHOW COLUMNS FROM " +
                                  db::qualifiedName(database->text(), table->text()));
    removeChildren(folder);
    addRowNodes(folder, rows, [](db::Result& row) {
        return new TreeNode(row.text(0), TNodeData{nlField, {}});
    });
}

void ObjectTree::listAccounts(TreeNode* folder, bool announceEmpty) {
    db::Connection& c = session_.MainConnection();
    const QString grants = QStringLiteral("mysql");
    selectDatabase(c, grants);
    db::Result rows =
        listing(c, grants::accountList(grants, session_.traits().userHasIsRoleColumn));
    if (rows.rowCount() == 0 && announceEmpty) Q_EMIT UserFolderEmpty();
    grants::addAccountNodes(folder, rows);
}

void ObjectTree::listHostEntries(TreeNode* folder, HostListing how) {
    db::Connection& c = session_.MainConnection();
    const QString grants = QStringLiteral("mysql");
    selectDatabase(c, grants);
    // Looked up again: the table may have been created or dropped since connecting.
    if (!session_.refreshTraits().hasHostTable) {
        // At start-up the saved folder is skipped quietly; a double click is answered.
        if (how == HostListing::DoubleClick) prompts_.message(tree_.window(), noHostTableMessage());
        return;
    }
    db::Result rows = listing(c, grants::hostEntryList(grants));
    if (rows.rowCount() == 0) Q_EMIT HostFolderEmpty();
    grants::addHostEntryNodes(folder, rows);
}

void ObjectTree::RefreshDatabases() {
    ui::BusyCursor busy;
    TreeNode* node = selectedNode();
    if (!node || node->level() != nlDbFolder) return;
    try {
        listDatabases(node);
    } catch (const std::exception& error) {
        reportFailure(error, QStringLiteral("Refresh Error - DataBase Refresh"));
    }
}

void ObjectTree::RefreshTables() {
    ui::BusyCursor busy;
    TreeNode* node = selectedNode();
    if (!node || node->level() != nlTablesFolder) return;
    try {
        if (TreeNode* database = node->parentNode()) listTables(node, database);
    } catch (const std::exception& error) {
        reportFailure(error, QStringLiteral("Refresh Error - Table Refresh"));
    }
}

void ObjectTree::ListObjectFolder(TreeNode* folder) {
    TreeNode* database = folder ? folder->databaseNode() : nullptr;
    if (!database || !objects::isObjectFolder(folder->level())) return;
    db::Result rows = listing(session_.MainConnection(),
                              objects::listingStatement(session_.MainConnection(), folder->level(),
                                                        database->text()));
    if (objects::showsRows(folder, rows)) return;
    removeChildren(folder);
    objects::addObjectNodes(folder, rows);
}

void ObjectTree::RefreshObjects() {
    ui::BusyCursor busy;
    TreeNode* node = selectedNode();
    if (!node || !objects::isObjectFolder(node->level())) return;
    try {
        ListObjectFolder(node);
    } catch (const std::exception& error) {
        reportFailure(error, ui::withReason(QStringLiteral("Refresh Error - %1 Refresh")
                                                .arg(node->text()),
                                            QString::fromUtf8(error.what())));
    }
}

TreeNode* ObjectTree::firstNodeAtDepth(int depth,
                                       const std::function<bool(TreeNode*)>& match) const {
    QTreeWidgetItemIterator it(&tree_);
    for (; *it; ++it) {
        TreeNode* node = TreeNode::cast(*it);
        if (node && node->depth() == depth && match(node)) return node;
    }
    return nullptr;
}

namespace {

// A saved list that is absent or holds only its marker value is skipped.
bool skipList(const QString& value, const char* marker) {
    return value.trimmed() == QLatin1String(marker);
}

}  // namespace

void ObjectTree::RestoreExpansion(const ExpansionLists& lists) {
    if (skipList(lists.level1, "None")) return;
    db::Connection& c = session_.MainConnection();
    auto folderNamed = [this](const QString& text) {
        return firstNodeAtDepth(1, [&](TreeNode* n) { return n->text() == text; });
    };

    for (const QString& raw : commatext::split(lists.level1)) {
        const QString item = raw.trimmed();
        if (item == QLatin1String("DB")) {
            if (TreeNode* folder = folderNamed(item)) {
                db::Result rows = listing(c, "SHOW DATABASES");
                addRowNodes(folder, rows, databaseNode);
            }
        } else if (item == QLatin1String("USER")) {
            if (TreeNode* folder = folderNamed(item)) listAccounts(folder, false);
        } else if (item == QLatin1String("HOST")) {
            if (TreeNode* folder = folderNamed(item)) listHostEntries(folder, HostListing::StartUp);
        }
    }

    if (!skipList(lists.level2, "NoneBD")) {
        for (const QString& raw : commatext::split(lists.level2)) {
            const QString item = raw.trimmed();
            TreeNode* database = firstNodeAtDepth(
                2, [&](TreeNode* n) { return n->level() == nlDatabase && n->text().trimmed() == item; });
            if (database && database->childCount() == 0) addObjectFolders(database);
        }
    }

    if (!skipList(lists.level3, "NoneBD")) {
        for (const QString& raw : commatext::split(lists.level3)) {
            const QString item = raw.trimmed();
            TreeNode* database = firstNodeAtDepth(
                2, [&](TreeNode* n) { return n->level() == nlDatabase && n->text() == item; });
            if (!database || database->childCount() == 0) continue;
            TreeNode* tables = TreeNode::cast(database->child(0));
            if (!tables || !c.selectDb(item)) continue;
            db::Result rows = listing(c, tableListing(item));
            addRowNodes(tables, rows, tableNode);
            database->setExpanded(true);
        }
    }

    if (!skipList(lists.level4, "NoneBD")) {
        const QStringList items = commatext::split(lists.level4);
        for (qsizetype i = 0; i + 1 < items.size(); i += 2) {
            const QString database = items[i].trimmed();
            const QString table = items[i + 1].trimmed();
            TreeNode* node = firstNodeAtDepth(4, [&](TreeNode* n) {
                TreeNode* db = n->ancestor(2);
                return n->level() == nlTable && n->text() == table && db &&
                       db->text() == database;
            });
            if (node && node->childCount() == 0) addObjectFolders(node);
        }
    }
}

ExpansionLists ObjectTree::CurrentExpansion() const {
    QStringList level1, level2, level3, level4;
    QTreeWidgetItemIterator it(&tree_);
    for (; *it; ++it) {
        TreeNode* node = TreeNode::cast(*it);
        if (!node || !node->isExpanded()) continue;
        switch (node->depth()) {
            case 1: level1 << node->text(); break;
            case 2: level2 << node->text(); break;
            case 3:
                // Only "Tables" is listed again at start-up; the other folders wait for a
                // double click.
                if (TreeNode* parent = node->parentNode(); parent && node->level() == nlTablesFolder)
                    level3 << parent->text();
                break;
            case 4:
                if (TreeNode* grandparent = node->ancestor(2))
                    level4 << grandparent->text() << node->text();
                break;
            default: break;
        }
    }
    return {commatext::joinWithTrailingCommas(level1), commatext::joinWithTrailingCommas(level2),
            commatext::joinWithTrailingCommas(level3), commatext::joinWithTrailingCommas(level4)};
}
