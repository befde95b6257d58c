#include "sqleditor/QueryHistory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "files/SqlBytes.h"
#include "sqllex/Lexer.h"

namespace {

// ---- Password masking -------------------------------------------------------------------

struct Token {
    enum Kind { Word, String, Other };
    Kind kind;
    std::size_t begin;
    std::size_t end;
};

// The words, quoted strings and other characters of SQL text, with comments left out (but
// not the code of conditional comments). A string runs to its closing quote as the server
// reads it in the session's SQL mode, or to the end of the text when it is never closed.
std::vector<Token> tokenize(std::string_view s, sqllex::Rules rules) {
    std::vector<Token> tokens;
    sqllex::ByteLexer lexer(s, rules);
    for (sqllex::Token t = lexer.next(); t.kind != sqllex::Kind::End; t = lexer.next()) {
        switch (t.kind) {
            case sqllex::Kind::String: tokens.push_back({Token::String, t.begin, t.end}); break;
            // A quoted name is no value: `password` stays a name. A password in "..." is
            // masked even where ANSI_QUOTES makes it a name the server refuses.
            case sqllex::Kind::Name:
                tokens.push_back({s[t.begin] == '"' ? Token::String : Token::Other, t.begin, t.end});
                break;
            case sqllex::Kind::Word: tokens.push_back({Token::Word, t.begin, t.end}); break;
            case sqllex::Kind::Symbol: tokens.push_back({Token::Other, t.begin, t.end}); break;
            default: break;
        }
    }
    return tokens;
}

}  // namespace

namespace {

// Whether `upper` (given in upper case) occurs in `s` in any letter case.
bool containsAnyCase(std::string_view s, std::string_view upper) {
    const auto same = [](char a, char b) { return (a >= 'a' && a <= 'z' ? char(a - 32) : a) == b; };
    return std::search(s.begin(), s.end(), upper.begin(), upper.end(), same) != s.end();
}

// The byte ranges of the password literals of `s`, sorted, as maskPasswords() replaces them.
std::vector<std::pair<std::size_t, std::size_t>> passwordRanges(std::string_view s,
                                                                sqllex::Rules rules) {
    // Every literal masked below follows one of these words: a long script of rows without
    // them is not taken apart token by token.
    if (!containsAnyCase(s, "PASSWORD") && !containsAnyCase(s, "IDENTIFIED")) return {};
    const std::vector<Token> tokens = tokenize(s, rules);
    const std::size_t count = tokens.size();
    auto text = [&](std::size_t k) {
        return k < count ? s.substr(tokens[k].begin, tokens[k].end - tokens[k].begin)
                         : std::string_view();
    };
    auto isWord = [&](std::size_t k, std::string_view upper) {
        return k < count && tokens[k].kind == Token::Word && sqlbytes::isWord(text(k), upper);
    };
    auto isChar = [&](std::size_t k, char c) {
        return k < count && tokens[k].kind == Token::Other && text(k) == std::string_view(&c, 1);
    };

    std::vector<std::pair<std::size_t, std::size_t>> masked;  // byte ranges of literals
    // The literal at token k, after an optional introducer (_utf8mb4'x', N'x', X'78'), with
    // the strings right behind it, which the server joins to it.
    auto maskLiteral = [&](std::size_t k) {
        if (k + 1 < count && tokens[k].kind == Token::Word && tokens[k + 1].kind == Token::String &&
            (text(k).front() == '_' || isWord(k, "N") || isWord(k, "X") || isWord(k, "B")))
            ++k;
        if (k >= count || tokens[k].kind != Token::String) return;
        std::size_t last = k;
        while (last + 1 < count && tokens[last + 1].kind == Token::String) ++last;
        masked.emplace_back(tokens[k].begin, tokens[last].end);
    };

    std::size_t statementStart = 0;
    bool identified = false;   // an IDENTIFIED clause began in this statement
    bool setPassword = false;  // a SET PASSWORD statement before its "="
    for (std::size_t k = 0; k < count; ++k) {
        if (isChar(k, ';')) {
            statementStart = k + 1;
            identified = setPassword = false;
        } else if (isChar(k, '=') && setPassword) {
            maskLiteral(k + 1);
            setPassword = false;
        } else if (isWord(k, "IDENTIFIED")) {
            identified = true;
        } else if (isWord(k, "SET") && isWord(k + 1, "PASSWORD") &&
                   (k == statementStart || isWord(k - 1, "BEGIN") || isWord(k - 1, "THEN") ||
                    isWord(k - 1, "ELSE") || isWord(k - 1, "DO"))) {
            // Only as a statement: UPDATE ... SET password = '...' sets a column.
            setPassword = true;
            ++k;
        } else if ((isWord(k, "PASSWORD") || isWord(k, "OLD_PASSWORD")) && isChar(k + 1, '(')) {
            maskLiteral(k + 2);
        } else if (isWord(k, "PASSWORD")) {
            maskLiteral(k + 1);  // BY PASSWORD '*hash', OPTIONS (PASSWORD 'x')
        } else if (isWord(k, "MASTER_PASSWORD") && isChar(k + 1, '=')) {
            maskLiteral(k + 2);
        } else if (identified && (isWord(k, "BY") || isWord(k, "USING") || isWord(k, "AS") ||
                                  isWord(k, "REPLACE"))) {
            maskLiteral(k + 1);
        }
    }
    std::sort(masked.begin(), masked.end());
    return masked;
}

}  // namespace

