#pragma once

// Loading and saving documents in the session's office: the format checked
// from the content, no dialogs (the office's questions are answered here and
// kept for the error description), no macros or link updates, and saving
// through a temporary file that replaces the original only when complete.

#include "suites/libreoffice/document_files.h"
#include "suites/libreoffice/uno_support.h"

#include <com/sun/star/lang/XComponent.hpp>

#include <filesystem>
#include <string>

namespace libreoffice {

class OfficeProcess;

// A document as the office loaded it.
struct LoadedDocument {
    uno::Reference<uno::css::lang::XComponent> component;
    // The format its content has, which it is stored in.
    files::Format format = files::Format::Word97;
    // Why the document cannot be saved over its file; empty when it can.
    std::string readOnlyReason;
};

class DocumentStore {
public:
    explicit DocumentStore(OfficeProcess& process) : process_(process) {}

    // Loads a document of the kind, hidden, with the filter of the format
    // its content has.
    LoadedDocument load(const files::OpenCheck& check, files::Kind kind, long errorNumber);
    // Saves a document over its file through a temporary file, in `format`;
    // a format with macros keeps the file's macro part as it stands.
    void save(const uno::Reference<uno::css::lang::XComponent>& document,
              const std::filesystem::path& path, files::Format format,
              const std::string& readOnlyReason, long errorNumber);
    // Closes a document without saving; never raises.
    static void close(const uno::Reference<uno::css::lang::XComponent>& document) noexcept;

private:
    OfficeProcess& process_;
};

} // namespace libreoffice
