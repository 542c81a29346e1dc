#include "core/text/encoding.h"

#include <cerrno>
#include <clocale>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <langinfo.h>
#endif

namespace text {

namespace {

std::mutex codeSetMutex;
std::string chosenCodeSet; // empty: the locale's own

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isUtf8Name(std::string_view name) {
    std::string n;
    for (char c : name)
        if (c != '-' && c != '_')
            n += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return n.empty() || n == "UTF8";
}

#ifndef _WIN32
// Converts with iconv; bytes that cannot be converted are replaced by
// `replacement` (already in the target code set) and skipped one at a time.
std::string convert(std::string_view in, const std::string& from, const std::string& to,
                    std::string_view replacement) {
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(in);
    std::string out;
    out.reserve(in.size() * 2);
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL: skip one input unit and mark it.
            out.append(replacement);
            size_t skip = 1;
            if (from == "UTF-8") {
                // Skip a whole UTF-8 sequence so one character gives one mark.
                unsigned char lead = static_cast<unsigned char>(*inPtr);
                skip = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
                if (skip > inLeft)
                    skip = inLeft;
            }
            inPtr += skip;
            inLeft -= skip;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    iconv_close(cd);
    return out;
}
#endif

#ifndef _WIN32
// Replaces invalid UTF-8 sequences with U+FFFD.
std::string sanitizeUtf8(std::string_view in) {
    return utf16ToUtf8(utf8ToUtf16(in));
}
#endif

} // namespace

std::u16string utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if (c >= 0xC2 && c < 0xF5) {
            size_t need = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
            char32_t v = c & (0x3F >> need);
            size_t k = 1;
            for (; k <= need && i + k < s.size(); ++k) {
                unsigned char cc = static_cast<unsigned char>(s[i + k]);
                if ((cc & 0xC0) != 0x80)
                    break;
                v = (v << 6) | (cc & 0x3F);
            }
            if (k == need + 1) {
                bool overlong = (need == 2 && v < 0x800) || (need == 3 && v < 0x10000);
                bool surrogate = v >= 0xD800 && v <= 0xDFFF;
                if (!overlong && !surrogate && v <= 0x10FFFF) {
                    cp = v;
                    len = need + 1;
                } else {
                    len = k;
                }
            } else {
                len = k;
            }
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size() * 3);
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

std::string ansiCodeSet() {
    {
        std::lock_guard lock(codeSetMutex);
        if (!chosenCodeSet.empty())
            return chosenCodeSet;
    }
#ifdef _WIN32
    return "CP" + std::to_string(GetACP());
#else
    const char* cs = nl_langinfo(CODESET);
    std::string name = cs ? cs : "";
    // The C locale names plain ASCII; a Linux system without a locale is in
    // practice a UTF-8 system, and ASCII would lose every Chinese character.
    if (name.empty() || name == "ANSI_X3.4-1968" || name == "ASCII" || name == "US-ASCII")
        return "UTF-8";
    return name;
#endif
}

void setAnsiCodeSet(std::string codeSet) {
    std::lock_guard lock(codeSetMutex);
    chosenCodeSet = std::move(codeSet);
}

#ifdef _WIN32
namespace {
UINT codePageOf(const std::string& name) {
    if (isUtf8Name(name))
        return CP_UTF8;
    if (name.size() > 2 && name.rfind("CP", 0) == 0 &&
        name.find_first_not_of("0123456789", 2) == std::string::npos && name.size() <= 7)
        return static_cast<UINT>(std::stoul(name.substr(2)));
    if (name == "GBK" || name == "GB2312")
        return 936;
    if (name == "GB18030")
        return 54936;
    return CP_ACP;
}
// Code pages that hold every Unicode character.
bool isUnicodeCodePage(UINT cp) {
    return cp == CP_UTF8 || cp == CP_UTF7 || cp == 54936;
}
std::string wideToCodePage(std::wstring w, UINT cp) {
    if (w.empty())
        return {};
    if (!isUnicodeCodePage(cp)) {
        // A character beyond the 16-bit range is one unrepresentable
        // character: one '?', not one per surrogate.
        std::wstring single;
        single.reserve(w.size());
        for (std::size_t i = 0; i < w.size(); ++i) {
            const bool high = w[i] >= 0xD800 && w[i] <= 0xDBFF;
            if (high && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF)
                ++i;
            single += (w[i] >= 0xD800 && w[i] <= 0xDFFF) ? L'?' : w[i];
        }
        w.swap(single);
    }
    int n = WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}
std::wstring codePageToWide(std::string_view s, UINT cp) {
    if (s.empty())
        return {};
    int n = MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}
} // namespace

std::string utf8ToAnsi(std::string_view utf8) {
    const std::u16string u = utf8ToUtf16(utf8);
    return wideToCodePage(std::wstring(u.begin(), u.end()), codePageOf(ansiCodeSet()));
}

std::string ansiToUtf8(std::string_view bytes) {
    return decodeToUtf8(bytes, ansiCodeSet());
}

std::string decodeToUtf8(std::string_view bytes, std::string_view codeSet) {
    const std::wstring w = codePageToWide(bytes, codePageOf(std::string(codeSet)));
    return utf16ToUtf8(std::u16string(w.begin(), w.end()));
}
#else
std::string utf8ToAnsi(std::string_view utf8) {
    const std::string to = ansiCodeSet();
    if (isUtf8Name(to))
        return sanitizeUtf8(utf8);
    return convert(utf8, "UTF-8", to, "?");
}

std::string ansiToUtf8(std::string_view bytes) {
    return decodeToUtf8(bytes, ansiCodeSet());
}

std::string decodeToUtf8(std::string_view bytes, std::string_view codeSet) {
    if (isUtf8Name(codeSet))
        return sanitizeUtf8(bytes);
    return convert(bytes, std::string(codeSet), "UTF-8", "\xEF\xBF\xBD");
}
#endif

bool decodeUtf8(std::string_view s, std::u32string& out) {
    static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const std::size_t extra = b < 0x80   ? 0
                                  : b < 0xC2 ? 4
                                  : b < 0xE0 ? 1
                                  : b < 0xF0 ? 2
                                  : b < 0xF5 ? 3
                                             : 4;
        if (extra > 3 || s.size() - i <= extra)
            return false;
        char32_t c = extra == 0 ? b : b & (0x3F >> extra);
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(s[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (next & 0x3F);
        }
        if (c < kLeast[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        out.push_back(c);
        i += extra + 1;
    }
    return true;
}

void appendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string xmlEscaped(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() + 8);
    for (const char c : utf8) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace text
