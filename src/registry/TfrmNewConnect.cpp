#include "registry/TfrmNewConnect.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "registry/ServerOptionsEditor.h"
#include "ui/Named.h"

namespace {

bool isBlankOrControl(QChar c) {
    return c.isSpace() || c.category() == QChar::Other_Control;
}

}  // namespace

QString TrimServerField(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlankOrControl(text.at(begin))) ++begin;
    while (end > begin && isBlankOrControl(text.at(end - 1))) --end;
    return text.mid(begin, end - begin);
}

TfrmNewConnect::TfrmNewConnect(ui::Prompts& prompts, bool keyringAvailable, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmNewConnect"));
    setWindowTitle(QStringLiteral("새 데이터 베이스"));

    Edit4 = ui::named(new QLineEdit(this), "Edit4");
    Edit1 = ui::named(new QLineEdit(this), "Edit1");
    Edit2 = ui::named(new QLineEdit(this), "Edit2");
    Edit3 = ui::named(new QLineEdit(this), "Edit3");
    Edit3->setEchoMode(QLineEdit::Password);
    Options = new ServerOptionsEditor(prompts, keyringAvailable, this);
    const auto askEveryTime = [this] {
        Edit3->setEnabled(Options->storage() != PasswordStorage::Ask);
    };
    connect(Options, &ServerOptionsEditor::storageChanged, this, askEveryTime);
    askEveryTime();

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("서     버 :"), Edit4);
    fields->addRow(QStringLiteral("호 스 트 :"), Edit1);
    fields->addRow(QStringLiteral("아 이 디 :"), Edit2);
    fields->addRow(QStringLiteral("비밀번호 :"), Edit3);
    fields->addRow(QString(), Options);

    BitBtn1 = ui::named(new QPushButton(QStringLiteral("OK"), this), "BitBtn1");
    BitBtn1->setDefault(true);
    BitBtn2 = ui::named(new QPushButton(QStringLiteral("Cancel"), this), "BitBtn2");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);

    setTabOrder(Edit4, Edit1);
    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Edit3);
    setTabOrder(Edit3, Options);
    setTabOrder(Options, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);

    connect(BitBtn1, &QPushButton::clicked, this, &TfrmNewConnect::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TfrmNewConnect::BitBtn2Click);
}

QString TfrmNewConnect::ServerName() const { return TrimServerField(Edit4->text()); }
QString TfrmNewConnect::IP() const { return TrimServerField(Edit1->text()); }
QString TfrmNewConnect::USERID() const { return TrimServerField(Edit2->text()); }
// Blanks around a password are part of it: trimmed, it would no longer log in.
QString TfrmNewConnect::PASSWD() const { return Edit3->text(); }

TServerEntry TfrmNewConnect::Entry() const {
    TServerEntry entry{IP(), USERID(), QString(), Options->options({})};
    if (entry.options.password == PasswordStorage::File) entry.PASSWD = PASSWD();
    return entry;
}

void TfrmNewConnect::BitBtn1Click() {
    if (ServerName().isEmpty()) {
        Edit4->setFocus();
    } else if (IP().isEmpty()) {
        Edit1->setFocus();
    } else if (USERID().isEmpty()) {
        Edit2->setFocus();
    } else if (nameCheck_ && !nameCheck_(ServerName())) {
        Edit4->setFocus();
        Edit4->selectAll();
    } else if (!Options->checkSettings()) {
        return;
    } else if (!acceptCheck_ || acceptCheck_()) {
        accept();
    }
}

void TfrmNewConnect::BitBtn2Click() { reject(); }

void TfrmNewConnect::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Edit4->setFocus();
}
