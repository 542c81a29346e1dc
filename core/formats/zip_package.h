#pragma once

// The zip container of the Office 2007 formats (.docx, .xlsx and their macro
// variants): reading the central directory (ZIP64 included), the entries'
// local records and data descriptors, stored and deflated entries; and writing
// a new package from the original bytes in which only the entries given new
// content change.
//
// Nothing is trusted further than the bytes reach: records must lie inside
// the file, one after another without overlapping, each local header must
// agree with its central record, inflated sizes are capped before inflating
// and bounded while inflating, and every CRC-32 is checked.

#include "core/formats/compound_file.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace formats {

// Why a package cannot be read or written.
struct ZipError : FormatError {
    enum class Kind {
        NotAPackage, // no zip end record: not a zip file at all
        Damaged,     // truncated, inconsistent offsets or sizes, bad CRC, bad compressed data
        Encrypted,   // an encrypted entry, or an encrypted document (a compound file)
        Unsupported, // split archives, compression methods other than stored and deflated
        TooLarge,    // over the caps of ZipLimits
    };
    ZipError(Kind kind, const std::string& detail) : FormatError(detail), kind(kind) {}
    Kind kind;
};

// A Chinese sentence for a user that names `fileName` and says what is wrong
// with it and that the file was left as it was.
std::string describePackageProblem(const ZipError& error, const std::string& fileName);

struct ZipLimits {
    // The inflated size of one entry.
    std::uint64_t maxEntrySize = 256u * 1024 * 1024;
    // All bytes inflated from one package.
    std::uint64_t maxTotalSize = 512u * 1024 * 1024;
    // Entries in the central directory.
    std::size_t maxEntries = 100000;
};

struct ZipEntry {
    // The position in the central directory.
    std::size_t index = 0;
    // The name as stored (UTF-8 when flag bit 11 is set, which the office
    // sets; OPC names are ASCII with percent escapes anyway).
    std::string name;
    std::uint16_t flags = 0;
    std::uint16_t method = 0; // 0 stored, 8 deflated
    std::uint32_t crc32 = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    // The local record: its header at `localOffset`, the compressed data at
    // `dataOffset`, the record (with any data descriptor) ending at
    // `recordEnd`.
    std::uint64_t localOffset = 0;
    std::uint64_t dataOffset = 0;
    std::uint64_t recordEnd = 0;
    // Layout of the data descriptor (flag bit 3): its signature, 8-byte
    // sizes; descriptorSize 0 without one.
    std::size_t descriptorSize = 0;
    bool descriptorSignature = false;
    bool descriptorZip64 = false;

    bool isDirectory() const { return !name.empty() && name.back() == '/'; }
};

class ZipPackage {
public:
    // The package in `bytes`, which must outlive this object. Throws
    // ZipError. A compound file holding an `EncryptedPackage` stream (what
    // the office writes for a .docx or .xlsx with a password to open) is
    // Kind::Encrypted; any other compound file is Kind::NotAPackage.
    explicit ZipPackage(std::string_view bytes, ZipLimits limits = {});

    // The entries in the order of the central directory.
    const std::vector<ZipEntry>& entries() const { return entries_; }
    // The entry of an OPC part name: compared without regard to the case of
    // ASCII letters and to percent escapes, with or without a leading slash.
    const ZipEntry* find(std::string_view partName) const;

    // The entry's content, inflated and checked against its CRC and size.
    // Throws ZipError (over the caps: Kind::TooLarge). Not for use by two
    // threads at once: the package counts what it inflated.
    std::string read(const ZipEntry& entry) const;
    // The content of the part, or nothing when the package has no such part.
    std::optional<std::string> read(std::string_view partName) const;

    // The entry's local record as it stands in the file: local header,
    // compressed data, data descriptor.
    std::string_view rawRecord(const ZipEntry& entry) const;
    std::string_view comment() const { return comment_; }
    // Whether the end of the package has ZIP64 records.
    bool hasZip64End() const { return zip64End_.has_value(); }

    // A new package in which the entries named by index get new content and
    // everything else is as it was: the other entries' local records byte for
    // byte in their original order, the central directory with each entry's
    // fields and the comment. A changed entry keeps its name, time,
    // attributes, extra fields, method (deflated again or stored) and
    // descriptor layout; its CRC and sizes are new. ZIP64 records are kept
    // where the package had them and added only where a value needs them.
    // Without changes the result equals the input. Throws ZipError.
    std::string rewrite(const std::map<std::size_t, std::string>& changes) const;

private:
    struct CentralRecord {
        std::size_t offset = 0; // of the record in the file
        std::size_t size = 0;
        std::size_t extraOffset = 0; // within the record
        std::size_t extraSize = 0;
        bool zip64Uncompressed = false, zip64Compressed = false, zip64Offset = false,
             zip64Disk = false;
    };
    struct Zip64End {
        std::size_t recordOffset = 0;
        std::size_t recordSize = 0;
        std::size_t locatorOffset = 0;
    };

    void readEnd();
    void readCentralDirectory();
    void readLocalRecord(ZipEntry& entry);
    std::string centralRecord(std::size_t index, std::uint32_t crc, std::uint64_t compressed,
                              std::uint64_t uncompressed, std::uint64_t offset) const;

    std::string_view bytes_;
    ZipLimits limits_;
    std::vector<ZipEntry> entries_;
    std::vector<CentralRecord> central_;
    std::unordered_map<std::string, std::size_t> byPartName_;
    // Entry indexes in the order of their local records.
    std::vector<std::size_t> fileOrder_;
    std::uint64_t centralOffset_ = 0;
    std::uint64_t centralSize_ = 0;
    std::uint64_t entryCount_ = 0;
    std::size_t endOffset_ = 0;
    std::optional<Zip64End> zip64End_;
    std::string_view comment_;
    mutable std::uint64_t inflated_ = 0;
};

// The OPC comparison key of a part or zip entry name: without a leading
// slash, percent escapes decoded, ASCII letters in lower case.
std::string partNameKey(std::string_view name);

} // namespace formats
