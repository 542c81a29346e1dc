#include "core/formats/zip_package.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

namespace formats {

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kDescriptorSignature = 0x08074b50;
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint32_t kMax32 = 0xFFFFFFFF;
constexpr std::uint16_t kMax16 = 0xFFFF;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndMinimum = 56;

constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagDescriptor = 0x0008;
constexpr std::uint16_t kFlagStrongEncryption = 0x0040;
constexpr std::uint16_t kFlagMaskedDirectory = 0x2000;

using Kind = ZipError::Kind;

[[noreturn]] void fail(Kind kind, const std::string& detail) {
    throw ZipError(kind, detail);
}

std::uint64_t get(std::string_view bytes, std::uint64_t offset, unsigned width) {
    if (offset > bytes.size() || bytes.size() - offset < width)
        fail(Kind::Damaged, "a record reaches past the end of the file");
    std::uint64_t value = 0;
    for (unsigned i = width; i-- > 0;)
        value = value << 8 | static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(offset) + i]);
    return value;
}
std::uint16_t u16(std::string_view b, std::uint64_t at) {
    return static_cast<std::uint16_t>(get(b, at, 2));
}
std::uint32_t u32(std::string_view b, std::uint64_t at) {
    return static_cast<std::uint32_t>(get(b, at, 4));
}
std::uint64_t u64(std::string_view b, std::uint64_t at) {
    return get(b, at, 8);
}

void put(std::string& bytes, std::size_t offset, std::uint64_t value, unsigned width) {
    for (unsigned i = 0; i < width; ++i)
        bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}
void append(std::string& bytes, std::uint64_t value, unsigned width) {
    bytes.append(width, '\0');
    put(bytes, bytes.size() - width, value, width);
}

// The data of the extra block `id` in `extra`: its offset within `extra` and
// its size; nothing when absent or when the blocks do not parse.
std::optional<std::pair<std::size_t, std::size_t>> extraBlock(std::string_view extra,
                                                              std::uint16_t id) {
    std::size_t at = 0;
    while (extra.size() - at >= 4) {
        const std::uint16_t blockId = u16(extra, at);
        const std::size_t size = u16(extra, at + 2);
        if (extra.size() - at - 4 < size)
            return std::nullopt;
        if (blockId == id)
            return std::make_pair(at + 4, size);
        at += 4 + size;
    }
    return std::nullopt;
}

// The 32-bit value a field of an end record gets: its marker when the
// original had the marker or the value needs ZIP64, else the value.
std::uint64_t field(std::uint64_t original, std::uint64_t value, std::uint64_t marker) {
    return original == marker || value >= marker ? marker : value;
}

// Inflates raw deflate data into exactly `size` bytes; more or less output is
// an error.
std::string inflateExactly(std::string_view data, std::uint64_t size) {
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
        throw std::bad_alloc();
    struct End {
        z_stream& zs;
        ~End() { inflateEnd(&zs); }
    } end{zs};
    constexpr std::size_t kChunk = std::size_t{1} << 30;
    std::string out(static_cast<std::size_t>(size), '\0');
    std::size_t inFed = 0, outGiven = 0;
    unsigned char probe = 0;
    bool probing = false;
    for (;;) {
        if (zs.avail_in == 0 && inFed < data.size()) {
            const std::size_t n = std::min(data.size() - inFed, kChunk);
            zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + inFed));
            zs.avail_in = static_cast<uInt>(n);
            inFed += n;
        }
        if (zs.avail_out == 0) {
            if (outGiven < out.size()) {
                const std::size_t n = std::min(out.size() - outGiven, kChunk);
                zs.next_out = reinterpret_cast<Bytef*>(out.data() + outGiven);
                zs.avail_out = static_cast<uInt>(n);
                outGiven += n;
            } else {
                // Room for one byte more: any output there is too much.
                zs.next_out = &probe;
                zs.avail_out = 1;
                probing = true;
            }
        }
        const int result = inflate(&zs, Z_NO_FLUSH);
        if (probing && zs.avail_out == 0)
            fail(Kind::Damaged, "an entry inflates to more than its declared size");
        if (result == Z_STREAM_END)
            break;
        if (result == Z_OK)
            continue;
        if (result == Z_BUF_ERROR && zs.avail_in == 0 && inFed == data.size())
            fail(Kind::Damaged, "an entry's compressed data ends early");
        if (result == Z_BUF_ERROR && zs.avail_out == 0)
            continue;
        fail(Kind::Damaged, "an entry's compressed data is not valid");
    }
    const std::size_t produced = probing ? outGiven : outGiven - zs.avail_out;
    if (produced != out.size())
        fail(Kind::Damaged, "an entry inflates to less than its declared size");
    return out;
}

