// Built where the office's SDK is missing: nothing is registered, so
// creating the Word and Excel classes fails with error 429.

#include "suites/libreoffice/libreoffice_server.h"

namespace libreoffice {

automation::Object createWordApplication(const ServerOptions&) {
    throw automation::makeError(automation::errors::CannotCreateObject);
}

automation::Object createExcelApplication(const ServerOptions&) {
    throw automation::makeError(automation::errors::CannotCreateObject);
}

std::optional<Installation> registerClasses(automation::Registry&, const ServerOptions&) {
    return std::nullopt;
}

int officeProcessGroup(const automation::Object&) {
    return 0;
}

} // namespace libreoffice
