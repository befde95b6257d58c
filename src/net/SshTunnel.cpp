#include "net/SshTunnel.h"

#include <chrono>

#include <arpa/inet.h>
#include <fcntl.h>
#include <libssh/libssh.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace net {

namespace {

constexpr long kConnectTimeoutSeconds = 10;
constexpr std::size_t kBufferSize = 64 * 1024;
// AES-GCM before libssh's first choice, chacha20-poly1305: with AES-NI it costs both ends
// (the bastion's sshd too) a fraction of the CPU, and the tunnel carries whole dumps.
constexpr const char* kCiphers =
    "aes128-gcm@openssh.com,aes256-gcm@openssh.com,chacha20-poly1305@openssh.com,"
    "aes128-ctr,aes192-ctr,aes256-ctr";

QString sshErrorText(ssh_session session) { return QString::fromUtf8(ssh_get_error(session)); }

// Bytes read from one side and not yet taken by the other.
struct Pending {
    std::unique_ptr<char[]> data{new char[kBufferSize]};
    std::size_t begin = 0;
    std::size_t end = 0;

    bool empty() const { return begin == end; }
    const char* head() const { return data.get() + begin; }
    std::size_t size() const { return end - begin; }
    void take(std::size_t n) {
        begin += n;
        if (begin == end) begin = end = 0;
    }
};

// One accepted local connection and its channel.
struct Forward {
    int fd = -1;
    ssh_channel channel = nullptr;
    Pending toLocal;
    Pending toRemote;
    short revents = 0;
    bool localEof = false;  // the local client sends nothing more
    bool eofSent = false;
    bool remoteEof = false;  // the target sends nothing more
    bool localShut = false;  // the local write side is shut after the target's EOF
    bool broken = false;

    ~Forward() {
        if (channel) {
            if (ssh_channel_is_open(channel)) ssh_channel_close(channel);
            ssh_channel_free(channel);
        }
        if (fd >= 0) ::close(fd);
    }

    bool finished() const {
        if (broken) return true;
        if (!toLocal.empty()) return false;
        return (remoteEof && localEof && toRemote.empty()) ||
               (remoteEof && ssh_channel_is_closed(channel));
    }

    // Moves what can move without waiting; true when any byte or state moved.
    bool pump() {
        bool moved = false;
        // Target to local client. The channel is read only when the last read is passed
        // on, so a slow client holds the target back through the channel window.
        for (;;) {
            if (!toLocal.empty()) {
                const ssize_t n = ::send(fd, toLocal.head(), toLocal.size(), MSG_NOSIGNAL);
                if (n > 0) {
                    toLocal.take(std::size_t(n));
                    moved = true;
                    continue;
                }
                if (n < 0 && errno == EINTR) continue;
                if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
                broken = true;
                return true;
            }
            if (remoteEof) break;
            // libssh reads the socket a few KiB at a time: gather what is there into one
            // send.
            while (toLocal.end < kBufferSize) {
                const int n = ssh_channel_read_nonblocking(channel, toLocal.data.get() + toLocal.end,
                                                           uint32_t(kBufferSize - toLocal.end), 0);
                if (n > 0) {
                    toLocal.end += std::size_t(n);
                    moved = true;
                } else if (n == SSH_EOF || (n == 0 && ssh_channel_is_eof(channel))) {
                    remoteEof = moved = true;
                    break;
                } else if (n < 0) {
                    broken = true;
                    return true;
                } else {
                    break;
                }
            }
            if (toLocal.empty()) break;
        }
        if (remoteEof && toLocal.empty() && !localShut) {
            ::shutdown(fd, SHUT_WR);
            localShut = moved = true;
        }
        // Local client to target. Never more than the remote window: a write that waited
        // for the window would stop every other connection, and the target might wait for
        // us to read first.
        for (;;) {
            if (!toRemote.empty()) {
                const uint32_t window = ssh_channel_window_size(channel);
                if (window == 0) break;
                const auto n = uint32_t(std::min<std::size_t>(toRemote.size(), window));
                if (ssh_channel_write(channel, toRemote.head(), n) == SSH_ERROR) {
                    broken = true;
                    return true;
                }
                toRemote.take(n);
                moved = true;
                continue;
            }
            if (localEof || !(revents & (POLLIN | POLLHUP | POLLERR))) break;
            const ssize_t n = ::recv(fd, toRemote.data.get(), kBufferSize, 0);
            if (n > 0) {
                toRemote.end = std::size_t(n);
                moved = true;
                continue;
            }
            if (n == 0) {
                localEof = moved = true;
                break;
            }
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                revents &= short(~POLLIN);
                break;
            }
            broken = true;
            return true;
        }
        if (localEof && toRemote.empty() && !eofSent) {
            if (ssh_channel_send_eof(channel) == SSH_ERROR) broken = true;
            eofSent = moved = true;
        }
        return moved;
    }

