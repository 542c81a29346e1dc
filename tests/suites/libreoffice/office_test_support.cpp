#include "office_test_support.h"

#include "core/text/encoding.h"
#include "suites/libreoffice/libreoffice_server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace office_testing {

namespace fs = std::filesystem;

namespace {

// Text and attribute values: quotes escaped too.
std::string escape(const std::string& s) {
    std::string out;
    for (const char c : text::xmlEscaped(s))
        out += c == '"' ? std::string("&quot;") : std::string(1, c);
    return out;
}

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeAll(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out)
        throw std::runtime_error("cannot write " + p.string());
}

// Bare text becomes one paragraph; XML that starts with an element is kept.
std::string paragraphs(const std::string& content) {
    if (!content.empty() && content.front() == '<')
        return content;
    return paragraph(content);
}

const char* kNamespaces =
    "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
    "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
    "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
    "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
    "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
    "xmlns:loext=\"urn:org:documentfoundation:names:experimental:office:xmlns:loext:1.0\" "
    "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
    "xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\" "
    "xmlns:of=\"urn:oasis:names:tc:opendocument:xmlns:of:1.2\" ";

// The region between an opening tag prefix and its closing tag.
std::string region(const std::string& xml, const std::string& open, const std::string& close) {
    const auto start = xml.find(open);
    if (start == std::string::npos)
        return {};
    const auto end = xml.find(close, start);
    return xml.substr(start,
                      end == std::string::npos ? std::string::npos : end + close.size() - start);
}

