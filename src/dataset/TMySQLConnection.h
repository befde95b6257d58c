#pragma once

#include <QObject>
#include <QStringList>

#include "db/Connection.h"

// Outcome of TMySQLConnection::ExecSQL.
struct ExecOutcome {
    bool sent = false;   // false: the statement text was empty, nothing was sent
    bool ok = false;     // the server accepted every statement
    bool returnedRows = false;
    std::uint64_t affectedRows = 0;
    unsigned errorCode = 0;
    QString errorText;
    bool cancelled = false;  // the user cancelled the statement: errorText says after how long
};

// The dataset connection: one server connection with the classic connection-component
// surface (Host, User, Passwd, Port, DB, SQL, Connected and the four connect events).
// Call from the user-interface thread only.
class TMySQLConnection : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Host READ Host WRITE SetHost)
    Q_PROPERTY(QString User READ User WRITE SetUser)
    Q_PROPERTY(QString Passwd READ Passwd WRITE SetPasswd)
    Q_PROPERTY(quint16 Port READ Port WRITE SetPort)
    Q_PROPERTY(QString DB READ DB WRITE SetDB)
    Q_PROPERTY(QStringList SQL READ SQL WRITE SetSQL)
    Q_PROPERTY(bool Connected READ Connected WRITE SetConnected)

public:
    explicit TMySQLConnection(QObject* owner = nullptr);
    ~TMySQLConnection() override;

    // Host may carry a port ("host:port", "[v6addr]:port"); Port itself is kept for
    // callers that read it but is not used to connect.
    const QString& Host() const { return host_; }
    void SetHost(const QString& value) { host_ = value; }
    const QString& User() const { return user_; }
    void SetUser(const QString& value) { user_ = value; }
    const QString& Passwd() const { return passwd_; }
    void SetPasswd(const QString& value) { passwd_ = value; }
    quint16 Port() const { return port_; }
    void SetPort(quint16 value) { port_ = value; }
    // Changing DB on an open connection selects nothing; use SelectDatabase.
    const QString& DB() const { return db_; }
    void SetDB(const QString& value) { db_ = value; }
    const QStringList& SQL() const { return sql_; }
    void SetSQL(const QStringList& lines) { sql_ = lines; }
    // Seconds a read or write may wait for the server (0: no limit), from the next connect.
    unsigned NetTimeout() const { return netTimeout_; }
    void SetNetTimeout(unsigned seconds) { netTimeout_ = seconds; }
    // The server's name in the busy feedback, from the next connect.
    void SetLabel(const QString& value) { label_ = value; }
    // How the next connect uses TLS.
    void SetTls(const db::TlsOptions& tls) { tls_ = tls; }

    bool Connected() const { return connected_; }
    // Opening a connection that the server refuses throws db::DbError with the client
    // library's message; the component then stays disconnected and AfterConnect is not
    // emitted. Setting the current value again does nothing.
    void SetConnected(bool value);
    void Open() { SetConnected(true); }

    // Selects the database (a refusal is not reported) and remembers its name in DB
    // either way.
    void SelectDatabase(const QString& name);

    // Sends the SQL lines (each followed by CR LF) unless their text is empty, then reads
    // and frees every result the statement produced so the connection stays usable.
    ExecOutcome ExecSQL();

    db::Connection& connection() { return connection_; }
    const db::Connection& connection() const { return connection_; }

Q_SIGNALS:
    void BeforeConnect();
    void AfterConnect();
    void BeforeDisconnect();
    void AfterDisconnect();

private:
    void DoConnect();
    void DoDisconnect();

    db::Connection connection_;
    QStringList sql_;
    QString host_;
    QString user_;
    QString passwd_;
    QString db_;
    QString label_;
    db::TlsOptions tls_;
    quint16 port_ = 3306;
    unsigned netTimeout_ = db::kDefaultNetTimeoutSeconds;
    bool connected_ = false;
};