    short wanted() const {
        short events = 0;
        if (toRemote.empty() && !localEof) events |= POLLIN;
        if (!toLocal.empty()) events |= POLLOUT;
        return events;
    }
};

bool sessionUp(ssh_session session) {
    return ssh_is_connected(session) && !(ssh_get_status(session) & (SSH_CLOSED | SSH_CLOSED_ERROR));
}

// Encrypted key files are opened with the passphrase given or not at all: never a prompt
// on the terminal.
int noPassphrasePrompt(const char*, char*, size_t, int, int, void*) { return -1; }

}  // namespace

SshError::SshError(const QString& text) : std::runtime_error(text.toStdString()), text_(text) {}

SshTunnel::SshTunnel(SshEndpoint endpoint, QString knownHostsFile)
    : endpoint_(std::move(endpoint)), knownHostsFile_(std::move(knownHostsFile)) {}

SshTunnel::~SshTunnel() {
    if (thread_.joinable()) {
        const char stop = 1;
        while (::write(wakeFds_[1], &stop, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    for (int fd : wakeFds_)
        if (fd >= 0) ::close(fd);
    if (listenFd_ >= 0) ::close(listenFd_);
    if (session_) {
        if (connected_) ssh_disconnect(session_);
        ssh_free(session_);
    }
}

QString SshTunnel::serverName() const {
    return endpoint_.port == 22 ? endpoint_.host
                                : QStringLiteral("%1:%2").arg(endpoint_.host).arg(endpoint_.port);
}

HostKeyState SshTunnel::connectToHost() {
    std::lock_guard lock(sessionMutex_);
    if (thread_.joinable()) throw SshError(QStringLiteral("The SSH tunnel is already forwarding."));
    if (session_) {
        if (connected_) ssh_disconnect(session_);
        ssh_free(session_);
        connected_ = false;
    }
    session_ = ssh_new();
    if (!session_) throw SshError(QStringLiteral("Cannot start an SSH session: out of memory."));

    const QByteArray host = endpoint_.host.toUtf8();
    const QByteArray user = endpoint_.user.toUtf8();
    const QByteArray knownHosts = QFile::encodeName(knownHostsFile_);
    const unsigned port = endpoint_.port;
    const long timeout = kConnectTimeoutSeconds;
    const int noDelay = 1;
    const bool processConfig = false;  // ~/.ssh/config and /etc/ssh must not change the connection
    ssh_options_set(session_, SSH_OPTIONS_PROCESS_CONFIG, &processConfig);
    ssh_options_set(session_, SSH_OPTIONS_HOST, host.constData());
    ssh_options_set(session_, SSH_OPTIONS_PORT, &port);
    if (!user.isEmpty()) ssh_options_set(session_, SSH_OPTIONS_USER, user.constData());
    ssh_options_set(session_, SSH_OPTIONS_TIMEOUT, &timeout);
    ssh_options_set(session_, SSH_OPTIONS_NODELAY, &noDelay);
    ssh_options_set(session_, SSH_OPTIONS_CIPHERS_C_S, kCiphers);
    ssh_options_set(session_, SSH_OPTIONS_CIPHERS_S_C, kCiphers);
    // Only our file decides whether a key is known, not the system's.
    ssh_options_set(session_, SSH_OPTIONS_KNOWNHOSTS, knownHosts.constData());
    ssh_options_set(session_, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, knownHosts.constData());

    if (ssh_connect(session_) != SSH_OK) {
        const QString reason = sshErrorText(session_);
        ssh_free(session_);
        session_ = nullptr;
        throw SshError(QStringLiteral("Cannot connect to the SSH server %1: %2. Check the host name, "
                                      "the port and that the server runs.")
                           .arg(serverName(), reason));
    }
    connected_ = true;
    alive_ = true;

    ssh_key key = nullptr;
    if (ssh_get_server_publickey(session_, &key) != SSH_OK)
        throw SshError(QStringLiteral("The SSH server %1 sent no host key: %2")
                           .arg(serverName(), sshErrorText(session_)));
    QString fingerprint;
    unsigned char* hash = nullptr;
    size_t hashLength = 0;
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &hashLength) == SSH_OK) {
        char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, hashLength);
        fingerprint = QString::fromLatin1(text);
        ssh_string_free_char(text);
        ssh_clean_pubkey_hash(&hash);
    }
    const QString type = QString::fromLatin1(ssh_key_type_to_char(ssh_key_type(key)));
    ssh_key_free(key);
    {
        std::lock_guard info(infoMutex_);
        fingerprint_ = fingerprint;
        keyType_ = type;
    }

    switch (ssh_session_is_known_server(session_)) {
    case SSH_KNOWN_HOSTS_OK:
        state_ = HostKeyState::Known;
        break;
    case SSH_KNOWN_HOSTS_CHANGED:
    case SSH_KNOWN_HOSTS_OTHER:  // a key of another type: as suspicious as a changed one
        state_ = HostKeyState::Changed;
        break;
    case SSH_KNOWN_HOSTS_UNKNOWN:
    case SSH_KNOWN_HOSTS_NOT_FOUND:
        state_ = HostKeyState::Unknown;
        break;
    case SSH_KNOWN_HOSTS_ERROR:
        throw SshError(QStringLiteral("Cannot read the known-hosts file %1: %2")
                           .arg(QDir::toNativeSeparators(knownHostsFile_), sshErrorText(session_)));
    }
    return state_;
}

