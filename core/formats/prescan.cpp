#include "core/formats/prescan.h"

#include "core/formats/compound_file.h"
#include "core/formats/excel_workbook.h"
#include "core/formats/ooxml_prescan.h"
#include "core/formats/search_text.h"
#include "core/formats/word_text.h"
#include "core/formats/zip_package.h"

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

// The find texts made ready; nothing when one of them may be anywhere, or
// when there are none (a caller's slip, answered safely).
std::optional<std::vector<SearchPattern>> patternsOf(const std::vector<std::string>& findTexts) {
    if (findTexts.empty())
        return std::nullopt;
    std::vector<SearchPattern> patterns;
    for (const std::string& text : findTexts) {
        auto pattern = SearchPattern::make(text);
        if (!pattern)
            return std::nullopt;
        patterns.push_back(std::move(*pattern));
    }
    return patterns;
}

bool isCompoundFile(std::string_view bytes) {
    static constexpr unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (bytes.size() < 8)
        return false;
    for (std::size_t i = 0; i < 8; ++i)
        if (static_cast<unsigned char>(bytes[i]) != kSignature[i])
            return false;
    return true;
}

} // namespace

bool wordDocumentMayHold(std::string_view fileBytes, const std::vector<std::string>& findTexts) {
    const auto patterns = patternsOf(findTexts);
    if (!patterns)
        return true;
    try {
        if (isCompoundFile(fileBytes)) {
            const CompoundFile file(fileBytes);
            const std::u16string text = wordMainText(file);
            for (const SearchPattern& pattern : *patterns)
                if (wordTextMayHold(text, pattern))
                    return true;
            return false;
        }
        return wordPackageMayHold(ZipPackage(fileBytes), *patterns);
    } catch (const std::exception&) {
        // A format error, or memory for a file that claims too much.
        return true;
    }
}

bool wordDocumentMayHold(std::string_view fileBytes, std::string_view findText) {
    return wordDocumentMayHold(fileBytes, std::vector<std::string>{std::string(findText)});
}

WorkbookAnswer workbookMayHold(std::string_view fileBytes,
                               const std::vector<std::string>& findTexts) {
    const auto patterns = patternsOf(findTexts);
    if (!patterns)
        return {};
    try {
        WorkbookScan scan = isCompoundFile(fileBytes)
                                ? scanWorkbook(CompoundFile(fileBytes), *patterns)
                                : scanWorkbookPackage(ZipPackage(fileBytes), *patterns);
        if (scan.mayHold)
            return {};
        return {false, std::move(scan.worksheets)};
    } catch (const std::exception&) {
        return {};
    }
}

WorkbookAnswer workbookMayHold(std::string_view fileBytes, std::string_view findText) {
    return workbookMayHold(fileBytes, std::vector<std::string>{std::string(findText)});
}

bool wordFileMayHold(const std::filesystem::path& file, const std::vector<std::string>& findTexts) {
    const auto bytes = readWhole(file);
    return !bytes || wordDocumentMayHold(*bytes, findTexts);
}

bool wordFileMayHold(const std::filesystem::path& file, std::string_view findText) {
    return wordFileMayHold(file, std::vector<std::string>{std::string(findText)});
}

WorkbookAnswer workbookFileMayHold(const std::filesystem::path& file,
                                   const std::vector<std::string>& findTexts) {
    const auto bytes = readWhole(file);
    if (!bytes)
        return {};
    return workbookMayHold(*bytes, findTexts);
}

WorkbookAnswer workbookFileMayHold(const std::filesystem::path& file, std::string_view findText) {
    return workbookFileMayHold(file, std::vector<std::string>{std::string(findText)});
}

} // namespace formats
