#include "core/formats/prescan.h"

#include "core/formats/compound_file.h"
#include "core/formats/excel_workbook.h"
#include "core/formats/search_text.h"
#include "core/formats/word_text.h"

#include <fstream>
#include <optional>

namespace formats {

namespace {

// Larger files are left to the office.
constexpr std::uintmax_t kMaxFileSize = 256u * 1024 * 1024;

std::optional<std::string> readWhole(const std::filesystem::path& file) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec || size > kMaxFileSize)
        return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    if (static_cast<std::uintmax_t>(in.gcount()) != size)
        return std::nullopt;
    return bytes;
}

} // namespace

bool wordDocumentMayHold(std::string_view fileBytes, std::string_view findText) {
    const auto pattern = SearchPattern::make(findText);
    if (!pattern)
        return true;
    try {
        const CompoundFile file(fileBytes);
        return wordTextMayHold(wordMainText(file), *pattern);
    } catch (const std::exception&) {
        // A format error, or memory for a file that claims too much.
        return true;
    }
}

WorkbookAnswer workbookMayHold(std::string_view fileBytes, std::string_view findText) {
    const auto pattern = SearchPattern::make(findText);
    if (!pattern)
        return {};
    try {
        const CompoundFile file(fileBytes);
        WorkbookScan scan = scanWorkbook(file, *pattern);
        if (scan.mayHold)
            return {};
        return {false, std::move(scan.worksheets)};
    } catch (const std::exception&) {
        return {};
    }
}

bool wordFileMayHold(const std::filesystem::path& file, std::string_view findText) {
    const auto bytes = readWhole(file);
    return !bytes || wordDocumentMayHold(*bytes, findText);
}

WorkbookAnswer workbookFileMayHold(const std::filesystem::path& file, std::string_view findText) {
    const auto bytes = readWhole(file);
    if (!bytes)
        return {};
    return workbookMayHold(*bytes, findText);
}

} // namespace formats
