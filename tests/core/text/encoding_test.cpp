#include "core/text/encoding.h"

#include <gtest/gtest.h>

TEST(Encoding, Utf16RoundTripCountsCodeUnits) {
    const std::string s = "版 1.5.9 𝄞";
    const std::u16string u = text::utf8ToUtf16(s);
    EXPECT_EQ(u.size(), 10u); // the clef is a surrogate pair
    EXPECT_EQ(text::utf16ToUtf8(u), s);
}

TEST(Encoding, InvalidUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(text::utf8ToUtf16("a\xFF"
                                "b"),
              u"a\uFFFDb");
    EXPECT_EQ(text::utf8ToUtf16("\xE6\x9B"), u"\uFFFD");       // cut short
    EXPECT_EQ(text::utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD"); // overlong
}

TEST(Encoding, CodePage936BothWaysAndUnrepresentableAsQuestionMark) {
    text::setAnsiCodeSet("CP936");
    EXPECT_EQ(text::utf8ToAnsi("更新a"), "\xB8\xFC\xD0\xC2"
                                         "a");
    EXPECT_EQ(text::ansiToUtf8("\xB8\xFC\xD0\xC2"
                               "a"),
              "更新a");
    EXPECT_EQ(text::utf8ToAnsi("ह😀x"), "??x");
    text::setAnsiCodeSet("");
}

TEST(Encoding, DecodesDeclaredCharsets) {
    EXPECT_EQ(text::decodeToUtf8("\xB0\xE6 1.5.9", "GBK"), "版 1.5.9");
    EXPECT_EQ(text::decodeToUtf8("版", "utf-8"), "版");
    EXPECT_EQ(text::decodeToUtf8("\xE9", "ISO-8859-1"), "é");
}

// The boundaries of each UTF-8 sequence length, to their exact bytes and back.
TEST(Encoding, Utf8BoundariesEncodeToTheirExactBytes) {
    const struct {
        char32_t codePoint;
        std::string bytes;
    } cases[] = {
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0xFFFF, "\xEF\xBF\xBF"},
        {0x10000, "\xF0\x90\x80\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
    };
    for (const auto& c : cases) {
        std::u16string utf16;
        if (c.codePoint >= 0x10000) {
            const char32_t v = c.codePoint - 0x10000;
            utf16 = {char16_t(0xD800 + (v >> 10)), char16_t(0xDC00 + (v & 0x3FF))};
        } else {
            utf16 = {char16_t(c.codePoint)};
        }
        SCOPED_TRACE(static_cast<unsigned>(c.codePoint));
        EXPECT_EQ(text::utf16ToUtf8(utf16), c.bytes);
        EXPECT_EQ(text::utf8ToUtf16(c.bytes), utf16);
    }
}

// Overlong forms, surrogates and cut sequences decode to replacement
// characters only, and decoding stops at the end of the text even where the
// bytes behind it would complete the sequence.
TEST(Encoding, MalformedUtf8DecodesToReplacementCharactersOnly) {
    const std::string_view cases[] = {
        "\xC0\x80",         // overlong U+0000
        "\xE0\x9F\xBF",     // overlong U+07FF
        "\xED\xA0\x80",     // lead surrogate
        "\xED\xBF\xBF",     // trail surrogate
        "\xF4\x90\x80\x80", // above U+10FFFF
        "\xC2",             // cut after the lead byte
        "\xE6\x9B",         // cut before the last byte
        "\xF0\x90\x80",     // cut before the last byte
    };
    for (const std::string_view bytes : cases) {
        // The byte behind the view would complete a cut sequence.
        const std::string buffer = std::string(bytes) + "\x80\x80";
        const std::string_view view(buffer.data(), bytes.size());
        SCOPED_TRACE(testing::PrintToString(std::string(view)));
        const std::u16string decoded = text::utf8ToUtf16(view);
        ASSERT_FALSE(decoded.empty());
        for (const char16_t c : decoded)
            EXPECT_EQ(c, u'\uFFFD');
    }
}

TEST(Encoding, StrictCodePointsRefuseWhatIsNotWellFormed) {
    struct Case {
        std::string bytes;
        bool wellFormed;
    };
    const Case cases[] = {
        {"a\xC2\x80\xE5\x90\x88\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", true},
        {"\xC0\xAF", false},         // overlong '/'
        {"\xE0\x80\xAF", false},     // overlong in three bytes
        {"\xED\xA0\x80", false},     // a surrogate
        {"\xF4\x90\x80\x80", false}, // past U+10FFFF
        {"\xE5\x90", false},         // cut short
        {"\x80", false},             // a lone continuation byte
    };
    for (const Case& c : cases) {
        std::u32string points;
        EXPECT_EQ(text::decodeUtf8(c.bytes, points), c.wellFormed) << c.bytes;
        if (!c.wellFormed)
            continue;
        std::string again;
        for (const char32_t p : points)
            text::appendUtf8(p, again);
        EXPECT_EQ(again, c.bytes);
    }
    EXPECT_EQ(text::xmlEscaped("a<b>&\"c\""), "a&lt;b&gt;&amp;\"c\"");
}
