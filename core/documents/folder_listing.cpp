#include "core/documents/folder_listing.h"

#include "core/backup/backup_store.h"
#include "core/text/ascii.h"
#include "core/text/paths.h"

#include <algorithm>
#include <array>
#include <set>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace documents {

namespace {

char fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Length of the UTF-8 sequence that starts with `lead`.
size_t sequenceLength(unsigned char lead) {
    return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

// Whether the system marks the file as one not to show: on Windows the hidden
// and system attributes (Word's owner files ~$name.doc are hidden).
bool markedHidden([[maybe_unused]] const std::filesystem::path& file) {
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW(file.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
#else
    return false;
#endif
}

// Whether the entry is a link (on Windows also a junction), which a listing
// of subfolders does not follow. Other reparse points on Windows (the
// placeholders of cloud folders) are folders like any other.
bool isLink(const std::filesystem::directory_entry& entry) {
#ifdef _WIN32
    WIN32_FIND_DATAW data{};
    const HANDLE found = FindFirstFileW(entry.path().c_str(), &data);
    if (found == INVALID_HANDLE_VALUE)
        return false;
    FindClose(found);
    return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (data.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT ||
            data.dwReserved0 == IO_REPARSE_TAG_SYMLINK);
#else
    std::error_code ec;
    return entry.is_symlink(ec);
#endif
}

// What makes a folder the same folder, whatever path leads to it: device and
// inode on POSIX (bind mounts too), the resolved path on Windows. Empty when
// it cannot be told.
std::string folderIdentity(const std::filesystem::path& folder) {
#ifdef _WIN32
    std::error_code ec;
    std::string resolved = text::pathToUtf8(std::filesystem::canonical(folder, ec));
    if (ec)
        return {};
    std::transform(resolved.begin(), resolved.end(), resolved.begin(), fold);
    return resolved;
#else
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return {};
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
#endif
}

bool isFileToList(const std::filesystem::directory_entry& entry, const std::string& name,
                  std::string_view pattern, std::error_code& ec) {
    return entry.is_regular_file(ec) && matchesPattern(name, pattern) && !isOfficeLockFile(name) &&
           !markedHidden(entry.path());
}

template <typename Keep>
std::vector<std::string> listEntries(const std::filesystem::path& folder, Keep keep) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = text::pathToUtf8(entry.path().filename());
        if (name.empty() || name.front() == '.')
            continue;
        std::error_code ec;
        if (keep(entry, name, ec) && !ec)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end(), nameLess);
    return names;
}

// Why a folder could not be read, for a sentence.
std::string readFailure(const std::error_code& ec) {
    if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted)
        return "没有访问权限";
    if (ec == std::errc::filename_too_long)
        return "路径太长";
    if (ec == std::errc::no_such_file_or_directory)
        return "文件夹已不存在";
    return ec.message();
}

// Walks the subfolders of a listing, depth-first.
class FolderWalk {
public:
    FolderWalk(std::string_view pattern, const ListingOptions& options, DocumentListing& out)
        : pattern_(pattern), options_(options), out_(out) {
        for (const auto& folder : options.excludedFolders)
            if (std::string id = folderIdentity(folder); !id.empty())
                excluded_.insert(std::move(id));
    }

    // Lists `folder` (`relative` to the chosen one, empty for itself).
    // Raises for the chosen folder; a subfolder that cannot be read becomes
    // a warning.
    void visit(const std::filesystem::path& folder, const std::string& relative, int depth) {
        if (std::string id = folderIdentity(folder); !id.empty() && !visited_.insert(id).second)
            return;
        std::vector<std::string> files, folders;
        std::error_code ec;
        std::filesystem::directory_iterator it(folder, ec);
        if (ec && relative.empty())
            throw std::filesystem::filesystem_error("cannot list the folder", folder, ec);
        for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
            const std::string name = text::pathToUtf8(it->path().filename());
            if (name.empty() || name.front() == '.')
                continue;
            std::error_code entryError;
            if (isFileToList(*it, name, pattern_, entryError) && !entryError)
                files.push_back(name);
            else if (options_.subfolders && !entryError && it->is_directory(entryError) &&
                     !entryError && !isLink(*it) && !markedHidden(it->path()))
                folders.push_back(name);
        }
        if (ec) {
            if (relative.empty())
                throw std::filesystem::filesystem_error("cannot list the folder", folder, ec);
            out_.warnings.push_back("无法读取子文件夹“" + relative + "”（" + readFailure(ec) +
                                    "），其中的文件没有列出。");
            return;
        }

