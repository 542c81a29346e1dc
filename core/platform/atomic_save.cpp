#include "core/platform/atomic_save.h"

#include "core/text/paths.h"

#include <cerrno>
#include <fstream>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

namespace fs = std::filesystem;

namespace {

fs::path folderOf(const fs::path& p) {
    fs::path folder = p.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

#ifndef _WIN32
// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

[[noreturn]] void fail(const char* step, const fs::path& path) {
    throw std::system_error(errno, std::generic_category(),
                            std::string(step) + " " + text::pathToUtf8(path));
}
#else
[[noreturn]] void fail(const char* step, const fs::path& path) {
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                            std::string(step) + " " + text::pathToUtf8(path));
}
#endif

} // namespace

AtomicSave::AtomicSave(const fs::path& document) : target_(document) {
    std::error_code ec;
    if (fs::is_symlink(document, ec)) {
        const fs::path resolved = fs::canonical(document, ec);
        if (!ec)
            target_ = resolved;
    }
    std::random_device random;
    const std::string tag = std::to_string(random() % 100000000u);
    temporary_ = folderOf(target_) / fs::path(u8"." + target_.filename().u8string() + u8"." +
                                              std::u8string(tag.begin(), tag.end()) + u8".tmp");
}

AtomicSave::~AtomicSave() {
    if (!committed_) {
        std::error_code ec;
        fs::remove(temporary_, ec);
    }
}

#ifndef _WIN32

void AtomicSave::commit() {
    Descriptor written{::open(temporary_.c_str(), O_RDONLY | O_CLOEXEC)};
    if (written.fd < 0)
        fail("open", temporary_);
    if (::fsync(written.fd) != 0)
        fail("fsync", temporary_);

    struct stat original {};
    if (::stat(target_.c_str(), &original) == 0) {
        // The owner first: changing it may clear set-id bits that the mode
        // then restores. Only a privileged process can give a file away, so
        // a refusal keeps the writer as owner.
        if (::fchown(written.fd, original.st_uid, original.st_gid) != 0 && errno != EPERM)
            fail("chown", temporary_);
        if (::fchmod(written.fd, original.st_mode & 07777) != 0)
            fail("chmod", temporary_);
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0)
        fail("rename", temporary_);
    committed_ = true;

    // The new name must survive a power cut as well as the content.
    Descriptor folder{::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (folder.fd >= 0)
        ::fsync(folder.fd);
}

#else

void AtomicSave::commit() {
    {
        HANDLE written = CreateFileW(temporary_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (written == INVALID_HANDLE_VALUE)
            fail("open", temporary_);
        const BOOL flushed = FlushFileBuffers(written);
        CloseHandle(written);
        if (!flushed)
            fail("flush", temporary_);
    }
    // The original's attributes (read-only, hidden, archive) carry over.
    const DWORD attributes = GetFileAttributesW(target_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(temporary_.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!MoveFileExW(temporary_.c_str(), target_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fail("rename", temporary_);
    committed_ = true;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(target_.c_str(), attributes);
}

#endif

bool replaceFileContent(const fs::path& document, std::string_view bytes, std::string& error,
                        std::optional<fs::file_time_type> modificationTime) {
    const auto failed = [&](const std::string& why) {
        error = "保存文件" + text::quotedPath(document) + "失败（" + why +
                "），原文件保持不变。请检查磁盘空间和文件夹权限后再试。";
        return false;
    };
    try {
        AtomicSave save(document);
        {
            std::ofstream out(save.temporaryPath(), std::ios::binary | std::ios::trunc);
            if (!out)
                return failed("无法创建临时文件");
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            out.close();
            if (!out)
                return failed("写入临时文件出错");
        }
        if (modificationTime) {
            std::error_code ec;
            fs::last_write_time(save.temporaryPath(), *modificationTime, ec);
            if (ec)
                return failed(ec.message());
        }
        save.commit();
    } catch (const std::system_error& e) {
        return failed(e.code().message());
    }
    return true;
}

} // namespace platform
