#include "support/zip_documents.h"

#include "support/binary_documents.h"

#include <zlib.h>

#include <stdexcept>

namespace binary_documents {

namespace {

void appendU64(std::string& bytes, std::uint64_t value) {
    appendU32(bytes, static_cast<std::uint32_t>(value));
    appendU32(bytes, static_cast<std::uint32_t>(value >> 32));
}

} // namespace

std::string rawDeflate(const std::string& data, int level) {
    z_stream zs{};
    if (deflateInit2(&zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&zs, static_cast<uLong>(data.size())), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    if (result != Z_STREAM_END)
        throw std::runtime_error("deflate");
    return out;
}

std::string zipArchive(const ZipLayout& layout) {
    std::string out = layout.prefix, central;
    for (const ZipItem& item : layout.items) {
        const std::string data = item.deflated ? rawDeflate(item.content) : item.content;
        const auto crc =
            static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(item.content.data()),
                                             static_cast<uInt>(item.content.size())));
        const bool descriptor = item.descriptor != ZipItem::Descriptor::None;
        const std::uint16_t flags = static_cast<std::uint16_t>(item.flags | (descriptor ? 8 : 0));
        const std::uint16_t method = item.method != 0xFFFF ? item.method : item.deflated ? 8 : 0;
        const std::uint64_t offset = out.size();

        // Local header: with a descriptor, CRC and sizes are zero.
        std::string localExtra = item.extra;
        if (item.zip64) {
            appendU16(localExtra, 1);
            appendU16(localExtra, 16);
            appendU64(localExtra, descriptor ? 0 : item.content.size());
            appendU64(localExtra, descriptor ? 0 : data.size());
        }
        appendU32(out, 0x04034b50);
        appendU16(out, item.zip64 ? 45 : 20);
        appendU16(out, flags);
        appendU16(out, method);
        appendU16(out, 0x6000); // 12:00
        appendU16(out, 0x5A21); // 2025-01-01
        appendU32(out, descriptor ? 0 : crc);
        const auto size32 = [&](std::uint64_t v) {
            return item.zip64 ? 0xFFFFFFFFu : descriptor ? 0u : static_cast<std::uint32_t>(v);
        };
        appendU32(out, size32(data.size()));
        appendU32(out, size32(item.content.size()));
        appendU16(out, static_cast<std::uint16_t>(item.name.size()));
        appendU16(out, static_cast<std::uint16_t>(localExtra.size()));
        out += item.name + localExtra + data;
        if (descriptor) {
            if (item.descriptor == ZipItem::Descriptor::WithSignature)
                appendU32(out, 0x08074b50);
            appendU32(out, crc);
            if (item.zip64) {
                appendU64(out, data.size());
                appendU64(out, item.content.size());
            } else {
                appendU32(out, static_cast<std::uint32_t>(data.size()));
                appendU32(out, static_cast<std::uint32_t>(item.content.size()));
            }
        }

        std::string centralExtra = item.extra;
        if (item.zip64) {
            appendU16(centralExtra, 1);
            appendU16(centralExtra, 24);
            appendU64(centralExtra, item.content.size());
            appendU64(centralExtra, data.size());
            appendU64(centralExtra, offset);
        }
        appendU32(central, 0x02014b50);
        appendU16(central, 0x031E); // made by Unix, 3.0
        appendU16(central, item.zip64 ? 45 : 20);
        appendU16(central, flags);
        appendU16(central, method);
        appendU16(central, 0x6000);
        appendU16(central, 0x5A21);
        appendU32(central, crc);
        appendU32(central, item.zip64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(data.size()));
        appendU32(central,
                  item.zip64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(item.content.size()));
        appendU16(central, static_cast<std::uint16_t>(item.name.size()));
        appendU16(central, static_cast<std::uint16_t>(centralExtra.size()));
        appendU16(central, static_cast<std::uint16_t>(item.comment.size()));
        appendU16(central, 0);
        appendU16(central, 0);
        appendU32(central, 0x81A40000); // -rw-r--r--
        appendU32(central, item.zip64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(offset));
        central += item.name + centralExtra + item.comment;
    }
    const std::uint64_t centralOffset = out.size();
    out += central;
    const std::uint64_t count = layout.items.size();
    if (layout.zip64End) {
        const std::uint64_t recordOffset = out.size();
        appendU32(out, 0x06064b50);
        appendU64(out, 44);
        appendU16(out, 45);
        appendU16(out, 45);
        appendU32(out, 0);
        appendU32(out, 0);
        appendU64(out, count);
        appendU64(out, count);
        appendU64(out, central.size());
        appendU64(out, centralOffset);
        appendU32(out, 0x07064b50);
        appendU32(out, 0);
        appendU64(out, recordOffset);
        appendU32(out, 1);
    }
    appendU32(out, 0x06054b50);
    appendU16(out, 0);
    appendU16(out, 0);
    appendU16(out, layout.zip64End ? 0xFFFF : static_cast<std::uint16_t>(count));
    appendU16(out, layout.zip64End ? 0xFFFF : static_cast<std::uint16_t>(count));
    appendU32(out, layout.zip64End ? 0xFFFFFFFFu : static_cast<std::uint32_t>(central.size()));
    appendU32(out, layout.zip64End ? 0xFFFFFFFFu : static_cast<std::uint32_t>(centralOffset));
    appendU16(out, static_cast<std::uint16_t>(layout.comment.size()));
    out += layout.comment;
    return out;
}