std::string deflateAll(std::string_view content, int level) {
    z_stream zs{};
    if (deflateInit2(&zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::bad_alloc();
    struct End {
        z_stream& zs;
        ~End() { deflateEnd(&zs); }
    } end{zs};
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    std::string out;
    std::size_t fed = 0;
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (zs.avail_in == 0 && fed < content.size()) {
            const std::size_t n = std::min(content.size() - fed, kChunk);
            zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data() + fed));
            zs.avail_in = static_cast<uInt>(n);
            fed += n;
        }
        const std::size_t before = out.size();
        out.resize(before + kChunk);
        zs.next_out = reinterpret_cast<Bytef*>(out.data() + before);
        zs.avail_out = static_cast<uInt>(kChunk);
        result = deflate(&zs, fed == content.size() ? Z_FINISH : Z_NO_FLUSH);
        out.resize(before + kChunk - zs.avail_out);
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
            throw std::runtime_error("deflate failed");
    }
    return out;
}

std::uint32_t crcOf(std::string_view data) {
    uLong crc = crc32(0L, Z_NULL, 0);
    constexpr std::size_t kChunk = std::size_t{1} << 30;
    for (std::size_t at = 0; at < data.size(); at += kChunk) {
        const std::size_t n = std::min(data.size() - at, kChunk);
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data() + at), static_cast<uInt>(n));
    }
    return static_cast<std::uint32_t>(crc);
}

// The deflate level that flag bits 1 and 2 ask for.
int levelOf(std::uint16_t flags) {
    switch ((flags >> 1) & 3) {
    case 1:
        return 9;
    case 2:
    case 3:
        return 1;
    default:
        return Z_DEFAULT_COMPRESSION;
    }
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

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string partNameKey(std::string_view name) {
    if (!name.empty() && name.front() == '/')
        name.remove_prefix(1);
    std::string key;
    key.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c == '%' && i + 2 < name.size() && hexValue(name[i + 1]) >= 0 &&
            hexValue(name[i + 2]) >= 0) {
            c = static_cast<char>(hexValue(name[i + 1]) * 16 + hexValue(name[i + 2]));
            i += 2;
        }
        key.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    return key;
}

std::string describePackageProblem(const ZipError& error, const std::string& fileName) {
    const std::string file = "“" + fileName + "”";
    switch (error.kind) {
    case Kind::NotAPackage:
        return file + " 不是有效的 Office 文档（找不到 zip 目录），未作改动。";
    case Kind::Damaged:
        return file + " 已损坏或不完整（zip 结构或压缩数据有误），未作改动。";
    case Kind::Encrypted:
        return file + " 已加密（设有打开密码），无法读取，未作改动。";
    case Kind::Unsupported:
        return file + " 使用了不支持的 zip 格式（分卷或特殊压缩方式），未作改动。";
    case Kind::TooLarge:
        return file + " 中的内容太大，超出可处理的上限，未作改动。";
    }
    return file + " 无法读取，未作改动。";
}

ZipPackage::ZipPackage(std::string_view bytes, ZipLimits limits) : bytes_(bytes), limits_(limits) {
    if (isCompoundFile(bytes)) {
        bool encrypted = false;
        try {
            encrypted = CompoundFile(bytes).hasStream(u"EncryptedPackage");
        } catch (const FormatError&) {
        }
        if (encrypted)
            fail(Kind::Encrypted, "an encrypted package");
        fail(Kind::NotAPackage, "a compound file, not a zip package");
    }
    readEnd();
    readCentralDirectory();
}

