#pragma once

// The prescan of Office 2007 packages (.docx/.docm, .xlsx/.xlsm): whether
// the text the replace operations search may hold any of the find texts,
// under the matching rules of search_text.h. Doubt is a FormatError (or
// ZipError), which the caller takes as "maybe".

#include "core/formats/excel_workbook.h"
#include "core/formats/search_text.h"
#include "core/formats/zip_package.h"

#include <vector>

namespace formats {

// A Word package: whether its main text (the body with its tables; field
// codes and results, deleted and inserted text each seen both ways) may
// contain any of `patterns`. Throws FormatError when the package is not a
// transitional Word document or holds what we do not read (embedded
// documents, equations, text in alternate content outside text boxes).
bool wordPackageMayHold(const ZipPackage& package, const std::vector<SearchPattern>& patterns);

// A workbook package: whether a worksheet's Find may find any of `patterns`
// in a cell's text or formula, and the worksheet names in the workbook's
// order. Throws FormatError when the workbook has a sheet other than a
// visible worksheet, links to other workbooks, or is not a transitional
// workbook.
WorkbookScan scanWorkbookPackage(const ZipPackage& package,
                                 const std::vector<SearchPattern>& patterns);

} // namespace formats
