#pragma once

// The main text of a Word 97-2003 document: the File Information Block, the
// table stream it names, the piece table in its Clx, and the pieces of the
// main story, compressed (8-bit) or 16-bit.

#include "core/formats/compound_file.h"
#include "core/formats/search_text.h"

#include <string>
#include <string_view>

namespace formats {

// The main story's characters (ccpText of them) as stored, field codes and
// special characters included. Throws FormatError when the document is not
// a Word 97 or later document, is encrypted, or does not parse.
std::u16string wordMainText(const CompoundFile& file);

// Whether the main text `text` may hold the pattern as Word's Find sees it:
// as stored, with field codes left out (results shown), or with field
// results left out (codes shown).
bool wordTextMayHold(std::u16string_view text, const SearchPattern& pattern);

} // namespace formats
