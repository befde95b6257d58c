#include "sqleditor/Completion.h"

#include <QSet>
#include <algorithm>

#include "db/Connection.h"
#include "sqllex/Lexer.h"

namespace {

// Characters of a name the server reads without backticks.
bool isPlainChar(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
           u == u'_' || u == u'$' || (u >= 0x80 && c.isLetterOrNumber());
}

// A word of a statement: a name (bare or quoted) or one sign; strings and comments are
// skipped.
struct Token {
    enum Kind { Name, Sign } kind;
    QString text;  // a name unquoted
    bool quoted = false;
    int begin = 0, end = 0;
    bool open = false;  // a quoted name the text ends inside
    bool isWord(const char* upper) const {
        return kind == Name && !quoted && text.compare(QLatin1String(upper), Qt::CaseInsensitive) == 0;
    }
    bool isSign(char16_t c) const { return kind == Sign && text.size() == 1 && text[0] == c; }
};

std::vector<Token> tokens(const QString& text, sqllex::Rules rules) {
    std::vector<Token> out;
    const std::u16string_view units = sqllex::utf16(text);
    sqllex::TextLexer lexer(units, rules);
    for (sqllex::Token t = lexer.next(); t.kind != sqllex::Kind::End; t = lexer.next()) {
        const int begin = int(t.begin), end = int(t.end);
        if (t.kind == sqllex::Kind::Name) {
            const std::u16string name = sqllex::unquoted(units.substr(t.begin, t.size()), rules);
            out.push_back({Token::Name, QString::fromStdU16String(name), true, begin, end, t.open});
        } else if (t.kind == sqllex::Kind::Word) {
            out.push_back({Token::Name, text.mid(begin, end - begin), false, begin, end});
        } else if (t.kind == sqllex::Kind::Symbol) {
            out.push_back({Token::Sign, QString(text[begin]), false, begin, end});
        }
    }
    return out;
}

// The statement around the cursor: from the ';' before it to the ';' after it, neither
// inside a string, name or comment.
QString statementAround(const QString& text, int cursor, int* begin, sqllex::Rules rules) {
    *begin = 0;
    int end = int(text.size());
    sqllex::TextLexer lexer(sqllex::utf16(text), rules);
    for (sqllex::Token t = lexer.next(); t.kind != sqllex::Kind::End; t = lexer.next()) {
        if (t.kind != sqllex::Kind::Symbol || text[int(t.begin)] != u';') continue;
        if (int(t.begin) < cursor) {
            *begin = int(t.end);
        } else {
            end = int(t.begin);
            break;
        }
    }
    return text.mid(*begin, std::max(end - *begin, 0));
}

QString columnsKey(const Completion::Table& t) { return t.database + QChar(0) + t.name; }

}  // namespace

