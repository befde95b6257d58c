#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <atomic>
#include <memory>

#include "admin/AccountCommands.h"
#include "dataset/TMySQLConnection.h"
#include "db/Connection.h"
#include "db/GrantColumns.h"
#include "panels/DetailPanels.h"
#include "panels/TreeMenus.h"
#include "support/CommandWindows.h"
#include "support/ScriptedPrompts.h"
#include "support/TestNames.h"
#include "support/TestServer.h"
#include "tree/ObjectTree.h"
#include "tree/ServerSession.h"

// Readable failure messages.
namespace {

std::string account(db::Connection& c, const QString& user, const QString& host) {
    return c.quoteValue(user) + "@" + c.quoteValue(host);
}

// Drops the accounts and roles a test may create, however the test ends.
struct AccountsToDrop {
    db::Connection dba = testserver::connect();
    std::vector<std::pair<QString, QString>> accounts;
    QStringList roles;

    void add(const QString& user, const QString& host) { accounts.emplace_back(user, host); }
    ~AccountsToDrop() {
        for (const auto& [user, host] : accounts)
            dba.query("DROP USER IF EXISTS " + account(dba, user, host));
        for (const QString& role : roles) dba.query("DROP ROLE IF EXISTS " + dba.quoteValue(role));
    }
};


bool accountExists(db::Connection& c, const QString& user, const QString& host) {
    db::Result rows =
        c.select("SELECT COUNT(*) FROM mysql.user WHERE User = " + c.quoteValue(user) +
                 " AND Host = " + c.quoteValue(host));
    return rows.next() && rows.text(0) == QLatin1String("1");
}




// Every row of a legacy table as "key|key[|password]|flags", in key order.
QStringList tableRows(ScratchDatabase& scratch, bool users) {
    std::string flags = "CONCAT('|'";
    if (users) {
        for (const char* c : db::kUserPrivilegeColumns) flags += std::string(", ") + c;
    } else {
        for (const char* c : db::kHostPrivilegeColumns) flags += std::string(", ") + c;
    }
    flags += ")";
    const std::string statement =
        users ? "SELECT CONCAT(User, '|', Host, '|', Password), " + flags +
                    " FROM user ORDER BY User, Host"
              : "SELECT CONCAT(Host, '|', Db), " + flags + " FROM host ORDER BY Host, Db";
    db::Result rows = scratch.connection().select(statement);
    QStringList out;
    while (rows.next()) out << rows.text(0) + rows.text(1);
    return out;
}

template <std::size_t N>
void check(const std::array<QCheckBox*, N>& boxes, const QStringList& names) {
    for (QCheckBox* box : boxes) box->setChecked(names.contains(box->objectName()));
}

template <std::size_t N>
int checkedCount(const std::array<QCheckBox*, N>& boxes) {
    int n = 0;
    for (QCheckBox* box : boxes) n += box->isChecked() ? 1 : 0;
    return n;
}


int countChildren(TreeNode* folder, const QString& text) {
    int n = 0;
    for (int i = 0; i < folder->childCount(); ++i) n += folder->child(i)->text(0) == text;
    return n;
}

class AccountsTest : public ::testing::Test, public AccountWindow {
protected:
    void SetUp() override { setUpWindow(); }

    void fillUser(const QString& user, const QString& host, const QString& password,
                  const QStringList& boxes) {
        panels->EditUUser()->setText(user);
        panels->EditUHost()->setText(host);
        panels->EditUPass()->setText(password);
        check(panels->userPrivilegeBoxes(), boxes);
    }

    void fillHost(const QString& host, const QString& db, const QStringList& boxes) {
        panels->EditHHost()->setText(host);
        panels->EditHDb()->setText(db);
        check(panels->hostPrivilegeBoxes(), boxes);
    }

    // Runs a menu item on a node, as the context menu does after selecting it.
    void onNode(TreeNode* node, QAction* item) {
        ASSERT_NE(node, nullptr);
        widget->setCurrentItem(node);
        item->trigger();
    }

