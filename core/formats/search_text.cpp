#include "core/formats/search_text.h"

#include <algorithm>
#include <vector>

namespace formats {

namespace {

bool isSkipped(char32_t c) {
    switch (c) {
    // Word's marks for pictures, footnote and comment references, drawn
    // objects and optional hyphens; the soft hyphen and zero-width
    // characters everywhere.
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x08:
    case 0x1F:
    case 0xAD:
    case 0x200B:
    case 0x200C:
    case 0x200D:
    case 0x2060:
    case 0xFEFF:
        return true;
    default:
        return false;
    }
}

bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Characters mapped before the tables: quotes, spaces, hyphens.
std::optional<char32_t> punctuationForm(char32_t c) {
    switch (c) {
    case 0x1E: // Word's non-breaking hyphen
    case 0x2010:
    case 0x2011:
        return U'-';
    case 0xA0:
    case 0x2000:
    case 0x2001:
    case 0x2002:
    case 0x2003:
    case 0x2004:
    case 0x2005:
    case 0x2006:
    case 0x2007:
    case 0x2008:
    case 0x2009:
    case 0x200A:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return U' ';
    case 0x2018:
    case 0x2019:
    case 0x201A:
    case 0x201B:
    case 0x2032:
    case 0xFF07:
        return U'\'';
    case 0x201C:
    case 0x201D:
    case 0x201E:
    case 0x201F:
    case 0x2033:
    case 0x301D:
    case 0x301E:
    case 0xFF02:
        return U'"';
    default:
        return std::nullopt;
    }
}

// The generated entries of the Basic Multilingual Plane by code point, for a
// lookup without search: entry index + 1, 0 for a character that is its own
// form.
const std::vector<std::uint16_t>& basicPlaneEntries() {
    static const std::vector<std::uint16_t> table = [] {
        std::vector<std::uint16_t> t(0x10000, 0);
        for (std::size_t i = 0; i < detail::kFoldEntryCount; ++i)
            if (detail::kFoldEntries[i].codePoint < 0x10000)
                t[detail::kFoldEntries[i].codePoint] = static_cast<std::uint16_t>(i + 1);
        return t;
    }();
    return table;
}

void appendTableForm(char32_t c, std::u32string& out) {
    if (c >= 'a' && c <= 'z') {
        // The tables take the upper-case letter as the form of both.
        out.push_back(c - 'a' + 'A');
        return;
    }
    if (c < 0x80 || (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7A3)) {
        out.push_back(c);
        return;
    }
    const detail::FoldEntry* entry = nullptr;
    if (c < 0x10000) {
        if (const std::uint16_t i = basicPlaneEntries()[c])
            entry = &detail::kFoldEntries[i - 1];
    } else {
        const auto* begin = detail::kFoldEntries;
        const auto* end = detail::kFoldEntries + detail::kFoldEntryCount;
        const auto* it = std::lower_bound(
            begin, end, c, [](const detail::FoldEntry& e, char32_t v) { return e.codePoint < v; });
        if (it != end && it->codePoint == c)
            entry = it;
    }
    if (!entry) {
        out.push_back(c);
        return;
    }
    out.append(detail::kFoldPool + entry->offset, entry->length);
}

bool isCovered(char32_t c) {
    for (std::size_t i = 0; i < detail::kCoveredRangeCount; ++i)
        if (c >= detail::kCoveredRanges[i].first && c <= detail::kCoveredRanges[i].last)
            return true;
    return false;
}

bool isLatinLetter(char32_t c) {
    return c < 0x80 || (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7) ||
           (c >= 0x1E00 && c <= 0x1EFF) || (c >= 0x300 && c <= 0x36F);
}

// Decodes UTF-8; false on malformed input.
bool decodeUtf8(std::string_view s, std::u32string& out) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        int extra = 0;
        char32_t c = 0;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1;
            c = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            c = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            c = b & 0x07;
        } else {
            return false;
        }
        if (i + static_cast<std::size_t>(extra) >= s.size() + (extra == 0 ? 1 : 0))
            return false;
        for (int k = 1; k <= extra; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (t & 0x3F);
        }
        static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (c < kMinimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        out.push_back(c);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

} // namespace

void appendSearchForm(char32_t c, std::u32string& out) {
    // The common cases first: printable ASCII and CJK ideographs.
    if (c >= 0x20 && c < 0x7F) {
        out.push_back(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        return;
    }
    if (c >= 0x4E00 && c <= 0x9FFF) {
        out.push_back(c);
        return;
    }
    if (isSkipped(c))
        return;
    if (const auto p = punctuationForm(c)) {
        out.push_back(*p);
        return;
    }
    if (isControl(c)) {
        out.push_back(kSearchBreak);
        return;
    }
    appendTableForm(c, out);
}

std::optional<SearchPattern> SearchPattern::make(std::string_view utf8) {
    std::u32string chars;
    if (!decodeUtf8(utf8, chars))
        return std::nullopt;
    SearchPattern p;
    for (const char32_t c : chars) {
        if (c >= 0x80)
            p.ascii_ = false;
        if (!isLatinLetter(c))
            p.latin_ = false;
        if (isSkipped(c))
            continue;
        if (const auto q = punctuationForm(c)) {
            // A typed non-breaking hyphen (0x1E) is a control character.
            if (c < 0x20)
                return std::nullopt;
            p.form_.push_back(*q);
            continue;
        }
        if (isControl(c) || !isCovered(c))
            return std::nullopt;
        appendTableForm(c, p.form_);
    }
    p.fallback_.assign(p.form_.size() + 1, 0);
    for (std::size_t i = 1, k = 0; i < p.form_.size(); ++i) {
        while (k > 0 && p.form_[i] != p.form_[k])
            k = p.fallback_[k];
        if (p.form_[i] == p.form_[k])
            ++k;
        p.fallback_[i + 1] = k;
    }
    return p;
}

void SearchPattern::Matcher::feed(char32_t c) {
    const std::u32string& form = pattern_.form_;
    if (found_ || form.empty())
        return;
    while (matched_ > 0 && form[matched_] != c)
        matched_ = pattern_.fallback_[matched_];
    if (form[matched_] == c)
        ++matched_;
    if (matched_ == form.size())
        found_ = true;
}

bool SearchPattern::foundIn(std::u32string_view text) const {
    if (form_.empty())
        return true;
    if (form_.size() > text.size())
        return false;
    return text.find(form_) != std::u32string_view::npos;
}

char32_t nextCodePoint(std::u16string_view units, std::size_t& i) {
    const char32_t u = units[i++];
    if (u < 0xD800 || u > 0xDFFF)
        return u;
    if (u <= 0xDBFF && i < units.size() && units[i] >= 0xDC00 && units[i] <= 0xDFFF)
        return 0x10000 + ((u - 0xD800) << 10) + (units[i++] - 0xDC00);
    return 0xFFFD;
}

void appendUtf16(std::u16string_view units, std::u32string& out) {
    for (std::size_t i = 0; i < units.size();)
        out.push_back(nextCodePoint(units, i));
}

void appendSearchForm(std::u16string_view units, std::u32string& out) {
    out.reserve(out.size() + units.size());
    for (std::size_t i = 0; i < units.size();)
        appendSearchForm(nextCodePoint(units, i), out);
}

} // namespace formats