bool Completion::isReserved(const QString& word) {
    // The words MariaDB reserves: they name nothing unless quoted.
    static const QSet<QString> reserved = [] {
        const QStringList words = QStringLiteral(
            "ACCESSIBLE ADD ALL ALTER ANALYZE AND AS ASC ASENSITIVE BEFORE BETWEEN BIGINT "
            "BINARY BLOB BOTH BY CALL CASCADE CASE CHANGE CHAR CHARACTER CHECK COLLATE "
            "COLUMN CONDITION CONSTRAINT CONTINUE CONVERT CREATE CROSS CURRENT_DATE "
            "CURRENT_ROLE CURRENT_TIME CURRENT_TIMESTAMP CURRENT_USER CURSOR DATABASE "
            "DATABASES DAY_HOUR DAY_MICROSECOND DAY_MINUTE DAY_SECOND DEC DECIMAL DECLARE "
            "DEFAULT DELAYED DELETE DELETE_DOMAIN_ID DESC DESCRIBE DETERMINISTIC DISTINCT "
            "DISTINCTROW DIV DO_DOMAIN_IDS DOUBLE DROP DUAL EACH ELSE ELSEIF ENCLOSED "
            "ESCAPED EXCEPT EXISTS EXIT EXPLAIN FALSE FETCH FLOAT FLOAT4 FLOAT8 FOR FORCE "
            "FOREIGN FROM FULLTEXT GENERAL GRANT GROUP HAVING HIGH_PRIORITY "
            "HOUR_MICROSECOND HOUR_MINUTE HOUR_SECOND IF IGNORE IGNORE_DOMAIN_IDS "
            "IGNORE_SERVER_IDS IN INDEX INFILE INNER INOUT INSENSITIVE INSERT INT INT1 INT2 "
            "INT3 INT4 INT8 INTEGER INTERSECT INTERVAL INTO IS ITERATE JOIN KEY KEYS KILL "
            "LEADING LEAVE LEFT LIKE LIMIT LINEAR LINES LOAD LOCALTIME LOCALTIMESTAMP LOCK "
            "LONG LONGBLOB LONGTEXT LOOP LOW_PRIORITY MASTER_HEARTBEAT_PERIOD "
            "MASTER_SSL_VERIFY_SERVER_CERT MATCH MAXVALUE MEDIUMBLOB MEDIUMINT MEDIUMTEXT "
            "MIDDLEINT MINUTE_MICROSECOND MINUTE_SECOND MOD MODIFIES NATURAL NOT "
            "NO_WRITE_TO_BINLOG NULL NUMERIC OFFSET ON OPTIMIZE OPTION OPTIONALLY OR ORDER "
            "OUT OUTER OUTFILE OVER PAGE_CHECKSUM PARSE_VCOL_EXPR PARTITION POSITION "
            "PRECISION PRIMARY PROCEDURE PURGE RANGE READ READS READ_WRITE REAL RECURSIVE "
            "REF_SYSTEM_ID REFERENCES REGEXP RELEASE RENAME REPEAT REPLACE REQUIRE RESIGNAL "
            "RESTRICT RETURN RETURNING REVOKE RIGHT RLIKE ROWS ROW_NUMBER SCHEMA SCHEMAS "
            "SECOND_MICROSECOND SELECT SENSITIVE SEPARATOR SET SHOW SIGNAL SLOW SMALLINT "
            "SPATIAL SPECIFIC SQL SQLEXCEPTION SQLSTATE SQLWARNING SQL_BIG_RESULT "
            "SQL_CALC_FOUND_ROWS SQL_SMALL_RESULT SSL STARTING STATS_AUTO_RECALC "
            "STATS_PERSISTENT STATS_SAMPLE_PAGES STRAIGHT_JOIN TABLE TERMINATED THEN "
            "TINYBLOB TINYINT TINYTEXT TO TRAILING TRIGGER TRUE UNDO UNION UNIQUE UNLOCK "
            "UNSIGNED UPDATE USAGE USE USING UTC_DATE UTC_TIME UTC_TIMESTAMP VALUES "
            "VARBINARY VARCHAR VARCHARACTER VARYING WHEN WHERE WHILE WINDOW WITH WRITE XOR "
            "YEAR_MONTH ZEROFILL")
            .split(u' ', Qt::SkipEmptyParts);
        return QSet<QString>(words.begin(), words.end());
    }();
    return reserved.contains(word.toUpper());
}

QString Completion::asTyped(const QString& name) {
    bool plain = !name.isEmpty() && !name[0].isDigit() && !isReserved(name);
    for (QChar c : name) plain = plain && isPlainChar(c);
    return plain ? name : QString::fromStdString(db::quoteIdentifier(name));
}

void Completion::clear() {
    haveDatabases_ = false;
    databases_.clear();
    tables_.clear();
    columns_.clear();
}

Completion::Request Completion::requestAt(const QString& text, int cursor, sqllex::Rules rules) {
    Request r;
    cursor = std::clamp(cursor, 0, int(text.size()));
    // Inside a backtick that is still open, the word is what follows it.
    int lineStart = int(text.lastIndexOf(u'\n', std::max(cursor - 1, 0))) + 1;
    if (cursor == 0) lineStart = 0;
    const std::vector<Token> line = tokens(text.left(cursor).mid(lineStart), rules);
    int open = -1;
    for (const Token& t : line)
        if (t.open) {
            open = lineStart + t.begin;
            r.prefix = t.text;
        }
    if (open >= 0) {
        r.start = open;
        r.quoted = true;
    } else {
        r.start = cursor;
        while (r.start > 0 && isPlainChar(text[r.start - 1])) --r.start;
        r.prefix = text.mid(r.start, cursor - r.start);
    }
    // The name, bare or quoted, that ends right before a '.' at `dot`.
    const auto nameBefore = [&](int dot) -> const Token* {
        if (dot < lineStart || text[dot] != u'.') return nullptr;
        for (const Token& t : line)
            if (t.kind == Token::Name && !t.open && lineStart + t.end == dot) return &t;
        return nullptr;
    };
    if (const Token* qualifier = nameBefore(r.start - 1)) {
        r.qualifier = qualifier->text;
        if (const Token* database = nameBefore(lineStart + qualifier->begin - 1))
            r.database = database->text;
    }
    return r;
}

