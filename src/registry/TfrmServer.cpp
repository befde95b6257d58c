#include "registry/TfrmServer.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "registry/TfrmNewConnect.h"
#include "ui/Prompts.h"

namespace {

QLineEdit* makeEdit(QWidget* parent, const char* objectName, const QString& text) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QLatin1String(objectName));
    return edit;
}

QPushButton* makeButton(QWidget* parent, const char* objectName, const QString& text) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(objectName));
    return button;
}

}  // namespace

TfrmServer::TfrmServer(ServerRegistry& registry, ui::Prompts& prompts, const QString& oldName,
                       const TServerEntry& oldEntry, QWidget* parent)
    : QDialog(parent),
      registry_(registry),
      prompts_(prompts),
      oldName_(oldName),
      oldEntry_(oldEntry) {
    setObjectName(QStringLiteral("frmServer"));
    setWindowTitle(QStringLiteral("Server Properties"));

    Edit1 = makeEdit(this, "Edit1", oldName);
    Edit2 = makeEdit(this, "Edit2", oldEntry.IP);
    Edit3 = makeEdit(this, "Edit3", oldEntry.USERID);
    Edit4 = makeEdit(this, "Edit4", oldEntry.PASSWD);
    Edit4->setEchoMode(QLineEdit::Password);

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("서     버 :"), Edit1);
    fields->addRow(QStringLiteral("호 스 트 :"), Edit2);
    fields->addRow(QStringLiteral("아 이 디 :"), Edit3);
    fields->addRow(QStringLiteral("비밀번호 :"), Edit4);

    BitBtn1 = makeButton(this, "BitBtn1", QStringLiteral("Save"));
    BitBtn2 = makeButton(this, "BitBtn2", QStringLiteral("Delete"));
    BitBtn3 = makeButton(this, "BitBtn3", QStringLiteral("Close"));

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
    return TServerEntry{TrimServerField(Edit2->text()), TrimServerField(Edit3->text()),
                        TrimServerField(Edit4->text())};
}

void TfrmServer::BitBtn1Click() {
    // The file gets the same trimmed values as the new tree node: a record that differed
    // from its node by a blank could no longer be found by the node's later commands.
    try {
        saved_ = registry_.UpdateServerEntry(oldEntry_, ServerName(), Entry());
    } catch (const std::exception& error) {
        showError(error);
        return;
    }
    accept();
}

void TfrmServer::BitBtn2Click() {
    try {
        registry_.RemoveServerEntry(oldEntry_);
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
