#include "dump/CsvImport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cstring>
#include <set>

#include "db/Connection.h"
#include "db/Waiter.h"
#include "files/CsvReader.h"

namespace dump {

namespace {

std::string q(db::Connection& c, const QString& text) { return c.quoteValue(text); }


// Keys that mostly follow one another (row n of a statement is record n + k) mapped to
// their values, holding an entry only where the offset changes: memory grows with the
// jumps (multi-line records, refused lines), not with the file.
class OffsetMap {
public:
    void add(std::uint64_t key, std::uint64_t value) {
        if (!entries_.empty() && entries_.back().second + (key - entries_.back().first) == value)
            return;
        entries_.emplace_back(key, value);
    }
    std::uint64_t at(std::uint64_t key) const {
        auto it = std::upper_bound(entries_.begin(), entries_.end(), key,
                                   [](std::uint64_t k, const auto& e) { return k < e.first; });
        if (it == entries_.begin()) return 0;
        --it;
        return it->second + (key - it->first);
    }
    void clear() { entries_.clear(); }

private:
    std::vector<std::pair<std::uint64_t, std::uint64_t>> entries_;
};

// "at row 3" or "Row 3 was truncated": the row of the statement a warning is about (from
// 1); 0 when it names none.
std::uint64_t warningRow(QString& message) {
    static const QRegularExpression atRow(QStringLiteral(" at row (\\d+)$"));
    static const QRegularExpression rowFirst(QStringLiteral("^Row (\\d+) "));
    if (const auto m = atRow.match(message); m.hasMatch()) {
        message.chop(m.capturedLength());
        return m.captured(1).toULongLong();
    }
    if (const auto m = rowFirst.match(message); m.hasMatch()) {
        message.replace(0, m.capturedLength(), QStringLiteral("The line "));
        return m.captured(1).toULongLong();
    }
    return 0;
}

// A refusal of a one-row statement without its "at row 1".
QString withoutRow(QString message) {
    warningRow(message);
    return message;
}

// LOAD DATA's escapes for one value in the stream: the stream is always tab separated,
// LF ended and backslash escaped, whatever the file's format.
void putEscaped(std::string& out, const files::CsvField& f) {
    if (f.null) {
        out += "\\N";
        return;
    }
    for (const char c : f.text) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\\': out += "\\\\"; break;
            case '\0': out += "\\0"; break;
            default: out.push_back(c);
        }
    }
}

// One run through the file on the import's connection.
class Run {
public:
    Run(db::Connection& c, const CsvImportOptions& o, const CsvImport::Progress& progress)
        : c_(c), o_(o), progress_(progress) {}

    CsvImportResult go();

private:
    struct Pass {
        std::uint64_t streamed = 0;
        OffsetMap lines;    // row of the statement (from 0) -> line of the file
        OffsetMap records;  // row of the statement -> record of the file (from 0)
        std::uint64_t affected = 0;
        bool stopped = false;
        std::vector<std::pair<std::uint64_t, CsvProblem>> serverProblems;  // record, problem
    };

    void prepare();
    // Reads the file once and sends the records not in `skip` to the server.
    Pass pass(const std::set<std::uint64_t>& skip);
    void passLocal(Pass& p, files::CsvReader& reader, const std::set<std::uint64_t>& skip);
    void passInserts(Pass& p, files::CsvReader& reader, const std::set<std::uint64_t>& skip);
    // The next record to send, or false at the end; refuses a record of the wrong width.
    bool nextRecord(files::CsvReader& reader, const std::set<std::uint64_t>& skip,
                    std::uint64_t& record);
    bool stopWanted(const files::CsvReader& reader);
    // The statement that just failed was stopped by a cancel (KILL QUERY).
    bool cancelled() const {
        return (c_.waiter() && c_.waiter()->cancelRequested()) || c_.errorNumber() == 1317;
    }
    void readWarnings(Pass& p, std::uint64_t firstRow, const OffsetMap* lines,
                      const std::vector<std::uint64_t>* batchLines,
                      const std::vector<std::uint64_t>* batchRecords);
    // Fills in the rows (from 1) of the warnings whose message names none, where the server
    // keeps them in its diagnostics area; `wanted` marks the warnings to look up.
    void diagnosticRows(std::vector<std::uint64_t>& rows, const std::vector<bool>& wanted);
    void addProblem(std::uint64_t line, const QString& reason);
    void exec(const std::string& statement) { c_.exec(statement); }

