#include "admin/AccountCommands.h"

#include <QTreeWidget>
#include <tuple>

#include "db/Connection.h"
#include "tree/ObjectTree.h"
#include "tree/GrantListings.h"
#include "tree/ServerSession.h"
#include "ui/BusyCursor.h"
#include "ui/Prompts.h"

using admin::AccountRow;
using admin::HostEntryRow;

namespace {

const QString kDeleteCaption = QStringLiteral("Delete Notice");

auto fields(const TUserKey& key) { return std::tie(key.User, key.Host, key.Role); }
auto fields(const THostKey& key) { return std::tie(key.Host, key.Db); }

template <class Key>
bool holds(const TreeNode* node, const Key& key) {
    const Key* own = node ? std::get_if<Key>(&node->data().key) : nullptr;
    return own && fields(*own) == fields(key);
}

TreeNode* nodeFor(const TUserKey& key) { return makeAccountNode(key); }

TreeNode* nodeFor(const THostKey& key) { return makeHostEntryNode(key); }

template <class Key>
QList<TreeNode*> nodesWith(QTreeWidget& tree, const Key& key) {
    QList<TreeNode*> nodes;
    for (QTreeWidgetItemIterator it(&tree); *it; ++it) {
        TreeNode* node = TreeNode::cast(*it);
        if (holds(node, key)) nodes << node;
    }
    return nodes;
}

// The probed row whose key is exactly `key`; the probe's comparison may ignore case.
template <class Key>
bool seekKey(db::Result& rows, const Key& key) {
    while (rows.next()) {
        if (fields(Key{rows.text(0), rows.text(1)}) == fields(key)) return true;
    }
    return false;
}

// The grant tables keep names in CHAR columns, which drop trailing blanks, while the
// server's live account list keeps them until the next reload: "bob " would be saved as one
// account and act as another. Such names are refused with a reason instead.
bool endsWithBlank(const QString& text) { return text.endsWith(u' '); }

const QString kTrailingBlankUser = QStringLiteral(
    "User and host names cannot end with a blank: the server would keep the account without "
    "it. Remove the trailing blanks, then save again.");
const QString kTrailingBlankHost = QStringLiteral(
    "Host and database names cannot end with a blank: the server would keep the entry without "
    "it. Remove the trailing blanks, then save again.");

const QString kRoleEditRefused = QStringLiteral(
    "This is a role: it has no host and no password, and it cannot be renamed here. Only its "
    "privileges can be changed: put back its name, leave Host and Password empty, then save "
    "again.");

// The role every account has on MariaDB; the server refuses to drop it.
bool isPublicRole(const TUserKey& key) {
    return key.Role && key.User.compare(QLatin1String("PUBLIC"), Qt::CaseInsensitive) == 0;
}

}  // namespace

AccountCommands::AccountCommands(ObjectTree& tree, std::unique_ptr<admin::AccountPanel> panel,
                                 ServerSession& session, ui::Prompts& prompts, QWidget* window,
                                 QString grantsDb)
    : tree_(tree),
      panel_(std::move(panel)),
      session_(session),
      prompts_(prompts),
      window_(window),
      grantsDb_(std::move(grantsDb)) {
    panel_->setGrantsDatabase(grantsDb_);
    connect(&tree_, &ObjectTree::UserFolderEmpty, this, &AccountCommands::OnUserFolderEmpty);
    connect(&tree_, &ObjectTree::HostFolderEmpty, this, &AccountCommands::OnHostFolderEmpty);
}

// ---- shared ----

db::ServerTraits AccountCommands::traits() {
    // The session detects the traits of "mysql" once per connection; another grants
    // database is looked at afresh by each command.
    if (grantsDb_ == QLatin1String("mysql")) return session_.traits();
    return db::detectServerTraits(session_.MainConnection(), grantsDb_);
}

db::ServerTraits AccountCommands::freshTraits() {
    if (grantsDb_ == QLatin1String("mysql")) return session_.refreshTraits();
    return traits();
}