QString maskPasswords(const QString& statement, sqllex::Rules rules) {
    const QByteArray bytes = statement.toUtf8();
    const std::string_view s(bytes.constData(), std::size_t(bytes.size()));
    const auto masked = passwordRanges(s, rules);
    if (masked.empty()) return statement;

    QByteArray out;
    out.reserve(bytes.size());
    std::size_t done = 0;
    for (const auto& [begin, end] : masked) {
        if (begin < done) continue;
        out.append(s.data() + done, qsizetype(begin - done)).append("'***'");
        done = end;
    }
    out.append(s.data() + done, qsizetype(s.size() - done));
    return QString::fromUtf8(out);
}

QString maskPasswordsInOutcome(const QString& statement, const QString& outcome,
                               sqllex::Rules rules) {
    const QByteArray bytes = statement.toUtf8();
    const std::string_view s(bytes.constData(), std::size_t(bytes.size()));
    const auto masked = passwordRanges(s, rules);
    if (masked.empty() || outcome.isEmpty()) return outcome;
    QString out = outcome;
    // The server quotes the statement from where it stopped reading ("... near '...' at
    // line 1"), cut to a length of its own: the password may be there whole or in part.
    static const QString kNear = QStringLiteral("near '");
    static const QString kAtLine = QStringLiteral("' at line ");
    if (const qsizetype near = out.indexOf(kNear); near >= 0) {
        const qsizetype from = near + kNear.size();
        const qsizetype to = out.lastIndexOf(kAtLine);
        out.replace(from, to >= from ? to - from : out.size() - from, QStringLiteral("***"));
    }
    // Any other message that repeats a password.
    for (const auto& [begin, end] : masked) {
        std::string_view literal = s.substr(begin, end - begin);
        const std::size_t quote = literal.find_first_of("'\"");
        if (quote == std::string_view::npos) continue;
        const char q = literal[quote];
        literal.remove_prefix(quote + 1);
        if (!literal.empty() && literal.back() == q) literal.remove_suffix(1);
        const QString secret = QString::fromUtf8(literal.data(), qsizetype(literal.size()));
        if (!secret.isEmpty()) out.replace(secret, QStringLiteral("***"));
    }
    return out;
}

// ---- The history file ------------------------------------------------------------------

namespace {

QString reasonOf(const QSqlError& error) {
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return text.isEmpty() ? QStringLiteral("unknown error") : text;
}

// Creates the file readable and writable by its owner only, whatever the umask: statements
// can hold secrets that masking does not know. An existing file is left as it is. Empty on
// success, else the system's reason.
QString createPrivately(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) return errno == EEXIST ? QString() : QString::fromLocal8Bit(std::strerror(errno));
    const bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    const int error = errno;
    ::close(fd);
    return ok ? QString() : QString::fromLocal8Bit(std::strerror(error));
}

const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS history (id INTEGER PRIMARY KEY, started INTEGER NOT NULL, "
    "duration_ms INTEGER NOT NULL, row_count INTEGER NOT NULL, server TEXT, db_name TEXT, "
    // The statement case-folded, so that a search matches any letter case of any script.
    "outcome TEXT, statement TEXT, folded TEXT)",
    "CREATE INDEX IF NOT EXISTS history_started ON history (started)",
    // A file of another program that has a table of this name.
    "SELECT id, started, duration_ms, row_count, server, db_name, outcome, statement, folded "
    "FROM history LIMIT 0",
};

std::atomic<unsigned> connectionCounter{0};

}  // namespace

QueryHistory::QueryHistory(const QString& path, int maxEntries)
    : path_(path),
      connectionName_(QStringLiteral("lorvex-history-%1").arg(connectionCounter++)),
      maxEntries_(std::max(1, maxEntries)) {
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        fail(QStringLiteral("cannot be opened"),
             QStringLiteral("the SQLite driver of Qt Sql is not installed (install "
                            "libqt6sql6-sqlite)"));
        return;
    }
    if (const QString why = createPrivately(path); !why.isEmpty()) {
        fail(QStringLiteral("cannot be created"),
             why + QStringLiteral("; check that its folder exists and that you may write there"));
        return;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
    db.setDatabaseName(path);
    if (!db.open()) {
        fail(QStringLiteral("cannot be opened"),
             reasonOf(db.lastError()) +
                 QStringLiteral("; check that it is a file you may read and write"));
        return;
    }
    QSqlQuery query(db);
    // Deleted and dropped entries are overwritten, not left readable in free pages.
    query.exec(QStringLiteral("PRAGMA secure_delete = ON"));
    // A history needs no sync to disk on every statement: a crash of the system may lose
    // the last few. The journal stays the default one, so no other file lies beside it.
    query.exec(QStringLiteral("PRAGMA synchronous = OFF"));
    for (const char* statement : kSchema) {
        if (!query.exec(QString::fromLatin1(statement))) {
            fail(QStringLiteral("is not a query history"),
                 reasonOf(query.lastError()) +
                     QStringLiteral("; move it away and a new history will start"));
            return;
        }
    }
    open_ = true;
}