namespace {

const char* kRelationships = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string relationship(const std::string& id, const std::string& type,
                         const std::string& target) {
    return "<Relationship Id=\"" + id + "\" Type=\"" + std::string(kRelationships) + "/" + type +
           "\" Target=\"" + target + "\"/>";
}

std::string relationshipsPart(const std::string& items) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<Relationships "
           "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
           items + "</Relationships>";
}

std::string contentTypes(const std::vector<std::pair<std::string, std::string>>& overrides) {
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<Types "
                    "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                    "<Default Extension=\"rels\" "
                    "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>";
    for (const auto& [part, type] : overrides)
        x += "<Override PartName=\"/" + part + "\" ContentType=\"" + type + "\"/>";
    return x + "</Types>";
}

ZipItem part(const std::string& name, const std::string& content) {
    ZipItem i;
    i.name = name;
    i.content = content;
    return i;
}

// The folder of a part name, with a trailing slash, and its file name.
std::pair<std::string, std::string> split(const std::string& name) {
    const auto slash = name.rfind('/');
    if (slash == std::string::npos)
        return {"", name};
    return {name.substr(0, slash + 1), name.substr(slash + 1)};
}

} // namespace

namespace {

std::string wordDocumentPart(const std::string& bodyXml, const std::string& wordNamespace) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<w:document "
           "xmlns:w=\"" +
           wordNamespace +
           "\" "
           "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" "
           "xmlns:m=\"http://schemas.openxmlformats.org/officeDocument/2006/math\" "
           "xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\" "
           "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
           "xmlns:wps=\"http://schemas.microsoft.com/office/word/2010/wordprocessingShape\" "
           "xmlns:v=\"urn:schemas-microsoft-com:vml\" "
           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
           "mc:Ignorable=\"wps\"><w:body>" +
           bodyXml + "<w:sectPr/></w:body></w:document>";
}

const std::string kWordNs = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
const char* kWordMainType =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml";

} // namespace

std::string wordPackage(const std::string& bodyXml, const std::string& mainPart,
                        const std::string& wordNamespace) {
    ZipLayout l;
    l.items.push_back(part("[Content_Types].xml", contentTypes({{mainPart, kWordMainType}})));
    l.items.push_back(
        part("_rels/.rels", relationshipsPart(relationship("rId1", "officeDocument", mainPart))));
    l.items.push_back(part(mainPart, wordDocumentPart(bodyXml, wordNamespace)));
    return zipArchive(l);
}

std::string wordPackage(const WordParts& parts) {
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
    const std::string w = "xmlns:w=\"" + kWordNs + "\"";
    ZipLayout l;
    l.items.push_back(
        part("[Content_Types].xml", contentTypes({{"word/document.xml", kWordMainType}})));
    l.items.push_back(
        part("_rels/.rels",
             relationshipsPart(relationship("rId1", "officeDocument", "word/document.xml") +
                               relationship("rId2", "extended-properties", "docProps/app.xml"))));
    std::string relationships;
    if (!parts.styles.empty()) {
        l.items.push_back(
            part("word/styles.xml", head + "<w:styles " + w + ">" + parts.styles + "</w:styles>"));
        relationships += relationship("rId1", "styles", "styles.xml");
    }
    if (!parts.settings.empty()) {
        l.items.push_back(part("word/settings.xml",
                               head + "<w:settings " + w + ">" + parts.settings + "</w:settings>"));
        relationships += relationship("rId2", "settings", "settings.xml");
    }
    l.items.push_back(part("word/_rels/document.xml.rels", relationshipsPart(relationships)));
    l.items.push_back(part("word/document.xml", wordDocumentPart(parts.body, kWordNs)));
    l.items.push_back(part("docProps/app.xml", head + "<Properties><Pages>1</Pages></Properties>"));
    ZipItem picture =
        part("word/media/image1.png", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(64, '\0'));
    picture.deflated = false;
    picture.descriptor = ZipItem::Descriptor::WithSignature;
    l.items.push_back(picture);
    return zipArchive(l);
}

