#pragma once

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

struct ssh_session_struct;

namespace net {

struct SshEndpoint {
    QString host;  // the SSH server
    unsigned port = 22;
    QString user;  // empty: the local user's name
    QString keyFile;  // private key file; empty: none
    QString password;  // tried when neither the key nor the agent authenticates; empty: none
    QString keyPassphrase;  // of an encrypted keyFile; empty: none
    friend bool operator==(const SshEndpoint&, const SshEndpoint&) = default;
};

// What failed and what to do, ready to show; never carries a password or passphrase.
class SshError : public std::runtime_error {
public:
    explicit SshError(const QString& text);
    QString text() const { return text_; }

private:
    QString text_;
};

enum class HostKeyState { Known, Unknown, Changed };

// How the last login of a tunnel went, for a caller that may ask for what was missing (a
// password, a key's passphrase) and try again.
struct LoginOutcome {
    bool refused = false;            // the server refused every way that was tried
    bool passwordTried = false;      // ...the password among them
    bool passwordsAccepted = false;  // the server takes passwords
    // The key file is there but could not be opened without a passphrase, or with the one
    // given.
    bool keyNeedsPassphrase = false;
};

// A local port forwarder through one SSH session: every connection accepted on
// 127.0.0.1:localPort() becomes a direct-tcpip channel to the target, as the SSH server
// sees it. Steps: connectToHost(), trustHostKey() when the key is Unknown and the user
// agrees, startForwarding().
// Until startForwarding() the session is used by one calling thread at a time (calls are
// serialised); afterwards only by the forwarding thread.
class SshTunnel {
public:
    SshTunnel(SshEndpoint endpoint, QString knownHostsFile);
    // Stops forwarding, closes every channel and local socket, disconnects.
    ~SshTunnel();
    SshTunnel(const SshTunnel&) = delete;
    SshTunnel& operator=(const SshTunnel&) = delete;

    // Blocking: TCP connect (10 s timeout) and key exchange. Throws SshError when the
    // server cannot be reached or the known-hosts file cannot be read.
    HostKeyState connectToHost();
    // Of the server's host key, "SHA256:..." as ssh-keygen -l prints it; empty before
    // connectToHost().
    QString fingerprint() const;
    QString keyType() const;  // "ssh-ed25519", ...
    // Adds the server's key to the known-hosts file (created 0600, its folder if missing).
    void trustHostKey();
    // Blocking: authenticates (key file, then the ssh-agent when SSH_AUTH_SOCK is set,
    // then the password), then forwards to targetHost:targetPort on a thread of its own.
    // Throws SshError when the login is refused, the host key is not trusted or changed.
    void startForwarding(const QString& targetHost, unsigned targetPort);
    quint16 localPort() const { return localPort_.load(); }  // 0 until forwarding
    bool alive() const { return alive_.load(); }  // the SSH session still stands
    // Why the last local connection could not be forwarded (the server refused the
    // channel); empty when none failed.
    QString lastForwardError() const;
    // Of the last startForwarding(); all false before.
    LoginOutcome lastLogin() const { return login_; }

    const SshEndpoint& endpoint() const { return endpoint_; }
    const QString& knownHostsFile() const { return knownHostsFile_; }

private:
    QString serverName() const;
    void authenticate();
    void forwardLoop();

    SshEndpoint endpoint_;
    QString knownHostsFile_;
    ssh_session_struct* session_ = nullptr;
    std::mutex sessionMutex_;  // serialises the callers' use of session_ before forwarding
    mutable std::mutex infoMutex_;
    QString fingerprint_;
    QString keyType_;
    QString forwardError_;
    LoginOutcome login_;
    HostKeyState state_ = HostKeyState::Unknown;
    bool connected_ = false;
    QString targetHost_;
    unsigned targetPort_ = 0;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    std::atomic<quint16> localPort_{0};
    std::atomic<bool> alive_{false};
    std::thread thread_;
};

// All steps in one, for callers that have no user interface to ask: `trustUnknown`
// decides about an unknown host key (it receives the fingerprint); a changed key is
// always refused. Throws SshError.
std::unique_ptr<SshTunnel> openTunnel(const SshEndpoint& endpoint, const QString& knownHostsFile,
                                      const QString& targetHost, unsigned targetPort,
                                      const std::function<bool(const QString& fingerprint)>& trustUnknown);

}  // namespace net
