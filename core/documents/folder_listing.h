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
// match `pattern`, sorted by name. Hidden files (a leading dot; on Windows
// also the hidden or system attribute, as on Word's ~$name.doc owner files)
// and everything that is not a regular file are left out. Raises
// std::filesystem::filesystem_error when the folder cannot be read.
std::vector<std::string> listMatchingFiles(const std::filesystem::path& folder,
                                           std::string_view pattern);

// The names of the subfolders of `folder`, sorted by name, hidden ones left
// out. Raises std::filesystem::filesystem_error when it cannot be read.
std::vector<std::string> listSubfolders(const std::filesystem::path& folder);

// How a path is written: POSIX (/home/x) or Windows (C:\x, \\server\share\x,
// either separator accepted).
enum class PathStyle { Posix, Windows };
// The style of the platform this runs on.
PathStyle nativePathStyle();

// One entry of the folder list's chain of ancestors.
struct FolderStep {
    std::string name; // as the list shows it: the root in full, then one folder name
    std::string path; // the full path, with the style's own separators
    bool operator==(const FolderStep&) const = default;
};

// The folders from the root down to `folder` itself, each with its full path:
// "/" for POSIX; a drive's root ("C:\") or a share ("\\server\share") for
// Windows. Empty and "." parts are skipped; `folder` is expected absolute.
std::vector<FolderStep> folderAncestors(std::string_view folder, PathStyle style);

} // namespace documents
