#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include "registry/PasswordKeyring.h"
#include "support/Failures.h"
#include "support/SecretService.h"
#include "support/TestFiles.h"

using registry::KeyringError;
using registry::PasswordKeyring;

namespace {

// Run by the test below in a child process that has no session bus.
TEST(KeyringWithoutBus, DISABLED_Child) {
    const QString noKeyring = QStringLiteral("No desktop keyring answers on the session bus");
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(PasswordKeyring::available());
    QString error;
    EXPECT_EQ(attempt(&error, [] { return PasswordKeyring::read(QStringLiteral("server/x")); }),
              std::nullopt);
    EXPECT_TRUE(error.startsWith(noKeyring)) << error.toStdString();
    try {
        PasswordKeyring::write(QStringLiteral("server/x"), QStringLiteral("pw"));
        ADD_FAILURE() << "written without a keyring";
    } catch (const KeyringError& e) {
        EXPECT_TRUE(e.text().startsWith(noKeyring) && e.text().contains(u"server list"));
    }
    EXPECT_LT(clock.elapsed(), 3000);
}

TEST(KeyringWithoutBus, AnswersAtOnceWithAClearError) {
    QTemporaryDir runtime;  // no user bus in it to fall back on
    ASSERT_TRUE(runtime.isValid());
    for (const QString& address : {QString(), "unix:path=" + runtime.filePath("no-bus")}) {
        SCOPED_TRACE(address.toStdString());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        if (!address.isEmpty())
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":99"));  // for X11 autolaunch
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_also_run_disabled_tests"),
                     QStringLiteral("--gtest_filter=KeyringWithoutBus.DISABLED_Child")});
        ASSERT_TRUE(child.waitForFinished(20000));
        const std::string output = child.readAll().toStdString();
        EXPECT_EQ(child.exitCode(), 0) << output;
        EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
    }
}

// One Secret Service for the suite, since this process's session bus is fixed at its first
// use; the suite comes last, as nothing may run the event loop once the service has gone.
class KeyringTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        service_ = std::make_unique<SecretService>();
        if (!service_->start(&startError_)) service_.reset();
    }
    static void TearDownTestSuite() { service_.reset(); }

    void SetUp() override {
        if (!service_) GTEST_SKIP() << "no Secret Service: " << startError_.toStdString();
        PasswordKeyring::forgetAvailability();
        ASSERT_TRUE(PasswordKeyring::available());
    }

    // A key of this test's own, as the program forms them.
    static QString key(const char* prefix) {
        return QLatin1String(prefix) + u'/' +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }

    static std::optional<QString> read(const QString& key) {
        std::optional<QString> password;
        const QString error = failureOf([&] { password = PasswordKeyring::read(key); });
        EXPECT_EQ(error.toStdString(), "");
        return password;
    }

    static inline std::unique_ptr<SecretService> service_;
    static inline QString startError_;
};

// Each write replaces the one before under the same key.
TEST_F(KeyringTest, ReadsBackTheLastPasswordWritten) {
    for (const QString& password :
         {QStringLiteral("plain"), QStringLiteral("it's \"quoted\" `too`\\"),
          QStringLiteral("pässwörd ключ 密码 🔑"), QString(999, u'x') + u'é', QString()}) {
        SCOPED_TRACE(password.left(40).toStdString());
        PasswordKeyring::write(key("server"), password);
        EXPECT_EQ(read(key("server")), password);
    }
}

TEST_F(KeyringTest, KeysAreIndependentAndRemovedOnesAreGone) {
    PasswordKeyring::write(key("server"), QStringLiteral("database"));
    PasswordKeyring::write(key("ssh"), QStringLiteral("tunnel"));
    PasswordKeyring::remove(key("ssh"));
    PasswordKeyring::remove(key("ssh"));  // no entry is no error
    EXPECT_EQ(read(key("ssh")), std::nullopt);
    EXPECT_EQ(read(key("server")), QStringLiteral("database"));
    EXPECT_EQ(read(key("never")), std::nullopt);
}

TEST_F(KeyringTest, NoFileHoldsThePasswordInClearText) {
    const QString keyring =
        service_->home() + QStringLiteral("/.local/share/keyrings/login.keyring");
    const QString password = QStringLiteral("canary-%1").arg(QCoreApplication::applicationPid());
    const QByteArray before = readFile(keyring);
    PasswordKeyring::write(key("server"), password);
    ASSERT_EQ(read(key("server")), password);
    EXPECT_NE(readFile(keyring), before) << "the keyring file did not take the entry";
    QStringList scanned;
    for (QDirIterator it(service_->home(), QDir::Files | QDir::Hidden,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        scanned << it.next();
        EXPECT_FALSE(readFile(scanned.back()).contains(password.toUtf8()))
            << scanned.back().toStdString();
    }
    EXPECT_TRUE(scanned.contains(keyring)) << scanned.join(u' ').toStdString();
}

}  // namespace
