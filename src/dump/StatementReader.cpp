#include "dump/StatementReader.h"

#include <QIODevice>
#include <algorithm>
#include <array>
#include <cstring>

#include "dump/DumpFormat.h"

namespace dump {

namespace {

constexpr qint64 kReadSize = qint64(1) << 20;
constexpr char kCtrlZ = '\x1a';


bool endsWithMarker(std::string_view text) {
    return text.size() >= kMarker.size() && text.substr(text.size() - kMarker.size()) == kMarker;
}

}  // namespace

void StatementReader::Quotes::over(std::string_view text) {
    for (const char c : text) {
        if (escaped) {
            escaped = false;
        } else if (open) {
            // A doubled quote closes and opens again: the same state as before it.
            if (c == '\\' && open != '`')
                escaped = true;
            else if (c == open)
                open = 0;
        } else if (c == '\'' || c == '"' || c == '`') {
            open = c;
        }
    }
}

StatementReader::Quotes StatementReader::pendingQuotes() {
    if (quotesScanned_ < pending_.size()) {
        pendingQuotes_.over(std::string_view(pending_).substr(quotesScanned_));
        quotesScanned_ = pending_.size();
    }
    return pendingQuotes_;
}

void StatementReader::clearPending() {
    pending_.clear();
    pendingQuotes_ = {};
    quotesScanned_ = 0;
}

StatementReader::StatementReader(QIODevice& input, std::size_t limit, bool pastCtrlZ)
    : input_(input), limit_(std::max<std::size_t>(limit, 1)), pastCtrlZ_(pastCtrlZ) {}

const char* StatementReader::lineEnd(const char* from, const char* end) const {
    const char* cr = static_cast<const char*>(std::memchr(from, '\r', std::size_t(end - from)));
    const char* lineStart = chunk_.data() + pos_;
    const char* limit = cr ? cr : end;
    for (const char* lf = from; (lf = static_cast<const char*>(
                                     std::memchr(lf, '\n', std::size_t(limit - lf))));
         ++lf) {
        if (std::size_t(lf - lineStart) >= kMarker.size() &&
            std::string_view(lf - kMarker.size(), kMarker.size()) == kMarker)
            return lf;
    }
    return cr;
}

// Stops the reading at a statement the server could not take anyway.
bool StatementReader::tooLong(std::size_t length) {
    if (length <= limit_) return false;
    error_ = QStringLiteral(
                 "The statement that starts on line %1 is longer than %2 bytes, more than the "
                 "server accepts (max_allowed_packet); nothing from that line on was run. Is "
                 "this a dump file?")
                 .arg(pending_.empty() ? lineNumber_ + 1 : pendingLine_)
                 .arg(limit_);
    clearPending();
    stop_ = true;
    return true;
}

std::string_view StatementReader::trim(std::string_view text) {
    while (!text.empty() && isBlankByte(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlankByte(text.back())) text.remove_suffix(1);
    return text;
}

bool StatementReader::isCommentLine(std::string_view t) {
    static constexpr std::array<std::string_view, 19> prefixes = {
        "# Dump", "# MySQ", "# Tabl", "# Drop", "# Host", "# Serv", "#-----",
        "# dump", "# mysq", "# tabl", "# drop", "# host", "# serv", "# DUMP",
        "# MYSQ", "# TABL", "# DROP", "# HOST", "# SERV"};
    if (t == "#") return true;
    if (t.size() < 6) return false;
    return std::find(prefixes.begin(), prefixes.end(), t.substr(0, 6)) != prefixes.end();
}

// Reads more input behind the unread part; false when nothing more came.
bool StatementReader::fill() {
    if (inputEnded_) return false;
    // Not before the first read: what a Stop right at the start finds is run as far as
    // one piece goes.
    if (stopWhen_ && reads_++ > 0 && stopWhen_()) {
        stopped_ = inputEnded_ = true;
        return false;
    }
    chunk_.erase(0, pos_);
    pos_ = 0;
    const std::size_t old = chunk_.size();
    // A small file is read in one piece of its own size rather than a full buffer.
    qint64 want = kReadSize;
    if (!input_.isSequential()) want = std::clamp<qint64>(input_.bytesAvailable(), 1, kReadSize);
    chunk_.resize(old + std::size_t(want));
    const qint64 n = input_.read(chunk_.data() + old, want);
    if (n < 0) error_ = QStringLiteral("Cannot read the file to its end: %1").arg(input_.errorString());
    chunk_.resize(old + std::size_t(std::max<qint64>(n, 0)));
    if (n <= 0) inputEnded_ = true;
    // A byte-order mark an editor put at the head of the file is no part of the first line.
    if (!headSeen_ && (chunk_.size() >= 3 || inputEnded_)) {
        headSeen_ = true;
        if (std::string_view(chunk_).starts_with("\xEF\xBB\xBF")) {
            pos_ = 3;
            consumed_ += 3;
        }
    }
    return n > 0;
}

bool StatementReader::nextLine(std::string_view& line) {
    if (stop_) return false;
    std::size_t searchFrom = pos_;
    for (;;) {
        const char* begin = chunk_.data() + searchFrom;
        const char* end = chunk_.data() + chunk_.size();
        const char* cr = lineEnd(begin, end);
        const char* z = nullptr;
        if (!pastCtrlZ_) {
            // The first Ctrl-Z outside quotes ends the input; next() drops them otherwise.
            const char* lineStart = chunk_.data() + pos_;
            const char* to = cr ? cr : end;
            for (const char* at = begin; at < to &&
                 (z = static_cast<const char*>(std::memchr(at, kCtrlZ, std::size_t(to - at))));
                 at = z + 1, z = nullptr) {
                if (lineScanned_ == 0) lineQuotes_ = pendingQuotes();
                lineQuotes_.over(std::string_view(lineStart + lineScanned_,
                                                  std::size_t(z - lineStart) - lineScanned_));
                lineScanned_ = std::size_t(z - lineStart);
                if (!lineQuotes_.open) break;
            }
            if (z && !ctrlZLine_) ctrlZLine_ = lineNumber_ + 1;
        }
        if (z) {
            line = std::string_view(chunk_.data() + pos_, std::size_t(z - (chunk_.data() + pos_)));
            consumed_ += qint64(z - (chunk_.data() + pos_)) + 1;
            pos_ = chunk_.size();
            stop_ = true;
            ++lineNumber_;
            lineScanned_ = 0;
            return true;
        }
        // A CR at the very end may be the first half of CR LF: read on before deciding.
        if (cr && (cr + 1 < end || inputEnded_)) {
            const std::size_t start = pos_;
            std::size_t stop = std::size_t(cr - chunk_.data());
            std::size_t after = stop + 1;
            if (*cr == '\r' && after < chunk_.size() && chunk_[after] == '\n') ++after;
            line = std::string_view(chunk_.data() + start, stop - start);
            consumed_ += qint64(after - start);
            pos_ = after;
            ++lineNumber_;
            lineScanned_ = 0;
            return true;
        }
        const std::size_t scanned = cr ? std::size_t(cr - chunk_.data()) : chunk_.size();
        const std::size_t rescanOffset = scanned - pos_;
        if (tooLong(pending_.size() + rescanOffset)) return false;
        const bool more = fill();
        if (stopped_) {
            stop_ = true;
            return false;
        }
        searchFrom = pos_ + rescanOffset;  // fill() moved the unread part to the front
        if (more || cr) continue;          // a CR at the end of the input ends its line
        if (pos_ < chunk_.size()) {
            // The last line, without a line break.
            line = std::string_view(chunk_.data() + pos_, chunk_.size() - pos_);
            consumed_ += qint64(chunk_.size() - pos_);
            pos_ = chunk_.size();
            ++lineNumber_;
            stop_ = true;
            return true;
        }
        stop_ = true;
        return false;
    }
}

bool StatementReader::skipped(std::string_view trimmed) {
    if (!isCommentLine(trimmed)) return false;
    if (onComment_) onComment_(trimmed);
    return true;
}

std::string_view StatementReader::withoutLeadingComments(std::string_view statement) {
    while (!statement.empty() && statement.front() == '#') {
        const std::size_t lf = statement.find('\n');
        if (lf == std::string_view::npos || !skipped(trim(statement.substr(0, lf)))) break;
        statement = trim(statement.substr(lf + 1));
    }
    return statement;
}

// False for a statement that is nothing once its comment lines are gone.
bool StatementReader::complete(std::string_view& statement) {
    statement = withoutLeadingComments(statement);
    if (statement.empty()) return false;
    if (statement.front() == '#' && decodeHexForm(statement, decoded_)) statement = decoded_;
    return true;
}

bool StatementReader::next(std::string_view& statement) {
    std::string_view line;
    while (nextLine(line)) {
        std::string_view t = trim(line);
        if (pastCtrlZ_ && std::memchr(line.data(), kCtrlZ, line.size())) {
            // Dropped where it is damage, kept inside a quoted value.
            Quotes quotes = pending_.empty() ? Quotes{} : pendingQuotes();
            cleaned_.clear();
            for (const char c : line) {
                if (c == kCtrlZ && !quotes.open) {
                    if (!ctrlZLine_) ctrlZLine_ = lineNumber_;
                    continue;
                }
                quotes.over(std::string_view(&c, 1));
                cleaned_ += c;
            }
            t = trim(cleaned_);
        }
        // With LF line breaks a comment line and what follows it are one line here.
        if (!t.empty() && t.front() == '#' && std::memchr(t.data(), '\n', t.size()))
            t = withoutLeadingComments(t);
        if (skipped(t)) continue;
        if (pending_.empty()) {
            if (t.empty()) continue;
            pendingLine_ = lineNumber_;
            if (endsWithMarker(t)) {
                // The usual case, one statement on one line: no copy.
                statementLine_ = lineNumber_;
                statement = t.substr(0, t.size() - kMarker.size());
                if (!complete(statement)) continue;
                return true;
            }
        }
        if (tooLong(pending_.size() + t.size())) return false;
        pending_.append(t);
        if (endsWithMarker(t)) {
            statement_ = trim(pending_);
            statement_.resize(statement_.size() - kMarker.size());
            clearPending();
            statementLine_ = lineNumber_;
            statement = statement_;
            if (!complete(statement)) continue;
            return true;
        }
    }
    if (pending_.empty()) pendingLine_ = 0;
    return false;
}

}  // namespace dump
