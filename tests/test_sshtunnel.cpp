#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <future>

#include "db/Connection.h"
#include "db/HostPort.h"
#include "net/SshTunnel.h"
#include "support/SshServer.h"
#include "support/TestServer.h"

namespace {

// One sshd per suite; each test has a known-hosts file of its own, in a folder not yet
// there, and no ssh-agent unless it starts one.
class SshTunnelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = std::make_unique<SshServer>();
        if (!server_->start(&skipReason_)) server_.reset();
    }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        if (!server_) GTEST_SKIP() << "no sshd: " << skipReason_.toStdString();
        QString error;
        ASSERT_TRUE(server_->start(&error)) << error.toStdString();
        qunsetenv("SSH_AUTH_SOCK");
        knownHosts_ = dir_.filePath(QStringLiteral("ssh/known_hosts"));
    }

    static net::SshEndpoint endpoint() {
        net::SshEndpoint to;
        to.host = QStringLiteral("127.0.0.1");
        to.port = server_->port();
        to.user = server_->user();
        to.keyFile = server_->clientKey();
        return to;
    }
    // A tunnel to the MariaDB test server; the answers about unknown keys are `trust`.
    std::unique_ptr<net::SshTunnel> open(const net::SshEndpoint& to, bool trust = true) {
        const db::HostPort target = db::parseHostPort(testserver::hostField());
        return net::openTunnel(to, knownHosts_, target.host, target.port, [&](const QString& fingerprint) {
            asked_.push_back(fingerprint);
            return trust;
        });
    }
    static db::Connection connectThrough(const net::SshTunnel& tunnel) {
        db::ConnectParams params = testserver::params();
        params.host = QStringLiteral("127.0.0.1:%1").arg(tunnel.localPort());
        params.netTimeout = 30;  // a hang fails the test instead of holding it
        db::Connection c;
        c.connect(params);
        return c;
    }

    static inline std::unique_ptr<SshServer> server_;
    static inline QString skipReason_;
    QTemporaryDir dir_;
    QString knownHosts_;
    QStringList asked_;  // the fingerprints the trust callback received
};

