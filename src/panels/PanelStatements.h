#pragma once

#include <QString>
#include <array>
#include <span>
#include <string>
#include <vector>

namespace db {
class Connection;
class Result;
}  // namespace db

// Statements the detail panels send and the result columns they show. Every name enters a
// statement through db::quoteIdentifier, every value through Connection::quoteValue.
namespace panels {

// One value a list shows: its caption (column header or property name) and the name of
// the result column holding it. Servers have inserted columns into the SHOW statements'
// output over the years (Engine/Version before Row_format, Null/Index_type before
// Comment), so a fixed position would show the wrong value on one server or another; the
// position is looked up once per result and the rows are then read by position.
struct ShownColumn {
    const char* caption;
    const char* column;
    const char* olderColumn = nullptr;  // the name an older server gives the same column
};

inline constexpr ShownColumn kTableListColumns[] = {
    {"Name", "Name"},
    {"Type", "Engine", "Type"},
    {"Row_Format", "Row_format"},
    {"Create_Time", "Create_time"},
};

inline constexpr ShownColumn kFieldListColumns[] = {
    {"Field", "Field"}, {"Type", "Type"},       {"Null", "Null"},
    {"Key", "Key"},     {"Default", "Default"}, {"Extra", "Extra"},
};

inline constexpr ShownColumn kIndexListColumns[] = {
    {"Key_name", "Key_name"},
    {"Column_name", "Column_name"},
    {"Non_unique", "Non_unique"},
    {"Comment", "Comment"},
};

inline constexpr ShownColumn kProcessListColumns[] = {
    {"Id", "Id"},     {"User", "User"}, {"Host", "Host"},   {"DB", "db"},     {"Command", "Command"},
    {"Time", "Time"}, {"State", "State"}, {"Info", "Info"},
};

// The properties of one table, one list item each.
inline constexpr ShownColumn kTableProperties[] = {
    {"Name", "Name"},
    {"Type", "Engine", "Type"},
    {"Row_format", "Row_format"},
    {"Rows", "Rows"},
    {"Avg_row_length", "Avg_row_length"},
    {"Data_length", "Data_length"},
    {"Max_data_length", "Max_data_length"},
    {"Index_length", "Index_length"},
    {"Data_free", "Data_free"},
    {"Auto_increment", "Auto_increment"},
    {"Create_time", "Create_time"},
    {"Update_time", "Update_time"},
    {"Check_time", "Check_time"},
    {"Create_options", "Create_options"},
    {"Comment", "Comment"},
};

// Positions in `result` of the wanted columns (names compared case-insensitively); -1 for
// a column the result does not have, which then shows as empty text.
std::vector<int> columnPositions(const db::Result& result, std::span<const ShownColumn> wanted);

// `name` as a LIKE pattern that matches only itself: backslash, % and _ escaped.
QString likeLiteral(const QString& name);

std::string tableStatusStatement(const QString& database);
// The status row of one table: the LIKE narrows the listing on the server; callers still
// compare the names, since LIKE ignores letter case under most collations.
std::string tableStatusStatement(const db::Connection& connection, const QString& database,
                                 const QString& table);
std::string showColumnsStatement(const QString& database, const QString& table);
std::string showIndexStatement(const QString& database, const QString& table);

// The row of one account in `grantsDb`.user: user, host, password hash, then the
// privileges of db::kUserPrivilegeColumns. `passwordColumn` false reads authentication_string
// in place of the Password column.
std::string accountFillStatement(const db::Connection& connection, const QString& grantsDb,
                                 bool passwordColumn, const QString& user, const QString& host);
// The row of one host entry in `grantsDb`.host: host, db, then db::kHostPrivilegeColumns.
std::string hostEntryFillStatement(const db::Connection& connection, const QString& grantsDb,
                                   const QString& host, const QString& database);

}  // namespace panels
