#include "support/binary_documents.h"

#include <algorithm>
#include <functional>
#include <stdexcept>

namespace binary_documents {

namespace {

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFree = 0xFFFFFFFF;
constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;

char16_t upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
}

// The directory's order: shorter names first, then by upper-case letters.
bool before(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size())
        return a.size() < b.size();
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i]))
            return upper(a[i]) < upper(b[i]);
    return false;
}

} // namespace

void putU16(std::string& bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<char>(value & 0xFF);
    bytes[offset + 1] = static_cast<char>(value >> 8);
}

void putU32(std::string& bytes, std::size_t offset, std::uint32_t value) {
    putU16(bytes, offset, static_cast<std::uint16_t>(value & 0xFFFF));
    putU16(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

void appendU16(std::string& bytes, std::uint16_t value) {
    bytes.append(2, '\0');
    putU16(bytes, bytes.size() - 2, value);
}

void appendU32(std::string& bytes, std::uint32_t value) {
    bytes.append(4, '\0');
    putU32(bytes, bytes.size() - 4, value);
}

std::string compoundFile(const std::vector<Stream>& streams, int version) {
    const std::size_t sector = version == 4 ? 4096 : 512;
    const std::size_t perSector = sector / 4;
    std::vector<std::string> sectors;
    std::vector<std::uint32_t> fat;

    // Appends data as a chain of sectors; returns its first sector.
    auto addChain = [&](const std::string& data) -> std::uint32_t {
        if (data.empty())
            return kEndOfChain;
        const auto first = static_cast<std::uint32_t>(sectors.size());
        for (std::size_t at = 0; at < data.size(); at += sector) {
            std::string s = data.substr(at, sector);
            s.resize(sector, '\0');
            sectors.push_back(s);
            fat.push_back(at + sector < data.size() ? static_cast<std::uint32_t>(sectors.size())
                                                    : kEndOfChain);
        }
        return first;
    };

    struct Entry {
        std::u16string name;
        std::uint32_t start = kEndOfChain;
        std::uint32_t size = 0;
        std::uint32_t left = kNoStream, right = kNoStream;
    };
    std::vector<Entry> entries;
    std::string mini;
    std::vector<std::uint32_t> miniFat;
    for (const auto& [name, data] : streams) {
        Entry e{name};
        e.size = static_cast<std::uint32_t>(data.size());
        if (data.size() >= 4096) {
            e.start = addChain(data);
        } else if (!data.empty()) {
            e.start = static_cast<std::uint32_t>(mini.size() / 64);
            for (std::size_t at = 0; at < data.size(); at += 64) {
                std::string s = data.substr(at, 64);
                s.resize(64, '\0');
                mini += s;
                miniFat.push_back(at + 64 < data.size()
                                      ? static_cast<std::uint32_t>(mini.size() / 64)
                                      : kEndOfChain);
            }
        }
        entries.push_back(e);
    }
    const std::uint32_t miniStart = addChain(mini);
    std::string miniFatBytes;
    for (const auto v : miniFat)
        appendU32(miniFatBytes, v);
    const std::uint32_t miniFatStart = addChain(miniFatBytes);
    const auto miniFatSectors =
        static_cast<std::uint32_t>((miniFatBytes.size() + sector - 1) / sector);

    // A balanced search tree of the entries, all black.
    std::vector<std::size_t> order(entries.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return before(entries[a].name, entries[b].name);
    });
    std::function<std::uint32_t(std::size_t, std::size_t)> tree = [&](std::size_t lo,
                                                                      std::size_t hi) {
        if (lo >= hi)
            return kNoStream;
        const std::size_t mid = (lo + hi) / 2;
        Entry& e = entries[order[mid]];
        e.left = tree(lo, mid);
        e.right = tree(mid + 1, hi);
        return static_cast<std::uint32_t>(order[mid] + 1);
    };
    const std::uint32_t rootChild = tree(0, order.size());

    std::string directory;
    auto addEntry = [&](const std::u16string& name, std::uint8_t type, std::uint32_t left,
                        std::uint32_t right, std::uint32_t child, std::uint32_t start,
                        std::uint32_t size) {
        std::string e(128, '\0');
        for (std::size_t i = 0; i < name.size() && i < 31; ++i)
            putU16(e, 2 * i, name[i]);
        putU16(e, 64, static_cast<std::uint16_t>(2 * (std::min<std::size_t>(name.size(), 31) + 1)));
        e[66] = static_cast<char>(type);
        e[67] = 1;
        putU32(e, 68, left);
        putU32(e, 72, right);
        putU32(e, 76, child);
        putU32(e, 116, start);
        putU32(e, 120, size);
        directory += e;
    };
    addEntry(u"Root Entry", 5, kNoStream, kNoStream, rootChild, miniStart,
             static_cast<std::uint32_t>(mini.size()));
    for (const Entry& e : entries)
        addEntry(e.name, 2, e.left, e.right, kNoStream, e.start, e.size);
    while (directory.size() % sector != 0)
        addEntry(u"", 0, kNoStream, kNoStream, kNoStream, 0, 0);
    const std::uint32_t directoryStart = addChain(directory);

    // The allocation table covers itself.
    std::size_t fatSectors = 1;
    while ((sectors.size() + fatSectors) > fatSectors * perSector)
        ++fatSectors;
    std::vector<std::uint32_t> fatSectorNumbers;
    std::size_t difatSectors =
        fatSectors > 109 ? (fatSectors - 109 + perSector - 2) / (perSector - 1) : 0;
    while ((sectors.size() + fatSectors + difatSectors) > fatSectors * perSector) {
        ++fatSectors;
        difatSectors = fatSectors > 109 ? (fatSectors - 109 + perSector - 2) / (perSector - 1) : 0;
    }
    for (std::size_t i = 0; i < fatSectors; ++i) {
        fatSectorNumbers.push_back(static_cast<std::uint32_t>(sectors.size() + i));
        fat.push_back(kFatSector);
    }
    const auto firstDifat = static_cast<std::uint32_t>(sectors.size() + fatSectors);
    for (std::size_t i = 0; i < difatSectors; ++i)
        fat.push_back(0xFFFFFFFC);
    fat.resize(fatSectors * perSector, kFree);
    for (std::size_t i = 0; i < fatSectors; ++i) {
        std::string s;
        for (std::size_t k = 0; k < perSector; ++k)
            appendU32(s, fat[i * perSector + k]);
        sectors.push_back(s);
    }
    for (std::size_t d = 0; d < difatSectors; ++d) {
        std::string s;
        for (std::size_t k = 0; k + 1 < perSector; ++k) {
            const std::size_t index = 109 + d * (perSector - 1) + k;
            appendU32(s, index < fatSectors ? fatSectorNumbers[index] : kFree);
        }
        appendU32(s, d + 1 < difatSectors ? firstDifat + static_cast<std::uint32_t>(d) + 1
                                          : kEndOfChain);
        sectors.push_back(s);
    }

    std::string header(sector, '\0');
    const unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    for (int i = 0; i < 8; ++i)
        header[static_cast<std::size_t>(i)] = static_cast<char>(signature[i]);
    putU16(header, 24, 0x3E);
    putU16(header, 26, static_cast<std::uint16_t>(version));
    putU16(header, 28, 0xFFFE);
    putU16(header, 30, version == 4 ? 12 : 9);
    putU16(header, 32, 6);
    if (version == 4)
        putU32(header, 40, static_cast<std::uint32_t>(directory.size() / sector));
    putU32(header, 44, static_cast<std::uint32_t>(fatSectors));
    putU32(header, 48, directoryStart);
    putU32(header, 56, 4096);
    putU32(header, 60, miniFatStart);
    putU32(header, 64, miniFatSectors);
    putU32(header, 68, difatSectors ? firstDifat : kEndOfChain);
    putU32(header, 72, static_cast<std::uint32_t>(difatSectors));
    for (std::size_t i = 0; i < 109; ++i)
        putU32(header, 76 + 4 * i, i < fatSectors ? fatSectorNumbers[i] : kFree);

    std::string file = header;
    for (const auto& s : sectors)
        file += s;
    return file;
}

std::vector<Stream> wordStreams(const WordDocumentLayout& layout) {
    // FibBase, FibRgW97 (14 words), FibRgLw97 (22 longs), FibRgFcLcb97
    // (93 pairs), no newer parts.
    std::string doc(kTextOffset, '\0');
    putU16(doc, 0, 0xA5EC);
    putU16(doc, 2, layout.nFib);
    std::uint16_t flags = 0;
    if (layout.encrypted)
        flags |= 0x0100;
    if (layout.tableStream1)
        flags |= 0x0200;
    putU16(doc, 0x0A, flags);
    putU16(doc, 32, 14);
    putU16(doc, 62, 22);
    putU16(doc, 152, 0x5D);

    std::string plcCps, plcPcds;
    std::uint32_t cp = 0;
    std::size_t total = 0;
    for (std::size_t i = 0; i < layout.pieces.size(); ++i) {
        const WordPiece& piece = layout.pieces[i];
        appendU32(plcCps, cp);
        const auto fc = static_cast<std::uint32_t>(doc.size());
        std::string bytes;
        for (const char16_t c : piece.text) {
            if (piece.compressed)
                bytes.push_back(static_cast<char>(c & 0xFF));
            else
                appendU16(bytes, c);
        }
        for (const auto& [index, raw] : layout.rawCompressed)
            if (index == i)
                bytes = raw;
        doc += bytes;
        appendU16(plcPcds, 0);
        appendU32(plcPcds, piece.compressed ? (fc * 2) | 0x40000000u : fc);
        appendU16(plcPcds, 0);
        const std::size_t count = piece.compressed ? bytes.size() : piece.text.size();
        cp += static_cast<std::uint32_t>(count);
        total += count;
    }
    appendU32(plcCps, cp);
    const std::size_t mainText = std::min(layout.mainTextLength, total);
    putU32(doc, 64 + 3 * 4, static_cast<std::uint32_t>(mainText));

    std::string table;
    table.push_back('\x02');
    appendU32(table, static_cast<std::uint32_t>(plcCps.size() + plcPcds.size()));
    table += plcCps + plcPcds;
    putU32(doc, kFcClxOffset, 0);
    putU32(doc, kFcClxOffset + 4, static_cast<std::uint32_t>(table.size()));
    // The other table stream holds nonsense, so that reading the wrong one
    // shows.
    const std::string other(table.size(), '\x07');
    return {{u"WordDocument", doc},
            {layout.tableStream1 ? u"1Table" : u"0Table", table},
            {layout.tableStream1 ? u"0Table" : u"1Table", other}};
}

std::string wordDocument(const WordDocumentLayout& layout, int version) {
    return compoundFile(wordStreams(layout), version);
}

} // namespace binary_documents
