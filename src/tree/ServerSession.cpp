#include "tree/ServerSession.h"

#include "dataset/TMySQLConnection.h"

ServerSession::ServerSession(TMySQLConnection& datasetConnection,
                             std::function<void(const QString&)> rememberServer)
    : dataset_(datasetConnection), rememberServer_(std::move(rememberServer)) {}

bool ServerSession::Owns(const db::Connection* connection) const {
    return connection == &main_ || connection == &dataset_.connection();
}

void ServerSession::SetWaiter(db::Waiter* waiter) {
    main_.setWaiter(waiter);
    dataset_.connection().setWaiter(waiter);
}

void ServerSession::Disconnect() {
    if (connectedServer_.isEmpty()) return;
    main_.close();
    dataset_.SetConnected(false);
    access_.close();
    traits_ = {};
    if (changed_) changed_();
}

void ServerSession::Connect(const QString& displayName, const TServerEntry& entry) {
    AccessQuestions questions = questions_;
    if (!questions.aside && main_.waiter())
        questions.aside = [this](const char* what, const std::function<void()>& work) {
            main_.runAside(what, work);
        };
    try {
        dataset_.SetConnected(false);  // never keep a handle of another server open
        main_.close();
        db::ConnectParams params = access_.open(displayName, entry, questions);
        params.netTimeout = netTimeout_;
        try {
            main_.connect(params);
        } catch (const db::DbError& error) {
            // The client library saw only the tunnel's end close: the SSH server's reason
            // names the real target.
            if (const QString why = access_.tunnelFailure(); !why.isEmpty())
                throw AccessError(QStringLiteral("%1 could not be connected: %2")
                                      .arg(displayName, why)
                                      .toStdString());
            throw;
        }
        dataset_.SetNetTimeout(netTimeout_);
        dataset_.SetLabel(displayName);
        dataset_.SetHost(params.host);
        dataset_.SetUser(params.user);
        dataset_.SetPasswd(params.password);
        dataset_.SetTls(params.tls);
        dataset_.SetDB(QStringLiteral("mysql"));
        dataset_.Open();
    } catch (...) {
        main_.close();
        dataset_.SetConnected(false);
        access_.close();
        throw;
    }
    traits_ = db::detectServerTraits(main_);
    connectedServer_ = displayName;
    connectedEntry_ = entry;
    if (rememberServer_) rememberServer_(displayName);
    if (changed_) changed_();
}

const db::ServerTraits& ServerSession::refreshTraits() {
    if (main_.isOpen()) traits_ = db::detectServerTraits(main_);
    return traits_;
}

QString ServerSession::ConnectionSummary() const {
    if (!main_.isOpen()) return {};
    QStringList how;
    if (const QString tls = main_.tlsDescription(); !tls.isEmpty()) how << tls;
    // The SSH leg is encrypted: only a connection with neither is "not encrypted".
    if (access_.tunnelled())
        how << (access_.tunnelAlive() ? QStringLiteral("through SSH")
                                      : QStringLiteral("SSH tunnel closed"));
    else if (how.isEmpty())
        how << (main_.hostInfo().contains(QLatin1String("socket"), Qt::CaseInsensitive)
                    ? QStringLiteral("local socket")
                    : QStringLiteral("not encrypted"));
    return connectedServer_ + QStringLiteral(": ") + how.join(QStringLiteral(", "));
}

QString lostConnectionMessage(const QString& reason) {
    return QStringLiteral(
               "The connection to the server was lost: %1\n"
               "Double-click the server in the tree to connect again.")
        .arg(reason);
}
