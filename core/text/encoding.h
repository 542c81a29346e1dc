#pragma once

// Text conversions. Inside the program text is UTF-8 (`std::string`); where
// characters are counted they are UTF-16 code units (`std::u16string`).
// Files the system writes use the ANSI code page: on Linux the locale's code
// set (UTF-8 when the locale names none), or a code page chosen explicitly,
// such as CP936.

#include <string>
#include <string_view>

namespace text {

std::u16string utf8ToUtf16(std::string_view utf8);
// Appends the code points of `utf8` to `out`. False, with `out` partly
// filled, when it is not well-formed UTF-8 (overlong forms, surrogates and
// values past U+10FFFF included).
bool decodeUtf8(std::string_view utf8, std::u32string& out);
// Appends the UTF-8 form of the code point `c` to `out`.
void appendUtf8(char32_t c, std::string& out);
// Text between XML tags: '&', '<' and '>' escaped, every other byte kept.
std::string xmlEscaped(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view utf16);

// The code set used as the ANSI code page, as an iconv name ("UTF-8", "CP936").
std::string ansiCodeSet();
// Chooses the ANSI code set (an iconv name); an empty name returns to the
// locale's own. Used by tests and by a build for a Chinese system.
void setAnsiCodeSet(std::string codeSet);

// UTF-8 text to bytes of the ANSI code page. Characters the code page cannot
// represent become '?', as Windows does.
std::string utf8ToAnsi(std::string_view utf8);
// Bytes of the ANSI code page to UTF-8. Bytes that do not decode become
// U+FFFD.
std::string ansiToUtf8(std::string_view bytes);

// Bytes in the named code set (an iconv name such as "GBK") to UTF-8; absent
// code sets are treated as UTF-8. Undecodable bytes become U+FFFD.
std::string decodeToUtf8(std::string_view bytes, std::string_view codeSet);

} // namespace text