fs::path convertProfile() {
    const fs::path root =
        fs::temp_directory_path() / ("batchreplace-office-tests-" + std::to_string(::getuid()));
    fs::create_directories(root);
    // One fixed profile per test program, so that later runs start fast; a
    // second copy of the same program running at once takes its own.
    const std::string program = program_invocation_short_name;
    for (int i = 0; i < 8; ++i) {
        const fs::path folder = root / ("convert-" + program + "-" + std::to_string(i));
        const int fd =
            ::open((folder.string() + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return folder; // the lock is kept to the end of the process
        if (fd >= 0)
            ::close(fd);
    }
    throw std::runtime_error("no free conversion profile under " + root.string());
}

} // namespace

std::string missingOfficeReason() {
    const auto installation = libreoffice::findInstallation();
    if (!installation)
        return "LibreOffice is not installed in " + libreoffice::defaultProgramFolder().string() +
               " (install libreoffice-writer-nogui and libreoffice-calc-nogui)";
    if (!installation->writer || !installation->calc)
        return "LibreOffice Writer or Calc is missing";
    return {};
}

std::string paragraph(const std::string& text) {
    return "<text:p>" + escape(text) + "</text:p>";
}

std::string flatText(const TextDocument& d) {
    std::ostringstream x;
    x << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document " << kNamespaces
      << "office:version=\"1.3\" office:mimetype=\"application/vnd.oasis.opendocument.text\">\n"
      << "<office:automatic-styles>\n"
      << "<style:style style:name=\"B\" style:family=\"text\"><style:text-properties "
         "fo:font-weight=\"bold\" style:font-weight-asian=\"bold\"/></style:style>\n"
      << "<style:style style:name=\"I\" style:family=\"text\"><style:text-properties "
         "fo:font-style=\"italic\" style:font-style-asian=\"italic\"/></style:style>\n"
      << "<style:page-layout style:name=\"pm1\"><style:page-layout-properties "
         "fo:page-width=\"21cm\" "
         "fo:page-height=\"29.7cm\" fo:margin-top=\"2cm\" fo:margin-bottom=\"2cm\" "
         "fo:margin-left=\"2cm\" fo:margin-right=\"2cm\"/>"
         "<style:header-style/><style:footer-style/></style:page-layout>\n"
      << "</office:automatic-styles>\n<office:master-styles>\n"
      << "<style:master-page style:name=\"Standard\" style:page-layout-name=\"pm1\">";
    if (!d.header.empty())
        x << "<style:header>" << paragraphs(d.header) << "</style:header>";
    if (!d.firstHeader.empty())
        x << "<style:header-first>" << paragraphs(d.firstHeader) << "</style:header-first>";
    if (!d.footer.empty())
        x << "<style:footer>" << paragraphs(d.footer) << "</style:footer>";
    x << "</style:master-page>\n</office:master-styles>\n<office:body><office:text>\n"
      << paragraphs(d.body) << "\n</office:text></office:body></office:document>\n";
    return x.str();
}

std::string flatSpreadsheet(const std::vector<Sheet>& sheets) {
    static const std::regex number(R"re(-?[0-9]+(\.[0-9]+)?)re");
    std::ostringstream x;
    x << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document " << kNamespaces
      << "office:version=\"1.3\" "
         "office:mimetype=\"application/vnd.oasis.opendocument.spreadsheet\">\n"
      << "<office:automatic-styles><style:style style:name=\"B\" style:family=\"text\">"
         "<style:text-properties fo:font-weight=\"bold\" style:font-weight-asian=\"bold\"/>"
         "</style:style><style:style style:name=\"hidden\" style:family=\"table\">"
         "<style:table-properties table:display=\"false\"/></style:style>"
         "</office:automatic-styles>\n"
      << "<office:body><office:spreadsheet>\n";
    for (const auto& sheet : sheets) {
        x << "<table:table table:name=\"" << escape(sheet.name) << "\""
          << (sheet.isProtected ? " table:protected=\"true\"" : "")
          << (sheet.hidden ? " table:style-name=\"hidden\"" : "") << ">";
        for (std::size_t r = 0; r < sheet.rows.size(); ++r) {
            const auto& row = sheet.rows[r];
            const bool hiddenRow = std::find(sheet.hiddenRows.begin(), sheet.hiddenRows.end(), r) !=
                                   sheet.hiddenRows.end();
            x << (hiddenRow ? "<table:table-row table:visibility=\"collapsed\">"
                            : "<table:table-row>");
            for (const auto& cell : row) {
                if (cell.empty())
                    x << "<table:table-cell/>";
                else if (cell.rfind("<table:table-cell", 0) == 0)
                    x << cell;
                else if (std::regex_match(cell, number))
                    x << "<table:table-cell office:value-type=\"float\" office:value=\"" << cell
                      << "\"><text:p>" << cell << "</text:p></table:table-cell>";
                else
                    x << "<table:table-cell office:value-type=\"string\"><text:p>" << escape(cell)
                      << "</text:p></table:table-cell>";
            }
            x << "</table:table-row>";
        }
        x << "</table:table>\n";
    }
    x << "</office:spreadsheet></office:body></office:document>\n";
    return x.str();
}

std::vector<fs::path> convert(const std::vector<fs::path>& sources, const std::string& format,
                              const fs::path& outputFolder) {
    if (sources.empty())
        return {};
    static const fs::path profile = convertProfile();
    const auto installation = libreoffice::findInstallation();
    libreoffice::prepareProfile(profile, installation ? installation->version : "0");
    fs::create_directories(outputFolder);

    std::vector<std::string> arguments = {
        (libreoffice::defaultProgramFolder() / "soffice.bin").string(),
        "-env:UserInstallation=file://" + fs::absolute(profile).string(),
        "--headless",
        "--norestore",
        "--nologo",
        "--nolockcheck",
        "--convert-to",
        format,
        "--outdir",
        outputFolder.string(),
    };
    for (const auto& s : sources)
        arguments.push_back(fs::absolute(s).string());
    std::vector<char*> argv;
    for (auto& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    // File names are UTF-8 whatever the locale of the tests.
    std::vector<std::string> environment = libreoffice::officeEnvironment();
    std::vector<char*> envp;
    for (auto& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = profile.string() + ".log";
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // On its first start with a new profile the office sets the profile up
    // and exits asking to be started again (exit code 81).
    for (int attempt = 0; attempt < 3; ++attempt) {
        pid_t pid = 0;
        const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        if (rc != 0)
            break;
        // A conversion that hangs is ended, so that the tests report it.
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(180);
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!WIFEXITED(status) || (WEXITSTATUS(status) != 81 && WEXITSTATUS(status) != 79))
            break;
    }
    posix_spawn_file_actions_destroy(&actions);

    std::vector<fs::path> results;
    for (const auto& s : sources) {
        const fs::path made = outputFolder / (s.stem().string() + "." + format);
        if (!fs::exists(made))
            throw std::runtime_error("the office did not convert " + s.string() + " to " + format +
                                     " (log: " + log + ")");
        results.push_back(made);
    }
    return results;
}

std::map<std::string, fs::path> makeDocuments(const std::map<std::string, std::string>& flatSources,
                                              const std::string& format, const fs::path& folder) {
    const fs::path sources = folder / "sources";
    fs::create_directories(sources);
    std::vector<fs::path> files;
    std::vector<std::string> names;
    for (const auto& [name, xml] : flatSources) {
        const bool text = xml.find("opendocument.text") != std::string::npos;
        const fs::path file = sources / (name + (text ? ".fodt" : ".fods"));
        writeAll(file, xml);
        files.push_back(file);
        names.push_back(name);
    }
    const auto made = convert(files, format, folder);
    std::map<std::string, fs::path> result;
    for (std::size_t i = 0; i < names.size(); ++i)
        result[names[i]] = made[i];
    return result;
}

std::vector<ReadBack> readBack(const std::vector<fs::path>& documents,
                               const std::string& flatFormat) {
    char scratchTemplate[] = "/tmp/batchreplace-readback-XXXXXX";
    const char* scratch = ::mkdtemp(scratchTemplate);
    if (!scratch)
        throw std::runtime_error("cannot make a scratch folder");
    // Copies keep the documents themselves untouched by the conversion.
    std::vector<fs::path> copies;
    for (std::size_t i = 0; i < documents.size(); ++i) {
        const fs::path copy =
            fs::path(scratch) / ("doc" + std::to_string(i) + documents[i].extension().string());
        fs::copy_file(documents[i], copy);
        copies.push_back(copy);
    }
    const auto converted = convert(copies, flatFormat, fs::path(scratch) / "out");
    std::vector<ReadBack> result;
    for (const auto& c : converted)
        result.push_back(ReadBack{readAll(c)});
    fs::remove_all(scratch);
    return result;
}

std::string plainText(const std::string& xml) {
    std::string out;
    for (std::size_t i = 0; i < xml.size();) {
        if (xml[i] == '<') {
            const auto end = xml.find('>', i);
            if (end == std::string::npos)
                break;
            const std::string tag = xml.substr(i, end - i + 1);
            if (tag.rfind("<text:s", 0) == 0 &&
                (tag.size() == 8 || tag[7] == ' ' || tag[7] == '/')) {
                int count = 1;
                static const std::regex c(R"re(text:c="([0-9]+)")re");
                std::smatch m;
                if (std::regex_search(tag, m, c))
                    count = std::stoi(m[1]);
                out.append(static_cast<std::size_t>(count), ' ');
            } else if (tag.rfind("<text:tab", 0) == 0) {
                out += '\t';
            } else if (tag.rfind("<text:line-break", 0) == 0) {
                out += '\n';
            }
            i = end + 1;
            continue;
        }
        if (xml[i] == '&') {
            static const std::pair<const char*, char> entities[] = {
                {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
            bool matched = false;
            for (const auto& [name, c] : entities) {
                if (xml.compare(i, std::strlen(name), name) == 0) {
                    out += c;
                    i += std::strlen(name);
                    matched = true;
                    break;
                }
            }
            if (matched)
                continue;
        }
        out += xml[i++];
    }
    return out;
}

std::vector<std::string> ReadBack::bodyParagraphs() const {
    const std::string body = region(xml, "<office:text", "</office:text>");
    std::vector<std::string> result;
    static const std::regex p(R"re(<text:(p|h)( [^>]*)?>([\s\S]*?)</text:\1>)re");
    for (auto it = std::sregex_iterator(body.begin(), body.end(), p); it != std::sregex_iterator();
         ++it)
        result.push_back(plainText((*it)[3]));
    return result;
}

std::string ReadBack::masterStyles() const {
    return region(xml, "<office:master-styles", "</office:master-styles>");
}

std::string ReadBack::style(const std::string& name) const {
    const std::string open = "<style:style style:name=\"" + name + "\"";
    const auto start = xml.find(open);
    if (start == std::string::npos)
        return {};
    const auto selfClose = xml.find("/>", start);
    const auto tagEnd = xml.find('>', start);
    if (selfClose != std::string::npos && selfClose + 1 == tagEnd)
        return xml.substr(start, tagEnd + 1 - start);
    const auto end = xml.find("</style:style>", start);
    return xml.substr(start, end == std::string::npos ? std::string::npos : end + 14 - start);
}

std::map<std::string, std::vector<std::string>> ReadBack::sheets() const {
    std::map<std::string, std::vector<std::string>> result;
    static const std::regex table(
        R"re(<table:table table:name="([^"]*)"[^>]*>([\s\S]*?)</table:table>)re");
    static const std::regex cell(
        R"re(<table:table-cell[^>]*?(/>|>([\s\S]*?)</table:table-cell>))re");
    for (auto t = std::sregex_iterator(xml.begin(), xml.end(), table); t != std::sregex_iterator();
         ++t) {
        auto& cells = result[plainText((*t)[1])];
        const std::string content = (*t)[2];
        for (auto c = std::sregex_iterator(content.begin(), content.end(), cell);
             c != std::sregex_iterator(); ++c) {
            // The paragraphs of the cell; the whitespace around them is layout.
            const std::string inner = (*c)[2];
            static const std::regex paragraphs(R"re(<text:p[^>]*>([\s\S]*?)</text:p>)re");
            std::string text;
            for (auto p = std::sregex_iterator(inner.begin(), inner.end(), paragraphs);
                 p != std::sregex_iterator(); ++p)
                text += (text.empty() ? "" : "\n") + plainText((*p)[1]);
            if (!text.empty())
                cells.push_back(text);
        }
    }
    return result;
}

void ageFile(const fs::path& file) {
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = 978307200; // 2001-01-01
    times[0].tv_nsec = times[1].tv_nsec = 0;
    if (::utimensat(AT_FDCWD, file.c_str(), times, 0) != 0)
        throw std::runtime_error("cannot set the time of " + file.string());
}

long long modificationTime(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return -1;
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

} // namespace office_testing
