#include "core/detection/document_guard.h"
#include "support/fake_suites.h"

#include <gtest/gtest.h>

using automation::Value;
using detection_fakes::document;
using detection_fakes::FakeApplication;
using detection_fakes::FakeCollection;
using detection_fakes::FakeDesktop;
using detection_fakes::FakeProcesses;
namespace answer = platform::answer;

namespace {

const std::string wordPrompt =
    "您有文档已打开，必须手动保存关闭后再执本工具\r\n点“是”直接关闭文档，点“否”退出工具";
const std::string excelPrompt =
    "您有表格已打开，必须手动保存关闭后再执本工具\r\n点“是”直接关闭文档，点“否”退出工具";

// A running application registered as active for its class, holding the
// given open files; its processes are in the fake process table.
class GuardTest : public ::testing::Test {
protected:
    void run(const std::string& className, const std::string& collection, std::vector<Value> files,
             const std::string& executableName) {
        application = std::make_shared<FakeApplication>();
        files_ = std::make_shared<FakeCollection>();
        files_->entries = std::move(files);
        application->values[collection] = automation::Object(files_);
        auto active = application;
        registry.registerClass(
            className, [] { return automation::Object(); },
            [active] { return automation::Object(active); });
        processes.ownerName = executableName;
        processes.ownerAlive = files_->alive;
    }

    void addProcesses(const std::string& name, std::initializer_list<platform::ProcessId> ids) {
        for (auto id : ids)
            processes.table.push_back(platform::ProcessInfo{id, name});
    }

    detection::GuardServices services() { return {registry, desktop, processes}; }

    automation::Registry registry;
    FakeDesktop desktop;
    FakeProcesses processes;
    std::shared_ptr<FakeApplication> application;
    std::shared_ptr<FakeCollection> files_;
};

} // namespace

TEST_F(GuardTest, NoRunningWordReturnsWithoutPrompt) {
    // Registered for creation only: nothing runs.
    registry.registerClass("Word.Application",
                           [] { return automation::Object(std::make_shared<FakeApplication>()); });
    addProcesses("WINWORD.EXE", {4100});
    detection::guardOpenWordDocuments(services());
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_TRUE(processes.queries.empty());
    EXPECT_FALSE(desktop.exitCode);
}

TEST_F(GuardTest, WordWithoutOpenDocumentsGoesOnWithoutPrompt) {
    run("word.application", "Documents", {Value(), Value(automation::Object())}, "winword.EXE");
    addProcesses("WINWORD.EXE", {4100});
    detection::guardOpenWordDocuments(services());
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_TRUE(processes.terminateCalls.empty());
    EXPECT_FALSE(desktop.exitCode);
}

TEST_F(GuardTest, YesEndsEveryWordProcessWhateverTheLetterCase) {
    run("Word.Application", "Documents", {document(), document(), document()}, "winword.EXE");
    addProcesses("WINWORD.EXE", {4100, 4200});
    addProcesses("winword.exe", {5300});
    addProcesses("EXCEL.EXE", {6000});
    desktop.answers = {answer::Yes, answer::Yes};
    detection::guardOpenWordDocuments(services());

    // One prompt: after the processes are gone the documents cannot be read.
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text, wordPrompt);
    EXPECT_EQ(desktop.boxes[0].title, "关闭确认...");
    EXPECT_EQ(desktop.boxes[0].flags, 308);
    EXPECT_EQ(processes.queries, (std::vector<std::string>{"winword.EXE"}));
    EXPECT_EQ(processes.terminateCalls, (std::vector<platform::ProcessId>{4100, 4200, 5300}));
    ASSERT_EQ(processes.table.size(), 1u);
    EXPECT_EQ(processes.table[0].name, "EXCEL.EXE");
    EXPECT_FALSE(desktop.exitCode);
}

TEST_F(GuardTest, NoEndsTheProgramAndEndsNothing) {
    run("Word.Application", "Documents", {document(), document()}, "winword.EXE");
    addProcesses("WINWORD.EXE", {4100});
    desktop.answers = {answer::No};
    detection::guardOpenWordDocuments(services());

    ASSERT_TRUE(desktop.exitCode.has_value());
    EXPECT_EQ(desktop.boxes.size(), 1u);
    EXPECT_TRUE(processes.queries.empty());
    EXPECT_TRUE(processes.terminateCalls.empty());
}

TEST_F(GuardTest, FailingProcessQueryBringsThePromptAgainForTheNextDocument) {
    run("Word.Application", "Documents", {document(), Value(), document()}, "winword.EXE");
    addProcesses("WINWORD.EXE", {4100});
    processes.queryFails = true;
    desktop.answers = {answer::Yes, answer::Yes};
    detection::guardOpenWordDocuments(services());

    EXPECT_EQ(desktop.boxes.size(), 2u);
    EXPECT_EQ(processes.queries.size(), 2u);
    EXPECT_TRUE(processes.terminateCalls.empty());
    EXPECT_FALSE(desktop.exitCode);
}

