#include "cli/cli.h"
#include "core/platform/app_folder.h"
#include "suites/libreoffice/libreoffice_server.h"

#include <iostream>

#ifdef _WIN32
#include "core/automation/com_win.h"
#include "core/text/encoding.h"

#include <windows.h>

#include <io.h>
#include <shellapi.h>
#else
#include <unistd.h>
#endif

namespace {

// The arguments as UTF-8. Windows hands `argv` over in the ANSI code page,
// which cannot hold every file name: there they are read from the wide
// command line.
std::vector<std::string> argumentsOf(int argc, char* argv[]) {
#ifdef _WIN32
    (void)argc;
    (void)argv;
    std::vector<std::string> args;
    int count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) {
            const std::wstring w(wide[i]);
            args.push_back(text::utf16ToUtf8(std::u16string(w.begin(), w.end())));
        }
        LocalFree(wide);
    }
    return args;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

} // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string> args = argumentsOf(argc, argv);
    automation::Registry& registry = automation::defaultRegistry();
#ifdef _WIN32
    // On Windows the installed suites serve the classes through COM; the
    // console shows the UTF-8 output as it is.
    automation::com::useSystemClasses(registry);
    SetConsoleOutputCP(CP_UTF8);
    const bool terminal = _isatty(_fileno(stderr)) != 0;
#else
    // On Linux LibreOffice serves the Word and Excel classes when installed.
    libreoffice::registerClasses(registry);
    const bool terminal = isatty(2) != 0;
#endif
    const cli::Environment env{registry, platform::applicationFolder(), terminal};
    return cli::run(args, std::cout, std::cerr, env);
}
