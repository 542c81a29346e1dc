#include "bench/support/office_files.h"

#include "suites/libreoffice/libreoffice_server.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace bench_support {

std::optional<Workspace> makeWorkspace(const std::string& name, bool calc) {
    const auto installation = libreoffice::findInstallation();
    if (!installation || !installation->writer || (calc && !installation->calc)) {
        std::cout << (calc ? "LibreOffice Writer and Calc are" : "LibreOffice Writer is")
                  << " not installed; nothing to measure.\n";
        return std::nullopt;
    }
    std::string root = "/tmp/batchreplace-" + name + "-XXXXXX";
    if (!::mkdtemp(root.data())) {
        std::cout << "Cannot make a folder in /tmp for the benchmark.\n";
        return std::nullopt;
    }
    Workspace w{root, fs::path(root) / "convert-profile", fs::path(root) / "soffice.log",
                installation->version};
    libreoffice::prepareProfile(w.profile, installation->version);
    return w;
}

void write(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string flatText(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document "
           "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
           "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" office:version=\"1.3\" "
           "office:mimetype=\"application/"
           "vnd.oasis.opendocument.text\"><office:body><office:text>" +
           body + "</office:text></office:body></office:document>\n";
}

std::string flatSpreadsheet(const std::string& tables) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document "
           "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
           "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
           "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" office:version=\"1.3\" "
           "office:mimetype=\"application/vnd.oasis.opendocument.spreadsheet\"><office:body>"
           "<office:spreadsheet>" +
           tables + "</office:spreadsheet></office:body></office:document>\n";
}

int runProgram(std::vector<std::string> arguments, const fs::path& log) {
    std::vector<char*> argv;
    for (auto& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void convert(const fs::path& profile, const std::vector<fs::path>& sources,
             const std::string& format, const fs::path& folder, const fs::path& log) {
    std::vector<std::string> arguments = {
        (libreoffice::defaultProgramFolder() / "soffice").string(),
        "-env:UserInstallation=file://" + profile.string(),
        "--headless",
        "--convert-to",
        format,
        "--outdir",
        folder.string()};
    for (const auto& s : sources)
        arguments.push_back(s.string());
    for (int attempt = 0; attempt < 3 && runProgram(arguments, log) == 81; ++attempt) {
    }
}

} // namespace bench_support
