#include "admin/ServerVariables.h"

#include <QRegularExpression>

#include "db/Connection.h"
#include "db/Result.h"

namespace admin {

namespace {

constexpr const char* kSelect =
    "SELECT VARIABLE_NAME, SESSION_VALUE, GLOBAL_VALUE, VARIABLE_SCOPE, VARIABLE_TYPE, "
    "READ_ONLY, ENUM_VALUE_LIST FROM information_schema.SYSTEM_VARIABLES";

VariableScope scopeOf(const QString& text) {
    if (text.compare(QLatin1String("GLOBAL"), Qt::CaseInsensitive) == 0)
        return VariableScope::GlobalOnly;
    if (text.startsWith(QLatin1String("SESSION ONLY"), Qt::CaseInsensitive))
        return VariableScope::SessionOnly;
    return VariableScope::Both;
}

// A value as the server gave it; NULL stays a null QString, so that "no value" is told apart
// from an empty one.
QString nullable(const db::Result& row, unsigned column) {
    const db::Value v = row.value(column);
    if (v.isNull()) return {};
    const QString text = v.text();
    return text.isNull() ? QStringLiteral("") : text;
}

// A plain decimal number as SET takes it without quotes; anything else (an expression, a
// size with a suffix) is sent quoted and the server says whether it takes it.
bool isNumberLiteral(const QString& text) {
    static const QRegularExpression number(
        QStringLiteral("^[+-]?(\\d+(\\.\\d*)?|\\.\\d+)([eE][+-]?\\d+)?$"));
    return number.match(text).hasMatch();
}

}  // namespace

bool ServerVariable::numeric() const {
    return type.contains(QLatin1String("INT"), Qt::CaseInsensitive) ||
           type.compare(QLatin1String("DOUBLE"), Qt::CaseInsensitive) == 0 ||
           type.compare(QLatin1String("DECIMAL"), Qt::CaseInsensitive) == 0;
}

std::vector<ServerVariable> ServerVariables::select(const std::string& where) {
    db::Result rows = c_.select(std::string(kSelect) + where + " ORDER BY VARIABLE_NAME");
    std::vector<ServerVariable> variables;
    variables.reserve(std::size_t(rows.rowCount()));
    while (rows.next()) {
        ServerVariable v;
        v.name = rows.text(0).toLower();
        v.scope = scopeOf(rows.text(3));
        if (v.hasSession()) v.sessionValue = nullable(rows, 1);
        if (v.hasGlobal()) v.globalValue = nullable(rows, 2);
        v.type = rows.text(4);
        v.readOnly = rows.text(5).compare(QLatin1String("YES"), Qt::CaseInsensitive) == 0;
        if (!rows.value(6).isNull()) v.allowedValues = rows.text(6).split(u',', Qt::SkipEmptyParts);
        variables.push_back(std::move(v));
    }
    return variables;
}

std::vector<ServerVariable> ServerVariables::readAll() { return select({}); }

std::optional<ServerVariable> ServerVariables::read(const QString& name) {
    std::vector<ServerVariable> found =
        select(" WHERE VARIABLE_NAME = " + c_.quoteValue(name.toUpper()));
    if (found.empty()) return std::nullopt;
    return std::move(found.front());
}

std::string ServerVariables::setStatement(const ServerVariable& variable, bool global,
                                          const QString& value) const {
    const QString trimmed = value.trimmed();
    std::string literal;
    if (trimmed.compare(QLatin1String("DEFAULT"), Qt::CaseInsensitive) == 0)
        literal = "DEFAULT";
    else if (variable.numeric() && isNumberLiteral(trimmed))
        literal = db::utf8(trimmed);
    else
        literal = c_.quoteValue(value);
    return std::string(global ? "SET GLOBAL " : "SET SESSION ") +
           db::quoteIdentifier(variable.name) + " = " + literal;
}

ServerVariable ServerVariables::set(const ServerVariable& variable, bool global,
                                    const QString& value) {
    c_.exec(setStatement(variable, global, value));
    if (std::optional<ServerVariable> now = read(variable.name)) return std::move(*now);
    return variable;
}

QString setQuestion(const ServerVariable& variable, bool global, const QString& value) {
    return QStringLiteral("Set %1 %2 from %3 to %4?")
        .arg(global ? QStringLiteral("global") : QStringLiteral("session"), variable.name,
             variable.value(global).isEmpty() ? QStringLiteral("''") : variable.value(global),
             value.isEmpty() ? QStringLiteral("''") : value);
}

QString scopeNote(const ServerVariable& variable) {
    if (variable.readOnly) return QStringLiteral("read-only");
    switch (variable.scope) {
        case VariableScope::GlobalOnly:
            return QStringLiteral("global only");
        case VariableScope::SessionOnly:
            return QStringLiteral("session only");
        case VariableScope::Both:
            break;
    }
    return {};
}

}  // namespace admin
