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

    // The directory: the root, then every storage and stream; a name with
    // "/" lies in the storages its parts name.
    struct Entry {
        std::u16string name;
        std::uint8_t type = 2; // 1 storage, 2 stream, 5 root
        std::size_t parent = 0;
        std::uint32_t start = kEndOfChain;
        std::uint32_t size = 0;
        std::uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
    };
    std::vector<Entry> entries{{u"Root Entry", 5}};
    auto childNamed = [&](std::size_t parent, const std::u16string& name, std::uint8_t type) {
        for (std::size_t i = 1; i < entries.size(); ++i)
            if (entries[i].parent == parent && entries[i].name == name)
                return i;
        entries.push_back({name, type, parent});
        return entries.size() - 1;
    };
    std::string mini;
    std::vector<std::uint32_t> miniFat;
    for (const auto& [path, data] : streams) {
        std::size_t parent = 0, from = 0;
        for (std::size_t slash; (slash = path.find(u'/', from)) != std::u16string::npos;
             from = slash + 1)
            parent = childNamed(parent, path.substr(from, slash - from), 1);
        Entry& e = entries[childNamed(parent, path.substr(from), 2)];
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
    }
    const std::uint32_t miniStart = addChain(mini);
    entries[0].start = miniStart;
    entries[0].size = static_cast<std::uint32_t>(mini.size());
    std::string miniFatBytes;
    for (const auto v : miniFat)
        appendU32(miniFatBytes, v);
    const std::uint32_t miniFatStart = addChain(miniFatBytes);
    const auto miniFatSectors =
        static_cast<std::uint32_t>((miniFatBytes.size() + sector - 1) / sector);

    // The children of each storage as a balanced search tree, all black.
    for (std::size_t storage = 0; storage < entries.size(); ++storage) {
        if (entries[storage].type == 2)
            continue;
        std::vector<std::size_t> order;
        for (std::size_t i = 1; i < entries.size(); ++i)
            if (entries[i].parent == storage)
                order.push_back(i);
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
            return static_cast<std::uint32_t>(order[mid]);
        };
        entries[storage].child = tree(0, order.size());
    }

    std::string directory;
    auto addEntry = [&](const Entry& entry) {
        std::string e(128, '\0');
        const std::u16string& name = entry.name;
        for (std::size_t i = 0; i < name.size() && i < 31; ++i)
            putU16(e, 2 * i, name[i]);
        putU16(e, 64, static_cast<std::uint16_t>(2 * (std::min<std::size_t>(name.size(), 31) + 1)));
        e[66] = static_cast<char>(entry.type);
        e[67] = 1;
        putU32(e, 68, entry.left);
        putU32(e, 72, entry.right);
        putU32(e, 76, entry.child);
        putU32(e, 116, entry.type == 1 ? 0 : entry.start);
        putU32(e, 120, entry.size);
        directory += e;
    };
    for (const Entry& e : entries)
        addEntry(e);
    while (directory.size() % sector != 0)
        addEntry({u"", 0, 0, 0, 0, kNoStream, kNoStream, kNoStream});
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

namespace {

// A compressed container of one chunk that holds only literal tokens: each
// flag byte of zero is followed by up to eight bytes as they are. One chunk
// holds up to 3,640 such bytes.
std::string vbaCompressed(const std::string& data) {
    if (data.size() > 3640)
        throw std::invalid_argument("too long for one chunk of literals");
    std::string chunk;
    for (std::size_t k = 0; k < data.size(); k += 8)
        chunk += '\0' + data.substr(k, 8);
    std::string out(1, '\x01');
    appendU16(out, static_cast<std::uint16_t>(0xB000 | (chunk.size() + 2 - 3)));
    return out + chunk;
}

void record(std::string& out, std::uint16_t id, const std::string& data) {
    appendU16(out, id);
    appendU32(out, static_cast<std::uint32_t>(data.size()));
    out += data;
}

std::string u32(std::uint32_t v) {
    std::string s;
    appendU32(s, v);
    return s;
}

std::string u16(std::uint16_t v) {
    std::string s;
    appendU16(s, v);
    return s;
}

std::string utf16(const std::string& ascii) {
    std::string s;
    for (const char c : ascii)
        appendU16(s, static_cast<std::uint8_t>(c));
    return s;
}

} // namespace

