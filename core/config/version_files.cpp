#include "core/config/version_files.h"

#include "core/text/encoding.h"
#include "core/text/paths.h"

#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace config {

namespace {

// The file's lines in UTF-8, split at CR or CR LF; a line end at the very
// end of the file does not start another line.
std::optional<std::vector<std::string>> readLines(const std::filesystem::path& path) {
    // Only an ordinary file can be read: a folder or a pipe of that name
    // gives no information (and a pipe could block the program).
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    // CR and LF are single bytes in every ANSI code page the system meets
    // (GBK's trail bytes start at 0x40), so the bytes can be split before they
    // are converted.
    std::vector<std::string> lines;
    std::string line;
    bool open = false; // a line has started and not yet ended
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r') {
            lines.push_back(text::ansiToUtf8(line));
            line.clear();
            open = false;
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
        } else {
            line += c;
            open = true;
        }
    }
    if (open)
        lines.push_back(text::ansiToUtf8(line));
    return lines;
}

} // namespace

bool WriteLine(const std::filesystem::path& path, const std::string& line, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text::utf8ToAnsi(line) << "\r\n";
    out.close();
    if (!out) {
        error = "无法写入文件“" + text::pathToUtf8(path) + "”";
        return false;
    }
    return true;
}

bool WriteVersionFile(const std::filesystem::path& appFolder, const std::string& versionText,
                      std::string& error) {
    return WriteLine(currentVersionFile(appFolder), versionText, error);
}

std::filesystem::path configurationFolder(const std::filesystem::path& appFolder) {
    return appFolder / "toconfigure";
}

std::filesystem::path currentVersionFile(const std::filesystem::path& appFolder) {
    return configurationFolder(appFolder) / "dqbb.ini";
}

std::filesystem::path configurationFile(const std::filesystem::path& appFolder) {
    return configurationFolder(appFolder) / std::filesystem::path(u8"配置.ini");
}

std::filesystem::path updateInformationFile(const std::filesystem::path& appFolder) {
    return configurationFolder(appFolder) / "updata.ini";
}

std::optional<std::string> ReadLastLine(const std::filesystem::path& path) {
    auto lines = readLines(path);
    if (!lines)
        return std::nullopt;
    if (lines->empty())
        return std::string();
    return std::move(lines->back());
}

std::optional<std::string> ReadJoinedLines(const std::filesystem::path& path) {
    auto lines = readLines(path);
    if (!lines)
        return std::nullopt;
    std::string joined;
    for (const auto& line : *lines)
        joined += line;
    return joined;
}

std::optional<std::string> CutVersion(std::string_view text) {
    static const std::u16string marker = u"版 ";
    const std::u16string t = text::utf8ToUtf16(text);
    const std::size_t p = t.find(marker);
    if (p == std::u16string::npos)
        return std::nullopt;
    // The 7 characters from the marker on; the version follows the marker's
    // own space, the first space of that window.
    const std::u16string window = t.substr(p, 7);
    const std::size_t q = window.find(u' ');
    return text::utf16ToUtf8(window.substr(q + 1));
}

std::optional<std::string> CutField(std::string_view text, std::string_view startMarker,
                                    std::string_view endMarker) {
    if (startMarker.empty() || endMarker.empty())
        return std::nullopt;
    const std::u16string t = text::utf8ToUtf16(text);
    const std::u16string start = text::utf8ToUtf16(startMarker);
    const std::u16string end = text::utf8ToUtf16(endMarker);
    const std::size_t e = t.find(end);
    if (e == std::u16string::npos || e < start.size())
        return std::nullopt;
    // The last start marker that ends before the end marker begins.
    const std::size_t s = t.rfind(start, e - start.size());
    if (s == std::u16string::npos)
        return std::nullopt;
    return text::utf16ToUtf8(t.substr(s + 1, e - s - 1));
}

bool IsNewerVersion(std::string_view current, std::string_view offered) {
    return text::utf8ToUtf16(current) < text::utf8ToUtf16(offered);
}

std::string textBeforeNul(std::string_view text) {
    return std::string(text.substr(0, text.find('\0')));
}

} // namespace config
