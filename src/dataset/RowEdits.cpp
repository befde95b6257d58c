#include "dataset/RowEdits.h"

#include <algorithm>

#include "db/Connection.h"

RowStatements::RowStatements(TableShape shape, std::function<std::string(std::string_view)> quote)
    : shape_(std::move(shape)), quote_(std::move(quote)) {}

std::string RowStatements::value(int column, const CellBytes& bytes) const {
    return bytes ? shape_.literal(column, *bytes, quote_) : std::string("NULL");
}

// The columns hold `values` (the row as read): the key's columns by equality, so the key
// finds the row; the others null-safely. A FLOAT or DOUBLE is compared as the text the server
// sent, which is what was read, not a number that may not round-trip.
std::string RowStatements::rowIs(const RowBytes& values, const std::vector<int>& columns) const {
    std::string s;
    for (int column : columns) {
        if (!s.empty()) s += " AND ";
        const std::string name = db::quoteIdentifier(shape_.columns[std::size_t(column)].name);
        const CellBytes& v = values[std::size_t(column)];
        const bool inKey =
            std::find(shape_.key.begin(), shape_.key.end(), column) != shape_.key.end();
        if (!v) {
            s += name + " IS NULL";
        } else if (shape_.approximate(column)) {
            s += "CAST(" + name + " AS CHAR) = " + quote_(*v);
        } else {
            s += name + (inKey ? " = " : " <=> ") + shape_.literal(column, *v, quote_, true);
        }
    }
    return s;
}

std::string RowStatements::statement(const RowEdit& edit) const {
    const std::string table = db::qualifiedName(shape_.database, shape_.table);
    std::vector<int> written;
    for (const auto& [column, bytes] : edit.changed)
        if (!shape_.columns[std::size_t(column)].generated) written.push_back(column);
    switch (edit.kind) {
    case RowEdit::Kind::Delete:
        return "DELETE FROM " + table + " WHERE " + rowIs(edit.original, shape_.key);
    case RowEdit::Kind::Insert: {
        std::string names, values;
        for (int column : written) {
            if (!names.empty()) names += ", ", values += ", ";
            names += db::quoteIdentifier(shape_.columns[std::size_t(column)].name);
            values += value(column, edit.changed.at(column));
        }
        return "INSERT INTO " + table + " (" + names + ") VALUES (" + values + ")";
    }
    case RowEdit::Kind::Update: {
        if (written.empty()) return {};
        std::string set;
        std::vector<int> check = shape_.key;
        for (int column : written) {
            if (!set.empty()) set += ", ";
            set += db::quoteIdentifier(shape_.columns[std::size_t(column)].name) + " = " +
                   value(column, edit.changed.at(column));
            if (std::find(check.begin(), check.end(), column) == check.end()) check.push_back(column);
        }
        return "UPDATE " + table + " SET " + set + " WHERE " + rowIs(edit.original, check);
    }
    }
    return {};
}

RowBytes RowStatements::keyAfter(const RowEdit& edit, std::uint64_t insertId) const {
    RowBytes key(shape_.columns.size());
    for (int column : shape_.key) {
        const auto changed = edit.changed.find(column);
        if (changed != edit.changed.end() && changed->second) {
            key[std::size_t(column)] = changed->second;
        } else if (edit.kind == RowEdit::Kind::Insert) {
            if (shape_.columns[std::size_t(column)].autoIncrement && insertId != 0)
                key[std::size_t(column)] = std::to_string(insertId);
        } else {
            key[std::size_t(column)] = edit.original[std::size_t(column)];
        }
    }
    return key;
}

std::string RowStatements::readBack(const RowEdit& edit, std::uint64_t insertId) const {
    std::string names;
    for (const TableColumn& column : shape_.columns)
        names += (names.empty() ? "" : ", ") + db::quoteIdentifier(column.name);
    const RowBytes key = keyAfter(edit, insertId);
    std::string where;
    for (int column : shape_.key) {
        if (!where.empty()) where += " AND ";
        const CellBytes& v = key[std::size_t(column)];
        where += db::quoteIdentifier(shape_.columns[std::size_t(column)].name) +
                 (v ? " = " + shape_.literal(column, *v, quote_) : std::string(" IS NULL"));
    }
    return "SELECT " + names + " FROM " + db::qualifiedName(shape_.database, shape_.table) +
           " WHERE " + where;
}

namespace {

PostOutcome postHere(db::Connection& c, const RowStatements& statements,
                     const std::vector<RowEdit>& edits, ReadBack readBack) {
    PostOutcome out;
    std::vector<std::uint64_t> insertIds(edits.size(), 0);
    bool ranBefore = false;  // a statement of an earlier edit was applied
    const auto fail = [&](int edit, QString reason, bool elsewhere) {
        out.failedEdit = edit;
        out.reason = std::move(reason);
        out.changedElsewhere = elsewhere;
        c.query("ROLLBACK");
        out.partlyKept = ranBefore && !statements.shape().transactional();
        return out;
    };
    if (!c.query("START TRANSACTION")) return fail(0, c.errorText(), false);
    for (std::size_t i = 0; i < edits.size(); ++i) {
        const std::string s = statements.statement(edits[i]);
        if (s.empty()) continue;
        if (!c.query(s)) return fail(int(i), c.errorText(), false);
        const std::uint64_t reached = edits[i].kind == RowEdit::Kind::Update
                                          ? c.matchedRows().value_or(c.affectedRows())
                                          : c.affectedRows();
        if (reached != 1)
            return fail(int(i),
                        reached == 0
                            ? QStringLiteral("The row was changed or deleted elsewhere since it was read.")
                            : QStringLiteral("The change reached %1 rows, not one.").arg(reached),
                        reached == 0);
        insertIds[i] = c.insertId();
        ranBefore = true;
    }
    if (!c.query("COMMIT")) return fail(int(edits.size()) - 1, c.errorText(), false);
    out.applied = true;
    if (readBack == ReadBack::None) return out;
    // Defaults, triggers and AUTO_INCREMENT values show as the server now holds the rows.
    for (std::size_t i = 0; i < edits.size(); ++i) {
        RowBytes row;
        if (edits[i].kind != RowEdit::Kind::Delete && c.query(statements.readBack(edits[i], insertIds[i]))) {
            db::Result r = c.storeResult();
            if (r && r.next())
                for (unsigned col = 0; col < r.columnCount(); ++col) {
                    const db::Value v = r.value(col);
                    row.push_back(v.isNull() ? CellBytes() : CellBytes(std::string(v.view())));
                }
        }
        out.rowsAfter.push_back(std::move(row));
    }
    return out;
}

}  // namespace

PostOutcome postEdits(db::Connection& c, const RowStatements& statements,
                      const std::vector<RowEdit>& edits, ReadBack readBack) {
    // The whole post is one call for the window's waiter: handing it each statement would
    // cost the window more than the statements cost the server.
    PostOutcome out;
    c.runAside("Posting the edits", [&] { out = postHere(c, statements, edits, readBack); }, true);
    return out;
}