QueryHistory::~QueryHistory() {
    {
        QSqlDatabase db = QSqlDatabase::database(connectionName_, false);
        if (db.isValid()) db.close();
    }
    if (QSqlDatabase::contains(connectionName_)) QSqlDatabase::removeDatabase(connectionName_);
}

bool QueryHistory::fail(const QString& what, const QString& reason) {
    error_ = QStringLiteral("The query history file \"%1\" %2: %3.")
                 .arg(QDir::toNativeSeparators(path_), what, reason);
    if (!open_) {
        // Off for good: nothing more is asked of the file.
        QSqlDatabase db = QSqlDatabase::database(connectionName_, false);
        if (db.isValid()) db.close();
        error_ += QStringLiteral(" Statements are not kept in the history for now.");
    }
    return false;
}

bool QueryHistory::record(const HistoryEntry& entry) { return record(std::vector{entry}); }

bool QueryHistory::record(const std::vector<HistoryEntry>& entries) {
    if (!open_) return false;
    QSqlDatabase db = QSqlDatabase::database(connectionName_, false);
    db.transaction();
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral(
        "INSERT INTO history (started, duration_ms, row_count, server, db_name, outcome, "
        "statement, folded) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    bool inserted = true;
    for (const HistoryEntry& entry : entries) {
        const QString statement = maskPasswords(entry.statement, entry.rules);
        const QDateTime started =
            entry.started.isValid() ? entry.started : QDateTime::currentDateTimeUtc();
        insert.bindValue(0, started.toMSecsSinceEpoch());
        insert.bindValue(1, entry.durationMs);
        insert.bindValue(2, entry.rows);
        insert.bindValue(3, entry.server);
        insert.bindValue(4, entry.database);
        insert.bindValue(5, maskPasswordsInOutcome(entry.statement, entry.outcome, entry.rules));
        insert.bindValue(6, statement);
        insert.bindValue(7, statement.toCaseFolded());
        if (!(inserted = insert.exec())) break;
    }
    QSqlQuery prune(db);
    prune.prepare(QStringLiteral(
        "DELETE FROM history WHERE id IN "
        "(SELECT id FROM history ORDER BY started DESC, id DESC LIMIT -1 OFFSET ?)"));
    prune.addBindValue(maxEntries_);
    if (!inserted || !prune.exec()) {
        const QSqlError error =
            insert.lastError().isValid() ? insert.lastError() : prune.lastError();
        db.rollback();
        return fail(QStringLiteral("cannot be written"), reasonOf(error));
    }
    if (!db.commit()) return fail(QStringLiteral("cannot be written"), reasonOf(db.lastError()));
    error_.clear();
    return true;
}

std::vector<HistoryEntry> QueryHistory::search(const QString& text, int limit) {
    std::vector<HistoryEntry> found;
    if (!open_ || limit <= 0) return found;
    QSqlQuery query(QSqlDatabase::database(connectionName_, false));
    query.setForwardOnly(true);
    // instr() matches the text as it is: % and _ are no wildcards there.
    query.prepare(
        QStringLiteral("SELECT started, duration_ms, row_count, server, db_name, outcome, "
                       "statement FROM history %1 ORDER BY started DESC, id DESC LIMIT ?")
            .arg(text.isEmpty() ? QString() : QStringLiteral("WHERE instr(folded, ?) > 0")));
    if (!text.isEmpty()) query.addBindValue(text.toCaseFolded());
    query.addBindValue(limit);
    if (!query.exec()) {
        fail(QStringLiteral("cannot be read"), reasonOf(query.lastError()));
        return found;
    }
    while (query.next()) {
        HistoryEntry& entry = found.emplace_back();
        entry.started = QDateTime::fromMSecsSinceEpoch(query.value(0).toLongLong(), Qt::UTC);
        entry.durationMs = query.value(1).toLongLong();
        entry.rows = query.value(2).toLongLong();
        entry.server = query.value(3).toString();
        entry.database = query.value(4).toString();
        entry.outcome = query.value(5).toString();
        entry.statement = query.value(6).toString();
    }
    error_.clear();
    return found;
}

bool QueryHistory::clear() {
    if (!open_) return false;
    QSqlQuery query(QSqlDatabase::database(connectionName_, false));
    if (!query.exec(QStringLiteral("DELETE FROM history")))
        return fail(QStringLiteral("cannot be written"), reasonOf(query.lastError()));
    error_.clear();
    return true;
}
