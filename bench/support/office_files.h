#pragma once

// What the benchmarks need to make their documents: flat OpenDocument texts
// and spreadsheets, turned into .doc and .xls files by the office itself.

#include <filesystem>
#include <string>
#include <vector>

namespace bench_support {

// Writes `text` as the whole file.
void write(const std::filesystem::path& path, const std::string& text);

// A flat OpenDocument text whose body is `body` (paragraph elements).
std::string flatText(const std::string& body);
// A flat OpenDocument spreadsheet holding `tables` (table elements).
std::string flatSpreadsheet(const std::string& tables);

// One office process converting `sources` into `folder` as `format`, with its
// output appended to `log`; the first start of a new profile asks to be
// started again.
void convert(const std::filesystem::path& profile,
             const std::vector<std::filesystem::path>& sources, const std::string& format,
             const std::filesystem::path& folder, const std::filesystem::path& log);

// Runs a program, its output appended to `log`, and returns its exit status
// (-1 when it could not run or did not exit).
int runProgram(std::vector<std::string> arguments, const std::filesystem::path& log);

} // namespace bench_support