        std::sort(files.begin(), files.end(), nameLess);
        std::sort(folders.begin(), folders.end(), nameLess);
        const std::string prefix = relative.empty() ? relative : relative + "/";
        for (const std::string& name : files)
            out_.files.push_back(prefix + name);
        for (const std::string& name : folders) {
            const std::filesystem::path child = folder / text::pathFromUtf8(name);
            if (excluded_.count(folderIdentity(child)))
                continue;
            if (stopped_)
                return;
            if (entered_ >= options_.maxFolders) {
                out_.warnings.push_back("子文件夹超过 " + std::to_string(options_.maxFolders) +
                                        " 个，从“" + prefix + name +
                                        "”起的子文件夹中的文件没有列出。");
                stopped_ = true;
                return;
            }
            if (depth >= options_.maxDepth) {
                out_.warnings.push_back("子文件夹“" + prefix + name + "”超过 " +
                                        std::to_string(options_.maxDepth) +
                                        " 层，其中的文件没有列出。");
                continue;
            }
            ++entered_;
            visit(child, prefix + name, depth + 1);
        }
    }

private:
    std::string_view pattern_;
    const ListingOptions& options_;
    DocumentListing& out_;
    std::set<std::string> excluded_;
    std::set<std::string> visited_;
    int entered_ = 0;
    bool stopped_ = false;
};

} // namespace

bool patternForFormats(DocumentKind kind, std::string_view formats, std::string& pattern,
                       std::string& error) {
    static constexpr std::array<std::string_view, 3> kWord = {"doc", "docx", "docm"};
    static constexpr std::array<std::string_view, 3> kExcel = {"xls", "xlsx", "xlsm"};
    const auto& own = kind == DocumentKind::Word ? kWord : kExcel;
    const auto& other = kind == DocumentKind::Word ? kExcel : kWord;
    const std::string ownNoun = kind == DocumentKind::Word ? "Word 文档" : "Excel 工作簿";
    const std::string ownList =
        std::string(own[0]) + "、" + std::string(own[1]) + "、" + std::string(own[2]);

    std::array<bool, 3> chosen{};
    size_t from = 0;
    while (from <= formats.size()) {
        size_t end = formats.find(',', from);
        if (end == std::string_view::npos)
            end = formats.size();
        std::string_view item = formats.substr(from, end - from);
        from = end + 1;
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t'))
            item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t'))
            item.remove_suffix(1);
        if (!item.empty() && item.front() == '.')
            item.remove_prefix(1);
        if (item.empty())
            continue;
        const std::string name = text::asciiLower(item);
        const auto at = std::find(own.begin(), own.end(), name);
        if (at != own.end()) {
            chosen[static_cast<size_t>(at - own.begin())] = true;
        } else if (std::find(other.begin(), other.end(), name) != other.end()) {
            error = "“" + std::string(item) + "”是" +
                    (kind == DocumentKind::Word ? "Excel 工作簿" : "Word 文档") +
                    "的格式，这里只能选" + ownNoun + "的格式：" + ownList + "。";
            return false;
        } else {
            error = "不认识的文件格式“" + std::string(item) + "”，" + ownNoun + "的格式是 " +
                    ownList + "。";
            return false;
        }
    }
    std::string built;
    for (size_t i = 0; i < own.size(); ++i)
        if (chosen[i])
            built += (built.empty() ? "*." : ";*.") + std::string(own[i]);
    if (built.empty()) {
        error = "没有给出文件格式，" + ownNoun + "的格式是 " + ownList + "。";
        return false;
    }
    pattern = built;
    return true;
}

