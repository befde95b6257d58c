#include "admin/AccountStatements.h"

#include "db/Connection.h"
#include "db/GrantColumns.h"
#include "tree/GrantListings.h"

namespace admin {

namespace {

std::string table(const QString& grantsDb, const char* name) {
    return db::qualifiedName(grantsDb, QLatin1String(name));
}

std::string column(const char* name) { return db::quoteIdentifier(std::string_view(name)); }

const char* flag(bool checked) { return checked ? "'Y'" : "'N'"; }

template <std::size_t N>
std::string columnList(const std::array<const char*, N>& columns) {
    std::string out;
    for (const char* c : columns) out += ", " + column(c);
    return out;
}

template <std::size_t N>
std::string flagList(const std::array<bool, N>& privileges) {
    std::string out;
    for (bool p : privileges) out += std::string(", ") + flag(p);
    return out;
}

template <std::size_t N>
std::string flagAssignments(const std::array<const char*, N>& columns,
                            const std::array<bool, N>& privileges) {
    std::string out;
    for (std::size_t i = 0; i < N; ++i)
        out += ", " + column(columns[i]) + " = " + flag(privileges[i]);
    return out;
}

std::string keyCondition(const db::Connection& c, const char* first, const QString& firstValue,
                         const char* second, const QString& secondValue) {
    return " WHERE " + column(first) + " = " + c.quoteValue(firstValue) + " AND " + column(second) +
           " = " + c.quoteValue(secondValue);
}

// The SQL names of the privileges whose box is `checked`, GRANT OPTION left out: it is
// granted by a clause of its own.
std::string privilegeNames(const UserPrivileges& privileges, bool checked, bool withGrantOption) {
    std::string out;
    for (std::size_t i = 0; i < privileges.size(); ++i) {
        if (privileges[i] != checked) continue;
        if (!withGrantOption && std::string_view(kUserPrivilegeNames[i]) == "GRANT OPTION")
            continue;
        if (!out.empty()) out += ", ";
        out += kUserPrivilegeNames[i];
    }
    return out;
}

constexpr std::size_t kGrantOption = 10;
static_assert(std::string_view(kUserPrivilegeNames[kGrantOption]) == "GRANT OPTION");
static_assert(std::string_view(db::kUserPrivilegeColumns[kGrantOption]) == "Grant_priv");

}  // namespace

std::string userProbeStatement(const db::Connection& c, const QString& grantsDb,
                               const TUserKey& key) {
    return grants::accountList(grantsDb, false) + keyCondition(c, "User", key.User, "Host", key.Host);
}

std::string userInsertStatement(const db::Connection& c, const QString& grantsDb,
                                const AccountRow& row) {
    return "INSERT INTO " + table(grantsDb, "user") + " (`User`, `Host`, `Password`" +
           columnList(db::kUserPrivilegeColumns) + ") VALUES (" + c.quoteValue(row.user) +
           ", " + c.quoteValue(row.host) + ", PASSWORD(" + c.quoteValue(row.password) + ")" +
           flagList(row.privileges) + ")";
}

std::string userUpdateStatement(const db::Connection& c, const QString& grantsDb,
                                const AccountRow& row, bool setPassword, const TUserKey& old) {
    std::string statement = "UPDATE " + table(grantsDb, "user") +
                            " SET `User` = " + c.quoteValue(row.user) +
                            ", `Host` = " + c.quoteValue(row.host);
    if (setPassword) statement += ", `Password` = PASSWORD(" + c.quoteValue(row.password) + ")";
    return statement + flagAssignments(db::kUserPrivilegeColumns, row.privileges) +
           keyCondition(c, "User", old.User, "Host", old.Host);
}

std::string userDeleteStatement(const db::Connection& c, const QString& grantsDb,
                                const TUserKey& key) {
    return "DELETE FROM " + table(grantsDb, "user") +
           keyCondition(c, "User", key.User, "Host", key.Host);
}

std::string hostProbeStatement(const db::Connection& c, const QString& grantsDb,
                               const THostKey& key) {
    return grants::hostEntryList(grantsDb) + keyCondition(c, "Host", key.Host, "Db", key.Db);
}

std::string hostInsertStatement(const db::Connection& c, const QString& grantsDb,
                                const HostEntryRow& row) {
    return "INSERT INTO " + table(grantsDb, "host") + " (`Host`, `Db`" +
           columnList(db::kHostPrivilegeColumns) + ") VALUES (" + c.quoteValue(row.host) +
           ", " + c.quoteValue(row.db) + flagList(row.privileges) + ")";
}

std::string hostUpdateStatement(const db::Connection& c, const QString& grantsDb,
                                const HostEntryRow& row, const THostKey& old) {
    return "UPDATE " + table(grantsDb, "host") + " SET `Host` = " + c.quoteValue(row.host) +
           ", `Db` = " + c.quoteValue(row.db) +
           flagAssignments(db::kHostPrivilegeColumns, row.privileges) +
           keyCondition(c, "Host", old.Host, "Db", old.Db);
}

std::string hostDeleteStatement(const db::Connection& c, const QString& grantsDb,
                                const THostKey& key) {
    return "DELETE FROM " + table(grantsDb, "host") +
           keyCondition(c, "Host", key.Host, "Db", key.Db);
}

std::string accountName(const db::Connection& c, const TUserKey& key) {
    if (key.Role) return c.quoteValue(key.User);
    return c.quoteValue(key.User) + "@" + c.quoteValue(key.Host);
}

std::string createUserStatement(const db::Connection& c, const AccountRow& row) {
    return "CREATE USER " + accountName(c, row.key()) + " IDENTIFIED BY " +
           c.quoteValue(row.password);
}

std::string renameUserStatement(const db::Connection& c, const TUserKey& from, const TUserKey& to) {
    return "RENAME USER " + accountName(c, from) + " TO " + accountName(c, to);
}

std::string setPasswordStatement(const db::Connection& c, const TUserKey& key,
                                 const QString& password) {
    return "SET PASSWORD FOR " + accountName(c, key) + " = PASSWORD(" + c.quoteValue(password) +
           ")";
}

std::string grantStatement(const db::Connection& c, const TUserKey& key,
                           const UserPrivileges& privileges) {
    const bool grantOption = privileges[kGrantOption];
    std::string names = privilegeNames(privileges, true, false);
    if (names.empty() && !grantOption) return {};
    // GRANT OPTION alone still needs a privilege list; USAGE grants nothing else.
    if (names.empty()) names = "USAGE";
    return "GRANT " + names + " ON *.* TO " + accountName(c, key) +
           (grantOption ? " WITH GRANT OPTION" : "");
}

std::string revokeStatement(const db::Connection& c, const TUserKey& key,
                            const UserPrivileges& privileges) {
    const std::string names = privilegeNames(privileges, false, true);
    if (names.empty()) return {};
    return "REVOKE " + names + " ON *.* FROM " + accountName(c, key);
}

std::string dropUserStatement(const db::Connection& c, const TUserKey& key) {
    return (key.Role ? "DROP ROLE " : "DROP USER ") + accountName(c, key);
}

}  // namespace admin
