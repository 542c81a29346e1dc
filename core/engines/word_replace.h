#pragma once

// Word batch replace: in every listed Word document, replaces the find text by
// the replacement in the document's main text, saving only the documents in
// which the text was found. Run through `engines::run` with
// `Operation::WordReplace`.

namespace engines {

// The result marks of a document (each begins with one space).
inline constexpr const char* kWordReplaced = " 已替换内容";
inline constexpr const char* kWordNotFound = " 没找到替换的内容";
// A dry run's line for a document that holds the text.
inline constexpr const char* kWordFoundDryRun = " 含有要替换的内容（试运行，未保存）";

} // namespace engines
