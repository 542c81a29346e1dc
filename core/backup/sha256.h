#pragma once

// SHA-256 (FIPS 180-4): the fingerprint the backup store keeps of every
// original and of what a run left, so that undo can tell whether a file still
// holds exactly what the run wrote.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace backup {

class Sha256 {
public:
    Sha256();
    void update(std::string_view bytes);
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string hexDigest();

private:
    void block(const unsigned char* p);

    std::array<std::uint32_t, 8> state_;
    std::array<unsigned char, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0; // bytes
};

std::string sha256(std::string_view bytes);
// The digest of a file's content; nothing when it cannot be read.
std::optional<std::string> sha256OfFile(const std::filesystem::path& file);

} // namespace backup
