#include "admin/RoutineRun.h"

#include "db/Connection.h"

namespace admin {

namespace {

// The session variable that carries parameter `index` in and out of a CALL: a name of
// this program's own, so no variable of the user's session is overwritten.
std::string variableOf(std::size_t index) { return "@lorvex_arg_" + std::to_string(index + 1); }

}  // namespace

std::vector<RoutineParameter> RoutineRun::parameters(const ObjectRef& routine) {
    const bool function = routine.kind == ObjectKind::Function;
    // Position 0 of a function is its return value, not a parameter.
    db::Result rows = connection_.select(
        "SELECT PARAMETER_NAME, PARAMETER_MODE, DTD_IDENTIFIER FROM information_schema.PARAMETERS "
        "WHERE SPECIFIC_SCHEMA = " + connection_.quoteValue(routine.database) +
        " AND SPECIFIC_NAME = " + connection_.quoteValue(routine.name) + " AND ROUTINE_TYPE = " +
        (function ? "'FUNCTION'" : "'PROCEDURE'") + " AND ORDINAL_POSITION > 0 ORDER BY ORDINAL_POSITION");
    std::vector<RoutineParameter> out;
    while (rows.next()) {
        RoutineParameter p{rows.text(0), rows.text(1), rows.text(2)};
        if (p.mode.isEmpty()) p.mode = QStringLiteral("IN");
        out.push_back(std::move(p));
    }
    return out;
}

RoutineRun::Statements RoutineRun::statements(const ObjectRef& routine,
                                              const std::vector<RoutineParameter>& params,
                                              const std::vector<ArgumentValue>& values) const {
    Statements out;
    std::string arguments, readBack;
    std::size_t next = 0;
    for (std::size_t i = 0; i < params.size(); ++i) {
        const RoutineParameter& p = params[i];
        std::string value = "NULL";
        if (p.takesValue()) {
            if (next < values.size() && values[next]) value = connection_.quoteValue(*values[next]);
            ++next;
        }
        if (!arguments.empty()) arguments += ", ";
        if (routine.kind == ObjectKind::Function || p.mode == QLatin1String("IN")) {
            arguments += value;
            continue;
        }
        const std::string variable = variableOf(i);
        // OUT starts NULL, as the server would start it: a value left from a run before
        // must not show as this run's.
        out.before.push_back("SET " + variable + " = " + value);
        arguments += variable;
        readBack += (readBack.empty() ? "SELECT " : ", ") + variable;
    }
    const std::string name = db::qualifiedName(routine.database, routine.name);
    out.call = routine.kind == ObjectKind::Function ? "SELECT " + name + "(" + arguments + ")"
                                                    : "CALL " + name + "(" + arguments + ")";
    out.readBack = readBack;
    return out;
}

RunResultSet RoutineRun::readSet(db::Result& result) {
    RunResultSet set;
    for (const db::Column& c : result.columns()) set.columns << QString::fromStdString(c.name);
    while (result.next()) {
        std::vector<std::optional<QString>> row;
        row.reserve(result.columnCount());
        for (unsigned c = 0; c < result.columnCount(); ++c) {
            const db::Value v = result.value(c);
            row.push_back(v.isNull() ? std::nullopt : std::optional<QString>(v.text()));
        }
        set.rows.push_back(std::move(row));
    }
    return set;
}

RoutineRunResult RoutineRun::run(const ObjectRef& routine,
                                 const std::vector<RoutineParameter>& params,
                                 const std::vector<ArgumentValue>& values) {
    const Statements s = statements(routine, params, values);
    for (const std::string& statement : s.before) connection_.exec(statement);
    RoutineRunResult out;
    if (!connection_.query(s.call)) throw connection_.lastError(s.call);
    // Every SELECT of a procedure comes as a result of its own; the last one is the CALL's
    // status, without rows.
    for (;;) {
        db::Result result = connection_.storeResult();
        if (result) out.sets.push_back(readSet(result));
        else if (connection_.errorNumber() != 0) throw connection_.lastError(s.call);
        const int more = connection_.nextResult();
        if (more < 0) break;
        if (more > 0) throw connection_.lastError(s.call);
    }
    if (!s.readBack.empty()) {
        db::Result values = connection_.select(s.readBack);
        std::size_t column = 0;
        const bool row = values.next();
        for (const RoutineParameter& p : params) {
            if (!p.givesValue() || routine.kind == ObjectKind::Function) continue;
            const db::Value v = row ? values.value(unsigned(column)) : db::Value{};
            out.outValues.emplace_back(p.name, v.isNull() ? std::nullopt
                                                          : std::optional<QString>(v.text()));
            ++column;
        }
    }
    return out;
}

}  // namespace admin
