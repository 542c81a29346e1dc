#include "core/formats/ooxml_package.h"

#include "core/formats/xml_events.h"

#include <map>

namespace formats::ooxml {

namespace {

constexpr std::string_view kStrictOfficeDocument =
    "http://purl.oclc.org/ooxml/officeDocument/relationships/officeDocument";
constexpr std::string_view kMacrosheet =
    "http://schemas.microsoft.com/office/2006/relationships/xlMacrosheet";
constexpr std::string_view kIntlMacrosheet =
    "http://schemas.microsoft.com/office/2006/relationships/xlIntlMacrosheet";

// Parses a part and throws FormatError when it is not complete.
void parsePart(const ZipPackage& package, const std::string& partName, XmlEvents& events) {
    const auto xml = package.read(partName);
    if (!xml)
        throw FormatError("no part " + partName);
    const XmlResult result = parseXml(*xml, events);
    if (!result.complete())
        throw FormatError(partName + ": " + result.message);
}

struct RelationshipsReader : XmlEvents {
    std::string_view source;
    std::vector<Relationship> relationships;
    bool rootSeen = false;

    void startElement(const XmlStartTag& tag) override {
        if (tag.depth == 0) {
            if (!tag.name.is(kRelationshipsNs, "Relationships"))
                throw FormatError("not a relationships part");
            rootSeen = true;
            return;
        }
        if (tag.depth != 1 || !tag.name.is(kRelationshipsNs, "Relationship"))
            return;
        Relationship r;
        const auto id = tag.attribute({}, "Id");
        const auto type = tag.attribute({}, "Type");
        const auto target = tag.attribute({}, "Target");
        if (!id || !type || !target)
            throw FormatError("a relationship without its Id, Type or Target");
        r.id = *id;
        r.type = *type;
        r.target = *target;
        const auto mode = tag.attribute({}, "TargetMode");
        r.external = mode && *mode == "External";
        if (!r.external)
            r.partName = resolvePartName(source, r.target);
        relationships.push_back(std::move(r));
    }
};

struct WorkbookReader : XmlEvents {
    struct Entry {
        std::string name, id;
        WorkbookSheet::State state = WorkbookSheet::State::Visible;
    };
    std::vector<Entry> sheets;
    bool externalReferences = false;

