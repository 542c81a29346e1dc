#pragma once

// `batchreplace-cli`: the three batch operations and the suite detection from
// the command line, through the same core code as the window.

#include "core/automation/automation.h"

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

// Exit statuses.
inline constexpr int kAllProcessed = 0;
inline constexpr int kSomeFailed = 1;
inline constexpr int kUsageError = 2;

struct Environment {
    const automation::Registry& registry;
    // The application folder when no --app-folder is given.
    std::filesystem::path defaultAppFolder;
    // Whether standard error is a terminal: progress lines go there only then.
    bool progressOnStderr = false;
};

// Runs one command; `args` excludes the program name. Log lines go to `out`,
// messages and progress to `err`. Returns the exit status.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const Environment& env);

// The usage text.
std::string usage();

// The version text: major.minor.revision of the program's version (1.5.8).
std::string versionText();

} // namespace cli
