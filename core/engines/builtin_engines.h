#pragma once

// Our own engines as one: each operation has at most one engine of its
// own, and the run asks the one of its operation.

#include "core/engines/builtin_engine.h"

#include <map>
#include <memory>

namespace engines {

class BuiltinEngines : public BuiltinEngine {
public:
    // `engine` takes the documents of `operation`; a later one replaces it.
    void add(Operation operation, std::unique_ptr<BuiltinEngine> engine);

    bool handles(Operation operation, std::string_view fileName) const override;
    BuiltinResult replace(Operation operation, std::string_view content,
                          const std::vector<ReplacePair>& pairs) const override;

private:
    std::map<Operation, std::unique_ptr<BuiltinEngine>> engines_;
};

// The engines this program has: Word packages (.docx, .docm) for the Word
// replace and workbook packages (.xlsx, .xlsm) for the Excel replace.
const BuiltinEngine& builtinEngines();

} // namespace engines
