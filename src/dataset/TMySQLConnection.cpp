#include "dataset/TMySQLConnection.h"

TMySQLConnection::TMySQLConnection(QObject* owner) : QObject(owner) {}

TMySQLConnection::~TMySQLConnection() {
    if (connected_) DoDisconnect();
}

void TMySQLConnection::SetConnected(bool value) {
    if (value == connected_) return;
    if (value) {
        Q_EMIT BeforeConnect();
        DoConnect();
        Q_EMIT AfterConnect();
    } else {
        Q_EMIT BeforeDisconnect();
        DoDisconnect();
        Q_EMIT AfterDisconnect();
    }
}

void TMySQLConnection::DoConnect() {
    db::ConnectParams params;
    params.host = host_;
    params.user = user_;
    params.password = passwd_;
    params.netTimeout = netTimeout_;
    params.label = label_;
    params.tls = tls_;
    connection_.connect(params);  // throws with the library's message; stays closed
    if (!db_.isEmpty()) SelectDatabase(db_);
    // Also without a database the handle is open: count it as connected so that
    // disconnecting and destruction close it.
    connected_ = true;
}

void TMySQLConnection::DoDisconnect() {
    connection_.close();
    connected_ = false;
}

void TMySQLConnection::SelectDatabase(const QString& name) {
    connection_.selectDb(name);
    db_ = name;
}

ExecOutcome TMySQLConnection::ExecSQL() {
    ExecOutcome outcome;
    QString text;
    for (const QString& line : sql_) text += line + QStringLiteral("\r\n");
    if (text.isEmpty()) return outcome;

    outcome.sent = true;
    const auto fail = [&] {
        outcome.ok = false;
        outcome.errorCode = connection_.errorNumber();
        outcome.errorText = connection_.errorText();
        outcome.cancelled = connection_.cancelledByUser();
    };
    if (!connection_.query(db::utf8(text))) {
        fail();
        return outcome;
    }
    outcome.ok = true;
    // Read every result: rows left unread would put the connection out of sync for the
    // next statement. A later statement of a multi-statement text may still fail.
    for (;;) {
        db::Result result = connection_.storeResult();
        if (result) {
            outcome.returnedRows = true;
        } else if (connection_.errorNumber() != 0) {
            fail();
            break;
        } else {
            outcome.affectedRows += connection_.affectedRows();
        }
        const int next = connection_.nextResult();
        if (next < 0) break;
        if (next > 0) {
            fail();
            break;
        }
    }
    return outcome;
}
