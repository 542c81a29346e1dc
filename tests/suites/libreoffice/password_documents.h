#pragma once

#include <filesystem>
#include <string>

namespace office_testing {

// What a copy stored by the office carries besides the content.
struct StoreOptions {
    // The password to open; empty: none.
    std::string password;
    // The "read-only recommended" mark (the office's "LoadReadonly" setting).
    bool readOnlyRecommended = false;
};

// Saves a copy of a .doc or .xls document through an office of its own,
// with what the command line conversion cannot set.
void storeCopy(const std::filesystem::path& source, const std::filesystem::path& target,
               const StoreOptions& options);

// Saves a copy encrypted with a password.
inline void savePasswordProtected(const std::filesystem::path& source,
                                  const std::filesystem::path& target,
                                  const std::string& password) {
    storeCopy(source, target, StoreOptions{password, false});
}

} // namespace office_testing
