#include "dump/ScriptScan.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QStringList>
#include <algorithm>
#include <initializer_list>
#include <memory>
#include <string>

#include "dump/DumpFormat.h"
#include "dump/SqlScript.h"
#include "sqllex/ScriptReader.h"
#include "dump/StatementReader.h"
#include "files/RestoreInput.h"
#include "sqllex/Lexer.h"
#include "sqllex/SqlModeFollower.h"

namespace dump {

namespace {

constexpr qint64 kSniffBytes = 64 * 1024;
constexpr std::size_t kTextShown = 120;

// The tokens of one statement, as far as telling what it acts on needs: words (in upper
// case), quoted names (without their quotes), strings, numbers and single symbols. Comments
// are passed over, but not the code inside "/*! ... */", which the server runs.
struct Token {
    enum Kind { End, Word, Name, String, Number, Symbol };
    Kind kind = End;
    std::string text;  // a word in upper case, a name or string without its quotes
    std::string raw;   // a word as written

    bool is(std::string_view word) const { return kind == Word && text == word; }
    bool isSymbol(char c) const { return kind == Symbol && text.size() == 1 && text[0] == c; }
    // A word or a quoted name: what can stand where a name stands.
    bool isName() const { return kind == Word || kind == Name; }
};


bool isDigit(char c) { return c >= '0' && c <= '9'; }

class Tokens {
public:
    Tokens(std::string_view s, sqllex::Rules rules) : s_(s), lexer_(s, rules) {}

    Token next() {
        for (;;) {
            const sqllex::Token lexed = lexer_.next();
            const std::string_view raw = s_.substr(lexed.begin, lexed.size());
            Token t;
            switch (lexed.kind) {
                case sqllex::Kind::End: return t;
                // Comments are passed over; of conditional ones only the opening and end.
                case sqllex::Kind::Blank:
                case sqllex::Kind::Comment:
                case sqllex::Kind::CodeOpen:
                case sqllex::Kind::CodeClose: continue;
                case sqllex::Kind::String:
                case sqllex::Kind::Name:
                    t.kind = lexed.kind == sqllex::Kind::Name ? Token::Name : Token::String;
                    t.text = sqllex::unquoted(raw, lexer_.rules());
                    return t;
                case sqllex::Kind::Word:
                    t.raw = raw;
                    if (isDigit(raw.front())) {
                        t.text = raw;
                        // A name may begin with digits (1st_table); a number has no letters but e/x.
                        t.kind = std::any_of(raw.begin(), raw.end(), [](char d) {
                                     return !isDigit(d) && d != 'e' && d != 'E';
                                 })
                                     ? Token::Word
                                     : Token::Number;
                    } else {
                        t.kind = Token::Word;
                        for (char w : raw) t.text += w >= 'a' && w <= 'z' ? char(w - 32) : w;
                    }
                    return t;
                case sqllex::Kind::Symbol:
                    t.kind = Token::Symbol;
                    t.text = raw;
                    return t;
            }
        }
    }

private:
    std::string_view s_;
    sqllex::ByteLexer lexer_;
};

// Reads statements token by token with one token of look-ahead.
class Statement {
public:
    Statement(std::string_view s, sqllex::Rules rules) : tokens_(s, rules), current_(tokens_.next()) {}

    const Token& peek() const { return current_; }
    Token take() {
        Token t = std::move(current_);
        current_ = tokens_.next();
        return t;
    }
    bool accept(std::string_view word) {
        if (!current_.is(word)) return false;
        take();
        return true;
    }
    bool acceptAll(std::initializer_list<std::string_view> words) {
        bool any = false;
        while (std::any_of(words.begin(), words.end(),
                           [this](std::string_view w) { return current_.is(w); })) {
            take();
            any = true;
        }
        return any;
    }
    void skipTo(std::string_view word) {
        while (current_.kind != Token::End && !current_.is(word)) take();
    }

