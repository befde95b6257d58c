#pragma once

#include <QStringView>
#include <cstddef>
#include <string>
#include <string_view>

#include "sqllex/Rules.h"

// The one reading of SQL text in the program: quotes of each kind, comments ("#", "-- ",
// "/* */") and the code of conditional comments ("/*!NNNNN ... */", "/*M!NNNNN ... */"),
// which the server runs. The same template reads bytes (std::string_view: the restore, the
// look through a file, the history) and UTF-16 (the editor), so both agree on every quote.
namespace sqllex {

// The code of one character unit, whatever its type.
template <class C>
constexpr unsigned unitCode(C c) {
    if constexpr (sizeof(C) == 1)
        return static_cast<unsigned char>(c);
    else
        return unsigned(c);
}

// What the server skips between tokens: blanks and control characters.
template <class C>
constexpr bool isBlankUnit(C c) {
    return unitCode(c) <= 32;
}

// A unit of an unquoted name or number: the server takes every character from U+0080 on.
template <class C>
constexpr bool isWordUnit(C c) {
    const unsigned u = unitCode(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' ||
           u == '$' || u >= 0x80;
}

// Whether a backslash escapes the next character inside a text opened by `quote`.
constexpr bool escapesInside(unsigned quote, Rules rules) {
    return rules.backslashEscapes && (quote == '\'' || (quote == '"' && !rules.ansiQuotes));
}

// Whether `quote` opens a name rather than a string.
constexpr bool quotesName(unsigned quote, Rules rules) {
    return quote == '`' || (quote == '"' && rules.ansiQuotes);
}

constexpr bool isQuoteUnit(unsigned c) { return c == '\'' || c == '"' || c == '`'; }

// From `from` (behind the opening quote), the position behind the closing quote; npos when
// the text ends first. A doubled quote does not close the text.
template <class C>
std::size_t quotedEnd(std::basic_string_view<C> s, std::size_t from, unsigned quote, Rules rules) {
    const bool escapes = escapesInside(quote, rules);
    for (std::size_t i = from; i < s.size(); ++i) {
        const unsigned c = unitCode(s[i]);
        if (c == '\\' && escapes) {
            ++i;
        } else if (c == quote) {
            if (i + 1 < s.size() && unitCode(s[i + 1]) == quote)
                ++i;
            else
                return i + 1;
        }
    }
    return std::basic_string_view<C>::npos;
}

// A quoted text as the server reads its value: without its quotes, a doubled quote as one,
// and where backslashes escape, the character after a backslash as it stands.
template <class C>
std::basic_string<C> unquoted(std::basic_string_view<C> token, Rules rules) {
    std::basic_string<C> out;
    if (token.empty()) return out;
    const unsigned quote = unitCode(token[0]);
    const bool escapes = escapesInside(quote, rules);
    for (std::size_t i = 1; i < token.size(); ++i) {
        const unsigned c = unitCode(token[i]);
        if (c == '\\' && escapes && i + 1 < token.size()) {
            out += token[++i];
        } else if (c == quote) {
            if (i + 1 >= token.size() || unitCode(token[i + 1]) != quote) break;
            out += token[++i];
        } else {
            out += token[i];
        }
    }
    return out;
}

// s[i] is "-": two dashes open a comment only before a blank, a control character or the
// end, so "1--1" stays arithmetic.
template <class C>
bool dashCommentAt(std::basic_string_view<C> s, std::size_t i) {
    return i + 1 < s.size() && unitCode(s[i + 1]) == '-' &&
           (i + 2 == s.size() || isBlankUnit(s[i + 2]) || unitCode(s[i + 2]) == 0x7f);
}

// The length of the opener of a conditional comment at s[i] with its version number, or 0.
template <class C>
std::size_t conditionalOpener(std::basic_string_view<C> s, std::size_t i) {
    const auto at = [&](std::size_t k) { return i + k < s.size() ? unitCode(s[i + k]) : 0u; };
    if (at(0) != '/' || at(1) != '*') return 0;
    std::size_t n = at(2) == '!' ? 3 : at(2) == 'M' && at(3) == '!' ? 4 : 0;
    if (n == 0) return 0;
    while (at(n) >= '0' && at(n) <= '9') ++n;
    return n;
}

// "/*" at s[i] that opens a comment, not code the server runs.
template <class C>
bool plainCommentAt(std::basic_string_view<C> s, std::size_t i) {
    return i + 1 < s.size() && unitCode(s[i]) == '/' && unitCode(s[i + 1]) == '*' &&
           conditionalOpener(s, i) == 0;
}

enum class Kind : unsigned char {
    End,
    Blank,      // a run of blanks and control characters
    Comment,    // "#", "-- " to the line's end (without it), or "/* ... */"
    CodeOpen,   // "/*!NNNNN" or "/*M!NNNNN": what follows is code
    CodeClose,  // the "*/" that ends such code
    String,     // '...', or "..." without ANSI_QUOTES
    Name,       // `...`, or "..." with ANSI_QUOTES
    Word,       // a run of name characters: a word, a bare name or a number
    Symbol,     // any other single character
};

struct Token {
    Kind kind = Kind::End;
    std::size_t begin = 0;
    std::size_t end = 0;
    // A string, name or "/* */" comment that the text ended inside.
    bool open = false;
    std::size_t size() const { return end - begin; }
};

// Where a piece of text ended, for reading the next piece on (the editor's next line).
struct State {
    enum Inside : unsigned char { Code, Comment, Single, Double, Backtick };
    Inside inside = Code;
    bool inCode = false;  // inside the code of a conditional comment

    // As one small number (0 for plain code) and back: a QSyntaxHighlighter block state.
    int packed() const { return int(inside) | (inCode ? 8 : 0); }
    static State unpacked(int value) {
        if (value < 0) return {};
        return {Inside(value & 7), (value & 8) != 0};
    }
    friend bool operator==(const State&, const State&) = default;
};

// Reads tokens one after the other.
template <class C>
class Lexer {
public:
    using View = std::basic_string_view<C>;
    static constexpr std::size_t npos = View::npos;

    explicit Lexer(View text, Rules rules = {}, State state = {})
        : s_(text), rules_(rules), state_(state) {}

    Token next() {
        const std::size_t n = s_.size();
        Token t;
        t.begin = i_;
        if (i_ >= n) {
            t.end = n;
            return t;
        }
        if (state_.inside != State::Code) return carried();
        const unsigned c = unitCode(s_[i_]);
        if (isBlankUnit(s_[i_])) {
            std::size_t j = i_ + 1;
            while (j < n && isBlankUnit(s_[j])) ++j;
            return take(Kind::Blank, j);
        }
        if (c == '#' || (c == '-' && dashCommentAt(s_, i_))) {
            std::size_t j = i_;
            while (j < n && unitCode(s_[j]) != '\n') ++j;
            return take(Kind::Comment, j);
        }
        if (c == '/' && i_ + 1 < n && unitCode(s_[i_ + 1]) == '*') {
            if (const std::size_t opener = conditionalOpener(s_, i_)) {
                state_.inCode = true;
                return take(Kind::CodeOpen, i_ + opener);
            }
            state_.inside = State::Comment;
            i_ += 2;
            return carried(t.begin);
        }
        if (c == '*' && state_.inCode && i_ + 1 < n && unitCode(s_[i_ + 1]) == '/') {
            state_.inCode = false;
            return take(Kind::CodeClose, i_ + 2);
        }
        if (isQuoteUnit(c)) {
            state_.inside = c == '\'' ? State::Single : c == '"' ? State::Double : State::Backtick;
            ++i_;
            return carried(t.begin);
        }
        if (isWordUnit(s_[i_])) {
            std::size_t j = i_ + 1;
            while (j < n && isWordUnit(s_[j])) ++j;
            return take(Kind::Word, j);
        }
        return take(Kind::Symbol, i_ + 1);
    }

    // Where the next token starts, and what it starts inside.
    std::size_t position() const { return i_; }
    const State& state() const { return state_; }
    const Rules& rules() const { return rules_; }
    // Goes on from `at` in plain code (behind a token the caller read further itself).
    void seek(std::size_t at) { i_ = at; }

private:
    Token take(Kind kind, std::size_t end) {
        Token t{kind, i_, end, false};
        i_ = end;
        return t;
    }

    // The rest of a comment, string or name from i_, which began at `begin`.
    Token carried(std::size_t begin = npos) {
        if (begin == npos) begin = i_;
        std::size_t end = npos;
        Kind kind = Kind::Comment;
        if (state_.inside == State::Comment) {
            end = s_.find(View(commentEnd, 2), i_);
            if (end != npos) end += 2;
        } else {
            const unsigned quote = state_.inside == State::Single   ? '\''
                                   : state_.inside == State::Double ? '"'
                                                                    : '`';
            kind = quotesName(quote, rules_) ? Kind::Name : Kind::String;
            end = quotedEnd(s_, i_, quote, rules_);
        }
        Token t{kind, begin, end == npos ? s_.size() : end, end == npos};
        if (end != npos) state_.inside = State::Code;
        i_ = t.end;
        return t;
    }

    static constexpr C commentEnd[2] = {C('*'), C('/')};

    View s_;
    Rules rules_;
    State state_;
    std::size_t i_ = 0;
};

// The editor's text as UTF-16 units for the lexer.
inline std::u16string_view utf16(QStringView text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), std::size_t(text.size())};
}

using ByteLexer = Lexer<char>;
using TextLexer = Lexer<char16_t>;

}  // namespace sqllex