    // Every prompt so far was an information box; none asked a question.
    bool askedNothing() const {
        for (const auto& shown : prompts.shown())
            if (shown.kind != QLatin1String("message")) return false;
        return true;
    }

    AccountPanelState& state() { return panels->accountState(); }
};

TEST_F(AccountsTest, CurrentServerAddsEditsRenamesAndDeletesAnAccount) {
    ASSERT_FALSE(session.traits().legacyUserTable);  // MariaDB 10.4 and later
    useGrantsDb();
    AccountsToDrop drop;
    const QString name = uniqueName("cur");
    const QString renamed = name + "_r";
    drop.add(name, "%");
    drop.add(renamed, "%");
    db::Connection& dba = drop.dba;

    onNode(users, menus->Refresh2);
    const int listed = users->childCount();
    ASSERT_GT(listed, 0);

    onNode(users, menus->Add2);
    EXPECT_EQ(panels->ShownPanel(), 1);
    EXPECT_EQ(state().AddMode, 1);
    EXPECT_EQ(checkedCount(panels->userPrivilegeBoxes()), 14);
    fillUser(name, "%", "pw'1", {"USelect", "UProcess", "UGrant"});
    panels->SpeedButton2()->click();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_EQ(state().AddMode, 0);
    EXPECT_EQ(globalPrivileges(dba, name, "%"), (QStringList{"GRANT OPTION", "PROCESS", "SELECT"}));
    EXPECT_TRUE(logsIn(name, "pw'1"));
    // Appended once, after the accounts already listed, with the account's key.
    ASSERT_EQ(users->childCount(), listed + 1);
    TreeNode* node = TreeNode::cast(users->child(listed));
    EXPECT_EQ(node->text(), name + "[%]");
    ASSERT_NE(node->userKey(), nullptr);
    EXPECT_EQ(node->userKey()->User, name);

    // A further Save updates the inserted account instead of inserting again.
    check(panels->userPrivilegeBoxes(), {"USelect", "UProcess", "UGrant", "UFile"});
    panels->SpeedButton2()->click();
    EXPECT_EQ(globalPrivileges(dba, name, "%"),
              (QStringList{"FILE", "GRANT OPTION", "PROCESS", "SELECT"}));
    EXPECT_EQ(users->childCount(), listed + 1);

    // Loaded from the server the password edit holds the stored hash; saving it untouched
    // keeps the password.
    click(node);
    EXPECT_TRUE(panels->EditUPass()->text().startsWith(u'*'));
    check(panels->userPrivilegeBoxes(), {"UInsert", "UProcess", "UAlter"});
    panels->SpeedButton2()->click();
    EXPECT_EQ(globalPrivileges(dba, name, "%"), (QStringList{"ALTER", "INSERT", "PROCESS"}));
    EXPECT_TRUE(logsIn(name, "pw'1"));

    panels->EditUPass()->setText("pw2");
    panels->SpeedButton2()->click();
    EXPECT_TRUE(logsIn(name, "pw2"));
    EXPECT_FALSE(logsIn(name, "pw'1"));

    // Rename: the account keeps its password and privileges, the node its place.
    panels->EditUUser()->setText(renamed);
    panels->SpeedButton2()->click();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_FALSE(accountExists(dba, name, "%"));
    EXPECT_EQ(globalPrivileges(dba, renamed, "%"), (QStringList{"ALTER", "INSERT", "PROCESS"}));
    EXPECT_TRUE(logsIn(renamed, "pw2"));
    node = TreeNode::cast(users->child(listed));
    EXPECT_EQ(node->text(), renamed + "[%]");
    EXPECT_EQ(node->userKey()->User, renamed);
    EXPECT_EQ(state().OldUser, renamed);

    // Delete from the account's menu.
    prompts.answerOkCancel(true);
    onNode(node, menus->Delete2);
    ASSERT_EQ(prompts.shown().size(), 1u);
    EXPECT_EQ(prompts.shown()[0].text, "User를 삭제하시겠습니까?\n" + renamed + "[%]");
    EXPECT_EQ(prompts.shown()[0].caption, QStringLiteral("Delete Notice"));
    EXPECT_FALSE(accountExists(dba, renamed, "%"));
    EXPECT_EQ(users->childCount(), listed);
    EXPECT_EQ(widget->currentItem(), users);
    EXPECT_TRUE(panels->EditUHost()->text().isEmpty());
    EXPECT_TRUE(state().OldUser.isEmpty());
    EXPECT_EQ(state().AddMode, 1);

    // A second Delete right after asks nothing, from the panel or from the menu.
    panels->SpeedButton3()->click();
    menus->Delete2->trigger();
    EXPECT_EQ(prompts.shown().size(), 1u);
    EXPECT_EQ(users->childCount(), listed);
}

TEST_F(AccountsTest, CurrentServerRefusalsShowTheReasonAndKeepWhatIsThere) {
    useGrantsDb();
    AccountsToDrop drop;
    db::Connection& dba = drop.dba;
    const QString mine = uniqueName("mine");
    const QString other = uniqueName("other");
    drop.add(mine, "%");
    drop.add(other, "%");
    dba.exec("CREATE USER " + account(dba, other, "%"));
    onNode(users, menus->Refresh2);
    const QString otherLabel = other + "[%]";
    ASSERT_EQ(countChildren(users, otherLabel), 1);

    // An account that exists already: refused, still in insert mode, and not listed twice.
    onNode(users, menus->Add2);
    fillUser(other, "%", "Secr3t;x", {});
    panels->SpeedButton2()->click();
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith("ADD False\n"));
    EXPECT_FALSE(prompts.messages()[0].contains(QStringLiteral("Secr3t")));  // never the password
    EXPECT_GT(prompts.messages()[0].size(), QStringLiteral("ADD False\n").size());
    EXPECT_EQ(state().AddMode, 1);
    EXPECT_EQ(countChildren(users, otherLabel), 1);

