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
    if (connection.query("SELECT COUNT(*) FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = " +
                         schema + " AND TABLE_NAME = 'user' AND COLUMN_NAME = 'Password'")) {
        Result columns = connection.storeResult();
        traits.userHasPasswordColumn = columns.next() && columns.text(0) != QLatin1String("0");
    }
    traits.legacyUserTable = traits.legacyUserTable && traits.userHasPasswordColumn;
    return traits;
}

}  // namespace db
