#pragma once

// Our own replace engine for the formats we can change ourselves. For each
// document it either does the whole job exactly as the office suite would,
// or declines before anything is changed; a declined document goes to the
// suite (or fails, when the run uses our engine only).

#include "core/engines/run.h"

#include <string>
#include <string_view>
#include <vector>

namespace engines {

struct BuiltinResult {
    // False: declined; `reason` says why, in a sentence for the user.
    bool done = false;
    std::string reason;
    // Done: one part for a Word document (empty name), one per worksheet in
    // the workbook's order.
    struct Part {
        std::string name;
        bool replaced = false;
        // The indexes of the pairs that replaced something in this part.
        std::vector<std::size_t> pairsReplaced;
    };
    std::vector<Part> parts;
    // Done with something replaced: the whole new file. Empty when nothing
    // changed (the file is then never written).
    std::string newContent;
};

class BuiltinEngine {
public:
    virtual ~BuiltinEngine() = default;
    // Whether the engine takes documents named `fileName` for `operation`
    // (by the name's extension; the content is checked by `replace`).
    virtual bool handles(Operation operation, std::string_view fileName) const = 0;
    // The replacement of `pairs`, one after the other, in the document whose
    // bytes are `content`.
    virtual BuiltinResult replace(Operation operation, std::string_view content,
                                  const std::vector<ReplacePair>& pairs) const = 0;
};

} // namespace engines
