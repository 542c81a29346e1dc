#include "core/documents/folder_listing.h"
#include "core/text/ascii.h"
#include "core/text/paths.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
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

} // namespace

bool matchesPattern(std::string_view name, std::string_view pattern) {
    // Iterative wildcard match with backtracking to the last '*'.
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
    return listEntries(folder,
                       [&](const auto& entry, const std::string& name, std::error_code& ec) {
                           return entry.is_regular_file(ec) && matchesPattern(name, pattern) &&
                                  !markedHidden(entry.path());
                       });
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
