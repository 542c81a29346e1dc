#pragma once

// The updater's text codecs: the decoder for the percent-encoded file name
// the file-sharing site sends, and the three number routines that go with it.
// Plain functions without state.

#include <string>
#include <string_view>

namespace updater {

// `UrlDecode`: decodes percent escapes from left to right. An escape whose
// first digit is an upper-case C or D starts a two-byte UTF-8 sequence
// (%XX%YY), an upper-case E a three-byte one (%XX%YY%ZZ); the continuation
// bytes are only masked, never checked. Every other escape, including one
// written in lower case, is one byte of the ANSI code page. "+" stays "+".
// An escape that is cut short by the end of the text, or whose digits are not
// hexadecimal, is kept as it stands: the well-formed escapes before the fault
// (at least the "%") are copied unchanged and decoding goes on after them.
std::u16string UrlDecode(std::u16string_view text);
// The same on UTF-8 text; a lone surrogate that a sequence may produce comes
// out as U+FFFD.
std::string UrlDecode(std::string_view text);

// `DecToBase`: the digits of `n` (0 or more) in `base` (2 to 36), most
// significant first, no leading zeros; "0" for 0. Digits above 9 are A-Z.
std::string DecToBase(int n, int base);

// `BinToDec`: the value of a bit string as decimal text, the sum of 2 to the
// power k for every "1" k places from the right end; "0" when there is none.
// Exact for bit strings of any length.
std::string BinToDec(std::string_view bits);

// `BinToHex`: one upper-case hexadecimal digit for every group of 4
// characters from the left; a shorter last group is valued as it stands
// ("1" gives 1).
std::string BinToHex(std::string_view bits);

} // namespace updater
