// Finding the office and preparing its private profile: plain file work,
// without UNO, so it is also built where the office's SDK is missing.

#include "suites/libreoffice/libreoffice_server.h"

#include "core/text/encoding.h"
#include "core/text/paths.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>
#include <unistd.h>

extern char** environ;

#ifndef BR_LIBREOFFICE_PROGRAM_DIR
#define BR_LIBREOFFICE_PROGRAM_DIR "/usr/lib/libreoffice/program"
#endif

namespace libreoffice {

namespace fs = std::filesystem;

namespace {

bool isFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

// The value of `key` in an ini-style file ("Key=Value" lines).
std::string iniValue(const fs::path& file, const std::string& key) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
            line[key.size()] == '=')
            return line.substr(key.size() + 1);
    }
    return {};
}

} // namespace

std::vector<std::string> officeEnvironment() {
    auto value = [](const char* name) {
        const char* v = std::getenv(name);
        return std::string(v ? v : "");
    };
    // The locale that decides the character type: LC_ALL, LC_CTYPE, LANG.
    std::string ctype = value("LC_ALL");
    if (ctype.empty())
        ctype = value("LC_CTYPE");
    if (ctype.empty())
        ctype = value("LANG");
    std::string lower;
    for (char c : ctype)
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    const bool utf8 =
        lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos;

    std::vector<std::string> environment;
    for (char** e = environ; e && *e; ++e) {
        if (std::strncmp(*e, "SAL_ENABLE_FILE_LOCKING=", 24) == 0)
            continue;
        if (!utf8 &&
            (std::strncmp(*e, "LC_ALL=", 7) == 0 || std::strncmp(*e, "LC_CTYPE=", 9) == 0 ||
             (std::strncmp(*e, "LANG=", 5) == 0 && !value("LC_ALL").empty())))
            continue;
        environment.emplace_back(*e);
    }
    if (!utf8) {
        // The other categories keep what LC_ALL chose.
        if (!value("LC_ALL").empty())
            environment.push_back("LANG=" + value("LC_ALL"));
        environment.emplace_back("LC_CTYPE=C.UTF-8");
    }
    // As the office's own start script does: lock documents while they are open.
    environment.emplace_back("SAL_ENABLE_FILE_LOCKING=1");
    return environment;
}

fs::path defaultProgramFolder() {
    return fs::path(BR_LIBREOFFICE_PROGRAM_DIR);
}

fs::path defaultProfileRoot() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && *cache == '/')
        return fs::path(cache) / "batchreplace" / "libreoffice";
    const char* home = std::getenv("HOME");
    std::error_code ec;
    if (home && *home == '/' && fs::is_directory(home, ec) && ::access(home, W_OK) == 0)
        return fs::path(home) / ".cache" / "batchreplace" / "libreoffice";
    return fs::temp_directory_path() / ("batchreplace-" + std::to_string(::getuid())) /
           "libreoffice";
}

std::optional<Installation> findInstallation(const ServerOptions& options) {
    const fs::path program =
        options.programFolder.empty() ? defaultProgramFolder() : options.programFolder;
    if (!isFile(program / "soffice.bin") || ::access((program / "soffice.bin").c_str(), X_OK) != 0)
        return std::nullopt;
    if (!isFile(program / "fundamentalrc") || !isFile(program / "types.rdb"))
        return std::nullopt;

    Installation found;
    // "LibreOffice 7.4": the product's name and its version number.
    const std::string key = iniValue(program / "bootstraprc", "ProductKey");
    const auto space = key.rfind(' ');
    if (space != std::string::npos) {
        found.productName = key.substr(0, space);
        found.version = key.substr(space + 1);
    } else {
        found.productName = key;
    }
    if (found.productName.empty())
        found.productName = "LibreOffice";
    // The version must read as a number, as Word's and Excel's do.
    if (found.version.empty() ||
        found.version.find_first_not_of("0123456789.") != std::string::npos)
        found.version = "0";

    found.writer = isFile(program / "libswlo.so") && isFile(program / "libmswordlo.so");
    found.calc = isFile(program / "libsclo.so") && isFile(program / "libscfiltlo.so");
    if (!found.writer && !found.calc)
        return std::nullopt;
    return found;
}

std::string missingUserInterface(const fs::path& programFolder, bool writer) {
    const fs::path folder = programFolder.parent_path() / "share" / "config" / "soffice.cfg" /
                            "modules" / (writer ? "swriter" : "scalc") / "ui";
    std::error_code ec;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        if (it->path().extension() == ".ui")
            return {};
    }
    const std::string package = writer ? "libreoffice-writer" : "libreoffice-calc";
    return std::string("LibreOffice 安装不完整：缺少") + (writer ? "文字处理" : "电子表格") +
           "的界面描述文件（" + text::pathToUtf8(folder) +
           "），打开含批注等内容的文档时 LibreOffice 会意外退出。请安装完整的 " + package +
           " 软件包（而不是 " + package +
           "-nogui），例如：apt-get install --no-install-recommends " + package + "。";
}

void prepareProfile(const fs::path& folder, const std::string& productVersion) {
    const fs::path settings = folder / "user" / "registrymodifications.xcu";
    std::error_code ec;
    if (fs::exists(settings, ec))
        return;
    fs::create_directories(settings.parent_path(), ec);
    if (ec)
        return; // the office reports the folder it cannot use when it starts

    auto item = [](const std::string& path, const std::string& name, const std::string& value) {
        return "<item oor:path=\"" + path + "\"><prop oor:name=\"" + name +
               "\" oor:op=\"fuse\"><value>" + text::xmlEscaped(value) + "</value></prop></item>\n";
    };
    std::ostringstream xcu;
    xcu << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
           "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
    // Recording the version as already seen skips the graphics self-test that
    // the office runs on the first start of a version; headless, it would run
    // on every start, since only the user interface records the version.
    xcu << item("/org.openoffice.Setup/Product", "ooSetupLastVersion", productVersion);
    xcu << item("/org.openoffice.Office.Recovery/AutoSave", "Enabled", "false");
    xcu << item("/org.openoffice.Office.Recovery/RecoveryInfo", "Enabled", "false");
    xcu << item("/org.openoffice.Office.Common/Security/Scripting", "MacroSecurityLevel", "3");
    xcu << item("/org.openoffice.Office.Common/Security/Scripting", "DisableMacrosExecution",
                "true");
    xcu << item("/org.openoffice.Office.Java/VirtualMachine", "Enable", "false");
    xcu << "</oor:items>\n";

    const fs::path partial = settings.string() + ".part";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << xcu.str();
        if (!out)
            return;
    }
    fs::rename(partial, settings, ec);
}

} // namespace libreoffice