void ZipPackage::readEnd() {
    const std::size_t n = bytes_.size();
    const bool startsLikeZip = n >= 4 && u32(bytes_, 0) == kLocalSignature;
    std::optional<std::size_t> end;
    bool anySignature = false;
    if (n >= kEndSize) {
        const std::size_t lowest = n - kEndSize > 0xFFFF ? n - kEndSize - 0xFFFF : 0;
        for (std::size_t at = n - kEndSize + 1; at-- > lowest;) {
            if (u32(bytes_, at) != kEndSignature)
                continue;
            anySignature = true;
            if (u16(bytes_, at + 20) == n - at - kEndSize) {
                end = at;
                break;
            }
        }
    }
    if (!end)
        fail(anySignature || startsLikeZip ? Kind::Damaged : Kind::NotAPackage,
             "no end of central directory record");
    endOffset_ = *end;
    comment_ = bytes_.substr(endOffset_ + kEndSize);

    const std::uint16_t disk = u16(bytes_, endOffset_ + 4);
    const std::uint16_t centralDisk = u16(bytes_, endOffset_ + 6);
    const std::uint16_t entriesHere = u16(bytes_, endOffset_ + 8);
    std::uint64_t entries = u16(bytes_, endOffset_ + 10);
    std::uint64_t centralSize = u32(bytes_, endOffset_ + 12);
    std::uint64_t centralOffset = u32(bytes_, endOffset_ + 16);

    if (endOffset_ >= kZip64LocatorSize &&
        u32(bytes_, endOffset_ - kZip64LocatorSize) == kZip64LocatorSignature) {
        const std::size_t locator = endOffset_ - kZip64LocatorSize;
        const std::uint32_t locatorDisk = u32(bytes_, locator + 4);
        const std::uint64_t recordOffset = u64(bytes_, locator + 8);
        const std::uint32_t disks = u32(bytes_, locator + 16);
        if (locatorDisk != 0 || disks > 1)
            fail(Kind::Unsupported, "a split archive");
        if (recordOffset > locator || locator - recordOffset < kZip64EndMinimum ||
            u32(bytes_, recordOffset) != kZip64EndSignature ||
            u64(bytes_, recordOffset + 4) != locator - recordOffset - 12)
            fail(Kind::Damaged, "the ZIP64 end record is not where its locator says");
        const auto at = static_cast<std::size_t>(recordOffset);
        if (u32(bytes_, at + 16) != 0 || u32(bytes_, at + 20) != 0 ||
            u64(bytes_, at + 24) != u64(bytes_, at + 32))
            fail(Kind::Unsupported, "a split archive");
        const std::uint64_t entries64 = u64(bytes_, at + 32);
        const std::uint64_t size64 = u64(bytes_, at + 40);
        const std::uint64_t offset64 = u64(bytes_, at + 48);
        if ((entries != kMax16 && entries != entries64) ||
            (centralSize != kMax32 && centralSize != size64) ||
            (centralOffset != kMax32 && centralOffset != offset64))
            fail(Kind::Damaged, "the ZIP64 end record disagrees with the end record");
        entries = entries64;
        centralSize = size64;
        centralOffset = offset64;
        zip64End_ = Zip64End{at, locator - at, locator};
    } else if (disk != 0 || centralDisk != 0 || entriesHere != entries) {
        fail(Kind::Unsupported, "a split archive");
    }

    const std::uint64_t centralEnd = zip64End_ ? zip64End_->recordOffset : endOffset_;
    if (centralOffset > centralEnd || centralEnd - centralOffset != centralSize)
        fail(Kind::Damaged, "the central directory is not where the end record says");
    if (entries > limits_.maxEntries)
        fail(Kind::TooLarge, "too many entries");
    if (entries > centralSize / kCentralHeaderSize)
        fail(Kind::Damaged, "more entries than the central directory holds");
    centralOffset_ = centralOffset;
    centralSize_ = centralSize;
    entryCount_ = entries;
}