    void startElement(const XmlStartTag& tag) override {
        if (tag.depth == 0) {
            if (!tag.name.is(kSpreadsheetNs, "workbook"))
                throw FormatError("not a transitional workbook part");
            return;
        }
        if (tag.depth == 1 && tag.name.is(kSpreadsheetNs, "externalReferences"))
            externalReferences = true;
        if (tag.depth != 2 || !tag.name.is(kSpreadsheetNs, "sheet"))
            return;
        Entry e;
        const auto name = tag.attribute({}, "name");
        const auto id = tag.attribute(kOfficeRelationshipsNs, "id");
        if (!name || !id)
            throw FormatError("a sheet without its name or relationship");
        e.name = *name;
        e.id = *id;
        if (const auto state = tag.attribute({}, "state")) {
            if (*state == "hidden")
                e.state = WorkbookSheet::State::Hidden;
            else if (*state == "veryHidden")
                e.state = WorkbookSheet::State::VeryHidden;
            else if (*state != "visible")
                throw FormatError("a sheet state we do not know");
        }
        sheets.push_back(std::move(e));
    }
};

} // namespace

std::string relationshipType(std::string_view name) {
    return std::string(kOfficeRelationshipsNs) + "/" + std::string(name);
}

std::string relationshipsPartName(std::string_view sourcePart) {
    const auto slash = sourcePart.rfind('/');
    if (slash == std::string_view::npos)
        throw FormatError("not a part name");
    return std::string(sourcePart.substr(0, slash)) + "/_rels/" +
           std::string(sourcePart.substr(slash + 1)) + ".rels";
}

std::string resolvePartName(std::string_view sourcePart, std::string_view target) {
    std::string path;
    if (!target.empty() && target.front() == '/') {
        path = target;
    } else {
        const auto slash = sourcePart.rfind('/');
        path = std::string(sourcePart.substr(0, slash == std::string_view::npos ? 0 : slash)) +
               "/" + std::string(target);
    }
    std::vector<std::string> segments;
    std::size_t at = 0;
    while (at <= path.size()) {
        auto end = path.find('/', at);
        if (end == std::string::npos)
            end = path.size();
        const std::string segment = path.substr(at, end - at);
        if (segment == "..") {
            if (segments.empty())
                throw FormatError("a relationship target outside the package: " +
                                  std::string(target));
            segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        at = end + 1;
    }
    std::string resolved;
    for (const auto& s : segments)
        resolved += "/" + s;
    return resolved.empty() ? "/" : resolved;
}

std::vector<Relationship> readRelationships(const ZipPackage& package,
                                            std::string_view sourcePart) {
    const std::string rels = relationshipsPartName(sourcePart);
    if (!package.find(rels))
        return {};
    RelationshipsReader reader;
    reader.source = sourcePart;
    parsePart(package, rels, reader);
    return std::move(reader.relationships);
}

std::vector<Relationship> relationshipsOfType(const ZipPackage& package,
                                              std::string_view sourcePart, std::string_view type) {
    std::vector<Relationship> found;
    for (auto& r : readRelationships(package, sourcePart))
        if (r.type == type)
            found.push_back(std::move(r));
    return found;
}

MainPart mainPart(const ZipPackage& package) {
    const std::string transitional = relationshipType("officeDocument");
    std::vector<MainPart> found;
    for (const auto& r : readRelationships(package, "/")) {
        if (r.type == transitional || r.type == kStrictOfficeDocument) {
            if (r.external)
                throw FormatError("the main part is outside the package");
            found.push_back({r.partName, r.type == kStrictOfficeDocument});
        }
    }
    if (found.size() != 1)
        throw FormatError(found.empty() ? "no main part" : "more than one main part");
    if (!package.find(found[0].partName))
        throw FormatError("the main part is missing: " + found[0].partName);
    return found[0];
}

Workbook readWorkbook(const ZipPackage& package, const std::string& workbookPart) {
    WorkbookReader reader;
    parsePart(package, workbookPart, reader);
    Workbook book;
    book.relationships = readRelationships(package, workbookPart);
    std::map<std::string, const Relationship*> byId;
    for (const auto& r : book.relationships)
        byId.emplace(r.id, &r);
    book.externalReferences = reader.externalReferences;
    for (auto& e : reader.sheets) {
        const auto it = byId.find(e.id);
        if (it == byId.end() || it->second->external)
            throw FormatError("sheet " + e.name + " has no part");
        WorkbookSheet sheet;
        sheet.name = std::move(e.name);
        sheet.partName = it->second->partName;
        sheet.state = e.state;
        const std::string& type = it->second->type;
        if (type == relationshipType("worksheet"))
            sheet.kind = WorkbookSheet::Kind::Worksheet;
        else if (type == relationshipType("chartsheet"))
            sheet.kind = WorkbookSheet::Kind::Chartsheet;
        else if (type == relationshipType("dialogsheet"))
            sheet.kind = WorkbookSheet::Kind::Dialogsheet;
        else if (type == kMacrosheet || type == kIntlMacrosheet)
            sheet.kind = WorkbookSheet::Kind::Macrosheet;
        book.sheets.push_back(std::move(sheet));
    }
    return book;
}

std::vector<std::string> Workbook::partsOfType(std::string_view typeName) const {
    const std::string type = relationshipType(typeName);
    std::vector<std::string> parts;
    for (const auto& r : relationships)
        if (r.type == type && !r.external)
            parts.push_back(r.partName);
    return parts;
}

} // namespace formats::ooxml
