#pragma once

// What the update window needs around the download itself: the number
// readings of the size headers, the progress texts, the file name from the
// network checked before it is used, and files that are replaced only once
// they are whole.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace updater {

// The leading decimal number of a header value, as a number reading of text
// takes it: blanks before it are skipped, a sign and a fraction are read,
// anything after it is ignored; 0 when it does not start with a number.
double leadingNumber(std::string_view text);

// "Content-Length" as the 32-bit size the window keeps: the leading number,
// rounded, limited to the 32-bit range; 0 when it is not a number or below 0.
std::int32_t contentLengthOf(std::string_view header);

// The size the chunk loop shows, held in single precision; 0 when it is not
// a number or below 0.
float downloadSizeOf(std::string_view header);

// A number rounded to a whole, halves to the even neighbour, limited to the
// 32-bit range.
std::int32_t roundToInt32(double value);

// "已经下载 <received\1024>kb / <size\1024>kb（<received/size as 0.00%>）". A
// size of 0 or less shows 0.00% instead of dividing by it.
std::string progressText(std::int64_t received, float size);
// "完成 <received\1024>kb / <size\1024>kb（100%）".
std::string finishedText(std::int64_t received, float size);

// The file name a "Content-Disposition" header announces: the header with
// every "attachment; filename= " deleted, then percent-decoded.
std::string DownloadFileName(const std::string& contentDisposition);

// True when `name` (UTF-8) can only ever name a file directly inside a
// folder: not empty, no path separator, no drive or stream colon, not made of
// dots and blanks only, no control characters, none of the characters
// Windows refuses in names, no trailing dot or blank, and no device name such
// as CON or NUL.
bool isPlainFileName(std::string_view name);

// True when a version text read as a number is zero: only zeros, dots and
// blanks, with at least one zero ("0", "0.0.0").
bool isZeroVersion(std::string_view version);

// A file that takes the place of `target` only once it is whole: the bytes go
// to a hidden partial file beside it, which `commit` renames over `target`.
// A writer destroyed without a commit removes its partial file, and the
// folder it made for it when nothing else is in there, so the old `target`
// (if any) and the folders around it are left as they were.
class WholeFileWriter {
public:
    explicit WholeFileWriter(std::filesystem::path target);
    ~WholeFileWriter();
    WholeFileWriter(const WholeFileWriter&) = delete;
    WholeFileWriter& operator=(const WholeFileWriter&) = delete;

    // Creates the partial file. False with a reason when it cannot.
    [[nodiscard]] bool open(std::string& error);
    // Appends bytes. False with a reason when they cannot be written.
    [[nodiscard]] bool append(std::string_view bytes, std::string& error);
    // Closes the partial file and puts it in the place of the target.
    [[nodiscard]] bool commit(std::string& error);

    const std::filesystem::path& target() const { return target_; }
    const std::filesystem::path& partial() const { return partial_; }

private:
    std::filesystem::path target_;
    std::filesystem::path partial_;
    std::ofstream out_;
    bool committed_ = false;
    // The folders `open` made, innermost first.
    std::vector<std::filesystem::path> madeFolders_;
};

// The download's chunk loop: the body is taken in chunks of `kChunkSize`
// bytes and written as it arrives, never held whole.
inline constexpr int kChunkSize = 1024;

// The next at most `size` bytes of the body; empty once it is exhausted.
using NextChunk = std::function<std::string(int size)>;

struct ChunkLoopResult {
    enum class Outcome {
        Complete,    // the body is written whole; the file may be committed
        WriteFailed, // a chunk could not be written; `error` names the file
        Short,       // fewer bytes than announced arrived; `error` says so
    };
    Outcome outcome = Outcome::Complete;
    std::int64_t received = 0;
    std::string error;
};

// The chunk loop one turn at a time, so that a window can show the progress
// and handle its own events between two turns. The caller ends it early by
// dropping it (and its file, which then leaves nothing behind).
class ChunkLoop {
public:
    // Takes the first chunk from `next`. `announced` is the size the server
    // gave (0 or less: unknown); a body that ends short of it is not whole,
    // so the file must not take the place of anything. `url` names the
    // transfer in the message.
    ChunkLoop(NextChunk next, WholeFileWriter& file, std::int64_t announced, std::string url);

    // One turn: appends the chunk in hand to the file and takes the next.
    // True when the loop goes on (the progress of `received` is to be shown);
    // false once it has ended, and `result` says how.
    [[nodiscard]] bool step();

    // The bytes taken so far.
    std::int64_t received() const { return result_.received; }
    const ChunkLoopResult& result() const { return result_; }

private:
    NextChunk next_;
    WholeFileWriter& file_;
    std::int64_t announced_;
    std::string url_;
    std::string chunk_;
    ChunkLoopResult result_;
    bool ended_ = false;
};

// Copies `from` over `to` so that `to` is replaced only by a whole copy,
// which keeps the permissions of the file it replaces. False with a reason
// naming both files when it fails.
[[nodiscard]] bool replaceWithCopy(const std::filesystem::path& from,
                                   const std::filesystem::path& to, std::string& error);

} // namespace updater
