#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "admin/ObjectDefinitions.h"

namespace db {
class Connection;
class Result;
}

namespace admin {

// A parameter of a procedure or function, from information_schema.PARAMETERS.
struct RoutineParameter {
    QString name;
    QString mode;  // "IN", "OUT", "INOUT"; "IN" for a function's
    QString type;  // as declared: "int(11)", "varchar(20)"
    bool takesValue() const { return mode != QLatin1String("OUT"); }
    bool givesValue() const { return mode != QLatin1String("IN"); }
};

// A value given for an IN or INOUT parameter; nullopt is NULL.
using ArgumentValue = std::optional<QString>;

// One result set a run returned: its column names and rows, NULL as nullopt.
struct RunResultSet {
    QStringList columns;
    std::vector<std::vector<std::optional<QString>>> rows;
};

struct RoutineRunResult {
    std::vector<RunResultSet> sets;
    // OUT and INOUT parameters with the values the routine left in them.
    std::vector<std::pair<QString, std::optional<QString>>> outValues;
};

// Runs a procedure (CALL) or a function (SELECT db.f(...)) with the user's values. The
// values are quoted by the connection; OUT and INOUT parameters pass through session
// variables, read after the call. Throws db::DbError when the server refuses.
class RoutineRun {
public:
    explicit RoutineRun(db::Connection& connection) : connection_(connection) {}

    std::vector<RoutineParameter> parameters(const ObjectRef& routine);
    // The statements a run sends: the SETs of the INOUT values, the CALL or SELECT, and
    // the SELECT of the OUT and INOUT variables (empty when there are none). `values` holds
    // one value per parameter that takes one, in order.
    struct Statements {
        std::vector<std::string> before;
        std::string call;
        std::string readBack;
    };
    Statements statements(const ObjectRef& routine, const std::vector<RoutineParameter>& params,
                          const std::vector<ArgumentValue>& values) const;
    RoutineRunResult run(const ObjectRef& routine, const std::vector<RoutineParameter>& params,
                         const std::vector<ArgumentValue>& values);

private:
    RunResultSet readSet(db::Result& result);
    db::Connection& connection_;
};

}  // namespace admin