    db::Connection& c_;
    const CsvImportOptions& o_;
    const CsvImport::Progress& progress_;
    CsvImportResult result_;
    std::vector<QString> columns_;
    std::vector<std::pair<std::size_t, std::size_t>> mapped_;  // file column, table column
    std::size_t width_ = 0;  // fields each record must have
    std::string insertHead_;
    std::size_t batchBytes_ = 1024 * 1024;
    std::uint64_t total_ = 0;
    std::uint64_t ownRefused_ = 0;
    std::set<std::uint64_t> refusedRecords_;  // this pass's records of the wrong width
    std::vector<std::pair<std::uint64_t, CsvProblem>> ownProblems_;
    bool firstPass_ = true;
    std::uint64_t records_ = 0;
    bool diagnosticRows_ = false;  // GET DIAGNOSTICS gives ROW_NUMBER
};

void Run::prepare() {
    columns_ = tableColumns(c_, o_.database, o_.table);
    const QString table = QString::fromStdString(db::qualifiedName(o_.database, o_.table));
    {
        db::Result r = c_.select(
            "SELECT e.TRANSACTIONS FROM information_schema.TABLES t JOIN "
            "information_schema.ENGINES e ON e.ENGINE = t.ENGINE WHERE t.TABLE_SCHEMA = " +
            q(c_, o_.database) + " AND t.TABLE_NAME = " + q(c_, o_.table));
        result_.transactional = !r.next() || r.text(0) == QLatin1String("YES");
    }
    result_.localInfile = false;
    if (o_.method != CsvImportOptions::Method::Inserts) {
        db::Result r = c_.select("SELECT @@local_infile");
        result_.localInfile = r.next() && r.text(0) == QLatin1String("1");
        if (!result_.localInfile && o_.method == CsvImportOptions::Method::LocalInfile)
            throw CsvImportError("The server does not allow LOAD DATA LOCAL INFILE "
                                 "(local_infile is OFF): import with INSERT statements instead.");
    }
    {
        db::Result r = c_.select("SELECT @@max_allowed_packet");
        if (r.next()) batchBytes_ = std::min<std::size_t>(batchBytes_, r.text(0).toULongLong() / 2);
    }
    // A duplicate key's warning names no row: MariaDB 10.7 and later keep the row of every
    // condition, which GET DIAGNOSTICS reads (with nothing to read it only warns).
    diagnosticRows_ = c_.query("GET DIAGNOSTICS CONDITION 1 @lorvex_row = ROW_NUMBER");
    // Strict, so that the INSERT statements refuse what LOAD DATA warns about; every warning
    // kept, so that every refused line can be named.
    exec("SET SESSION sql_mode = CONCAT(@@sql_mode, ',STRICT_ALL_TABLES'), "
         "max_error_count = 65535");

    QFile file(o_.path);
    if (!file.open(QIODevice::ReadOnly))
        throw CsvImportError(QStringLiteral("Cannot read %1: %2.")
                                 .arg(QDir::toNativeSeparators(o_.path), file.errorString())
                                 .toStdString());
    total_ = std::uint64_t(file.size());
    files::CsvReader reader(file, o_.format);
    std::vector<int> mapping = o_.mapping;
    if (mapping.empty()) {
        const bool byName = o_.format.header;
        std::size_t fileColumns = reader.header().size();
        if (!byName) fileColumns = reader.next() ? reader.fieldCount() : 0;
        mapping = mapColumns(reader.header(), fileColumns, columns_, byName);
        if (byName && std::all_of(mapping.begin(), mapping.end(), [](int m) { return m < 0; }))
            throw CsvImportError(
                QStringLiteral("None of the file's column names (%1) is a column of %2: map the "
                               "columns by position, or give the file a header line of the "
                               "table's column names.")
                    .arg(QStringList(reader.header().begin(), reader.header().end())
                             .join(QStringLiteral(", ")),
                         table)
                    .toStdString());
    }
    std::set<int> used;
    for (std::size_t i = 0; i < mapping.size(); ++i) {
        const int m = mapping[i];
        if (m < 0) continue;
        if (std::size_t(m) >= columns_.size())
            throw CsvImportError("A column of the file is mapped to a column the table does not "
                                 "have.");
        if (!used.insert(m).second)
            throw CsvImportError(QStringLiteral("The column %1 is filled from two columns of the "
                                                "file: map each table column at most once.")
                                     .arg(columns_[std::size_t(m)])
                                     .toStdString());
        mapped_.emplace_back(i, std::size_t(m));
    }
    if (mapped_.empty())
        throw CsvImportError("No column of the file is mapped to a column of the table.");
    width_ = o_.format.header ? reader.header().size() : 0;  // else: the first record's
    std::string list;
    for (const auto& [file, column] : mapped_) {
        if (!list.empty()) list += ',';
        list += db::quoteIdentifier(columns_[column]);
    }
    insertHead_ = "INSERT INTO " + db::qualifiedName(o_.database, o_.table) + " (" + list + ") VALUES ";
}

