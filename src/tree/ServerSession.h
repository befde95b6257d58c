#pragma once

#include <QString>
#include <functional>

#include "db/Connection.h"
#include "db/ServerTraits.h"
#include "registry/ServerRegistry.h"

class TMySQLConnection;

// The one server the main window talks to: the main connection for the window's own
// statements and the dataset connection for the grids, opened together with the same
// credentials, and the name of the server last connected.
class ServerSession {
public:
    // `rememberServer` stores the name of each server connected to, so that the next start
    // reconnects to it.
    ServerSession(TMySQLConnection& datasetConnection,
                  std::function<void(const QString&)> rememberServer);

    db::Connection& MainConnection() { return main_; }
    TMySQLConnection& DatasetConnection() { return dataset_; }
    const db::ServerTraits& traits() const { return traits_; }
    // Detects the traits afresh: a grant table created or dropped while connected is seen.
    const db::ServerTraits& refreshTraits();

    // Seconds a read or write may wait for the server on both connections (0: no limit),
    // from the next connect on.
    void SetNetTimeout(unsigned seconds) { netTimeout_ = seconds; }
    // Runs the blocking calls of both connections (null: they block).
    void SetWaiter(db::Waiter* waiter);

    // Empty or "None": nothing was connected.
    const QString& ConnectedServer() const { return connectedServer_; }
    void SetConnectedServer(const QString& name) { connectedServer_ = name; }

    // Closes both connections when a server may be connected. ConnectedServer keeps its
    // value.
    void Disconnect();
    // Opens both connections for the entry, the dataset connection with "mysql" current.
    // Throws db::DbError with the client library's message when the server cannot be
    // reached or refuses the login; both connections are then closed and ConnectedServer
    // keeps its value. On success ConnectedServer becomes `displayName` and is remembered.
    void Connect(const QString& displayName, const TServerEntry& entry);

private:
    db::Connection main_;
    TMySQLConnection& dataset_;
    std::function<void(const QString&)> rememberServer_;
    db::ServerTraits traits_;
    QString connectedServer_;
    unsigned netTimeout_ = db::kDefaultNetTimeoutSeconds;
};

// The message for a connection lost under the window (the server was stopped, restarted or
// went away): `reason` is the client library's text.
QString lostConnectionMessage(const QString& reason);
