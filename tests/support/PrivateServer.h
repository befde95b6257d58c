#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "db/Connection.h"
#include "registry/ServerRegistry.h"

// A throwaway mariadbd of the test's own, for tests that kill, stop and restart a server:
// never the shared server of scripts/test. It listens on 127.0.0.1 on a free port (kept
// across restarts) with an account that has every privilege. The data directory is
// created and initialised once and removed, with the server stopped, on destruction.
class PrivateServer {
public:
    PrivateServer();
    ~PrivateServer();
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;

    // Initialises the data directory on first use and starts the server, waiting until it
    // answers; false with `error` set when it does not.
    bool start(QString* error);
    // SIGKILL: the server ends at once, without closing its connections in order.
    void kill();
    // SIGTERM: an orderly shutdown, waited for.
    void stop();
    // stop() then start() on the same port.
    bool restart(QString* error);
    bool running() const;
    qint64 pid() const;

    // Options the server starts with besides its own (TLS certificates), from the next start.
    void setExtraArguments(const QStringList& arguments) { extraArguments_ = arguments; }
    QString socketPath() const { return path("mysqld.sock"); }
    quint16 port() const { return port_; }
    QString hostField() const;  // "127.0.0.1:PORT"
    QString user() const;
    QString password() const;
    db::ConnectParams params() const;
    // A fresh connection; throws db::DbError on failure.
    db::Connection connect() const;
    TServerEntry entry() const;

private:
    bool initialise(QString* error);
    bool launch(QString* error);
    bool waitUntilAnswering(QString* error);
    QString path(const char* name) const;

    QTemporaryDir dir_;
    QString password_;
    std::unique_ptr<QProcess> process_;
    quint16 port_ = 0;
    QStringList extraArguments_;
    bool initialised_ = false;
};