bool Run::stopWanted(const files::CsvReader& reader) {
    if (c_.waiter() && c_.waiter()->cancelRequested()) return true;
    return progress_ && !progress_({reader.bytesRead(), total_});
}

void Run::addProblem(std::uint64_t line, const QString& reason) {
    if (result_.problems.size() < CsvImport::kMaxProblems)
        result_.problems.push_back({line, reason});
    else
        ++result_.moreProblems;
}

bool Run::nextRecord(files::CsvReader& reader, const std::set<std::uint64_t>& skip,
                     std::uint64_t& record) {
    while (reader.next()) {
        record = records_++;
        if (width_ == 0) width_ = reader.fieldCount();
        if (reader.fieldCount() != width_) {
            if (firstPass_) {
                ++ownRefused_;
                ownProblems_.push_back(
                    {record,
                     {reader.line(),
                      QStringLiteral("The line has %1, the file's %2 %3.")
                          .arg(reader.fieldCount() == 1
                                   ? QStringLiteral("1 field")
                                   : QStringLiteral("%1 fields").arg(reader.fieldCount()),
                               o_.format.header ? QStringLiteral("header") : QStringLiteral("first line"),
                               QStringLiteral("%1").arg(width_))}});
            }
            continue;
        }
        if (skip.count(record)) continue;
        return true;
    }
    return false;
}

void Run::readWarnings(Pass& p, std::uint64_t firstRow, const OffsetMap* lines,
                       const std::vector<std::uint64_t>* batchLines,
                       const std::vector<std::uint64_t>* batchRecords) {
    if (c_.warningCount() == 0) return;
    const auto warnings = c_.warnings();
    if (!warnings) return;
    const std::size_t n = warnings->size();
    std::vector<QString> reasons(n);
    std::vector<std::uint64_t> rows(n, 0);
    std::vector<bool> refusals(n, false);
    for (std::size_t i = 0; i < n; ++i) {
        const db::ServerWarning& w = (*warnings)[i];
        if (w.level == QLatin1String("Note")) continue;
        refusals[i] = true;
        reasons[i] = w.message;
        rows[i] = warningRow(reasons[i]);
    }
    diagnosticRows(rows, refusals);
    for (std::size_t i = 0; i < n; ++i) {
        if (!refusals[i]) continue;
        const std::uint64_t row = rows[i];
        std::uint64_t line = 0, record = UINT64_MAX;
        if (row > 0) {
            const std::uint64_t index = firstRow + row - 1;
            if (lines) {
                line = lines->at(index);
                record = p.records.at(index);
            } else if (batchLines && row <= batchLines->size()) {
                line = (*batchLines)[row - 1];
                record = (*batchRecords)[row - 1];
            }
        }
        p.serverProblems.push_back({record, {line, reasons[i]}});
    }
}

void Run::diagnosticRows(std::vector<std::uint64_t>& rows, const std::vector<bool>& wanted) {
    if (!diagnosticRows_) return;
    // One variable per condition, read by one SELECT at the end: any statement but SHOW
    // WARNINGS and GET DIAGNOSTICS clears the conditions. Beyond the problems listed, a
    // line would not be shown anyway.
    std::vector<std::size_t> asked;
    std::string select;
    for (std::size_t i = 0; i < rows.size() && asked.size() < CsvImport::kMaxProblems; ++i) {
        if (!wanted[i] || rows[i] != 0) continue;
        const std::string variable = "@lorvex_row_" + std::to_string(asked.size());
        exec("GET DIAGNOSTICS CONDITION " + std::to_string(i + 1) + ' ' + variable +
             " = ROW_NUMBER");
        select += (select.empty() ? "SELECT " : ", ") + variable;
        asked.push_back(i);
    }
    if (asked.empty()) return;
    db::Result r = c_.select(select);
    if (!r.next()) return;
    for (std::size_t k = 0; k < asked.size(); ++k) rows[asked[k]] = r.text(unsigned(k)).toULongLong();
}

