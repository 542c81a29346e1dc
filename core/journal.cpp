#include "core/journal.h"

#include "core/text/encoding.h"

#include <cstdio>
#include <fstream>
#include <system_error>

namespace journal {

namespace {

std::tm localTime(std::time_t t) {
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    return tm;
}

std::string format(const char* pattern, int a, int b, int c) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, pattern, a, b, c);
    return buffer;
}

} // namespace

std::string isoDate(std::time_t t) {
    const std::tm tm = localTime(t);
    return format("%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

// The short date of a Chinese (PRC) system: year/month/day without padding.
std::string shortDate(std::time_t t) {
    const std::tm tm = localTime(t);
    return format("%d/%d/%d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

// The time format of a Chinese (PRC) system: 24 hours, minutes and seconds.
std::string shortTime(std::time_t t) {
    const std::tm tm = localTime(t);
    return format("%d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
}

Journal::Journal(std::filesystem::path appFolder, Clock clock)
    : appFolder_(std::move(appFolder)), clock_(std::move(clock)) {
    if (!clock_)
        clock_ = [] { return std::time(nullptr); };
}

std::filesystem::path Journal::dayFile() const {
    const std::string d = isoDate(clock_());
    return appFolder_ / "Journal" / d / (d + ".txt");
}

bool Journal::rz(const std::string& line) const {
    // The folder and file are named by the date read here; the entry reads the
    // date and time again, so an entry written across midnight may carry the
    // next day's date in the previous day's file.
    const std::filesystem::path file = dayFile();
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    if (ec)
        return false;

    const std::time_t now = clock_();
    const std::string entry =
        "时间：" + shortDate(now) + " " + shortTime(now) + " " + line + "\r\n";
    const std::string bytes = text::utf8ToAnsi(entry);

    std::ofstream out(file, std::ios::binary | std::ios::app);
    if (!out)
        return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

} // namespace journal
