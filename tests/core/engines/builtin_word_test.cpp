// Our own Word replace on packages written byte by byte: what it changes
// (and the bytes it changes), what it leaves to the office, damaged input.
// The office's own results on documents it made are compared in
// tests/suites/libreoffice/builtin_word_office_test.cpp.

#include "core/engines/builtin_word.h"
#include "core/formats/zip_package.h"
#include "support/binary_documents.h"
#include "support/zip_documents.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using binary_documents::WordParts;
using binary_documents::wordml::field;
using binary_documents::wordml::p;
using binary_documents::wordml::r;
using binary_documents::wordml::textBox;
using engines::ReplacePair;

const engines::WordPackageEngine kEngine;

std::string plain(const std::string& text) {
    return "<w:r><w:t>" + text + "</w:t></w:r>";
}
std::string bodyOf(const std::string& package) {
    const formats::ZipPackage zip(package);
    const std::string xml = *zip.read("word/document.xml");
    const auto begin = xml.find("<w:body>") + 8;
    return xml.substr(begin, xml.find("<w:sectPr/>") - begin);
}

struct ReplaceCase {
    const char* label;
    std::string body;
    std::vector<ReplacePair> pairs;
    // The body afterwards; empty: nothing found.
    std::string after;
    std::vector<std::size_t> pairsReplaced;
};

class Replaces : public testing::TestWithParam<ReplaceCase> {};

TEST_P(Replaces, OnlyTheMatchedText) {
    const ReplaceCase& c = GetParam();
    const std::string before =
        binary_documents::wordPackage(WordParts{c.body, "<w:style/>", "<w:zoom/>"});
    const auto result = kEngine.replace(engines::Operation::WordReplace, before, c.pairs);
    ASSERT_TRUE(result.done) << result.reason;
    ASSERT_EQ(result.parts.size(), 1u);
    EXPECT_EQ(result.parts[0].pairsReplaced, c.pairsReplaced);
    EXPECT_EQ(result.parts[0].replaced, !c.after.empty());
    if (c.after.empty()) {
        EXPECT_TRUE(result.newContent.empty());
        return;
    }
    EXPECT_EQ(bodyOf(result.newContent), c.after);
    // Every other entry keeps its raw record; the main part its declaration.
    const formats::ZipPackage oldZip(before), newZip(result.newContent);
    ASSERT_EQ(oldZip.entries().size(), newZip.entries().size());
    for (std::size_t i = 0; i < oldZip.entries().size(); ++i) {
        const auto& entry = oldZip.entries()[i];
        EXPECT_EQ(entry.name, newZip.entries()[i].name);
        if (entry.name == "word/document.xml")
            EXPECT_EQ(newZip.read(newZip.entries()[i]).substr(0, 60),
                      oldZip.read(entry).substr(0, 60));
        else
            EXPECT_EQ(oldZip.rawRecord(entry), newZip.rawRecord(newZip.entries()[i])) << entry.name;
    }
}

const std::string kTable = "<w:tbl><w:tr><w:tc>" + p(r("甲方")) + "</w:tc><w:tc>" + p(r("乙方")) +
                           "</w:tc></w:tr></w:tbl>";

