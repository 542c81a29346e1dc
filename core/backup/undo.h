#pragma once

// Undo of a run: every document the run changed that still holds exactly
// what the run left is put back, byte for byte and with its modification
// time, from the run's backups. A document changed since, moved or deleted is
// left alone with a line that says so. The run is then marked undone, so a
// second undo changes nothing.
//
// A document whose result the run did not record (it was killed between the
// save and the record) cannot be told apart from one edited afterwards: it is
// left alone unless it still equals the original, and its line says where
// the original is.

#include "core/backup/backup_store.h"

#include <filesystem>
#include <string>
#include <vector>

namespace backup {

struct UndoResult {
    // One line per document (Chinese, naming the file), or one line saying
    // why nothing was done.
    std::vector<std::string> lines;
    // A document was left alone, or the run could not be found.
    bool anyLeftAlone = false;
};

// Undoes the run `id` ("<yyyy-mm-dd>/<hhmmss>-<n>") of the store in
// `appFolder`. `clock` gives the time the run is marked undone.
UndoResult undoRun(const std::filesystem::path& appFolder, const std::string& id, Clock clock = {});

// Undoes the last run of the store: what the window's "撤销上次替换" and
// `batchreplace-cli undo` do.
UndoResult undoLastRun(const std::filesystem::path& appFolder, Clock clock = {});

} // namespace backup
