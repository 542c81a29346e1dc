#pragma once

// The layout of an Office 2007 package as its relationships describe it: the
// main part (the officeDocument relationship of `_rels/.rels`), the parts a
// part names through its own relationships, and a workbook's sheets in the
// workbook's order. Parts are found through relationships, never by fixed
// names. Every inconsistency is a FormatError.

#include "core/formats/zip_package.h"

#include <string>
#include <string_view>
#include <vector>

namespace formats::ooxml {

// Namespaces and relationship types (the transitional ones, which the office
// writes; "strict" ones are recognized only to be declined).
inline constexpr std::string_view kRelationshipsNs =
    "http://schemas.openxmlformats.org/package/2006/relationships";
inline constexpr std::string_view kOfficeRelationshipsNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr std::string_view kStrictOfficeRelationshipsNs =
    "http://purl.oclc.org/ooxml/officeDocument/relationships";
inline constexpr std::string_view kWordNs =
    "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
inline constexpr std::string_view kSpreadsheetNs =
    "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline constexpr std::string_view kMarkupCompatibilityNs =
    "http://schemas.openxmlformats.org/markup-compatibility/2006";
inline constexpr std::string_view kMathNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/math";

// A relationship type of the transitional namespace by its last segment
// ("officeDocument", "worksheet", "sharedStrings", "styles", ...).
std::string relationshipType(std::string_view name);

struct Relationship {
    std::string id;
    std::string type;
    std::string target; // as written
    bool external = false;
    // An internal target resolved against the source part ("/xl/worksheets/sheet1.xml").
    std::string partName;
};

// The part name of the relationships of `sourcePart` ("/" for the package's
// own: "/_rels/.rels"; "/xl/workbook.xml": "/xl/_rels/workbook.xml.rels").
std::string relationshipsPartName(std::string_view sourcePart);
// `target` resolved against the folder of `sourcePart`, with "." and ".."
// segments removed; throws FormatError when ".." leaves the package.
std::string resolvePartName(std::string_view sourcePart, std::string_view target);

// The relationships of `sourcePart`; none when it has no relationships part.
// Throws FormatError (or ZipError) when that part is not readable.
std::vector<Relationship> readRelationships(const ZipPackage& package, std::string_view sourcePart);
// The relationships of `sourcePart` of one type.
std::vector<Relationship> relationshipsOfType(const ZipPackage& package,
                                              std::string_view sourcePart, std::string_view type);

struct MainPart {
    std::string partName;
    // The package uses the strict namespaces, which we do not read.
    bool strict = false;
};

// The target of the package's one officeDocument relationship. Throws
// FormatError when there is none, more than one, or it is not in the package.
MainPart mainPart(const ZipPackage& package);

struct WorkbookSheet {
    enum class Kind { Worksheet, Chartsheet, Dialogsheet, Macrosheet, Other };
    enum class State { Visible, Hidden, VeryHidden };
    std::string name; // UTF-8
    std::string partName;
    Kind kind = Kind::Other;
    State state = State::Visible;
};

struct Workbook {
    std::vector<WorkbookSheet> sheets; // in the workbook's order
    // Formulas may refer to other workbooks, and show their paths.
    bool externalReferences = false;
    // All relationships of the workbook part (shared strings, styles, ...).
    std::vector<Relationship> relationships;

    // The internal parts of one relationship type ("sharedStrings").
    std::vector<std::string> partsOfType(std::string_view typeName) const;
};

// The sheets of the workbook part `workbookPart`, each resolved through the
// workbook's relationships. Throws FormatError when the part is not a
// transitional workbook or a sheet's relationship is missing.
Workbook readWorkbook(const ZipPackage& package, const std::string& workbookPart);

} // namespace formats::ooxml