    // A rename onto an existing account: refused, the key and the node stay.
    prompts.clear();
    fillUser(mine, "%", "x", {"USelect"});
    panels->SpeedButton2()->click();
    ASSERT_TRUE(prompts.messages().isEmpty());
    panels->EditUUser()->setText(other);
    panels->SpeedButton2()->click();
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith("Edit False\n"));
    EXPECT_EQ(state().OldUser, mine);
    EXPECT_EQ(countChildren(users, mine + "[%]"), 1);
    EXPECT_EQ(globalPrivileges(dba, mine, "%"), QStringList{"SELECT"});

    // Delete with Cancel changes nothing.
    prompts.clear();
    prompts.answerOkCancel(false);
    onNode(childNamed(users, mine + "[%]"), menus->Delete2);
    EXPECT_TRUE(accountExists(dba, mine, "%"));
    EXPECT_EQ(countChildren(users, mine + "[%]"), 1);
    EXPECT_EQ(state().OldUser, mine);

    // The account went away behind the tree's back: the refused delete keeps the node.
    dba.exec("DROP USER " + account(dba, mine, "%"));
    prompts.answerOkCancel(true);
    onNode(childNamed(users, mine + "[%]"), menus->Delete2);
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith("Delete False\n"));
    EXPECT_EQ(countChildren(users, mine + "[%]"), 1);
    EXPECT_TRUE(prompts.allAnswersUsed());
}