INSTANTIATE_TEST_SUITE_P(
    Documents, Replaces,
    testing::Values(
        ReplaceCase{"split_runs_take_the_first_run",
                    p(r("合同") + "<w:r><w:rPr><w:b/></w:rPr><w:t>编号</w:t></w:r>"),
                    {{"同编", "X"}},
                    p(r("合X") + "<w:r><w:rPr><w:b/></w:rPr><w:t>号</w:t></w:r>"),
                    {0}},
        ReplaceCase{"letter_case_every_occurrence",
                    p(r("Acme 与 ACME")) + p(plain("acme")),
                    {{"acme", "Beta"}},
                    p(r("Beta 与 Beta")) + p(plain("Beta")),
                    {0}},
        ReplaceCase{"table_cells_one_by_one",
                    kTable,
                    {{"方", "方代表"}},
                    "<w:tbl><w:tr><w:tc>" + p(r("甲方代表")) + "</w:tc><w:tc>" + p(r("乙方代表")) +
                        "</w:tc></w:tr></w:tbl>",
                    {0}},
        ReplaceCase{"not_across_paragraphs_or_tabs",
                    p(r("甲")) + p(r("乙")) + p(r("丙") + "<w:r><w:tab/></w:r>" + r("丁")),
                    {{"甲乙", "x"}, {"丙丁", "y"}},
                    "",
                    {}},
        ReplaceCase{
            "pairs_chain", p(r("a")), {{"a", "b"}, {"b", "c"}, {"z", "q"}}, p(r("c")), {0, 1}},
        ReplaceCase{"replacement_holds_the_find_text",
                    p(r("ab ab")),
                    {{"ab", "abab"}},
                    p(r("abab abab")),
                    {0}},
        ReplaceCase{"leftmost_without_overlap", p(r("aaa")), {{"aa", "b"}}, p(r("ba")), {0}},
        ReplaceCase{"escaped_and_space_preserved",
                    p(plain("A&amp;B")),
                    {{"&b", " <&> "}},
                    p("<w:r><w:t xml:space=\"preserve\">A &lt;&amp;&gt; </w:t></w:r>"),
                    {0}},
        ReplaceCase{"removed_whole_runs_stay_empty",
                    p(r("x") + r("y") + r("z")),
                    {{"xyz", ""}},
                    p(r("") + r("") + r("")),
                    {0}},
        ReplaceCase{"text_boxes_fields_elsewhere_untouched",
                    p(textBox("旧名") + field("PAGE", "1") + r("旧名")),
                    {{"旧名", "新名"}},
                    p(textBox("旧名") + field("PAGE", "1") + r("新名")),
                    {0}},
        ReplaceCase{"only_in_a_text_box", p(textBox("旧名")), {{"旧名", "新名"}}, "", {}},
        ReplaceCase{"deleted_text_is_not_text",
                    p("<w:del><w:r><w:delText>旧名</w:delText></w:r></w:del>" + r("其他")),
                    {{"其他", "别的"}},
                    p("<w:del><w:r><w:delText>旧名</w:delText></w:r></w:del>" + r("别的")),
                    {0}}),
    [](const auto& info) { return std::string(info.param.label); });

struct DeclineCase {
    const char* label;
    std::string package;
    std::vector<ReplacePair> pairs;
    // A word of the reason.
    const char* reasonHas;
};

class Declines : public testing::TestWithParam<DeclineCase> {};

TEST_P(Declines, BeforeChangingAnything) {
    const DeclineCase& c = GetParam();
    const auto result = kEngine.replace(engines::Operation::WordReplace, c.package, c.pairs);
    EXPECT_FALSE(result.done);
    EXPECT_TRUE(result.newContent.empty());
    EXPECT_NE(result.reason.find(c.reasonHas), std::string::npos) << result.reason;
    EXPECT_NE(result.reason.find("办公软件处理"), std::string::npos) << result.reason;
}

std::string doc(const std::string& body) {
    return binary_documents::wordPackage(body);
}
const std::string kPlain = doc(p(r("合同编号 ACME")));

