// Ways of reaching a server beyond host and port: TLS in each mode, a local socket, and
// passwords that are asked for instead of stored.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>

#include "db/Connection.h"
#include "registry/ServerAccess.h"
#include "support/Failures.h"
#include "support/CliRunner.h"
#include "support/PrivateServer.h"
#include "support/TestServer.h"
#include "dataset/TMySQLConnection.h"
#include "sqleditor/TabSession.h"
#include "tree/ServerSession.h"

namespace {

// A private server with a certificate for 127.0.0.1 only, signed by a CA made here, and
// a second CA that signed nothing of it.
class TlsServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new QTemporaryDir;
        server_ = new PrivateServer;
        const QString key = QStringLiteral(
            "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2");
        const CliResult made = runProgram(
            QStringLiteral("sh"),
            {QStringLiteral("-ec"),
             QStringLiteral(
                 "cd '%2'\n"
                 "openssl req -x509 %1 -keyout ca.key -out ca.pem -subj /CN=LorvexTestCA\n"
                 "openssl req -x509 %1 -keyout other.key -out other.pem -subj /CN=OtherCA\n"
                 "openssl req %1 -keyout server.key -out server.csr -subj /CN=db.test\n"
                 "printf 'subjectAltName=IP:127.0.0.1\\n' > san.ext\n"
                 "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial "
                 "-days 2 -extfile san.ext -out server.pem\n"
                 "openssl req %1 -keyout client.key -out client.csr -subj /CN=client\n"
                 "openssl x509 -req -in client.csr -CA ca.pem -CAkey ca.key -CAcreateserial "
                 "-days 2 -out client.pem\n")
                 .arg(key, dir_->path())},
            QProcessEnvironment::systemEnvironment(), 60);
        ASSERT_EQ(made.code, 0) << made.err.toStdString();
        server_->setExtraArguments({QStringLiteral("--ssl-ca=") + file("ca.pem"),
                                    QStringLiteral("--ssl-cert=") + file("server.pem"),
                                    QStringLiteral("--ssl-key=") + file("server.key")});
        QString error;
        started_ = server_->start(&error);
        startError_ = error.toStdString();
    }
    static void TearDownTestSuite() {
        delete server_;
        delete dir_;
    }
    void SetUp() override { ASSERT_TRUE(started_) << startError_; }

    static QString file(const char* name) { return dir_->filePath(QLatin1String(name)); }
    static db::ConnectParams params(db::TlsMode mode, const char* ca = "ca.pem") {
        db::ConnectParams p = server_->params();
        p.tls.mode = mode;
        p.tls.caFile = file(ca);
        return p;
    }

    static inline QTemporaryDir* dir_ = nullptr;
    static inline PrivateServer* server_ = nullptr;
    static inline bool started_ = false;
    static inline std::string startError_;
};

TEST_F(TlsServer, EachModeConnectsOrRefusesWithTheLibrarysReason) {
    struct Case {
        const char* name;
        db::TlsMode mode;
        const char* ca;
        bool viaLocalhost;  // a name the certificate does not carry
        bool connects;
    };
    const Case cases[] = {
        {"off", db::TlsMode::Off, "ca.pem", false, true},
        {"required, any certificate", db::TlsMode::Required, "other.pem", false, true},
        {"verify CA", db::TlsMode::VerifyCa, "ca.pem", false, true},
        {"verify CA, wrong CA", db::TlsMode::VerifyCa, "other.pem", false, false},
        {"verify CA, name not checked", db::TlsMode::VerifyCa, "ca.pem", true, true},
        {"verify identity", db::TlsMode::VerifyIdentity, "ca.pem", false, true},
        {"verify identity, wrong name", db::TlsMode::VerifyIdentity, "ca.pem", true, false},
        {"verify identity, wrong CA", db::TlsMode::VerifyIdentity, "other.pem", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        db::ConnectParams p = params(c.mode, c.ca);
        if (c.viaLocalhost) p.host = QStringLiteral("localhost:%1").arg(server_->port());
        db::Connection connection;
        try {
            connection.connect(p);
        } catch (const db::DbError& e) {
            EXPECT_FALSE(c.connects) << e.what();
            // The library's reason, not a bare failure.
            EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QLatin1String("TLS")) ||
                        QString::fromUtf8(e.what()).contains(QLatin1String("certificate")))
                << e.what();
            continue;
        }
        EXPECT_TRUE(c.connects);
        const QString tls = connection.tlsDescription();
        if (c.mode == db::TlsMode::Off) {
            EXPECT_TRUE(tls.isEmpty()) << tls.toStdString();
        } else {
            EXPECT_TRUE(tls.startsWith(QLatin1String("TLSv1."))) << tls.toStdString();
            // The server sees the same cipher.
            const QString cipher = testserver::firstValue(connection, "SHOW SESSION STATUS LIKE 'Ssl_cipher'", 1);
            EXPECT_TRUE(!cipher.isEmpty() && tls.endsWith(cipher)) << tls.toStdString();
        }
    }
}

