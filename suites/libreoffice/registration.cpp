// Registration of the Word and Excel classes served by LibreOffice.

#include "suites/libreoffice/libreoffice_server.h"
#include "suites/libreoffice/office_session.h"
#include "suites/libreoffice/server_objects.h"

namespace libreoffice {

using automation::Object;

namespace {

// The spellings under which the suites' classes are created; the registry
// ignores letter case, so one of each suffices, but all are listed as the
// callers spell them.
constexpr const char* kWordClasses[] = {"word.Application", "Word.Application"};
constexpr const char* kExcelClasses[] = {"excel.application", "excel.Application",
                                         "Excel.Application"};

Object create(const ServerOptions& options, bool word) {
    const auto installation = findInstallation(options);
    if (!installation || !(word ? installation->writer : installation->calc))
        throw automation::makeError(automation::errors::CannotCreateObject);
    // Said once, when the application object is made, rather than by an
    // office that ends on every document with a comment.
    const std::string missing = missingUserInterface(
        options.programFolder.empty() ? defaultProgramFolder() : options.programFolder, word);
    if (!missing.empty())
        throw automation::Error(automation::errors::CannotCreateObject, missing);
    auto session = std::make_shared<Session>(options, *installation);
    return word ? newWordApplication(std::move(session)) : newExcelApplication(std::move(session));
}

} // namespace

Object createWordApplication(const ServerOptions& options) {
    return create(options, true);
}

Object createExcelApplication(const ServerOptions& options) {
    return create(options, false);
}

std::optional<Installation> registerClasses(automation::Registry& registry,
                                            const ServerOptions& options) {
    const auto installation = findInstallation(options);
    if (!installation)
        return std::nullopt;
    if (installation->writer) {
        for (const char* name : kWordClasses)
            registry.registerClass(name, [options] { return createWordApplication(options); });
    }
    if (installation->calc) {
        for (const char* name : kExcelClasses)
            registry.registerClass(name, [options] { return createExcelApplication(options); });
    }
    return installation;
}

int officeProcessGroup(const Object& application) {
    const auto* served = dynamic_cast<const ApplicationObject*>(application.dispatch());
    return served ? served->processGroup() : 0;
}

} // namespace libreoffice
