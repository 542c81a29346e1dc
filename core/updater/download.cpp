#include "core/updater/download.h"
#include "core/text/ascii.h"
#include "core/text/paths.h"

#include "core/text/encoding.h"
#include "core/updater/text_codecs.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace fs = std::filesystem;

namespace updater {

namespace {

std::string kilobytes(std::int64_t received, float size) {
    return std::to_string(received / 1024) + "kb / " + std::to_string(roundToInt32(size) / 1024) +
           "kb";
}

} // namespace

double leadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    double sign = 1;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        sign = text[i++] == '-' ? -1 : 1;
    double value = 0;
    bool digits = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        digits = true;
    }
    if (i < text.size() && text[i] == '.') {
        double scale = 0.1;
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            value += (text[i] - '0') * scale;
            scale /= 10;
            digits = true;
        }
    }
    return digits ? sign * value : 0;
}

std::int32_t roundToInt32(double value) {
    if (!std::isfinite(value))
        return 0;
    const double r = std::nearbyint(value);
    if (r >= std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (r <= std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(r);
}

std::int32_t contentLengthOf(std::string_view header) {
    return std::max(0, roundToInt32(leadingNumber(header)));
}

float downloadSizeOf(std::string_view header) {
    return static_cast<float>(std::max(0.0, leadingNumber(header)));
}

std::string progressText(std::int64_t received, float size) {
    const double fraction = size > 0 ? static_cast<double>(received) / size : 0.0;
    // Locale-independent: always a decimal point.
    std::array<char, 64> digits{};
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), fraction * 100,
                                   std::chars_format::fixed, 2)
                         .ptr;
    return "已经下载 " + kilobytes(received, size) + "（" + std::string(digits.data(), end) + "%）";
}

std::string finishedText(std::int64_t received, float size) {
    return "完成 " + kilobytes(received, size) + "（100%）";
}

std::string DownloadFileName(const std::string& contentDisposition) {
    return UrlDecode(
        std::string_view(text::removeAll(contentDisposition, "attachment; filename= ")));
}

bool isPlainFileName(std::string_view name) {
    if (name.empty() || name.size() > 255)
        return false;
    if (name.find_first_not_of(". ") == std::string_view::npos)
        return false; // ".", "..", and what Windows reduces to them
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F)
            return false;
        if (std::string_view("/\\:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
            return false;
    }
    // Windows drops a trailing dot or blank, so the name would not be the
    // one checked here.
    if (name.back() == '.' || name.back() == ' ')
        return false;
    // Device names stay devices whatever extension follows them.
    const std::string stem = text::asciiUpper(name.substr(0, name.find('.')));
    static constexpr std::array<std::string_view, 4> devices = {"CON", "PRN", "AUX", "NUL"};
    if (std::find(devices.begin(), devices.end(), stem) != devices.end())
        return false;
    if (stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) &&
        stem[3] >= '1' && stem[3] <= '9')
        return false;
    return true;
}

bool isZeroVersion(std::string_view version) {
    return version.find('0') != std::string_view::npos &&
           version.find_first_not_of("0. ") == std::string_view::npos;
}

WholeFileWriter::WholeFileWriter(fs::path target)
    : target_(std::move(target)),
      partial_(target_.parent_path() / ("." + text::pathToUtf8(target_.filename()) + ".part")) {}

WholeFileWriter::~WholeFileWriter() {
    if (!committed_) {
        out_.close();
        std::error_code ec;
        fs::remove(partial_, ec);
        // Only an empty folder goes: remove() leaves one with files.
        for (const fs::path& folder : madeFolders_)
            fs::remove(folder, ec);
    }
}

bool WholeFileWriter::open(std::string& error) {
    std::error_code ec;
    for (fs::path folder = target_.parent_path();
         !folder.empty() && !fs::exists(fs::symlink_status(folder, ec));
         folder = folder.parent_path()) {
        madeFolders_.push_back(folder);
        if (folder == folder.parent_path())
            break;
    }
    fs::create_directories(target_.parent_path(), ec);
    out_.open(partial_, std::ios::binary | std::ios::trunc);
    if (!out_) {
        error = "无法创建文件 " + text::pathToUtf8(partial_);
        return false;
    }
    return true;
}

bool WholeFileWriter::append(std::string_view bytes, std::string& error) {
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out_) {
        error = "无法写入文件 " + text::pathToUtf8(partial_);
        return false;
    }
    return true;
}

bool WholeFileWriter::commit(std::string& error) {
    out_.close();
    if (!out_) {
        error = "无法写完文件 " + text::pathToUtf8(partial_);
        return false;
    }
    std::error_code ec;
    fs::rename(partial_, target_, ec);
    if (ec) {
        error = "无法把 " + text::pathToUtf8(partial_) + " 改名为 " + text::pathToUtf8(target_) +
                "（" + ec.message() + "）";
        return false;
    }
    committed_ = true;
    return true;
}

ChunkLoop::ChunkLoop(NextChunk next, WholeFileWriter& file, std::int64_t announced, std::string url)
    : next_(std::move(next)), file_(file), announced_(announced), url_(std::move(url)) {
    chunk_ = next_(kChunkSize);
    result_.received = static_cast<std::int64_t>(chunk_.size());
}

bool ChunkLoop::step() {
    if (ended_)
        return false;
    if (chunk_.empty()) {
        ended_ = true;
        if (announced_ > 0 && result_.received < announced_) {
            result_.outcome = ChunkLoopResult::Outcome::Short;
            result_.error = "下载“" + url_ + "”不完整：只收到 " + std::to_string(result_.received) +
                            " 字节，服务器说明的大小是 " + std::to_string(announced_) + " 字节";
        }
        return false;
    }
    if (!file_.append(chunk_, result_.error)) {
        result_.outcome = ChunkLoopResult::Outcome::WriteFailed;
        ended_ = true;
        return false;
    }
    chunk_ = next_(kChunkSize);
    result_.received += static_cast<std::int64_t>(chunk_.size());
    return true;
}

bool replaceWithCopy(const fs::path& from, const fs::path& to, std::string& error) {
    const fs::path partial = to.parent_path() / ("." + text::pathToUtf8(to.filename()) + ".new");
    std::error_code ec;
    fs::copy_file(from, partial, fs::copy_options::overwrite_existing, ec);
    // The new file keeps the permissions of the one it replaces, so a
    // program stays a program.
    std::error_code noOld;
    const fs::file_status old = fs::status(to, noOld);
    if (!ec && !noOld && fs::is_regular_file(old))
        fs::permissions(partial, old.permissions(), ec);
    if (!ec)
        fs::rename(partial, to, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        error = "无法把 " + text::pathToUtf8(from) + " 复制到 " + text::pathToUtf8(to) + "（" +
                ec.message() + "）";
        return false;
    }
    return true;
}

} // namespace updater