bool isOfficeLockFile(std::string_view name) {
    return name.starts_with("~$") ||
           (name.starts_with(".~lock.") && name.size() > 8 && name.ends_with("#"));
}

namespace {

// One wildcard of a pattern: iterative match with backtracking to the last
// '*'.
bool matchesWildcard(std::string_view name, std::string_view pattern) {
    size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n += std::min(sequenceLength(static_cast<unsigned char>(name[n])), name.size() - n);
        } else if (p < pattern.size() && fold(pattern[p]) == fold(name[n])) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace

bool matchesPattern(std::string_view name, std::string_view pattern) {
    size_t from = 0;
    while (true) {
        const size_t end = pattern.find(';', from);
        const std::string_view one = pattern.substr(
            from, end == std::string_view::npos ? std::string_view::npos : end - from);
        if (!one.empty() && matchesWildcard(name, one))
            return true;
        if (end == std::string_view::npos)
            return false;
        from = end + 1;
    }
}

bool nameLess(const std::string& a, const std::string& b) {
    const bool less =
        std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return static_cast<unsigned char>(fold(x)) < static_cast<unsigned char>(fold(y));
        });
    const bool greater =
        std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), [](char x, char y) {
            return static_cast<unsigned char>(fold(x)) < static_cast<unsigned char>(fold(y));
        });
    if (less || greater)
        return less;
    return a < b;
}

std::vector<std::string> listMatchingFiles(const std::filesystem::path& folder,
                                           std::string_view pattern) {
    return listDocuments(folder, pattern).files;
}

std::vector<std::filesystem::path> programFolders(const std::filesystem::path& appFolder) {
    return {appFolder, backup::storePath(appFolder)};
}

DocumentListing listDocuments(const std::filesystem::path& folder, std::string_view pattern,
                              const ListingOptions& options) {
    DocumentListing listing;
    FolderWalk(pattern, options, listing).visit(folder, "", 0);
    return listing;
}

std::vector<std::string> listSubfolders(const std::filesystem::path& folder) {
    return listEntries(folder, [](const auto& entry, const std::string&, std::error_code& ec) {
        return entry.is_directory(ec);
    });
}

PathStyle nativePathStyle() {
#ifdef _WIN32
    return PathStyle::Windows;
#else
    return PathStyle::Posix;
#endif
}

std::vector<FolderStep> folderAncestors(std::string_view folder, PathStyle style) {
    const bool windows = style == PathStyle::Windows;
    const char separator = windows ? '\\' : '/';
    auto isSeparator = [&](char c) { return c == '/' || (windows && c == '\\'); };

    // The names between separators, from `from` on.
    auto partsFrom = [&](size_t from) {
        std::vector<std::string> parts;
        size_t i = from;
        while (i < folder.size()) {
            while (i < folder.size() && isSeparator(folder[i]))
                ++i;
            size_t end = i;
            while (end < folder.size() && !isSeparator(folder[end]))
                ++end;
            if (end > i && folder.substr(i, end - i) != ".")
                parts.emplace_back(folder.substr(i, end - i));
            i = end;
        }
        return parts;
    };

    std::string root;
    std::vector<std::string> parts;
    const bool letter = folder.size() >= 2 && folder[1] == ':' &&
                        text::asciiLower(folder[0]) >= 'a' && text::asciiLower(folder[0]) <= 'z';
    if (windows && folder.size() >= 2 && isSeparator(folder[0]) && isSeparator(folder[1])) {
        // A share: \\server\share is its root.
        parts = partsFrom(2);
        root = "\\\\";
        for (size_t k = 0; k < 2 && !parts.empty(); ++k) {
            root += (k ? "\\" : "") + parts.front();
            parts.erase(parts.begin());
        }
    } else if (windows && letter) {
        root = std::string(folder.substr(0, 2)) + "\\";
        parts = partsFrom(2);
    } else {
        root = std::string(1, separator);
        parts = partsFrom(0);
    }

    std::vector<FolderStep> steps{{root, root}};
    std::string at = root;
    for (const std::string& part : parts) {
        if (at.back() != separator)
            at += separator;
        at += part;
        steps.push_back({part, at});
    }
    return steps;
}

} // namespace documents
