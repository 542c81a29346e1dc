#include "core/updater/text_codecs.h"

#include "core/text/encoding.h"

#include <gtest/gtest.h>

using updater::BinToDec;
using updater::BinToHex;
using updater::DecToBase;
using updater::UrlDecode;

namespace {

std::string decode(std::string_view s) {
    return UrlDecode(s);
}

// Chooses an ANSI code set for one test and restores the locale's own.
struct AnsiCodeSet {
    explicit AnsiCodeSet(const char* name) { text::setAnsiCodeSet(name); }
    ~AnsiCodeSet() { text::setAnsiCodeSet(""); }
};

} // namespace

TEST(UrlDecode, Utf8SequencesWithUpperCaseLeads) {
    EXPECT_EQ(decode("%E6%9B%B4%E6%96%B0.exe"), "更新.exe");
    EXPECT_EQ(decode("%C3%A9"), "é");
    EXPECT_EQ(decode("%D0%96"), "Ж");
    EXPECT_EQ(decode("%E0%A4%B9"), "ह");
    // Continuation digits are read in either case; only the lead must be
    // upper case.
    EXPECT_EQ(decode("%E6%9b%b4"), "更");
    EXPECT_EQ(decode("x%C3%A9y%E6%96%B0z"), "xéy新z");
}

TEST(UrlDecode, ContinuationBytesAreMaskedNotChecked) {
    // 0x29 is no continuation byte; its low six bits are used all the same.
    EXPECT_EQ(UrlDecode(u"%C3%29"), std::u16string(1, char16_t((0x03 << 6) | 0x29)));
    // A lead of D with a byte whose top bits are set: 0xFF & 0x3F.
    EXPECT_EQ(UrlDecode(u"%DF%FF"), std::u16string(1, char16_t(0x7FF)));
    // Surrogate halves come out as code units and pair up as UTF-16 does.
    EXPECT_EQ(UrlDecode(u"%ED%A0%BD%ED%B8%80"), u"\xD83D\xDE00");
    EXPECT_EQ(decode("%ED%A0%BD%ED%B8%80"), "😀");
    // A lone half cannot be UTF-8 text.
    EXPECT_EQ(decode("%ED%A0%BD"), "\xEF\xBF\xBD");
}

TEST(UrlDecode, SingleEscapesGoThroughTheAnsiCodePage) {
    EXPECT_EQ(decode("a%20b"), "a b");
    EXPECT_EQ(decode("a+b%2B"), "a+b+");
    {
        AnsiCodeSet cp("CP1252");
        EXPECT_EQ(decode("%e9"), "é");
        EXPECT_EQ(decode("%80"), "€");
    }
    {
        // A lower-case lead is one byte at a time: three lone bytes, none of
        // which is a whole character in code page 936.
        AnsiCodeSet cp("CP936");
        EXPECT_EQ(UrlDecode(u"%e6%9b%b4").size(), 3u);
        EXPECT_NE(decode("%e6%9b%b4"), "更");
        EXPECT_EQ(decode("%41%42"), "AB");
    }
    {
        AnsiCodeSet cp("CP1252");
        EXPECT_EQ(decode("%e6%9b%b4"), "æ›´");
    }
    // Four-byte sequences are not recognised: F0 is a single ANSI byte.
    {
        AnsiCodeSet cp("CP1252");
        EXPECT_EQ(decode("%F0%9F%98%80"), "ðŸ˜€");
    }
}

TEST(UrlDecode, PlainAndEmptyTexts) {
    EXPECT_EQ(decode(""), "");
    EXPECT_EQ(decode("update-1.5.9.exe"), "update-1.5.9.exe");
    EXPECT_EQ(decode("更新 说明.exe"), "更新 说明.exe");
}

TEST(UrlDecode, EscapesCutShortAtTheEndAreKept) {
    EXPECT_EQ(decode("%"), "%");
    EXPECT_EQ(decode("a%"), "a%");
    EXPECT_EQ(decode("a%4"), "a%4");
    EXPECT_EQ(decode("%C"), "%C");
    EXPECT_EQ(decode("%C3"), "%C3");
    EXPECT_EQ(decode("%C3%A"), "%C3%A");
    EXPECT_EQ(decode("%E6%9B"), "%E6%9B");
    EXPECT_EQ(decode("x%E6%9B%B"), "x%E6%9B%B");
    EXPECT_EQ(decode("%E6%96%B0%E6%9B"), "新%E6%9B");
}

TEST(UrlDecode, NonHexadecimalEscapesAreKept) {
    EXPECT_EQ(decode("100%zz"), "100%zz");
    EXPECT_EQ(decode("%G1abc"), "%G1abc");
    EXPECT_EQ(decode("%C3%ZZx"), "%C3%ZZx");
    // Decoding goes on right after the kept escapes.
    EXPECT_EQ(decode("%E6%9Bxy%41"), "%E6%9BxyA");
    EXPECT_EQ(decode("%%41"), "%A");
    EXPECT_EQ(decode("%C3%%C3%A9"), "%C3%é");
}

TEST(NumberRoutines, DecToBase) {
    EXPECT_EQ(DecToBase(0, 2), "0");
    EXPECT_EQ(DecToBase(1, 2), "1");
    EXPECT_EQ(DecToBase(898, 2), "1110000010");
    EXPECT_EQ(DecToBase(32767, 2), "111111111111111");
    EXPECT_EQ(DecToBase(255, 16), "FF");
    EXPECT_THROW(DecToBase(-1, 2), std::invalid_argument);
    EXPECT_THROW(DecToBase(5, 1), std::invalid_argument);
}

TEST(NumberRoutines, BinToDec) {
    EXPECT_EQ(BinToDec("1011"), "11");
    EXPECT_EQ(BinToDec("0"), "0");
    EXPECT_EQ(BinToDec(""), "0");
    EXPECT_EQ(BinToDec("0001"), "1");
    EXPECT_EQ(BinToDec("1110000010"), "898");
    // Past 64 bits: 2^64 exactly.
    EXPECT_EQ(BinToDec("1" + std::string(64, '0')), "18446744073709551616");
}

TEST(NumberRoutines, BinToHex) {
    EXPECT_EQ(BinToHex("11100010"), "E2");
    EXPECT_EQ(BinToHex("0000"), "0");
    EXPECT_EQ(BinToHex("1111000"), "F0"); // the last group "000" is worth 0
    EXPECT_EQ(BinToHex("111110"), "F2");  // the last group "10" is worth 2
    EXPECT_EQ(BinToHex(""), "");
}