AccountCommands::Sent AccountCommands::send(const std::string& statement) {
    db::Connection& connection = session_.MainConnection();
    if (connection.query(statement)) return {};
    return {false, connection.errorText()};
}

AccountCommands::Sent AccountCommands::changeGrantTables(const std::string& statement) {
    const Sent sent = send(statement);
    if (!sent.ok) return sent;
    // The server reads its grant tables only at start-up and on FLUSH PRIVILEGES; without
    // it the change would look saved while the old privileges stay in force.
    const Sent flushed = send("FLUSH PRIVILEGES");
    if (!flushed.ok) report(QStringLiteral("FLUSH PRIVILEGES False\n") + flushed.reason);
    return sent;
}

void AccountCommands::report(const QString& message) { prompts_.message(window_, message); }

void AccountCommands::reportFailure(const char* message, const Sent& sent, bool withReason) {
    report(ui::withReason(QLatin1String(message), withReason ? sent.reason : QString()));
}

TreeNode* AccountCommands::folderFor(TNodeLevel folderLevel, TNodeLevel entryLevel) const {
    TreeNode* node = tree_.selectedNode();
    if (node && node->level() == entryLevel) node = node->parentNode();
    if (node && node->level() == folderLevel) return node;
    for (QTreeWidgetItemIterator it(&tree_.widget()); *it; ++it) {
        TreeNode* candidate = TreeNode::cast(*it);
        if (candidate && candidate->level() == folderLevel) return candidate;
    }
    return nullptr;
}

template <class Key>
void AccountCommands::showInserted(TreeNode* folder, const Key& key,
                                   bool (AccountCommands::*list)(TreeNode*)) {
    if (!folder) return;
    if (folder->childCount() == 0) {
        (this->*list)(folder);
        return;
    }
    for (int i = 0; i < folder->childCount(); ++i) {
        if (holds(TreeNode::cast(folder->child(i)), key)) return;
    }
    folder->addChild(nodeFor(key));
    folder->setExpanded(true);
}

template <class Key>
void AccountCommands::renameNodes(const Key& from, const Key& to) {
    QTreeWidget& widget = tree_.widget();
    for (TreeNode* node : nodesWith(widget, from)) {
        QTreeWidgetItem* parent = node->parent();
        if (!parent) continue;
        TreeNode* renamed = nodeFor(to);
        parent->insertChild(parent->indexOfChild(node), renamed);
        if (widget.currentItem() == node) widget.setCurrentItem(renamed);
        delete node;
    }
}

template <class Key>
void AccountCommands::removeNodes(const Key& key) {
    QTreeWidget& widget = tree_.widget();
    for (TreeNode* node : nodesWith(widget, key)) {
        // The folder takes the selection, so a second "Delete" right after this one finds
        // no account selected instead of the neighbour the tree would move to.
        QTreeWidgetItem* parent = node->parent();
        const bool wasCurrent = widget.currentItem() == node;
        if (wasCurrent && parent) widget.setCurrentItem(parent);
        delete node;
    }
}

// ---- user accounts ----

void AccountCommands::newUser() {
    AccountPanelState& state = panel_->state();
    state.AddMode = 1;
    panel_->clearUserEdits();
    state.OldUser.clear();
    state.OldUHost.clear();
    state.OldURole = false;
}

void AccountCommands::SpeedButton1Click() {
    ui::BusyCursor busy;
    try {
        newUser();
    } catch (const std::exception&) {
        report(QStringLiteral("User Add Error"));
    }
}

void AccountCommands::Add2Click() {
    panel_->showUserPanel();
    SpeedButton1Click();
}

void AccountCommands::Add1Click() { Add2Click(); }

void AccountCommands::OnUserFolderEmpty() { Add2Click(); }

std::optional<TUserKey> AccountCommands::shownAccount() const {
    const AccountPanelState& state = panel_->state();
    // After "+" nothing is loaded; an account always has a host, a role never has one.
    if (state.AddMode == 1 || (state.OldUHost.isEmpty() && !state.OldURole)) return std::nullopt;
    return TUserKey{state.OldUser, state.OldUHost, state.OldURole};
}

