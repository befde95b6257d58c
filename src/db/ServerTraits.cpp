#include "db/ServerTraits.h"

#include "db/Connection.h"

namespace db {

ServerTraits detectServerTraits(Connection& connection, const QString& grantsDb) {
    ServerTraits traits;
    const std::string schema = connection.quoteValue(grantsDb);
    if (connection.query("SELECT TABLE_NAME, TABLE_TYPE FROM information_schema.TABLES "
                         "WHERE TABLE_SCHEMA = " + schema +
                         " AND TABLE_NAME IN ('user', 'host')")) {
        Result tables = connection.storeResult();
        while (tables.next()) {
            const QString name = tables.text(0).toLower();
            if (name == QLatin1String("host")) traits.hasHostTable = true;
            if (name == QLatin1String("user"))
                traits.legacyUserTable = tables.text(1) == QLatin1String("BASE TABLE");
        }
    }
    if (connection.query("SELECT COLUMN_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = " +
                         schema +
                         " AND TABLE_NAME = 'user' AND COLUMN_NAME IN ('Password', 'is_role')")) {
        Result columns = connection.storeResult();
        while (columns.next()) {
            const QString name = columns.text(0).toLower();
            if (name == QLatin1String("password")) traits.userHasPasswordColumn = true;
            if (name == QLatin1String("is_role")) traits.userHasIsRoleColumn = true;
        }
    }
    traits.legacyUserTable = traits.legacyUserTable && traits.userHasPasswordColumn;
    return traits;
}

}  // namespace db
