#include "core/documents/folder_listing.h"
#include "core/text/paths.h"

#include <algorithm>

namespace documents {

namespace {

char fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Length of the UTF-8 sequence that starts with `lead`.
size_t sequenceLength(unsigned char lead) {
    return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
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
                           return entry.is_regular_file(ec) && matchesPattern(name, pattern);
                       });
}

std::vector<std::string> listSubfolders(const std::filesystem::path& folder) {
    return listEntries(folder, [](const auto& entry, const std::string&, std::error_code& ec) {
        return entry.is_directory(ec);
    });
}

} // namespace documents
