#include "core/engines/suite.h"

#include <algorithm>

namespace engines {

namespace {

std::string startFailureLine(const SuiteClass& suite, const std::string& className,
                             const std::string& description) {
    return "无法启动 " + suite.label + "（" + className + "）：" + description;
}

} // namespace

automation::Object startSuite(const automation::Registry& registry, const SuiteClass& suite,
                              Reporter& reporter) {
    std::string attempted = suite.className;
    try {
        try {
            return registry.create(suite.className);
        } catch (const automation::Error& e) {
            if (e.number != automation::errors::CannotCreateObject ||
                suite.fallbackClassName.empty())
                throw;
        }
        attempted = suite.fallbackClassName;
        return registry.create(suite.fallbackClassName);
    } catch (const std::exception& e) {
        reporter.reportFailure(startFailureLine(suite, attempted, describeError(e)));
    }
    return {};
}

std::optional<SuiteClass> suiteForMode(Mode mode, Mode microsoftMode, const SuiteClass& microsoft,
                                       Mode wpsMode) {
    if (mode == microsoftMode)
        return microsoft;
    if (mode == wpsMode)
        return SuiteClass{"WPS", "ET.Application", "KET.Application"};
    return std::nullopt;
}

void runOverListedFiles(const RunInputs& inputs, Reporter& reporter,
                        const automation::Registry& registry, const SuiteClass& suite,
                        const std::function<void(const automation::Object&, int)>& processFile) {
    const automation::Object application = startSuite(registry, suite, reporter);
    if (application.isNothing())
        return;
    const int count = inputs.fileCount();
    for (int i = 0; i < count; ++i)
        processFile(application, i);
    quitSuite(application, suite.label, reporter);
}

void quitSuite(const automation::Object& application, const std::string& label,
               Reporter& reporter) {
    try {
        application.call("Quit");
    } catch (const std::exception& e) {
        reporter.reportFailure(label + " 未能退出：" + describeError(e));
    }
}

std::string documentPath(const std::string& folder, const std::string& fileName) {
#ifdef _WIN32
    // The window's folder may come with forward slashes (C:/x): the suite is
    // given the path as Windows writes it, C:\x\a.doc.
    std::string path = folder;
    std::replace(path.begin(), path.end(), '/', '\\');
    constexpr char separator = '\\';
#else
    const std::string& path = folder;
    constexpr char separator = '/';
#endif
    if (!path.empty() && path.back() == separator)
        return path + fileName;
    return path + separator + fileName;
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
