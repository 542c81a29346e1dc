#pragma once

// Excel batch replace, started by `Command2`: on every worksheet of every
// listed workbook, replaces the text of `Text1` by the text of `Text2` inside
// the cells, and saves every workbook.

#include "core/automation/automation.h"
#include "core/engines/run_inputs.h"

namespace engines {

// The result marks of a worksheet (they follow the sheet name directly).
inline constexpr const char* kSheetReplaced = "已替换内容";
inline constexpr const char* kSheetNotFound = "没找到替换的内容";
// A dry run's line for a worksheet that holds the text.
inline constexpr const char* kSheetFoundDryRun = "含有要替换的内容（试运行，未保存）";

// Runs the Excel batch replace in the excel.xls mode (Microsoft Excel) or the
// wps.xls mode (WPS); in any other mode it does nothing. Reports one line per
// worksheet, "<file>-<sheet><mark>". A workbook that fails is reported with
// its error, closed without saving, and the run goes on with the next one; a
// suite that cannot be started is reported and ends the run.
void excelReplace(const RunInputs& inputs, Reporter& reporter,
                  const automation::Registry& registry);

} // namespace engines
