#include "core/backup/keeping.h"

#include "core/backup/durable_file.h"
#include "core/text/paths.h"

#include <charconv>
#include <fstream>
#include <iterator>

namespace backup {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDaysKey = "保留天数";
constexpr const char* kMegabytesKey = "最大容量MB";
constexpr int kMaxDays = 36500;
constexpr std::uintmax_t kMaxMegabytes = 1ull << 30;

std::string trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return "";
    const auto last = s.find_last_not_of(" \t\r");
    return std::string(s.substr(first, last - first + 1));
}

// A whole number from 1 to `max`; nothing otherwise.
std::optional<std::uintmax_t> wholeNumber(const std::string& text, std::uintmax_t max) {
    std::uintmax_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > max)
        return std::nullopt;
    return value;
}

std::string defaultSettingsText() {
    const KeepingSettings defaults;
    return "\xEF\xBB\xBF; 备份设置：每次运行修改文档之前，程序把原件复制到应用程序文件夹的“备份”"
           "文件夹，以便撤销。\r\n"
           "; 程序启动时删除超过保留天数的备份（1 到 36500 天）。\r\n" +
           std::string(kDaysKey) + "=" + std::to_string(defaults.days) +
           "\r\n"
           "; 备份总大小超过最大容量（单位 MB，1 MB = 1048576 字节）时，从最早的运行删起；"
           "最近一次运行总是保留。\r\n" +
           std::string(kMegabytesKey) + "=" + std::to_string(defaults.maxBytes >> 20) +
           "\r\n"
           "; 取值无效时按默认值（30 天、2048 MB）处理。\r\n";
}

std::uintmax_t sizeOf(const fs::path& folder) {
    std::uintmax_t bytes = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code inner;
        if (it->is_regular_file(inner))
            bytes += it->file_size(inner);
    }
    return bytes;
}

} // namespace

fs::path settingsFile(const fs::path& appFolder) {
    return appFolder / "toconfigure" / text::pathFromUtf8("备份设置.ini");
}

KeepingSettings parseKeepingSettings(const std::string& text) {
    KeepingSettings settings;
    std::string_view rest(text);
    if (rest.substr(0, 3) == "\xEF\xBB\xBF")
        rest.remove_prefix(3);
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        const std::string line = trimmed(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
        const std::size_t equals = line.find('=');
        if (line.empty() || line[0] == ';' || line[0] == '#' || equals == std::string::npos)
            continue;
        const std::string key = trimmed(std::string_view(line).substr(0, equals));
        const std::string value = trimmed(std::string_view(line).substr(equals + 1));
        if (key == kDaysKey) {
            if (const auto days = wholeNumber(value, kMaxDays))
                settings.days = static_cast<int>(*days);
        } else if (key == kMegabytesKey) {
            if (const auto megabytes = wholeNumber(value, kMaxMegabytes))
                settings.maxBytes = *megabytes << 20;
        }
    }
    return settings;
}

KeepingSettings readKeepingSettings(const fs::path& appFolder) {
    const fs::path file = settingsFile(appFolder);
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::error_code ec;
        if (!fs::exists(file, ec)) {
            fs::create_directories(file.parent_path(), ec);
            std::ofstream(file, std::ios::binary) << defaultSettingsText();
        }
        return {};
    }
    return parseKeepingSettings(
        std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

std::vector<std::string> keepWithinLimits(const fs::path& appFolder,
                                          const KeepingSettings& settings, Clock clock) {
    std::vector<KeptRun> runs = keptRuns(appFolder);
    if (runs.empty())
        return {};
    const std::time_t now = clock ? clock() : std::time(nullptr);
    const std::time_t oldest = now - static_cast<std::time_t>(settings.days) * 24 * 60 * 60;
    std::vector<std::uintmax_t> sizes;
    std::uintmax_t total = 0;
    for (const KeptRun& run : runs) {
        sizes.push_back(sizeOf(run.folder));
        total += sizes.back();
    }
    std::vector<std::string> lines;
    // Oldest first; the newest run stays whatever its age or size.
    for (std::size_t i = 0; i + 1 < runs.size(); ++i) {
        const bool tooOld = runs[i].manifest.header && runs[i].manifest.header->time < oldest;
        if (!tooOld && total <= settings.maxBytes)
            break;
        std::error_code ec;
        fs::remove_all(runs[i].folder, ec);
        if (ec) {
            lines.push_back("无法删除过期的备份" + text::quotedPath(runs[i].folder) + "（" +
                            reasonOf(ec) + "）。");
            continue;
        }
        total -= sizes[i];
        // A day folder left empty goes too.
        fs::remove(runs[i].folder.parent_path(), ec);
    }
    return lines;
}

std::vector<std::string> keepStoreWithinLimits(const fs::path& appFolder) {
    return keepWithinLimits(appFolder, readKeepingSettings(appFolder));
}

} // namespace backup
