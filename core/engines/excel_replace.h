#pragma once

// Excel batch replace: on every worksheet of every listed workbook, replaces
// the find text by the replacement inside the cells. One line per worksheet,
// "<file>-<sheet><mark>". Run through `engines::run` with
// `Operation::ExcelReplace`.

namespace engines {

// The result marks of a worksheet (they follow the sheet name directly).
inline constexpr const char* kSheetReplaced = "已替换内容";
inline constexpr const char* kSheetNotFound = "没找到替换的内容";
// A dry run's line for a worksheet that holds the text.
inline constexpr const char* kSheetFoundDryRun = "含有要替换的内容（试运行，未保存）";

} // namespace engines