TEST_F(GuardTest, ProcessThatCannotBeEndedLeavesTheOthersTriedAndPromptsAgain) {
    run("Word.Application", "Documents", {document(), document()}, "winword.EXE");
    addProcesses("WINWORD.EXE", {4100, 4200, 4300});
    processes.refuseToEnd = {4100};
    desktop.answers = {answer::Yes, answer::No};
    detection::guardOpenWordDocuments(services());

    // 4100 survives, so Word still answers and the second document prompts;
    // No then ends the program.
    EXPECT_EQ(processes.terminateCalls, (std::vector<platform::ProcessId>{4100, 4200, 4300}));
    EXPECT_EQ(desktop.boxes.size(), 2u);
    EXPECT_TRUE(desktop.exitCode.has_value());
}

TEST_F(GuardTest, UnreadableCollectionReturnsWithoutPrompt) {
    run("Word.Application", "Documents", {document()}, "winword.EXE");
    application->failures.emplace("Documents",
                                  automation::Error(-2147417848, "对象已与其客户端断开连接"));
    detection::guardOpenWordDocuments(services());
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_FALSE(desktop.exitCode);
}

TEST_F(GuardTest, EnumerationFailingPartWayEndsTheGuard) {
    run("Word.Application", "Documents", {document(), document(), document()}, "winword.EXE");
    files_->failAt = 1;
    desktop.answers = {answer::Yes, answer::Yes, answer::Yes};
    detection::guardOpenWordDocuments(
        services()); // no Word process to end: only the failure stops it
    EXPECT_EQ(desktop.boxes.size(), 1u);
    EXPECT_FALSE(desktop.exitCode);
}

TEST_F(GuardTest, ExcelGuardUsesWorkbooksAndEndsExcelProcesses) {
    run("Excel.Application", "Workbooks", {document()}, "excel.EXE");
    application->failures.emplace("Documents", automation::makeError(438));
    addProcesses("EXCEL.EXE", {7000, 7001});
    addProcesses("WINWORD.EXE", {4100});
    desktop.answers = {answer::Yes};
    detection::guardOpenExcelWorkbooks(services());

    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text, excelPrompt);
    EXPECT_EQ(desktop.boxes[0].title, "关闭确认...");
    EXPECT_EQ(desktop.boxes[0].flags, 308);
    EXPECT_EQ(processes.queries, (std::vector<std::string>{"excel.EXE"}));
    EXPECT_EQ(processes.terminateCalls, (std::vector<platform::ProcessId>{7000, 7001}));
}

TEST_F(GuardTest, WordGuardDoesNotLookAtExcel) {
    run("Excel.Application", "Workbooks", {document()}, "excel.EXE");
    detection::guardOpenWordDocuments(services());
    EXPECT_TRUE(desktop.boxes.empty());
}

// A prompt closed with Esc or its close button chose nothing: it is asked
// again until Yes or No.
struct PromptCase {
    const char* name;
    std::vector<int> answers;
    std::size_t prompts;
    bool ended; // the program ends (No)
};

void PrintTo(const PromptCase& c, std::ostream* out) {
    *out << c.name;
}

class GuardPromptTest : public GuardTest, public ::testing::WithParamInterface<PromptCase> {};

TEST_P(GuardPromptTest, PromptClosedWithoutAChoiceIsAskedAgain) {
    const PromptCase& c = GetParam();
    run("Word.Application", "Documents", {document()}, "winword.EXE");
    addProcesses("WINWORD.EXE", {4100});
    desktop.answers.assign(c.answers.begin(), c.answers.end());
    detection::guardOpenWordDocuments(services());

    EXPECT_EQ(desktop.boxes.size(), c.prompts);
    for (const auto& box : desktop.boxes)
        EXPECT_EQ(box.text, wordPrompt);
    EXPECT_EQ(desktop.exitCode.has_value(), c.ended);
    EXPECT_EQ(processes.terminateCalls.empty(), c.ended);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, GuardPromptTest,
    ::testing::Values(PromptCase{"YesAfterOneClose", {answer::Dismissed, answer::Yes}, 2, false},
                      PromptCase{
                          "NoAfterThreeCloses",
                          {answer::Dismissed, answer::Dismissed, answer::Dismissed, answer::No},
                          4,
                          true},
                      PromptCase{"NoAfterOneClose", {answer::Dismissed, answer::No}, 2, true}),
    [](const ::testing::TestParamInfo<PromptCase>& info) { return std::string(info.param.name); });
