#pragma once

#include <filesystem>
#include <string>

namespace platform {

// The folder of the running executable.
std::filesystem::path executableFolder();

// What decides where a program's application folder is.
struct AppFolderFacts {
    std::filesystem::path executableFolder;
    // Whether this user may create files in the executable's folder.
    bool executableFolderWritable = true;
    // $XDG_DATA_HOME and $HOME (on Linux, the account's home when $HOME is
    // unset); empty when unknown.
    std::string xdgDataHome;
    std::string home;
};

// The file that the install rules place, relative to the installed
// executables' folder: "../share/batchreplace/installed" for the usual layout.
std::filesystem::path installedMarker();

// The application folder: where the journal, toconfigure/ and the updater
// live. A program run from a folder of its own (the build folder, a portable
// copy) keeps that folder. An installed program, found by the marker beside
// it, and a program whose folder this user cannot write use the user's data
// folder: $XDG_DATA_HOME/batchreplace, else ~/.local/share/batchreplace
// (a relative $XDG_DATA_HOME is ignored, as the XDG rules say). Without a home
// it stays with the executable's folder. Writability alone cannot decide: to
// root every folder of a writable file system is writable, /usr/bin too.
std::filesystem::path applicationFolderFor(const AppFolderFacts& facts);

// The application folder of this program, created when it is the user's data
// folder. On Windows the executable's folder.
std::filesystem::path applicationFolder();

// The file name of the updater program in the application folder.
inline const char* updaterFileName() {
#ifdef _WIN32
    return "update.exe";
#else
    return "update";
#endif
}

} // namespace platform
