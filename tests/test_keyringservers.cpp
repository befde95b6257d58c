// Servers whose passwords live in a desktop keyring: a Secret Service of the test's own,
// through the dialogs, the window's connect and lorvex-cli.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "app/ServerCommands.h"
#include "dataset/TMySQLConnection.h"
#include "net/SshTunnel.h"
#include "registry/PasswordKeyring.h"
#include "support/Failures.h"
#include "support/CliRunner.h"
#include "support/ScriptedPrompts.h"
#include "support/SecretService.h"
#include "support/ServerListFixture.h"
#include "support/TestServer.h"
#include "tree/ObjectTree.h"
#include "tree/ServerSession.h"
#include "tree/TreeNode.h"

namespace {

using registry::PasswordKeyring;

// The service lives as long as the process: the keyring library ends a process whose bus
// went away.
SecretService* service = nullptr;

class KeyringServers : public ServerListFixture {
protected:
    static void SetUpTestSuite() {
        service = new SecretService;
        QString error;
        started_ = service->start(&error);
        error_ = error.toStdString();
    }
    void SetUp() override {
        ServerListFixture::SetUp();
        ASSERT_TRUE(started_) << error_;
        ASSERT_TRUE(PasswordKeyring::available());
    }

    std::optional<QString> stored(const TServerEntry& e) const {
        return PasswordKeyring::read(keyringKey(e.options));
    }

    static inline bool started_ = false;
    static inline std::string error_;
};

TEST_F(KeyringServers, NewServerKeepsThePasswordInTheKeyringAndConnectsWithIt) {
    prompts.onDialog([](QDialog* dialog) {
        // The keyring is the default where there is one.
        EXPECT_EQ(childNamed<QComboBox>(dialog, "PasswordStorage")->currentIndex(),
                  int(PasswordStorage::Keyring));
        childNamed<QLineEdit>(dialog, "Edit4")->setText(QStringLiteral("kr"));
        childNamed<QLineEdit>(dialog, "Edit1")->setText(testserver::hostField());
        childNamed<QLineEdit>(dialog, "Edit2")->setText(testserver::user());
        childNamed<QLineEdit>(dialog, "Edit3")->setText(testserver::password());
        childNamed<QPushButton>(dialog, "BitBtn1")->click();
        return dialog->result();
    });
    commands.N3Click();
    const std::vector<RegistryRecord> records = registry.LoadServerRegistry();
    ASSERT_EQ(records.size(), 1u);
    const TServerEntry entry = records[0].entry;
    EXPECT_EQ(entry.PASSWD, QString());
    EXPECT_EQ(entry.options.password, PasswordStorage::Keyring);
    EXPECT_FALSE(entry.options.keyringId.isEmpty());
    EXPECT_EQ(stored(entry), testserver::password());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_FALSE(file.readAll().contains(testserver::password().toUtf8()));

    // Connecting asks nothing.
    session.Connect(QStringLiteral("kr"), entry);
    EXPECT_TRUE(session.MainConnection().isOpen());
    session.Disconnect();

    // lorvex-cli finds it too, beside its copy.
    const QString program = dir.filePath(QStringLiteral("lorvex-cli"));
    ASSERT_TRUE(QFile::copy(cliPath(), program));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LORVEX_PASSWORD"));
    ScratchDatabase s;
    const CliResult r = runProgram(program, {"dump", "--server", "kr", "--database", s.name(),
                                             "--out", dir.filePath(QStringLiteral("d.sql"))},
                                   env);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();

    // Deleting the server deletes its password.
    widget.setCurrentItem(root());
    prompts.answerOkCancel(true);
    commands.N4Click();
    EXPECT_TRUE(registry.LoadServerRegistry().empty());
    std::optional<QString> stored = QStringLiteral("not read");
    const QString error = failureOf([&] { stored = PasswordKeyring::read(keyringKey(entry.options)); });
    EXPECT_EQ(stored, std::nullopt);
    EXPECT_EQ(error, QString());
}

TEST_F(KeyringServers, PropertiesOffersToMoveAFilePasswordIntoTheKeyringAndBack) {
    const TServerEntry old{testserver::hostField(), testserver::user(), testserver::password()};
    registry.AppendServerEntry(QStringLiteral("f"), old);
    tree.AddServerNode(QStringLiteral("f"), old);
    const auto choose = [this](PasswordStorage storage, bool offered) {
        widget.setCurrentItem(root());
        prompts.onDialog([=](QDialog* dialog) {
            auto* note = childNamed<QLabel>(dialog, "StorageNote");
            EXPECT_EQ(!note->isHidden() && note->text().contains(QLatin1String("clear text")), offered);
            childNamed<QComboBox>(dialog, "PasswordStorage")->setCurrentIndex(int(storage));
            childNamed<QPushButton>(dialog, "BitBtn1")->click();
            return dialog->result();
        });
        commands.Information1Click();
        return registry.LoadServerRegistry().at(0).entry;
    };
    const TServerEntry moved = choose(PasswordStorage::Keyring, true);
    EXPECT_EQ(moved.PASSWD, QString());
    EXPECT_EQ(stored(moved), testserver::password());
    EXPECT_EQ(*root()->serverEntry(), moved);

    // Back into the file: the keyring's password comes along and its entry goes.
    const TServerEntry back = choose(PasswordStorage::File, false);
    EXPECT_EQ(back.PASSWD, testserver::password());
    EXPECT_EQ(back.options.keyringId, QString());
    EXPECT_EQ(stored(moved), std::nullopt);
}

}  // namespace

#include "support/SshServer.h"

