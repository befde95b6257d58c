#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// A throwaway sshd on a free 127.0.0.1 port (kept across restarts) with an ed25519 host key
// and one authorised client key, generated for it; logins as the current user, keys only.
// Needs root (for /run/sshd and logins); start() says why it could not start. Killed, with
// the sessions it forked, on destruction.
class SshServer {
public:
    SshServer();
    ~SshServer();
    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;

    // Generates the keys on first use, starts sshd and waits until it listens; false with
    // `error` set when it does not.
    bool start(QString* error);
    // SIGKILL to sshd and every session process it forked: connections end at once.
    void kill();
    bool running() const;
    // A new host key, then kill() and start() on the same port.
    bool replaceHostKey(QString* error);

    quint16 port() const { return port_; }
    QString user() const;
    QString clientKey() const { return path("client_key"); }  // a private key the server accepts
    QString strangerKey() const { return path("stranger_key"); }  // one it does not know
    // The host key's "SHA256:..." as `ssh-keygen -l -E sha256` prints it.
    QString hostKeyFingerprint() const;
    QString path(const char* name) const;

private:
    bool generateKey(const char* name, QString* error) const;
    bool launch(QString* error);

    QTemporaryDir dir_;
    std::unique_ptr<QProcess> process_;
    quint16 port_ = 0;
    bool prepared_ = false;
};
