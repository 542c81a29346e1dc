#pragma once

// File paths as UTF-8 text and back: messages, journal lines and the office's
// file names carry paths as UTF-8 whatever the locale.

#include <filesystem>
#include <string>
#include <string_view>

namespace text {

// The path as UTF-8 text.
inline std::string pathToUtf8(const std::filesystem::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

// The path named by UTF-8 text.
inline std::filesystem::path pathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The path in Chinese quotation marks, for a message: “/folder/a.doc”.
inline std::string quotedPath(const std::filesystem::path& p) {
    return "“" + pathToUtf8(p) + "”";
}

} // namespace text
