#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

namespace db {
class Connection;
}

namespace admin {

// Where a variable may be set: the server's VARIABLE_SCOPE ("GLOBAL", "SESSION", "SESSION
// ONLY").
enum class VariableScope { GlobalOnly, Both, SessionOnly };

// One row of information_schema.SYSTEM_VARIABLES: a server variable with its values in the
// reading session and globally, and what the server says may be done with it.
struct ServerVariable {
    QString name;          // lower case, as SHOW VARIABLES and SET write it
    QString sessionValue;  // null when the variable has no session value
    QString globalValue;   // null when it has no global value
    VariableScope scope = VariableScope::Both;
    QString type;  // VARIABLE_TYPE: "BIGINT UNSIGNED", "DOUBLE", "ENUM", "SET", ...
    bool readOnly = false;
    QStringList allowedValues;  // ENUM_VALUE_LIST of enums, sets and booleans

    bool hasSession() const { return scope != VariableScope::GlobalOnly; }
    bool hasGlobal() const { return scope != VariableScope::SessionOnly; }
    // Whether SET may change it for the session (`global` false) or globally.
    bool settable(bool global) const { return !readOnly && (global ? hasGlobal() : hasSession()); }
    bool numeric() const;
    const QString& value(bool global) const { return global ? globalValue : sessionValue; }
};

// Reads and changes the server variables through one connection, whose session is the one
// "session" means. Every call that fails throws db::DbError with the server's reason.
class ServerVariables {
public:
    explicit ServerVariables(db::Connection& connection) : c_(connection) {}

    // Every variable, ordered by name.
    std::vector<ServerVariable> readAll();
    // One variable as the server has it now; none when there is no variable of that name.
    std::optional<ServerVariable> read(const QString& name);
    // The statement setting `variable` to `value` for the session or globally: a number
    // stays a number for numeric variables, any other text is quoted by the connection, and
    // DEFAULT (in any letter case) is the keyword that restores the server's default.
    std::string setStatement(const ServerVariable& variable, bool global,
                             const QString& value) const;
    // Sends that statement and reads the variable back: what the server really took (it
    // rounds numbers to their block size, upper-cases enums). Throws when the server
    // refuses; nothing has changed then.
    ServerVariable set(const ServerVariable& variable, bool global, const QString& value);

private:
    std::vector<ServerVariable> select(const std::string& where);

    db::Connection& c_;
};

// "Set global max_connections from 151 to 200?"
QString setQuestion(const ServerVariable& variable, bool global, const QString& value);
// "global only", "session only", "read-only" or empty: what the list says of a variable.
QString scopeNote(const ServerVariable& variable);

}  // namespace admin
