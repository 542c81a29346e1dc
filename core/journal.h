#pragma once

// The operation journal: one dated line per reported event, appended to the
// day's file `Journal/<yyyy-mm-dd>/<yyyy-mm-dd>.txt` in the application folder.

#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

namespace journal {

using Clock = std::function<std::time_t()>;

class Journal {
public:
    // `clock` gives the current time; the default reads the system clock.
    explicit Journal(std::filesystem::path appFolder, Clock clock = {});

    // `rz`: appends "时间：<date> <time> <line>" CR LF to the day's file.
    // Creates the Journal and day folders when missing. An entry that cannot
    // be written is skipped: returns false and the caller goes on.
    bool rz(const std::string& line) const;

    // The file today's entries go to.
    std::filesystem::path dayFile() const;

private:
    std::filesystem::path appFolder_;
    Clock clock_;
};

// yyyy-mm-dd of the local date of `t`.
std::string isoDate(std::time_t t);
// The short date of the system, as the entry shows it.
std::string shortDate(std::time_t t);
// The time of the system, as the entry shows it.
std::string shortTime(std::time_t t);

} // namespace journal