void AccountCommands::reloadAccount(const TUserKey& key) {
    // The panel shows what the server holds after a save, also after a partial failure.
    try {
        panel_->loadAccount(key);
    } catch (const std::exception&) {
        // The account cannot be read back (gone, or no rights): the panel keeps its edits.
    }
}

void AccountCommands::SpeedButton2Click() {
    ui::BusyCursor busy;
    try {
        AccountRow row = panel_->userEdits();
        if (const std::optional<TUserKey> shown = shownAccount(); shown && shown->Role)
            return saveRole(*shown, row);
        if (row.host.isEmpty()) return;
        if (endsWithBlank(row.user) || endsWithBlank(row.host)) return report(kTrailingBlankUser);
        if (!session_.MainConnection().selectDb(grantsDb_)) return;
        const bool legacy = traits().legacyUserTable;
        // Account statements store host names in lower case; the remembered key and the
        // probe must name the account as the server keeps it.
        if (!legacy) row.host = row.host.toLower();
        if (panel_->state().AddMode == 1)
            insertUser(row, legacy);
        else
            updateUser(row, legacy);
    } catch (const std::exception&) {
        report(QStringLiteral("User Save Error"));
    }
}

void AccountCommands::saveRole(const TUserKey& role, const AccountRow& row) {
    const AccountPanelState& state = panel_->state();
    if (row.user != role.User || !row.host.isEmpty() || row.password != state.OldUPass)
        return report(kRoleEditRefused);
    if (!session_.MainConnection().selectDb(grantsDb_)) return;
    const Sent sent = matchPrivileges(role, row.privileges);
    reloadAccount(role);
    if (!sent.ok) return reportFailure("Edit False", sent, true);
    Q_EMIT statusMessage(QStringLiteral("Role %1 saved.").arg(role.User));
}

void AccountCommands::insertUser(const AccountRow& row, bool legacy) {
    db::Connection& connection = session_.MainConnection();
    AccountPanelState& state = panel_->state();
    const Sent sent =
        legacy ? changeGrantTables(admin::userInsertStatement(connection, grantsDb_, row))
               : createAccount(row);
    if (sent.ok) {
        state.AddMode = 0;
        // The next Save updates this account, not one with an empty key.
        state.OldUser = row.user;
        state.OldUHost = row.host;
        state.OldUPass = row.password;
        state.OldURole = false;
        state.OldUPrivileges = row.privileges;
        Q_EMIT statusMessage(QStringLiteral("Account %1 added.").arg(accountLabel(row.key())));
    } else {
        reportFailure("ADD False", sent, !legacy);
    }

    // Whatever the outcome, the tree shows the account when the server has it: a refused
    // insert of an existing account still shows that account (once).
    if (!connection.query(admin::userProbeStatement(connection, grantsDb_, row.key())))
        report(QStringLiteral("Select False"));
    db::Result rows = connection.storeResult();
    if (!seekKey(rows, row.key())) {
        report(QStringLiteral("User Save Error"));
        return;
    }
    showInserted(folderFor(nlUserFolder, nlUser), row.key(), &AccountCommands::listAccounts);
}

AccountCommands::Sent AccountCommands::createAccount(const AccountRow& row) {
    db::Connection& connection = session_.MainConnection();
    Sent sent = send(admin::createUserStatement(connection, row));
    if (!sent.ok) return sent;
    const std::string grant = admin::grantStatement(connection, row.key(), row.privileges);
    if (grant.empty()) return sent;
    sent = send(grant);
    // A refused GRANT takes the new account away again: "ADD False" leaves nothing behind
    // that the next Save would collide with.
    if (!sent.ok) send(admin::dropUserStatement(connection, row.key()));
    return sent;
}

