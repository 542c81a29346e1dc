#pragma once

// The documents an application object has open, shared by the Word and the
// Excel server: the record of one document, the list with its active
// document, and opening, saving, closing and quitting. What differs between
// the two object models (their words and error numbers) comes in
// `DocumentKind`.

#include "core/automation/automation.h"
#include "suites/libreoffice/document_files.h"
#include "suites/libreoffice/uno_support.h"

#include <com/sun/star/lang/XComponent.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace libreoffice {

class Session;
struct LoadedDocument;

// The words and numbers of one object model.
struct DocumentKind {
    files::Kind kind;
    const char* noun;        // "文档", "工作簿"
    const char* application; // "Word", "Excel"
    long openError;          // a document that cannot be opened
    long saveError;          // a save that fails
    long closedError;        // a member of a closed document
    long noDocumentError;    // a member that needs an open document
    const char* noDocumentText;
    long noSuchItemError; // `Documents(x)` of a document not open
};

class OfficeDocument {
public:
    virtual ~OfficeDocument() = default;

    std::filesystem::path path;
    std::string name;
    uno::Reference<uno::css::lang::XComponent> component;
    // The format of its content, which it is stored in.
    files::Format format = files::Format::Word97;
    // Why the document cannot be saved over its file; empty when it can.
    std::string readOnlyReason;
    // The office it was loaded in.
    std::uint64_t generation = 0;
    bool open = true;
    // Whether a call changed it since it was opened or saved: a document
    // that no call changed is not stored again (the office's modified flag
    // is no measure; loading can set it).
    bool changed = false;

    // Drops the model's own references into the office when it is closed.
    virtual void release() {}
};
using OfficeDocumentPtr = std::shared_ptr<OfficeDocument>;

class OpenDocuments {
public:
    OpenDocuments(std::shared_ptr<Session> session, const DocumentKind& kind)
        : session_(std::move(session)), kind_(kind) {}

    const std::shared_ptr<Session>& session() const { return session_; }
    const DocumentKind& kind() const { return kind_; }

    // Error 462 after `Quit`.
    void checkNotQuit() const;
    // Forgets the documents of an office that is no longer running.
    void dropLost();
    // Raises when the document was closed or its office is gone.
    void checkUsable(const OfficeDocument& document) const;
    // Raises unless the document is open (for `Close`).
    void checkOpen(const OfficeDocument& document) const;

    // The open documents, in the order they were opened.
    const std::vector<OfficeDocumentPtr>& list();
    // `Documents(i)` or `Documents("name")`.
    OfficeDocumentPtr item(const automation::Value& index);
    // The active document; raises when none is open.
    OfficeDocumentPtr active();
    void activate(const OfficeDocumentPtr& document) { active_ = document; }

    // Opens a file; `make` makes the model's record of the loaded document.
    OfficeDocumentPtr open(const std::string& path, bool readOnly,
                           const std::function<OfficeDocumentPtr(const LoadedDocument&)>& make);
    // Stores a changed document over its file; an unchanged one is left as
    // it is.
    void save(OfficeDocument& document);
    // Closes one document, saving it first when asked. A failed save leaves
    // the document open, as Word and Excel do.
    void close(const OfficeDocumentPtr& document, bool save);
    void closeAll(bool save);
    // `Quit`: closes everything and ends the office.
    void quit(bool save);
    // The application object is released: quits under the watchdog, so that
    // a hung office is ended and not waited for.
    void release() noexcept;

private:
    std::shared_ptr<Session> session_;
    const DocumentKind& kind_;
    std::vector<OfficeDocumentPtr> documents_;
    OfficeDocumentPtr active_;
    bool quit_ = false;
};

} // namespace libreoffice
