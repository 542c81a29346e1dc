#pragma once

// What the three batch operations share: starting and quitting the office
// suite, the path of a listed document, and the texts of failure lines.

#include "core/automation/automation.h"
#include "core/engines/run_inputs.h"

#include <exception>
#include <functional>
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

// Creates the suite's application object. When it cannot be created, reports
// one line naming the suite and the error ("无法启动 ...") and returns Nothing.
automation::Object startSuite(const automation::Registry& registry, const SuiteClass& suite,
                              Reporter& reporter);

// Calls the application's `Quit`. A failure is reported as one line, since a
// suite left running holds memory and may hold files.
void quitSuite(const automation::Object& application, const std::string& label, Reporter& reporter);

// The suite a replace run drives in `mode`: the Microsoft class for
// `microsoftMode`, WPS (ET, then KET) for `wpsMode`, none for any other mode.
std::optional<SuiteClass> suiteForMode(Mode mode, Mode microsoftMode, const SuiteClass& microsoft,
                                       Mode wpsMode);

// A replace run: starts the suite, hands every listed file (by position, the
// count read once) to `processFile`, and quits the suite.
void runOverListedFiles(const RunInputs& inputs, Reporter& reporter,
                        const automation::Registry& registry, const SuiteClass& suite,
                        const std::function<void(const automation::Object&, int)>& processFile);

// The full path of a listed document: the folder, the platform's separator
// and the file name. On Windows every separator is a backslash, also those of
// a folder given with forward slashes. No separator is doubled when the folder
// is a root that already ends in one.
std::string documentPath(const std::string& folder, const std::string& fileName);

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
