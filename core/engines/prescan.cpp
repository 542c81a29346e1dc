#include "core/engines/prescan.h"

#include "core/formats/prescan.h"
#include "core/text/paths.h"

namespace engines {

namespace {

class FilePrescan : public Prescan {
public:
    bool wordDocumentLacks(const std::string& path,
                           const std::vector<std::string>& findTexts) const override {
        return !findTexts.empty() &&
               !formats::wordFileMayHold(text::pathFromUtf8(path), findTexts);
    }
    std::optional<std::vector<std::string>>
    workbookLacks(const std::string& path,
                  const std::vector<std::string>& findTexts) const override {
        auto answer = formats::workbookFileMayHold(text::pathFromUtf8(path), findTexts);
        if (answer.mayHold)
            return std::nullopt;
        return std::move(answer.worksheets);
    }
};

} // namespace

const Prescan& filePrescan() {
    static const FilePrescan prescan;
    return prescan;
}

} // namespace engines
