#include "core/platform/processes.h"

#include "core/text/encoding.h"

#include <windows.h>

#include <tlhelp32.h>

namespace platform {

namespace {

std::string wideToUtf8(const wchar_t* wide) {
    std::u16string utf16;
    for (const wchar_t* p = wide; *p; ++p)
        utf16.push_back(static_cast<char16_t>(*p));
    return text::utf16ToUtf8(utf16);
}

// `what` followed by the error number; `code` is read before anything else
// can change it.
std::string errorText(const std::string& what, DWORD code) {
    return what + " (Windows error " + std::to_string(code) + ").";
}

class ToolhelpProcesses final : public Processes {
public:
    bool findByName(std::string_view name, std::vector<ProcessInfo>& found,
                    std::string& error) override {
        found.clear();
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) {
            error = errorText("The process list cannot be read", GetLastError());
            return false;
        }
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more;
             more = Process32NextW(snapshot, &entry)) {
            std::string executable = wideToUtf8(entry.szExeFile);
            if (sameExecutableName(executable, name))
                found.push_back(ProcessInfo{static_cast<ProcessId>(entry.th32ProcessID),
                                            std::move(executable)});
        }
        CloseHandle(snapshot);
        return true;
    }

    bool terminate(ProcessId id, std::string& error) override {
        if (id <= 0 || id > static_cast<ProcessId>(MAXDWORD)) {
            error = "Process id " + std::to_string(id) + " does not name a process.";
            return false;
        }
        const DWORD pid = static_cast<DWORD>(id);
        if (pid == GetCurrentProcessId()) {
            error = "Process " + std::to_string(id) + " is this program itself; it is not ended.";
            return false;
        }
        HANDLE process =
            OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        if (!process) {
            const DWORD code = GetLastError();
            error = code == ERROR_INVALID_PARAMETER
                        ? "Process " + std::to_string(id) + " is no longer running."
                        : errorText("Process " + std::to_string(id) + " cannot be opened", code);
            return false;
        }
        // A process that has ended stays openable while anyone holds a
        // handle to it; it is not running any more.
        DWORD exitCode = 0;
        if (GetExitCodeProcess(process, &exitCode) && exitCode != STILL_ACTIVE) {
            CloseHandle(process);
            error = "Process " + std::to_string(id) + " is no longer running.";
            return false;
        }
        const BOOL ended = TerminateProcess(process, 0);
        if (!ended) {
            const DWORD code = GetLastError();
            error = errorText("Process " + std::to_string(id) + " cannot be ended", code);
        }
        CloseHandle(process);
        return ended != FALSE;
    }
};

} // namespace

Processes& systemProcesses() {
    static ToolhelpProcesses processes;
    return processes;
}

} // namespace platform
