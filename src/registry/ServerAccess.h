#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

#include "db/Connection.h"
#include "registry/ServerRegistry.h"

namespace net {
class SshTunnel;
}

// What connecting asks the user when the server list does not hold the answer.
struct AccessQuestions {
    // The password asked for with `prompt`; std::nullopt when the user cancels.
    std::function<std::optional<QString>(const QString& prompt)> password;
    // Whether to trust an SSH host key seen for the first time; `text` names the host and
    // the key's fingerprint.
    std::function<bool(const QString& text)> trustHostKey;
    // Runs work that waits for the network off the window's thread; null: runs it here.
    std::function<void(const char* what, const std::function<void()>& work)> aside;
};

// Connecting failed before the server was reached: no password given, the keyring or the
// SSH server refused. what() is UTF-8 text for the user.
class AccessError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The keyring entry of a server's password.
QString keyringKey(const ServerOptions& options);
// Saves `password` as the server's in the keyring, giving `options` a keyring id when it
// has none. Throws registry::KeyringError.
void saveInKeyring(ServerOptions& options, const QString& password);
// saveInKeyring for a password typed in a dialog: an empty one (an account without a
// password) is not sent to the keyring, and the server then has no keyring id.
void keepInKeyring(ServerOptions& options, const QString& password);
// Removes the keyring entries (password, SSH password, key passphrase) `old` names when
// `neu` does not use them (any longer). False when one may be left behind (the keyring did
// not answer): what is left no record points to, but a deleted server's secrets are.
bool forgetKeyringEntry(const ServerOptions& old, const ServerOptions& neu);

// Turns a registered server into what its connections connect with: the password from where
// it is kept, the TLS settings and, for a server behind an SSH server, the local end of a
// tunnel it opens and keeps until close().
class ServerAccess {
public:
    explicit ServerAccess(QString knownHostsFile);
    ~ServerAccess();
    ServerAccess(const ServerAccess&) = delete;
    ServerAccess& operator=(const ServerAccess&) = delete;

    // Closes any tunnel first. Throws AccessError.
    db::ConnectParams open(const QString& displayName, const TServerEntry& entry,
                           const AccessQuestions& questions);
    void close();
    // OpenSSH's format; created when a host key is first trusted.
    void setKnownHostsFile(const QString& path) { knownHosts_ = path; }
    bool tunnelled() const { return tunnel_ != nullptr; }
    // The tunnel's SSH session still stands; false without a tunnel.
    bool tunnelAlive() const;
    // Why the SSH server could not connect the tunnel to its target ("The SSH server could
    // not connect to db:3306: ..."); empty when it could, or without a tunnel.
    QString tunnelFailure() const;

private:
    QString password(const QString& displayName, const TServerEntry& entry,
                     const AccessQuestions& questions) const;
    QString openTunnel(const QString& displayName, const TServerEntry& entry,
                       const AccessQuestions& questions);

    QString knownHosts_;
    std::unique_ptr<net::SshTunnel> tunnel_;
};
