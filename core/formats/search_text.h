#pragma once

// Case-insensitive search as the office's Find might do it, made coarse on
// purpose: every text is turned into a "search form" in which characters the
// office may take as equal become equal (letter case, diacritics, full and
// half width, curly and straight quotes, space variants). Two texts that the
// office matches always match in their search forms; the converse need not
// hold, which only means a document is opened that did not need to be.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace formats {

namespace detail {
struct FoldEntry {
    char32_t codePoint;
    std::uint16_t offset;
    std::uint8_t length;
};
struct CodeRange {
    char32_t first;
    char32_t last;
};
// Generated tables (search_folding_table.cpp).
extern const char32_t kFoldPool[];
extern const FoldEntry kFoldEntries[];
extern const std::size_t kFoldEntryCount;
extern const CodeRange kCoveredRanges[];
extern const std::size_t kCoveredRangeCount;
} // namespace detail

// Stands for a break the find text cannot cross: a paragraph or cell end,
// a tab, a line or page break.
inline constexpr char32_t kSearchBreak = 0xFFFF;

// Appends the search form of one character of a document's text to `out`
// (nothing for characters the office skips, kSearchBreak for breaks).
void appendSearchForm(char32_t c, std::u32string& out);

// A find text made ready for the search.
class SearchPattern {
public:
    // Nothing when the text holds a character whose matching is not known
    // well enough (control characters, scripts the tables do not cover,
    // private-use characters, bytes that are not UTF-8): such a text may be
    // anywhere.
    static std::optional<SearchPattern> make(std::string_view utf8);

    // The search form; empty when the text is empty or consists of skipped
    // characters only, and then every text contains it.
    const std::u32string& form() const { return form_; }
    // Only ASCII characters.
    bool isAscii() const { return ascii_; }
    // Only ASCII and Latin-script letters and marks (as in localized
    // function names and month names).
    bool isLatin() const { return latin_; }

    // Whether `text`, in search form, contains the pattern.
    bool foundIn(std::u32string_view text) const;

    // Looks for the pattern in a text given one character of search form at
    // a time, without keeping the text.
    class Matcher {
    public:
        explicit Matcher(const SearchPattern& pattern) : pattern_(pattern) {}
        void feed(char32_t formCharacter);
        void feed(const std::u32string& form) {
            for (const char32_t c : form)
                feed(c);
        }
        bool found() const { return found_ || pattern_.form_.empty(); }

    private:
        const SearchPattern& pattern_;
        std::size_t matched_ = 0;
        bool found_ = false;
    };

private:
    // For each prefix of the form, the length of its longest proper prefix
    // that is also its suffix (where a match goes on after a mismatch).
    std::vector<std::size_t> fallback_;
    std::u32string form_;
    bool ascii_ = true;
    bool latin_ = true;
};

// UTF-16 (as the formats store text) to code points; an unpaired surrogate
// becomes U+FFFD.
char32_t nextCodePoint(std::u16string_view units, std::size_t& index);
void appendUtf16(std::u16string_view units, std::u32string& out);
// The search form of a UTF-16 text.
void appendSearchForm(std::u16string_view units, std::u32string& out);

} // namespace formats
