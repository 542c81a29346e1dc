#include "core/platform/start_program_win.h"
#include "core/text/paths.h"

#include "core/text/encoding.h"

#include <windows.h>

namespace platform {

namespace {

std::string systemText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n && buffer ? std::wstring(buffer, n) : std::wstring();
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                             text.back() == L'.' || text.back() == L'。'))
        text.pop_back();
    if (text.empty())
        return "Windows 错误 " + std::to_string(code);
    return text::utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

} // namespace

bool startDetachedProgram(const std::filesystem::path& program, int showStyle, std::string& error,
                          ProcessId* startedId) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(program, ec)) {
        error = "找不到程序文件“" + text::pathToUtf8(program) + "”。";
        return false;
    }
    const std::filesystem::path absolute = std::filesystem::absolute(program, ec);
    const std::wstring path = (ec ? program : absolute).wstring();
    // The command line is the program's quoted path alone: no arguments.
    std::wstring commandLine = L"\"" + path + L"\"";
    const std::wstring folder = (ec ? program : absolute).parent_path().wstring();

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showStyle);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &started)) {
        const DWORD code = GetLastError();
        error = "无法启动程序“" + text::pathToUtf8(program) + "”：" + systemText(code) + "。";
        return false;
    }
    if (startedId)
        *startedId = static_cast<ProcessId>(started.dwProcessId);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}

} // namespace platform
