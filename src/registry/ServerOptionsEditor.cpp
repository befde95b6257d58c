#include "registry/ServerOptionsEditor.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QToolButton>
#include <QVBoxLayout>

#include "registry/TfrmNewConnect.h"
#include "ui/Named.h"
#include "ui/Prompts.h"

ServerOptionsEditor::ServerOptionsEditor(ui::Prompts& prompts, bool keyringAvailable,
                                         QWidget* parent)
    : QWidget(parent), prompts_(prompts) {
    setObjectName(QStringLiteral("ServerOptions"));
    // Items in PasswordStorage order.
    PasswordStorage_ = ui::named(new QComboBox(this), "PasswordStorage");
    PasswordStorage_->addItems({QStringLiteral("Save password in the server list file"),
                                QStringLiteral("Save password in the desktop keyring"),
                                QStringLiteral("Ask every time")});
    StorageNote_ = ui::named(new QLabel(this), "StorageNote");
    StorageNote_->setWordWrap(true);
    StorageNote_->hide();
    if (keyringAvailable) {
        PasswordStorage_->setCurrentIndex(int(PasswordStorage::Keyring));
    } else {
        if (auto* items = qobject_cast<QStandardItemModel*>(PasswordStorage_->model()))
            items->item(int(PasswordStorage::Keyring))->setEnabled(false);
        setStorageNote(QStringLiteral("No desktop keyring is available, so a saved password "
                                      "goes into the server list file, readable by you only."));
    }

    Advanced_ = ui::named(new QToolButton(this), "Advanced");
    Advanced_->setText(QStringLiteral("Advanced"));
    Advanced_->setCheckable(true);
    Advanced_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    Advanced_->setArrowType(Qt::RightArrow);
    Advanced_->setAutoRaise(true);
    AdvancedPanel_ = new QWidget(this);
    AdvancedPanel_->hide();

    TlsMode_ = ui::named(new QComboBox(AdvancedPanel_), "TlsMode");
    TlsMode_->addItems({QStringLiteral("Off"), QStringLiteral("Required"),
                        QStringLiteral("Verify the CA"),
                        QStringLiteral("Verify the CA and the host name")});
    TlsCa_ = fileField("TlsCa", QStringLiteral("CA File"));
    TlsCert_ = fileField("TlsCert", QStringLiteral("Client Certificate"));
    TlsKey_ = fileField("TlsKey", QStringLiteral("Client Key"));
    SshHost_ = ui::named(new QLineEdit(AdvancedPanel_), "SshHost");
    SshHost_->setPlaceholderText(QStringLiteral("none: connect directly"));
    SshPort_ = ui::named(new QSpinBox(AdvancedPanel_), "SshPort");
    SshPort_->setRange(1, 65535);
    SshPort_->setValue(22);
    SshUser_ = ui::named(new QLineEdit(AdvancedPanel_), "SshUser");
    SshKey_ = fileField("SshKey", QStringLiteral("SSH Key"));
    SshKey_->setPlaceholderText(QStringLiteral("none: the agent, then a password"));

    const auto withBrowse = [this](QLineEdit* edit, const QString& caption) {
        auto* row = new QHBoxLayout;
        row->setContentsMargins(0, 0, 0, 0);
        row->addWidget(edit);
        auto* browse = new QToolButton(AdvancedPanel_);
        browse->setText(QStringLiteral("..."));
        connect(browse, &QToolButton::clicked, this, [this, edit, caption] {
            const QString path = prompts_.openFileName(this, caption, edit->text(), {});
            if (!path.isEmpty()) edit->setText(path);
        });
        row->addWidget(browse);
        return row;
    };
    auto* sshRow = new QHBoxLayout;
    sshRow->setContentsMargins(0, 0, 0, 0);
    sshRow->addWidget(SshHost_, 1);
    sshRow->addWidget(new QLabel(QStringLiteral("Port"), AdvancedPanel_));
    sshRow->addWidget(SshPort_);

    auto* advanced = new QFormLayout(AdvancedPanel_);
    advanced->setContentsMargins(0, 0, 0, 0);
    advanced->addRow(QStringLiteral("TLS :"), TlsMode_);
    advanced->addRow(QStringLiteral("CA file :"), withBrowse(TlsCa_, QStringLiteral("CA File")));
    advanced->addRow(QStringLiteral("Certificate :"),
                     withBrowse(TlsCert_, QStringLiteral("Client Certificate")));
    advanced->addRow(QStringLiteral("Key :"), withBrowse(TlsKey_, QStringLiteral("Client Key")));
    advanced->addRow(QStringLiteral("SSH server :"), sshRow);
    advanced->addRow(QStringLiteral("SSH user :"), SshUser_);
    advanced->addRow(QStringLiteral("SSH key :"), withBrowse(SshKey_, QStringLiteral("SSH Key")));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(PasswordStorage_);
    layout->addWidget(StorageNote_);
    layout->addWidget(Advanced_, 0, Qt::AlignLeft);
    layout->addWidget(AdvancedPanel_);

    connect(Advanced_, &QToolButton::toggled, this, [this](bool open) {
        Advanced_->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        AdvancedPanel_->setVisible(open);
        if (QWidget* dialog = window()) dialog->adjustSize();
    });
    connect(TlsMode_, &QComboBox::currentIndexChanged, this, [this] { updateEnabled(); });
    connect(PasswordStorage_, &QComboBox::currentIndexChanged, this,
            [this] { Q_EMIT storageChanged(); });
    updateEnabled();
}

