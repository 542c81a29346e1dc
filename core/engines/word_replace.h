#pragma once

// Word batch replace, started by `Command1`: in every listed Word document,
// replaces the text of `Text1` by the text of `Text2` in the document's main
// text, saving only the documents in which the text was found.

#include "core/automation/automation.h"
#include "core/engines/run_inputs.h"

namespace engines {

// The result marks of a document (each begins with one space).
inline constexpr const char* kWordReplaced = " 已替换内容";
inline constexpr const char* kWordNotFound = " 没找到替换的内容";
// A dry run's line for a document that holds the text.
inline constexpr const char* kWordFoundDryRun = " 含有要替换的内容（试运行，未保存）";

// Runs the Word batch replace in the word.doc mode (Microsoft Word) or the
// wps.doc mode (WPS); in any other mode it does nothing. Reports one line per
// document. A document that fails is reported with its error, closed without
// saving, and the run goes on with the next one; a suite that cannot be
// started is reported and ends the run.
void wordReplace(const RunInputs& inputs, Reporter& reporter, const automation::Registry& registry);

} // namespace engines
