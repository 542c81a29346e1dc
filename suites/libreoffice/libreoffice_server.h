#pragma once

// The Word and Excel automation classes served by LibreOffice on Linux.
//
// An application object created from one of these classes drives its own
// headless office process, started when the first member that needs a
// document is used and ended by `Quit` or when the object is released. The
// members the batch operations use answer as Word and Excel do; members that
// need no document (`Visible`, the default member, `Version`) answer without
// starting the office.

#include "core/automation/automation.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace libreoffice {

struct ServerOptions {
    // The office's program folder (holding soffice.bin); empty: the folder
    // found when the program was built.
    std::filesystem::path programFolder;
    // Where the private profile folders live; empty: a folder in the user's
    // cache folder. One application object uses one fixed profile there.
    std::filesystem::path profileRoot;
    // How long the office may take to start and answer its first call.
    std::chrono::milliseconds startTimeout{std::chrono::seconds(60)};
    // How long one member call may take before the office counts as hung and
    // is ended.
    std::chrono::milliseconds callTimeout{std::chrono::seconds(60)};
};

// What is installed in a program folder.
struct Installation {
    bool writer = false;     // the word processor, with the Word 97 filter
    bool calc = false;       // the spreadsheet, with the Excel 97 filter
    std::string productName; // "LibreOffice"
    std::string version;     // "7.4"
};

// The installation in the options' program folder; absent when there is no
// usable office there.
std::optional<Installation> findInstallation(const ServerOptions& options = {});

// Why the office in `programFolder` cannot serve documents of the word
// processor (`writer`) or the spreadsheet: its user interface description
// files (share/config/soffice.cfg/modules/swriter/ui or scalc/ui beside the
// program folder) are missing, as in the "-nogui" packages, and the office
// ends on the first document with a comment. A Chinese sentence that names
// the package to install; empty when the files are there.
std::string missingUserInterface(const std::filesystem::path& programFolder, bool writer);

// Registers "word.Application" (and its other spellings) when Writer is
// installed and "excel.application" when Calc is. Classes of a missing
// program stay unregistered, so creating them fails with error 429. Returns
// what was found, or nothing when no office is installed.
std::optional<Installation> registerClasses(automation::Registry& registry,
                                            const ServerOptions& options = {});

// New application objects, without the registry.
automation::Object createWordApplication(const ServerOptions& options = {});
automation::Object createExcelApplication(const ServerOptions& options = {});

// The process group of the office an application object drives, or 0 when it
// runs none. For tests that play a crashed or hung office.
int officeProcessGroup(const automation::Object& application);

// Prepares a profile folder the way the server does (no first-start work, no
// recovery, no macros), so that an office started by hand with it
// (`soffice --convert-to`) starts as fast as the server's own.
void prepareProfile(const std::filesystem::path& folder, const std::string& productVersion);

// The environment an office is started with: this process's, with file
// names read as UTF-8 (the office takes its file-name encoding from the
// locale, and the program's texts, file names included, are UTF-8).
std::vector<std::string> officeEnvironment();

// The default program folder and profile root.
std::filesystem::path defaultProgramFolder();
std::filesystem::path defaultProfileRoot();

} // namespace libreoffice
