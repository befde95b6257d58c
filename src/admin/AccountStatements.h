#pragma once

#include <QString>
#include <array>
#include <string>

#include "tree/TreeNode.h"

namespace db {
class Connection;
}

// Statements that change accounts and host privilege entries. Servers with grant tables of
// the old layout are changed by writing the tables (then FLUSH PRIVILEGES); on servers
// whose mysql.user is a view the same change goes through account statements. Every name
// and password enters as a value through Connection::quoteValue, the grants database
// through db::quoteIdentifier.
namespace admin {

// Global privileges behind the user panel's boxes, in the order of
// db::kUserPrivilegeColumns.
inline constexpr std::array<const char*, 14> kUserPrivilegeNames{
    "SELECT",   "INSERT",  "UPDATE", "DELETE",       "CREATE",     "DROP",  "RELOAD",
    "SHUTDOWN", "PROCESS", "FILE",   "GRANT OPTION", "REFERENCES", "INDEX", "ALTER"};

using UserPrivileges = std::array<bool, 14>;
using HostPrivileges = std::array<bool, 10>;

// What the user panel holds: the account as it is to be stored.
struct AccountRow {
    QString user;
    QString host;
    QString password;  // clear text
    UserPrivileges privileges{};

    TUserKey key() const { return {user, host}; }
};

// What the host panel holds.
struct HostEntryRow {
    QString host;
    QString db;
    HostPrivileges privileges{};

    THostKey key() const { return {host, db}; }
};

// Grant tables of the old layout, in `grantsDb`. (The listings are grants::accountList and
// grants::hostEntryList.)
std::string userProbeStatement(const db::Connection& c, const QString& grantsDb,
                               const TUserKey& key);
std::string userInsertStatement(const db::Connection& c, const QString& grantsDb,
                                const AccountRow& row);
// `setPassword` false leaves the stored hash alone.
std::string userUpdateStatement(const db::Connection& c, const QString& grantsDb,
                                const AccountRow& row, bool setPassword, const TUserKey& old);
std::string userDeleteStatement(const db::Connection& c, const QString& grantsDb,
                                const TUserKey& key);

std::string hostProbeStatement(const db::Connection& c, const QString& grantsDb,
                               const THostKey& key);
std::string hostInsertStatement(const db::Connection& c, const QString& grantsDb,
                                const HostEntryRow& row);
std::string hostUpdateStatement(const db::Connection& c, const QString& grantsDb,
                                const HostEntryRow& row, const THostKey& old);
std::string hostDeleteStatement(const db::Connection& c, const QString& grantsDb,
                                const THostKey& key);

// Account statements. An account is named 'user'@'host', a role by its name alone.
std::string accountName(const db::Connection& c, const TUserKey& key);
std::string createUserStatement(const db::Connection& c, const AccountRow& row);
std::string renameUserStatement(const db::Connection& c, const TUserKey& from, const TUserKey& to);
std::string setPasswordStatement(const db::Connection& c, const TUserKey& key,
                                 const QString& password);
// Grants the checked privileges on *.*; empty when none is checked.
std::string grantStatement(const db::Connection& c, const TUserKey& key,
                           const UserPrivileges& privileges);
// Revokes the unchecked privileges on *.*; empty when all are checked.
std::string revokeStatement(const db::Connection& c, const TUserKey& key,
                            const UserPrivileges& privileges);
// DROP USER for an account, DROP ROLE for a role.
std::string dropUserStatement(const db::Connection& c, const TUserKey& key);

}  // namespace admin
