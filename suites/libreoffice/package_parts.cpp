#include "suites/libreoffice/package_parts.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <system_error>
#include <vector>

namespace libreoffice::packages {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndRecordSize = 22;
// The office's copy is rewritten in memory; a larger one keeps its own part.
constexpr std::uintmax_t kMaxCopySize = 256u << 20;

std::uint16_t u16(std::string_view b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[at]) |
                                      static_cast<std::uint8_t>(b[at + 1]) << 8);
}

std::uint32_t u32(std::string_view b, std::size_t at) {
    return u16(b, at) | static_cast<std::uint32_t>(u16(b, at + 2)) << 16;
}

void put16(std::string& b, std::uint16_t v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>(v >> 8);
}

void put32(std::string& b, std::uint32_t v) {
    put16(b, static_cast<std::uint16_t>(v & 0xFFFF));
    put16(b, static_cast<std::uint16_t>(v >> 16));
}

void patch32(std::string& b, std::size_t at, std::uint32_t v) {
    std::string bytes;
    put32(bytes, v);
    b.replace(at, 4, bytes);
}

// One record of the central directory.
struct Entry {
    std::string record; // as it stands, name, extra field and comment included
    std::string name;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t size = 0;
    std::uint32_t localOffset = 0;
};

struct Directory {
    std::vector<Entry> entries;
    std::uint32_t start = 0; // where the central directory begins
    std::string endRecord;   // with its comment
};

bool readAt(std::istream& in, std::uint64_t offset, std::size_t length, std::string& out) {
    out.assign(length, '\0');
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    if (!in)
        return false;
    in.read(out.data(), static_cast<std::streamsize>(length));
    return static_cast<std::size_t>(in.gcount()) == length;
}

// The central directory of a package of `fileSize` bytes; nullopt for what
// this reader does not take (ZIP64, archives split over disks, damage).
std::optional<Directory> readDirectory(std::istream& in, std::uint64_t fileSize) {
    const std::uint64_t tailSize = std::min<std::uint64_t>(fileSize, kEndRecordSize + 0xFFFF);
    std::string tail;
    if (tailSize < kEndRecordSize || !readAt(in, fileSize - tailSize, tailSize, tail))
        return std::nullopt;
    // The end record is the last one whose comment reaches the end.
    std::size_t at = tail.size() - kEndRecordSize + 1;
    while (at-- > 0)
        if (u32(tail, at) == kEndSignature &&
            at + kEndRecordSize + u16(tail, at + 20) == tail.size())
            break;
    if (at == static_cast<std::size_t>(-1))
        return std::nullopt;
    const std::uint16_t count = u16(tail, at + 10);
    const std::uint32_t size = u32(tail, at + 12);
    const std::uint32_t start = u32(tail, at + 16);
    if (u16(tail, at + 4) != 0 || u16(tail, at + 6) != 0 || u16(tail, at + 8) != count ||
        count == 0xFFFF || size == 0xFFFFFFFF || start == 0xFFFFFFFF ||
        std::uint64_t{start} + size > fileSize - tailSize + at)
        return std::nullopt;
    std::string central;
    if (!readAt(in, start, size, central))
        return std::nullopt;

    Directory directory;
    directory.start = start;
    directory.endRecord = tail.substr(at);
    std::size_t p = 0;
    for (std::uint16_t i = 0; i < count; ++i) {
        if (p + kCentralHeaderSize > central.size() || u32(central, p) != kCentralSignature)
            return std::nullopt;
        const std::size_t nameSize = u16(central, p + 28);
        const std::size_t length =
            kCentralHeaderSize + nameSize + u16(central, p + 30) + u16(central, p + 32);
        if (p + length > central.size())
            return std::nullopt;
        Entry e;
        e.record = central.substr(p, length);
        e.name = central.substr(p + kCentralHeaderSize, nameSize);
        e.flags = u16(central, p + 8);
        e.method = u16(central, p + 10);
        e.crc = u32(central, p + 16);
        e.compressedSize = u32(central, p + 20);
        e.size = u32(central, p + 24);
        e.localOffset = u32(central, p + 42);
        if (e.compressedSize == 0xFFFFFFFF || e.size == 0xFFFFFFFF || e.localOffset >= start)
            return std::nullopt;
        directory.entries.push_back(std::move(e));
        p += length;
    }
    return directory;
}

