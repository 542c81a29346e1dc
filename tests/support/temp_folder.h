#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with its
// content when the object goes out of scope.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& p) const { return path_ / p; }

private:
    std::filesystem::path path_;
};

// A path from UTF-8 text. A plain `const char*` or std::string becomes a
// path in the ANSI code page on Windows, which mangles Chinese names.
inline std::filesystem::path utf8Path(std::string_view utf8) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

// Everything below `folder`, by path relative to it (in UTF-8, with '/'):
// a file with its bytes, a folder with a name ending in '/' and no bytes.
// Two equal results mean the folder holds the same, byte for byte.
std::map<std::string, std::string> folderContents(const std::filesystem::path& folder);

} // namespace testing_support
