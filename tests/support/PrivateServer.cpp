#include "support/PrivateServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QThread>

#include "support/Daemons.h"

namespace {

constexpr int kStartSeconds = 60;
constexpr const char* kUser = "lorvex_fault";

QStringList userArgument() {
    return ::geteuid() == 0 ? QStringList{QStringLiteral("--user=root")} : QStringList{};
}


QString tailOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    return QString::fromUtf8(bytes.right(2000));
}

}  // namespace

PrivateServer::PrivateServer()
    : dir_(QStringLiteral("/tmp/lorvex-private-server.XXXXXX")),
      password_(
          QStringLiteral("pw-%1-%2").arg(::getpid()).arg(QRandomGenerator::global()->generate())) {}

PrivateServer::~PrivateServer() {
    // The data is thrown away: no need for an orderly shutdown.
    if (running()) kill();
}

QString PrivateServer::path(const char* name) const { return dir_.filePath(QLatin1String(name)); }

QString PrivateServer::hostField() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }

QString PrivateServer::user() const { return QString::fromLatin1(kUser); }

QString PrivateServer::password() const { return password_; }

db::ConnectParams PrivateServer::params() const {
    db::ConnectParams p;
    p.host = hostField();
    p.user = user();
    p.password = password();
    return p;
}

db::Connection PrivateServer::connect() const {
    db::Connection c;
    c.connect(params());
    return c;
}

TServerEntry PrivateServer::entry() const { return TServerEntry{hostField(), user(), password()}; }

bool PrivateServer::running() const {
    return process_ && process_->state() != QProcess::NotRunning;
}

qint64 PrivateServer::pid() const { return running() ? process_->processId() : 0; }

bool PrivateServer::initialise(QString* error) {
    if (initialised_) return true;
    if (!dir_.isValid()) {
        *error = QStringLiteral("cannot create a temporary directory: ") + dir_.errorString();
        return false;
    }
    QFile init(path("init.sql"));
    if (!init.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write ") + init.fileName();
        return false;
    }
    // Single quotes cannot occur in the password: it is built from digits and dashes.
    init.write(QStringLiteral("CREATE USER IF NOT EXISTS '%1'@'%' IDENTIFIED BY '%2';\n"
                              "GRANT ALL PRIVILEGES ON *.* TO '%1'@'%' WITH GRANT OPTION;\n")
                   .arg(user(), password())
                   .toUtf8());
    init.close();

    // A temporary directory of its own: servers bootstrapping side by side in one directory
    // can take each other's temporary tables.
    if (!QDir().mkpath(path("tmp"))) {
        *error = QStringLiteral("cannot create ") + path("tmp");
        return false;
    }
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(
        QStringLiteral("mariadb-install-db"),
        QStringList{QStringLiteral("--no-defaults"), QStringLiteral("--datadir=") + path("data")} +
            userArgument() +
            QStringList{QStringLiteral("--auth-root-authentication-method=socket"),
                        QStringLiteral("--skip-test-db"),
                        QStringLiteral("--tmpdir=") + path("tmp")});
    if (!install.waitForFinished(120000) || install.exitStatus() != QProcess::NormalExit ||
        install.exitCode() != 0) {
        *error = QStringLiteral("mariadb-install-db failed: ") + install.errorString() + u'\n' +
                 QString::fromLocal8Bit(install.readAll().right(2000));
        return false;
    }
    initialised_ = true;
    return true;
}

bool PrivateServer::launch(QString* error) {
    QFile::remove(path("mysqld.pid"));
    process_ = std::make_unique<QProcess>();
    process_->setStandardOutputFile(QProcess::nullDevice());
    process_->setStandardErrorFile(QProcess::nullDevice());
    endWithTest(*process_);
    // The flags of scripts/lib.sh (lorvex_start_server), and the temporary directory.
    process_->start(
        QStringLiteral("mariadbd"),
        QStringList{QStringLiteral("--no-defaults"), QStringLiteral("--datadir=") + path("data")} +
            userArgument() +
            QStringList{QStringLiteral("--bind-address=127.0.0.1"),
                        QStringLiteral("--port=%1").arg(port_),
                        QStringLiteral("--socket=") + path("mysqld.sock"),
                        QStringLiteral("--pid-file=") + path("mysqld.pid"),
                        QStringLiteral("--log-error=") + path("error.log"),
                        QStringLiteral("--init-file=") + path("init.sql"),
                        QStringLiteral("--innodb-buffer-pool-size=256M"),
                        QStringLiteral("--innodb-flush-log-at-trx-commit=2"),
                        QStringLiteral("--max-allowed-packet=256M"),
                        QStringLiteral("--tmpdir=") + path("tmp")} +
            extraArguments_);
    if (!process_->waitForStarted(10000)) {
        *error = QStringLiteral("cannot start mariadbd: ") + process_->errorString();
        return false;
    }
    return waitUntilAnswering(error);
}

bool PrivateServer::waitUntilAnswering(QString* error) {
    const QDeadlineTimer deadline(kStartSeconds * 1000);
    while (!deadline.hasExpired()) {
        if (!running()) {
            *error = QStringLiteral("mariadbd ended while starting:\n") + tailOf(path("error.log"));
            return false;
        }
        QProcess ping;
        ping.setProcessChannelMode(QProcess::MergedChannels);
        ping.start(QStringLiteral("mariadb-admin"),
                   {QStringLiteral("--no-defaults"), QStringLiteral("--protocol=socket"),
                    QStringLiteral("--socket=") + path("mysqld.sock"), QStringLiteral("-uroot"),
                    QStringLiteral("ping")});
        if (ping.waitForFinished(5000) && ping.exitStatus() == QProcess::NormalExit &&
            ping.exitCode() == 0)
            return true;
        QThread::msleep(100);
    }
    *error = QStringLiteral("mariadbd did not answer within %1 s:\n").arg(kStartSeconds) +
             tailOf(path("error.log"));
    kill();
    return false;
}

bool PrivateServer::start(QString* error) {
    if (running()) return true;
    if (!initialise(error)) return false;
    if (port_ != 0) return launch(error);
    // First start: another process may take the port between choosing and binding it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = freeLoopbackPort();
        if (port_ == 0) {
            *error = QStringLiteral("no free TCP port on 127.0.0.1");
            return false;
        }
        if (launch(error)) return true;
    }
    return false;
}

void PrivateServer::kill() {
    if (!running()) return;
    process_->kill();
    process_->waitForFinished(30000);
}

void PrivateServer::stop() {
    if (!running()) return;
    process_->terminate();
    if (!process_->waitForFinished(60000)) kill();
}

bool PrivateServer::restart(QString* error) {
    stop();
    return start(error);
}
