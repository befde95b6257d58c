#include "dump/RestoreTally.h"

#include <algorithm>
#include <set>

#include "db/Connection.h"
#include "dump/DumpFormat.h"
#include "files/SqlBytes.h"
#include "ui/Counted.h"

namespace dump {

namespace {

using sqlbytes::upperCase;

// Tables and views share one name space, and names are compared without letter case: a
// server with lower_case_table_names keeps them in lower case.
std::string objectKey(std::string_view kind, std::string_view name) {
    const std::string k = kind == "VIEW" ? std::string("TABLE") : std::string(kind);
    return k + '\0' + upperCase(name);
}

QString rowsText(std::uint64_t n) { return ui::counted(n, "row"); }

QString shown(std::string_view name) { return QString::fromUtf8(name.data(), qsizetype(name.size())); }

}  // namespace

void RestoreTally::inserted(std::string_view prefix, std::string_view table, std::size_t rows) {
    if (!continues(prefix)) {
        if (table.empty()) {
            last_ = nullptr;
            return;
        }
        last_ = &tables_[std::string(table)];
        lastPrefix_.assign(prefix);
    }
    if (rows == kUncountable) {
        last_->countable = false;
        return;
    }
    last_->rows += rows;
    rows_ += rows;
}

void RestoreTally::skipped(const std::string& table, std::size_t rows) {
    if (table.empty()) return;
    Table& t = tables_[table];
    if (rows == kUncountable)
        t.countable = false;
    else
        t.skipped += rows;
}

void RestoreTally::dumped(const std::string& table, std::uint64_t rows) { tables_[table].dumped = rows; }

void RestoreTally::created(const CreatedObject& object) {
    if (object.kind.empty()) return;
    const std::string key = objectKey(object.kind, object.name);
    // A later CREATE of the same name decides (a view made where a stand-in table stood).
    auto known = std::find_if(objects_.begin(), objects_.end(), [&](const CreatedObject& o) {
        return objectKey(o.kind, o.name) == key;
    });
    if (known == objects_.end())
        objects_.push_back(object);
    else
        *known = object;
}

void RestoreTally::dropped(const std::vector<QString>& tables) {
    for (const QString& name : tables) {
        const std::string key = objectKey("TABLE", name.toStdString());
        std::erase_if(objects_, [&](const CreatedObject& o) { return objectKey(o.kind, o.name) == key; });
    }
}

QString Verification::text(const QString& database) const {
    if (!checked) return QStringLiteral("The restored database %1 could not be checked: %2")
                             .arg(database, differences.join(u' '));
    if (differences.isEmpty())
        return QStringLiteral("Checked: %1 %2 the %3 the files carried, and %4 they create "
                              "%5 in %6.")
            .arg(ui::counted(tables, "table"), tables == 1 ? "holds" : "hold",
                 ui::counted(rows, "row"), ui::counted(objects, "object"),
                 objects == 1 ? "is" : "are", database);
    return QStringLiteral("Checked %1 and %2; %3 from the files:\n")
               .arg(ui::counted(tables, "table"), ui::counted(objects, "object"),
                    differences.size() == 1 ? QStringLiteral("1 differs")
                                            : QStringLiteral("%1 differ").arg(differences.size())) +
           differences.join(u'\n');
}

Verification verifyRestore(db::Connection& c, const QString& database, const RestoreTally& tally) {
    Verification v;
    const std::string schema = c.quoteValue(database);
    std::set<std::string> present;
    const std::pair<const char*, std::string> listings[] = {
        {nullptr, "SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_SCHEMA = " + schema},
        {nullptr, "SELECT ROUTINE_TYPE, ROUTINE_NAME FROM information_schema.ROUTINES WHERE "
                  "ROUTINE_SCHEMA = " + schema},
        {"TRIGGER", "SELECT TRIGGER_NAME FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = " + schema},
        {"EVENT", "SELECT EVENT_NAME FROM information_schema.EVENTS WHERE EVENT_SCHEMA = " + schema},
    };
    for (std::size_t i = 0; i < std::size(listings); ++i) {
        const auto& [kind, query] = listings[i];
        if (!c.query(query)) {
            v.differences << c.errorText();
            return v;
        }
        db::Result r = c.storeResult();
        while (r && r.next()) {
            if (i == 1)
                present.insert(objectKey(r.value(0).view(), r.value(1).view()));
            else
                present.insert(objectKey(kind ? kind : "TABLE", r.value(0).view()));
        }
    }
    v.checked = true;
    v.rows = tally.rows();
    std::map<std::string, RestoreTally::Table> tables = tally.tables();
    for (const CreatedObject& o : tally.objects()) {
        ++v.objects;
        const bool there = present.count(objectKey(o.kind, o.name)) > 0;
        if (!there)
            v.differences << QStringLiteral("%1 %2: in the files, not in the database")
                                 .arg(QString::fromStdString(o.kind).toLower(), shown(o.name));
        // A table made and never filled is to hold no rows.
        if (there && o.kind == "TABLE") tables.try_emplace(o.name);
    }
    for (const auto& [name, t] : tables) {
        if (!present.count(objectKey("TABLE", name))) {
            // Rows for a table that is not there (its CREATE failed) are all missing.
            if (t.rows + t.skipped > 0)
                v.differences << QStringLiteral("table %1: not in the database; the files carried %2")
                                     .arg(shown(name), rowsText(t.rows + t.skipped));
            continue;
        }
        if (!t.countable) continue;
        const std::string query = "SELECT COUNT(*) FROM " + db::quoteIdentifier(database) + "." +
                                  db::quoteIdentifier(name);
        if (!c.query(query)) continue;  // a view: nothing to count
        db::Result r = c.storeResult();
        if (!r || !r.next()) continue;
        ++v.tables;
        const std::uint64_t held = r.text(0).toULongLong();
        // Rows of skipped statements are in the file: only what is not there is missing.
        if (t.dumped && *t.dumped != t.rows + t.skipped)
            v.differences << QStringLiteral("table %1: the data file carries %2, the dump "
                                            "wrote %3 (the file is incomplete)")
                                 .arg(shown(name), rowsText(t.rows + t.skipped))
                                 .arg(*t.dumped);
        if (t.skipped)
            v.differences << QStringLiteral("table %1: holds %2; %3 of the files were in "
                                            "statements skipped as too large")
                                 .arg(shown(name), rowsText(held), rowsText(t.skipped));
        else if (held != t.rows)
            v.differences << QStringLiteral("table %1: holds %2, the files carried %3")
                                 .arg(shown(name), rowsText(held))
                                 .arg(t.rows);
        else if (tally.cut() && !t.dumped)
            v.differences << QStringLiteral("table %1: holds %2; the data file was cut short "
                                            "before the dump's count of its rows, so rows may "
                                            "be missing")
                                 .arg(shown(name), rowsText(held));
    }
    return v;
}

DatabasesVerified verifyDatabases(db::Connection& c, const QString& target,
                                  const std::map<QString, RestoreTally>& tallies) {
    DatabasesVerified done;
    QStringList paragraphs;
    for (const auto& [database, tally] : tallies) {
        // The target is always checked; another database only when the files went there.
        if (database != target && tally.tables().empty() && tally.objects().empty()) continue;
        const Verification v = verifyRestore(c, database, tally);
        done.differs = done.differs || !v.differences.isEmpty();
        paragraphs << v.text(database);
    }
    done.text = paragraphs.join(u'\n');
    return done;
}

QString databasesDone(const std::vector<QString>& databases, bool each, const QString& target) {
    if (databases.size() < 2) return {};
    return each ? QStringLiteral("Each of the file's %1 databases went into its own: %2.")
                      .arg(databases.size())
                      .arg(quotedNames(databases))
                : QStringLiteral("The file's %1 databases (%2) all went into `%3`.")
                      .arg(databases.size())
                      .arg(quotedNames(databases), target);
}

}  // namespace dump
