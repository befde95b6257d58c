#include "panels/PanelStatements.h"

#include "db/Connection.h"
#include "db/GrantColumns.h"
#include "db/Result.h"

namespace panels {

std::vector<int> columnPositions(const db::Result& result, std::span<const ShownColumn> wanted) {
    const auto& columns = result.columns();
    const auto find = [&columns](const char* name) {
        if (!name) return -1;
        const QLatin1String wantedName(name);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (QString::fromUtf8(columns[i].name).compare(wantedName, Qt::CaseInsensitive) == 0)
                return int(i);
        }
        return -1;
    };
    std::vector<int> positions;
    positions.reserve(wanted.size());
    for (const ShownColumn& c : wanted) {
        int position = find(c.column);
        if (position < 0) position = find(c.olderColumn);
        positions.push_back(position);
    }
    return positions;
}

QString likeLiteral(const QString& name) {
    QString out;
    out.reserve(name.size() + 4);
    for (const QChar c : name) {
        if (c == u'\\' || c == u'%' || c == u'_') out += u'\\';
        out += c;
    }
    return out;
}

std::string tableStatusStatement(const QString& database) {
    return "SHOW TABLE STATUS FROM " + db::quoteIdentifier(database);
}

std::string tableStatusStatement(const db::Connection& connection, const QString& database,
                                 const QString& table) {
    return tableStatusStatement(database) + " LIKE " + connection.quoteValue(likeLiteral(table));
}

std::string showColumnsStatement(const QString& database, const QString& table) {
    return "SHOW COLUMNS FROM " + db::qualifiedName(database, table);
}

std::string showIndexStatement(const QString& database, const QString& table) {
    return "SHOW INDEX FROM " + db::qualifiedName(database, table);
}

namespace {

template <std::size_t N>
std::string privilegeList(const std::array<const char*, N>& columns) {
    std::string out;
    for (const char* column : columns) out += ", " + db::quoteIdentifier(std::string_view(column));
    return out;
}

}  // namespace

std::string accountFillStatement(const db::Connection& connection, const QString& grantsDb,
                                 bool passwordColumn, const QString& user, const QString& host) {
    const std::string_view password = passwordColumn ? "Password" : "authentication_string";
    return "SELECT `User`, `Host`, " + db::quoteIdentifier(password) +
           privilegeList(db::kUserPrivilegeColumns) + " FROM " +
           db::qualifiedName(grantsDb, QStringLiteral("user")) +
           " WHERE `User` = " + connection.quoteValue(user) +
           " AND `Host` = " + connection.quoteValue(host);
}

std::string hostEntryFillStatement(const db::Connection& connection, const QString& grantsDb,
                                   const QString& host, const QString& database) {
    return "SELECT `Host`, `Db`" + privilegeList(db::kHostPrivilegeColumns) + " FROM " +
           db::qualifiedName(grantsDb, QStringLiteral("host")) +
           " WHERE `Host` = " + connection.quoteValue(host) +
           " AND `Db` = " + connection.quoteValue(database);
}

}  // namespace panels