AccountCommands::Sent AccountCommands::matchPrivileges(const TUserKey& key,
                                                       const admin::UserPrivileges& privileges) {
    db::Connection& connection = session_.MainConnection();
    for (const std::string& statement : {admin::grantStatement(connection, key, privileges),
                                         admin::revokeStatement(connection, key, privileges)}) {
        if (statement.empty()) continue;
        if (Sent sent = send(statement); !sent.ok) return sent;
    }
    return {};
}

void AccountCommands::updateUser(const AccountRow& row, bool legacy) {
    AccountPanelState& state = panel_->state();
    // No account was loaded or inserted: there is no row to update.
    const std::optional<TUserKey> shown = shownAccount();
    if (!shown) return;
    db::Connection& connection = session_.MainConnection();
    const TUserKey old = *shown;
    const bool renamed = fields(old) != fields(row.key());
    const bool passwordChanged = row.password != state.OldUPass;

    // Each step the server took is remembered at once, so that the key and the tree keep
    // naming the account as it now is, also when a later step is refused.
    const auto rememberKey = [&] {
        state.OldUser = row.user;
        state.OldUHost = row.host;
        if (renamed) renameNodes(old, row.key());
    };

    const auto saved = [&](const TUserKey& key) {
        Q_EMIT statusMessage(QStringLiteral("Account %1 saved.").arg(accountLabel(key)));
    };

    if (legacy) {
        // One statement: the row changes as a whole or not at all.
        const Sent sent = changeGrantTables(
            admin::userUpdateStatement(connection, grantsDb_, row, passwordChanged, old));
        if (!sent.ok) return reportFailure("Edit False", sent, false);
        rememberKey();
        state.OldUPass = row.password;
        return saved(row.key());
    }

    // Three statements: each change the server accepts is kept, each one it refuses is
    // reported, and the panel then shows the account as the server holds it.
    TUserKey current = old;
    QStringList refused;
    QStringList applied;  // what changed on the server, for a message about a partial save
    const auto attempt = [&](const char* what, const char* done, const std::string& statement) {
        const Sent sent = send(statement);
        if (!sent.ok) refused << QLatin1String(what) + QStringLiteral(": ") + sent.reason;
        else applied << QLatin1String(done);
        return sent.ok;
    };
    if (renamed &&
        attempt("Rename", "the new name", admin::renameUserStatement(connection, old, row.key()))) {
        rememberKey();
        current = row.key();
    }
    if (passwordChanged && attempt("Password", "the password",
                                   admin::setPasswordStatement(connection, current, row.password)))
        state.OldUPass = row.password;
    const bool privilegesChanged = row.privileges != state.OldUPrivileges;
    const Sent privileges = matchPrivileges(current, row.privileges);
    if (!privileges.ok) refused << QStringLiteral("Privileges: ") + privileges.reason;
    else if (privilegesChanged) applied << QStringLiteral("the privileges");
    reloadAccount(current);
    if (!refused.isEmpty()) {
        // "Edit False" when nothing changed; otherwise what was saved comes first.
        const QString headline =
            applied.isEmpty()
                ? QStringLiteral("Edit False")
                : QStringLiteral("Account %1: %2 saved; the rest was refused:")
                      .arg(accountLabel(current), applied.join(QStringLiteral(" and ")));
        return report(ui::withReason(headline, refused.join(u'\n')));
    }
    saved(current);
}

void AccountCommands::SpeedButton3Click() {
    // Nothing to delete: no account loaded or inserted, or an account whose host was erased.
    const std::optional<TUserKey> shown = shownAccount();
    if (!shown || (!shown->Role && panel_->userEdits().host.isEmpty())) return;
    deleteUser(*shown);
}

void AccountCommands::Delete2Click() {
    // The menu acts on the account it was opened on, which need not be the one shown.
    TreeNode* node = tree_.selectedNode();
    if (node && node->level() == nlUser && node->userKey())
        deleteUser(*node->userKey());
    else
        SpeedButton3Click();
}

