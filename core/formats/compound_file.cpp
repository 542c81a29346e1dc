#include "core/formats/compound_file.h"

namespace formats {

namespace {

constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::size_t kHeaderDifatEntries = 109;
constexpr std::size_t kEntrySize = 128;

char16_t asciiUpper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool sameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiUpper(a[i]) != asciiUpper(b[i]))
            return false;
    return true;
}

} // namespace

std::uint8_t readU8(std::string_view bytes, std::size_t offset) {
    if (offset >= bytes.size())
        throw FormatError("read past the end");
    return static_cast<std::uint8_t>(bytes[offset]);
}

std::uint16_t readU16(std::string_view bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 2)
        throw FormatError("read past the end");
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[offset]) |
                                      static_cast<std::uint8_t>(bytes[offset + 1]) << 8);
}

std::uint32_t readU32(std::string_view bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 4)
        throw FormatError("read past the end");
    return static_cast<std::uint32_t>(readU16(bytes, offset)) |
           static_cast<std::uint32_t>(readU16(bytes, offset + 2)) << 16;
}

CompoundFile::CompoundFile(std::string_view bytes) : bytes_(bytes) {
    static constexpr unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (bytes.size() < 512)
        throw FormatError("shorter than a header");
    for (std::size_t i = 0; i < 8; ++i)
        if (static_cast<unsigned char>(bytes[i]) != kSignature[i])
            throw FormatError("no compound file signature");
    const std::uint16_t major = readU16(bytes, 26);
    const std::uint16_t shift = readU16(bytes, 30);
    if (readU16(bytes, 28) != 0xFFFE)
        throw FormatError("byte order mark");
    if (!((major == 3 && shift == 9) || (major == 4 && shift == 12)))
        throw FormatError("version and sector size");
    if (readU16(bytes, 32) != 6)
        throw FormatError("mini sector size");
    sectorSize_ = 1u << shift;
    miniCutoff_ = readU32(bytes, 56);
    if (miniCutoff_ != 4096)
        throw FormatError("mini stream cutoff");
    // Sector n starts at (n + 1) * sector size. A file cut short is not
    // trusted: every sector must be whole.
    if (bytes.size() <= sectorSize_ || bytes.size() % sectorSize_ != 0)
        throw FormatError("not a whole number of sectors");
    sectorCount_ = bytes.size() / sectorSize_ - 1;

    // The allocation table's sectors: 109 in the header, the rest in the
    // DIFAT chain.
    const std::uint32_t fatSectors = readU32(bytes, 44);
    if (fatSectors == 0 || fatSectors > sectorCount_)
        throw FormatError("allocation table size");
    std::vector<std::uint32_t> fatSectorList;
    for (std::size_t i = 0; i < kHeaderDifatEntries && fatSectorList.size() < fatSectors; ++i)
        fatSectorList.push_back(readU32(bytes, 76 + 4 * i));
    std::uint32_t difat = readU32(bytes, 68);
    const std::uint32_t difatCount = readU32(bytes, 72);
    const std::size_t perDifat = sectorSize_ / 4 - 1;
    for (std::uint32_t n = 0; fatSectorList.size() < fatSectors; ++n) {
        if (n >= difatCount || difat > kMaxRegularSector || difat >= sectorCount_)
            throw FormatError("DIFAT chain");
        const std::size_t base = (static_cast<std::size_t>(difat) + 1) * sectorSize_;
        for (std::size_t i = 0; i < perDifat && fatSectorList.size() < fatSectors; ++i)
            fatSectorList.push_back(readU32(bytes, base + 4 * i));
        difat = readU32(bytes, base + 4 * perDifat);
    }
    fat_.reserve(static_cast<std::size_t>(fatSectors) * (sectorSize_ / 4));
    for (const std::uint32_t s : fatSectorList) {
        if (s >= sectorCount_)
            throw FormatError("allocation table sector out of range");
        const std::size_t base = (static_cast<std::size_t>(s) + 1) * sectorSize_;
        for (std::size_t i = 0; i < sectorSize_ / 4; ++i)
            fat_.push_back(readU32(bytes, base + 4 * i));
    }

    // The directory.
    const std::string directory = readChain(readU32(bytes, 48), UINT64_MAX);
    const std::size_t count = directory.size() / kEntrySize;
    if (count == 0)
        throw FormatError("empty directory");
    entries_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view e(directory.data() + i * kEntrySize, kEntrySize);
        Entry entry;
        const std::uint16_t nameBytes = readU16(e, 64);
        entry.type = readU8(e, 66);
        if (nameBytes >= 2 && nameBytes <= 64 && nameBytes % 2 == 0)
            for (std::size_t k = 0; k + 1 < nameBytes / 2u; ++k)
                entry.name.push_back(static_cast<char16_t>(readU16(e, 2 * k)));
        entry.left = readU32(e, 68);
        entry.right = readU32(e, 72);
        entry.child = readU32(e, 76);
        entry.start = readU32(e, 116);
        entry.size = readU32(e, 120);
        // Version 3 files may leave garbage in the high half of the size.
        if (major == 4)
            entry.size |= static_cast<std::uint64_t>(readU32(e, 124)) << 32;
        entries_.push_back(std::move(entry));
    }
    if (entries_[0].type != 5)
        throw FormatError("no root entry");

    // The mini stream and its allocation table.
    const std::uint32_t miniFatStart = readU32(bytes, 60);
    const std::uint32_t miniFatSectors = readU32(bytes, 64);
    if (miniFatStart != kEndOfChain && miniFatSectors > 0) {
        if (miniFatSectors > sectorCount_)
            throw FormatError("mini allocation table size");
        const std::string table =
            readChain(miniFatStart, static_cast<std::uint64_t>(miniFatSectors) * sectorSize_);
        for (std::size_t i = 0; i + 4 <= table.size(); i += 4)
            miniFat_.push_back(readU32(table, i));
        if (entries_[0].size > 0)
            miniStream_ = readChain(entries_[0].start, entries_[0].size);
    }
}

