#pragma once

// A replacement table: many find/replace pairs for one run, as a text file
// (UTF-8, a byte order mark allowed), one pair a line, the text to find and
// its replacement separated by a tab. Blank lines and lines that start with
// "#" are skipped. The first tab separates; the replacement may be empty.

#include "core/engines/run.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace engines {

// The most pairs a table may hold, and the largest file read.
inline constexpr std::size_t kMaxPairs = 10000;
inline constexpr std::uintmax_t kMaxPairsFileSize = 4u << 20;

// The pairs of a table's text. False with a sentence that names `source` and
// the line in `error` when a line is not a pair or the table holds none.
[[nodiscard]] bool parsePairs(std::string_view content, const std::string& source,
                              std::vector<ReplacePair>& pairs, std::string& error);

// The same for a file; a file that cannot be read is named with the reason.
[[nodiscard]] bool readPairsFile(const std::filesystem::path& file, std::vector<ReplacePair>& pairs,
                                 std::string& error);

} // namespace engines
