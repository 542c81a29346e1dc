#pragma once

// Zip packages written byte by byte, for what the office does not write:
// stored entries, data descriptors with and without their signature, ZIP64
// extra fields and end records, an archive comment, bytes before the first
// entry, flags of encryption. Deflated entries are compressed with zlib.

#include <cstdint>
#include <string>
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

} // namespace binary_documents