// MariaDB lists roles among the accounts with an empty host; 'carol'@'' would name carol@%.
TEST_F(AccountsTest, RolesAreShownAsRolesAndEveryStatementNamesTheRole) {
    useGrantsDb();
    AccountsToDrop drop;
    db::Connection& dba = drop.dba;
    const QString name = uniqueName("role");
    drop.add(name, "%");
    drop.roles << name;
    dba.exec("CREATE USER " + account(dba, name, "%"));
    dba.exec("CREATE ROLE " + dba.quoteValue(name));
    onNode(users, menus->Refresh2);
    TreeNode* role = childNamed(users, name + " (role)");
    ASSERT_NE(role, nullptr);
    ASSERT_NE(childNamed(users, name + "[%]"), nullptr);
    EXPECT_TRUE(role->userKey()->Role);

    // Save changes the privileges of the role, not of the account.
    click(role);
    check(panels->userPrivilegeBoxes(), {"USelect", "UInsert"});
    panels->SpeedButton2()->click();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_EQ(globalPrivileges(dba, name, ""), (QStringList{"INSERT", "SELECT"}));
    EXPECT_EQ(globalPrivileges(dba, name, "%"), QStringList{});
    // A name, host or password typed for a role is refused, saying what can be done.
    panels->EditUUser()->setText(name + "x");
    panels->SpeedButton2()->click();
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].contains("Only its privileges")) << prompts.messages()[0].toStdString();

    // Delete drops the role; the account of the same name and its node stay.
    prompts.clear();
    prompts.answerOkCancel(true);
    onNode(role, menus->Delete2);
    ASSERT_FALSE(prompts.shown().empty());
    EXPECT_EQ(prompts.shown()[0].text, "User를 삭제하시겠습니까?\n" + name + " (role)");
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_TRUE(accountExists(dba, name, "%"));
    EXPECT_FALSE(accountExists(dba, name, ""));
    EXPECT_EQ(childNamed(users, name + " (role)"), nullptr);
    EXPECT_NE(childNamed(users, name + "[%]"), nullptr);

    // PUBLIC, the role of every account, cannot be dropped: said at once, nothing asked.
    prompts.clear();
    TreeNode* everyone = makeAccountNode({QStringLiteral("PUBLIC"), QString(), true});
    users->addChild(everyone);
    onNode(everyone, menus->Delete2);
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith("PUBLIC"));
    EXPECT_TRUE(askedNothing());
}

// Three statements make one edit: what the server takes is kept, each refusal is named, and
// the panel then shows the account as the server holds it.
TEST_F(AccountsTest, PartlyRefusedEditKeepsWhatTheServerTookAndShowsWhatItHolds) {
    useGrantsDb();
    AccountsToDrop drop;
    db::Connection& dba = drop.dba;
    const QString name = uniqueName("sock");
    const QString renamed = name + "_r";
    drop.add(name, "%");
    drop.add(renamed, "%");
    dba.exec("CREATE USER " + account(dba, name, "%") + " IDENTIFIED VIA unix_socket");
    QStringList statuses;
    QObject::connect(commands.get(), &AccountCommands::statusMessage,
                     [&](const QString& text) { statuses << text; });
    onNode(users, menus->Refresh2);
    click(childNamed(users, name + "[%]"));

    fillUser(renamed, "%", "Secr3t", {"USelect"});  // no password for a unix_socket account
    panels->SpeedButton2()->click();
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith(
        "Account " + renamed + "[%]: the new name and the privileges saved; the rest was "
                               "refused:\nPassword: "))
        << prompts.messages()[0].toStdString();
    EXPECT_FALSE(prompts.messages()[0].contains("Secr3t"));
    EXPECT_FALSE(accountExists(dba, name, "%"));
    EXPECT_EQ(globalPrivileges(dba, renamed, "%"), QStringList{"SELECT"});
    EXPECT_EQ(panels->EditUUser()->text(), renamed);
    EXPECT_EQ(panels->EditUPass()->text(), QString());  // what the server holds
    EXPECT_EQ(checkedCount(panels->userPrivilegeBoxes()), 1);
    EXPECT_TRUE(statuses.isEmpty());

    // A save the server takes whole is said in the status bar.
    check(panels->userPrivilegeBoxes(), {"USelect", "UInsert"});
    panels->SpeedButton2()->click();
    EXPECT_EQ(prompts.messages().size(), 1);
    EXPECT_EQ(statuses, QStringList{"Account " + renamed + "[%] saved."});
}

