#pragma once

// What the update window needs around the download itself: the number
// readings of the size headers, the progress texts, the file name from the
// network checked before it is used, and files that are replaced only once
// they are whole.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

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

// Writes `page` followed by CR LF to `file` in the ANSI code page, replacing
// it; creates the folder when missing. False with a reason when it fails.
bool writeTextLine(const std::filesystem::path& file, const std::string& page, std::string& error);

// A file that takes the place of `target` only once it is whole: the bytes go
// to a hidden partial file beside it, which `commit` renames over `target`.
// A writer destroyed without a commit removes its partial file, so the old
// `target` (if any) is left untouched.
class WholeFileWriter {
public:
    explicit WholeFileWriter(std::filesystem::path target);
    ~WholeFileWriter();
    WholeFileWriter(const WholeFileWriter&) = delete;
    WholeFileWriter& operator=(const WholeFileWriter&) = delete;

    // Creates the partial file. False with a reason when it cannot.
    bool open(std::string& error);
    // Appends bytes. False with a reason when they cannot be written.
    bool append(std::string_view bytes, std::string& error);
    // Closes the partial file and puts it in the place of the target.
    bool commit(std::string& error);

    const std::filesystem::path& target() const { return target_; }
    const std::filesystem::path& partial() const { return partial_; }

private:
    std::filesystem::path target_;
    std::filesystem::path partial_;
    std::ofstream out_;
    bool committed_ = false;
};

// Copies `from` over `to` so that `to` is replaced only by a whole copy,
// which keeps the permissions of the file it replaces. False with a reason
// naming both files when it fails.
bool replaceWithCopy(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::string& error);

} // namespace updater
