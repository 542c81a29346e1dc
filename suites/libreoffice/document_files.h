#pragma once

// The file side of opening and saving documents: the checks made before the
// office sees a file, the office's lock files, and saving through a temporary
// file that replaces the original only when it is complete.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace libreoffice::files {

// The two kinds of documents: Word documents (opened with Writer) and Excel
// workbooks (opened with Calc).
enum class Kind { Word, Excel };

// The formats the server reads and writes. The content of a file decides its
// format, and a document is stored in the format it was opened in.
enum class Format { Word97, Word2007, Word2007Macro, Excel97, Excel2007, Excel2007Macro };

Kind kindOf(Format format);

// "Word 97-2003 文档（.doc）", "Word 文档（.docx）", "启用宏的 Word 文档（.docm）",
// "Excel 97-2003 工作簿（.xls）", "Excel 工作簿（.xlsx）", "Excel 启用宏的工作簿（.xlsm）".
std::string formatLabel(Format format);

// What a file of the kind is called when its name says nothing more precise:
// "Word 文档（.doc、.docx 或 .docm）", "Excel 工作簿（.xls、.xlsx 或 .xlsm）".
std::string kindLabel(Kind kind);

// The format the file's extension names among the kind's formats, if any.
std::optional<Format> formatNamedBy(const std::filesystem::path& file, Kind kind);

// The label of the format the file's name promises (formatLabel), else the
// kind's (kindLabel): what a message says the file is not.
std::string expectedLabel(const std::filesystem::path& file, Kind kind);

// The office's filter that loads and stores the format.
const char* filterName(Format format);

// The package part that holds the macros of a format with macros
// ("word/vbaProject.bin", "xl/vbaProject.bin"); empty for the others.
std::string_view macroPart(Format format);

// What the checks before an open found out.
struct OpenCheck {
    std::filesystem::path path; // the file as named by the caller
    bool folderWritable = true;
    // False for a file marked read-only (no write permission bit at all) or
    // one this user may not write.
    bool fileWritable = true;
};

// Checks that `path` names a readable file in a readable folder that can be
// a document of the kind (a compound file or a zip package); raises
// automation::Error with `errorNumber` and a description that names the file
// and says what to do otherwise.
OpenCheck checkBeforeOpen(const std::string& path, Kind kind, long errorNumber);

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
