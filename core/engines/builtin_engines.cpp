#include "core/engines/builtin_engines.h"

#include "core/engines/builtin_word.h"
#include "core/engines/builtin_workbook.h"

namespace engines {

void BuiltinEngines::add(Operation operation, std::unique_ptr<BuiltinEngine> engine) {
    engines_[operation] = std::move(engine);
}

bool BuiltinEngines::handles(Operation operation, std::string_view fileName) const {
    const auto it = engines_.find(operation);
    return it != engines_.end() && it->second->handles(operation, fileName);
}

BuiltinResult BuiltinEngines::replace(Operation operation, std::string_view content,
                                      const std::vector<ReplacePair>& pairs) const {
    const auto it = engines_.find(operation);
    if (it == engines_.end()) {
        BuiltinResult declined;
        declined.reason = "内置引擎不做这种处理，要由办公软件处理（不限定引擎再试）。";
        return declined;
    }
    return it->second->replace(operation, content, pairs);
}

const BuiltinEngine& builtinEngines() {
    static const BuiltinEngines engines = [] {
        BuiltinEngines all;
        all.add(Operation::WordReplace, std::make_unique<WordPackageEngine>());
        all.add(Operation::ExcelReplace, std::make_unique<WorkbookPackageEngine>());
        return all;
    }();
    return engines;
}

} // namespace engines
