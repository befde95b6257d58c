#include "support/SshServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include "support/Daemons.h"

namespace {

// Children first: sshd's sessions run in sessions of their own, out of reach of a group kill.
void killTree(pid_t pid) {
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (children.open(QIODevice::ReadOnly))
        for (const QByteArray& child : children.readAll().split(' '))
            if (child.toInt() > 0) killTree(pid_t(child.toInt()));
    ::kill(pid, SIGKILL);
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

SshServer::SshServer() : dir_(QStringLiteral("/tmp/lorvex-sshd.XXXXXX")) {}

SshServer::~SshServer() { kill(); }

QString SshServer::path(const char* name) const { return dir_.filePath(QLatin1String(name)); }

QString SshServer::user() const {
    const passwd* entry = ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

QString SshServer::hostKeyFingerprint() const {
    QProcess keygen;
    keygen.start(QStringLiteral("ssh-keygen"),
                 {QStringLiteral("-l"), QStringLiteral("-E"), QStringLiteral("sha256"), QStringLiteral("-f"),
                  path("host_key.pub")});
    keygen.waitForFinished(10000);
    // "256 SHA256:... comment (ED25519)"
    return QString::fromLatin1(keygen.readAllStandardOutput()).section(u' ', 1, 1);
}

bool SshServer::generateKey(const char* name, QString* error) const {
    QFile::remove(path(name));
    QFile::remove(path(name) + QStringLiteral(".pub"));
    QProcess keygen;
    keygen.setProcessChannelMode(QProcess::MergedChannels);
    keygen.start(QStringLiteral("ssh-keygen"), {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                                                QStringLiteral("-N"), QString(), QStringLiteral("-f"), path(name)});
    if (keygen.waitForFinished(30000) && keygen.exitCode() == 0) return true;
    *error = QStringLiteral("ssh-keygen failed: ") + QString::fromLocal8Bit(keygen.readAll());
    return false;
}

bool SshServer::running() const { return process_ && process_->state() != QProcess::NotRunning; }

bool SshServer::launch(QString* error) {
    QFile config(path("sshd_config"));
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = QStringLiteral("cannot write ") + config.fileName();
        return false;
    }
    config.write(QStringLiteral("ListenAddress 127.0.0.1:%1\nHostKey %2\nAuthorizedKeysFile %3\n"
                                "StrictModes no\nUsePAM no\nPasswordAuthentication no\n"
                                "KbdInteractiveAuthentication no\nPermitRootLogin prohibit-password\n"
                                "AllowTcpForwarding yes\nUseDNS no\nPidFile none\n")
                     .arg(port_)
                     .arg(path("host_key"), path("client_key.pub"))
                     .toUtf8());
    config.close();
    process_ = std::make_unique<QProcess>();
    process_->setStandardOutputFile(QProcess::nullDevice());
    process_->setStandardErrorFile(path("sshd.log"));
    endWithTest(*process_);
    process_->start(QStringLiteral("/usr/sbin/sshd"),
                    {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), config.fileName()});
    const QDeadlineTimer deadline(15000);
    while (running() && !deadline.hasExpired()) {
        if (contentOf(path("sshd.log")).contains("Server listening on")) return true;
        QThread::msleep(20);
    }
    *error = QStringLiteral("sshd did not start: ") + process_->errorString() + u' ' +
             QString::fromLocal8Bit(contentOf(path("sshd.log")).right(2000));
    kill();
    return false;
}

bool SshServer::start(QString* error) {
    if (running()) return true;
    if (!prepared_) {
        if (::geteuid() != 0) {
            *error = QStringLiteral("sshd needs root to accept logins; the tests run as another user");
            return false;
        }
        // sshd's privilege separation directory, missing where sshd never ran.
        ::mkdir("/run/sshd", 0755);
        if (!generateKey("host_key", error) || !generateKey("client_key", error) ||
            !generateKey("stranger_key", error))
            return false;
        prepared_ = true;
    }
    if (port_ != 0) return launch(error);
    // Another process may take the port between choosing and binding it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = freeLoopbackPort();
        if (launch(error)) return true;
    }
    return false;
}

void SshServer::kill() {
    if (!running()) return;
    killTree(pid_t(process_->processId()));
    process_->waitForFinished(10000);
}

bool SshServer::replaceHostKey(QString* error) {
    kill();
    return generateKey("host_key", error) && start(error);
}
