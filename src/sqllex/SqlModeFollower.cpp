#include "sqllex/SqlModeFollower.h"

#include <algorithm>

#include "files/SqlBytes.h"
#include "sqllex/Lexer.h"

namespace sqllex {

namespace {

using sqlbytes::upperCase;

// The tokens of one SET statement that carry meaning, read one after the other.
class Assignments {
public:
    struct Target {
        enum Kind { None, Mode, Variable, Literal } kind = None;
        std::string text;  // a variable in upper case, a literal without its quotes
    };

    Assignments(std::string_view s, Rules rules) : s_(s), rules_(rules) {
        Lexer<char> lexer(s, rules);
        for (Token t = lexer.next(); t.kind != Kind::End; t = lexer.next())
            if (t.kind == Kind::Word || t.kind == Kind::Name || t.kind == Kind::String ||
                t.kind == Kind::Symbol)
                tokens_.push_back(t);
    }

    bool word(std::string_view upperWord) const {
        return k_ < tokens_.size() && tokens_[k_].kind == Kind::Word && upperCase(text()) == upperWord;
    }
    bool symbol(char c) const {
        return k_ < tokens_.size() && tokens_[k_].kind == Kind::Symbol &&
               s_[tokens_[k_].begin] == c;
    }
    bool atEnd() const { return k_ >= tokens_.size(); }
    void skip() { ++k_; }

    // sql_mode, @@[session.|local.]sql_mode or @name: the session's mode only.
    Target variable() {
        int ats = 0;
        for (; symbol('@'); skip()) ++ats;
        if (atEnd() || (tokens_[k_].kind != Kind::Word && tokens_[k_].kind != Kind::Name))
            return {};
        std::string name = nameText();
        skip();
        if (ats == 1) return {Target::Variable, upperCase(name)};
        if (ats == 2 && symbol('.')) {
            if (upperCase(name) != "SESSION" && upperCase(name) != "LOCAL") return {};
            skip();
            if (atEnd() || tokens_[k_].kind == Kind::Symbol) return {};
            name = nameText();
            skip();
        }
        return upperCase(name) == "SQL_MODE" ? Target{Target::Mode, {}} : Target{};
    }
    Target value() {
        if (!atEnd() && tokens_[k_].kind == Kind::String) {
            Target t{Target::Literal, unquoted(text(), rules_)};
            skip();
            return t;
        }
        return variable();
    }

private:
    std::string_view text() const { return s_.substr(tokens_[k_].begin, tokens_[k_].size()); }
    std::string nameText() const {
        return tokens_[k_].kind == Kind::Name ? unquoted(text(), rules_) : std::string(text());
    }

    std::string_view s_;
    Rules rules_;
    std::vector<Token> tokens_;
    std::size_t k_ = 0;
};

}  // namespace

void SqlModeFollower::after(std::string_view statement) {
    if (!maySetSqlMode(statement)) return;
    Assignments a(statement, rules_);
    a.skip();  // SET
    while (!a.atEnd()) {
        if (a.word("SESSION") || a.word("LOCAL")) a.skip();
        const Assignments::Target target = a.variable();
        if (target.kind != Assignments::Target::None && (a.symbol('=') || a.symbol(':'))) {
            while (a.symbol(':') || a.symbol('=')) a.skip();
            const Assignments::Target value = a.value();
            if (target.kind == Assignments::Target::Mode) {
                if (value.kind == Assignments::Target::Literal) rules_ = rulesOfSqlMode(value.text);
                for (const auto& [name, rules] : saved_)
                    if (value.kind == Assignments::Target::Variable && name == value.text)
                        rules_ = rules;
            } else if (target.kind == Assignments::Target::Variable &&
                       value.kind == Assignments::Target::Mode) {
                std::erase_if(saved_, [&](const auto& e) { return e.first == target.text; });
                if (saved_.size() < 16) saved_.emplace_back(target.text, rules_);
            }
        }
        // On to the next assignment.
        while (!a.atEnd() && !a.symbol(',')) a.skip();
        if (!a.atEnd()) a.skip();
    }
}

}  // namespace sqllex
