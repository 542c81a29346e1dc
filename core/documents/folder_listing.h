#pragma once

// What the folder and file lists of the main window show.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace documents {

// The file patterns of the two kinds of documents, as the file list takes
// them: several wildcards separated by ";".
inline constexpr std::string_view kWordDocumentsPattern = "*.doc;*.docx;*.docm";
inline constexpr std::string_view kWorkbooksPattern = "*.xls;*.xlsx;*.xlsm";

// Word documents or Excel workbooks.
enum class DocumentKind { Word, Excel };

// The pattern that lists the formats named in `formats` ("docx,doc": names
// of the kind's formats, case-insensitive, separated by commas, a leading dot
// and blanks around a name allowed). False, with a sentence in `error`, for
// an empty list, an unknown format or one of the other kind.
[[nodiscard]] bool patternForFormats(DocumentKind kind, std::string_view formats,
                                     std::string& pattern, std::string& error);

// True when `name` matches the wildcard `pattern` ('*' any run, '?' one
// character), ASCII letters compared without regard to case. A pattern of
// several wildcards separated by ";" matches what any of them matches.
bool matchesPattern(std::string_view name, std::string_view pattern);

// True for the files an office keeps beside an open document: Word's and
// Excel's owner files (~$name.docx) and LibreOffice's lock files
// (.~lock.name.docx#).
bool isOfficeLockFile(std::string_view name);

// Orders names as the file list shows them: ASCII letters without regard to
// case, then byte order.
bool nameLess(const std::string& a, const std::string& b);

// The names (UTF-8, without folder) of the ordinary files of `folder` that
// match `pattern`, sorted by name. Hidden files (a leading dot; on Windows
// also the hidden or system attribute), the office's lock files and
// everything that is not a regular file are left out. Raises
// std::filesystem::filesystem_error when the folder cannot be read.
std::vector<std::string> listMatchingFiles(const std::filesystem::path& folder,
                                           std::string_view pattern);

// The names of the subfolders of `folder`, sorted by name, hidden ones left
// out. Raises std::filesystem::filesystem_error when it cannot be read.
std::vector<std::string> listSubfolders(const std::filesystem::path& folder);

// How far a listing goes.
struct ListingOptions {
    // Whether the files of the subfolders are listed too.
    bool subfolders = false;
    // Folders never listed even when they lie inside the chosen folder (the
    // application folder, the backup store); compared as the folders they
    // are, whatever the spelling of the path.
    std::vector<std::filesystem::path> excludedFolders;
    // Subfolders deeper than this below the chosen folder are not entered.
    int maxDepth = 32;
    // No more than this many subfolders are entered (a listing of a whole
    // disk ends in time).
    int maxFolders = 10000;
};

// The folders no listing of the program in `appFolder` enters, even when
// they lie inside the chosen folder: the application folder itself and its
// backup store ("备份").
std::vector<std::filesystem::path> programFolders(const std::filesystem::path& appFolder);

// The files a run processes.
struct DocumentListing {
    // The matching files, relative to the chosen folder with "/" between the
    // parts (合同/2024/a.doc), UTF-8: in each folder its files by name, then
    // its subfolders by name, each depth-first.
    std::vector<std::string> files;
    // One sentence for each subfolder that was skipped because it could not
    // be read or lies too deep, naming it, and one when there were too many.
    std::vector<std::string> warnings;
};

// The files of `folder` that match `pattern`, as listMatchingFiles, and with
// `options.subfolders` those of its subfolders: hidden folders are left out,
// a link to a folder is not followed (one inside the chosen folder lists its
// files under the folder's own path; one outside would lead out of it), and
// no folder is entered twice. Raises std::filesystem::filesystem_error only
// when `folder` itself cannot be read.
DocumentListing listDocuments(const std::filesystem::path& folder, std::string_view pattern,
                              const ListingOptions& options = {});

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
