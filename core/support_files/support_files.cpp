#include "core/support_files/support_files.h"
#include "core/text/ascii.h"
#include "core/text/paths.h"

#include "core/platform/app_folder.h"

#include <fstream>
#include <system_error>

namespace support_files {

namespace {

namespace fs = std::filesystem;

std::string cannotWrite(const fs::path& path, const std::string& reason) {
    return "无法写入支持文件 " + text::pathToUtf8(path) + "（" + reason +
           "）。请确认这个文件夹可以写入，然后重新启动程序。";
}

} // namespace

const std::array<PayloadTarget, 7>& payloadTargets() {
    static const std::array<PayloadTarget, 7> targets = {{
        {101, fs::path("toconfigure") / fs::path(u8"配置.ini")},
        {updaterPayloadId, platform::updaterFileName()},
        {103, fs::path("toconfigure") / "MSCOMCTL.OCX"},
        {104, fs::path("toconfigure") / "MSINET.OCX"},
        {105, fs::path("toconfigure") / "SkinH.dll"},
        {106, fs::path("toconfigure") / "tabctl32.ocx"},
        {107, fs::path("toconfigure") / "SkinH.she"},
    }};
    return targets;
}

std::optional<std::string> ExtractResource(const PayloadSource& source, int id,
                                           std::string_view type, const fs::path& path) {
    // Resource type names compare without regard to case, as on Windows.
    if (!text::equalsIgnoringCase(type, payloadType) || !source)
        return std::nullopt;
    const std::optional<std::string_view> bytes = source(id);
    if (!bytes)
        return std::nullopt;

    fs::path partial = path;
    partial += ".part";
    std::error_code ec;
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        if (!out)
            return cannotWrite(path, "无法创建文件");
        out.write(bytes->data(), static_cast<std::streamsize>(bytes->size()));
        out.close();
        if (!out) {
            fs::remove(partial, ec);
            return cannotWrite(path, "写入中断");
        }
    }
    if (id == updaterPayloadId) {
        fs::permissions(partial,
                        fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                        fs::perm_options::add, ec);
        ec.clear();
    }
    fs::rename(partial, path, ec);
    if (ec) {
        const std::string reason = ec.message();
        fs::remove(partial, ec);
        return cannotWrite(path, reason);
    }
    return std::nullopt;
}

std::vector<std::string> writeMissingSupportFiles(const fs::path& appFolder,
                                                  const PayloadSource& source) {
    std::vector<std::string> messages;
    for (const PayloadTarget& target : payloadTargets()) {
        const fs::path path = appFolder / target.relativePath;
        std::error_code ec;
        if (fs::exists(fs::symlink_status(path, ec)))
            continue;
        if (auto message = ExtractResource(source, target.id, payloadType, path))
            messages.push_back(std::move(*message));
    }
    return messages;
}

} // namespace support_files