void Run::passLocal(Pass& p, files::CsvReader& reader, const std::set<std::uint64_t>& skip) {
    std::string columns;
    for (const auto& [file, column] : mapped_) {
        if (!columns.empty()) columns += ',';
        columns += db::quoteIdentifier(columns_[column]);
    }
    // The file name is never opened: the handler streams this import's records.
    const std::string statement =
        "LOAD DATA LOCAL INFILE 'lorvex-import' INTO TABLE " +
        db::qualifiedName(o_.database, o_.table) +
        " CHARACTER SET utf8mb4 FIELDS TERMINATED BY '\\t' ESCAPED BY '\\\\' "
        "LINES TERMINATED BY '\\n' (" + columns + ")";
    std::string pending;
    std::size_t sent = 0;
    bool end = false;
    std::uint64_t record = 0;
    const auto source = [&](char* buffer, unsigned size) -> long {
        while (pending.size() - sent < size && !end) {
            if (sent > 0) {
                pending.erase(0, sent);
                sent = 0;
            }
            if (stopWanted(reader)) {
                p.stopped = true;
                return -1;
            }
            // Whole records up to about a piece, so the checks above run now and then.
            while (pending.size() < 256 * 1024) {
                if (!nextRecord(reader, skip, record)) {
                    end = true;
                    break;
                }
                p.lines.add(p.streamed, reader.line());
                p.records.add(p.streamed, record);
                ++p.streamed;
                const auto& fields = reader.fields();
                for (std::size_t i = 0; i < mapped_.size(); ++i) {
                    if (i) pending.push_back('\t');
                    putEscaped(pending, fields[mapped_[i].first]);
                }
                pending.push_back('\n');
            }
        }
        const std::size_t n = std::min<std::size_t>(size, pending.size() - sent);
        std::memcpy(buffer, pending.data() + sent, n);
        sent += n;
        return long(n);
    };
    std::exception_ptr failure;
    const auto guarded = [&](char* buffer, unsigned size) -> long {
        try {
            return source(buffer, size);
        } catch (...) {
            failure = std::current_exception();  // a file that cannot be read: said below
            return -1;
        }
    };
    const bool ok = c_.loadLocal(statement, guarded);
    if (failure) std::rethrow_exception(failure);
    if (!ok) {
        if (p.stopped || cancelled()) {
            p.stopped = true;
            return;
        }
        throw c_.lastError(statement);
    }
    p.affected = c_.affectedRows();
    readWarnings(p, 0, &p.lines, nullptr, nullptr);
}

void Run::passInserts(Pass& p, files::CsvReader& reader, const std::set<std::uint64_t>& skip) {
    std::string statement;
    std::vector<std::uint64_t> lines, records;
    std::vector<std::string> rows;  // each row's "(...)", kept for a row-by-row retry
    // A table without transactions keeps the first rows of a statement that failed: there,
    // each row is a statement of its own.
    const std::size_t limit = result_.transactional ? batchBytes_ : 0;
    std::string row;
    const auto flush = [&] {
        if (rows.empty()) return;
        statement = insertHead_;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (i) statement += ',';
            statement += rows[i];
        }
        if (c_.query(statement)) {
            p.affected += c_.affectedRows();
            readWarnings(p, 0, nullptr, &lines, &records);
        } else if (cancelled() || c_.connectionLost()) {
            p.stopped = cancelled();
            if (!p.stopped) throw c_.lastError(statement);
        } else if (rows.size() == 1) {
            p.serverProblems.push_back({records[0], {lines[0], withoutRow(c_.errorText())}});
        } else {
            // The statement changed nothing: find the rows that fail, one at a time.
            for (std::size_t i = 0; i < rows.size() && !p.stopped; ++i) {
                const std::string one = insertHead_ + rows[i];
                if (c_.query(one)) {
                    p.affected += c_.affectedRows();
                    const std::vector<std::uint64_t> l{lines[i]}, r{records[i]};
                    readWarnings(p, 0, nullptr, &l, &r);
                } else if (cancelled()) {
                    p.stopped = true;
                } else if (c_.connectionLost()) {
                    throw c_.lastError(one);
                } else {
                    p.serverProblems.push_back({records[i], {lines[i], withoutRow(c_.errorText())}});
                }
            }
        }
        rows.clear();
        lines.clear();
        records.clear();
    };
    std::size_t bytes = 0;
    std::uint64_t record = 0;
    std::vector<char> escaped;
    while (!p.stopped) {
        if (bytes == 0 && stopWanted(reader)) {
            p.stopped = true;
            break;
        }
        if (!nextRecord(reader, skip, record)) break;
        row = "(";
        const auto& fields = reader.fields();
        for (std::size_t i = 0; i < mapped_.size(); ++i) {
            if (i) row += ',';
            const files::CsvField& f = fields[mapped_[i].first];
            if (f.null) {
                row += "NULL";
                continue;
            }
            escaped.resize(f.text.size() * 2 + 1);
            const std::size_t n = c_.escapeTo(escaped.data(), f.text);
            row += '\'';
            row.append(escaped.data(), n);
            row += '\'';
        }
        row += ')';
        bytes += row.size() + 1;
        rows.push_back(std::move(row));
        lines.push_back(reader.line());
        records.push_back(record);
        ++p.streamed;
        if (bytes >= limit) {
            flush();
            bytes = 0;
        }
    }
    if (!p.stopped) flush();
}

