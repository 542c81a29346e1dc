#include "suites/libreoffice/package_parts.h"

#include "core/formats/zip_package.h"
#include "core/platform/atomic_save.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

namespace libreoffice::packages {

namespace fs = std::filesystem;

namespace {

// A package is read whole into memory; a larger one is left as it is.
constexpr std::uintmax_t kMaxPackageSize = 256u << 20;

std::optional<std::string> fileBytes(const fs::path& file) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (ec || size > kMaxPackageSize)
        return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof())
        return std::nullopt;
    return bytes;
}

// The content of `name` in the package `bytes`; nullopt when the package or
// the part cannot be read or the part is larger than `limit`.
std::optional<std::string> partOf(const std::string& bytes, std::string_view name,
                                  std::size_t limit) {
    try {
        const formats::ZipPackage package(bytes);
        const formats::ZipEntry* entry = package.find(name);
        if (!entry || entry->uncompressedSize > limit)
            return std::nullopt;
        return package.read(*entry);
    } catch (const formats::ZipError&) {
        return std::nullopt;
    }
}

} // namespace

std::optional<std::string> readPart(const fs::path& package, std::string_view name,
                                    std::size_t limit) {
    const auto bytes = fileBytes(package);
    return bytes ? partOf(*bytes, name, limit) : std::nullopt;
}

std::optional<bool> declaresMacros(const fs::path& package) {
    const auto types = readPart(package, "[Content_Types].xml", 1u << 20);
    if (!types)
        return std::nullopt;
    if (types->find("application/vnd.ms-word.document.macroEnabled.main+xml") !=
            std::string::npos ||
        types->find("application/vnd.ms-excel.sheet.macroEnabled.main+xml") != std::string::npos)
        return true;
    if (types->find("application/vnd.openxmlformats-officedocument.wordprocessingml.document."
                    "main+xml") != std::string::npos ||
        types->find("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml") !=
            std::string::npos)
        return false;
    return std::nullopt;
}

Carry carryPartOver(const fs::path& original, const fs::path& copy, std::string_view name) {
    const auto from = fileBytes(original);
    if (!from)
        return Carry::Unreadable;
    std::optional<std::string> content;
    try {
        const formats::ZipPackage package(*from);
        const formats::ZipEntry* entry = package.find(name);
        if (!entry)
            return Carry::NotInOriginal;
        content = package.read(*entry);
    } catch (const formats::ZipError&) {
        return Carry::Unreadable;
    }

    const auto to = fileBytes(copy);
    if (!to)
        return Carry::Unreadable;
    std::string rewritten;
    try {
        const formats::ZipPackage package(*to);
        const formats::ZipEntry* entry = package.find(name);
        if (!entry)
            return Carry::NotInCopy;
        rewritten = package.rewrite({{entry->index, std::move(*content)}});
    } catch (const formats::ZipError&) {
        return Carry::Unreadable;
    }
    std::string error;
    if (!platform::replaceFileContent(copy, rewritten, error))
        throw std::system_error(errno ? errno : EIO, std::generic_category(), error);
    return Carry::Carried;
}

} // namespace libreoffice::packages