QHash<QString, Completion::Table> Completion::tablesNamed(const QString& text, int cursor,
                                                         sqllex::Rules rules) {
    // Non-reserved words that still never stand for an alias after a table.
    static const char* const notAlias[] = {"VALUE", "LOCK", "NOWAIT", "WAIT", "SKIP"};
    int offset = 0;
    const QString statement = statementAround(text, cursor, &offset, rules);
    const std::vector<Token> t = tokens(statement, rules);
    const int at = cursor - offset;
    auto isName = [&](std::size_t i) {
        return i < t.size() && t[i].kind == Token::Name && (t[i].quoted || !isReserved(t[i].text));
    };
    QHash<QString, Table> out;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const bool list = t[i].isWord("FROM") || t[i].isWord("UPDATE");
        if (!list && !t[i].isWord("JOIN") && !t[i].isWord("STRAIGHT_JOIN") && !t[i].isWord("INTO") &&
            !t[i].isWord("TABLE") && !t[i].isWord("DESC") && !t[i].isWord("DESCRIBE"))
            continue;
        std::size_t j = i + 1;
        while (isName(j)) {
            const int refBegin = t[j].begin;
            Table table{QString(), t[j].text};
            ++j;
            if (j < t.size() && t[j].isSign(u'.')) {
                ++j;
                if (j < t.size() && t[j].kind == Token::Name) {  // any word after the dot
                    table = {table.name, t[j].text};
                    ++j;
                }
            }
            QString alias;
            if (j < t.size() && t[j].isWord("AS")) {
                if (j + 1 < t.size() && t[j + 1].kind == Token::Name) alias = t[j + 1].text;
                j += 2;
            } else if (isName(j)) {
                bool skip = false;
                for (const char* w : notAlias) skip = skip || t[j].isWord(w);
                if (!skip) alias = t[j++].text;
            }
            const int refEnd = t[j - 1 < t.size() ? j - 1 : t.size() - 1].end;
            // The name being typed is no table yet ("FROM db." asks for db's tables).
            if (!(at >= refBegin && at <= refEnd)) {
                out.insert(table.name, table);
                if (!alias.isEmpty()) out.insert(alias, table);
            }
            if (!list || j >= t.size() || !t[j].isSign(u',')) break;
            ++j;
        }
    }
    return out;
}

QStringList Completion::readNames(const std::string& query) {
    QStringList names;
    if (connection_.query(query)) {
        db::Result r = connection_.storeResult();
        while (r && r.next()) names << r.text(0);
    }
    return names;
}

const QStringList& Completion::databases() {
    if (!haveDatabases_) {
        databases_ = readNames("SHOW DATABASES");
        haveDatabases_ = true;
    }
    return databases_;
}

QString Completion::currentDatabase() {
    const QStringList current = readNames("SELECT DATABASE()");
    return current.isEmpty() ? QString() : current.first();
}

const QStringList& Completion::tablesIn(const QString& database) {
    auto it = tables_.find(database);
    if (it != tables_.end()) return *it;
    return *tables_.insert(database, database.isEmpty() ? QStringList()
                                                        : readNames("SHOW TABLES FROM " +
                                                                    db::quoteIdentifier(database)));
}

const QStringList& Completion::columns(const Table& table) {
    const QString key = columnsKey(table);
    auto it = columns_.find(key);
    if (it != columns_.end()) return *it;
    if (table.database.isEmpty()) return *columns_.insert(key, {});
    return *columns_.insert(
        key, readNames("SELECT COLUMN_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = " +
                       connection_.quoteValue(table.database) + " AND TABLE_NAME = " +
                       connection_.quoteValue(table.name) + " ORDER BY ORDINAL_POSITION"));
}

Completion::Offer Completion::offer(const QString& text, int cursor) {
    const Request r = requestAt(text, cursor, rules_);
    const QHash<QString, Table> named = tablesNamed(text, cursor, rules_);
    const QString current = currentDatabase();
    auto resolved = [&](Table t) {
        if (t.database.isEmpty()) t.database = current;
        return t;
    };
    Offer o;
    o.start = r.start;
    if (!r.database.isEmpty()) {
        o.names = columns({r.database, r.qualifier});
    } else if (!r.qualifier.isEmpty()) {
        // "alias." or "table." offers columns; "db." offers that database's tables.
        const auto table = named.find(r.qualifier);
        if (table != named.end())
            o.names = columns(resolved(*table));
        else if (databases().contains(r.qualifier))
            o.names = tablesIn(r.qualifier);
        else
            o.names = columns(resolved({QString(), r.qualifier}));
    } else {
        for (const Table& table : named) o.names << columns(resolved(table));
        o.names << tablesIn(current) << databases();
        if (!r.quoted) o.keywords = keywords_;
    }
    for (QStringList* words : {&o.names, &o.keywords}) {
        words->removeDuplicates();
        words->sort(Qt::CaseInsensitive);
    }
    return o;
}

QStringList Completion::Offer::matching(const QString& prefix) const {
    QStringList out;
    auto fits = [&](const QString& w) {
        return w.startsWith(prefix, Qt::CaseInsensitive) && w.compare(prefix, Qt::CaseInsensitive) != 0;
    };
    for (const QString& w : names)
        if (fits(w)) out << asTyped(w);
    // Every keyword fits an empty word: they are offered once the word has begun.
    if (!prefix.isEmpty())
        for (const QString& w : keywords)
            if (fits(w)) out << w;
    return out;
}

QStringList Completion::candidates(const QString& text, int cursor) {
    return offer(text, cursor).matching(requestAt(text, cursor, rules_).prefix);
}