std::string truncated() {
    return kPlain.substr(0, kPlain.size() / 2);
}
std::string encryptedEntry() {
    binary_documents::ZipLayout l;
    binary_documents::ZipItem item;
    item.name = "word/document.xml";
    item.content = "x";
    item.flags = 1;
    l.items.push_back(item);
    return binary_documents::zipArchive(l);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, Declines,
    testing::Values(
        DeclineCase{"field_result", doc(p(field("PAGE", "合同编号"))), {{"合同", "x"}}, "域"},
        DeclineCase{"field_result_and_text",
                    doc(p(r("合") + field("REF a", "同"))),
                    {{"合同", "x"}},
                    "特殊内容"},
        DeclineCase{"simple_field",
                    doc(p("<w:fldSimple w:instr=\"AUTHOR\">" + r("合同") + "</w:fldSimple>")),
                    {{"合同", "x"}},
                    "域"},
        DeclineCase{
            "field_code_shown", doc(p(field("合同", "") + r("编号"))), {{"合同", "x"}}, "域"},
        DeclineCase{"tracked_insertion",
                    doc(p(r("合") + "<w:ins>" + r("同") + "</w:ins>")),
                    {{"合同", "x"}},
                    "修订"},
        DeclineCase{
            "deleted_text_between",
            doc(p(r("合") + "<w:del><w:r><w:delText>x</w:delText></w:r></w:del>" + r("同"))),
            {{"合同", "x"}},
            "特殊内容"},
        DeclineCase{"tracked_paragraph_mark",
                    doc("<w:p><w:pPr><w:rPr><w:ins/></w:rPr></w:pPr>" + r("合同") + "</w:p>"),
                    {{"合同", "x"}},
                    "修订"},
        DeclineCase{
            "content_control",
            doc(p("<w:sdt><w:sdtPr/><w:sdtContent>" + r("合同") + "</w:sdtContent></w:sdt>")),
            {{"合同", "x"}},
            "内容控件"},
        DeclineCase{
            "symbol_inside",
            doc(p(r("合") + "<w:r><w:sym w:font=\"Symbol\" w:char=\"F020\"/></w:r>" + r("同"))),
            {{"合同", "x"}},
            "符号"},
        DeclineCase{"page_break_inside",
                    doc(p(r("合") + "<w:r><w:br w:type=\"page\"/></w:r>" + r("同"))),
                    {{"合同", "x"}},
                    "特殊内容"},
        DeclineCase{"picture_inside",
                    doc(p(r("合") + "<w:r><w:drawing/></w:r>" + r("同"))),
                    {{"合同", "x"}},
                    "图片"},
        DeclineCase{"hidden_run",
                    doc(p("<w:r><w:rPr><w:vanish/></w:rPr><w:t>合同</w:t></w:r>")),
                    {{"合同", "x"}},
                    "隐藏文字"},
        DeclineCase{"hidden_by_style",
                    binary_documents::wordPackage(WordParts{
                        p(r("合同")), "<w:style><w:rPr><w:vanish/></w:rPr></w:style>", ""}),
                    {{"合同", "x"}},
                    "样式"},
        DeclineCase{
            "tracking_on",
            binary_documents::wordPackage(WordParts{p(r("合同")), "", "<w:trackRevisions/>"}),
            {{"合同", "x"}},
            "修订跟踪"},
        DeclineCase{"unknown_wrapper",
                    doc(p("<v:shape>" + r("合同") + "</v:shape>")),
                    {{"合同", "x"}},
                    "未识别"},
        DeclineCase{"alternate_content_text",
                    doc(p("<mc:AlternateContent><mc:Choice Requires=\"w14\">" + r("合同") +
                          "</mc:Choice><mc:Fallback>" + r("合同") +
                          "</mc:Fallback></mc:AlternateContent>")),
                    {{"合同", "x"}},
                    "未识别"},
        DeclineCase{"accent_the_office_may_ignore", doc(p(r("café"))), {{"cafe", "x"}}, "变音"},
        DeclineCase{"full_width_letters", doc(p(r("ＡＣＭＥ"))), {{"acme", "x"}}, "全半角"},
        DeclineCase{"special_code", kPlain, {{"^p", "x"}}, "特殊代码"},
        DeclineCase{"special_code_in_replacement", kPlain, {{"合同", "^t"}}, "替换文字"},
        DeclineCase{"line_break_in_find", kPlain, {{"合同\n", "x"}}, "换行"},
        DeclineCase{"later_pair_declines",
                    doc(p(r("a") + field("PAGE", "b"))),
                    {{"a", "c"}, {"b", "d"}},
                    "域"},
        DeclineCase{
            "not_a_package", std::string("plain text, not a zip"), {{"合同", "x"}}, "zip 目录"},
        DeclineCase{"truncated", truncated(), {{"合同", "x"}}, "损坏"},
        DeclineCase{"encrypted_entry", encryptedEntry(), {{"合同", "x"}}, "加密"},
        DeclineCase{
            "encrypted_document",
            binary_documents::compoundFile({{u"EncryptionInfo", "x"}, {u"EncryptedPackage", "y"}}),
            {{"合同", "x"}},
            "加密"},
        DeclineCase{"malformed_xml",
                    binary_documents::wordPackage("<w:p><w:r><w:t>合同</w:r></w:p>"),
                    {{"合同", "x"}},
                    "XML"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(BuiltinWordEngine, TakesWordPackagesOfTheWordReplaceByName) {
    using engines::Operation;
    EXPECT_TRUE(kEngine.handles(Operation::WordReplace, "a.docx"));
    EXPECT_TRUE(kEngine.handles(Operation::WordReplace, "合同.DOCM"));
    EXPECT_FALSE(kEngine.handles(Operation::WordReplace, "a.doc"));
    EXPECT_FALSE(kEngine.handles(Operation::WordReplace, "a.xlsx"));
    EXPECT_FALSE(kEngine.handles(Operation::HeaderFooter, "a.docx"));
}

TEST(BuiltinWordEngine, RandomDamageNeitherCrashesNorHangs) {
    const std::string original = binary_documents::wordPackage(
        WordParts{p(r("合同") + "<w:r><w:rPr><w:b/></w:rPr><w:t>编号</w:t></w:r>") + kTable,
                  "<w:style/>", "<w:zoom/>"});
    std::mt19937 random(20261209);
    int done = 0;
    for (int round = 0; round < 300; ++round) {
        std::string damaged = original;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int k = 0; k < flips; ++k)
            damaged[random() % damaged.size()] = static_cast<char>(random());
        const auto result =
            kEngine.replace(engines::Operation::WordReplace, damaged, {{"同编", "x"}});
        EXPECT_TRUE(result.done || !result.reason.empty());
        done += result.done;
    }
    // Damage to the unused bytes of an entry's header leaves it readable.
    EXPECT_GT(done, 0);
}

} // namespace