TEST_F(TlsServer, ClientCertificateLogsIntoAnAccountThatRequiresOne) {
    db::Connection admin = server_->connect();
    admin.exec("CREATE USER IF NOT EXISTS 'x509'@'%' IDENTIFIED BY 'pw' REQUIRE X509");
    db::ConnectParams p = params(db::TlsMode::VerifyCa);
    p.user = QStringLiteral("x509");
    p.password = QStringLiteral("pw");
    db::Connection without;
    EXPECT_THROW(without.connect(p), db::DbError);
    p.tls.certFile = file("client.pem");
    p.tls.keyFile = file("client.key");
    db::Connection with;
    EXPECT_NO_THROW(with.connect(p));
    EXPECT_FALSE(with.tlsDescription().isEmpty());
}

TEST_F(TlsServer, TheStatusBarTellsHowTheServerIsReached) {
    TMySQLConnection dataset;
    ServerSession session(dataset, {});
    TServerEntry entry = server_->entry();
    entry.options.tls = params(db::TlsMode::VerifyCa).tls;
    session.Connect(QStringLiteral("secure"), entry);
    EXPECT_TRUE(session.ConnectionSummary().startsWith(QLatin1String("secure: TLSv1.")))
        << session.ConnectionSummary().toStdString();
    // The grids' connection is encrypted the same way.
    EXPECT_EQ(dataset.connection().tlsDescription(), session.TlsDescription());
    // And a query tab's session of its own.
    TabSession tab(dataset);
    ASSERT_TRUE(tab.start(QStringLiteral("SELECT 1"), 0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tab.running(); }, 10000));
    EXPECT_TRUE(tab.takeAnswer().failure.isEmpty());
    EXPECT_EQ(tab.connection().connection().tlsDescription(), session.TlsDescription());
    tab.close();
    entry.options.tls = {};
    session.Disconnect();
    EXPECT_EQ(session.ConnectionSummary(), QString());
    session.Connect(QStringLiteral("plain"), entry);
    EXPECT_EQ(session.ConnectionSummary(), QStringLiteral("plain: not encrypted"));
    entry.IP = server_->socketPath();
    session.Connect(QStringLiteral("local"), entry);
    EXPECT_EQ(session.ConnectionSummary(), QStringLiteral("local: local socket"));
}

