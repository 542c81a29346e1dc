#pragma once

// Our own replace in Word packages (.docx, .docm): the main text only (the
// body and its tables), matched across runs as the office's Find matches,
// the new text in the first matched text element so that it takes the
// formatting of the first matched character. Only the changed text ranges
// of the main part are rewritten; every other entry keeps its bytes.
//
// Whatever the office might treat otherwise declines the document: fields,
// tracked changes, content controls, hidden text, pictures or symbols inside
// a match, a letter the office might match that we would not, the office's
// special codes in a find text, a damaged or encrypted package.

#include "core/engines/builtin_engine.h"

namespace engines {

class WordPackageEngine : public BuiltinEngine {
public:
    bool handles(Operation operation, std::string_view fileName) const override;
    BuiltinResult replace(Operation operation, std::string_view content,
                          const std::vector<ReplacePair>& pairs) const override;
};

} // namespace engines