const Entry* findEntry(const Directory& directory, std::string_view name) {
    for (const Entry& e : directory.entries)
        if (e.name == name)
            return &e;
    return nullptr;
}

// The entry's compressed bytes as they stand; nullopt when its local header
// is missing or its data runs into the central directory.
std::optional<std::string> rawData(std::istream& in, const Directory& directory, const Entry& e) {
    std::string header;
    if (!readAt(in, e.localOffset, kLocalHeaderSize, header) || u32(header, 0) != kLocalSignature)
        return std::nullopt;
    const std::uint64_t begin =
        std::uint64_t{e.localOffset} + kLocalHeaderSize + u16(header, 26) + u16(header, 28);
    std::string data;
    if (begin + e.compressedSize > directory.start || !readAt(in, begin, e.compressedSize, data))
        return std::nullopt;
    return data;
}

std::optional<std::string> inflated(const std::string& data, const Entry& e) {
    if (e.method == 0)
        return data.size() == e.size ? std::optional<std::string>(data) : std::nullopt;
    if (e.method != Z_DEFLATED)
        return std::nullopt;
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return std::nullopt;
    // The stated size bounds the output: more data fails to finish.
    std::string out(e.size, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&z, Z_FINISH);
    const bool complete = result == Z_STREAM_END && z.total_out == e.size;
    inflateEnd(&z);
    return complete ? std::optional<std::string>(std::move(out)) : std::nullopt;
}

std::uintmax_t sizeOf(const fs::path& file) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    return ec ? 0 : size;
}

} // namespace

std::optional<std::string> readPart(const fs::path& package, std::string_view name,
                                    std::size_t limit) {
    std::ifstream in(package, std::ios::binary);
    const auto directory = in ? readDirectory(in, sizeOf(package)) : std::nullopt;
    const Entry* e = directory ? findEntry(*directory, name) : nullptr;
    if (!e || (e->flags & 1) != 0 || e->size > limit || e->compressedSize > limit + 1024)
        return std::nullopt;
    const auto raw = rawData(in, *directory, *e);
    auto content = raw ? inflated(*raw, *e) : std::nullopt;
    if (!content || crc32(0, reinterpret_cast<const Bytef*>(content->data()),
                          static_cast<uInt>(content->size())) != e->crc)
        return std::nullopt;
    return content;
}

std::optional<bool> declaresMacros(const fs::path& package) {
    const auto types = readPart(package, "[Content_Types].xml", 1u << 20);
    if (!types)
        return std::nullopt;
    if (types->find("application/vnd.ms-word.document.macroEnabled.main+xml") !=
            std::string::npos ||
        types->find("application/vnd.ms-excel.sheet.macroEnabled.main+xml") != std::string::npos)
        return true;
    if (types->find("application/vnd.openxmlformats-officedocument.wordprocessingml.document."
                    "main+xml") != std::string::npos ||
        types->find("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml") !=
            std::string::npos)
        return false;
    return std::nullopt;
}