TEST_F(SshTunnelTest, AsksAboutAnUnknownKeyOnceAndRemembersIt) {
    auto tunnel = open(endpoint());
    ASSERT_EQ(asked_, QStringList{server_->hostKeyFingerprint()});
    EXPECT_TRUE(asked_[0].startsWith(QStringLiteral("SHA256:")));
    EXPECT_EQ(tunnel->keyType(), QStringLiteral("ssh-ed25519"));
    EXPECT_TRUE(tunnel->alive());
    struct stat info{};
    ASSERT_EQ(::stat(QFile::encodeName(knownHosts_).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    auto again = open(endpoint());
    EXPECT_EQ(asked_.size(), 1);
    db::Connection c = connectThrough(*again);
    EXPECT_EQ(testserver::firstValue(c, "SELECT 1"), QStringLiteral("1"));
}

// Both directions at once over two connections, several channel windows each.
TEST_F(SshTunnelTest, CarriesMegabytesBothWaysOnTwoConnections) {
    auto tunnel = open(endpoint());
    db::Connection down = connectThrough(*tunnel);
    db::Connection up = connectThrough(*tunnel);
    EXPECT_EQ(testserver::firstValue(down, "SELECT 1"), QStringLiteral("1"));
    EXPECT_EQ(testserver::firstValue(up, "SELECT 2"), QStringLiteral("2"));

    QByteArray payload(8'000'000, '\0');
    for (qsizetype i = 0; i < payload.size(); ++i) payload[i] = char('a' + (i * 7919 % 26));
    auto received = std::async(std::launch::async,
                               [&] { return testserver::firstValue(down, "SELECT REPEAT('0123456789', 800000)"); });
    EXPECT_EQ(testserver::firstValue(up, "SELECT MD5('" + payload.toStdString() + "')"),
              QString::fromLatin1(QCryptographicHash::hash(payload, QCryptographicHash::Md5).toHex()));
    EXPECT_EQ(received.get(), QString::fromLatin1(QByteArray("0123456789").repeated(800'000)));
}

struct RefusalCase {
    const char* name;
    bool strangerKey;  // log in with a key the server does not know
    bool trust;  // the answer about the unknown key
    bool keyChanged;  // the file knows the server's previous key
    const char* message;
};

class SshRefusalTest : public SshTunnelTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(SshRefusalTest, ThrowsAndSaysWhy) {
    const RefusalCase& c = GetParam();
    if (c.keyChanged) {
        open(endpoint());
        asked_.clear();
        QString error;
        ASSERT_TRUE(server_->replaceHostKey(&error)) << error.toStdString();
    }
    net::SshEndpoint to = endpoint();
    to.password = QStringLiteral("pw-never-shown");
    if (c.strangerKey) to.keyFile = server_->strangerKey();
    try {
        open(to, c.trust);
        FAIL() << "no SshError";
    } catch (const net::SshError& e) {
        EXPECT_TRUE(e.text().contains(QLatin1String(c.message))) << e.what();
        EXPECT_FALSE(e.text().contains(to.password)) << e.what();
        if (c.keyChanged) {
            EXPECT_TRUE(e.text().contains(knownHosts_)) << e.what();
            EXPECT_TRUE(e.text().contains(server_->hostKeyFingerprint())) << e.what();
        }
    }
    EXPECT_EQ(asked_.size(), c.keyChanged ? 0 : 1);
    EXPECT_EQ(QFile::exists(knownHosts_), c.trust);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SshRefusalTest,
    ::testing::Values(RefusalCase{"KeyNotTrusted", false, false, false, "not trusted"},
                      RefusalCase{"HostKeyChanged", false, true, true, "has changed"},
                      RefusalCase{"UnknownClientKey", true, true, false, "refused the login"}),
    [](const auto& info) { return std::string(info.param.name); });

// An open connection learns of the tunnel's end on its next statement, at once.
class SshEndTest : public SshTunnelTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SshEndTest, OpenConnectionSeesItLost) {
    const bool killServer = GetParam();
    auto tunnel = open(endpoint());
    db::Connection c = connectThrough(*tunnel);
    ASSERT_EQ(testserver::firstValue(c, "SELECT 1"), QStringLiteral("1"));
    if (killServer) {
        server_->kill();
        for (int i = 0; i < 250 && tunnel->alive(); ++i) QThread::msleep(20);
        EXPECT_FALSE(tunnel->alive());
    } else {
        tunnel.reset();
    }
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(c.query("SELECT 1"));
    EXPECT_TRUE(c.connectionLost()) << c.errorNumber() << ' ' << c.errorText().toStdString();
    EXPECT_LT(clock.elapsed(), 5000);
}

INSTANTIATE_TEST_SUITE_P(Ends, SshEndTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ServerKilled" : "TunnelDestroyed"; });

TEST_F(SshTunnelTest, LogsInWithTheAgentsKey) {
    const QString socket = dir_.filePath(QStringLiteral("agent.sock"));
    QProcess agent;
    agent.start(QStringLiteral("ssh-agent"), {QStringLiteral("-D"), QStringLiteral("-a"), socket});
    ASSERT_TRUE(agent.waitForStarted(10000));
    for (int i = 0; i < 250 && !QFile::exists(socket); ++i) QThread::msleep(20);
    qputenv("SSH_AUTH_SOCK", QFile::encodeName(socket));
    QProcess add;  // inherits SSH_AUTH_SOCK
    add.start(QStringLiteral("ssh-add"), {server_->clientKey()});
    ASSERT_TRUE(add.waitForFinished(10000) && add.exitCode() == 0) << add.readAllStandardError().toStdString();

    net::SshEndpoint to = endpoint();
    to.keyFile.clear();
    auto tunnel = open(to);
    db::Connection c = connectThrough(*tunnel);
    EXPECT_EQ(testserver::firstValue(c, "SELECT 1"), QStringLiteral("1"));
    agent.kill();
    agent.waitForFinished();
}

}  // namespace
