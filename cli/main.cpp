#include "cli/cli.h"
#include "core/platform/app_folder.h"
#include "suites/libreoffice/libreoffice_server.h"

#include <iostream>
#include <unistd.h>

int main(int argc, char* argv[]) {
    std::vector<std::string> args(argv + 1, argv + argc);
    automation::Registry& registry = automation::defaultRegistry();
    // On Linux LibreOffice serves the Word and Excel classes when installed.
    libreoffice::registerClasses(registry);
    const cli::Environment env{registry, platform::executableFolder(), isatty(2) != 0};
    return cli::run(args, std::cout, std::cerr, env);
}