// The test server offers no TLS. Every mode that asks for TLS refuses it, on each of the
// connections a session makes and in lorvex-cli, naming the server and the mode; a mode that
// verifies the CA refuses to start without a CA file.
TEST(TlsAbsent, EveryModeRefusesAServerWithoutTls) {
    db::Connection probe = testserver::connect();
    ASSERT_EQ(testserver::firstValue(probe, "SELECT @@have_ssl"), QStringLiteral("DISABLED"));
    QTemporaryDir dir;
    const QString ca = dir.filePath(QStringLiteral("ca.pem"));
    const QString program = dir.filePath(QStringLiteral("lorvex-cli"));
    ASSERT_TRUE(QFile::copy(cliPath(), program));
    ServerRegistry registry(dir.filePath(QStringLiteral("HostInfor.Dat")));
    struct Case {
        db::TlsMode mode;
        QString caFile;
        const char* says;
        bool named;  // false: the client library refuses it with its own message
    };
    const Case cases[] = {
        {db::TlsMode::Required, {}, "\"Required\"", true},
        {db::TlsMode::VerifyCa, ca, "\"Verify the CA\"", true},
        {db::TlsMode::VerifyCa, {}, "needs a CA file", true},
        {db::TlsMode::VerifyIdentity, ca, "SSL is required", false},
    };
    for (const Case& c : cases) {
        const QString name = QStringLiteral("plain %1%2").arg(int(c.mode)).arg(c.caFile.isEmpty());
        SCOPED_TRACE(name.toStdString());
        db::ConnectParams p = testserver::params();
        p.label = name;
        p.tls = {c.mode, c.caFile, {}, {}};
        const auto refused = [&](const QString& text) {
            EXPECT_TRUE((text.contains(name) || !c.named) && text.contains(QLatin1String(c.says)))
                << text.toStdString();
        };
        db::Connection connection;
        try {
            connection.connect(p);
            ADD_FAILURE() << "connected without TLS";
        } catch (const db::DbError& e) {
            refused(QString::fromUtf8(e.what()));
        }
        EXPECT_FALSE(connection.isOpen());
        QString error;
        EXPECT_FALSE(attempt(&error, [&] { db::cancelQuery(p, probe.threadId()); }));
        refused(error);

        TServerEntry entry{testserver::hostField(), testserver::user(), testserver::password()};
        entry.options.tls = p.tls;
        TMySQLConnection dataset;
        ServerSession session(dataset, {});
        try {
            session.Connect(name, entry);
            ADD_FAILURE() << "the session connected without TLS";
        } catch (const std::exception& e) {
            refused(QString::fromUtf8(e.what()));
        }
        EXPECT_FALSE(dataset.Connected());

        registry.AppendServerEntry(name, entry);
        const CliResult r = runProgram(program, {"dump", "--server", name, "--database", "mysql",
                                                 "--out", dir.filePath(QStringLiteral("d.sql"))},
                                       QProcessEnvironment::systemEnvironment());
        EXPECT_NE(r.code, 0);
        refused(r.err);
    }
}

TEST(LocalSocket, PathAndUnixPrefixConnectOverTheSocket) {
    db::Connection tcp = testserver::connect();
    const QString socket = testserver::firstValue(tcp, "SELECT @@socket");
    for (const QString& host : {socket, QStringLiteral("unix:") + socket}) {
        db::ConnectParams p = testserver::params();
        p.host = host;
        db::Connection c;
        ASSERT_NO_THROW(c.connect(p)) << host.toStdString();
        EXPECT_TRUE(c.hostInfo().contains(QLatin1String("socket"), Qt::CaseInsensitive))
            << c.hostInfo().toStdString();
    }
    db::ConnectParams p = testserver::params();
    p.host = QStringLiteral("/nonexistent/mysqld.sock");
    db::Connection c;
    EXPECT_THROW(c.connect(p), db::DbError);
}

TEST(Passwords, AskedWhenNotStoredAndNeverKeptInTheParameters) {
    TServerEntry entry{testserver::hostField(), testserver::user(), QStringLiteral("stale")};
    entry.options.password = PasswordStorage::Ask;
    QStringList prompts;
    std::optional<QString> answer = testserver::password();
    AccessQuestions questions;
    questions.password = [&](const QString& prompt) {
        prompts << prompt;
        return answer;
    };
    ServerAccess access(QString{});
    db::ConnectParams p = access.open(QStringLiteral("srv"), entry, questions);
    EXPECT_EQ(prompts, QStringList{QStringLiteral("Password of %1 on srv:").arg(testserver::user())});
    db::Connection c;
    ASSERT_NO_THROW(c.connect(p));

    // Kept in a keyring that is not there: asked, with the reason.
    entry.options.password = PasswordStorage::Keyring;
    entry.options.keyringId = QStringLiteral("none");
    prompts.clear();
    p = access.open(QStringLiteral("srv"), entry, questions);
    EXPECT_EQ(p.password, testserver::password());
    ASSERT_EQ(prompts.size(), 1);
    EXPECT_TRUE(prompts[0].contains(QLatin1String("could not be read from the desktop keyring")));

    // Nobody to answer (lorvex-cli without a terminal): the keyring's failure is the reason.
    answer.reset();
    try {
        access.open(QStringLiteral("srv"), entry, questions);
        ADD_FAILURE() << "connected without a password";
    } catch (const AccessError& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(
            QLatin1String("could not be read from the desktop keyring (no desktop keyring is available)")))
            << e.what();
    }
}

}  // namespace