void ZipPackage::readCentralDirectory() {
    const std::string_view dir = bytes_.substr(static_cast<std::size_t>(centralOffset_),
                                               static_cast<std::size_t>(centralSize_));
    std::size_t at = 0;
    entries_.reserve(static_cast<std::size_t>(entryCount_));
    for (std::uint64_t i = 0; i < entryCount_; ++i) {
        if (u32(dir, at) != kCentralSignature)
            fail(Kind::Damaged, "a central directory record without its signature");
        ZipEntry e;
        CentralRecord c;
        e.index = entries_.size();
        e.flags = u16(dir, at + 8);
        e.method = u16(dir, at + 10);
        e.crc32 = u32(dir, at + 16);
        e.compressedSize = u32(dir, at + 20);
        e.uncompressedSize = u32(dir, at + 24);
        const std::size_t nameSize = u16(dir, at + 28);
        const std::size_t extraSize = u16(dir, at + 30);
        const std::size_t commentSize = u16(dir, at + 32);
        std::uint32_t diskStart = u16(dir, at + 34);
        e.localOffset = u32(dir, at + 42);
        c.offset = static_cast<std::size_t>(centralOffset_) + at;
        c.size = kCentralHeaderSize + nameSize + extraSize + commentSize;
        if (dir.size() - at < c.size)
            fail(Kind::Damaged, "a central directory record reaches past the directory");
        e.name = std::string(dir.substr(at + kCentralHeaderSize, nameSize));
        c.extraOffset = kCentralHeaderSize + nameSize;
        c.extraSize = extraSize;

        c.zip64Uncompressed = e.uncompressedSize == kMax32;
        c.zip64Compressed = e.compressedSize == kMax32;
        c.zip64Offset = e.localOffset == kMax32;
        c.zip64Disk = diskStart == kMax16;
        if (c.zip64Uncompressed || c.zip64Compressed || c.zip64Offset || c.zip64Disk) {
            const std::string_view extra = dir.substr(at + c.extraOffset, extraSize);
            const auto block = extraBlock(extra, kZip64ExtraId);
            if (!block)
                fail(Kind::Damaged, "a ZIP64 value without its extra field");
            const std::string_view values = extra.substr(block->first, block->second);
            std::size_t v = 0;
            if (c.zip64Uncompressed)
                e.uncompressedSize = u64(values, (v += 8) - 8);
            if (c.zip64Compressed)
                e.compressedSize = u64(values, (v += 8) - 8);
            if (c.zip64Offset)
                e.localOffset = u64(values, (v += 8) - 8);
            if (c.zip64Disk)
                diskStart = u32(values, v);
        }
        if (diskStart != 0)
            fail(Kind::Unsupported, "a split archive");
        if ((e.flags & (kFlagEncrypted | kFlagStrongEncryption | kFlagMaskedDirectory)) ||
            e.method == 99)
            fail(Kind::Encrypted, "an encrypted entry: " + e.name);
        if (e.method != 0 && e.method != 8)
            fail(Kind::Unsupported,
                 "compression method " + std::to_string(e.method) + " of entry " + e.name);
        if (e.method == 0 && e.compressedSize != e.uncompressedSize)
            fail(Kind::Damaged, "a stored entry whose sizes differ: " + e.name);
        if (!byPartName_.emplace(partNameKey(e.name), e.index).second)
            fail(Kind::Damaged, "two entries of the same name: " + e.name);
        entries_.push_back(std::move(e));
        central_.push_back(c);
        at += c.size;
    }
    if (at != dir.size())
        fail(Kind::Damaged, "the central directory holds more than its entries");

    for (ZipEntry& e : entries_)
        readLocalRecord(e);
    fileOrder_.resize(entries_.size());
    for (std::size_t i = 0; i < fileOrder_.size(); ++i)
        fileOrder_[i] = i;
    std::sort(fileOrder_.begin(), fileOrder_.end(), [&](std::size_t a, std::size_t b) {
        return entries_[a].localOffset < entries_[b].localOffset;
    });
    for (std::size_t k = 0; k < fileOrder_.size(); ++k) {
        const std::uint64_t next =
            k + 1 < fileOrder_.size() ? entries_[fileOrder_[k + 1]].localOffset : centralOffset_;
        if (entries_[fileOrder_[k]].recordEnd > next)
            fail(Kind::Damaged, "entries overlap: " + entries_[fileOrder_[k]].name);
    }
}

