#pragma once

// What the three batch operations share: the office suite a run drives, the
// path of a listed document, and the texts of failure lines.

#include "core/automation/automation.h"
#include "core/engines/run.h"

#include <exception>
#include <optional>
#include <string>

namespace engines {

// An office suite as a run creates it.
struct SuiteClass {
    // How the suite is named in failure lines ("Microsoft Word").
    std::string label;
    // The class created first.
    std::string className;
    // The class created instead when the first one cannot be created
    // (error 429); empty when there is none.
    std::string fallbackClassName;
};

// The suite that `operation` drives in `mode`: Microsoft Word or WPS for the
// Word document modes, Microsoft Excel or WPS for the workbook modes (the
// header and footer writer: Microsoft Word in the word.doc mode only); none
// when the mode does not belong to the operation.
std::optional<SuiteClass> suiteFor(Operation operation, Mode mode);

// The full path of a listed document: the folder, the platform's separator
// and the document's path relative to it ("/" between its parts). On
// Windows every separator is a backslash, also those of a folder given with
// forward slashes. No separator is doubled when the folder is a root that
// already ends in one.
std::string documentPath(const std::string& folder, const std::string& document);

// The text of an error for a failure line: its description, or its number
// when the server gave no description.
std::string describeError(const automation::Error& error);
std::string describeError(const std::exception& error);

// The line for a document or workbook that could not be processed:
// "<name> 处理失败：<description>".
std::string failureLine(const std::string& fileName, const std::string& description);
// The same for a file that the run left as it was, although earlier lines may
// already have reported parts of it as done: "<name> 处理失败（文件未改动）：<description>".
std::string unchangedFailureLine(const std::string& fileName, const std::string& description);

} // namespace engines