void AccountCommands::deleteUser(const TUserKey& key) {
    if (isPublicRole(key))
        return report(QStringLiteral("PUBLIC is the role every account has; the server does not "
                                     "let it be deleted. Its privileges can be changed in the "
                                     "panel."));
    if (!prompts_.okCancel(window_, ui::naming(QStringLiteral("User를 삭제하시겠습니까?"), accountLabel(key)),
                           kDeleteCaption))
        return;
    ui::BusyCursor busy;
    try {
        db::Connection& connection = session_.MainConnection();
        if (!connection.selectDb(grantsDb_)) return;
        // Roles exist only where account statements do; they are never rows to delete.
        const bool legacy = traits().legacyUserTable && !key.Role;
        const Sent sent =
            legacy ? changeGrantTables(admin::userDeleteStatement(connection, grantsDb_, key))
                   : send(admin::dropUserStatement(connection, key));
        // A refused delete keeps the node and the panel: the account is still there.
        if (!sent.ok) return reportFailure("Delete False", sent, !legacy);
        removeNodes(key);
        newUser();
    } catch (const std::exception&) {
        report(QStringLiteral("User Delete Error"));
    }
}

bool AccountCommands::listAccounts(TreeNode* folder) {
    db::Connection& connection = session_.MainConnection();
    if (!connection.query(grants::accountList(grantsDb_, traits().userHasIsRoleColumn)))
        return false;
    db::Result rows = connection.storeResult();
    if (!rows) return false;
    grants::addAccountNodes(folder, rows);
    return true;
}

void AccountCommands::Refresh2Click() {
    ui::BusyCursor busy;
    TreeNode* folder = tree_.selectedNode();
    if (!folder || folder->level() != nlUserFolder) return;
    try {
        qDeleteAll(folder->takeChildren());
        if (!session_.MainConnection().selectDb(grantsDb_)) return;
        if (!listAccounts(folder)) report(QStringLiteral("Refresh Error - User Refresh"));
    } catch (const std::exception&) {
        report(QStringLiteral("Refresh Error - User Refresh"));
    }
}

// ---- host privilege entries ----

void AccountCommands::newHostEntry() {
    AccountPanelState& state = panel_->state();
    state.AddMode = 1;
    panel_->clearHostEntryEdits();
    state.OldHHost.clear();
    state.OldHDb.clear();
}

void AccountCommands::SpeedButton4Click() {
    ui::BusyCursor busy;
    try {
        newHostEntry();
    } catch (const std::exception&) {
        report(QStringLiteral("Host Add Error"));
    }
}

void AccountCommands::Add3Click() {
    // Said before the panel opens: an entry typed in could never be saved.
    if (!freshTraits().hasHostTable) return report(noHostTableMessage());
    panel_->showHostPanel();
    SpeedButton4Click();
}

void AccountCommands::Add4Click() { Add3Click(); }

void AccountCommands::OnHostFolderEmpty() { Add3Click(); }

void AccountCommands::SpeedButton5Click() {
    ui::BusyCursor busy;
    try {
        const HostEntryRow row = panel_->hostEntryEdits();
        if (row.host.isEmpty() || row.db.isEmpty()) return;
        if (endsWithBlank(row.host) || endsWithBlank(row.db)) return report(kTrailingBlankHost);
        if (!traits().hasHostTable) return report(noHostTableMessage());
        if (!session_.MainConnection().selectDb(grantsDb_)) return;
        if (panel_->state().AddMode == 1)
            insertHostEntry(row);
        else
            updateHostEntry(row);
    } catch (const std::exception&) {
        report(QStringLiteral("Host Save Error"));
    }
}

void AccountCommands::insertHostEntry(const HostEntryRow& row) {
    db::Connection& connection = session_.MainConnection();
    AccountPanelState& state = panel_->state();
    const Sent sent = changeGrantTables(admin::hostInsertStatement(connection, grantsDb_, row));
    if (sent.ok) {
        state.AddMode = 0;
        // The next Save updates this entry, not one with an empty key.
        state.OldHHost = row.host;
        state.OldHDb = row.db;
        Q_EMIT statusMessage(QStringLiteral("Host entry %1 added.").arg(hostEntryLabel(row.key())));
    } else {
        reportFailure("ADD False", sent, false);
    }

    if (!connection.query(admin::hostProbeStatement(connection, grantsDb_, row.key())))
        report(QStringLiteral("Select False"));
    db::Result rows = connection.storeResult();
    if (!seekKey(rows, row.key())) {
        report(QStringLiteral("Host Save Error"));
        return;
    }
    showInserted(folderFor(nlHostFolder, nlHostEntry), row.key(),
                 &AccountCommands::listHostEntries);
}

