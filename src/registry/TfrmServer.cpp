#include "registry/TfrmServer.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "registry/PasswordKeyring.h"
#include "registry/ServerAccess.h"
#include "registry/ServerOptionsEditor.h"
#include "registry/ServerRegistry.h"
#include "registry/TfrmNewConnect.h"
#include "ui/Named.h"
#include "ui/Prompts.h"

TfrmServer::TfrmServer(ServerRegistry& registry, ui::Prompts& prompts, const QString& oldName,
                       const TServerEntry& oldEntry, bool keyringAvailable, QWidget* parent)
    : QDialog(parent),
      registry_(registry),
      prompts_(prompts),
      oldName_(oldName),
      oldEntry_(oldEntry) {
    setObjectName(QStringLiteral("frmServer"));
    setWindowTitle(QStringLiteral("Server Properties"));

    Edit1 = ui::named(new QLineEdit(oldName, this), "Edit1");
    Edit2 = ui::named(new QLineEdit(oldEntry.IP, this), "Edit2");
    Edit3 = ui::named(new QLineEdit(oldEntry.USERID, this), "Edit3");
    Edit4 = ui::named(new QLineEdit(oldEntry.PASSWD, this), "Edit4");
    Edit4->setEchoMode(QLineEdit::Password);
    Options = new ServerOptionsEditor(prompts, keyringAvailable, this);
    Options->setOptions(oldEntry.options);
    if (oldEntry.options.password == PasswordStorage::Keyring)
        Edit4->setPlaceholderText(QStringLiteral("kept in the desktop keyring; type to change"));
    if (keyringAvailable && oldEntry.options.password == PasswordStorage::File &&
        !oldEntry.PASSWD.isEmpty())
        Options->setStorageNote(QStringLiteral(
            "This password is kept in clear text in the server list. Choose \"Save password "
            "in the desktop keyring\" and Save to move it there."));
    const auto askEveryTime = [this] {
        Edit4->setEnabled(Options->storage() != PasswordStorage::Ask);
    };
    connect(Options, &ServerOptionsEditor::storageChanged, this, askEveryTime);
    askEveryTime();

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("서     버 :"), Edit1);
    fields->addRow(QStringLiteral("호 스 트 :"), Edit2);
    fields->addRow(QStringLiteral("아 이 디 :"), Edit3);
    fields->addRow(QStringLiteral("비밀번호 :"), Edit4);
    fields->addRow(QString(), Options);

    BitBtn1 = ui::named(new QPushButton(QStringLiteral("Save"), this), "BitBtn1");
    BitBtn2 = ui::named(new QPushButton(QStringLiteral("Delete"), this), "BitBtn2");
    BitBtn3 = ui::named(new QPushButton(QStringLiteral("Close"), this), "BitBtn3");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    buttons->addWidget(BitBtn3);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);

    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Edit3);
    setTabOrder(Edit3, Edit4);
    setTabOrder(Edit4, Options);
    setTabOrder(Options, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    setTabOrder(BitBtn2, BitBtn3);

    connect(BitBtn1, &QPushButton::clicked, this, &TfrmServer::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TfrmServer::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TfrmServer::BitBtn3Click);
}

QString TfrmServer::ServerName() const { return TrimServerField(Edit1->text()); }

TServerEntry TfrmServer::Entry() const {
    if (written_) return *written_;
    // The password as typed: blanks around it are part of it.
    TServerEntry entry{TrimServerField(Edit2->text()), TrimServerField(Edit3->text()),
                       QString(), Options->options(oldEntry_.options)};
    if (entry.options.password == PasswordStorage::File) entry.PASSWD = Edit4->text();
    return entry;
}

TServerEntry TfrmServer::placePassword() const {
    TServerEntry entry = Entry();
    const bool wasInKeyring = oldEntry_.options.password == PasswordStorage::Keyring;
    const QString typed = Edit4->text();
    if (entry.options.password == PasswordStorage::Keyring) {
        // An empty field leaves the keyring's password as it is.
        if (!wasInKeyring || !typed.isEmpty()) keepInKeyring(entry.options, typed);
    } else if (entry.options.password == PasswordStorage::File && wasInKeyring &&
               typed.isEmpty()) {
        // Back into the file: the password the keyring held.
        const std::optional<QString> stored =
            registry::PasswordKeyring::read(keyringKey(oldEntry_.options));
        entry.PASSWD = stored.value_or(QString());
    }
    if (entry.options.password != PasswordStorage::Keyring) entry.options.keyringId.clear();
    return entry;
}

void TfrmServer::BitBtn1Click() {
    // The file gets the same trimmed values as the new tree node: a record that differed
    // from its node by a blank could no longer be found by the node's later commands.
    if (!Options->checkSettings()) return;
    if (nameCheck_ && !nameCheck_(ServerName())) {
        Edit1->setFocus();
        Edit1->selectAll();
        return;
    }
    try {
        const TServerEntry entry = placePassword();
        try {
            saved_ = registry_.UpdateServerEntry({oldName_, oldEntry_}, ServerName(), entry);
        } catch (...) {
            forgetKeyringEntry(entry.options, oldEntry_.options);  // one made just now
            throw;
        }
        if (!saved_) forgetKeyringEntry(entry.options, oldEntry_.options);
        if (saved_) {
            written_ = entry;
            forgetKeyringEntry(oldEntry_.options, entry.options);
        }
    } catch (const registry::KeyringError& error) {
        prompts_.message(this, error.text());
        return;
    } catch (const std::exception& error) {
        showError(error);
        return;
    }
    // Re-read as it is written: a record another window changed is never lost or doubled.
    if (!saved_) return prompts_.message(this, changedElsewhere(oldName_));
    accept();
}

void TfrmServer::BitBtn2Click() {
    try {
        if (!registry_.RemoveServerEntry({oldName_, oldEntry_}))
            return prompts_.message(this, changedElsewhere(oldName_));
        forgetKeyringEntry(oldEntry_.options, {});
    } catch (const std::exception& error) {
        showError(error);
        return;
    }
    saved_ = false;
    accept();
}

void TfrmServer::BitBtn3Click() { reject(); }

void TfrmServer::showError(const std::exception& error) {
    if (const auto* registryError = dynamic_cast<const RegistryError*>(&error))
        prompts_.message(this, registryError->text());
    else
        prompts_.message(this, QString::fromLocal8Bit(error.what()));
}
