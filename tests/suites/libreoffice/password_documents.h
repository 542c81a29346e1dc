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

// Saves a copy of a document in its own format through an office of its
// own, with what the command line conversion cannot set. (The office
// encrypts only .doc and .xls this way; see binary_documents::
// encryptedPackage for the others.)
void storeCopy(const std::filesystem::path& source, const std::filesystem::path& target,
               const StoreOptions& options);

// Saves a copy encrypted with a password.
inline void savePasswordProtected(const std::filesystem::path& source,
                                  const std::filesystem::path& target,
                                  const std::string& password) {
    storeCopy(source, target, StoreOptions{password, false});
}

} // namespace office_testing
