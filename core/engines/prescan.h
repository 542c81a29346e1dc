#pragma once

// The question a replace run asks before it opens a document: may it hold
// one of the find texts where the operation looks? A run that gets "certainly
// not" reports the document as without the text and neither opens nor
// changes it.

#include <optional>
#include <string>
#include <vector>

namespace engines {

class Prescan {
public:
    virtual ~Prescan() = default;
    // True when the main text of the Word document at `path` certainly lacks
    // every one of `findTexts`.
    virtual bool wordDocumentLacks(const std::string& path,
                                   const std::vector<std::string>& findTexts) const = 0;
    // The workbook's worksheet names, in its order, when no worksheet of the
    // workbook at `path` can hold any of `findTexts`; nothing when one may.
    virtual std::optional<std::vector<std::string>>
    workbookLacks(const std::string& path, const std::vector<std::string>& findTexts) const = 0;
};

// The prescan that reads the files themselves.
const Prescan& filePrescan();

} // namespace engines
