#include "core/engines/prescan.h"

#include "core/formats/prescan.h"
#include "core/text/paths.h"

namespace engines {

namespace {

class FilePrescan : public Prescan {
public:
    bool wordDocumentLacks(const std::string& path,
                           const std::vector<std::string>& findTexts) const override {
        if (findTexts.empty())
            return false;
        const auto file = text::pathFromUtf8(path);
        for (const std::string& find : findTexts)
            if (formats::wordFileMayHold(file, find))
                return false;
        return true;
    }
    std::optional<std::vector<std::string>>
    workbookLacks(const std::string& path,
                  const std::vector<std::string>& findTexts) const override {
        const auto file = text::pathFromUtf8(path);
        std::optional<std::vector<std::string>> worksheets;
        for (const std::string& find : findTexts) {
            auto answer = formats::workbookFileMayHold(file, find);
            if (answer.mayHold)
                return std::nullopt;
            worksheets = std::move(answer.worksheets);
        }
        return worksheets;
    }
};

} // namespace

const Prescan& filePrescan() {
    static const FilePrescan prescan;
    return prescan;
}

} // namespace engines
