#pragma once

// The zip packages of .docx/.docm and .xlsx/.xlsm, read only as far as the
// server needs them: what a package says its main part is, one part's
// content, and carrying one part's content over from the original file into
// the office's copy (the macros, which the office would write anew).
// Packages that cannot be read (encrypted entries, damaged directories,
// parts over the size limit) are "unreadable", never guessed at.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace libreoffice::packages {

// The content of the part `name` ("[Content_Types].xml"), stored or
// deflated; nullopt when the package or the part cannot be read or the part
// is larger than `limit` bytes.
std::optional<std::string> readPart(const std::filesystem::path& package, std::string_view name,
                                    std::size_t limit = 16u << 20);

// Whether the package's content types declare a main part with macros (a
// .docm or .xlsm) or one without (.docx, .xlsx); nullopt when it cannot be
// read or declares neither.
std::optional<bool> declaresMacros(const std::filesystem::path& package);

enum class Carry {
    Carried,       // `copy` now holds the original's part as it stands
    NotInOriginal, // the original has no such part; `copy` unchanged
    NotInCopy,     // the copy has no such part; `copy` unchanged
    Unreadable,    // either package cannot be read; `copy` unchanged
};

// Replaces the content of the part `name` of the package `copy` by the
// original's, byte for byte; the copy's entry keeps its name, method and
// time, and every other entry of `copy` keeps its bytes and its order. The
// copy is replaced whole (atomic save). Raises std::system_error when `copy`
// cannot be written.
Carry carryPartOver(const std::filesystem::path& original, const std::filesystem::path& copy,
                    std::string_view name);

} // namespace libreoffice::packages
