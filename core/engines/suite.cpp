#include "core/engines/suite.h"

#include <algorithm>

namespace engines {

std::optional<SuiteClass> suiteFor(Operation operation, Mode mode) {
    const SuiteClass wps{"WPS", "ET.Application", "KET.Application"};
    switch (operation) {
    case Operation::WordReplace:
        if (mode == Mode::WordDoc)
            return SuiteClass{"Microsoft Word", "word.Application", ""};
        if (mode == Mode::WpsDoc)
            return wps;
        break;
    case Operation::ExcelReplace:
        if (mode == Mode::ExcelXls)
            return SuiteClass{"Microsoft Excel", "excel.application", ""};
        if (mode == Mode::WpsXls)
            return wps;
        break;
    case Operation::HeaderFooter:
        // Written through Microsoft Word only; WPS is never driven here.
        if (mode == Mode::WordDoc)
            return SuiteClass{"Microsoft Word", "Word.Application", ""};
        break;
    }
    return std::nullopt;
}

std::string documentPath(const std::string& folder, const std::string& document) {
#ifdef _WIN32
    // The window's folder may come with forward slashes (C:/x), and a
    // document in a subfolder always does: the suite is given the path as
    // Windows writes it, C:\x\sub\a.doc.
    std::string path = folder;
    std::string relative = document;
    std::replace(path.begin(), path.end(), '/', '\\');
    std::replace(relative.begin(), relative.end(), '/', '\\');
    constexpr char separator = '\\';
#else
    const std::string& path = folder;
    const std::string& relative = document;
    constexpr char separator = '/';
#endif
    if (!path.empty() && path.back() == separator)
        return path + relative;
    return path + separator + relative;
}

std::string describeError(const automation::Error& error) {
    if (!error.description.empty())
        return error.description;
    return "错误代码 " + std::to_string(error.number);
}

std::string describeError(const std::exception& error) {
    if (const auto* automationError = dynamic_cast<const automation::Error*>(&error))
        return describeError(*automationError);
    const std::string what = error.what();
    return what.empty() ? std::string("未知错误") : what;
}

std::string failureLine(const std::string& fileName, const std::string& description) {
    return fileName + " 处理失败：" + description;
}

std::string unchangedFailureLine(const std::string& fileName, const std::string& description) {
    return fileName + " 处理失败（文件未改动）：" + description;
}

} // namespace engines
