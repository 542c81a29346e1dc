#include "core/backup/durable_file.h"

#include "core/backup/sha256.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace backup {

namespace fs = std::filesystem;

std::string reasonOf(const std::error_code& ec) {
    if (ec == std::errc::no_space_on_device || ec == std::errc::file_too_large)
        return "磁盘空间不足";
    if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted ||
        ec == std::errc::read_only_file_system)
        return "没有写入权限";
    if (ec == std::errc::no_such_file_or_directory)
        return "找不到文件或文件夹";
    return ec.message();
}

#ifndef _WIN32

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

bool writeAll(int fd, const char* data, std::size_t n) {
    while (n > 0) {
        const ssize_t written = ::write(fd, data, n);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        n -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

bool copyDurably(const fs::path& from, const fs::path& to, std::string& hash, std::uintmax_t& size,
                 std::string& why) {
    Descriptor in{::open(from.c_str(), O_RDONLY | O_CLOEXEC)};
    if (in.fd < 0) {
        why = "无法读取原文件：" + reasonOf(lastError());
        return false;
    }
    Descriptor out{::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)};
    if (out.fd < 0) {
        why = reasonOf(lastError());
        return false;
    }
    const auto failed = [&](const std::error_code& ec) {
        why = reasonOf(ec);
        std::error_code ignored;
        fs::remove(to, ignored);
        return false;
    };
    Sha256 sha;
    size = 0;
    std::array<char, 1 << 16> buffer;
    for (;;) {
        const ssize_t n = ::read(in.fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const auto ec = lastError();
            why = "无法读取原文件：" + reasonOf(ec);
            std::error_code ignored;
            fs::remove(to, ignored);
            return false;
        }
        if (n == 0)
            break;
        sha.update(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        size += static_cast<std::uintmax_t>(n);
        if (!writeAll(out.fd, buffer.data(), static_cast<std::size_t>(n)))
            return failed(lastError());
    }
    if (::fsync(out.fd) != 0)
        return failed(lastError());
    if (::close(out.fd) != 0) {
        out.fd = -1;
        return failed(lastError());
    }
    out.fd = -1;
    hash = sha.hexDigest();
    return true;
}

bool appendToFile(const fs::path& file, std::string_view bytes, bool sync, std::string& why) {
    Descriptor out{::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600)};
    if (out.fd < 0 || !writeAll(out.fd, bytes.data(), bytes.size()) ||
        (sync && ::fsync(out.fd) != 0)) {
        why = reasonOf(lastError());
        return false;
    }
    return true;
}

void syncFolder(const fs::path& folder) {
    Descriptor fd{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (fd.fd >= 0)
        ::fsync(fd.fd);
}

#else

namespace {

std::error_code lastError() {
    return {static_cast<int>(GetLastError()), std::system_category()};
}

struct Handle {
    HANDLE h;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
};

bool writeAll(HANDLE h, const char* data, std::size_t n) {
    while (n > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 20));
        if (!WriteFile(h, data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        n -= written;
    }
    return true;
}

std::string reasonOfWindows(const std::error_code& ec) {
    switch (ec.value()) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "磁盘空间不足";
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return "没有写入权限";
    default:
        return reasonOf(ec);
    }
}

} // namespace

bool copyDurably(const fs::path& from, const fs::path& to, std::string& hash, std::uintmax_t& size,
                 std::string& why) {
    Handle in{CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (in.h == INVALID_HANDLE_VALUE) {
        why = "无法读取原文件：" + reasonOfWindows(lastError());
        return false;
    }
    Handle out{CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr)};
    if (out.h == INVALID_HANDLE_VALUE) {
        why = reasonOfWindows(lastError());
        return false;
    }
    const auto failed = [&](const std::string& reason) {
        why = reason;
        CloseHandle(out.h);
        out.h = INVALID_HANDLE_VALUE;
        std::error_code ignored;
        fs::remove(to, ignored);
        return false;
    };
    Sha256 sha;
    size = 0;
    std::array<char, 1 << 16> buffer;
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(in.h, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr))
            return failed("无法读取原文件：" + reasonOfWindows(lastError()));
        if (n == 0)
            break;
        sha.update(std::string_view(buffer.data(), n));
        size += n;
        if (!writeAll(out.h, buffer.data(), n))
            return failed(reasonOfWindows(lastError()));
    }
    if (!FlushFileBuffers(out.h))
        return failed(reasonOfWindows(lastError()));
    hash = sha.hexDigest();
    return true;
}

bool appendToFile(const fs::path& file, std::string_view bytes, bool sync, std::string& why) {
    Handle out{CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (out.h == INVALID_HANDLE_VALUE || !writeAll(out.h, bytes.data(), bytes.size()) ||
        (sync && !FlushFileBuffers(out.h))) {
        why = reasonOfWindows(lastError());
        return false;
    }
    return true;
}

void syncFolder(const fs::path&) {}

#endif

} // namespace backup
