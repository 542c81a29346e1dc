#pragma once

// Saving a file without ever leaving it half-written: the new content goes to
// a temporary file in the same folder, which is made durable and then moved
// over the original in one step. Until then the original keeps its content.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class AtomicSave {
public:
    // A symbolic link is followed: the file it names is replaced and the
    // link keeps pointing at it.
    explicit AtomicSave(const std::filesystem::path& document);
    ~AtomicSave();
    AtomicSave(const AtomicSave&) = delete;
    AtomicSave& operator=(const AtomicSave&) = delete;

    // Where the new content is to be written.
    const std::filesystem::path& temporaryPath() const { return temporary_; }
    // The file that is replaced.
    const std::filesystem::path& target() const { return target_; }
    // Makes the written temporary file durable, gives it the original's
    // permissions (and owner where allowed) and moves it over the original.
    // Throws std::system_error and leaves the original untouched when any
    // step fails.
    void commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    bool committed_ = false;
};

// Replaces the content of `document` by `bytes` through an AtomicSave; with
// `modificationTime` the new file gets that time. On failure returns false
// with a Chinese sentence in `error` naming the file, and the original is
// left as it was.
[[nodiscard]] bool
replaceFileContent(const std::filesystem::path& document, std::string_view bytes,
                   std::string& error,
                   std::optional<std::filesystem::file_time_type> modificationTime = std::nullopt);

} // namespace platform
