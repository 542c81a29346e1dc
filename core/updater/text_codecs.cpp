#include "core/updater/text_codecs.h"

#include "core/text/encoding.h"

#include <algorithm>
#include <stdexcept>

namespace updater {

namespace {

int hexValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

// The byte of the escape "%XX" at `at`, or -1 when the text there is not
// such an escape (too short, no "%", or a digit that is not hexadecimal).
int escapedByte(std::u16string_view text, size_t at) {
    if (at + 3 > text.size() || text[at] != u'%')
        return -1;
    const int high = hexValue(text[at + 1]);
    const int low = hexValue(text[at + 2]);
    if (high < 0 || low < 0)
        return -1;
    return high * 16 + low;
}

// One byte read through the ANSI code page.
std::u16string ansiCharacter(int byte) {
    const std::string bytes(1, static_cast<char>(byte));
    return text::utf8ToUtf16(text::ansiToUtf8(bytes));
}

} // namespace

std::u16string UrlDecode(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != u'%') {
            out += text[i++];
            continue;
        }
        // The upper-case lead digit alone decides how many escapes belong
        // together.
        const char16_t lead = i + 1 < text.size() ? text[i + 1] : u'\0';
        const size_t escapes = (lead == u'C' || lead == u'D') ? 2 : lead == u'E' ? 3 : 1;
        int bytes[3] = {-1, -1, -1};
        size_t good = 0;
        while (good < escapes && (bytes[good] = escapedByte(text, i + 3 * good)) >= 0)
            ++good;
        if (good < escapes) {
            // Cut short by the end of the text, or a digit that is not
            // hexadecimal: the escapes read so far are kept as they stand (at
            // least the "%"), and decoding goes on after them.
            const size_t keep = std::max<size_t>(3 * good, 1);
            out.append(text.substr(i, keep));
            i += keep;
            continue;
        }
        if (escapes == 2) {
            out += static_cast<char16_t>(((bytes[0] & 0x1F) << 6) | (bytes[1] & 0x3F));
        } else if (escapes == 3) {
            out += static_cast<char16_t>(((bytes[0] & 0x0F) << 12) | ((bytes[1] & 0x3F) << 6) |
                                         (bytes[2] & 0x3F));
        } else {
            out += ansiCharacter(bytes[0]);
        }
        i += 3 * escapes;
    }
    return out;
}

std::string UrlDecode(std::string_view text) {
    return text::utf16ToUtf8(UrlDecode(std::u16string_view(text::utf8ToUtf16(text))));
}

std::string DecToBase(int n, int base) {
    if (n < 0 || base < 2 || base > 36)
        throw std::invalid_argument("DecToBase needs a number of 0 or more and a base of 2 to 36");
    static constexpr char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string out;
    do {
        out += digits[n % base];
        n /= base;
    } while (n > 0);
    std::reverse(out.begin(), out.end());
    return out;
}

std::string BinToDec(std::string_view bits) {
    // Decimal digits, least significant first: doubled for every place,
    // plus one for every "1".
    std::string digits = "0";
    for (char c : bits) {
        int carry = c == '1' ? 1 : 0;
        for (char& d : digits) {
            const int v = (d - '0') * 2 + carry;
            d = static_cast<char>('0' + v % 10);
            carry = v / 10;
        }
        if (carry > 0)
            digits += static_cast<char>('0' + carry);
    }
    std::reverse(digits.begin(), digits.end());
    return digits;
}

std::string BinToHex(std::string_view bits) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t at = 0; at < bits.size(); at += 4)
        out += hex[std::stoi(BinToDec(bits.substr(at, 4)))];
    return out;
}

} // namespace updater
