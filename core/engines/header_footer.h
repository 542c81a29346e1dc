#pragma once

// Header and footer writer, started by `Command3`: types a header text or a
// footer text (the footer optionally with a page number "第" page "页") into
// the first page's header or footer of every listed Word document, with the
// chosen font and alignment, and saves the document.

#include "core/automation/automation.h"
#include "core/engines/run_inputs.h"

namespace engines {

// Result marks of a document (each begins with one space).
inline constexpr const char* kHeaderWritten = " 已写入内容";
inline constexpr const char* kHeaderFailed = " 写入内容失败";
inline constexpr const char* kFooterWritten = " 页脚已写入内容";
inline constexpr const char* kFooterFailed = " 页脚写入内容失败";

// Runs the writer in the word.doc mode through Microsoft Word; in any other
// mode it does nothing. Reports one line per document written (none when
// neither the header nor the footer option is selected). The first failing
// call stops the run at that document: the document is reported with the
// error and closed without saving, and Word is quit; documents finished
// before it stay saved.
void writeHeadersAndFooters(const RunInputs& inputs, const HeaderFooterInputs& settings,
                            Reporter& reporter, const automation::Registry& registry);

} // namespace engines
