#pragma once

// Whether a document may hold a text where the replace operations look,
// answered from the file's bytes without the office: "certainly not" lets an
// operation skip the document, anything in doubt is "maybe".
//
// The kind of file is told by its content, not its name: a compound file is
// read as a Word or Excel 97-2003 file, a zip package as an Office 2007
// package (.docx/.docm, .xlsx/.xlsm), whatever its extension says.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace formats {

// A Word document: true unless its main text certainly lacks `findText`
// (matched without regard to case, as stored and with field codes left out).
bool wordDocumentMayHold(std::string_view fileBytes, std::string_view findText);
// True unless the main text certainly lacks every one of `findTexts` (an
// empty list is "maybe").
bool wordDocumentMayHold(std::string_view fileBytes, const std::vector<std::string>& findTexts);

struct WorkbookAnswer {
    // False when no worksheet's Find can find the text.
    bool mayHold = true;
    // When `mayHold` is false: the worksheet names in the workbook's order.
    std::vector<std::string> worksheets;
};

// An Excel workbook: whether any cell text or formula of its worksheets may
// contain `findText` (any of `findTexts`), and its worksheets.
WorkbookAnswer workbookMayHold(std::string_view fileBytes, std::string_view findText);
WorkbookAnswer workbookMayHold(std::string_view fileBytes,
                               const std::vector<std::string>& findTexts);

// The same for files, each read once; a file that cannot be read, or is too
// large to read whole, is "maybe".
bool wordFileMayHold(const std::filesystem::path& file, std::string_view findText);
bool wordFileMayHold(const std::filesystem::path& file, const std::vector<std::string>& findTexts);
WorkbookAnswer workbookFileMayHold(const std::filesystem::path& file, std::string_view findText);
WorkbookAnswer workbookFileMayHold(const std::filesystem::path& file,
                                   const std::vector<std::string>& findTexts);

} // namespace formats
