#include "admin/ObjectDefinitions.h"

#include <QRegularExpression>
#include <QStringList>

#include "db/Connection.h"
#include "ui/Prompts.h"

namespace admin {

namespace {

// Error numbers of SHOW CREATE for an object that is not there: the routine, the trigger,
// the event, the view (or a table that is not a view).
bool isMissingObject(unsigned code) {
    return code == 1305 || code == 1360 || code == 1539 || code == 1146 || code == 1347;
}

// The column of SHOW CREATE that holds the text: an event has its time zone before it,
// a view no SQL mode.
unsigned textColumn(ObjectKind kind) {
    switch (kind) {
        case ObjectKind::View: return 1;
        case ObjectKind::Event: return 3;
        default: return 2;
    }
}

struct Shown {
    const char* column;
    const char* caption;
};

// What each kind shows beside its text, read from information_schema (the first column is
// the name, matched exactly: the server's comparison may ignore letter case).
struct PropertyQuery {
    const char* table;
    const char* schemaColumn;
    const char* nameColumn;
    std::vector<Shown> shown;
};

const PropertyQuery& propertyQuery(ObjectKind kind) {
    static const PropertyQuery view{
        "VIEWS", "TABLE_SCHEMA", "TABLE_NAME",
        {{"DEFINER", "Definer"}, {"SECURITY_TYPE", "SQL security"},
         {"CHARACTER_SET_CLIENT", "Character set"}, {"COLLATION_CONNECTION", "Collation"},
         {"ALGORITHM", "Algorithm"}, {"CHECK_OPTION", "Check option"},
         {"IS_UPDATABLE", "Updatable"}}};
    static const PropertyQuery routine{
        "ROUTINES", "ROUTINE_SCHEMA", "ROUTINE_NAME",
        {{"DEFINER", "Definer"}, {"SECURITY_TYPE", "SQL security"},
         {"CHARACTER_SET_CLIENT", "Character set"}, {"COLLATION_CONNECTION", "Collation"},
         {"DATABASE_COLLATION", "Database collation"}, {"SQL_MODE", "SQL mode"},
         {"IS_DETERMINISTIC", "Deterministic"}, {"SQL_DATA_ACCESS", "Data access"},
         {"DTD_IDENTIFIER", "Returns"}, {"ROUTINE_COMMENT", "Comment"},
         {"CREATED", "Created"}, {"LAST_ALTERED", "Last altered"}}};
    static const PropertyQuery trigger{
        "TRIGGERS", "TRIGGER_SCHEMA", "TRIGGER_NAME",
        {{"DEFINER", "Definer"}, {"EVENT_OBJECT_TABLE", "Table"}, {"ACTION_TIMING", "Timing"},
         {"EVENT_MANIPULATION", "Event"}, {"ACTION_ORDER", "Order"},
         {"CHARACTER_SET_CLIENT", "Character set"}, {"COLLATION_CONNECTION", "Collation"},
         {"DATABASE_COLLATION", "Database collation"}, {"SQL_MODE", "SQL mode"},
         {"CREATED", "Created"}}};
    static const PropertyQuery event{
        "EVENTS", "EVENT_SCHEMA", "EVENT_NAME",
        {{"DEFINER", "Definer"}, {"STATUS", "Status"}, {"ON_COMPLETION", "On completion"},
         {"TIME_ZONE", "Time zone"}, {"CHARACTER_SET_CLIENT", "Character set"},
         {"COLLATION_CONNECTION", "Collation"}, {"DATABASE_COLLATION", "Database collation"},
         {"SQL_MODE", "SQL mode"}, {"EVENT_COMMENT", "Comment"},
         {"LAST_EXECUTED", "Last executed"},
         // Read for the schedule, which is shown as one line.
         {"EVENT_TYPE", nullptr}, {"EXECUTE_AT", nullptr}, {"INTERVAL_VALUE", nullptr},
         {"INTERVAL_FIELD", nullptr}, {"STARTS", nullptr}, {"ENDS", nullptr}}};
    switch (kind) {
        case ObjectKind::View: return view;
        case ObjectKind::Procedure:
        case ObjectKind::Function: return routine;
        case ObjectKind::Trigger: return trigger;
        case ObjectKind::Event: return event;
    }
    return view;
}

// "AT '2030-01-01 00:00:00'" or "EVERY 1 DAY STARTS '...' ENDS '...'", as CREATE EVENT says it.
QString scheduleOf(const db::Result& row, unsigned first) {
    const auto at = [&](unsigned i) { return row.value(first + i); };
    if (at(0).text() == QLatin1String("ONE TIME"))
        return QStringLiteral("AT '%1'").arg(at(1).text());
    QString out = QStringLiteral("EVERY %1 %2").arg(at(2).text(), at(3).text());
    if (!at(4).isNull()) out += QStringLiteral(" STARTS '%1'").arg(at(4).text());
    if (!at(5).isNull()) out += QStringLiteral(" ENDS '%1'").arg(at(5).text());
    return out;
}

const QRegularExpression& leadingCreate() {
    static const QRegularExpression re(QStringLiteral("^(\\s*)CREATE(\\s+)(?!OR\\s+REPLACE\\b)"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re;
}

bool startsWithCreate(const QString& text) {
    static const QRegularExpression re(QStringLiteral("^\\s*CREATE\\b"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re.match(text).hasMatch();
}

// The server's warnings after a refusal, one a line, leaving out the error itself (which
// SHOW WARNINGS lists too): "Check warnings" means nothing without them.
QString warningLines(db::Connection& c, const QString& error) {
    QStringList lines;
    if (auto warnings = c.warnings())
        for (const db::ServerWarning& w : *warnings)
            if (!error.contains(w.message))
                lines << QStringLiteral("%1 %2: %3").arg(w.level).arg(w.code).arg(w.message);
    return lines.join(u'\n');
}

// A trigger's text, replaced, goes to the end of its table's triggers for the same moment;
// one that precedes the trigger that followed it keeps its place. Only for a text that
// names no place of its own and fires at the moment the old one did.
QString keepingTriggerPlace(const QString& text, const QString& timing, const QString& event,
                            const QString& next) {
    static const QRegularExpression placed(QStringLiteral("\\b(FOLLOWS|PRECEDES)\\b"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression moment(
        QStringLiteral("\\b(BEFORE|AFTER)\\s+(INSERT|UPDATE|DELETE)\\s+ON\\b"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression eachRow(QStringLiteral("\\bFOR\\s+EACH\\s+ROW\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (next.isEmpty() || placed.match(text).hasMatch()) return text;
    const QRegularExpressionMatch when = moment.match(text);
    if (!when.hasMatch() || when.captured(1).compare(timing, Qt::CaseInsensitive) != 0 ||
        when.captured(2).compare(event, Qt::CaseInsensitive) != 0)
        return text;
    const QRegularExpressionMatch row = eachRow.match(text, when.capturedEnd(0));
    if (!row.hasMatch()) return text;
    QString out = text;
    out.insert(row.capturedEnd(0),
               QStringLiteral(" PRECEDES ") + QString::fromStdString(db::quoteIdentifier(next)));
    return out;
}

}  // namespace

const char* showWord(ObjectKind kind) {
    switch (kind) {
        case ObjectKind::View: return "VIEW";
        case ObjectKind::Procedure: return "PROCEDURE";
        case ObjectKind::Function: return "FUNCTION";
        case ObjectKind::Trigger: return "TRIGGER";
        case ObjectKind::Event: return "EVENT";
    }
    return "VIEW";
}

QString kindNoun(ObjectKind kind) { return QString::fromLatin1(showWord(kind)).toLower(); }

QString objectLabel(const ObjectRef& ref) {
    return QStringLiteral("the %1 %2").arg(kindNoun(ref.kind),
                                           ui::qualifiedLabel(ref.database, ref.name));
}

QString ObjectDefinition::property(const QString& caption) const {
    for (const auto& [name, value] : properties)
        if (name == caption) return value;
    return {};
}

std::optional<ObjectDefinition> ObjectDefinitions::find(const ObjectRef& ref) {
    const PropertyQuery& q = propertyQuery(ref.kind);
    std::string columns = q.nameColumn;
    for (const Shown& s : q.shown) columns += std::string(", ") + s.column;
    std::string statement = "SELECT " + columns + " FROM information_schema." + q.table +
                            " WHERE " + q.schemaColumn + " = " +
                            connection_.quoteValue(ref.database) + " AND " + q.nameColumn +
                            " = " + connection_.quoteValue(ref.name);
    if (ref.kind == ObjectKind::Procedure || ref.kind == ObjectKind::Function)
        statement += std::string(" AND ROUTINE_TYPE = '") + showWord(ref.kind) + "'";
    db::Result rows = connection_.select(statement);
    bool found = false;
    while (!found && rows.next()) found = rows.text(0) == ref.name;
    if (!found) return std::nullopt;

    ObjectDefinition out;
    for (unsigned i = 0; i < q.shown.size(); ++i) {
        const Shown& s = q.shown[i];
        if (std::string_view(s.column) == "SQL_MODE")
            out.sqlMode = std::string(rows.value(i + 1).view());
        if (s.caption) out.properties.emplace_back(QLatin1String(s.caption), rows.text(i + 1));
    }
    if (ref.kind == ObjectKind::Event)
        out.properties.insert(out.properties.begin() + 1,
                              {QStringLiteral("Schedule"),
                               scheduleOf(rows, unsigned(q.shown.size()) - 6 + 1)});

    const std::string show = std::string("SHOW CREATE ") + showWord(ref.kind) + " " +
                             db::qualifiedName(ref.database, ref.name);
    db::Result created = connection_.queryResult(show);
    if (!created && connection_.errorNumber() != 0) {
        // Dropped between the two statements.
        if (isMissingObject(connection_.errorNumber())) return std::nullopt;
        throw connection_.lastError(show);
    }
    if (!created || !created.next() || created.columnCount() <= textColumn(ref.kind))
        throw connection_.lastError(show);
    const db::Value text = created.value(textColumn(ref.kind));
    out.readable = !text.isNull();
    out.text = text.text();
    return out;
}

ObjectDefinition ObjectDefinitions::read(const ObjectRef& ref) {
    std::optional<ObjectDefinition> found = find(ref);
    if (!found)
        throw ObjectError(QStringLiteral("%1 is no longer on the server. Refresh its folder to "
                                         "see what there is now.")
                              .arg(objectLabel(ref).replace(0, 1, QStringLiteral("T"))));
    return std::move(*found);
}

bool ObjectDefinitions::replacesByDropping(ObjectKind kind) {
    return kind == ObjectKind::Procedure || kind == ObjectKind::Function;
}

QString ObjectDefinitions::withOrReplace(const QString& text) {
    QString out = text;
    const QRegularExpressionMatch m = leadingCreate().match(out);
    if (m.hasMatch())
        out.replace(0, m.capturedLength(0),
                    m.captured(1) + QStringLiteral("CREATE OR REPLACE") + m.captured(2));
    return out;
}

void ObjectDefinitions::selectDatabase(const QString& database) {
    if (!connection_.selectDb(database))
        throw connection_.lastError("USE " + db::quoteIdentifier(database));
}

ApplyOutcome ObjectDefinitions::apply(const ObjectRef& ref, const QString& text) {
    const QString statement = withOrReplace(text);
    if (!startsWithCreate(statement))
        throw ObjectError(QStringLiteral("The text for %1 is not a CREATE statement, so it was "
                                         "not sent. Write its whole definition, starting with "
                                         "CREATE.")
                              .arg(objectLabel(ref)));
    std::optional<ObjectDefinition> old = find(ref);
    if (old && !old->readable && replacesByDropping(ref.kind))
        throw ObjectError(QStringLiteral("%1 cannot be replaced safely: the server drops it "
                                         "before storing the new text, and this account may "
                                         "not read the old text to put it back if the new one "
                                         "is refused. Nothing was sent; replace it with an "
                                         "account that can read it.")
                              .arg(objectLabel(ref).replace(0, 1, QStringLiteral("T"))));
    QString placed = statement;
    if (ref.kind == ObjectKind::Trigger && old) {
        db::Result next = connection_.select(
            "SELECT TRIGGER_NAME FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = " +
            connection_.quoteValue(ref.database) + " AND EVENT_OBJECT_TABLE = " +
            connection_.quoteValue(old->property(QStringLiteral("Table"))) +
            " AND ACTION_TIMING = " + connection_.quoteValue(old->property(QStringLiteral("Timing"))) +
            " AND EVENT_MANIPULATION = " +
            connection_.quoteValue(old->property(QStringLiteral("Event"))) + " AND ACTION_ORDER = " +
            std::to_string(old->property(QStringLiteral("Order")).toInt() + 1));
        if (next.next())
            placed = keepingTriggerPlace(statement, old->property(QStringLiteral("Timing")),
                                         old->property(QStringLiteral("Event")), next.text(0));
    }
    selectDatabase(ref.database);
    return send(db::utf8(placed), &ref, old);
}

ApplyOutcome ObjectDefinitions::create(const QString& database, const QString& text) {
    if (!startsWithCreate(text))
        throw ObjectError(QStringLiteral("The new object's text is not a CREATE statement, so it "
                                         "was not sent. Write its whole definition, starting "
                                         "with CREATE."));
    selectDatabase(database);
    return send(db::utf8(text), nullptr, std::nullopt);
}

ApplyOutcome ObjectDefinitions::send(const std::string& statement, const ObjectRef* replaced,
                                     const std::optional<ObjectDefinition>& old) {
    if (connection_.query(statement)) {
        connection_.discardResults();
        ApplyOutcome out;
        if (connection_.warningCount() == 0) return out;
        if (auto warnings = connection_.warnings()) {
            QStringList lines;
            bool droppedAtOnce = false;
            for (const db::ServerWarning& w : *warnings) {
                droppedAtOnce = droppedAtOnce || w.code == 1588;
                lines << QStringLiteral("%1 %2: %3").arg(w.level).arg(w.code).arg(w.message);
            }
            out.note = droppedAtOnce
                           ? QStringLiteral("The server took the event and dropped it at once: "
                                            "its time has passed and it is not preserved on "
                                            "completion. Give it a time to come, or ON "
                                            "COMPLETION PRESERVE.\n\n")
                           : QStringLiteral("The server took the definition, with warnings:\n");
            out.note += lines.join(u'\n');
        }
        return out;
    }
    const db::DbError error = connection_.lastError(statement);
    if (error.connectionLost()) throw error;
    const QString reason = QString::fromUtf8(error.what());
    const QString warnings = warningLines(connection_, reason);
    QString message = replaced ? QStringLiteral("The server refused the new definition of %1: %2")
                                     .arg(objectLabel(*replaced), reason)
                               : QStringLiteral("The server refused the new object: %1").arg(reason);
    if (!warnings.isEmpty()) message += u'\n' + warnings;
    if (replaced && old && old->readable) {
        if (find(*replaced)) {
            message += QStringLiteral("\n\nThe old definition is unchanged.");
        } else if (const QString failed = recreate(*old); failed.isEmpty()) {
            message += QStringLiteral("\n\nThe server had dropped the old one first; it was "
                                      "created again as it was.");
        } else {
            message += QStringLiteral("\n\nThe server had dropped the old one first, and creating "
                                      "it again failed too: %1\nIts old text was:\n%2")
                           .arg(failed, old->text);
        }
    } else if (replaced && old) {
        message += QStringLiteral("\n\nThe old definition is unchanged.");
    }
    throw ObjectError(message);
}

QString ObjectDefinitions::recreate(const ObjectDefinition& old) {
    const std::string text = db::utf8(old.text);
    if (old.sqlMode.empty()) return connection_.query(text) ? QString() : connection_.errorText();
    // The body is read again in the mode it was written in, and the session gets its own
    // mode back afterwards whatever happened.
    db::Result saved = connection_.select("SELECT @@SESSION.sql_mode");
    const std::string mode = saved.next() ? std::string(saved.value(0).view()) : std::string();
    if (!connection_.query("SET SESSION sql_mode = " + connection_.quoteValue(old.sqlMode)))
        return connection_.errorText();
    const QString reason = connection_.query(text) ? QString() : connection_.errorText();
    connection_.query("SET SESSION sql_mode = " + connection_.quoteValue(mode));
    return reason;
}

void ObjectDefinitions::drop(const ObjectRef& ref) {
    connection_.exec(std::string("DROP ") + showWord(ref.kind) + " " +
                     db::qualifiedName(ref.database, ref.name));
}

QString ObjectDefinitions::firstTable(const QString& database) {
    db::Result rows = connection_.select(
        "SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_SCHEMA = " +
        connection_.quoteValue(database) +
        " AND TABLE_TYPE = 'BASE TABLE' ORDER BY TABLE_NAME LIMIT 1");
    return rows.next() ? rows.text(0) : QString();
}

QString ObjectDefinitions::templateFor(ObjectKind kind, const QString& table) {
    switch (kind) {
        case ObjectKind::View:
            return QStringLiteral("CREATE VIEW `new_view` AS\nSELECT 1 AS `one`");
        case ObjectKind::Procedure:
            return QStringLiteral("CREATE PROCEDURE `new_procedure`(IN p_value INT)\nBEGIN\n"
                                  "  SELECT p_value;\nEND");
        case ObjectKind::Function:
            return QStringLiteral("CREATE FUNCTION `new_function`(p_value INT) RETURNS INT\n"
                                  "DETERMINISTIC\nRETURN p_value * 2");
        case ObjectKind::Trigger:
            return QStringLiteral("CREATE TRIGGER `new_trigger` BEFORE INSERT ON %1\n"
                                  "FOR EACH ROW\nSET @last_insert = NOW()")
                .arg(QString::fromStdString(
                    db::quoteIdentifier(table.isEmpty() ? QStringLiteral("table_name") : table)));
        case ObjectKind::Event:
            // Disabled until the user enables it: a template must not start running work.
            return QStringLiteral("CREATE EVENT `new_event`\nON SCHEDULE EVERY 1 DAY\nDISABLE\n"
                                  "DO SELECT 1");
    }
    return {};
}

}  // namespace admin
