#include "registry/TfrmServer.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "registry/ServerCommands.h"
#include "registry/TfrmNewConnect.h"
#include "ui/Named.h"
#include "ui/Prompts.h"

TfrmServer::TfrmServer(ServerRegistry& registry, ui::Prompts& prompts, const QString& oldName,
                       const TServerEntry& oldEntry, QWidget* parent)
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

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("서     버 :"), Edit1);
    fields->addRow(QStringLiteral("호 스 트 :"), Edit2);
    fields->addRow(QStringLiteral("아 이 디 :"), Edit3);
    fields->addRow(QStringLiteral("비밀번호 :"), Edit4);

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
    setTabOrder(Edit4, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    setTabOrder(BitBtn2, BitBtn3);

    connect(BitBtn1, &QPushButton::clicked, this, &TfrmServer::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TfrmServer::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TfrmServer::BitBtn3Click);
}

QString TfrmServer::ServerName() const { return TrimServerField(Edit1->text()); }

TServerEntry TfrmServer::Entry() const {
    // The password as typed: blanks around it are part of it.
    return TServerEntry{TrimServerField(Edit2->text()), TrimServerField(Edit3->text()),
                        Edit4->text()};
}

void TfrmServer::BitBtn1Click() {
    // The file gets the same trimmed values as the new tree node: a record that differed
    // from its node by a blank could no longer be found by the node's later commands.
    try {
        saved_ = registry_.UpdateServerEntry({oldName_, oldEntry_}, ServerName(), Entry());
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
