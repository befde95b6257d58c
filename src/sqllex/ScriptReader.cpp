#include "sqllex/ScriptReader.h"

#include <QBuffer>
#include <QIODevice>
#include <algorithm>
#include <cstring>

#include "files/SqlBytes.h"
#include "sqllex/Lexer.h"
#include "sqllex/ReadPieces.h"

namespace sqllex {

using sqlbytes::isBlankByte;
using sqlbytes::isNameByte;

namespace {

constexpr qint64 kReadSize = qint64(kReadPiece);
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Enough to tell every command and comment opener apart at the start of a statement.
constexpr std::size_t kLookahead = 12;

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }
char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

bool startsNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return lower(a) == lower(b); });
}

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), lower);
    return out;
}

bool dashCommentAt(std::string_view s) { return sqllex::dashCommentAt(s, 0); }
bool plainCommentAt(std::string_view s) { return sqllex::plainCommentAt(s, 0); }
std::size_t conditionalOpener(std::string_view s) { return sqllex::conditionalOpener(s, 0); }

// The words of a SET statement, as far as following the client character set needs them.
class SetWords {
public:
    explicit SetWords(std::string_view s) : s_(s) {}

    bool word(std::string_view w) {
        blanks();
        const std::string_view rest = s_.substr(i_);
        if (!startsNoCase(rest, w) || (rest.size() > w.size() && isNameByte(rest[w.size()])))
            return false;
        i_ += w.size();
        return true;
    }
    bool symbol(char c) {
        blanks();
        if (i_ >= s_.size() || s_[i_] != c) return false;
        ++i_;
        return true;
    }
    // A name, a quoted value without its quotes or a variable ("@x", "@@session.x"),
    // in lower case; empty for anything else.
    std::string value() {
        blanks();
        if (i_ >= s_.size()) return {};
        const char quote = s_[i_];
        if (quote == '\'' || quote == '"' || quote == '`') {
            const std::size_t close = s_.find(quote, i_ + 1);
            const std::size_t end = close == std::string_view::npos ? s_.size() : close;
            std::string v = lowered(s_.substr(i_ + 1, end - i_ - 1));
            i_ = std::min(s_.size(), end + 1);
            return v;
        }
        const std::size_t start = i_;
        while (i_ < s_.size() && (isNameByte(s_[i_]) || s_[i_] == '@' || s_[i_] == '.')) ++i_;
        return lowered(s_.substr(start, i_ - start));
    }

private:
    void blanks() {
        while (i_ < s_.size() && isBlankByte(s_[i_])) ++i_;
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

// "@@session.x", "@@local.x" and "@@x" name the session's x; "@@global.x" is not the session.
std::string_view sessionVariable(std::string_view name, bool& global) {
    if (!name.starts_with("@@")) return name;
    name.remove_prefix(2);
    for (std::string_view scope : {"session.", "local."})
        if (name.starts_with(scope)) return name.substr(scope.size());
    if (name.starts_with("global.")) {
        global = true;
        return name.substr(7);
    }
    return name;
}

}  // namespace

SqlScriptReader::SqlScriptReader(QIODevice& input, std::size_t limit, Rules rules)
    : input_(input), limit_(std::max<std::size_t>(limit, 1)), rules_(rules) {
    buildTables();
}

void SqlScriptReader::setRules(Rules rules) {
    if (rules == rules_) return;
    rules_ = rules;
    buildTables();
}

void SqlScriptReader::buildTables() {
    lead_.fill(0);
    if (multiByte_ == MultiByte::Sjis) {
        // SJIS has one-byte katakana in 0xA1..0xDF.
        for (int c = 0x81; c <= 0x9F; ++c) lead_[c] = 1;
        for (int c = 0xE0; c <= 0xFC; ++c) lead_[c] = 1;
    } else if (multiByte_ != MultiByte::None) {
        for (int c = 0x81; c <= 0xFE; ++c) lead_[c] = 1;
    }
    code_ = single_ = double_ = backtick_ = lead_;
    for (unsigned char c : {'\'', '"', '`', '#', '-', '/', '\n'}) code_[c] = 1;
    const char first = delimiter_.front();
    code_[static_cast<unsigned char>(lower(first))] = 1;
    code_[static_cast<unsigned char>(upper(first))] = 1;
    // A backslash stops the scan only where it escapes.
    for (unsigned char c : {'\'', '\n'}) single_[c] = 1;
    for (unsigned char c : {'"', '\n'}) double_[c] = 1;
    if (escapesInside('\'', rules_)) single_['\\'] = 1;
    if (escapesInside('"', rules_)) double_['\\'] = 1;
    for (unsigned char c : {'`', '\n'}) backtick_[c] = 1;
}

// Reads more input behind the unread part (behind the statement being read); false when
// nothing more came.
bool SqlScriptReader::fill() {
    if (inputEnded_) return false;
    // Not before the first read: what a Stop right at the start finds is run as far as
    // one piece goes.
    if (stopWhen_ && reads_++ > 0 && stopWhen_()) {
        stopped_ = inputEnded_ = true;
        return false;
    }
    // What was read ahead does not count: the outcome must not depend on the read sizes.
    if (inStatement_ && !skipping_ && pos_ - start_ > limit_) {
        if (!skippable_) {
            tooLong();
            return false;
        }
        skipping_ = true;
        skipFrom_ = dropped_ + qint64(start_);
        skipBlanks_ = 0;
        head_.clear();
    }
    const std::size_t keep = inStatement_ && !skipping_ ? start_ : pos_;
    if (skipping_ && keep > 0) {
        const std::size_t from = std::size_t(std::max<qint64>(skipFrom_ - dropped_, 0));
        if (head_.size() < kSkippedHead)
            head_.append(chunk_, from, std::min(kSkippedHead - head_.size(), keep - from));
        // Its length leaves out the blanks before the delimiter, which may be let go of here.
        std::size_t blanks = 0;
        while (blanks < keep - from && isBlankByte(chunk_[keep - 1 - blanks])) ++blanks;
        skipBlanks_ = blanks == keep - from ? skipBlanks_ + blanks : blanks;
    }
    if (keep > 0) {
        std::memmove(chunk_.data(), chunk_.data() + keep, size_ - keep);
        size_ -= keep;
        dropped_ += qint64(keep);
        pos_ -= keep;
        if (inStatement_) start_ = 0;
    }
    // A small file is read in one piece of its own size rather than a full buffer.
    qint64 want = kReadSize;
    if (!input_.isSequential()) want = std::clamp<qint64>(input_.bytesAvailable(), 1, kReadSize);
    // Grown, never shrunk: a pipe hands out small pieces, and each must not clear a new buffer.
    // Never doubled past what a statement at the limit needs, which is then held about once.
    const std::size_t most = std::min(limit_, std::size_t(1) << 40) + 2 * std::size_t(kReadSize);
    if (chunk_.size() < size_ + std::size_t(want)) {
        reserveFor(chunk_, size_ + std::size_t(want), limit_);
        chunk_.resize(std::max(size_ + std::size_t(want), std::min(2 * chunk_.size(), most)));
    }
    const qint64 n = input_.read(chunk_.data() + size_, want);
    if (n < 0) error_ = QStringLiteral("Cannot read the file to its end: %1").arg(input_.errorString());
    size_ += std::size_t(std::max<qint64>(n, 0));
    if (n <= 0) inputEnded_ = true;
    peak_ = std::max(peak_, chunk_.size() + head_.size());
    return n > 0;
}

// At least `bytes` unread bytes in the buffer, unless the input ends first.
bool SqlScriptReader::ensure(std::size_t bytes) {
    while (size_ - pos_ < bytes)
        if (!fill()) return false;
    return true;
}

// Stops the reading at a statement the server could not take anyway.
void SqlScriptReader::tooLong() {
    error_ = QStringLiteral(
                 "The statement that starts on line %1 is longer than %2 bytes, more than the "
                 "server accepts (max_allowed_packet); nothing from that line on was run.")
                 .arg(startLine_)
                 .arg(limit_);
    stop_ = true;
    inputEnded_ = true;
}

// The client compares the delimiter without letter case.
bool SqlScriptReader::delimiterAt(std::size_t at) const {
    return startsNoCase(text().substr(at), delimiter_);
}

void SqlScriptReader::skipLine() {
    for (;;) {
        const char* from = chunk_.data() + pos_;
        const void* lf = std::memchr(from, '\n', size_ - pos_);
        if (lf) {
            pos_ = std::size_t(static_cast<const char*>(lf) - chunk_.data()) + 1;
            ++lineNumber_;
            return;
        }
        pos_ = size_;
        if (!fill()) return;
    }
}

// From behind "/*" to behind its "*/".
void SqlScriptReader::skipBlockComment() {
    for (;;) {
        const char* base = chunk_.data();
        const char* p = base + pos_;
        const char* end = base + size_;
        while (p < end && *p != '*' && *p != '\n') ++p;
        pos_ = std::size_t(p - base);
        if (p == end) {
            if (!fill()) return;
            continue;
        }
        ++pos_;
        if (*p == '\n') {
            ++lineNumber_;
            continue;
        }
        ensure(1);
        if (pos_ < size_ && chunk_[pos_] == '/') {
            ++pos_;
            return;
        }
    }
}

// A lead byte: the byte after it belongs to the same character when it can.
void SqlScriptReader::skipCharacter() {
    ensure(2);
    ++pos_;
    if (pos_ >= size_) return;
    const auto c = static_cast<unsigned char>(chunk_[pos_]);
    const bool trail = (multiByte_ == MultiByte::Gb18030 && c >= 0x30 && c <= 0x39) ||
                       (c >= 0x40 && c != 0x7F && c <= (multiByte_ == MultiByte::Sjis ? 0xFC : 0xFE));
    if (trail) ++pos_;
}

// From behind the opening quote to behind the closing one; a doubled quote reads as a
// closed and a reopened string.
void SqlScriptReader::skipQuoted(char quote) {
    const Table& stops = quote == '\'' ? single_ : quote == '"' ? double_ : backtick_;
    for (;;) {
        const auto* base = reinterpret_cast<const unsigned char*>(chunk_.data());
        const auto* p = base + pos_;
        const auto* end = base + size_;
        while (p < end && !stops[*p]) ++p;
        pos_ = std::size_t(p - base);
        if (p == end) {
            if (!fill()) return;
            continue;
        }
        const char c = char(*p);
        if (c == quote) {
            ++pos_;
            return;
        }
        if (c == '\n') {
            ++lineNumber_;
            ++pos_;
        } else if (c == '\\') {
            ensure(2);
            ++pos_;
            if (pos_ < size_) lineNumber_ += chunk_[pos_++] == '\n';
        } else {
            skipCharacter();
        }
    }
}

// DELIMITER or \d: the next run of non-blank bytes on the line is the delimiter; the rest
// of the line goes with the command.
void SqlScriptReader::runCommand(std::size_t wordLength) {
    inStatement_ = true;  // keeps the command in the buffer while its argument is read
    start_ = pos_;
    startLine_ = lineNumber_;
    pos_ += wordLength;
    const auto advance = [&](bool overBlanks) {
        for (;;) {
            for (; pos_ < size_; ++pos_) {
                const char c = chunk_[pos_];
                if (overBlanks ? c == '\n' || !isBlankByte(c) : isBlankByte(c)) return;
            }
            if (!fill()) return;
        }
    };
    advance(true);
    const std::size_t from = pos_ - start_;  // fill() moves start_
    advance(false);
    if (!stop_ && pos_ - start_ > limit_) tooLong();
    inStatement_ = false;
    if (stop_) return;
    if (pos_ - start_ > from) {
        delimiter_.assign(chunk_, start_ + from, pos_ - start_ - from);
        buildTables();
    }
    skipLine();
}

// Passes over blanks, comments, empty statements and client commands; false at the end.
bool SqlScriptReader::skipToStatement() {
    if (!started_) {
        started_ = true;
        ensure(kByteOrderMark.size());
        if (text().substr(pos_).starts_with(kByteOrderMark))
            pos_ += kByteOrderMark.size();
    }
    for (;;) {
        if (stop_) return false;
        const char* base = chunk_.data();
        const char* p = base + pos_;
        const char* end = base + size_;
        for (; p < end && isBlankByte(*p); ++p) lineNumber_ += *p == '\n';
        pos_ = std::size_t(p - base);
        if (p == end) {
            if (!fill()) return false;
            continue;
        }
        ensure(std::max(kLookahead, delimiter_.size()));
        const std::string_view s = text().substr(pos_);
        if (startsNoCase(s, "delimiter") && (s.size() == 9 || isBlankByte(s[9]))) {
            runCommand(9);
        } else if (s.starts_with("\\d")) {
            runCommand(2);
        } else if (sandboxCommandAt(s)) {
            skipLine();
        } else if (delimiterAt(pos_)) {
            // Before comments, as inside a statement: a delimiter "#" is a delimiter.
            pos_ += delimiter_.size();
        } else if (s[0] == '#' || (s[0] == '-' && dashCommentAt(s))) {
            skipLine();
        } else if (plainCommentAt(s)) {
            pos_ += 2;
            skipBlockComment();
        } else {
            return true;
        }
    }
}

// From the first byte of a statement to its delimiter (true, `end` at the delimiter) or to
// the end of the input (false).
bool SqlScriptReader::scanStatement(std::size_t& end) {
    for (;;) {
        const auto* base = reinterpret_cast<const unsigned char*>(chunk_.data());
        const auto* p = base + pos_;
        const auto* stop = base + size_;
        while (p < stop && !code_[*p]) ++p;
        pos_ = std::size_t(p - base);
        if (p == stop) {
            if (!fill()) {
                end = size_;
                return false;
            }
            continue;
        }
        const unsigned char c = *p;
        if (c == '\n') {
            ++lineNumber_;
            ++pos_;
            continue;
        }
        if (lead_[c]) {
            skipCharacter();
            continue;
        }
        ensure(std::max<std::size_t>(4, delimiter_.size()));
        if (delimiterAt(pos_)) {
            end = pos_;
            pos_ += delimiter_.size();
            return true;
        }
        const std::string_view s = text().substr(pos_);
        ++pos_;
        if (c == '\'' || c == '"' || c == '`') {
            skipQuoted(char(c));
        } else if (c == '#' || (c == '-' && dashCommentAt(s))) {
            skipLine();
        } else if (c == '/' && plainCommentAt(s)) {
            ++pos_;
            skipBlockComment();
        }
    }
}

bool SqlScriptReader::next(std::string_view& statement) {
    skippedLength_ = 0;
    if (stop_ || !skipToStatement()) return false;
    inStatement_ = skippable_ = true;
    start_ = pos_;
    startLine_ = lineNumber_;
    std::size_t end = 0;
    const bool delimited = scanStatement(end);
    inStatement_ = skippable_ = false;
    // Unread input after a read error is not the end of a statement.
    if (stop_ || (!delimited && (failed() || stopped_))) {
        skipping_ = false;
        return false;
    }
    if (!delimited) stop_ = true;
    statementLine_ = startLine_;
    // Counted as the client sends it, with the blanks in front of the delimiter.
    if (!skipping_ && end - start_ > limit_) {
        skipFrom_ = dropped_ + qint64(start_);
        skipBlanks_ = 0;
        head_.clear();
        skipping_ = true;
    }
    if (skipping_) {
        skipping_ = false;
        const std::size_t from = std::size_t(std::max<qint64>(skipFrom_ - dropped_, 0));
        if (head_.size() < kSkippedHead)
            head_.append(chunk_, from, std::min(kSkippedHead - head_.size(), end - from));
        std::size_t trimmed = end;
        while (trimmed > from && isBlankByte(chunk_[trimmed - 1])) --trimmed;
        const std::size_t blanks = end - trimmed + (trimmed == 0 ? skipBlanks_ : 0);
        skippedLength_ = std::uint64_t(dropped_ + qint64(end) - skipFrom_) - blanks;
        if (head_.size() > skippedLength_) head_.resize(std::size_t(skippedLength_));
        // The text after it is read as the file means it, as if the statement had come whole.
        noteCharacterSet(head_);
        statement = head_;
        return true;
    }
    while (end > start_ && isBlankByte(chunk_[end - 1])) --end;
    statement = std::string_view(chunk_.data() + start_, end - start_);
    noteCharacterSet(statement);
    return true;
}

// Follows SET NAMES, SET CHARACTER SET and SET character_set_client, and user variables
// that save and restore it as mysqldump does around each table.
void SqlScriptReader::noteCharacterSet(std::string_view statement) {
    statement.remove_prefix(conditionalOpener(statement));
    SetWords words(statement);
    if (!words.word("set")) return;
    const MultiByte before = multiByte_;
    const auto resolve = [this](const std::string& value) {
        bool global = false;
        const std::string_view name = sessionVariable(value, global);
        if (value.starts_with("@@")) return name == "character_set_client" ? multiByte_ : MultiByte::None;
        if (value.starts_with('@')) {
            for (const auto& [variable, saved] : saved_)
                if (variable == value) return saved;
            return MultiByte::None;
        }
        if (value == "sjis" || value == "cp932") return MultiByte::Sjis;
        if (value == "gbk" || value == "big5") return MultiByte::Gbk;
        if (value == "gb18030") return MultiByte::Gb18030;
        return MultiByte::None;
    };
    do {
        if (words.word("names")) {
            multiByte_ = resolve(words.value());
            if (words.word("collate")) (void)words.value();
        } else if (words.word("charset") || (words.word("character") && words.word("set"))) {
            multiByte_ = resolve(words.value());
        } else {
            bool global = words.word("global") || words.word("persist") || words.word("persist_only");
            if (!global) (void)(words.word("session") || words.word("local"));
            const std::string target = words.value();
            if (target.empty() || !(words.symbol('=') || (words.symbol(':') && words.symbol('='))))
                break;
            const std::string value = words.value();
            const std::string_view name = sessionVariable(target, global);
            if (name == "character_set_client" && !global) {
                multiByte_ = resolve(value);
            } else if (target.starts_with('@') && !target.starts_with("@@")) {
                std::erase_if(saved_, [&](const auto& entry) { return entry.first == target; });
                bool valueGlobal = false;
                if (value.starts_with("@@") &&
                    sessionVariable(value, valueGlobal) == "character_set_client" && !valueGlobal) {
                    if (saved_.size() >= 16) saved_.erase(saved_.begin());
                    saved_.emplace_back(target, multiByte_);
                }
            }
        }
    } while (words.symbol(','));
    if (multiByte_ != before) buildTables();
}

bool sandboxCommandAt(std::string_view s) {
    return s.starts_with("/*M!999999\\-") || s.starts_with("/*!999999\\-");
}

std::vector<ScriptStatement> splitSqlScript(std::string_view text, Rules rules) {
    QByteArray bytes = QByteArray::fromRawData(text.data(), qsizetype(text.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    SqlScriptReader reader(buffer, SqlScriptReader::kDefaultLimit, rules);
    std::vector<ScriptStatement> out;
    std::string_view statement;
    while (reader.next(statement)) out.push_back({std::string(statement), reader.line()});
    return out;
}

}  // namespace sqllex
