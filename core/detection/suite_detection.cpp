#include "core/detection/suite_detection.h"

#include "core/text/ascii.h"

#include <exception>
#include <string_view>

namespace detection {

namespace {

// What differs between the three probes.
struct Probe {
    std::string_view progId;
    DocumentMode firstMode;
    DocumentMode secondMode;
    // The line when the object's default member is the empty string.
    std::string_view emptyValueLine;
    std::string_view versionPrefix;
    std::string (*versionText)(double);
    // The line when the server cannot be created.
    std::string_view cannotCreateLine;
    std::string_view journalPrefix;
    // True when the empty-value line and the version line replace the status
    // caption; otherwise they are appended on a new line.
    bool replacesCaption;
};

constexpr Probe officeProbe{
    "excel.Application",
    DocumentMode::WordDoc,
    DocumentMode::ExcelXls,
    "1、系统提示:不能运行Excel或wod程序,请检查是否已安装Microsoft Excel Word软件!",
    "1、本机系统提示: ",
    &officeVersionText,
    "1、获取offcce版本失败",
    "错误代码：",
    true,
};

constexpr Probe wpsV8Probe{
    "ET.Application",
    DocumentMode::WpsDoc,
    DocumentMode::WpsXls,
    "2、系统提示:不能运行WPS-V8程序,请检查是否已安装WPS软件!",
    "2、系统wps提示:",
    &wpsV8VersionText,
    "2、未安装WPS-V8或以下版本",
    "WPSV8错误代码：",
    false,
};

constexpr Probe wpsV9Probe{
    "KET.Application",
    DocumentMode::WpsDoc,
    DocumentMode::WpsXls,
    // The newer server's empty-value line names V8 as well.
    "3、系统提示:不能运行WPS-V8程序,请检查是否已安装WPS软件!",
    "3、系统wps提示:",
    &wpsV9VersionText,
    "3、未安装WPS-V9或以上版本",
    "WPSV9错误代码：",
    false,
};

void appendLine(StatusLines& status, std::string_view line) {
    // Appended after a line break: to an empty caption, that break makes an
    // empty first line.
    if (status.empty())
        status.emplace_back();
    status.emplace_back(line);
}

void writeLine(const Probe& probe, StatusLines& status, std::string_view line) {
    if (probe.replacesCaption)
        status = {std::string(line)};
    else
        appendLine(status, line);
}

// True when the application object names LibreOffice, which serves the Word
// and Excel classes where Microsoft Office is not installed.
bool isLibreOffice(const automation::Value& name) {
    return text::startsWithIgnoringCase(name.toString(), "LibreOffice");
}

// True when the object's own value compares equal to the empty string.
bool isEmptyText(const automation::Value& value) {
    return value.toString().empty();
}

void runProbe(const Probe& probe, const automation::Registry& registry, DetectionView& view,
              StatusLines& status) {
    // The application object lives only inside the probe and is released by
    // leaving it; the server is not asked to quit.
    automation::Object application;
    try {
        application = registry.create(probe.progId);
        application.put("Visible", false);

        const automation::Value name = application.value();
        if (isEmptyText(name)) {
            writeLine(probe, status, probe.emptyValueLine);
            return;
        }

        const automation::Value reported = application.get("Version");
        const double version = reported.toDouble();
        view.setModeEnabled(probe.firstMode, true);
        view.setModeEnabled(probe.secondMode, true);

        std::string line;
        if (probe.replacesCaption && isLibreOffice(name)) {
            // No Office version is claimed for an office that is not Office.
            line = std::string(probe.versionPrefix) + "已安装LibreOffice " + "版本号：" +
                   reported.toString();
        } else {
            line = std::string(probe.versionPrefix) + probe.versionText(version) + " 版本号：" +
                   automation::Value(version).toString() + ".0";
        }
        writeLine(probe, status, line);
    } catch (const automation::Error& error) {
        // Only a server that cannot be created is reported; every other
        // failure ends the probe where it happened.
        if (error.number != automation::errors::CannotCreateObject)
            return;
        view.setModeEnabled(probe.firstMode, false);
        view.setModeEnabled(probe.secondMode, false);
        appendLine(status, probe.cannotCreateLine);
        view.writeJournal(std::string(probe.journalPrefix) + std::to_string(error.number) +
                          "错误描述：" + error.description + "错误");
    } catch (const std::exception&) {
        // A server failing in a way of its own is not error 429: silent end.
    }
}

} // namespace

std::string officeVersionText(double v) {
    if (v <= 11)
        return "已安装offcce 2003或以下版本";
    if (v == 12)
        return "已安装offcce 2007版本";
    if (v == 14)
        return "已安装offcce 2010版本";
    if (v == 15)
        return "已安装offcce 2013版本";
    if (v == 16)
        return "已安装offcce 2016版本";
    if (v > 16)
        return "已安装offcce 2016以上版本";
    return "未知版本";
}

std::string wpsV8VersionText(double v) {
    return v < 8 ? "已安装WPS-V8或以下版本" : "未知版本";
}

std::string wpsV9VersionText(double v) {
    return v > 9 ? "已安装WPS-V9或以上版本" : "未知版本";
}

void probeMicrosoftOffice(const automation::Registry& registry, DetectionView& view,
                          StatusLines& status) {
    runProbe(officeProbe, registry, view, status);
}

void probeWpsV8(const automation::Registry& registry, DetectionView& view, StatusLines& status) {
    runProbe(wpsV8Probe, registry, view, status);
}

void probeWpsV9(const automation::Registry& registry, DetectionView& view, StatusLines& status) {
    runProbe(wpsV9Probe, registry, view, status);
}

StatusLines detectSuites(const automation::Registry& registry, DetectionView& view,
                         StatusLines status) {
    probeMicrosoftOffice(registry, view, status);
    probeWpsV8(registry, view, status);
    probeWpsV9(registry, view, status);
    return status;
}

} // namespace detection
