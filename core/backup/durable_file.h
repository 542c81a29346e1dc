#pragma once

// Files of the backup store that must survive a crash or a power cut before
// the run goes on: written, then flushed to the disk with their folder.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace backup {

// Copies `from` to `to`, which must not exist yet, and makes the copy
// durable. Gives the SHA-256 and size of what was copied. False with the
// reason (a few Chinese words: "磁盘空间不足") when it fails; a partial copy is
// removed.
bool copyDurably(const std::filesystem::path& from, const std::filesystem::path& to,
                 std::string& hash, std::uintmax_t& size, std::string& why);

// Appends `bytes` to `file` (created when missing) and makes them durable
// when `sync`. False with the reason when it fails.
bool appendToFile(const std::filesystem::path& file, std::string_view bytes, bool sync,
                  std::string& why);

// Makes a folder's entries (new files and subfolders) durable; nothing to do
// on Windows.
void syncFolder(const std::filesystem::path& folder);

// The reason of an error code in a few Chinese words.
std::string reasonOf(const std::error_code& ec);

} // namespace backup