TEST_F(AccountsTest, QuotesAndBackslashesInNamesAndPasswordsAreStoredAsTyped) {
    useGrantsDb();
    AccountsToDrop drop;
    const QString name = QStringLiteral("o'l\\x") + uniqueName("q");
    const QString password = QStringLiteral("p'w\\d\" -- ");
    drop.add(name, "%");

    onNode(users, menus->Add2);
    fillUser(name, "%", password, {"USelect"});
    panels->SpeedButton2()->click();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_TRUE(accountExists(drop.dba, name, "%"));
    EXPECT_TRUE(logsIn(name, password));
    EXPECT_EQ(globalPrivileges(drop.dba, name, "%"), QStringList{"SELECT"});
    EXPECT_NE(childNamed(users, name + "[%]"), nullptr);

    panels->EditUPass()->setText(password + "'");
    panels->SpeedButton2()->click();
    EXPECT_TRUE(logsIn(name, password + "'"));

    prompts.answerOkCancel(true);
    panels->SpeedButton3()->click();
    EXPECT_FALSE(accountExists(drop.dba, name, "%"));
    EXPECT_EQ(childNamed(users, name + "[%]"), nullptr);
}

// The server keeps host names in lower case; the tree and the next Save name the account
// as it is kept, not as typed.
TEST_F(AccountsTest, CurrentServerHostTypedInCapitalsNamesTheStoredAccount) {
    useGrantsDb();
    AccountsToDrop drop;
    const QString name = uniqueName("caps");
    drop.add(name, "lvx.example");

    onNode(users, menus->Add2);
    fillUser(name, "LVX.Example", "p", {"USelect"});
    panels->SpeedButton2()->click();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_TRUE(accountExists(drop.dba, name, "lvx.example"));
    EXPECT_NE(childNamed(users, name + "[lvx.example]"), nullptr);

    check(panels->userPrivilegeBoxes(), {"UInsert"});
    panels->SpeedButton2()->click();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_EQ(globalPrivileges(drop.dba, name, "lvx.example"), QStringList{"INSERT"});
}

TEST_F(AccountsTest, LegacyGrantTablesAreWrittenRowByRow) {
    ScratchDatabase scratch;
    createLegacyGrantTables(scratch.connection(), scratch.name());
    useGrantsDb(scratch.name());
    db::Connection& c = scratch.connection();
    const QString name = QStringLiteral("an'n\\a");

    // Refresh of an empty table leaves the folder empty, silently.
    onNode(users, menus->Refresh2);
    EXPECT_EQ(users->childCount(), 0);
    EXPECT_TRUE(prompts.messages().isEmpty());

    onNode(users, menus->Add2);
    fillUser(name, "h%", "pw", {"USelect", "UGrant", "UAlter"});
    panels->SpeedButton2()->click();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_EQ(tableRows(scratch, true),
              QStringList{name + "|h%|" + passwordHash(c, "pw") + "|YNNNNNNNNNYNNY"});
    EXPECT_EQ(state().AddMode, 0);
    EXPECT_EQ(state().OldUser, name);
    ASSERT_EQ(users->childCount(), 1);
    TreeNode* node = TreeNode::cast(users->child(0));
    EXPECT_EQ(node->text(), name + "[h%]");

    // Loaded and saved with the password untouched: the stored hash stays.
    click(node);
    check(panels->userPrivilegeBoxes(), {"UInsert"});
    panels->SpeedButton2()->click();
    EXPECT_EQ(tableRows(scratch, true),
              QStringList{name + "|h%|" + passwordHash(c, "pw") + "|NYNNNNNNNNNNNN"});

    panels->EditUPass()->setText("");
    panels->SpeedButton2()->click();
    EXPECT_EQ(tableRows(scratch, true), QStringList{name + "|h%||NYNNNNNNNNNNNN"});

    // A changed name and host move the row, the remembered key and the node.
    fillUser("bob", "h2", "new", {"UDrop"});
    panels->SpeedButton2()->click();
    EXPECT_EQ(tableRows(scratch, true),
              QStringList{"bob|h2|" + passwordHash(c, "new") + "|NNNNNYNNNNNNNN"});
    ASSERT_EQ(users->childCount(), 1);
    node = TreeNode::cast(users->child(0));
    EXPECT_EQ(node->text(), "bob[h2]");
    EXPECT_EQ(node->userKey()->Host, "h2");
    EXPECT_EQ(state().OldUHost, "h2");

    // Inserting it again is refused with the plain message; the node is not doubled.
    panels->SpeedButton1()->click();
    fillUser("bob", "h2", "x", {});
    panels->SpeedButton2()->click();
    EXPECT_EQ(prompts.messages(), QStringList{"ADD False"});
    EXPECT_EQ(state().AddMode, 1);
    EXPECT_EQ(users->childCount(), 1);

    click(node);
    prompts.answerOkCancel(true);
    panels->SpeedButton3()->click();
    EXPECT_TRUE(tableRows(scratch, true).isEmpty());
    EXPECT_EQ(users->childCount(), 0);
    EXPECT_EQ(state().AddMode, 1);
}

