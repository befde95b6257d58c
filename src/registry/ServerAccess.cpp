#include "registry/ServerAccess.h"

#include <QUuid>

#include "db/HostPort.h"
#include "net/SshTunnel.h"
#include "registry/PasswordKeyring.h"

namespace {

void runAside(const AccessQuestions& questions, const char* what,
              const std::function<void()>& work) {
    if (questions.aside)
        questions.aside(what, work);
    else
        work();
}

QString ask(const AccessQuestions& questions, const QString& prompt, const QString& whose) {
    std::optional<QString> typed = questions.password ? questions.password(prompt) : std::nullopt;
    if (!typed)
        throw AccessError(
            QStringLiteral("No password was given for %1, so it was not connected.").arg(whose).toStdString());
    return *typed;
}

// An entry left behind holds nothing a record points to: a failure is not reported.
void removeQuietly(const QString& key) {
    try {
        registry::PasswordKeyring::remove(key);
    } catch (const std::exception&) {
    }
}

QString sshKeyringKey(const ServerOptions& options) {
    return QStringLiteral("ssh/") + options.keyringId;
}

}  // namespace

QString keyringKey(const ServerOptions& options) {
    return QStringLiteral("server/") + options.keyringId;
}

void saveInKeyring(ServerOptions& options, const QString& password) {
    if (options.keyringId.isEmpty())
        options.keyringId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    registry::PasswordKeyring::write(keyringKey(options), password);
}

void forgetKeyringEntry(const ServerOptions& old, const ServerOptions& neu) {
    if (old.password != PasswordStorage::Keyring || old.keyringId.isEmpty()) return;
    if (neu.password == PasswordStorage::Keyring && neu.keyringId == old.keyringId) return;
    removeQuietly(keyringKey(old));
    removeQuietly(sshKeyringKey(old));
}

ServerAccess::ServerAccess(QString knownHostsFile) : knownHosts_(std::move(knownHostsFile)) {}

ServerAccess::~ServerAccess() = default;

void ServerAccess::close() { tunnel_.reset(); }

db::ConnectParams ServerAccess::open(const QString& displayName, const TServerEntry& entry,
                                     const AccessQuestions& questions) {
    close();
    db::ConnectParams params;
    params.user = entry.USERID;
    params.label = displayName;
    params.tls = entry.options.tls;
    params.password = password(displayName, entry, questions);
    params.host = entry.options.ssh.enabled() ? openTunnel(displayName, entry, questions)
                                              : entry.IP;
    return params;
}

QString ServerAccess::password(const QString& displayName, const TServerEntry& entry,
                               const AccessQuestions& questions) const {
    const QString whose = QStringLiteral("%1 on %2").arg(entry.USERID, displayName);
    switch (entry.options.password) {
        case PasswordStorage::File:
            return entry.PASSWD;
        case PasswordStorage::Ask:
            return ask(questions, QStringLiteral("Password of %1:").arg(whose), whose);
        case PasswordStorage::Keyring:
            break;
    }
    QString problem;
    if (!registry::PasswordKeyring::available()) {
        problem = QStringLiteral("no desktop keyring is available");
    } else if (std::optional<QString> stored =
                   registry::PasswordKeyring::read(keyringKey(entry.options), &problem)) {
        return *stored;
    } else if (problem.isEmpty()) {
        problem = QStringLiteral("the keyring holds no password for it");
    }
    return ask(questions,
               QStringLiteral("The password of %1 could not be read from the desktop keyring: "
                              "%2.\n\nPassword:")
                   .arg(whose, problem),
               whose);
}

QString ServerAccess::openTunnel(const QString& displayName, const TServerEntry& entry,
                                 const AccessQuestions& questions) {
    const SshSettings& ssh = entry.options.ssh;
    const db::HostPort target = db::parseHostPort(entry.IP);
    if (!target.socket.isEmpty())
        throw AccessError("A server reached through an SSH server is named by its host and "
                          "port as the SSH server sees them, not by a socket file.");
    if (!target.valid || ssh.port < 1 || ssh.port > 65535)
        throw AccessError("Invalid port in the host or the SSH port: use a port from 1 to "
                          "65535.");
    net::SshEndpoint endpoint;
    endpoint.host = ssh.host;
    endpoint.port = ssh.port;
    endpoint.user = ssh.user.isEmpty() ? qEnvironmentVariable("USER") : ssh.user;
    endpoint.keyFile = ssh.keyFile;
    // A key or the agent is preferred; only without either is a password needed. A server
    // whose password is in the keyring keeps the SSH password there too, once it worked.
    const bool inKeyring = entry.options.password == PasswordStorage::Keyring &&
                           !entry.options.keyringId.isEmpty() &&
                           registry::PasswordKeyring::available();
    const QString sshKey = sshKeyringKey(entry.options);
    bool fromKeyring = false;
    if (ssh.keyFile.isEmpty() && qEnvironmentVariableIsEmpty("SSH_AUTH_SOCK")) {
        std::optional<QString> stored;
        if (inKeyring) stored = registry::PasswordKeyring::read(sshKey);
        fromKeyring = stored.has_value();
        const QString whose = QStringLiteral("%1 on the SSH server %2").arg(endpoint.user, ssh.host);
        endpoint.password =
            stored ? *stored : ask(questions, QStringLiteral("Password of %1:").arg(whose), whose);
    }
    auto tunnel = std::make_unique<net::SshTunnel>(endpoint, knownHosts_);
    net::HostKeyState state = net::HostKeyState::Known;
    runAside(questions, "Connecting to the SSH server", [&] { state = tunnel->connectToHost(); });
    if (state == net::HostKeyState::Unknown) {
        const QString text =
            QStringLiteral("The SSH server %1:%2, through which %3 is reached, is not known "
                           "yet. Its %4 host key has the fingerprint\n%5\n\nTrust this key and "
                           "connect? It is remembered for later connects.")
                .arg(ssh.host)
                .arg(ssh.port)
                .arg(displayName, tunnel->keyType(), tunnel->fingerprint());
        if (!questions.trustHostKey || !questions.trustHostKey(text))
            throw AccessError(QStringLiteral("The host key of the SSH server %1 was not trusted, "
                                             "so %2 was not connected.")
                                  .arg(ssh.host, displayName)
                                  .toStdString());
        tunnel->trustHostKey();
    }
    const QString targetHost = target.host.isEmpty() ? QStringLiteral("127.0.0.1") : target.host;
    const unsigned targetPort = target.port ? target.port : 3306;
    try {
        runAside(questions, "Opening the SSH tunnel",
                 [&] { tunnel->startForwarding(targetHost, targetPort); });
    } catch (const net::SshError&) {
        // A kept password that no longer logs in is asked for again next time.
        if (fromKeyring) removeQuietly(sshKey);
        throw;
    }
    if (inKeyring && !fromKeyring && !endpoint.password.isEmpty()) {
        try {
            registry::PasswordKeyring::write(sshKey, endpoint.password);
        } catch (const registry::KeyringError&) {
            // Connected all the same; the password is asked for again next time.
        }
    }
    const quint16 local = tunnel->localPort();
    tunnel_ = std::move(tunnel);
    return QStringLiteral("127.0.0.1:%1").arg(local);
}
