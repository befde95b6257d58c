#include "tree/ServerSession.h"

#include "dataset/TMySQLConnection.h"

ServerSession::ServerSession(TMySQLConnection& datasetConnection,
                             std::function<void(const QString&)> rememberServer)
    : dataset_(datasetConnection), rememberServer_(std::move(rememberServer)) {}

void ServerSession::SetWaiter(db::Waiter* waiter) {
    main_.setWaiter(waiter);
    dataset_.connection().setWaiter(waiter);
}

void ServerSession::Disconnect() {
    if (connectedServer_.isEmpty()) return;
    main_.close();
    dataset_.SetConnected(false);
    traits_ = {};
}

void ServerSession::Connect(const QString& displayName, const TServerEntry& entry) {
    db::ConnectParams params;
    params.host = entry.IP;
    params.user = entry.USERID;
    params.password = entry.PASSWD;
    params.netTimeout = netTimeout_;
    params.label = displayName;
    try {
        dataset_.SetConnected(false);  // never keep a handle of another server open
        main_.connect(params);
        dataset_.SetNetTimeout(netTimeout_);
        dataset_.SetLabel(displayName);
        dataset_.SetHost(entry.IP);
        dataset_.SetUser(entry.USERID);
        dataset_.SetPasswd(entry.PASSWD);
        dataset_.SetDB(QStringLiteral("mysql"));
        dataset_.Open();
    } catch (...) {
        main_.close();
        dataset_.SetConnected(false);
        throw;
    }
    traits_ = db::detectServerTraits(main_);
    connectedServer_ = displayName;
    if (rememberServer_) rememberServer_(displayName);
}

const db::ServerTraits& ServerSession::refreshTraits() {
    if (main_.isOpen()) traits_ = db::detectServerTraits(main_);
    return traits_;
}

QString lostConnectionMessage(const QString& reason) {
    return QStringLiteral(
               "The connection to the server was lost: %1\n"
               "Double-click the server in the tree to connect again.")
        .arg(reason);
}
