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
