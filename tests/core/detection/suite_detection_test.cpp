#include "core/detection/suite_detection.h"
#include "core/text/encoding.h"
#include "support/fake_suites.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

using automation::Value;
using detection_fakes::FakeApplication;
using detection_fakes::FakeDetectionView;
using Mode = detection::DocumentMode;
using testing_support::readFile;
using testing_support::TempFolder;

namespace {

constexpr const char* officeMissing = "1、获取offcce版本失败";
constexpr const char* v8Missing = "2、未安装WPS-V8或以下版本";
constexpr const char* v9Missing = "3、未安装WPS-V9或以上版本";

// A registry with one application per class; each answers its default member
// with a product name and `Version` with the given value.
class DetectionTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeApplication> install(const std::string& progId, Value version,
                                             Value productName = Value("Microsoft Excel")) {
        auto app = std::make_shared<FakeApplication>();
        app->values["<default>"] = productName;
        app->values["Version"] = version;
        registry.registerClass(progId, [app] { return automation::Object(app); });
        return app;
    }

    TempFolder app;
    automation::Registry registry;
    FakeDetectionView view{app.path()};
    // The status label's lines.
    detection::StatusLines status;
    std::string caption() const { return detection_fakes::captionOf(status); }
};

} // namespace

TEST_F(DetectionTest, NoSuiteDisablesEveryModeAndJournalsThreeFailures) {
    struct CodeSet {
        CodeSet() { text::setAnsiCodeSet("UTF-8"); }
        ~CodeSet() { text::setAnsiCodeSet(""); }
    } utf8;
    status = detection::detectSuites(registry, view, status);

    // The first failure line is appended to the empty caption.
    EXPECT_EQ(caption(),
              std::string("\r\n") + officeMissing + "\r\n" + v8Missing + "\r\n" + v9Missing);
    for (const auto& [mode, enabled] : view.enabled)
        EXPECT_FALSE(enabled) << static_cast<int>(mode);

    const std::string description = automation::standardDescription(429);
    ASSERT_FALSE(description.empty());
    EXPECT_EQ(view.journalEntries,
              (std::vector<std::string>{"错误代码：429错误描述：" + description + "错误",
                                        "WPSV8错误代码：429错误描述：" + description + "错误",
                                        "WPSV9错误代码：429错误描述：" + description + "错误"}));
    const std::string file = readFile(view.journal().dayFile());
    std::size_t lines = 0;
    for (std::size_t at = file.find("\r\n"); at != std::string::npos;
         at = file.find("\r\n", at + 2))
        ++lines;
    EXPECT_EQ(lines, 3u);
    EXPECT_NE(file.find(" WPSV9错误代码：429错误描述：" + description + "错误\r\n"),
              std::string::npos);
}

TEST_F(DetectionTest, Office2010OnlyReplacesTheCaptionAndLeavesTheServerRunning) {
    status = {"earlier text"};
    auto excel = install("Excel.Application", Value("14.0"));
    status = detection::detectSuites(registry, view, status);

    EXPECT_EQ(caption(), std::string("1、本机系统提示: 已安装offcce 2010版本 版本号：14.0") +
                             "\r\n" + v8Missing + "\r\n" + v9Missing);
    EXPECT_TRUE(view.enabled[Mode::WordDoc]);
    EXPECT_TRUE(view.enabled[Mode::ExcelXls]);
    EXPECT_FALSE(view.enabled[Mode::WpsDoc]);
    EXPECT_FALSE(view.enabled[Mode::WpsXls]);
    EXPECT_EQ(view.journalEntries.size(), 2u);
    // Created, made invisible, asked for its value and version; never told to quit.
    EXPECT_EQ(excel->calls,
              (std::vector<std::string>{"Put Visible False", "Get <default>", "Get Version"}));
}