Run::Pass Run::pass(const std::set<std::uint64_t>& skip) {
    QFile file(o_.path);
    if (!file.open(QIODevice::ReadOnly))
        throw CsvImportError(QStringLiteral("Cannot read %1: %2.")
                                 .arg(QDir::toNativeSeparators(o_.path), file.errorString())
                                 .toStdString());
    files::CsvReader reader(file, o_.format);
    records_ = 0;
    Pass p;
    if (result_.localInfile)
        passLocal(p, reader, skip);
    else
        passInserts(p, reader, skip);
    if (firstPass_) result_.records = records_;
    firstPass_ = false;
    return p;
}

CsvImportResult Run::go() {
    prepare();
    if (result_.transactional) exec("START TRANSACTION");
    Pass p = pass({});
    const auto rollBack = [&] {
        if (result_.transactional) exec("ROLLBACK");
    };
    if (p.stopped) {
        rollBack();
        result_.cancelled = true;
        result_.rolledBack = result_.transactional;
        result_.loaded = result_.transactional ? 0 : p.affected;
        return result_;
    }
    // The refused lines in the order of the file.
    std::vector<std::pair<std::uint64_t, CsvProblem>> all = ownProblems_;
    all.insert(all.end(), p.serverProblems.begin(), p.serverProblems.end());
    std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
        return a.second.line != 0 && (b.second.line == 0 || a.second.line < b.second.line);
    });
    std::set<std::uint64_t> refusedLines;
    for (const auto& [record, problem] : all) {
        addProblem(problem.line, problem.reason);
        refusedLines.insert(problem.line ? problem.line : UINT64_MAX - refusedLines.size());
    }
    const bool refused = !all.empty();
    if (refused && !o_.keepLoaded) {
        rollBack();
        result_.rolledBack = result_.transactional;
        result_.loaded = result_.transactional ? 0 : p.affected;
        result_.refused = std::max<std::uint64_t>(refusedLines.size(), result_.records - p.affected);
        return result_;
    }
    result_.loaded = p.affected;
    if (refused && result_.localInfile && result_.transactional) {
        // LOAD DATA stored the lines it warned about with values of its own: load again
        // without them, so that a refused line is not in the table.
        std::set<std::uint64_t> skip;
        for (const auto& [record, problem] : p.serverProblems)
            if (record != UINT64_MAX) skip.insert(record);
        if (!skip.empty()) {
            exec("ROLLBACK");
            exec("START TRANSACTION");
            const Pass again = pass(skip);
            if (again.stopped) {
                exec("ROLLBACK");
                result_.cancelled = result_.rolledBack = true;
                result_.loaded = 0;
                return result_;
            }
            result_.loaded = again.affected;
        }
    }
    if (result_.transactional) exec("COMMIT");
    result_.refused = result_.records - std::min(result_.records, result_.loaded);
    return result_;
}

}  // namespace

CsvImport::CsvImport(db::Connection& session, CsvImportOptions options)
    : session_(session), options_(std::move(options)) {}

CsvImportResult CsvImport::run(const Progress& progress) {
    db::ConnectParams params = session_.params();
    params.database = options_.database;
    params.multiStatements = false;
    params.localInfile = options_.method != CsvImportOptions::Method::Inserts;
    db::Connection connection;
    connection.setWaiter(session_.waiter());
    try {
        connection.connect(params);
    } catch (const db::DbError& e) {
        throw CsvImportError(std::string("Cannot connect for the import: ") + e.what());
    }
    CsvImportResult result;
    const QString what =
        QStringLiteral("Importing %1 into %2")
            .arg(QFileInfo(options_.path).fileName(),
                 QString::fromStdString(db::qualifiedName(options_.database, options_.table)));
    try {
        connection.runAside(db::utf8(what), [&] { result = Run(connection, options_, progress).go(); },
                            true);
    } catch (const files::CsvError& e) {
        throw CsvImportError(std::string(e.what()) + " Nothing was loaded.");
    } catch (const db::DbError& e) {
        if (connection.cancelledByUser()) {
            result.cancelled = result.rolledBack = true;
            return result;
        }
        throw CsvImportError(std::string("The import failed: ") + e.what() +
                             (e.connectionLost() ? "" : " Nothing was loaded."));
    }
    return result;
}

}  // namespace dump
