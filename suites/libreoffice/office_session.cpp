#include "suites/libreoffice/office_session.h"

namespace libreoffice {

namespace {

ServerOptions withDefaults(ServerOptions options) {
    if (options.programFolder.empty())
        options.programFolder = defaultProgramFolder();
    if (options.profileRoot.empty())
        options.profileRoot = defaultProfileRoot();
    return options;
}

} // namespace

Session::Session(ServerOptions options, Installation installation)
    : options_(withDefaults(std::move(options))), installation_(std::move(installation)),
      process_(options_, installation_, watchdog_), watchdog_([this] { process_.expire(); }),
      store_(process_), errors_(process_, options_.callTimeout) {}

Session::~Session() {
    stop();
}

} // namespace libreoffice
