#pragma once

#include <filesystem>

namespace platform {

// The folder of the running executable.
std::filesystem::path executableFolder();

// The file name of the updater program in the application folder.
inline const char* updaterFileName() {
#ifdef _WIN32
    return "update.exe";
#else
    return "update";
#endif
}

} // namespace platform
