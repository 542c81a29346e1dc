#pragma once

// The backup store: before a run changes a document, its original is copied
// into the application folder's `备份/<yyyy-mm-dd>/<hhmmss>-<n>/` (one folder
// per run, made at the run's first change) and recorded in the run's
// manifest; undo (undo.h) puts back what still holds the run's result.

#include "core/backup/manifest.h"
#include "core/engines/change_keeper.h"
#include "core/engines/run.h"

#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace backup {

// The store's folder in the application folder. UTF-8: make the path with
// text::pathFromUtf8.
inline constexpr const char* storeFolder = "备份";

std::filesystem::path storePath(const std::filesystem::path& appFolder);

// The operation as the run list names it: "Word 替换", "Excel 替换", "页眉页脚".
std::string operationLabel(engines::Operation operation);

using Clock = std::function<std::time_t()>;

class BackupStore : public engines::ChangeKeeper {
public:
    // A store for one run of `operation` in `folder` (UTF-8); `clock` gives
    // the current time (the default reads the system clock); the run's
    // folder is named by the time the store is made.
    BackupStore(std::filesystem::path appFolder, std::string operation, std::string folder,
                Clock clock = {});

    // Copies the original, durable with its manifest line, before it
    // returns true. Safe to call from several threads.
    [[nodiscard]] bool beforeChange(const std::filesystem::path& document,
                                    std::string& error) override;
    void afterChange(const std::filesystem::path& document) override;
    std::filesystem::path backupOf(const std::filesystem::path& document) const override;

    // The run's folder; empty while nothing was kept.
    std::filesystem::path runFolder() const;
    std::size_t documentsKept() const;
    // The journal's entry at the end of the run: where its backups are;
    // nothing when the run kept none.
    std::optional<std::string> journalLine() const;

private:
    bool openRunFolder(std::string& error);

    std::filesystem::path appFolder_;
    RunHeader header_;
    mutable std::mutex mutex_;
    std::filesystem::path runFolder_;
    struct Kept {
        std::size_t number;
        std::filesystem::path copy;
    };
    std::map<std::filesystem::path, Kept> kept_;
    std::set<std::filesystem::path> copyNames_;
};

// A run in the store.
struct KeptRun {
    std::string id; // "<yyyy-mm-dd>/<hhmmss>-<n>"
    std::filesystem::path folder;
    Manifest manifest;
};

// The runs in the store that have a manifest, oldest first.
std::vector<KeptRun> keptRuns(const std::filesystem::path& appFolder);

// The documents a run changed: those whose result differs from the original
// or is unknown.
std::size_t documentsChanged(const Manifest& manifest);

} // namespace backup
