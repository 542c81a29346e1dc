#include "core/detection/document_guard.h"

#include <exception>
#include <optional>
#include <string_view>

namespace detection {

namespace {

// What differs between the Word and the Excel guard.
struct GuardKind {
    std::string_view className;
    // The collection of open files of the application.
    std::string_view collection;
    std::string_view promptFirstLine;
    // The processes that Yes ends.
    std::string_view executableName;
};

constexpr GuardKind wordGuard{
    "Word.Application",
    "Documents",
    "您有文档已打开，必须手动保存关闭后再执本工具",
    "winword.EXE",
};

constexpr GuardKind excelGuard{
    "Excel.Application",
    "Workbooks",
    "您有表格已打开，必须手动保存关闭后再执本工具",
    "excel.EXE",
};

constexpr std::string_view promptSecondLine = "点“是”直接关闭文档，点“否”退出工具";
constexpr std::string_view promptTitle = "关闭确认...";
constexpr int promptFlags =
    platform::mb::YesNo + platform::mb::IconWarning + platform::mb::DefaultButton2;

bool isEmptyEntry(const automation::Value& entry) {
    return entry.isEmpty() || entry.isNothing();
}

// Every failure inside the guard skips its step; these run one step each and
// report whether it went through.
template <typename Step> bool attempt(Step&& step) {
    try {
        step();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void runGuard(const GuardKind& kind, const GuardServices& services) {
    automation::Object application;
    if (!attempt([&] { application = services.registry.getActive(kind.className); }))
        return; // no running application of the class

    std::optional<automation::Object::Enumerator> files;
    if (!attempt([&] { files.emplace(application.get(kind.collection).toObject().enumerate()); }))
        return;

    const std::string prompt =
        std::string(kind.promptFirstLine) + "\r\n" + std::string(promptSecondLine);
    for (;;) {
        std::optional<automation::Value> entry;
        // Once the application's processes are gone the collection can no
        // longer be read, which ends the enumeration.
        if (!attempt([&] { entry = files->next(); }) || !entry)
            return;
        if (isEmptyEntry(*entry))
            continue;

        // A prompt closed without a choice is asked again: only Yes or No
        // goes on.
        int answer = platform::answer::Dismissed;
        while (answer == platform::answer::Dismissed)
            answer = services.desktop.messageBox(prompt, std::string(promptTitle), promptFlags);
        if (answer != platform::answer::Yes) {
            services.desktop.exitProgram(0);
            return;
        }
        endProcessesNamed(services.processes, kind.executableName);
    }
}

} // namespace

void endProcessesNamed(platform::Processes& processes, std::string_view executableName) {
    std::vector<platform::ProcessInfo> found;
    std::string error;
    if (!processes.findByName(executableName, found, error))
        return; // nothing is ended; the next open file brings the prompt again
    for (const platform::ProcessInfo& process : found)
        processes.terminate(process.id, error); // a failure leaves the others to be tried
}

void guardOpenWordDocuments(const GuardServices& services) {
    runGuard(wordGuard, services);
}

void guardOpenExcelWorkbooks(const GuardServices& services) {
    runGuard(excelGuard, services);
}

} // namespace detection
