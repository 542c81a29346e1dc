#pragma once

// Our own Excel replace for workbook packages (.xlsx, .xlsm): the cells'
// strings (shared and inline, rich text runs kept) are changed in place, each
// worksheet reported as the office's search and replace would report it.
//
// A workbook is declined whenever the office could do otherwise: a find text
// that may stand in a formula, a number, a date, a boolean or an error; a
// cell whose text the office could read or write back as something other
// than text; hidden rows (the office skips filtered ones), protected sheets,
// sheets other than worksheets, escapes and whitespace the readers disagree
// on; a damaged, encrypted or oversized package.

#include "core/engines/builtin_engine.h"

namespace engines {

class WorkbookPackageEngine : public BuiltinEngine {
public:
    bool handles(Operation operation, std::string_view fileName) const override;
    BuiltinResult replace(Operation operation, std::string_view content,
                          const std::vector<ReplacePair>& pairs) const override;
};

} // namespace engines
