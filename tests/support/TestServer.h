#pragma once

#include <QString>
#include <string>

#include "db/Connection.h"
#include "registry/ServerRegistry.h"

// The server started by scripts/test, from LORVEX_TEST_HOST/PORT/USER/PASSWORD.
// Without them, tests that need the server fail (they never skip silently).
namespace testserver {

bool available();
// Fails the current test (with a hint to run scripts/test) when the server is not set up.
db::ConnectParams params();
// The registry host field of the test server: "127.0.0.1:PORT".
QString hostField();
QString user();
QString password();
// The test server as a registered server entry (host field, user, password).
TServerEntry serverEntry();
// A fresh connection; throws db::DbError on failure.
db::Connection connect();
// A value of the first row a query answers ("" when none); throws db::DbError.
QString firstValue(db::Connection& connection, const std::string& query, unsigned column = 0);

}  // namespace testserver

// A uniquely named database, created on construction and dropped on destruction.
class ScratchDatabase {
public:
    explicit ScratchDatabase(const QString& hint = QStringLiteral("t"));
    ~ScratchDatabase();
    ScratchDatabase(const ScratchDatabase&) = delete;
    ScratchDatabase& operator=(const ScratchDatabase&) = delete;

    const QString& name() const { return name_; }
    // Runs statements with this database current; throws db::DbError on failure.
    void exec(const std::string& statement);
    // The first value of a query's first row, with this database current ("" when none).
    QString scalar(const std::string& query);
    db::Connection& connection() { return admin_; }

private:
    QString name_;
    db::Connection admin_;
};

// For tests that call a connection while another call holds it, on purpose: the refusal is
// what they check, not a fault that should stop a debug build.
struct BusyHandleCallsExpected {
    BusyHandleCallsExpected() { db::Connection::setAssertOnBusyHandle(false); }
    ~BusyHandleCallsExpected() { db::Connection::setAssertOnBusyHandle(true); }
    BusyHandleCallsExpected(const BusyHandleCallsExpected&) = delete;
    BusyHandleCallsExpected& operator=(const BusyHandleCallsExpected&) = delete;
};