void AccountCommands::updateHostEntry(const HostEntryRow& row) {
    AccountPanelState& state = panel_->state();
    // No entry was loaded or inserted: there is no row to update.
    if (state.OldHHost.isEmpty() || state.OldHDb.isEmpty()) return;
    const THostKey old{state.OldHHost, state.OldHDb};
    const Sent sent = changeGrantTables(
        admin::hostUpdateStatement(session_.MainConnection(), grantsDb_, row, old));
    if (!sent.ok) return reportFailure("Edit False", sent, false);
    // Later commands and the tree name the entry by its new key.
    state.OldHHost = row.host;
    state.OldHDb = row.db;
    if (fields(old) != fields(row.key())) renameNodes(old, row.key());
    Q_EMIT statusMessage(QStringLiteral("Host entry %1 saved.").arg(hostEntryLabel(row.key())));
}

void AccountCommands::SpeedButton6Click() {
    const AccountPanelState& state = panel_->state();
    // Nothing to delete: host or db not typed, or no entry loaded or inserted.
    const HostEntryRow typed = panel_->hostEntryEdits();
    if (typed.host.isEmpty() || typed.db.isEmpty() || state.OldHHost.isEmpty() ||
        state.OldHDb.isEmpty())
        return;
    deleteHostEntry({state.OldHHost, state.OldHDb});
}

void AccountCommands::Delete1Click() {
    // The menu acts on the entry it was opened on, which need not be the one shown.
    TreeNode* node = tree_.selectedNode();
    if (node && node->level() == nlHostEntry && node->hostKey())
        deleteHostEntry(*node->hostKey());
    else
        SpeedButton6Click();
}

void AccountCommands::deleteHostEntry(const THostKey& key) {
    if (!traits().hasHostTable) return report(noHostTableMessage());
    if (!prompts_.okCancel(window_, ui::naming(QStringLiteral("Host를 삭제하시겠습니까?"), hostEntryLabel(key)),
                           kDeleteCaption))
        return;
    ui::BusyCursor busy;
    try {
        db::Connection& connection = session_.MainConnection();
        if (!connection.selectDb(grantsDb_)) return;
        const Sent sent = changeGrantTables(admin::hostDeleteStatement(connection, grantsDb_, key));
        // A refused delete keeps the node and the panel: the entry is still there.
        if (!sent.ok) return reportFailure("Delete False", sent, false);
        removeNodes(key);
        newHostEntry();
    } catch (const std::exception&) {
        report(QStringLiteral("Host Delete Error"));
    }
}

bool AccountCommands::listHostEntries(TreeNode* folder) {
    db::Connection& connection = session_.MainConnection();
    if (!connection.query(grants::hostEntryList(grantsDb_))) return false;
    db::Result rows = connection.storeResult();
    if (!rows) return false;
    grants::addHostEntryNodes(folder, rows);
    return true;
}

void AccountCommands::Refresh3Click() {
    ui::BusyCursor busy;
    TreeNode* folder = tree_.selectedNode();
    if (!folder || folder->level() != nlHostFolder) return;
    try {
        qDeleteAll(folder->takeChildren());
        // Looked up again: Refresh is how a table created since connecting is found.
        if (!freshTraits().hasHostTable) return report(noHostTableMessage());
        if (!session_.MainConnection().selectDb(grantsDb_)) return;
        if (!listHostEntries(folder)) report(QStringLiteral("Refresh Error - Host Refresh"));
    } catch (const std::exception&) {
        report(QStringLiteral("Refresh Error - Host Refresh"));
    }
}
