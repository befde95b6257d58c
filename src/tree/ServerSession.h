#pragma once

#include <QString>
#include <functional>

#include "db/Connection.h"
#include "db/ServerTraits.h"
#include "registry/ServerAccess.h"
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
    // Whether `connection` is one of the session's two.
    bool Owns(const db::Connection* connection) const;
    // Detects the traits afresh: a grant table created or dropped while connected is seen.
    const db::ServerTraits& refreshTraits();

    // Seconds a read or write may wait for the server on both connections (0: no limit),
    // from the next connect on.
    void SetNetTimeout(unsigned seconds) { netTimeout_ = seconds; }
    // Runs the blocking calls of both connections (null: they block).
    void SetWaiter(db::Waiter* waiter);
    // How connects ask for passwords that are not stored and about SSH host keys, and where
    // trusted host keys are kept.
    void SetQuestions(AccessQuestions questions) { questions_ = std::move(questions); }
    void SetKnownHostsFile(const QString& path) { access_.setKnownHostsFile(path); }
    // Called after every connect that succeeded and every disconnect.
    void SetConnectionChanged(std::function<void()> changed) { changed_ = std::move(changed); }
    // The TLS version and cipher of the main connection; empty when it is not encrypted.
    QString TlsDescription() const { return main_.tlsDescription(); }
    // How the connected server is reached, for the status bar: "name: TLSv1.3, <cipher>",
    // "name: through SSH", "name: local socket", "name: not encrypted"; empty when not
    // connected.
    QString ConnectionSummary() const;

    // Empty or "None": nothing was connected.
    const QString& ConnectedServer() const { return connectedServer_; }
    // The record of the server last connected, which tells two servers of one name apart.
    const TServerEntry& ConnectedEntry() const { return connectedEntry_; }
    void SetConnectedServer(const QString& name) { connectedServer_ = name; }

    // Closes both connections when a server may be connected. ConnectedServer keeps its
    // value.
    void Disconnect();
    // Opens both connections for the entry, the dataset connection with "mysql" current,
    // through an SSH tunnel when the entry names one. Throws AccessError when no password
    // is given or the tunnel cannot be opened, db::DbError with the client library's
    // message when the server cannot be reached or refuses the login; both connections are then closed and ConnectedServer
    // keeps its value. On success ConnectedServer becomes `displayName` and is remembered.
    void Connect(const QString& displayName, const TServerEntry& entry);

private:
    db::Connection main_;
    TMySQLConnection& dataset_;
    std::function<void(const QString&)> rememberServer_;
    ServerAccess access_{QString()};
    AccessQuestions questions_;
    std::function<void()> changed_;
    db::ServerTraits traits_;
    QString connectedServer_;
    TServerEntry connectedEntry_;
    unsigned netTimeout_ = db::kDefaultNetTimeoutSeconds;
};

// The message for a connection lost under the window (the server was stopped, restarted or
// went away): `reason` is the client library's text.
QString lostConnectionMessage(const QString& reason);
