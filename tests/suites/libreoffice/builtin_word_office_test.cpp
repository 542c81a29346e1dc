// Our own Word engine against the office as the oracle: .docx files the
// office made (runs split by formatting, tables, fields, text boxes,
// headers, tracked changes) go through the command line with
// `--engine suite` and with `--engine builtin`, each over its own copy. The
// documents the engine takes give the same lines and, read back by the
// office, the same text; the others are declined and left as they were.

#include "cli/cli.h"
#include "office_test_support.h"
#include "suites/libreoffice/libreoffice_server.h"
#include "support/temp_folder.h"
#include "support/zip_documents.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;
namespace fs = std::filesystem;

namespace {

std::string text(const std::string& body, const std::string& header = "") {
    return office_testing::flatText({body, header, "", ""});
}

// Tracked changes, which the office does not make from a flat text: a
// package written byte by byte with an insertion between `before` and `after`.
std::string tracked(const std::string& before, const std::string& inserted,
                    const std::string& after) {
    using binary_documents::wordml::r;
    return binary_documents::wordPackage(binary_documents::wordml::p(
        r(before) + "<w:ins w:id=\"1\" w:author=\"A\" w:date=\"2020-01-01T00:00:00Z\">" +
        r(inserted) + "</w:ins>" + r(after)));
}

// Documents the engine takes: the text in every place the main text has,
// and outside it.
const std::map<std::string, std::string> kTaken{
    {"split",
     text("<text:p>合同<text:span text:style-name=\"B\">编号</text:span> HT-2019 由 "
          "ACME <text:span text:style-name=\"I\">Corp</text:span> 签订</text:p>"
          "<text:p>Acme &amp; <text:span text:style-name=\"B\">aCME</text:span></text:p>")},
    {"table", text("<table:table table:name=\"T\"><table:table-column/><table:table-column/>"
                   "<table:table-row><table:table-cell><text:p>甲方合同编号</text:p>"
                   "</table:table-cell><table:table-cell><text:p>ACME</text:p>"
                   "</table:table-cell></table:table-row></table:table><text:p>合同编号</text:p>")},
    {"field", text("<text:p>第 <text:page-number text:select-page=\"current\">1</text:page-number>"
                   " 页，合同编号 HT-2019</text:p>")},
    {"textbox",
     text("<text:p>正文合同编号<draw:frame draw:name=\"F\" text:anchor-type=\"paragraph\" "
          "svg:width=\"5cm\" svg:height=\"2cm\"><draw:text-box><text:p>框内合同编号"
          "</text:p></draw:text-box></draw:frame>结束</text:p>")},
    {"header", text("<text:p>正文合同编号</text:p>", "页眉合同编号")},
    {"marks", text("<text:p>Tel: <text:a xlink:type=\"simple\" xlink:href=\"http://example.com/\">"
                   "ACME 合同</text:a>编号<text:bookmark-start text:name=\"b\"/>合同编号"
                   "<text:bookmark-end text:name=\"b\"/></text:p>")},
    {"notes",
     text("<text:p>正文合同编号<text:note text:id=\"n1\" text:note-class=\"footnote\">"
          "<text:note-citation>1</text:note-citation><text:note-body><text:p>脚注合同编号"
          "</text:p></text:note-body></text:note>结束<office:annotation><dc:creator>A"
          "</dc:creator><text:p>批注合同编号</text:p></office:annotation>合同编号</text:p>")},
    {"absent", text("<text:p>没有要找的文字</text:p>")},
};

// Documents the engine declines for these pairs.
const std::map<std::string, std::string> kDeclined{
    {"field_result", text("<text:p>作者：<text:author-name>合同编号</text:author-name></text:p>")},
};

const std::string kPairs = "合同编号\t协议号\nacme\tBeta Co\n协议号\t协议编号\nHT\tHT-HT\n";

// The body's paragraphs with the texts of frames and shapes apart: the
// office moves a text box anchored to a paragraph within it when it saves.
std::pair<std::vector<std::string>, std::vector<std::string>>
framesApart(const office_testing::ReadBack& back) {
    static const std::regex frame(R"re(<draw:(frame|custom-shape)\b[\s\S]*?</draw:\1>)re");
    office_testing::ReadBack rest = back;
    std::vector<std::string> frames;
    for (auto it = std::sregex_iterator(back.xml.begin(), back.xml.end(), frame);
         it != std::sregex_iterator(); ++it)
        frames.push_back(office_testing::plainText(it->str()));
    rest.xml = std::regex_replace(back.xml, frame, "");
    return {rest.bodyParagraphs(), frames};
}

struct CliRun {
    std::vector<std::string> lines;
    std::map<std::string, std::string> bytes; // file name -> content afterwards
    TempFolder folder;
};

class BuiltinWordOffice : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        reason_ = office_testing::missingOfficeReason();
        if (!reason_.empty())
            return;
        made_ = new TempFolder;
        taken_ = office_testing::makeDocuments(kTaken, "docx", made_->path() / "taken");
        declined_ = office_testing::makeDocuments(kDeclined, "docx", made_->path() / "declined");
        writeFile(made_->path() / "pairs.txt", kPairs);
        const auto add = [](std::map<std::string, fs::path>& to, const std::string& name,
                            const std::string& bytes) {
            to[name] = to.begin()->second.parent_path() / (name + ".docx");
            writeFile(to[name], bytes);
        };
        add(taken_, "tracked_elsewhere", tracked("合同编号，", "插入文字", "。"));
        add(declined_, "tracked_insertion", tracked("合同", "编号", "后文"));
    }
    static void TearDownTestSuite() {
        delete made_;
        made_ = nullptr;
    }
    void SetUp() override {
        if (!reason_.empty())
            GTEST_SKIP() << reason_;
    }

    // The command line over a copy of `documents`, every document given to
    // the engine (no prescan).
    static void run(const std::map<std::string, fs::path>& documents, const std::string& engine,
                    const std::vector<std::string>& pairs, CliRun& result) {
        for (const auto& [name, path] : documents)
            fs::copy_file(path, result.folder.path() / path.filename());
        TempFolder app;
        automation::Registry registry;
        libreoffice::registerClasses(registry);
        std::vector<std::string> args{
            "word-replace", "--folder",     result.folder.path().string(), "--engine",
            engine,         "--app-folder", app.path().string(),           "--no-prescan"};
        args.insert(args.end(), pairs.begin(), pairs.end());
        std::ostringstream out, err;
        cli::run(args, out, err, cli::Environment{registry, app.path(), false});
        std::istringstream lines(out.str());
        for (std::string line; std::getline(lines, line);)
            result.lines.push_back(line);
        for (const auto& [name, path] : documents)
            result.bytes[path.filename().string()] =
                readFile(result.folder.path() / path.filename());
    }

    static std::string reason_;
    static TempFolder* made_;
    static std::map<std::string, fs::path> taken_, declined_;
};

