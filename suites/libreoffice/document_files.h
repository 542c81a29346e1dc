#pragma once

// The file side of opening and saving documents: the checks made before the
// office sees a file, the office's lock files, and saving through a temporary
// file that replaces the original only when it is complete.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace libreoffice::files {

// The two document formats the server reads and writes.
enum class Format { Word97, Excel97 };

// "Word 97-2003 文档（.doc）" or "Excel 97-2003 工作簿（.xls）".
std::string formatLabel(Format format);

// What the checks before an open found out.
struct OpenCheck {
    std::filesystem::path path; // the file as named by the caller
    bool folderWritable = true;
    // False for a file marked read-only (no write permission bit at all) or
    // one this user may not write.
    bool fileWritable = true;
};

// Checks that `path` names a readable file of the given format in a readable
// folder; raises automation::Error with `errorNumber` and a description that
// names the file and says what to do otherwise.
OpenCheck checkBeforeOpen(const std::string& path, Format format, long errorNumber);

// The office's lock file of a document: ".~lock.<name>#" beside it.
std::filesystem::path lockFilePath(const std::filesystem::path& document);

// The fields of a lock file: "<name>,<account>,<host>,<date>,<profile URL>;".
struct LockOwner {
    std::string name;
    std::string account;
    std::string host;
    std::string date;
    std::string profileUrl;
    // The name a person recognises: the full name, else the account.
    std::string displayName() const;
};
std::optional<LockOwner> readLockFile(const std::filesystem::path& lockFile);

// Raises automation::Error (`errorNumber`, naming the file) when the document
// must not be written: the file is marked read-only or its folder cannot be
// written. A file locked by another user is refused by the caller, which
// knows the owner from the open.
void checkWritable(const std::filesystem::path& document, long errorNumber);


} // namespace libreoffice::files
