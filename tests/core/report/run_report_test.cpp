// The run report: lines go to their documents, the file is rewritten after
// every document, and what a script reads is there.

#include "core/report/run_report.h"
#include "core/text/paths.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using nlohmann::json;
using testing_support::readFile;
using testing_support::TempFolder;

namespace {

engines::RunRequest request() {
    engines::RunRequest r;
    r.operation = engines::Operation::WordReplace;
    r.mode = engines::Mode::WordDoc;
    r.folder = "/docs";
    r.documents = {"a.doc", "合同/b.docx", "c.doc"};
    r.pairs = {{"甲", "乙"}, {"丙", "丁"}};
    return r;
}

engines::ResultLine line(const std::string& text, std::optional<std::size_t> document) {
    return {text, text, false, document};
}

TEST(RunReport, DocumentsCarryTheirLinesAndTheFileFollowsTheRun) {
    TempFolder folder;
    report::RunReport report(nullptr, request(), {"batchreplace-cli 1.5.8", true, {"doc", "docx"}},
                             [] { return std::time_t(1765186200); });
    ASSERT_TRUE(report.writeTo(folder / "r.json"));
    EXPECT_EQ(json::parse(readFile(folder / "r.json"))["documents"], json::array());

    // With parallel jobs b.doc starts before a.doc's line comes.
    report.documentStarted(0, "a.doc");
    report.documentStarted(1, "合同/b.docx");
    report.result(line("无法启动 Microsoft Word（word.Application）：拒绝", 0));
    report.result(line("a.doc 处理失败（文件未改动）：未能启动 Microsoft Word。", 0));
    engines::DocumentOutcome failed;
    failed.failed = true;
    report.documentFinished(0, failed);
    const json afterOne = json::parse(readFile(folder / "r.json"));
    EXPECT_EQ(afterOne["documents"].size(), 1u);
    EXPECT_FALSE(afterOne["complete"]);

    report.result(line("合同/b.docx 已替换内容", 1));
    engines::DocumentOutcome changed;
    changed.engine = engines::EngineUsed::Builtin;
    changed.changed = true;
    changed.pairsReplaced = {1};
    changed.backup = text::pathFromUtf8("/app/备份/2025-12-08/093000-1/b.docx");
    changed.elapsed = std::chrono::milliseconds(1500);
    report.documentFinished(1, changed);
    report.result(line("已停止，剩余 1 个文档未处理", std::nullopt));
    engines::RunSummary summary;
    summary.stopped = true;
    report.finish(summary);

    const json r = json::parse(readFile(folder / "r.json"));
    EXPECT_EQ(r, json::parse(report.json()));
    EXPECT_EQ(r["inputs"]["pairs"],
              json::parse(R"([{"find":"甲","replace":"乙"},{"find":"丙","replace":"丁"}])"));
    EXPECT_EQ(r["inputs"]["formats"], json::parse(R"(["doc","docx"])"));
    EXPECT_TRUE(r["inputs"]["recursive"]);
    EXPECT_EQ(r["started"], "2025-12-08T09:30:00Z");
    EXPECT_TRUE(r["complete"]);
    ASSERT_EQ(r["documents"].size(), 2u);
    EXPECT_EQ(r["documents"][0]["lines"].size(), 2u);
    EXPECT_EQ(r["documents"][0]["engine"], nullptr);
    EXPECT_EQ(r["documents"][0]["backup"], nullptr);
    const json& b = r["documents"][1];
    EXPECT_EQ(b["path"], "合同/b.docx");
    EXPECT_EQ(b["lines"], json::array({"合同/b.docx 已替换内容"}));
    EXPECT_EQ(b["engine"], "builtin");
    EXPECT_EQ(b["seconds"], 1.5);
    EXPECT_EQ(b["backup"], "/app/备份/2025-12-08/093000-1/b.docx");
    EXPECT_EQ(b["pairsReplaced"], json::array({1}));
    EXPECT_EQ(r["runLines"], json::array({"已停止，剩余 1 个文档未处理"}));
    EXPECT_EQ(
        r["summary"],
        json::parse(R"({"documents":3,"processed":2,"failed":1,"changed":1,"stopped":true})"));
}

TEST(RunReport, AReportThatCannotBeWrittenIsNamed) {
    TempFolder folder;
    report::RunReport report(nullptr, request(), {});
    EXPECT_FALSE(report.writeTo(folder / "missing" / "r.json"));
    EXPECT_NE(report.writeError().find("r.json"), std::string::npos) << report.writeError();
}

} // namespace
