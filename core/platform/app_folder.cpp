#include "core/platform/app_folder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>
#endif

#include <system_error>

#ifndef BR_INSTALLED_MARKER
#define BR_INSTALLED_MARKER "../share/batchreplace/installed"
#endif

namespace platform {

std::filesystem::path executableFolder() {
#ifdef _WIN32
    std::wstring buffer(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(n);
    return std::filesystem::path(buffer).parent_path();
#else
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return std::filesystem::current_path();
    return exe.parent_path();
#endif
}

std::filesystem::path installedMarker() {
    return BR_INSTALLED_MARKER;
}

std::filesystem::path applicationFolderFor(const AppFolderFacts& facts) {
    std::error_code ec;
    const bool installed =
        std::filesystem::is_regular_file(facts.executableFolder / installedMarker(), ec);
    if (!installed && facts.executableFolderWritable)
        return facts.executableFolder;
    const std::filesystem::path xdg(facts.xdgDataHome);
    if (!facts.xdgDataHome.empty() && xdg.is_absolute())
        return xdg / "batchreplace";
    if (!facts.home.empty())
        return std::filesystem::path(facts.home) / ".local" / "share" / "batchreplace";
    return facts.executableFolder;
}

#ifdef _WIN32

std::filesystem::path applicationFolder() {
    return executableFolder();
}

#else

namespace {

std::string environmentValue(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// $HOME, else the account's home folder.
std::string homeFolder() {
    std::string home = environmentValue("HOME");
    if (!home.empty())
        return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir)
        home = found->pw_dir;
    return home;
}

} // namespace

std::filesystem::path applicationFolder() {
    AppFolderFacts facts;
    facts.executableFolder = executableFolder();
    facts.executableFolderWritable = access(facts.executableFolder.c_str(), W_OK) == 0;
    facts.xdgDataHome = environmentValue("XDG_DATA_HOME");
    facts.home = homeFolder();
    const std::filesystem::path folder = applicationFolderFor(facts);
    if (folder != facts.executableFolder) {
        // The data folder may not exist yet; a failure shows when the
        // program first writes there, naming the folder.
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
    }
    return folder;
}

#endif

} // namespace platform