namespace wordml {

std::string p(const std::string& runs) {
    return "<w:p>" + runs + "</w:p>";
}
std::string r(const std::string& text) {
    return "<w:r><w:t xml:space=\"preserve\">" + text + "</w:t></w:r>";
}
std::string field(const std::string& code, const std::string& result) {
    return "<w:r><w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:instrText>" + code +
           "</w:instrText></w:r><w:r><w:fldChar w:fldCharType=\"separate\"/></w:r>" + r(result) +
           "<w:r><w:fldChar w:fldCharType=\"end\"/></w:r>";
}
std::string textBox(const std::string& text) {
    return "<w:r><mc:AlternateContent><mc:Choice Requires=\"wps\"><w:drawing><wp:anchor>"
           "<a:graphic><a:graphicData><wps:wsp><wps:txbx><w:txbxContent>" +
           p(r(text)) +
           "</w:txbxContent></wps:txbx></wps:wsp></a:graphicData></a:graphic></wp:anchor>"
           "</w:drawing></mc:Choice><mc:Fallback><w:pict><v:shape><v:textbox><w:txbxContent>" +
           p(r(text)) +
           "</w:txbxContent></v:textbox></v:shape></w:pict></mc:Fallback>"
           "</mc:AlternateContent></w:r>";
}

} // namespace wordml

std::string workbookPackage(const WorkbookParts& parts) {
    const std::string ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
    const std::string book = parts.unusualNames ? "content/book.xml" : "xl/workbook.xml";
    const auto [folder, bookFile] = split(book);
    std::vector<std::pair<std::string, std::string>> types{
        {book, "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"}};
    std::string sheets, relationships;
    ZipLayout l;
    // The sheets' parts in reverse order, so that only the relationships
    // give the workbook's order.
    for (std::size_t i = parts.sheets.size(); i-- > 0;) {
        const PackageSheet& s = parts.sheets[i];
        const std::string target =
            (parts.unusualNames ? "tables/t" : "worksheets/sheet") + std::to_string(i + 1) + ".xml";
        relationships += relationship("rIdS" + std::to_string(i), s.relationship, target);
        types.emplace_back(folder + target,
                           "application/vnd.openxmlformats-officedocument.spreadsheetml."
                           "worksheet+xml");
        if (!s.related.empty())
            l.items.push_back(
                part(folder + (parts.unusualNames ? "tables/_rels/t" : "worksheets/_rels/sheet") +
                         std::to_string(i + 1) + ".xml.rels",
                     relationshipsPart(relationship("rId1", s.related, "../related.xml"))));
        l.items.push_back(part(folder + target, head + "<worksheet xmlns=\"" + ns +
                                                    "\"><sheetData>" + s.sheetData +
                                                    "</sheetData>" + s.after + "</worksheet>"));
    }
    for (std::size_t i = 0; i < parts.sheets.size(); ++i) {
        const PackageSheet& s = parts.sheets[i];
        sheets += "<sheet name=\"" + s.name + "\" sheetId=\"" + std::to_string(i + 1) + "\"" +
                  (s.state.empty() ? "" : " state=\"" + s.state + "\"") + " r:id=\"rIdS" +
                  std::to_string(i) + "\"/>";
    }
    if (!parts.sharedStrings.empty()) {
        const std::string target = parts.unusualNames ? "strings.xml" : "sharedStrings.xml";
        relationships += relationship("rIdT", "sharedStrings", target);
        types.emplace_back(folder + target, "application/vnd.openxmlformats-officedocument."
                                            "spreadsheetml.sharedStrings+xml");
        l.items.push_back(part(folder + target, head + "<sst xmlns=\"" + ns + "\">" +
                                                    parts.sharedStrings + "</sst>"));
    }
    if (!parts.styles.empty()) {
        relationships += relationship("rIdY", "styles", "styles.xml");
        types.emplace_back(
            folder + "styles.xml",
            "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml");
        l.items.push_back(part(folder + "styles.xml", head + "<styleSheet xmlns=\"" + ns + "\">" +
                                                          parts.styles + "</styleSheet>"));
    }
    l.items.push_back(
        part(book, head + "<workbook xmlns=\"" + ns +
                       "\" xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                       "relationships\"><sheets>" +
                       sheets + "</sheets>" + parts.workbookExtra + "</workbook>"));
    l.items.push_back(
        part(folder + "_rels/" + bookFile + ".rels", relationshipsPart(relationships)));
    l.items.push_back(
        part("_rels/.rels", relationshipsPart(relationship("rId1", "officeDocument", book))));
    l.items.insert(l.items.begin(), part("[Content_Types].xml", contentTypes(types)));
    return zipArchive(l);
}

} // namespace binary_documents