std::string vbaProject(const std::string& module, const std::string& source) {
    std::string dir;
    record(dir, 0x0001, u32(1));     // 32-bit Windows
    record(dir, 0x0002, u32(0x409)); // LCID
    record(dir, 0x0014, u32(0x409)); // LCID for invoking
    record(dir, 0x0003, u16(1252));  // code page
    record(dir, 0x0004, "VBAProject");
    record(dir, 0x0005, "");
    record(dir, 0x0040, "");
    record(dir, 0x0006, "");
    record(dir, 0x003D, "");
    record(dir, 0x0007, u32(0));
    record(dir, 0x0008, u32(0));
    appendU16(dir, 0x0009); // version: a reserved size of 4, then 6 bytes
    appendU32(dir, 4);
    appendU32(dir, 1);
    appendU16(dir, 0);
    record(dir, 0x000F, u16(1)); // one module
    record(dir, 0x0013, u16(0xFFFF));
    record(dir, 0x0019, module);
    record(dir, 0x0047, utf16(module));
    record(dir, 0x001A, module);
    record(dir, 0x0032, utf16(module));
    record(dir, 0x001C, "");
    record(dir, 0x0048, "");
    record(dir, 0x0031, u32(0)); // the source starts the module stream
    record(dir, 0x001E, u32(0));
    record(dir, 0x002C, u16(0xFFFF));
    record(dir, 0x0021, ""); // a procedural module
    record(dir, 0x002B, "");
    record(dir, 0x0010, "");

    const std::string project =
        "ID=\"{00000000-0000-0000-0000-000000000000}\"\r\nModule=" + module +
        "\r\nName=\"VBAProject\"\r\n";
    std::u16string name(module.begin(), module.end());
    return compoundFile({{u"PROJECT", project},
                         {u"PROJECTwm", module + '\0' + utf16(module) + std::string(2, '\0')},
                         {u"VBA/_VBA_PROJECT", std::string("\xCC\x61\xFF\xFF\x00\x00\x00", 7)},
                         {u"VBA/dir", vbaCompressed(dir)},
                         {u"VBA/" + name, vbaCompressed(source)}});
}

std::string encryptedPackage() {
    // EncryptionInfo: version 3.2, CryptoAPI and AES; the header names AES-128
    // with SHA-1 and the provider; the verifier's values match no password.
    std::string header;
    for (const std::uint32_t v : {0x24u, 0u, 0x660Eu, 0x8004u, 128u, 0x18u, 0u, 0u})
        appendU32(header, v);
    header += utf16("Microsoft Enhanced RSA and AES Cryptographic Provider") + std::string(2, '\0');
    std::string info;
    appendU16(info, 3);
    appendU16(info, 2);
    appendU32(info, 0x24);
    appendU32(info, static_cast<std::uint32_t>(header.size()));
    info += header;
    appendU32(info, 16);
    info += std::string(32, '\x5A'); // salt and encrypted verifier
    appendU32(info, 20);
    info += std::string(32, '\xA5'); // encrypted verifier hash

    std::string package;
    appendU32(package, 4096);
    appendU32(package, 0);
    for (std::size_t i = 0; i < 4096; ++i)
        package += static_cast<char>((i * 131 + 7) & 0xFF);
    return compoundFile({{u"EncryptionInfo", info}, {u"EncryptedPackage", package}});
}

std::string storedZip(const std::vector<std::pair<std::string, std::string>>& entries) {
    auto crc32 = [](const std::string& data) {
        std::uint32_t crc = 0xFFFFFFFF;
        for (const char c : data) {
            crc ^= static_cast<std::uint8_t>(c);
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
        return ~crc;
    };
    std::string zip, central;
    for (const auto& [name, data] : entries) {
        const auto offset = static_cast<std::uint32_t>(zip.size());
        const std::uint32_t crc = crc32(data);
        const auto size = static_cast<std::uint32_t>(data.size());
        const auto nameSize = static_cast<std::uint16_t>(name.size());
        // Local header: version 20, no flags, stored, a fixed time (1 Jan 2024).
        appendU32(zip, 0x04034B50);
        for (const std::uint16_t v : {20, 0, 0, 0, 0x5821})
            appendU16(zip, v);
        for (const std::uint32_t v : {crc, size, size})
            appendU32(zip, v);
        appendU16(zip, nameSize);
        appendU16(zip, 0);
        zip += name + data;

        appendU32(central, 0x02014B50);
        for (const std::uint16_t v : {20, 20, 0, 0, 0, 0x5821})
            appendU16(central, v);
        for (const std::uint32_t v : {crc, size, size})
            appendU32(central, v);
        for (const std::uint16_t v :
             {nameSize, std::uint16_t(0), std::uint16_t(0), std::uint16_t(0), std::uint16_t(0)})
            appendU16(central, v);
        appendU32(central, 0);
        appendU32(central, offset);
        central += name;
    }
    const auto count = static_cast<std::uint16_t>(entries.size());
    const auto centralStart = static_cast<std::uint32_t>(zip.size());
    zip += central;
    appendU32(zip, 0x06054B50);
    for (const std::uint16_t v : {std::uint16_t(0), std::uint16_t(0), count, count})
        appendU16(zip, v);
    appendU32(zip, static_cast<std::uint32_t>(central.size()));
    appendU32(zip, centralStart);
    appendU16(zip, 0);
    return zip;
}

} // namespace binary_documents
