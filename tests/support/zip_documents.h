#pragma once

// Zip packages written byte by byte, for what the office does not write:
// stored entries, data descriptors with and without their signature, ZIP64
// extra fields and end records, an archive comment, bytes before the first
// entry, flags of encryption. Deflated entries are compressed with zlib.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace binary_documents {

struct ZipItem {
    std::string name;
    std::string content;
    bool deflated = true;
    enum class Descriptor { None, WithSignature, WithoutSignature } descriptor = Descriptor::None;
    // Sizes and offset in ZIP64 extra fields (and 8-byte descriptor sizes).
    bool zip64 = false;
    // Set in both headers besides bit 3 (bit 0: encrypted).
    std::uint16_t flags = 0;
    std::uint16_t method = 0xFFFF; // by default 8 or 0 as `deflated` says
    std::string extra;             // more extra fields, in both headers
    std::string comment;
};

struct ZipLayout {
    std::vector<ZipItem> items;
    std::string comment;
    bool zip64End = false;
    std::string prefix; // bytes before the first entry
};

std::string zipArchive(const ZipLayout& layout);

// Raw deflate of `data` with zlib.
std::string rawDeflate(const std::string& data, int level = 6);

// A .docx package whose body is `bodyXml` (the prefixes w, mc, m, wp, a,
// wps, v and r are declared), with the main part at `mainPart`.
std::string wordPackage(const std::string& bodyXml,
                        const std::string& mainPart = "word/document.xml",
                        const std::string& wordNamespace =
                            "http://schemas.openxmlformats.org/wordprocessingml/2006/main");

// A .docx package as `wordPackage` makes it, with a styles and a settings
// part (their contents inside the root element; none when empty), document
// properties and a picture after the main part, some of them stored.
struct WordParts {
    std::string body;
    std::string styles;
    std::string settings;
};
std::string wordPackage(const WordParts& parts);

// Pieces of WordprocessingML for the bodies above.
namespace wordml {
std::string p(const std::string& runs);
// A run with one text element (xml:space="preserve").
std::string r(const std::string& text);
// A complex field: begin, code, separate, result, end.
std::string field(const std::string& code, const std::string& result);
// A text box as the office writes it: DrawingML with a VML fallback.
std::string textBox(const std::string& text);
} // namespace wordml

struct PackageSheet {
    PackageSheet(std::string name, std::string sheetData, std::string state = "",
                 std::string relationship = "worksheet", std::string after = "")
        : name(std::move(name)), sheetData(std::move(sheetData)), state(std::move(state)),
          relationship(std::move(relationship)), after(std::move(after)) {}
    std::string name;
    std::string sheetData; // the content of <sheetData>
    std::string state;     // empty: visible
    std::string relationship;
    std::string after; // elements of <worksheet> after <sheetData> (sheetProtection, ...)
    // A relationship type of the sheet's own ("table"), to a part left out.
    std::string related;
};

struct WorkbookParts {
    std::vector<PackageSheet> sheets;
    std::string sharedStrings; // the <si> items; empty: no shared string table
    std::string styles;        // the content of <styleSheet>; empty: no styles part
    std::string workbookExtra; // more elements of <workbook> after <sheets>
    // Part names that are not the usual ones (found through relationships).
    bool unusualNames = false;
};

// A .xlsx package.
std::string workbookPackage(const WorkbookParts& parts);

} // namespace binary_documents