void ZipPackage::readLocalRecord(ZipEntry& e) {
    const std::uint64_t at = e.localOffset;
    if (at >= centralOffset_ || centralOffset_ - at < kLocalHeaderSize ||
        u32(bytes_, at) != kLocalSignature)
        fail(Kind::Damaged, "no local header where the directory says: " + e.name);
    const std::uint16_t flags = u16(bytes_, at + 6);
    const std::uint16_t method = u16(bytes_, at + 8);
    const std::uint32_t crc = u32(bytes_, at + 14);
    std::uint64_t compressed = u32(bytes_, at + 18);
    std::uint64_t uncompressed = u32(bytes_, at + 22);
    const std::size_t nameSize = u16(bytes_, at + 26);
    const std::size_t extraSize = u16(bytes_, at + 28);
    const std::uint64_t nameAt = at + kLocalHeaderSize;
    if (centralOffset_ - nameAt < nameSize + extraSize)
        fail(Kind::Damaged, "a local header reaches into the directory: " + e.name);
    const auto name = bytes_.substr(static_cast<std::size_t>(nameAt), nameSize);
    if (name != e.name || method != e.method ||
        (flags & (kFlagDescriptor | kFlagEncrypted)) !=
            (e.flags & (kFlagDescriptor | kFlagEncrypted)))
        fail(Kind::Damaged, "the local header disagrees with the directory: " + e.name);
    const std::string_view extra =
        bytes_.substr(static_cast<std::size_t>(nameAt + nameSize), extraSize);
    const auto zip64 = extraBlock(extra, kZip64ExtraId);
    if (uncompressed == kMax32 || compressed == kMax32) {
        if (!zip64 || zip64->second < 16)
            fail(Kind::Damaged, "a ZIP64 size without its extra field: " + e.name);
        uncompressed = u64(extra, zip64->first);
        compressed = u64(extra, zip64->first + 8);
    }
    const bool descriptor = (flags & kFlagDescriptor) != 0;
    const auto agrees = [descriptor](std::uint64_t local, std::uint64_t central) {
        return local == central || (descriptor && local == 0);
    };
    if (!agrees(crc, e.crc32) || !agrees(compressed, e.compressedSize) ||
        !agrees(uncompressed, e.uncompressedSize))
        fail(Kind::Damaged, "the local header's sizes or CRC disagree: " + e.name);

    e.dataOffset = nameAt + nameSize + extraSize;
    if (centralOffset_ - e.dataOffset < e.compressedSize)
        fail(Kind::Damaged, "an entry's data reaches into the directory: " + e.name);
    e.recordEnd = e.dataOffset + e.compressedSize;
    if (!descriptor)
        return;
    // The descriptor: an optional signature, the CRC and both sizes in 4 or
    // (for ZIP64 entries) 8 bytes. The directory's values tell the layout.
    const bool zip64First =
        zip64.has_value() || e.compressedSize >= kMax32 || e.uncompressedSize >= kMax32;
    for (const bool wide : {zip64First, !zip64First}) {
        for (const bool signature : {true, false}) {
            const std::size_t size = (signature ? 4 : 0) + 4 + (wide ? 16 : 8);
            std::uint64_t d = e.recordEnd;
            if (centralOffset_ - d < size)
                continue;
            if (signature && u32(bytes_, d) != kDescriptorSignature)
                continue;
            d += signature ? 4 : 0;
            const unsigned w = wide ? 8 : 4;
            if (u32(bytes_, d) == e.crc32 && get(bytes_, d + 4, w) == e.compressedSize &&
                get(bytes_, d + 4 + w, w) == e.uncompressedSize) {
                e.descriptorSize = size;
                e.descriptorSignature = signature;
                e.descriptorZip64 = wide;
                e.recordEnd += size;
                return;
            }
        }
    }
    fail(Kind::Damaged, "no data descriptor that agrees with the directory: " + e.name);
}

const ZipEntry* ZipPackage::find(std::string_view partName) const {
    const auto it = byPartName_.find(partNameKey(partName));
    return it == byPartName_.end() ? nullptr : &entries_[it->second];
}

std::string ZipPackage::read(const ZipEntry& requested) const {
    if (requested.index >= entries_.size())
        throw std::invalid_argument("not an entry of this package");
    const ZipEntry& e = entries_[requested.index];
    if (e.uncompressedSize > limits_.maxEntrySize)
        fail(Kind::TooLarge, "entry " + e.name + " is larger than the cap");
    if (e.uncompressedSize > limits_.maxTotalSize - std::min(inflated_, limits_.maxTotalSize))
        fail(Kind::TooLarge, "the package inflates to more than the cap");
    // Deflate reaches at most 1032 bytes per compressed byte: a larger
    // declared size is a lie, found before anything is allocated.
    if (e.method == 8 && e.uncompressedSize / 1032 > e.compressedSize + 1)
        fail(Kind::Damaged, "entry " + e.name + " declares more than its data can hold");
    inflated_ += e.uncompressedSize;
    const std::string_view data = bytes_.substr(static_cast<std::size_t>(e.dataOffset),
                                                static_cast<std::size_t>(e.compressedSize));
    std::string content =
        e.method == 0 ? std::string(data) : inflateExactly(data, e.uncompressedSize);
    if (crcOf(content) != e.crc32)
        fail(Kind::Damaged, "CRC-32 mismatch in entry " + e.name);
    return content;
}

