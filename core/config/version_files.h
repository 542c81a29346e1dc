#pragma once

// The small text files both programs share in the `toconfigure` folder, and
// the way values are cut out of the version page. Files are 8-bit text in the
// ANSI code page; text inside the program is UTF-8, and where these
// operations count characters they count UTF-16 code units.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace config {

// The folder beside the executables that holds the shared files.
std::filesystem::path configurationFolder(const std::filesystem::path& appFolder);
// `dqbb.ini`: one line, the running batchreplace's version.
std::filesystem::path currentVersionFile(const std::filesystem::path& appFolder);
// `配置.ini`: the address of the version page.
std::filesystem::path configurationFile(const std::filesystem::path& appFolder);
// `updata.ini`: the version page as the updater last fetched it.
std::filesystem::path updateInformationFile(const std::filesystem::path& appFolder);

// Writes `line` followed by CR LF to `path` in the ANSI code page, replacing
// the file; creates its folder when missing. False with a sentence naming the
// file when it cannot be written.
[[nodiscard]] bool WriteLine(const std::filesystem::path& path, const std::string& line,
                             std::string& error);

// Rewrites `dqbb.ini` with the one line `versionText`. False with a sentence
// naming the file when it cannot be written.
[[nodiscard]] bool WriteVersionFile(const std::filesystem::path& appFolder,
                                    const std::string& versionText, std::string& error);

// `ReadLastLine`: the last line of the file, converted from the ANSI code
// page. A line ends at CR or at CR LF; a lone LF belongs to the line. An
// empty file gives the empty string. A file that is missing or cannot be read
// gives nothing: the caller has no information from it.
std::optional<std::string> ReadLastLine(const std::filesystem::path& path);

// `ReadJoinedLines`: every line of the file, read as ReadLastLine reads
// them, joined with nothing between them. Nothing when the file is missing
// or cannot be read.
std::optional<std::string> ReadJoinedLines(const std::filesystem::path& path);

// `CutVersion`: the 5 characters after the first "版 " (fewer at the end of
// the text); nothing when the text has no "版 ".
std::optional<std::string> CutVersion(std::string_view text);

// `CutField`: the text between the last start marker that lies wholly before
// the first end marker and that end marker, beginning one character after the
// start marker's first character. Nothing when either marker is missing (an
// empty marker counts as missing).
std::optional<std::string> CutField(std::string_view text, std::string_view startMarker,
                                    std::string_view endMarker);

// `IsNewerVersion`: true when `current` sorts before `offered`, comparing
// UTF-16 code units as plain strings (a prefix sorts first). Versions are
// never read as numbers.
bool IsNewerVersion(std::string_view current, std::string_view offered);

// The text before the first NUL character (the shipped configuration file
// ends its address with two of them).
std::string textBeforeNul(std::string_view text);

} // namespace config
