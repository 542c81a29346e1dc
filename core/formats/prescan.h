#pragma once

// Whether a document may hold a text where the replace operations look,
// answered from the file's bytes without the office: "certainly not" lets an
// operation skip the document, anything in doubt is "maybe".

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace formats {

// A Word 97-2003 document: true unless its main text certainly lacks
// `findText` (matched without regard to case, as stored and with field
// codes left out).
bool wordDocumentMayHold(std::string_view fileBytes, std::string_view findText);

struct WorkbookAnswer {
    // False when no worksheet's Find can find the text.
    bool mayHold = true;
    // When `mayHold` is false: the worksheet names in the workbook's order.
    std::vector<std::string> worksheets;
};

// An Excel 97-2003 workbook: whether any string it holds may contain
// `findText`, and its worksheets.
WorkbookAnswer workbookMayHold(std::string_view fileBytes, std::string_view findText);

// The same for files; a file that cannot be read, or is too large to read
// whole, is "maybe".
bool wordFileMayHold(const std::filesystem::path& file, std::string_view findText);
WorkbookAnswer workbookFileMayHold(const std::filesystem::path& file, std::string_view findText);

} // namespace formats
