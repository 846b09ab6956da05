#pragma once
#include <string>
#include <string_view>

// Character classes and case folding of the source language. Only ASCII
// counts: a byte above 127 is of no class and folds to itself, whatever the
// locale.
namespace ascii {

constexpr bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool isLower(char c) { return c >= 'a' && c <= 'z'; }
// A-Z and a-z, without "_".
constexpr bool isLetter(char c) { return isUpper(c) || isLower(c); }
constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool isHexDigit(char c) { return isDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
// The first byte of a name: a letter or "_".
constexpr bool isNameStart(char c) { return isLetter(c) || c == '_'; }
// A byte of a name: a letter, a digit or "_".
constexpr bool isNameChar(char c) { return isNameStart(c) || isDigit(c); }

constexpr char toLower(char c) { return isUpper(c) ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char toUpper(char c) { return isLower(c) ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (toLower(a[i]) != toLower(b[i])) return false;
    return true;
}

}  // namespace ascii

inline std::string lowerAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = ascii::toLower(c);
    return r;
}

inline std::string upperAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = ascii::toUpper(c);
    return r;
}