QLineEdit* ServerOptionsEditor::fileField(const char* name, const QString& caption) {
    auto* edit = ui::named(new QLineEdit(AdvancedPanel_), name);
    edit->setAccessibleName(caption);
    return edit;
}

void ServerOptionsEditor::updateEnabled() {
    const bool tls = TlsMode_->currentIndex() != int(db::TlsMode::Off);
    TlsCa_->setEnabled(TlsMode_->currentIndex() >= int(db::TlsMode::VerifyCa));
    TlsCert_->setEnabled(tls);
    TlsKey_->setEnabled(tls);
}

void ServerOptionsEditor::setOptions(const ServerOptions& o) {
    setStorage(o.password);
    TlsMode_->setCurrentIndex(int(o.tls.mode));
    TlsCa_->setText(o.tls.caFile);
    TlsCert_->setText(o.tls.certFile);
    TlsKey_->setText(o.tls.keyFile);
    SshHost_->setText(o.ssh.host);
    SshPort_->setValue(int(o.ssh.port ? o.ssh.port : 22));
    SshUser_->setText(o.ssh.user);
    SshKey_->setText(o.ssh.keyFile);
    // Settings in use are never hidden.
    Advanced_->setChecked(o.tls != db::TlsOptions{} || o.ssh != SshSettings{});
}

ServerOptions ServerOptionsEditor::options(const ServerOptions& base) const {
    ServerOptions o;
    o.password = storage();
    o.keyringId = base.keyringId;
    o.tls.mode = db::TlsMode(TlsMode_->currentIndex());
    if (o.tls.mode != db::TlsMode::Off) {
        o.tls.caFile = TrimServerField(TlsCa_->text());
        o.tls.certFile = TrimServerField(TlsCert_->text());
        o.tls.keyFile = TrimServerField(TlsKey_->text());
    }
    o.ssh.host = TrimServerField(SshHost_->text());
    if (o.ssh.enabled()) {
        o.ssh.port = unsigned(SshPort_->value());
        o.ssh.user = TrimServerField(SshUser_->text());
        o.ssh.keyFile = TrimServerField(SshKey_->text());
    }
    return o;
}

bool ServerOptionsEditor::checkSettings() {
    const QString problem = db::tlsSettingsProblem(options({}).tls);
    if (problem.isEmpty()) return true;
    Advanced_->setChecked(true);
    prompts_.message(this, QStringLiteral("The server cannot be saved: ") + problem);
    TlsCa_->setFocus();
    return false;
}

PasswordStorage ServerOptionsEditor::storage() const {
    return PasswordStorage(PasswordStorage_->currentIndex());
}

void ServerOptionsEditor::setStorage(PasswordStorage storage) {
    PasswordStorage_->setCurrentIndex(int(storage));
}

void ServerOptionsEditor::setStorageNote(const QString& text) {
    StorageNote_->setText(text);
    StorageNote_->setVisible(!text.isEmpty());
}