Carry carryPartOver(const fs::path& original, const fs::path& copy, std::string_view name) {
    std::ifstream from(original, std::ios::binary);
    const auto fromDirectory = from ? readDirectory(from, sizeOf(original)) : std::nullopt;
    if (!fromDirectory)
        return Carry::Unreadable;
    const Entry* carried = findEntry(*fromDirectory, name);
    if (!carried)
        return Carry::NotInOriginal;
    const auto raw =
        (carried->flags & 1) == 0 ? rawData(from, *fromDirectory, *carried) : std::nullopt;
    if (!raw)
        return Carry::Unreadable;

    const std::uintmax_t copySize = sizeOf(copy);
    std::ifstream in(copy, std::ios::binary);
    const auto directory =
        in && copySize <= kMaxCopySize ? readDirectory(in, copySize) : std::nullopt;
    if (!directory)
        return Carry::Unreadable;
    const Entry* replaced = findEntry(*directory, name);
    if (!replaced)
        return Carry::NotInCopy;

    // The entries in the order of their data; each runs up to the next one
    // (a data descriptor included) or to the central directory.
    std::vector<const Entry*> inFileOrder;
    for (const Entry& e : directory->entries)
        inFileOrder.push_back(&e);
    std::sort(inFileOrder.begin(), inFileOrder.end(),
              [](const Entry* a, const Entry* b) { return a->localOffset < b->localOffset; });
    for (std::size_t i = 1; i < inFileOrder.size(); ++i)
        if (inFileOrder[i]->localOffset == inFileOrder[i - 1]->localOffset)
            return Carry::Unreadable;

    std::string out;
    if (!inFileOrder.empty() && !readAt(in, 0, inFileOrder.front()->localOffset, out))
        return Carry::Unreadable;
    std::vector<std::uint32_t> newOffsets(directory->entries.size());
    // The carried entry's header: the original's fields, sizes in the
    // header, so no data descriptor.
    const std::uint16_t flags = carried->flags & ~std::uint16_t{0x0008};
    for (std::size_t i = 0; i < inFileOrder.size(); ++i) {
        const Entry* e = inFileOrder[i];
        newOffsets[static_cast<std::size_t>(e - directory->entries.data())] =
            static_cast<std::uint32_t>(out.size());
        if (e == replaced) {
            put32(out, kLocalSignature);
            put16(out, u16(carried->record, 6));
            put16(out, flags);
            put16(out, carried->method);
            put16(out, u16(carried->record, 12));
            put16(out, u16(carried->record, 14));
            put32(out, carried->crc);
            put32(out, carried->compressedSize);
            put32(out, carried->size);
            put16(out, static_cast<std::uint16_t>(carried->name.size()));
            put16(out, 0);
            out += carried->name + *raw;
            continue;
        }
        const std::uint32_t end =
            i + 1 < inFileOrder.size() ? inFileOrder[i + 1]->localOffset : directory->start;
        std::string span;
        if (!readAt(in, e->localOffset, end - e->localOffset, span))
            return Carry::Unreadable;
        out += span;
    }
    if (out.size() > 0xFFFFFFF0u)
        return Carry::Unreadable;

    const auto centralStart = static_cast<std::uint32_t>(out.size());
    for (std::size_t i = 0; i < directory->entries.size(); ++i) {
        const Entry& e = directory->entries[i];
        if (&e == replaced) {
            std::string record = carried->record.substr(0, kCentralHeaderSize);
            patch32(record, 8, flags | static_cast<std::uint32_t>(carried->method) << 16);
            record.replace(30, 2, std::string(2, '\0')); // no extra field
            record.replace(32, 2, std::string(2, '\0')); // no comment
            patch32(record, 42, newOffsets[i]);
            out += record + carried->name;
        } else {
            std::string record = e.record;
            patch32(record, 42, newOffsets[i]);
            out += record;
        }
    }
    std::string end = directory->endRecord;
    patch32(end, 12, static_cast<std::uint32_t>(out.size()) - centralStart);
    patch32(end, 16, centralStart);
    out += end;
    in.close();

    std::ofstream write(copy, std::ios::binary | std::ios::trunc);
    write.write(out.data(), static_cast<std::streamsize>(out.size()));
    write.close();
    if (!write)
        throw std::system_error(errno ? errno : EIO, std::generic_category(),
                                "cannot write the package");
    return Carry::Carried;
}

} // namespace libreoffice::packages
