#pragma once

// Text helpers that act on ASCII letters only: protocol names, header names,
// class names and file-name stems compare this way, whatever the locale.

#include <cstddef>
#include <string>
#include <string_view>

namespace text {

inline char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}
inline char asciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

inline std::string asciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = asciiLower(c);
    return out;
}

inline std::string asciiUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = asciiUpper(c);
    return out;
}

// True when the two texts differ at most in the case of ASCII letters.
inline bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    return true;
}

// True when `s` begins with `prefix`, ASCII letters compared without case.
inline bool startsWithIgnoringCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && equalsIgnoringCase(s.substr(0, prefix.size()), prefix);
}

// `s` with every occurrence of `what` taken out.
inline std::string removeAll(std::string s, std::string_view what) {
    if (what.empty())
        return s;
    for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at))
        s.erase(at, what.size());
    return s;
}

} // namespace text