std::vector<std::uint32_t> CompoundFile::chainOf(std::uint32_t start,
                                                 const std::vector<std::uint32_t>& table,
                                                 std::size_t limit) const {
    std::vector<std::uint32_t> chain;
    std::vector<bool> seen(table.size(), false);
    std::uint32_t s = start;
    while (s != kEndOfChain) {
        if (s >= table.size() || seen[s])
            throw FormatError("broken sector chain");
        if (chain.size() >= limit)
            break;
        seen[s] = true;
        chain.push_back(s);
        s = table[s];
    }
    return chain;
}

std::string CompoundFile::readChain(std::uint32_t start, std::uint64_t size) const {
    // A stream cannot be longer than the file.
    if (size != UINT64_MAX && size > bytes_.size())
        throw FormatError("stream larger than the file");
    const std::size_t limit =
        size == UINT64_MAX ? fat_.size()
                           : static_cast<std::size_t>((size + sectorSize_ - 1) / sectorSize_);
    const std::vector<std::uint32_t> chain = chainOf(start, fat_, limit);
    if (size != UINT64_MAX && chain.size() < limit)
        throw FormatError("stream shorter than its size");
    std::string out;
    out.reserve(chain.size() * sectorSize_);
    for (const std::uint32_t s : chain) {
        if (s >= sectorCount_)
            throw FormatError("sector out of range");
        const std::size_t base = (static_cast<std::size_t>(s) + 1) * sectorSize_;
        out.append(bytes_.substr(base, sectorSize_));
    }
    if (size != UINT64_MAX) {
        if (out.size() < size)
            throw FormatError("stream cut short");
        out.resize(static_cast<std::size_t>(size));
    }
    return out;
}

std::string CompoundFile::readMiniChain(std::uint32_t start, std::uint64_t size) const {
    const std::size_t limit =
        static_cast<std::size_t>((size + miniSectorSize_ - 1) / miniSectorSize_);
    const std::vector<std::uint32_t> chain = chainOf(start, miniFat_, limit);
    if (chain.size() < limit)
        throw FormatError("mini stream chain shorter than its size");
    std::string out;
    out.reserve(static_cast<std::size_t>(size));
    for (const std::uint32_t s : chain) {
        const std::size_t base = static_cast<std::size_t>(s) * miniSectorSize_;
        if (base >= miniStream_.size())
            throw FormatError("mini sector out of range");
        out.append(miniStream_, base, miniSectorSize_);
    }
    if (out.size() < size)
        throw FormatError("mini stream cut short");
    out.resize(static_cast<std::size_t>(size));
    return out;
}

const CompoundFile::Entry* CompoundFile::findInRoot(std::u16string_view name) const {
    // The root's children form a tree through their left and right siblings.
    std::vector<bool> seen(entries_.size(), false);
    std::vector<std::uint32_t> pending{entries_[0].child};
    while (!pending.empty()) {
        const std::uint32_t i = pending.back();
        pending.pop_back();
        if (i == kNoStream)
            continue;
        if (i >= entries_.size() || seen[i])
            throw FormatError("broken directory tree");
        seen[i] = true;
        const Entry& e = entries_[i];
        if (sameName(e.name, name))
            return &e;
        pending.push_back(e.left);
        pending.push_back(e.right);
    }
    return nullptr;
}

bool CompoundFile::hasStream(std::u16string_view name) const {
    const Entry* e = findInRoot(name);
    return e && e->type == 2;
}

std::optional<std::string> CompoundFile::stream(std::u16string_view name) const {
    const Entry* e = findInRoot(name);
    if (!e || e->type != 2)
        return std::nullopt;
    if (e->size == 0)
        return std::string();
    if (e->size < miniCutoff_)
        return readMiniChain(e->start, e->size);
    return readChain(e->start, e->size);
}

} // namespace formats