std::string BuiltinWordOffice::reason_;
TempFolder* BuiltinWordOffice::made_ = nullptr;
std::map<std::string, fs::path> BuiltinWordOffice::taken_, BuiltinWordOffice::declined_;

TEST_F(BuiltinWordOffice, SameLinesAndTextAsTheOffice) {
    const std::vector<std::string> pairs{"--pairs", (made_->path() / "pairs.txt").string()};
    CliRun suite, builtin;
    run(taken_, "suite", pairs, suite);
    run(taken_, "builtin", pairs, builtin);
    EXPECT_EQ(builtin.lines, suite.lines);
    ASSERT_EQ(builtin.lines.size(), taken_.size());
    for (const auto& line : builtin.lines)
        EXPECT_EQ(line.find("失败"), std::string::npos) << line;

    for (const auto& [name, path] : taken_) {
        const std::string file = path.filename().string();
        SCOPED_TRACE(file);
        if (name == "absent") {
            EXPECT_TRUE(builtin.bytes.at(file) == readFile(path));
            continue;
        }
        EXPECT_FALSE(builtin.bytes.at(file) == readFile(path));
        const auto back = office_testing::readBack(
            {suite.folder.path() / file, builtin.folder.path() / file}, "fodt");
        EXPECT_EQ(framesApart(back[1]), framesApart(back[0]));
        EXPECT_EQ(office_testing::plainText(back[1].masterStyles()),
                  office_testing::plainText(back[0].masterStyles()));
    }
}

TEST_F(BuiltinWordOffice, DeclinedDocumentsAreLeftAsTheyWere) {
    struct Case {
        std::map<std::string, fs::path> documents;
        std::vector<std::string> pairs;
    };
    for (const Case& c : {Case{declined_, {"--find", "合同编号", "--replace", "协议号"}},
                          Case{taken_, {"--find", "^p合同", "--replace", "x"}}}) {
        CliRun builtin;
        run(c.documents, "builtin", c.pairs, builtin);
        ASSERT_EQ(builtin.lines.size(), c.documents.size());
        for (const auto& line : builtin.lines)
            EXPECT_NE(line.find("处理失败（文件未改动）"), std::string::npos) << line;
        for (const auto& [name, path] : c.documents)
            EXPECT_TRUE(builtin.bytes.at(path.filename().string()) == readFile(path)) << name;
    }
}

} // namespace
