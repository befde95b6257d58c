#pragma once

#include <string>
#include <string_view>

// Byte classes and hex digits for SQL text read or written as bytes. The dump engine and the
// SQL editor both scan and write such text; they share these so they agree on every byte.
namespace sqlbytes {

// The bytes the readers trim from lines and statements: blanks and control characters.
inline bool isBlankByte(char c) { return static_cast<unsigned char>(c) <= 32; }
// A byte of an unquoted SQL name (multi-byte characters included).
inline bool isNameByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

// `text` with its ASCII letters in upper case.
inline std::string upperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return out;
}

// Whether `text` is the word `upper` (given in upper case) in any letter case.
inline bool isWord(std::string_view text, std::string_view upper) {
    if (text.size() != upper.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = char(c - 32);
        if (c != upper[i]) return false;
    }
    return true;
}

// A statement's first word: up to a blank, a control byte or "(".
inline std::string_view firstWord(std::string_view s) {
    std::size_t end = 0;
    while (end < s.size() && static_cast<unsigned char>(s[end]) > 32 && s[end] != '(') ++end;
    return s.substr(0, end);
}

// Two upper-case hex digits for each byte, written at `out` (room: 2 * size); returns the
// end. For loops that write millions of binary values.
inline char* putHex(char* out, std::string_view bytes) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = kDigits[b >> 4];
        *out++ = kDigits[b & 15];
    }
    return out;
}

}  // namespace sqlbytes
