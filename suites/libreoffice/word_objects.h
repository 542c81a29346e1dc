#pragma once

// The objects of the Word server that its two source files share: the
// application's state, the base classes of its objects, and the range.

#include "suites/libreoffice/model_objects.h"
#include "suites/libreoffice/word_text.h"

namespace libreoffice {

// A document that cannot be opened.
inline constexpr long kWordOpenFailure = automation::errors::WordFile;
// Any other command that fails on a document.
inline constexpr long kWordCommandFailure = automation::errors::WordCommandFailed;

struct WordState {
    explicit WordState(std::shared_ptr<Session> session);
    OpenDocuments documents;
    ApplicationSettings settings{false, automation::Value(word::AlertsAll),
                                 automation::Value(true)};
    // Find settings kept from one search to the next, as Word keeps them.
    bool matchCase = false;
    bool matchWholeWord = false;

    DocumentPtr active() { return std::static_pointer_cast<WordDocument>(documents.active()); }
};
using StatePtr = std::shared_ptr<WordState>;

// Objects that belong to the application, and to one document.
using WordObject = ApplicationMember<WordState>;
using DocumentObject = DocumentMember<WordState, WordDocument>;

// A range: the main text (`Content`), a header or footer story, or a
// position (`Selection.Range`).
class WordRange : public DocumentObject {
public:
    enum class Kind { MainText, Story, Position };
    WordRange(StatePtr state, DocumentPtr document, Kind kind, bool header = false, int index = 1,
              uno::Reference<uno::css::text::XTextCursor> position = {})
        : DocumentObject(std::move(state), std::move(document)), kind_(kind), header_(header),
          index_(index), position_(std::move(position)) {}

    Kind kind() const { return kind_; }
    const uno::Reference<uno::css::text::XTextCursor>& position() const { return position_; }
    const DocumentPtr& document() const { return document_; }

protected:
    automation::Value dispatch(automation::CallKind kind, std::string_view member,
                               const automation::Args& args) override;

private:
    Kind kind_;
    bool header_;
    int index_;
    uno::Reference<uno::css::text::XTextCursor> position_;
};

// `Selection` of a document: the insertion point with its font, paragraph
// format and fields.
automation::Value newWordSelection(const StatePtr& state, const DocumentPtr& document);
// `ActiveWindow` (or its `ActivePane`): the view and the selection.
automation::Value newWordWindow(const StatePtr& state, const DocumentPtr& document, bool pane);

} // namespace libreoffice