    // An object name, [database.]name; the database part empty when not named. False when
    // no name stands here.
    bool name(std::string& database) {
        if (!current_.isName()) return false;
        std::string first = nameText(take());
        last_ = first;
        object_ = first;
        database.clear();
        if (current_.isSymbol('.')) {
            take();
            if (current_.isName()) object_ = nameText(take());
            database = std::move(first);
        }
        return true;
    }
    // The first part of the name last read by name(), and its last part (the object).
    const std::string& lastName() const { return last_; }
    const std::string& objectName() const { return object_; }

    // Any token of the rest of the statement satisfies `test`.
    template <typename Test>
    bool anyLeft(Test test) {
        while (current_.kind != Token::End) {
            if (test(current_)) return true;
            take();
        }
        return false;
    }

private:
    // A word names as written; a quoted name as it stands between its quotes.
    static std::string nameText(const Token& t) { return t.kind == Token::Word ? t.raw : t.text; }

    Tokens tokens_;
    Token current_;
    std::string last_;
    std::string object_;
};

QString namesDatabase(const std::string& database) {
    return QStringLiteral("acts on the database `%1`").arg(QString::fromUtf8(database));
}

// The names after the statement's object word: each checked against the target.
QString checkNames(Statement& st, const std::string& target, bool list) {
    st.acceptAll({"IF", "NOT", "EXISTS"});
    std::string database;
    while (st.name(database)) {
        if (!database.empty() && database != target) return namesDatabase(database);
        if (!list || !st.peek().isSymbol(',')) break;
        st.take();
    }
    return {};
}

const std::initializer_list<std::string_view> kAccountWords = {"USER", "ROLE"};

QString classify(std::string_view text, const std::string& target, sqllex::Rules rules) {
    Statement st(text, rules);
    const Token first = st.take();
    if (first.kind != Token::Word) return {};
    const std::string& w = first.text;

    if (w == "USE") {
        std::string database;
        if (!st.name(database) || st.lastName() == target) return {};
        return QStringLiteral("selects the database `%1`").arg(QString::fromUtf8(st.lastName()));
    }
    if (w == "GRANT" || w == "REVOKE") return QStringLiteral("changes privileges");
    if (w == "SHUTDOWN" || w == "RESTART") return QStringLiteral("stops the server");
    if (w == "INSTALL" || w == "UNINSTALL") return QStringLiteral("installs or removes a plugin");
    if (w == "FLUSH" || w == "RESET" || w == "PURGE" || w == "KILL" || w == "BINLOG" ||
        w == "CHANGE")
        return QStringLiteral("acts on the whole server");
    if ((w == "START" || w == "STOP") && !st.peek().is("TRANSACTION"))
        return QStringLiteral("acts on the whole server");
    if (w == "LOAD" && (st.peek().is("DATA") || st.peek().is("XML")))
        return QStringLiteral("reads a file");
    if (w == "SET") {
        if (st.peek().is("PASSWORD") || st.peek().is("DEFAULT"))
            return QStringLiteral("changes accounts");
        bool global = false;
        st.anyLeft([&global](const Token& t) {
            global = t.is("GLOBAL") || t.is("PERSIST") || t.is("PERSIST_ONLY");
            return global;
        });
        return global ? QStringLiteral("changes a server-wide setting") : QString();
    }
    if (w == "SELECT" || w == "WITH") {
        bool file = false;
        bool into = false;
        st.anyLeft([&](const Token& t) {
            file = into && (t.is("OUTFILE") || t.is("DUMPFILE"));
            into = t.is("INTO");
            return file;
        });
        return file ? QStringLiteral("writes a file on the server") : QString();
    }
    if (w == "INSERT" || w == "REPLACE") {
        st.acceptAll({"LOW_PRIORITY", "DELAYED", "HIGH_PRIORITY", "IGNORE", "INTO"});
        return checkNames(st, target, false);
    }
    if (w == "UPDATE") {
        st.acceptAll({"LOW_PRIORITY", "IGNORE"});
        return checkNames(st, target, true);
    }
    if (w == "DELETE") {
        st.acceptAll({"LOW_PRIORITY", "QUICK", "IGNORE", "FROM"});
        return checkNames(st, target, true);
    }
    if (w == "TRUNCATE") {
        st.accept("TABLE");
        return checkNames(st, target, false);
    }
    if (w == "LOCK") {
        st.acceptAll({"TABLES", "TABLE"});
        return checkNames(st, target, true);
    }
    if (w == "CALL") return checkNames(st, target, false);
    if (w == "RENAME") {
        if (st.peek().is("USER")) return QStringLiteral("changes accounts");
        st.accept("TABLE");
        std::string database;
        while (st.peek().kind != Token::End) {
            if (st.name(database)) {
                if (!database.empty() && database != target) return namesDatabase(database);
            } else {
                st.take();
            }
        }
        return {};
    }
    if (w == "CREATE" || w == "DROP" || w == "ALTER") {
        // The words before the kind of object: OR REPLACE, DEFINER = 'u'@'h', ALGORITHM = x,
        // SQL SECURITY x, TEMPORARY, ONLINE, IGNORE, AGGREGATE, UNIQUE, FULLTEXT, SPATIAL.
        for (;;) {
            if (st.acceptAll({"OR", "REPLACE", "TEMPORARY", "ONLINE", "OFFLINE", "IGNORE",
                              "AGGREGATE", "UNIQUE", "FULLTEXT", "SPATIAL", "SQL", "SECURITY",
                              "INVOKER"}))
                continue;
            if (st.peek().is("DEFINER") || st.peek().is("ALGORITHM")) {
                st.take();
                if (st.peek().isSymbol('=')) st.take();
                st.take();
                if (st.peek().isSymbol('@')) {
                    st.take();
                    st.take();
                }
                continue;
            }
            break;
        }
        const Token kind = st.take();
        if (kind.is("DATABASE") || kind.is("SCHEMA"))
            return w == "CREATE" ? QStringLiteral("creates a database")
                   : w == "DROP" ? QStringLiteral("drops a database")
                                 : QStringLiteral("changes a database");
        if (std::any_of(kAccountWords.begin(), kAccountWords.end(),
                        [&](std::string_view a) { return kind.is(a); }))
            return QStringLiteral("changes accounts");
        if (kind.is("SERVER")) return QStringLiteral("changes a server definition");
        if (kind.is("FUNCTION") || kind.is("PROCEDURE")) {
            const QString named = checkNames(st, target, false);
            if (!named.isEmpty()) return named;
            return st.anyLeft([](const Token& t) { return t.is("SONAME"); })
                       ? QStringLiteral("loads a plugin library")
                       : QString();
        }
        if (kind.is("TRIGGER") || kind.is("INDEX")) {
            const QString named = checkNames(st, target, false);
            if (!named.isEmpty()) return named;
            st.skipTo("ON");
            st.accept("ON");
            return checkNames(st, target, false);
        }
        if (kind.is("TABLE") || kind.is("TABLES") || kind.is("VIEW") || kind.is("EVENT") ||
            kind.is("SEQUENCE"))
            return checkNames(st, target, w == "DROP");
        return {};
    }
    return {};
}

}  // namespace

std::vector<QString> replacedObjects(std::string_view statement, const QString& database,
                                     sqllex::Rules rules) {
    const std::string target = database.toStdString();
    Statement st(statement, rules);
    const Token first = st.take();
    std::vector<QString> names;
    if (first.is("CREATE")) {
        if (!st.accept("OR") || !st.accept("REPLACE")) return names;
        // CREATE OR REPLACE [ALGORITHM=..] [DEFINER=..] [SQL SECURITY ..] VIEW|TABLE name
        while (st.peek().kind != Token::End && !st.peek().is("TABLE") && !st.peek().is("VIEW"))
            st.take();
    } else if (!first.is("DROP")) {
        return names;
    }
    st.accept("TEMPORARY");
    if (!st.accept("TABLE") && !st.accept("TABLES") && !st.accept("VIEW")) return names;
    st.acceptAll({"IF", "NOT", "EXISTS"});
    std::string db;
    while (st.name(db)) {
        if (db.empty() || db == target) names.push_back(QString::fromStdString(st.objectName()));
        if (!first.is("DROP") || !st.peek().isSymbol(',')) break;
        st.take();
    }
    return names;
}

CreatedObject createdObject(std::string_view statement, sqllex::Rules rules) {
    Statement st(statement, rules);
    if (!st.take().is("CREATE")) return {};
    // The words before the kind, as classify() passes them over.
    for (;;) {
        if (st.acceptAll({"OR", "REPLACE", "ONLINE", "OFFLINE", "IGNORE", "AGGREGATE", "SQL",
                          "SECURITY", "INVOKER", "DEFINER"})) {
            if (st.peek().isSymbol('=')) {
                st.take();
                st.take();
                if (st.peek().isSymbol('@')) {
                    st.take();
                    st.take();
                }
            }
            continue;
        }
        if (st.peek().is("ALGORITHM")) {
            st.take();
            if (st.peek().isSymbol('=')) st.take();
            st.take();
            continue;
        }
        break;
    }
    const Token kind = st.take();
    static const std::initializer_list<std::string_view> kinds = {"TABLE", "VIEW", "FUNCTION",
                                                                  "PROCEDURE", "TRIGGER", "EVENT"};
    if (kind.kind != Token::Word ||
        std::none_of(kinds.begin(), kinds.end(), [&](std::string_view k) { return kind.is(k); }))
        return {};
    st.acceptAll({"IF", "NOT", "EXISTS"});
    std::string database;
    if (!st.name(database) || !database.empty()) return {};
    return {kind.text, st.objectName()};
}

TextKind sniffText(const QByteArray& head) {
    if (head.isEmpty()) return TextKind::Empty;
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")) return TextKind::Utf16;
    const qsizetype zeros = head.count('\0');
    if (zeros == 0) {
        QByteArray start = head.left(256);
        if (start.startsWith("\xEF\xBB\xBF")) start.remove(0, 3);
        return start.trimmed().startsWith("<?xml") ? TextKind::Xml : TextKind::Text;
    }
    // UTF-16 text in Latin letters has a zero byte in every other place.
    qsizetype evenZeros = 0, oddZeros = 0;
    const qsizetype sample = std::min<qsizetype>(head.size(), 512);
    for (qsizetype i = 0; i < sample; ++i)
        if (head[i] == '\0') ++(i % 2 ? oddZeros : evenZeros);
    if (std::max(evenZeros, oddZeros) * 4 >= sample) return TextKind::Utf16;
    return TextKind::Binary;
}

QString textKindProblem(TextKind kind, const QString& fileName) {
    switch (kind) {
    case TextKind::Text: return {};
    case TextKind::Empty:
        return QStringLiteral("%1 is empty: there is nothing to restore.").arg(fileName);
    case TextKind::Utf16:
        return QStringLiteral("%1 is UTF-16 text; a dump is read as UTF-8. Convert it first (for "
                              "example: iconv -f UTF-16 -t UTF-8 %1 > converted.sql) and "
                              "restore the converted file.")
            .arg(fileName);
    case TextKind::Binary:
        return QStringLiteral("%1 is not a text file (it holds NUL bytes), so it cannot be a "
                              "dump. Choose the .sql file that Lorvex wrote (a gzip-compressed "
                              ".sql.gz is read as it is; other archives must be unpacked first).")
            .arg(fileName);
    case TextKind::Xml:
        return QStringLiteral("%1 is an XML dump (as mariadb-dump --xml writes), not SQL; it "
                              "cannot be restored. Dump the database again without --xml.")
            .arg(fileName);
    }
    return {};
}

QString usedDatabase(std::string_view statement, sqllex::Rules rules) {
    Statement st(statement, rules);
    std::string database;
    if (!st.take().is("USE") || !st.name(database)) return {};
    return QString::fromStdString(st.lastName());
}

QString quotedNames(const std::vector<QString>& names) {
    QStringList quoted;
    for (const QString& name : names) quoted << u'`' + name + u'`';
    return quoted.join(QStringLiteral(", "));
}

QString foreignReason(std::string_view statement, const QString& database, sqllex::Rules rules) {
    return classify(statement, database.toStdString(), rules);
}

QString ScriptScan::foreignList(const QString& fileName, std::size_t shown) const {
    QStringList lines;
    for (std::size_t i = 0; i < foreign.size() && i < shown; ++i) {
        const ForeignStatement& f = foreign[i];
        lines << QStringLiteral("%1 line %2: %3\n    %4")
                     .arg(fileName)
                     .arg(f.line)
                     .arg(f.reason, QString::fromUtf8(f.text).simplified());
    }
    if (foreignCount > std::min<std::uint64_t>(shown, foreign.size()))
        lines << QStringLiteral("and %1 more.")
                     .arg(foreignCount - std::min<std::uint64_t>(shown, foreign.size()));
    return lines.join(u'\n');
}

namespace {

template <typename Reader>
void scanStatements(Reader& reader, ScriptScan& scan, const QString& database, std::size_t limit,
                    sqllex::Rules rules) {
    std::string_view statement;
    sqllex::SqlModeFollower mode(rules);
    const auto foreign = [&](const QString& reason) {
        ++scan.foreignCount;
        if (scan.foreign.size() >= ScriptScan::kListed) return;
        const std::string_view text = statement.substr(0, kTextShown);
        scan.foreign.push_back({reader.line(), reason, QByteArray(text.data(), qsizetype(text.size()))});
    };
    while (reader.next(statement)) {
        ++scan.statements;
        // Larger than any server takes: the restore skips it, whatever it says.
        if (reader.skippedLength() > StatementReader::kDefaultLimit) continue;
        // Only its start was held: what the rest does is not known, unless it is rows.
        const std::string_view word = firstWord(statement);
        if (reader.skippedLength() > 0 && !isWord(word, "INSERT") && !isWord(word, "REPLACE")) {
            foreign(QStringLiteral("is longer than %1 bytes: only its start was read through, so "
                                   "what it does was not checked")
                        .arg(limit));
            continue;
        }
        const sqllex::Rules now = mode.rules();
        for (QString& name : replacedObjects(statement, database, now))
            if (std::find(scan.replaced.begin(), scan.replaced.end(), name) == scan.replaced.end())
                scan.replaced.push_back(std::move(name));
        if (QString used = usedDatabase(statement, now);
            !used.isEmpty() &&
            std::find(scan.databases.begin(), scan.databases.end(), used) == scan.databases.end())
            scan.databases.push_back(std::move(used));
        if (const QString reason = foreignReason(statement, database, now); !reason.isEmpty())
            foreign(reason);
        mode.after(statement);
        if constexpr (requires { reader.setRules(now); }) reader.setRules(mode.rules());
    }
}

}  // namespace

ScriptScan scanScript(QIODevice& input, const QString& database, bool plain,
                      const std::function<bool()>& stop, std::size_t limit, sqllex::Rules rules) {
    ScriptScan scan;
    scan.kind = sniffText(input.peek(kSniffBytes));
    if (scan.kind != TextKind::Text) return scan;
    if (plain) {
        sqllex::SqlScriptReader reader(input, limit, rules);
        reader.stopWhen(stop);
        scanStatements(reader, scan, database, limit, rules);
        scan.stopped = reader.stopped();
        return scan;
    }
    StatementReader reader(input, limit, true);
    reader.stopWhen(stop);
    // This program's own dumps are written and read in the default mode.
    scanStatements(reader, scan, database, limit, sqllex::Rules{});
    scan.stopped = reader.stopped();
    scan.ctrlZLine = reader.ctrlZLine();
    return scan;
}

namespace {

// A script whose first statement ends with a plain ";" is no dump of this program, even
// where a routine further down holds the end marker at the end of a line.
bool plainBeforeMarker(const QByteArray& head) {
    qsizetype start = 0;
    while (start < head.size()) {
        qsizetype end = head.indexOf('\n', start);
        if (end < 0) end = head.size();
        const std::string_view line = StatementReader::trim(
            std::string_view(head.constData() + start, std::size_t(end - start)));
        start = end + 1;
        if (line.empty() || line.front() == '#' || line.starts_with("--")) continue;
        if (line.ends_with(kMarker)) return false;
        if (line.ends_with(';')) return true;
    }
    return false;
}

}  // namespace

ScriptSniff sniffScript(const QByteArray& head, const QString& fileName) {
    FormatGuess guess = guessScriptFormat(head);
    if (guess.format == ScriptFormat::Own && plainBeforeMarker(head)) guess.format = ScriptFormat::Plain;
    ScriptSniff sniff;
    if (guess.format == ScriptFormat::NotSql)
        sniff.notSql = QStringLiteral("%1 cannot be restored: line %2 is not SQL, and the file is no "
                                  "dump of this program either (no statement ends with \";#+----\"). "
                                  "Nothing was restored.")
                       .arg(fileName)
                       .arg(guess.line);
    sniff.plain = guess.format == ScriptFormat::Plain;
    return sniff;
}

QString RestoreCheck::formatText() const {
    return plain ? QStringLiteral("a plain SQL script (as mariadb-dump and mysqldump write)")
                 : QStringLiteral("a Lorvex dump");
}

RestoreCheck checkRestore(const QString& scriptPath, const QString& dataPath,
                          const QString& database, const std::function<bool()>& stop,
                          sqllex::Rules rules) {
    constexpr std::size_t kShown = 15;
    RestoreCheck check;
    QStringList foreign, ctrlZ;
    for (const QString& path : {scriptPath, dataPath}) {
        if (path.isEmpty()) continue;
        // A pipe can be read once only: the run refuses as it goes (refuseForeign).
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode)) {
            check.unscanned = true;
            continue;
        }
        const QString name = QFileInfo(path).fileName();
        std::unique_ptr<QIODevice> opened;
        try {
            opened = files::RestoreInput::open(path);
        } catch (const files::ReadError& e) {
            check.problem = e.text();
            return check;
        }
        QIODevice& file = *opened;
        // The data file is this program's own; the script may be any SQL script.
        if (path == scriptPath) {
            const ScriptSniff sniff = sniffScript(file.peek(kSniffBytes), name);
            check.plain = sniff.plain;
            if (!sniff.notSql.isEmpty() && sniffText(file.peek(kSniffBytes)) == TextKind::Text) {
                check.problem = sniff.notSql;
                return check;
            }
        }
        const ScriptScan scan = scanScript(file, database, path == scriptPath && check.plain, stop,
                                           kScanHeld, rules);
        if (scan.stopped) {
            check.stopped = true;
            check.problem = QStringLiteral("Stopped while %1 was read through; nothing was "
                                           "restored.")
                                .arg(name);
            return check;
        }
        // An empty data file is no problem: a database without rows has one.
        if (scan.kind != TextKind::Text && !(scan.kind == TextKind::Empty && path == dataPath)) {
            check.problem = textKindProblem(scan.kind, name);
            return check;
        }
        if (scan.foreignCount) foreign << scan.foreignList(name, kShown);
        check.foreignCount += scan.foreignCount;
        if (scan.ctrlZLine)
            ctrlZ << QStringLiteral("line %1 of %2").arg(scan.ctrlZLine).arg(name);
        if (path == scriptPath) {
            check.replaced = scan.replaced;
            check.databases = scan.databases;
        }
    }
    check.foreign = foreign.join(u'\n');
    check.ctrlZ = ctrlZ.join(QStringLiteral(" and "));
    return check;
}

}  // namespace dump
