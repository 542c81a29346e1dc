#pragma once

// Header and footer writer: types a header text or a footer text (the footer
// optionally with a page number "第" page "页") into the first page's header
// or footer of every listed Word document, with the chosen font and
// alignment, and saves the document. Run through `engines::run` with
// `Operation::HeaderFooter`, in the word.doc mode through Microsoft Word. The
// first document that fails stops the run: it is reported with the error and
// closed without saving; documents finished before it stay saved.

namespace engines {

// Result marks of a document (each begins with one space).
inline constexpr const char* kHeaderWritten = " 已写入内容";
inline constexpr const char* kHeaderFailed = " 写入内容失败";
inline constexpr const char* kFooterWritten = " 页脚已写入内容";
inline constexpr const char* kFooterFailed = " 页脚写入内容失败";

} // namespace engines