std::optional<std::string> ZipPackage::read(std::string_view partName) const {
    const ZipEntry* e = find(partName);
    if (!e)
        return std::nullopt;
    return read(*e);
}

std::string_view ZipPackage::rawRecord(const ZipEntry& e) const {
    return bytes_.substr(static_cast<std::size_t>(e.localOffset),
                         static_cast<std::size_t>(e.recordEnd - e.localOffset));
}

std::string ZipPackage::centralRecord(std::size_t index, std::uint32_t crc,
                                      std::uint64_t compressed, std::uint64_t uncompressed,
                                      std::uint64_t offset) const {
    const CentralRecord& c = central_[index];
    const std::string_view original = bytes_.substr(c.offset, c.size);
    std::string record(original);
    put(record, 16, crc, 4);
    const bool zUncompressed = c.zip64Uncompressed || uncompressed >= kMax32;
    const bool zCompressed = c.zip64Compressed || compressed >= kMax32;
    const bool zOffset = c.zip64Offset || offset >= kMax32;
    put(record, 20, zCompressed ? kMax32 : compressed, 4);
    put(record, 24, zUncompressed ? kMax32 : uncompressed, 4);
    put(record, 42, zOffset ? kMax32 : offset, 4);
    if (!(zUncompressed || zCompressed || zOffset || c.zip64Disk))
        return record;

    std::string values;
    if (zUncompressed)
        append(values, uncompressed, 8);
    if (zCompressed)
        append(values, compressed, 8);
    if (zOffset)
        append(values, offset, 8);
    if (c.zip64Disk)
        append(values, 0, 4);
    std::string extra(original.substr(c.extraOffset, c.extraSize));
    const auto block = extraBlock(extra, kZip64ExtraId);
    const bool sameFields = zUncompressed == c.zip64Uncompressed &&
                            zCompressed == c.zip64Compressed && zOffset == c.zip64Offset;
    if (block && sameFields) {
        // The values in place; anything the block holds after them stays.
        extra.replace(block->first, values.size(), values);
    } else {
        std::string newBlock;
        append(newBlock, kZip64ExtraId, 2);
        append(newBlock, values.size(), 2);
        newBlock += values;
        if (block)
            extra.replace(block->first - 4, block->second + 4, newBlock);
        else
            extra += newBlock;
        if (extra.size() > kMax16)
            fail(Kind::TooLarge, "extra fields too long");
    }
    put(record, 30, extra.size(), 2);
    return record.substr(0, c.extraOffset) + extra + record.substr(c.extraOffset + c.extraSize);
}

