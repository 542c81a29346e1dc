#pragma once

// The way back from a run: before a run changes a document it hands the
// document to a keeper, which copies the original where it can be restored
// from. Every engine calls it, whatever changes the file (the office suite or
// our own engine), and only for documents that are really about to change.

#include <filesystem>
#include <string>

namespace engines {

class ChangeKeeper {
public:
    virtual ~ChangeKeeper() = default;

    // Called before `document` is changed: keeps a durable copy of its
    // current bytes. Returns false with a Chinese sentence in `error` when
    // the copy could not be made; the document must then be left unchanged.
    // Called from several threads at once when documents run side by side.
    [[nodiscard]] virtual bool beforeChange(const std::filesystem::path& document,
                                            std::string& error) = 0;

    // Called once the change has been stored, or the attempt has ended in a
    // failure: records what the run left in `document`.
    virtual void afterChange(const std::filesystem::path& document) = 0;

    // Where the copy of `document` was kept; empty when none was made.
    virtual std::filesystem::path backupOf(const std::filesystem::path& document) const = 0;
};

} // namespace engines
