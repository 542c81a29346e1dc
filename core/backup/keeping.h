#pragma once

// How long the backup store keeps runs and how large it may grow, from the
// settings file `toconfigure/备份设置.ini` of the application folder, and the
// clean-up a program does when it starts.

#include "core/backup/backup_store.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace backup {

struct KeepingSettings {
    int days = 30;                           // runs older than this are removed
    std::uintmax_t maxBytes = 2048ull << 20; // the store is kept under this size
};

// The settings file (UTF-8): "key=value" lines, ";" comments.
std::filesystem::path settingsFile(const std::filesystem::path& appFolder);

// Reads the settings; writes the file with the defaults and its comments
// when it is missing. A missing line or a value that is not a whole number in
// range gives that setting's default.
KeepingSettings readKeepingSettings(const std::filesystem::path& appFolder);
KeepingSettings parseKeepingSettings(const std::string& text);

// Removes runs older than `settings.days`, then the oldest runs while the
// store is larger than `settings.maxBytes`; the newest run is always kept.
// Returns a line for each run that could not be removed.
std::vector<std::string> keepWithinLimits(const std::filesystem::path& appFolder,
                                          const KeepingSettings& settings, Clock clock = {});

// What a program calls when it starts: the settings read (the file written
// when missing), then the clean-up.
std::vector<std::string> keepStoreWithinLimits(const std::filesystem::path& appFolder);

} // namespace backup