std::string ZipPackage::rewrite(const std::map<std::size_t, std::string>& changes) const {
    for (const auto& [index, content] : changes)
        if (index >= entries_.size())
            throw std::invalid_argument("not an entry of this package");

    std::vector<std::uint64_t> newOffset(entries_.size());
    std::vector<std::uint32_t> newCrc(entries_.size());
    std::vector<std::uint64_t> newCompressed(entries_.size()), newUncompressed(entries_.size());
    std::string out;
    out.reserve(bytes_.size() + 1024);
    const std::uint64_t firstRecord =
        fileOrder_.empty() ? centralOffset_ : entries_[fileOrder_.front()].localOffset;
    out.append(bytes_.substr(0, static_cast<std::size_t>(firstRecord)));

    for (std::size_t k = 0; k < fileOrder_.size(); ++k) {
        const ZipEntry& e = entries_[fileOrder_[k]];
        const std::uint64_t next =
            k + 1 < fileOrder_.size() ? entries_[fileOrder_[k + 1]].localOffset : centralOffset_;
        newOffset[e.index] = out.size();
        newCrc[e.index] = e.crc32;
        newCompressed[e.index] = e.compressedSize;
        newUncompressed[e.index] = e.uncompressedSize;
        const auto change = changes.find(e.index);
        if (change == changes.end()) {
            // The record and whatever stands between it and the next.
            out.append(bytes_.substr(static_cast<std::size_t>(e.localOffset),
                                     static_cast<std::size_t>(next - e.localOffset)));
            continue;
        }
        const std::string& content = change->second;
        std::string data = e.method == 8 ? deflateAll(content, levelOf(e.flags)) : content;
        if (content.size() >= kMax32 || data.size() >= kMax32)
            fail(Kind::TooLarge, "new content of " + e.name + " needs ZIP64 sizes");
        const std::uint32_t crc = crcOf(content);
        newCrc[e.index] = crc;
        newCompressed[e.index] = data.size();
        newUncompressed[e.index] = content.size();

        std::string header(bytes_.substr(static_cast<std::size_t>(e.localOffset),
                                         static_cast<std::size_t>(e.dataOffset - e.localOffset)));
        const bool descriptor = e.descriptorSize != 0;
        // With a descriptor the local header may leave CRC and sizes zero: it
        // keeps doing so.
        const auto update = [&](std::size_t at, unsigned width, std::uint64_t value) {
            if (!(descriptor && get(header, at, width) == 0))
                put(header, at, value, width);
        };
        update(14, 4, crc);
        const std::size_t extraAt = kLocalHeaderSize + u16(header, 26);
        const std::string_view extra(header.data() + extraAt, u16(header, 28));
        const auto zip64 = extraBlock(extra, kZip64ExtraId);
        if (u32(header, 22) == kMax32 || u32(header, 18) == kMax32) {
            update(extraAt + zip64->first, 8, content.size());
            update(extraAt + zip64->first + 8, 8, data.size());
        } else {
            update(18, 4, data.size());
            update(22, 4, content.size());
        }
        out += header;
        out += data;
        if (descriptor) {
            const unsigned w = e.descriptorZip64 ? 8 : 4;
            if (e.descriptorSignature)
                append(out, kDescriptorSignature, 4);
            append(out, crc, 4);
            append(out, data.size(), w);
            append(out, content.size(), w);
        }
        out.append(bytes_.substr(static_cast<std::size_t>(e.recordEnd),
                                 static_cast<std::size_t>(next - e.recordEnd)));
    }

    const std::uint64_t centralOffset = out.size();
    for (std::size_t i = 0; i < entries_.size(); ++i)
        out += centralRecord(i, newCrc[i], newCompressed[i], newUncompressed[i], newOffset[i]);
    const std::uint64_t centralSize = out.size() - centralOffset;

    const std::string_view oldEnd = bytes_.substr(endOffset_);
    const bool zip64 = zip64End_.has_value() || entryCount_ >= kMax16 || centralSize >= kMax32 ||
                       centralOffset >= kMax32;
    if (zip64) {
        const std::uint64_t recordOffset = out.size();
        std::string record, locator;
        if (zip64End_) {
            record = bytes_.substr(zip64End_->recordOffset, zip64End_->recordSize);
            locator = bytes_.substr(zip64End_->locatorOffset, kZip64LocatorSize);
        } else {
            record.assign(kZip64EndMinimum, '\0');
            put(record, 0, kZip64EndSignature, 4);
            put(record, 4, kZip64EndMinimum - 12, 8);
            put(record, 12, 45, 2);
            put(record, 14, 45, 2);
            locator.assign(kZip64LocatorSize, '\0');
            put(locator, 0, kZip64LocatorSignature, 4);
            put(locator, 16, 1, 4);
        }
        put(record, 24, entryCount_, 8);
        put(record, 32, entryCount_, 8);
        put(record, 40, centralSize, 8);
        put(record, 48, centralOffset, 8);
        put(locator, 8, recordOffset, 8);
        out += record;
        out += locator;
    }
    std::string end(oldEnd);
    put(end, 8, field(u16(oldEnd, 8), entryCount_, kMax16), 2);
    put(end, 10, field(u16(oldEnd, 10), entryCount_, kMax16), 2);
    put(end, 12, field(u32(oldEnd, 12), centralSize, kMax32), 4);
    put(end, 16, field(u32(oldEnd, 16), centralOffset, kMax32), 4);
    out += end;
    return out;
}

} // namespace formats
