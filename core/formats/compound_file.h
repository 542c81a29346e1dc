#pragma once

// Reading the compound file container of the Office 97-2003 formats
// (versions 3 and 4): the header, the sector allocation table with its
// extension (DIFAT), the mini allocation table with the mini stream, and the
// directory. Only reading; every inconsistency is a FormatError, and no
// structure is trusted further than the file's bytes reach.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace formats {

// The file does not have the structure it claims.
struct FormatError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Little-endian reads with bounds checks.
std::uint8_t readU8(std::string_view bytes, std::size_t offset);
std::uint16_t readU16(std::string_view bytes, std::size_t offset);
std::uint32_t readU32(std::string_view bytes, std::size_t offset);

class CompoundFile {
public:
    // The container in `bytes`, which must outlive this object.
    // Throws FormatError.
    explicit CompoundFile(std::string_view bytes);

    // Whether the root storage has a stream of this name (compared without
    // regard to the case of ASCII letters).
    bool hasStream(std::u16string_view name) const;
    // The content of the root storage's stream of this name, or nothing when
    // there is none. Throws FormatError when its sectors are broken.
    std::optional<std::string> stream(std::u16string_view name) const;

private:
    struct Entry {
        std::u16string name;
        std::uint8_t type = 0; // 1 storage, 2 stream, 5 root
        std::uint32_t left = 0, right = 0, child = 0;
        std::uint32_t start = 0;
        std::uint64_t size = 0;
    };

    std::string readChain(std::uint32_t start, std::uint64_t size) const;
    std::string readMiniChain(std::uint32_t start, std::uint64_t size) const;
    std::vector<std::uint32_t> chainOf(std::uint32_t start, const std::vector<std::uint32_t>& table,
                                       std::size_t limit) const;
    const Entry* findInRoot(std::u16string_view name) const;

    std::string_view bytes_;
    unsigned sectorSize_ = 512;
    unsigned miniSectorSize_ = 64;
    std::uint32_t miniCutoff_ = 4096;
    std::size_t sectorCount_ = 0;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> miniFat_;
    std::vector<Entry> entries_;
    std::string miniStream_;
};

} // namespace formats
