#pragma once

// What the benchmarks need to make their documents: flat OpenDocument texts
// and spreadsheets, turned into .doc and .xls files by the office itself.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace bench_support {

// A benchmark's scratch folder in /tmp, with an office profile for the
// conversions that make its documents and their log.
struct Workspace {
    std::filesystem::path root;
    std::filesystem::path profile; // root/convert-profile
    std::filesystem::path log;     // root/soffice.log
    std::string officeVersion;
};
// Nothing, after saying so on standard output, when LibreOffice Writer (and
// Calc, when `calc`) is not installed: nothing to measure.
std::optional<Workspace> makeWorkspace(const std::string& name, bool calc);

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