#include <QDir>
#include <QThread>

#include "dataset/TMySQLConnection.h"
#include "support/ScriptedPrompts.h"
#include "support/TestFiles.h"
#include "support/SshServer.h"
#include "tree/ServerSession.h"
#include "ui/ServerWait.h"

namespace {

// A session of the window, waiter included, reaching the test server through a real sshd.
class SshSession : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        if (!ssh.start(&error)) GTEST_SKIP() << "sshd cannot run here: " << error.toStdString();
        session.SetWaiter(&wait);
        session.SetKnownHostsFile(QDir(dir.path()).filePath(QStringLiteral("known_hosts")));
        session.SetQuestions({[this](const QString& prompt) -> std::optional<QString> {
                                  asked << prompt;
                                  return secret;
                              },
                              [this](const QString& text) {
                                  asked << text;
                                  return trust;
                              }, {}});
        entry.options.ssh = {QStringLiteral("127.0.0.1"), ssh.port(), ssh.user(), ssh.clientKey()};
    }
    void TearDown() override { session.SetWaiter(nullptr); }

    SshServer ssh;
    QTemporaryDir dir;
    ScriptedPrompts prompts;
    ui::ServerWait wait{prompts};
    TMySQLConnection dataset;
    ServerSession session{dataset, {}};
    TServerEntry entry{testserver::hostField(), testserver::user(), testserver::password()};
    QStringList asked;
    bool trust = true;
    std::optional<QString> secret;  // the answer to a password or passphrase prompt
};

TEST_F(SshSession, TunnelOpensWithBothConnectionsAsksOnceAndClosesWithThem) {
    trust = false;
    EXPECT_THROW(session.Connect(QStringLiteral("far"), entry), AccessError);
    EXPECT_FALSE(QFile::exists(QDir(dir.path()).filePath(QStringLiteral("known_hosts"))));
    trust = true;
    session.Connect(QStringLiteral("far"), entry);
    ASSERT_EQ(asked.size(), 2);
    EXPECT_TRUE(asked[1].contains(ssh.hostKeyFingerprint())) << asked[1].toStdString();
    EXPECT_EQ(testserver::firstValue(session.MainConnection(), "SELECT 1"), QStringLiteral("1"));
    EXPECT_TRUE(dataset.Connected());
    EXPECT_EQ(session.ConnectionSummary(), QStringLiteral("far: through SSH"));
    // The connections reach the server through the tunnel's end on this machine.
    EXPECT_TRUE(session.MainConnection().params().host.startsWith(QLatin1String("127.0.0.1:")));
    EXPECT_NE(session.MainConnection().params().host, testserver::hostField());

    session.Disconnect();
    session.Connect(QStringLiteral("far"), entry);
    EXPECT_EQ(asked.size(), 2);  // remembered
    EXPECT_EQ(testserver::firstValue(session.MainConnection(), "SELECT 2"), QStringLiteral("2"));
}

// lorvex-cli takes the server list and the host keys beside itself and ends cleanly with its
// tunnel open.
TEST_F(SshSession, CommandLineDumpsThroughTheTunnelOfARegisteredServer) {
    session.Connect(QStringLiteral("far"), entry);  // trusts the host key
    session.Disconnect();
    const QString program = dir.filePath(QStringLiteral("lorvex-cli"));
    ASSERT_TRUE(QFile::copy(cliPath(), program));
    ServerRegistry(dir.filePath(QStringLiteral("HostInfor.Dat"))).AppendServerEntry(QStringLiteral("far"), entry);
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT)");
    const CliResult r = runProgram(program, {"dump", "--server", "far", "--database", s.name(),
                                             "--out", dir.filePath(QStringLiteral("d.sql"))},
                                   QProcessEnvironment::systemEnvironment());
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(readFile(dir.filePath(QStringLiteral("d.sql"))).contains("CREATE TABLE"));
}

