#include "core/formats/word_text.h"

#include <vector>

namespace formats {

namespace {

constexpr std::uint16_t kWordIdent = 0xA5EC;
constexpr std::uint16_t kWord97 = 0xC1;
constexpr std::uint16_t kEncrypted = 0x0100;
constexpr std::uint16_t kTableStream1 = 0x0200;
// Index of fcClx/lcbClx in FibRgFcLcb97.
constexpr std::size_t kClxIndex = 33;

// Compressed text is 8-bit Unicode except for these bytes.
char16_t compressedCharacter(std::uint8_t b) {
    static constexpr char16_t kHigh[32] = {
        0,      0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0,      0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0,      0x0178};
    if (b < 0x80 || b >= 0xA0)
        return b;
    const char16_t c = kHigh[b - 0x80];
    // The bytes the table leaves open are read differently by different
    // programs (0x80 is the euro sign in code page 1252): not sure.
    if (c == 0)
        throw FormatError("compressed byte without a known character");
    return c;
}

} // namespace

std::u16string wordMainText(const CompoundFile& file) {
    const auto document = file.stream(u"WordDocument");
    if (!document)
        throw FormatError("no WordDocument stream");
    const std::string_view doc(*document);
    if (readU16(doc, 0) != kWordIdent)
        throw FormatError("not a Word document");
    if (readU16(doc, 2) < kWord97)
        throw FormatError("older than Word 97");
    const std::uint16_t flags = readU16(doc, 0x0A);
    if (flags & kEncrypted)
        throw FormatError("encrypted");

    std::size_t pos = 32;
    const std::uint16_t csw = readU16(doc, pos);
    pos += 2 + 2 * static_cast<std::size_t>(csw);
    const std::uint16_t cslw = readU16(doc, pos);
    const std::size_t longs = pos + 2;
    if (csw != 14 || cslw != 22)
        throw FormatError("FIB sizes");
    const std::uint32_t ccpText = readU32(doc, longs + 3 * 4);
    pos = longs + 4 * static_cast<std::size_t>(cslw);
    const std::uint16_t cbRgFcLcb = readU16(doc, pos);
    if (cbRgFcLcb <= kClxIndex)
        throw FormatError("FIB without a Clx");
    const std::size_t fcLcb = pos + 2 + kClxIndex * 8;
    const std::uint32_t fcClx = readU32(doc, fcLcb);
    const std::uint32_t lcbClx = readU32(doc, fcLcb + 4);
    if (ccpText > doc.size())
        throw FormatError("main text longer than the document");

    const auto table = file.stream((flags & kTableStream1) ? u"1Table" : u"0Table");
    if (!table)
        throw FormatError("no table stream");
    if (fcClx > table->size() || lcbClx > table->size() - fcClx)
        throw FormatError("Clx outside the table stream");
    const std::string_view clx(table->data() + fcClx, lcbClx);

    // Prc records (property modifiers) come first, then the Pcdt.
    std::size_t at = 0;
    while (readU8(clx, at) == 0x01) {
        const auto cb = static_cast<std::int16_t>(readU16(clx, at + 1));
        if (cb < 0)
            throw FormatError("Prc size");
        at += 3 + static_cast<std::size_t>(cb);
    }
    if (readU8(clx, at) != 0x02)
        throw FormatError("no piece table");
    const std::uint32_t lcb = readU32(clx, at + 1);
    at += 5;
    if (lcb > clx.size() - at || lcb < 16 || (lcb - 4) % 12 != 0)
        throw FormatError("piece table size");
    const std::string_view plc = clx.substr(at, lcb);
    const std::size_t pieces = (lcb - 4) / 12;

    std::u16string text;
    text.reserve(ccpText);
    std::uint32_t previousEnd = 0;
    for (std::size_t i = 0; i < pieces && text.size() < ccpText; ++i) {
        const std::uint32_t cpStart = readU32(plc, 4 * i);
        const std::uint32_t cpEnd = readU32(plc, 4 * (i + 1));
        if (cpStart != previousEnd || cpEnd <= cpStart)
            throw FormatError("piece boundaries");
        previousEnd = cpEnd;
        const std::uint32_t fcField = readU32(plc, 4 * (pieces + 1) + 8 * i + 2);
        const bool compressed = (fcField & 0x40000000u) != 0;
        const std::uint32_t fc = fcField & 0x3FFFFFFFu;
        const std::size_t count = std::min<std::size_t>(cpEnd, ccpText) - cpStart;
        const std::size_t offset = compressed ? fc / 2 : fc;
        const std::size_t bytes = compressed ? count : 2 * count;
        if (offset > doc.size() || bytes > doc.size() - offset)
            throw FormatError("piece outside the document");
        for (std::size_t k = 0; k < count; ++k)
            text.push_back(compressed
                               ? compressedCharacter(static_cast<std::uint8_t>(doc[offset + k]))
                               : static_cast<char16_t>(readU16(doc, offset + 2 * k)));
    }
    if (text.size() != ccpText)
        throw FormatError("piece table ends before the main text");
    return text;
}

bool wordTextMayHold(std::u16string_view text, const SearchPattern& pattern) {
    // Three views: everything, codes left out, results left out. A field is
    // 0x13 code [0x14 result] 0x15 and may nest.
    SearchPattern::Matcher stored(pattern), resultsShown(pattern), codesShown(pattern);
    // Without fields the three views are the same.
    const bool fields = text.find(u'\x13') != std::u16string_view::npos;
    std::u32string form;
    std::vector<bool> inResult; // per open field
    std::size_t hiddenByCode = 0, hiddenByResult = 0;
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = nextCodePoint(text, i);
        if (c == 0x13) {
            inResult.push_back(false);
            ++hiddenByCode;
            continue;
        }
        if (c == 0x14) {
            if (!inResult.empty() && !inResult.back()) {
                inResult.back() = true;
                --hiddenByCode;
                ++hiddenByResult;
            }
            continue;
        }
        if (c == 0x15) {
            if (!inResult.empty()) {
                if (inResult.back())
                    --hiddenByResult;
                else
                    --hiddenByCode;
                inResult.pop_back();
            }
            continue;
        }
        // Printable ASCII and CJK ideographs are their own form (ASCII
        // letters in upper case).
        const bool simple = (c >= 0x20 && c < 0x7F) || (c >= 0x4E00 && c <= 0x9FFF);
        if (simple) {
            const char32_t f = c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
            stored.feed(f);
            if (fields && hiddenByCode == 0)
                resultsShown.feed(f);
            if (fields && hiddenByResult == 0)
                codesShown.feed(f);
        } else {
            form.clear();
            appendSearchForm(c, form);
            stored.feed(form);
            if (fields && hiddenByCode == 0)
                resultsShown.feed(form);
            if (fields && hiddenByResult == 0)
                codesShown.feed(form);
        }
        if (stored.found() || resultsShown.found() || codesShown.found())
            return true;
    }
    return stored.found() || resultsShown.found() || codesShown.found();
}

} // namespace formats
