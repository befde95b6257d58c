#include "support/CommandWindows.h"

#include <QVBoxLayout>

#include "app/CommandWiring.h"
#include "db/GrantColumns.h"

bool logsIn(const QString& user, const QString& password) {
    db::ConnectParams params = testserver::params();
    params.user = user;
    params.password = password;
    db::Connection c;
    try {
        c.connect(params);
        return true;
    } catch (const db::DbError&) {
        return false;
    }
}

QString passwordHash(db::Connection& c, const QString& password) {
    db::Result r = c.select("SELECT PASSWORD(" + c.quoteValue(password) + ")");
    return r.next() ? r.text(0) : QString();
}

void createLegacyGrantTables(db::Connection& c, const QString& database) {
    std::string user = "CREATE TABLE " + db::qualifiedName(database, QStringLiteral("user")) +
                       " (Host CHAR(60) NOT NULL DEFAULT '', User CHAR(80) NOT NULL DEFAULT '', "
                       "Password CHAR(41) NOT NULL DEFAULT ''";
    for (const char* column : db::kUserPrivilegeColumns)
        user += std::string(", ") + column + " ENUM('N','Y') NOT NULL DEFAULT 'N'";
    c.exec(user + ", PRIMARY KEY (Host, User))");
    std::string host = "CREATE TABLE " + db::qualifiedName(database, QStringLiteral("host")) +
                       " (Host CHAR(60) NOT NULL DEFAULT '', Db CHAR(64) NOT NULL DEFAULT ''";
    for (const char* column : db::kHostPrivilegeColumns)
        host += std::string(", ") + column + " ENUM('N','Y') NOT NULL DEFAULT 'N'";
    c.exec(host + ", PRIMARY KEY (Host, Db))");
}

QStringList globalPrivileges(db::Connection& c, const QString& user, const QString& host) {
    // A role has no host and is named alone.
    db::Result rows = c.select("SHOW GRANTS FOR " + c.quoteValue(user) +
                               (host.isEmpty() ? std::string() : "@" + c.quoteValue(host)));
    while (rows.next()) {
        const QString line = rows.text(0);
        const qsizetype on = line.indexOf(QLatin1String(" ON *.* TO "));
        if (!line.startsWith(QLatin1String("GRANT ")) || on < 0) continue;
        QStringList privileges = line.mid(6, on - 6).split(QStringLiteral(", "));
        privileges.removeAll(QStringLiteral("USAGE"));
        if (line.endsWith(QLatin1String("WITH GRANT OPTION"))) privileges << "GRANT OPTION";
        privileges.sort();
        return privileges;
    }
    return {QStringLiteral("<no global grant>")};
}

TreeNode* childNamed(TreeNode* folder, const QString& text) {
    for (int i = 0; folder && i < folder->childCount(); ++i)
        if (folder->child(i)->text(0) == text) return TreeNode::cast(folder->child(i));
    return nullptr;
}

void AccountWindow::setUpWindow() {
    auto* layout = new QVBoxLayout(&window);
    widget = new QTreeWidget(&window);
    panels = new DetailPanels(session, prompts, &window);
    panels->setTreeView(widget);
    layout->addWidget(widget);
    layout->addWidget(panels);
    menus = new TreeMenus(&window);
    tree = std::make_unique<ObjectTree>(*widget, session, prompts);
    TServerEntry entry{testserver::hostField(), testserver::user(), testserver::password()};
    TreeNode* server = tree->AddServerNode(QStringLiteral("test"), entry);
    ASSERT_NO_THROW(tree->ConnectServerNode(server));
    users = childNamed(server, QStringLiteral("USER"));
    hosts = childNamed(server, QStringLiteral("HOST"));
    ASSERT_TRUE(users && hosts);
}

void AccountWindow::useGrantsDb(const QString& grantsDb) {
    commands = accountCommandsOn(*tree, *panels, session, prompts, &window, grantsDb);
    connectAccountMenus(*commands, *menus);
}

void AccountWindow::click(TreeNode* node) {
    ASSERT_NE(node, nullptr);
    widget->setCurrentItem(node);
    panels->SetPanel(node->level(), node);
}

void DatabaseCommandsFixture::SetUp() {
    TreeFixture::SetUp();
    doubleClick(server());
    menus = std::make_unique<TreeMenus>(&widget);
    commands = std::make_unique<DatabaseCommands>(*tree, session, prompts, &widget);
    connectDatabaseMenus(*commands, *menus, contextDb, contextTable);
    doubleClick(find({"DB"}));
}

void DatabaseCommandsFixture::TearDown() {
    for (const QString& name : toDrop)
        dba.query("DROP DATABASE IF EXISTS " + db::quoteIdentifier(name));
}

TreeNode* DatabaseCommandsFixture::tablesOf(const QString& database) {
    TreeNode* node = find({"DB", database});
    if (!node) {
        doubleClick(find({"DB"}));
        node = find({"DB", database});
    }
    EXPECT_NE(node, nullptr) << database.toStdString();
    if (!node) return nullptr;
    if (node->childCount() == 0) doubleClick(node);
    TreeNode* folder = find({"DB", database, "Tables"});
    doubleClick(folder);
    return folder;
}

void DatabaseCommandsFixture::select(TreeNode* node) {
    ASSERT_NE(node, nullptr);
    widget.setCurrentItem(node);
}
