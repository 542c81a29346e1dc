#pragma once

// The strings of an Excel 97-2003 (BIFF8) workbook stream: the shared string
// table with its CONTINUE records, text cells, formula results and the
// strings inside formulas, sheet names, defined and external names, number
// formats; and the worksheets as the workbook lists them.

#include "core/formats/compound_file.h"
#include "core/formats/search_text.h"

#include <string>
#include <vector>

namespace formats {

struct WorkbookScan {
    // Whether a worksheet's Find may find the pattern.
    bool mayHold = true;
    // The worksheet names (UTF-8) in the workbook's order.
    std::vector<std::string> worksheets;
};

// Whether any of `patterns` may be found. Throws FormatError when the
// workbook is not a BIFF8 workbook, is encrypted, has a sheet other than a
// visible plain worksheet, or does not parse.
WorkbookScan scanWorkbook(const CompoundFile& file, const std::vector<SearchPattern>& patterns);

} // namespace formats