TEST_F(DetectionTest, OfficeVersionLineForEachReportedVersion) {
    struct Case {
        Value version;
        const char* line;
    };
    const Case cases[] = {
        {Value(9.0), "1、本机系统提示: 已安装offcce 2003或以下版本 版本号：9.0"},
        {Value(11), "1、本机系统提示: 已安装offcce 2003或以下版本 版本号：11.0"},
        {Value(11.5), "1、本机系统提示: 未知版本 版本号：11.5.0"},
        {Value("12.0"), "1、本机系统提示: 已安装offcce 2007版本 版本号：12.0"},
        {Value(13), "1、本机系统提示: 未知版本 版本号：13.0"},
        {Value(14.5), "1、本机系统提示: 未知版本 版本号：14.5.0"},
        {Value(" 15 "), "1、本机系统提示: 已安装offcce 2013版本 版本号：15.0"},
        {Value(16.0), "1、本机系统提示: 已安装offcce 2016版本 版本号：16.0"},
        {Value(15.999), "1、本机系统提示: 未知版本 版本号：15.999.0"},
        {Value(16.01), "1、本机系统提示: 已安装offcce 2016以上版本 版本号：16.01.0"},
        {Value("17"), "1、本机系统提示: 已安装offcce 2016以上版本 版本号：17.0"},
    };
    for (const Case& c : cases) {
        automation::Registry reg;
        auto excel = std::make_shared<FakeApplication>();
        excel->values["<default>"] = "Microsoft Excel";
        excel->values["Version"] = c.version;
        reg.registerClass("excel.application", [excel] { return automation::Object(excel); });
        FakeDetectionView v(app.path());
        v.enabled[Mode::WordDoc] = v.enabled[Mode::ExcelXls] = false;
        detection::StatusLines lines;
        detection::probeMicrosoftOffice(reg, v, lines);
        EXPECT_EQ(lines, detection::StatusLines{c.line}) << c.version.debugString();
        // Even an unknown version enables both Microsoft modes.
        EXPECT_TRUE(v.enabled[Mode::WordDoc] && v.enabled[Mode::ExcelXls])
            << c.version.debugString();
        EXPECT_TRUE(v.journalEntries.empty());
    }
}

TEST_F(DetectionTest, LibreOfficeServingExcelIsNamedWithItsOwnVersion) {
    struct Case {
        const char* name;
        Value version;
        const char* line;
    };
    const Case cases[] = {
        {"LibreOffice Calc", Value("7.4"), "1、本机系统提示: 已安装LibreOffice 版本号：7.4"},
        {"libreoffice", Value("24.2"), "1、本机系统提示: 已安装LibreOffice 版本号：24.2"},
        // Only a name that begins with it counts.
        {"Microsoft Excel (LibreOffice)", Value("7.4"),
         "1、本机系统提示: 已安装offcce 2003或以下版本 版本号：7.4.0"},
    };
    for (const Case& c : cases) {
        automation::Registry reg;
        auto excel = std::make_shared<FakeApplication>();
        excel->values["<default>"] = Value(c.name);
        excel->values["Version"] = c.version;
        reg.registerClass("excel.application", [excel] { return automation::Object(excel); });
        FakeDetectionView v(app.path());
        // The other two lines keep their numbers and texts.
        const detection::StatusLines lines = detection::detectSuites(reg, v);
        EXPECT_EQ(lines, (detection::StatusLines{c.line, v8Missing, v9Missing})) << c.name;
        EXPECT_TRUE(v.enabled[Mode::WordDoc] && v.enabled[Mode::ExcelXls]) << c.name;
    }
}

TEST(DetectionVersionTexts, WpsBoundariesAreStrict) {
    EXPECT_EQ(detection::wpsV8VersionText(7.9), "已安装WPS-V8或以下版本");
    EXPECT_EQ(detection::wpsV8VersionText(8), "未知版本");
    EXPECT_EQ(detection::wpsV8VersionText(11), "未知版本");
    EXPECT_EQ(detection::wpsV9VersionText(9), "未知版本");
    EXPECT_EQ(detection::wpsV9VersionText(9.1), "已安装WPS-V9或以上版本");
    EXPECT_EQ(detection::wpsV9VersionText(2), "未知版本");
}

TEST_F(DetectionTest, VersionThatDoesNotConvertEndsTheProbeSilently) {
    install("excel.Application", Value("16.0.4266"));
    install("ET.Application", Value("V8"));
    install("KET.Application", Value(""));
    status = {"before"};
    view.enabled[Mode::WordDoc] = false; // state left by an earlier step stays as it was
    view.enabled[Mode::WpsDoc] = false;
    status = detection::detectSuites(registry, view, status);

    EXPECT_EQ(caption(), "before");
    EXPECT_FALSE(view.enabled[Mode::WordDoc]);
    EXPECT_TRUE(view.enabled[Mode::ExcelXls]);
    EXPECT_FALSE(view.enabled[Mode::WpsDoc]);
    EXPECT_TRUE(view.enabled[Mode::WpsXls]);
    EXPECT_TRUE(view.modeChanges.empty());
    EXPECT_TRUE(view.journalEntries.empty());
    EXPECT_FALSE(std::filesystem::exists(view.journal().dayFile()));
}

