#pragma once

#include <gtest/gtest.h>

#include <QTreeWidget>
#include <QWidget>
#include <memory>

#include "admin/AccountCommands.h"
#include "admin/DatabaseCommands.h"
#include "dataset/TMySQLConnection.h"
#include "db/Connection.h"
#include "panels/DetailPanels.h"
#include "panels/TreeMenus.h"
#include "support/ScriptedPrompts.h"
#include "support/TestServer.h"
#include "support/TreeFixture.h"
#include "tree/ObjectTree.h"
#include "tree/ServerSession.h"

// Whether the account can log in to the test server with this password.
bool logsIn(const QString& user, const QString& password);
// The server's PASSWORD() hash of a password.
QString passwordHash(db::Connection& c, const QString& password);
// Grant tables of the old layout ("user" and "host" in `database`), with the columns the
// panels read and write.
void createLegacyGrantTables(db::Connection& c, const QString& database);

// The global privileges of an account (of a role, for an empty host) as SHOW GRANTS lists
// them, sorted.
QStringList globalPrivileges(db::Connection& c, const QString& user, const QString& host);

// The child of a tree node with the given text; null when there is none.
TreeNode* childNamed(TreeNode* folder, const QString& text);

// The window's pieces around the account commands: a tree connected to the test server
// through its own connection step, the detail panels and the context menus. Not a test
// fixture of its own, so that parameterized fixtures can add it; call setUpWindow() from
// SetUp().
class AccountWindow {
protected:
    void setUpWindow();
    void useGrantsDb(const QString& grantsDb = QStringLiteral("mysql"));
    // The tree click on an account or host entry.
    void click(TreeNode* node);

    TMySQLConnection dataset;
    ServerSession session{dataset, nullptr};
    ScriptedPrompts prompts;
    QWidget window;
    QTreeWidget* widget = nullptr;
    DetailPanels* panels = nullptr;
    TreeMenus* menus = nullptr;
    std::unique_ptr<ObjectTree> tree;
    std::unique_ptr<AccountCommands> commands;
    TreeNode* users = nullptr;
    TreeNode* hosts = nullptr;
};

// A connected tree with the database commands wired to its menus and "DB" listed. Databases
// named in toDrop are dropped at the end.
class DatabaseCommandsFixture : public TreeFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // Lists the tables of a database and returns its "Tables" folder.
    TreeNode* tablesOf(const QString& database);
    void select(TreeNode* node);

    db::Connection dba = testserver::connect();
    QStringList toDrop;
    QString contextDb;
    QString contextTable;
    std::unique_ptr<TreeMenus> menus;
    std::unique_ptr<DatabaseCommands> commands;
};
