#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "admin/AccountPanel.h"
#include "admin/AccountStatements.h"
#include "db/ServerTraits.h"

class ObjectTree;
class ServerSession;
class TreeNode;
class QWidget;
namespace ui {
class Prompts;
}

// The commands of the user and host panels and of the tree's account menus: new, save,
// delete and refresh of accounts and host privilege entries. Where the grant tables have
// the old layout the rows are written directly and FLUSH PRIVILEGES makes the server use
// them; where mysql.user is a view accounts change through CREATE USER, GRANT, REVOKE,
// RENAME USER, SET PASSWORD and DROP USER, and host entries do not exist.
class AccountCommands : public QObject {
    Q_OBJECT
public:
    // Connects the tree's empty-folder signals; the main window connects the panels'
    // buttons and the menus. `window` owns the message boxes. `grantsDb` holds the user and
    // host tables the commands read and write (tests point it at tables of their own); the
    // panels' fills are pointed at it too.
    AccountCommands(ObjectTree& tree, std::unique_ptr<admin::AccountPanel> panel,
                    ServerSession& session, ui::Prompts& prompts, QWidget* window,
                    QString grantsDb = QStringLiteral("mysql"));

    // User panel: "+", "Save", "-".
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    // "User Add" on the accounts folder and on an account; "User Delete"; "Refresh".
    void Add2Click();
    void Add1Click();
    void Delete2Click();
    void Refresh2Click();

    // Host panel: "+", "Save", "-".
    void SpeedButton4Click();
    void SpeedButton5Click();
    void SpeedButton6Click();
    // "Host Add" on the host entries folder and on an entry; "Host Delete"; "Refresh".
    void Add3Click();
    void Add4Click();
    void Delete1Click();
    void Refresh3Click();

Q_SIGNALS:
    // A change the server carried out, for the status bar.
    void statusMessage(const QString& text);

public Q_SLOTS:
    // A folder listed from an empty table opens its panel ready for a new entry.
    void OnUserFolderEmpty();
    void OnHostFolderEmpty();

private:
    struct Sent {
        bool ok = true;
        QString reason;  // the server's error text when not ok
    };

    db::ServerTraits traits();
    // The traits looked up again, for the commands that must see a table created or dropped
    // since connecting.
    db::ServerTraits freshTraits();
    Sent send(const std::string& statement);
    Sent changeGrantTables(const std::string& statement);
    void report(const QString& message);
    void reportFailure(const char* message, const Sent& sent, bool withReason);

    // The account or role the panel was loaded from (or inserted); none after "+".
    std::optional<TUserKey> shownAccount() const;
    void reloadAccount(const TUserKey& key);
    void newUser();
    // A role keeps its name and has no host or password: only its privileges change.
    void saveRole(const TUserKey& role, const admin::AccountRow& row);
    void insertUser(const admin::AccountRow& row, bool legacy);
    void updateUser(const admin::AccountRow& row, bool legacy);
    Sent createAccount(const admin::AccountRow& row);
    Sent matchPrivileges(const TUserKey& key, const admin::UserPrivileges& privileges);
    void deleteUser(const TUserKey& key);
    bool listAccounts(TreeNode* folder);

    void newHostEntry();
    void saveHostEntry();
    void insertHostEntry(const admin::HostEntryRow& row);
    void updateHostEntry(const admin::HostEntryRow& row);
    void deleteHostEntry(const THostKey& key);
    bool listHostEntries(TreeNode* folder);

    // The folder that shows nodes of `entryLevel`: the selected one, the parent of a
    // selected entry, else the first such folder of the tree; null when there is none.
    TreeNode* folderFor(TNodeLevel folderLevel, TNodeLevel entryLevel) const;
    // Shows a row the server confirmed in `folder`, once. An empty folder may never have
    // been listed: it is listed whole by `list`, so it never shows the new row alone.
    template <class Key>
    void showInserted(TreeNode* folder, const Key& key, bool (AccountCommands::*list)(TreeNode*));
    // The nodes of an account or entry whose key changed, or that is gone.
    template <class Key>
    void renameNodes(const Key& from, const Key& to);
    template <class Key>
    void removeNodes(const Key& key);

    ObjectTree& tree_;
    std::unique_ptr<admin::AccountPanel> panel_;
    ServerSession& session_;
    ui::Prompts& prompts_;
    QWidget* window_;
    QString grantsDb_;
};