TEST_F(AccountsTest, LegacyHostEntriesAreAddedEditedAndDeleted) {
    ScratchDatabase scratch;
    createLegacyGrantTables(scratch.connection(), scratch.name());
    scratch.exec("INSERT INTO host (Host, Db, Select_priv) VALUES ('h0', 'd0', 'Y')");
    useGrantsDb(scratch.name());

    onNode(hosts, menus->Refresh3);
    ASSERT_EQ(hosts->childCount(), 1);
    TreeNode* first = TreeNode::cast(hosts->child(0));

    onNode(first, menus->Add4);
    EXPECT_EQ(panels->ShownPanel(), 2);
    EXPECT_EQ(checkedCount(panels->hostPrivilegeBoxes()), 10);
    fillHost("h'1", "d\\b", {"HSelect", "HGrant"});
    panels->SpeedButton5()->click();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_EQ(tableRows(scratch, false), (QStringList{"h'1|d\\b|YNNNNNYNNN", "h0|d0|YNNNNNNNNN"}));
    ASSERT_EQ(hosts->childCount(), 2);
    EXPECT_EQ(hosts->child(1)->text(0), "h'1[d\\b]");
    EXPECT_EQ(state().AddMode, 0);

    // The next Save updates the inserted entry by its remembered key.
    fillHost("h'1", "db2", {"HInsert", "HAlter"});
    panels->SpeedButton5()->click();
    EXPECT_EQ(tableRows(scratch, false), (QStringList{"h'1|db2|NYNNNNNNNY", "h0|d0|YNNNNNNNNN"}));
    EXPECT_EQ(hosts->child(1)->text(0), "h'1[db2]");
    EXPECT_EQ(TreeNode::cast(hosts->child(1))->hostKey()->Db, "db2");

    // "Host Delete" on another entry than the one shown deletes that entry.
    prompts.answerOkCancel(true);
    const QString firstLabel = first->text();
    onNode(first, menus->Delete1);
    EXPECT_EQ(prompts.shown().back().text, "Host를 삭제하시겠습니까?\n" + firstLabel);
    EXPECT_EQ(tableRows(scratch, false), QStringList{"h'1|db2|NYNNNNNNNY"});
    ASSERT_EQ(hosts->childCount(), 1);
    EXPECT_EQ(hosts->child(0)->text(0), "h'1[db2]");
    EXPECT_EQ(widget->currentItem(), hosts);
    EXPECT_EQ(state().AddMode, 1);
    EXPECT_TRUE(panels->EditHHost()->text().isEmpty());

    // A second Delete right after asks nothing.
    panels->SpeedButton6()->click();
    menus->Delete1->trigger();
    EXPECT_TRUE(prompts.allAnswersUsed());
    EXPECT_EQ(prompts.shown().size(), 1u);
    EXPECT_EQ(tableRows(scratch, false), QStringList{"h'1|db2|NYNNNNNNNY"});
}

