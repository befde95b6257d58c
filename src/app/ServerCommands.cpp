#include "app/ServerCommands.h"

#include <QTreeWidget>
#include <exception>

#include "registry/PasswordKeyring.h"
#include "registry/ServerAccess.h"
#include "registry/ServerRegistry.h"
#include "registry/TfrmNewConnect.h"
#include "registry/TfrmServer.h"
#include "tree/ObjectTree.h"
#include "tree/TreeNode.h"
#include "ui/BusyCursor.h"
#include "ui/Prompts.h"

ServerCommands::ServerCommands(ObjectTree& tree, ServerRegistry& registry, ui::Prompts& prompts,
                               QWidget* dialogParent)
    : tree_(tree), registry_(registry), prompts_(prompts), dialogParent_(dialogParent) {}

// Two servers of one name are told apart only by their host and user, in the tree and on
// lorvex-cli's command line: the user is asked before a second one is made.
bool ServerCommands::acceptName(QWidget* dialog, const QString& name, const TreeNode* self) {
    const QTreeWidget& widget = tree_.widget();
    bool taken = false;
    for (int i = 0; i < widget.topLevelItemCount() && !taken; ++i) {
        const TreeNode* other = TreeNode::cast(widget.topLevelItem(i));
        taken = other && other != self && other->text() == name;
    }
    return !taken || prompts_.okCancel(dialog,
                             QStringLiteral("A server named \"%1\" is already registered. Two "
                                            "servers of one name can be told apart only by their "
                                            "host and user.\n\nUse the same name for another "
                                            "server?")
                                 .arg(name),
                             QStringLiteral("Register Notice"));
}

void ServerCommands::N3Click() {
    try {
        TfrmNewConnect dialog(prompts_, registry::PasswordKeyring::available(), dialogParent_);
        dialog.setNameCheck([this, &dialog](const QString& name) {
            return acceptName(&dialog, name, nullptr);
        });
        // The password goes into the keyring while the dialog is open: when the keyring
        // cannot take it, the user reads why and keeps what was typed.
        TServerEntry entry;
        dialog.setAcceptCheck([this, &dialog, &entry] {
            entry = dialog.Entry();
            if (entry.options.password != PasswordStorage::Keyring) return true;
            try {
                keepInKeyring(entry.options, dialog.PASSWD());
                return true;
            } catch (const registry::KeyringError& error) {
                prompts_.message(&dialog, ui::withReason(QStringLiteral("Server Registration Error"),
                                                         error.text()));
                return false;
            }
        });
        if (prompts_.exec(&dialog) != QDialog::Accepted) return;
        const QString name = dialog.ServerName();
        // The node is added first; when the file cannot take the record it goes again, so
        // the tree never shows a server the next start will not know.
        TreeNode* node = tree_.AddServerNode(name, entry);
        try {
            registry_.AppendServerEntry(name, entry);
        } catch (...) {
            delete node;
            forgetKeyringEntry(entry.options, {});
            throw;
        }
    } catch (const registry::KeyringError& error) {
        prompts_.message(dialogParent_,
                         ui::withReason(QStringLiteral("Server Registration Error"), error.text()));
    } catch (const RegistryError& error) {
        prompts_.message(dialogParent_,
                         ui::withReason(QStringLiteral("Server Registration Error"), error.text()));
    } catch (const std::exception&) {
        prompts_.message(dialogParent_, QStringLiteral("Server Registration Error"));
    }
}

void ServerCommands::Information1Click() {
    TreeNode* node = tree_.selectedNode();
    if (!node || node->level() != nlServer || !node->serverEntry()) return;
    try {
        // Save and Delete could not rewrite a file that cannot be read or parsed: say so
        // before the dialog opens.
        registry_.checkRewritable();
        TfrmServer dialog(registry_, prompts_, node->text(), *node->serverEntry(),
                          registry::PasswordKeyring::available(), dialogParent_);
        dialog.setNameCheck([this, &dialog, node](const QString& name) {
            return name == node->text() || acceptName(&dialog, name, node);
        });
        if (prompts_.exec(&dialog) != QDialog::Accepted) return;
        delete node;
        if (dialog.Saved()) tree_.AddServerNode(dialog.ServerName(), dialog.Entry());
    } catch (const std::exception&) {
        prompts_.message(dialogParent_, QStringLiteral("Server Information Error"));
    }
}

void ServerCommands::N4Click() {
    TreeNode* node = tree_.selectedNode();
    if (!node) {
        prompts_.message(dialogParent_, QStringLiteral("Delete Server Error"));
        return;
    }
    if (node->level() != nlServer || !node->serverEntry()) return;
    if (!prompts_.okCancel(dialogParent_,
                           ui::naming(QStringLiteral("선택하신 서버를 삭제하시겠습니까?"), node->text()),
                           QStringLiteral("Delete Notice")))
        return;
    try {
        ui::BusyCursor busy;
        // A record that could not be removed keeps its node, so the tree never shows fewer
        // servers than the file will load next time.
        if (!registry_.RemoveServerEntry({node->text(), *node->serverEntry()})) {
            prompts_.message(dialogParent_, changedElsewhere(node->text()));
            return;
        }
        const QString name = node->text();
        const bool forgotten = forgetKeyringEntry(node->serverEntry()->options, {});
        delete node;
        if (!forgotten)
            prompts_.message(
                dialogParent_,
                QStringLiteral("The server \"%1\" was deleted, but its passwords could not be "
                               "removed from the desktop keyring, which did not answer. Remove "
                               "the entries of Lorvex for it in the keyring's own program "
                               "(Passwords and Keys).")
                    .arg(name));
    } catch (const RegistryError& error) {
        prompts_.message(dialogParent_,
                         ui::withReason(QStringLiteral("Delete Server Error"), error.text()));
    } catch (const std::exception&) {
        prompts_.message(dialogParent_, QStringLiteral("Delete Server Error"));
    }
}
