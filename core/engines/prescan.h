#pragma once

// The question the replace runs ask before they open a document: may it hold
// the text where the operation looks? A run that gets "certainly not" reports
// the document as without the text and neither opens nor saves it.

#include <optional>
#include <string>
#include <vector>

namespace engines {

class Prescan {
public:
    virtual ~Prescan() = default;
    // True when the main text of the Word document at `path` certainly lacks
    // `findText`.
    virtual bool wordDocumentLacks(const std::string& path, const std::string& findText) const = 0;
    // The workbook's worksheet names, in its order, when no worksheet of the
    // workbook at `path` can hold `findText`; nothing when one may.
    virtual std::optional<std::vector<std::string>>
    workbookLacks(const std::string& path, const std::string& findText) const = 0;
};

// The prescan that reads the files themselves (Word 97-2003 and Excel
// 97-2003 formats).
const Prescan& filePrescan();

} // namespace engines
