#pragma once

#include <filesystem>
#include <string>

namespace office_testing {

// Saves a copy of a .doc or .xls document encrypted with a password, through
// an office of its own. (The command line conversion cannot set one.)
void savePasswordProtected(const std::filesystem::path& source, const std::filesystem::path& target,
                           const std::string& password);

} // namespace office_testing