TEST_F(AccountsTest, SaveAndDeleteWithoutAKeyDoNothing) {
    ScratchDatabase scratch;
    createLegacyGrantTables(scratch.connection(), scratch.name());
    useGrantsDb(scratch.name());

    // Nothing loaded yet: an update has no row to address.
    fillUser("u", "h", "p", {});
    panels->SpeedButton2()->click();
    fillHost("h", "d", {});
    panels->SpeedButton5()->click();
    // An empty host, or an empty db, ends Save at once.
    panels->SpeedButton1()->click();
    fillUser("u", "", "p", {});
    panels->SpeedButton2()->click();
    panels->SpeedButton4()->click();
    fillHost("h", "", {});
    panels->SpeedButton5()->click();
    fillHost("", "d", {});
    panels->SpeedButton5()->click();
    EXPECT_TRUE(tableRows(scratch, true).isEmpty());
    EXPECT_TRUE(tableRows(scratch, false).isEmpty());

    // A new account or entry not saved yet: Delete has no key and asks nothing.
    fillUser("u", "h", "p", {});
    fillHost("h", "d", {});
    panels->SpeedButton3()->click();
    panels->SpeedButton6()->click();
    onNode(users, menus->Delete2);
    onNode(hosts, menus->Delete1);
    EXPECT_TRUE(prompts.shown().empty());
}

TEST_F(AccountsTest, AddModeIsSharedByTheUserAndHostPanels) {
    ScratchDatabase scratch;
    createLegacyGrantTables(scratch.connection(), scratch.name());
    scratch.exec("INSERT INTO user (Host, User, Password) VALUES ('h1', 'u1', 'hash1')");
    scratch.exec("INSERT INTO host (Host, Db) VALUES ('h1', 'd1')");
    useGrantsDb(scratch.name());
    onNode(users, menus->Refresh2);
    onNode(hosts, menus->Refresh3);
    TreeNode* user = childNamed(users, "u1[h1]");
    TreeNode* host = childNamed(hosts, "h1[d1]");
    ASSERT_TRUE(user && host);

    EXPECT_EQ(state().AddMode, 0);  // window created
    click(user);
    EXPECT_EQ(state().AddMode, 0);
    panels->SpeedButton1()->click();  // New user
    EXPECT_EQ(state().AddMode, 1);
    EXPECT_TRUE(state().OldUser.isEmpty() && state().OldUHost.isEmpty());
    EXPECT_EQ(state().OldUPass, "hash1");
    click(host);  // a host node resets the flag and keeps the user key
    EXPECT_EQ(state().AddMode, 0);
    EXPECT_EQ(state().OldHHost, "h1");
    onNode(host, menus->Add4);  // Host Add
    EXPECT_EQ(state().AddMode, 1);
    EXPECT_TRUE(state().OldHHost.isEmpty());

    fillHost("h2", "d2", {});
    panels->SpeedButton5()->click();  // insert succeeded
    EXPECT_EQ(state().AddMode, 0);
    EXPECT_EQ(state().OldHHost, "h2");
    panels->SpeedButton5()->click();  // update
    EXPECT_EQ(state().AddMode, 0);

    // New user switches the host panel's next Save to an insert as well: h2/d2 again.
    panels->SpeedButton1()->click();
    EXPECT_EQ(state().OldHHost, "h2");
    panels->SpeedButton5()->click();  // insert failed
    EXPECT_EQ(prompts.messages(), QStringList{"ADD False"});
    EXPECT_EQ(state().AddMode, 1);

    // A host delete sets the flag and keeps the user key; a user delete the other way.
    click(user);
    click(childNamed(hosts, "h2[d2]"));
    prompts.answerOkCancel(true);
    panels->SpeedButton6()->click();
    EXPECT_EQ(state().AddMode, 1);
    EXPECT_TRUE(state().OldHHost.isEmpty() && state().OldHDb.isEmpty());
    EXPECT_EQ(state().OldUser, "u1");
    click(host);
    click(user);
    prompts.answerOkCancel(true);
    panels->SpeedButton3()->click();
    EXPECT_EQ(state().AddMode, 1);
    EXPECT_TRUE(state().OldUser.isEmpty() && state().OldUHost.isEmpty());
    EXPECT_EQ(state().OldHHost, "h1");
    EXPECT_TRUE(tableRows(scratch, true).isEmpty());
    EXPECT_EQ(tableRows(scratch, false), QStringList{"h1|d1|NNNNNNNNNN"});

    // Listing an empty table opens the panel ready for a new entry.
    panels->SwitchPanel(1);
    click(host);
    Q_EMIT tree->UserFolderEmpty();
    EXPECT_EQ(panels->ShownPanel(), 1);
    EXPECT_EQ(state().AddMode, 1);
    EXPECT_EQ(checkedCount(panels->userPrivilegeBoxes()), 14);
    EXPECT_TRUE(panels->EditUUser()->text().isEmpty());
    Q_EMIT tree->HostFolderEmpty();
    EXPECT_EQ(panels->ShownPanel(), 2);
    EXPECT_EQ(checkedCount(panels->hostPrivilegeBoxes()), 10);
    EXPECT_TRUE(panels->EditHHost()->text().isEmpty());
}