TEST_F(SshSession, AKeyFileWithAPassphraseAsksForIt) {
    const QString key = dir.filePath(QStringLiteral("locked_key"));
    ASSERT_TRUE(QFile::copy(ssh.clientKey(), key));
    QFile::setPermissions(key, QFile::ReadOwner | QFile::WriteOwner);
    const CliResult locked = runProgram(QStringLiteral("ssh-keygen"),
                                        {"-q", "-p", "-P", "", "-N", "opensesame", "-f", key},
                                        QProcessEnvironment::systemEnvironment(), 60);
    ASSERT_EQ(locked.code, 0) << locked.err.toStdString();
    entry.options.ssh.keyFile = key;
    secret = QStringLiteral("wrong");
    EXPECT_THROW(session.Connect(QStringLiteral("far"), entry), std::exception);
    secret = QStringLiteral("opensesame");
    asked.clear();
    session.Connect(QStringLiteral("far"), entry);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0], QStringLiteral("Passphrase of the key file %1:").arg(key));
    EXPECT_EQ(testserver::firstValue(session.MainConnection(), "SELECT 3"), QStringLiteral("3"));
}

// A target the SSH server cannot reach is named with the SSH server's reason, in the window
// and in lorvex-cli; a tunnel that died is not shown as the way the server is reached.
TEST_F(SshSession, TheTunnelsReasonAndStateAreShown) {
    session.Connect(QStringLiteral("far"), entry);  // trusts the host key
    session.Disconnect();
    TServerEntry closed = entry;
    closed.IP = QStringLiteral("127.0.0.1:1");
    const auto named = [](const QString& text) {
        EXPECT_TRUE(text.contains(QLatin1String("could not connect to 127.0.0.1:1"))) << text.toStdString();
    };
    try {
        session.Connect(QStringLiteral("far"), closed);
        ADD_FAILURE() << "connected to a closed port";
    } catch (const std::exception& e) {
        named(QString::fromUtf8(e.what()));
    }
    const QString program = dir.filePath(QStringLiteral("lorvex-cli"));
    ASSERT_TRUE(QFile::copy(cliPath(), program));
    ServerRegistry(dir.filePath(QStringLiteral("HostInfor.Dat"))).AppendServerEntry(QStringLiteral("far"), closed);
    const CliResult r = runProgram(program, {"dump", "--server", "far", "--database", "mysql",
                                             "--out", dir.filePath(QStringLiteral("d.sql"))},
                                   QProcessEnvironment::systemEnvironment());
    EXPECT_NE(r.code, 0);
    named(r.err);

    session.Connect(QStringLiteral("far"), entry);
    EXPECT_EQ(session.ConnectionSummary(), QStringLiteral("far: through SSH"));
    ssh.kill();
    for (int i = 0; i < 250 && session.ConnectionSummary().endsWith(QLatin1String("through SSH")); ++i)
        QThread::msleep(20);
    EXPECT_EQ(session.ConnectionSummary(), QStringLiteral("far: SSH tunnel closed"));
}

TEST(CommandLine, TwoServersOfOneNameAreNotGuessed) {
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("lorvex-cli"));
    ASSERT_TRUE(QFile::copy(cliPath(), program));
    ServerRegistry registry(dir.filePath(QStringLiteral("HostInfor.Dat")));
    const TServerEntry entry{testserver::hostField(), testserver::user(), testserver::password()};
    registry.AppendServerEntry(QStringLiteral("twin"), {entry.IP, QStringLiteral("reader"), {}});
    registry.AppendServerEntry(QStringLiteral("twin"), entry);
    const CliResult r = runProgram(program, {"dump", "--server", "twin", "--database", "mysql",
                                             "--out", dir.filePath(QStringLiteral("d.sql"))},
                                   QProcessEnvironment::systemEnvironment());
    EXPECT_NE(r.code, 0);
    EXPECT_TRUE(r.err.contains(QLatin1String("2 servers named \"twin\"")) &&
                r.err.contains(QStringLiteral("reader at %1").arg(entry.IP)))
        << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("d.sql"))));
}

TEST_F(SshSession, ChangedHostKeyIsRefusedWithoutAsking) {
    session.Connect(QStringLiteral("far"), entry);
    session.Disconnect();
    QString error;
    ASSERT_TRUE(ssh.replaceHostKey(&error)) << error.toStdString();
    asked.clear();
    try {
        session.Connect(QStringLiteral("far"), entry);
        ADD_FAILURE() << "a changed host key was accepted";
    } catch (const std::exception& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QLatin1String("changed"))) << e.what();
    }
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_FALSE(session.MainConnection().isOpen());
}

}  // namespace