namespace {

// This sshd takes keys only, so every SSH password fails: one asked for is never kept, and
// a kept one that fails goes.
TEST_F(KeyringServers, DeletingWhileTheKeyringIsUnreachableSaysThePasswordStayed) {
    TServerEntry entry{testserver::hostField(), testserver::user(), QString()};
    entry.options.password = PasswordStorage::Keyring;
    saveInKeyring(entry.options, testserver::password());
    registry.AppendServerEntry(QStringLiteral("kr"), entry);
    select(tree.AddServerNode(QStringLiteral("kr"), entry));
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    PasswordKeyring::forgetAvailability();
    prompts.answerOkCancel(true);
    commands.N4Click();
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
    PasswordKeyring::forgetAvailability();
    EXPECT_TRUE(registry.LoadServerRegistry().empty());
    EXPECT_EQ(widget.topLevelItemCount(), 0);
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].contains(QLatin1String("could not be removed from the desktop keyring")))
        << prompts.messages()[0].toStdString();
    EXPECT_EQ(stored(entry), testserver::password());
    EXPECT_TRUE(forgetKeyringEntry(entry.options, {}));
}

// A keyring that cannot take the password keeps New Server open with what was typed; an
// empty password is not sent to the keyring at all.
TEST_F(KeyringServers, NewServerStaysOpenWhenTheKeyringRefusesThePassword) {
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    prompts.onDialog([&](QDialog* dialog) {
        childNamed<QLineEdit>(dialog, "Edit4")->setText(QStringLiteral("kr"));
        childNamed<QLineEdit>(dialog, "Edit1")->setText(testserver::hostField());
        childNamed<QLineEdit>(dialog, "Edit2")->setText(testserver::user());
        childNamed<QLineEdit>(dialog, "Edit3")->setText(testserver::password());
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        PasswordKeyring::forgetAvailability();
        childNamed<QPushButton>(dialog, "BitBtn1")->click();
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
        PasswordKeyring::forgetAvailability();
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(childNamed<QLineEdit>(dialog, "Edit3")->text(), testserver::password());
        EXPECT_EQ(prompts.messages().size(), 1);
        childNamed<QPushButton>(dialog, "BitBtn1")->click();
        return dialog->result();
    });
    commands.N3Click();
    std::vector<RegistryRecord> records = registry.LoadServerRegistry();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(stored(records[0].entry), testserver::password());

    prompts.answerOkCancel(true);  // the name is in use
    prompts.onDialog([](QDialog* dialog) {
        childNamed<QLineEdit>(dialog, "Edit4")->setText(QStringLiteral("kr"));
        childNamed<QLineEdit>(dialog, "Edit1")->setText(QStringLiteral("h"));
        childNamed<QLineEdit>(dialog, "Edit2")->setText(QStringLiteral("nopassword"));
        childNamed<QPushButton>(dialog, "BitBtn1")->click();
        return dialog->result();
    });
    commands.N3Click();
    records = registry.LoadServerRegistry();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].entry.options.password, PasswordStorage::Keyring);
    EXPECT_EQ(records[1].entry.options.keyringId, QString());
    ServerAccess access(QString{});
    EXPECT_EQ(access.open(QStringLiteral("kr"), records[1].entry, {}).password, QString());
    forgetKeyringEntry(records[0].entry.options, {});
}

TEST_F(KeyringServers, AnSshPasswordIsKeptOnlyOnceItLogsIn) {
    SshServer ssh;
    QString error;
    if (!ssh.start(&error)) GTEST_SKIP() << "sshd cannot run here: " << error.toStdString();
    qunsetenv("SSH_AUTH_SOCK");
    TServerEntry entry{testserver::hostField(), testserver::user(), QString()};
    entry.options.password = PasswordStorage::Keyring;
    saveInKeyring(entry.options, testserver::password());
    entry.options.ssh = {QStringLiteral("127.0.0.1"), ssh.port(), ssh.user(), {}};
    const QString sshKey = QStringLiteral("ssh/") + entry.options.keyringId;
    QStringList asked;
    session.SetKnownHostsFile(dir.filePath(QStringLiteral("known_hosts")));
    session.SetQuestions({[&](const QString& prompt) -> std::optional<QString> {
                              asked << prompt;
                              return QStringLiteral("typed");
                          },
                          [](const QString&) { return true; }, {}});
    EXPECT_THROW(session.Connect(QStringLiteral("far"), entry), net::SshError);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(asked[0].contains(QStringLiteral("127.0.0.1:%1").arg(ssh.port()))) << asked[0].toStdString();
    EXPECT_EQ(PasswordKeyring::read(sshKey), std::nullopt);

    PasswordKeyring::write(sshKey, QStringLiteral("kept"));
    EXPECT_THROW(session.Connect(QStringLiteral("far"), entry), net::SshError);
    EXPECT_EQ(asked.size(), 1);  // the kept one was tried
    EXPECT_EQ(PasswordKeyring::read(sshKey), std::nullopt);
    EXPECT_EQ(PasswordKeyring::read(keyringKey(entry.options)), testserver::password());

    // A changed host key says nothing about the password: it stays.
    PasswordKeyring::write(sshKey, QStringLiteral("kept"));
    ASSERT_TRUE(ssh.replaceHostKey(&error)) << error.toStdString();
    EXPECT_THROW(session.Connect(QStringLiteral("far"), entry), net::SshError);
    EXPECT_EQ(PasswordKeyring::read(sshKey), QStringLiteral("kept"));
    forgetKeyringEntry(entry.options, {});
    EXPECT_EQ(PasswordKeyring::read(keyringKey(entry.options)), std::nullopt);
}

}  // namespace