TEST_F(AccountsTest, HostPanelWithoutAHostTableExplainsAndSendsNothing) {
    ASSERT_FALSE(session.traits().hasHostTable);  // MariaDB 10.4 and later
    useGrantsDb();
    // "Host Add" says so at once and opens no panel for an entry that could not be saved.
    const int shown = panels->ShownPanel();
    onNode(hosts, menus->Add3);
    EXPECT_EQ(prompts.messages(), QStringList{noHostTableMessage()});
    EXPECT_EQ(panels->ShownPanel(), shown);
    EXPECT_EQ(state().AddMode, 0);
    prompts.clear();
    state().AddMode = 1;
    fillHost("h", "d", {});
    panels->SpeedButton5()->click();
    EXPECT_EQ(prompts.messages(), QStringList{noHostTableMessage()});
    EXPECT_EQ(state().AddMode, 1);

    prompts.clear();
    state().OldHHost = "h";
    state().OldHDb = "d";
    panels->SpeedButton6()->click();  // no question first
    onNode(hosts, menus->Refresh3);
    EXPECT_EQ(prompts.messages(), (QStringList{noHostTableMessage(), noHostTableMessage()}));
    EXPECT_TRUE(askedNothing());
    EXPECT_EQ(hosts->childCount(), 0);
    EXPECT_EQ(state().OldHHost, "h");
}

// Without the RELOAD privilege the row is written but the server keeps the old privileges:
// the user is told so instead of seeing a plain success.
TEST_F(AccountsTest, LegacyChangeThatCannotBeReloadedIsReported) {
    ScratchDatabase scratch;
    createLegacyGrantTables(scratch.connection(), scratch.name());
    AccountsToDrop drop;
    const QString limited = uniqueName("lim");
    drop.add(limited, "%");
    drop.dba.exec("CREATE USER " + account(drop.dba, limited, "%") + " IDENTIFIED BY 'lim'");
    drop.dba.exec("GRANT ALL ON " + db::quoteIdentifier(scratch.name()) + ".* TO " +
                  account(drop.dba, limited, "%"));
    ASSERT_NO_THROW(session.Connect(QStringLiteral("limited"),
                                    TServerEntry{testserver::hostField(), limited, "lim"}));
    useGrantsDb(scratch.name());

    onNode(users, menus->Add2);
    fillUser("u", "h", "p", {});
    panels->SpeedButton2()->click();
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith("FLUSH PRIVILEGES False\n"));
    EXPECT_EQ(tableRows(scratch, true).size(), 1);
    EXPECT_EQ(state().AddMode, 0);
}

}  // namespace