QString SshTunnel::fingerprint() const {
    std::lock_guard lock(infoMutex_);
    return fingerprint_;
}

QString SshTunnel::keyType() const {
    std::lock_guard lock(infoMutex_);
    return keyType_;
}

QString SshTunnel::lastForwardError() const {
    std::lock_guard lock(infoMutex_);
    return forwardError_;
}

void SshTunnel::trustHostKey() {
    std::lock_guard lock(sessionMutex_);
    if (!connected_ || thread_.joinable())
        throw SshError(QStringLiteral("Connect to the SSH server before trusting its key."));
    if (state_ == HostKeyState::Known) return;
    if (state_ == HostKeyState::Changed)
        throw SshError(
            QStringLiteral("The host key of the SSH server %1 has changed; remove its line from %2 "
                           "before trusting the new key.")
                .arg(serverName(), QDir::toNativeSeparators(knownHostsFile_)));
    const QFileInfo file(knownHostsFile_);
    if (!QDir().mkpath(file.absolutePath()))
        throw SshError(QStringLiteral("Cannot create the folder %1 for the known-hosts file.")
                           .arg(QDir::toNativeSeparators(file.absolutePath())));
    // libssh would create the file with the umask's mode; the list of trusted servers is
    // the user's own.
    const int fd = ::open(QFile::encodeName(knownHostsFile_).constData(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        throw SshError(QStringLiteral("Cannot write the known-hosts file %1: %2")
                           .arg(QDir::toNativeSeparators(knownHostsFile_),
                                QString::fromLocal8Bit(std::strerror(errno))));
    ::close(fd);
    if (ssh_session_update_known_hosts(session_) != SSH_OK)
        throw SshError(QStringLiteral("Cannot write the known-hosts file %1: %2")
                           .arg(QDir::toNativeSeparators(knownHostsFile_), sshErrorText(session_)));
    state_ = HostKeyState::Known;
}

void SshTunnel::authenticate() {
    int rc = ssh_userauth_none(session_, nullptr);
    if (rc == SSH_AUTH_SUCCESS) return;
    const auto lost = [this] {
        return SshError(QStringLiteral("The SSH server %1 ended the login: %2")
                            .arg(serverName(), sshErrorText(session_)));
    };
    if (rc == SSH_AUTH_ERROR) throw lost();
    const int methods = ssh_userauth_list(session_, nullptr);
    login_.passwordsAccepted = (methods & SSH_AUTH_METHOD_PASSWORD) != 0;
    QStringList tried;
    QString keyProblem;

    if (!endpoint_.keyFile.isEmpty() && (methods & SSH_AUTH_METHOD_PUBLICKEY)) {
        QByteArray passphrase = endpoint_.keyPassphrase.toUtf8();
        ssh_key key = nullptr;
        rc = ssh_pki_import_privkey_file(QFile::encodeName(endpoint_.keyFile).constData(),
                                         passphrase.isEmpty() ? nullptr : passphrase.constData(),
                                         noPassphrasePrompt, nullptr, &key);
        passphrase.fill('\0');
        if (rc != SSH_OK) {
            login_.keyNeedsPassphrase = QFileInfo(endpoint_.keyFile).isReadable();
            keyProblem = QStringLiteral(" The key file %1 could not be read%2.")
                             .arg(QDir::toNativeSeparators(endpoint_.keyFile),
                                  endpoint_.keyPassphrase.isEmpty()
                                      ? QStringLiteral(" (a missing file, or one that needs a passphrase)")
                                      : QStringLiteral(" (a missing file or a wrong passphrase)"));
        } else {
            tried << QStringLiteral("the key file");
            rc = ssh_userauth_publickey(session_, nullptr, key);
            ssh_key_free(key);
            if (rc == SSH_AUTH_SUCCESS) return;
            if (rc == SSH_AUTH_ERROR) throw lost();
        }
    }
    if (!qEnvironmentVariableIsEmpty("SSH_AUTH_SOCK") && (methods & SSH_AUTH_METHOD_PUBLICKEY)) {
        tried << QStringLiteral("the ssh-agent's keys");
        rc = ssh_userauth_agent(session_, nullptr);
        if (rc == SSH_AUTH_SUCCESS) return;
        if (rc == SSH_AUTH_ERROR && !sessionUp(session_)) throw lost();
    }
    if (!endpoint_.password.isEmpty() && (methods & SSH_AUTH_METHOD_PASSWORD)) {
        tried << QStringLiteral("the password");
        login_.passwordTried = true;
        QByteArray password = endpoint_.password.toUtf8();
        rc = ssh_userauth_password(session_, nullptr, password.constData());
        password.fill('\0');
        if (rc == SSH_AUTH_SUCCESS) return;
        if (rc == SSH_AUTH_ERROR) throw lost();
    }

    login_.refused = true;
    QStringList accepted;
    if (methods & SSH_AUTH_METHOD_PUBLICKEY) accepted << QStringLiteral("keys");
    if (methods & SSH_AUTH_METHOD_PASSWORD) accepted << QStringLiteral("passwords");
    if (methods & SSH_AUTH_METHOD_INTERACTIVE) accepted << QStringLiteral("keyboard-interactive");
    if (methods & SSH_AUTH_METHOD_GSSAPI_MIC) accepted << QStringLiteral("GSSAPI");
    const QString user = endpoint_.user.isEmpty() ? QStringLiteral("the local user's name") : endpoint_.user;
    throw SshError(QStringLiteral("The SSH server %1 refused the login as %2 (tried: %3; the server "
                                  "accepts: %4).%5 Check the user name, the key file and the password.")
                       .arg(serverName(), user,
                            tried.isEmpty() ? QStringLiteral("nothing the server accepts") : tried.join(QStringLiteral(", ")),
                            accepted.isEmpty() ? QStringLiteral("nothing") : accepted.join(QStringLiteral(", ")),
                            keyProblem));
}

void SshTunnel::startForwarding(const QString& targetHost, unsigned targetPort) {
    std::lock_guard lock(sessionMutex_);
    if (thread_.joinable()) throw SshError(QStringLiteral("The SSH tunnel is already forwarding."));
    if (!connected_) throw SshError(QStringLiteral("Connect to the SSH server before forwarding."));
    if (state_ == HostKeyState::Changed)
        throw SshError(QStringLiteral(
                           "The host key of the SSH server %1 has changed: it is now %2 %3, not the one "
                           "recorded in %4. Someone may be intercepting the connection. If the server's "
                           "key was replaced on purpose, remove its line from that file and connect again.")
                           .arg(serverName(), keyType(), fingerprint(),
                                QDir::toNativeSeparators(knownHostsFile_)));
    if (state_ == HostKeyState::Unknown)
        throw SshError(QStringLiteral("The host key of the SSH server %1 (%2 %3) is not trusted; no "
                                      "connection was made.")
                           .arg(serverName(), keyType(), fingerprint()));
    login_ = {};
    authenticate();

    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, SOMAXCONN) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe2(wakeFds_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw SshError(QStringLiteral("Cannot open a local port for the SSH tunnel: %1")
                           .arg(QString::fromLocal8Bit(std::strerror(errno))));
    targetHost_ = targetHost;
    targetPort_ = targetPort;
    alive_ = true;
    localPort_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { forwardLoop(); });
}

void SshTunnel::forwardLoop() {
    const QByteArray target = targetHost_.toUtf8();
    std::vector<std::unique_ptr<Forward>> forwards;
    std::vector<pollfd> fds;
    ssh_counter_struct received{};
    ssh_set_counters(session_, nullptr, &received);
    // Takes the session's socket from libssh's own poll context, so that incoming packets
    // can be processed when no channel is read (every client is slow to take its data).
    ssh_event event = ssh_event_new();
    ssh_event_add_session(event, session_);
    const int sessionFd = ssh_get_fd(session_);
    bool sessionReady = true;
    bool stopping = false;
    // Out of descriptors, a pending connection keeps the listening socket readable: it is
    // left alone for a while instead of being polled in a tight loop.
    using Clock = std::chrono::steady_clock;
    Clock::time_point listenPausedUntil{};

    while (!stopping) {
        const uint64_t packetsBefore = received.in_packets;
        // Errors of the session show in sessionUp() below.
        if (sessionReady) ssh_event_dopoll(event, 0);
        for (auto& forward : forwards) forward->pump();
        std::erase_if(forwards, [](const auto& forward) { return forward->finished(); });
        if (!sessionUp(session_)) break;

        // Packets processed during this round may hold data for a connection pumped before
        // them, and the socket will not wake poll() for it: look again at once.
        bool again = received.in_packets != packetsBefore;
        fds.clear();
        fds.push_back({wakeFds_[0], POLLIN, 0});
        const bool listening = Clock::now() >= listenPausedUntil;
        fds.push_back({listening ? listenFd_ : -1, POLLIN, 0});
        // libssh holds packets it could not send at once (window adjustments) until the
        // socket is reported writable.
        short sessionEvents = POLLIN;
        if (ssh_get_poll_flags(session_) & SSH_WRITE_PENDING) sessionEvents |= POLLOUT;
        fds.push_back({sessionFd, sessionEvents, 0});
        for (const auto& forward : forwards) {
            if (!forward->toRemote.empty() && ssh_channel_window_size(forward->channel) > 0) again = true;
            const short events = forward->wanted();
            // No interest, no entry: a hung-up socket would wake poll() at once forever.
            fds.push_back({events ? forward->fd : -1, events, 0});
        }
        const int n = ::poll(fds.data(), nfds_t(fds.size()), again ? 0 : listening ? -1 : 100);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents) stopping = true;
        sessionReady = fds[2].revents != 0;
        for (std::size_t i = 0; i < forwards.size(); ++i) forwards[i]->revents |= fds[3 + i].revents;

        if (fds[1].revents & POLLIN) {
            for (;;) {
                sockaddr_in peer{};
                socklen_t peerLength = sizeof peer;
                const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &peerLength,
                                         SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) {
                    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                        listenPausedUntil = Clock::now() + std::chrono::milliseconds(100);
                    break;
                }
                const int one = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                auto forward = std::make_unique<Forward>();
                forward->fd = fd;
                forward->channel = ssh_channel_new(session_);
                // Blocking until the server answers: one round trip, once per connection.
                if (!forward->channel ||
                    ssh_channel_open_forward(forward->channel, target.constData(), int(targetPort_),
                                             "127.0.0.1", ntohs(peer.sin_port)) != SSH_OK) {
                    // The client sees the connection close; the reason waits here.
                    std::lock_guard info(infoMutex_);
                    forwardError_ = QStringLiteral("The SSH server could not connect to %1:%2: %3")
                                        .arg(targetHost_)
                                        .arg(targetPort_)
                                        .arg(sshErrorText(session_));
                    continue;
                }
                forward->revents = POLLIN;
                forwards.push_back(std::move(forward));
            }
        }
    }

    // Stopped or the session died: every client sees its connection end.
    alive_ = false;
    forwards.clear();
    ::close(listenFd_);
    listenFd_ = -1;
    ssh_event_remove_session(event, session_);
    ssh_event_free(event);
    ssh_set_counters(session_, nullptr, nullptr);
}

std::unique_ptr<SshTunnel> openTunnel(const SshEndpoint& endpoint, const QString& knownHostsFile,
                                      const QString& targetHost, unsigned targetPort,
                                      const std::function<bool(const QString& fingerprint)>& trustUnknown) {
    auto tunnel = std::make_unique<SshTunnel>(endpoint, knownHostsFile);
    if (tunnel->connectToHost() == HostKeyState::Unknown) {
        if (!trustUnknown || !trustUnknown(tunnel->fingerprint()))
            throw SshError(QStringLiteral("The host key of the SSH server %1 (%2 %3) was not trusted; no "
                                          "connection was made.")
                               .arg(endpoint.port == 22 ? endpoint.host
                                                        : QStringLiteral("%1:%2").arg(endpoint.host).arg(endpoint.port),
                                    tunnel->keyType(), tunnel->fingerprint()));
        tunnel->trustHostKey();
    }
    tunnel->startForwarding(targetHost, targetPort);
    return tunnel;
}

}  // namespace net
