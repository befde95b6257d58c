#pragma once

#include <QString>

namespace db {

class Connection;

// Differences between servers that change which statements work, detected once per
// connection from the server's catalogue rather than its version string.
struct ServerTraits {
    // The accounts table is a base table with a Password column (older MySQL and MariaDB);
    // on MariaDB 10.4 and later it is a view and accounts change through account statements.
    bool legacyUserTable = false;
    // The accounts table has a Password column; otherwise authentication_string holds the hash.
    bool userHasPasswordColumn = false;
    // The host privilege table exists (old servers only).
    bool hasHostTable = false;
    // The accounts table tells roles from accounts (MariaDB's is_role column).
    bool userHasIsRoleColumn = false;
};

// Reads the traits of the grant tables in `grantsDb` (normally "mysql"). A user without
// access to them sees none: every trait reads false.
ServerTraits detectServerTraits(Connection& connection,
                                const QString& grantsDb = QStringLiteral("mysql"));

}  // namespace db
