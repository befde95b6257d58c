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

// `unread`: why the password could not be read from where it is kept, which the message
// of a prompt that got no answer (none could be shown) repeats.
QString ask(const AccessQuestions& questions, const QString& prompt, const QString& whose,
            const QString& unread = {}) {
    std::optional<QString> typed = questions.password ? questions.password(prompt) : std::nullopt;
    if (!typed)
        throw AccessError(
            (unread.isEmpty()
                 ? QStringLiteral("No password was given for %1, so it was not connected.").arg(whose)
                 : QStringLiteral("The password of %1 could not be read from the desktop keyring "
                                  "(%2), and none was given, so it was not connected.")
                       .arg(whose, unread))
                .toStdString());
    return *typed;
}

// A text for the middle of a sentence: without the periods it ends with.
QString clause(QString text) {
    while (text.endsWith(u'.')) text.chop(1);
    return text;
}

// False when the entry may still be there; callers that need not say so ignore it.
bool removeQuietly(const QString& key) {
    try {
        registry::PasswordKeyring::remove(key);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

QString sshKeyringKey(const ServerOptions& options) {
    return QStringLiteral("ssh/") + options.keyringId;
}

QString sshPassphraseKeyringKey(const ServerOptions& options) {
    return QStringLiteral("sshkey/") + options.keyringId;
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

void keepInKeyring(ServerOptions& options, const QString& password) {
    if (!password.isEmpty()) saveInKeyring(options, password);
}

bool forgetKeyringEntry(const ServerOptions& old, const ServerOptions& neu) {
    if (old.password != PasswordStorage::Keyring || old.keyringId.isEmpty()) return true;
    if (neu.password == PasswordStorage::Keyring && neu.keyringId == old.keyringId) return true;
    // Every entry is tried, whatever the first answered.
    const bool password = removeQuietly(keyringKey(old));
    const bool sshPassword = removeQuietly(sshKeyringKey(old));
    const bool passphrase = removeQuietly(sshPassphraseKeyringKey(old));
    return password && sshPassword && passphrase;
}

ServerAccess::ServerAccess(QString knownHostsFile) : knownHosts_(std::move(knownHostsFile)) {}

ServerAccess::~ServerAccess() = default;

void ServerAccess::close() { tunnel_.reset(); }

bool ServerAccess::tunnelAlive() const { return tunnel_ && tunnel_->alive(); }

QString ServerAccess::tunnelFailure() const {
    return tunnel_ ? tunnel_->lastForwardError() : QString();
}

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
            // No entry was made for an empty password.
            if (entry.options.keyringId.isEmpty()) return {};
            break;
    }
    QString problem;
    bool unanswered = false;
    if (!registry::PasswordKeyring::available()) {
        problem = QStringLiteral("no desktop keyring is available");
    } else {
        try {
            if (std::optional<QString> stored =
                    registry::PasswordKeyring::read(keyringKey(entry.options)))
                return *stored;
            problem = QStringLiteral("the keyring holds no password for it");
        } catch (const registry::KeyringError& e) {
            problem = e.text();
            unanswered = e.unanswered();
        }
    }
    // A keyring that has not answered may still be showing its own unlock prompt: a second
    // password box on top of it would take what the user meant for the keyring.
    if (unanswered)
        throw AccessError(QStringLiteral("The password of %1 is kept in the desktop keyring, which "
                                         "did not answer (it may be waiting to be unlocked), so "
                                         "it was not connected. Unlock the keyring and connect "
                                         "again.")
                              .arg(whose)
                              .toStdString());
    return ask(questions,
               QStringLiteral("The password of %1 could not be read from the desktop keyring: "
                              "%2.\n\nPassword:")
                   .arg(whose, clause(problem)),
               whose, clause(problem));
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
    // The key file, then the agent, then the password: a password (or the key's passphrase)
    // is asked for only when what came before did not log in. A server whose password is in
    // the keyring keeps these secrets there too, once they worked.
    const bool inKeyring = entry.options.password == PasswordStorage::Keyring &&
                           !entry.options.keyringId.isEmpty() &&
                           registry::PasswordKeyring::available();
    const QString sshServer = ssh.port == 22 ? ssh.host : QStringLiteral("%1:%2").arg(ssh.host).arg(ssh.port);
    const QString sshKey = sshKeyringKey(entry.options);
    const QString passphraseKey = sshPassphraseKeyringKey(entry.options);
    bool passwordFromKeyring = false;
    bool passphraseFromKeyring = false;
    // A keyring that fails here is passed over: the password is asked for instead.
    const auto fromKeyring = [](const QString& key) -> std::optional<QString> {
        try {
            return registry::PasswordKeyring::read(key);
        } catch (const registry::KeyringError&) {
            return std::nullopt;
        }
    };
    if (inKeyring) {
        if (std::optional<QString> stored = fromKeyring(sshKey)) {
            endpoint.password = *stored;
            passwordFromKeyring = true;
        }
        if (!ssh.keyFile.isEmpty())
            if (std::optional<QString> stored = fromKeyring(passphraseKey)) {
                endpoint.keyPassphrase = *stored;
                passphraseFromKeyring = true;
            }
    }
    const QString whose = QStringLiteral("%1 on the SSH server %2").arg(endpoint.user, sshServer);
    const auto askPassword = [&] {
        endpoint.password = ask(questions, QStringLiteral("Password of %1:").arg(whose), whose);
        passwordFromKeyring = false;
    };
    if (ssh.keyFile.isEmpty() && qEnvironmentVariableIsEmpty("SSH_AUTH_SOCK") &&
        !passwordFromKeyring)
        askPassword();

    std::unique_ptr<net::SshTunnel> tunnel;
    const QString targetHost = target.host.isEmpty() ? QStringLiteral("127.0.0.1") : target.host;
    const unsigned targetPort = target.port ? target.port : 3306;
    // Each round asks for at most one missing secret; the host key is checked every time.
    for (int round = 0;; ++round) {
        tunnel = std::make_unique<net::SshTunnel>(endpoint, knownHosts_);
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
                                      .arg(sshServer, displayName)
                                      .toStdString());
            tunnel->trustHostKey();
        }
        try {
            runAside(questions, "Opening the SSH tunnel",
                     [&] { tunnel->startForwarding(targetHost, targetPort); });
            break;
        } catch (const net::SshError&) {
            // Only a secret the server refused is forgotten: a changed host key, or a server
            // that cannot be reached, says nothing about it.
            const net::LoginOutcome login = tunnel->lastLogin();
            if (!login.refused) throw;
            const bool passwordRefused =
                passwordFromKeyring && (login.passwordTried || !login.passwordsAccepted);
            if (passwordRefused) removeQuietly(sshKey);
            const bool passphraseRefused = passphraseFromKeyring && login.keyNeedsPassphrase;
            if (passphraseRefused) removeQuietly(passphraseKey);
            if (round >= 2) throw;
            if (login.keyNeedsPassphrase && (endpoint.keyPassphrase.isEmpty() || passphraseRefused)) {
                const QString key = QStringLiteral("the key file %1").arg(ssh.keyFile);
                endpoint.keyPassphrase =
                    ask(questions, QStringLiteral("Passphrase of %1:").arg(key), key);
                passphraseFromKeyring = false;
            } else if (login.passwordsAccepted && (!login.passwordTried || passwordRefused)) {
                askPassword();
            } else {
                throw;
            }
        }
    }
    if (inKeyring) {
        try {
            if (!passwordFromKeyring && !endpoint.password.isEmpty())
                registry::PasswordKeyring::write(sshKey, endpoint.password);
            if (!passphraseFromKeyring && !endpoint.keyPassphrase.isEmpty())
                registry::PasswordKeyring::write(passphraseKey, endpoint.keyPassphrase);
        } catch (const registry::KeyringError&) {
            // Connected all the same; asked for again next time.
        }
    }
    const quint16 local = tunnel->localPort();
    tunnel_ = std::move(tunnel);
    return QStringLiteral("127.0.0.1:%1").arg(local);
}