TEST_F(DetectionTest, OlderWpsPresentNewerMissingEndsWithWpsModesDisabled) {
    install("ET.Application", Value(6.0), Value("WPS 表格"));
    status = detection::detectSuites(registry, view, status);

    EXPECT_EQ(caption(), std::string("\r\n") + officeMissing +
                             "\r\n2、系统wps提示:已安装WPS-V8或以下版本 版本号：6.0\r\n" +
                             v9Missing);
    EXPECT_EQ(view.modeChanges,
              (std::vector<std::string>{"disable word.doc", "disable excel.xls", "enable wps.doc",
                                        "enable wps.xls", "disable wps.doc", "disable wps.xls"}));
    EXPECT_FALSE(view.enabled[Mode::WpsDoc]);
    EXPECT_FALSE(view.enabled[Mode::WpsXls]);
    EXPECT_EQ(view.journalEntries.size(), 2u);
}

TEST_F(DetectionTest, NewerWpsPresentOlderMissingEndsWithWpsModesEnabled) {
    install("KET.Application", Value(11), Value("WPS 表格"));
    status = detection::detectSuites(registry, view, status);

    EXPECT_EQ(caption(), std::string("\r\n") + officeMissing + "\r\n" + v8Missing +
                             "\r\n3、系统wps提示:已安装WPS-V9或以上版本 版本号：11.0");
    EXPECT_TRUE(view.enabled[Mode::WpsDoc]);
    EXPECT_TRUE(view.enabled[Mode::WpsXls]);
}

TEST_F(DetectionTest, EmptyDefaultValueWritesItsLineWithoutTouchingTheModes) {
    auto excel = install("excel.Application", Value(14), Value(""));
    install("ET.Application", Value(7), Value());
    install("KET.Application", Value(12), Value(""));
    status = {"before"};
    view.enabled[Mode::ExcelXls] = false;
    status = detection::detectSuites(registry, view, status);

    EXPECT_EQ(caption(),
              "1、系统提示:不能运行Excel或wod程序,请检查是否已安装Microsoft Excel Word软件!"
              "\r\n2、系统提示:不能运行WPS-V8程序,请检查是否已安装WPS软件!"
              "\r\n3、系统提示:不能运行WPS-V8程序,请检查是否已安装WPS软件!");
    EXPECT_TRUE(view.modeChanges.empty());
    EXPECT_FALSE(view.enabled[Mode::ExcelXls]);
    EXPECT_TRUE(view.journalEntries.empty());
    // The version is not read once the value is empty.
    EXPECT_EQ(excel->calls, (std::vector<std::string>{"Put Visible False", "Get <default>"}));
}

TEST_F(DetectionTest, OnlyError429IsReportedWhereverItHappens) {
    // Excel cannot be made invisible: an error other than 429 ends silently.
    auto excel = install("excel.Application", Value(14));
    excel->failures.emplace("Visible",
                            automation::makeError(automation::errors::MemberNotSupported));
    // The older WPS server fails with 429 only when asked for its version,
    // with a description of its own.
    auto et = install("ET.Application", Value(7));
    et->failures.emplace("Version", automation::Error(429, "服务器没有响应"));
    status = {"start"};
    detection::probeMicrosoftOffice(registry, view, status);
    detection::probeWpsV8(registry, view, status);

    EXPECT_EQ(caption(), std::string("start\r\n") + v8Missing);
    EXPECT_TRUE(view.enabled[Mode::WordDoc] && view.enabled[Mode::ExcelXls]);
    EXPECT_FALSE(view.enabled[Mode::WpsDoc] || view.enabled[Mode::WpsXls]);
    EXPECT_EQ(view.journalEntries,
              (std::vector<std::string>{"WPSV8错误代码：429错误描述：服务器没有响应错误"}));
    EXPECT_EQ(excel->calls, (std::vector<std::string>{"Put Visible False"}));
}

TEST_F(DetectionTest, ServerThatFailsToStartCountsAsNotInstalled) {
    registry.registerClass("excel.Application", [] { return automation::Object(); });
    detection::probeMicrosoftOffice(registry, view, status);
    EXPECT_EQ(caption(), std::string("\r\n") + officeMissing);
    EXPECT_FALSE(view.enabled[Mode::WordDoc] || view.enabled[Mode::ExcelXls]);
    ASSERT_EQ(view.journalEntries.size(), 1u);
    EXPECT_EQ(view.journalEntries[0].rfind("错误代码：429错误描述：", 0), 0u);
}
