#pragma once

// What the folder and file lists of the main window show.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace documents {

// True when `name` matches the wildcard `pattern` ('*' any run, '?' one
// character), ASCII letters compared without regard to case.
bool matchesPattern(std::string_view name, std::string_view pattern);

// Orders names as the file list shows them: ASCII letters without regard to
// case, then byte order.
bool nameLess(const std::string& a, const std::string& b);

// The names (UTF-8, without folder) of the ordinary files of `folder` that
// match `pattern`, sorted by name. Hidden files (a leading dot) and
// everything that is not a regular file are left out. Raises
// std::filesystem::filesystem_error when the folder cannot be read.
std::vector<std::string> listMatchingFiles(const std::filesystem::path& folder,
                                           std::string_view pattern);

// The names of the subfolders of `folder`, sorted by name, hidden ones left
// out. Raises std::filesystem::filesystem_error when it cannot be read.
std::vector<std::string> listSubfolders(const std::filesystem::path& folder);

} // namespace documents
