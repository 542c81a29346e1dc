#pragma once

// The manifest of one run's backups: a UTF-8 text file in the run's folder,
// appended line by line as the run goes (so a killed run can still be
// undone). Fields are separated by tabs; a backslash, tab or line break
// inside a field is written as \\, \t, \r, \n.
//
//   batchreplace 备份清单 1
//   运行  <seconds since 1970>  <yyyy-mm-dd hh:mm:ss>  <operation>  <folder>
//   文档  <n>  <copy's file name>  <original's full path>  <size>  <mtime>  <SHA-256>
//   结果  <n>  <SHA-256 of what the run left in document n>
//   撤销  <seconds since 1970>  <yyyy-mm-dd hh:mm:ss>
//
// A document's line is written once its copy is durable, before the document
// is changed; its result line once the run has stored it (or given up). The
// modification time is the file clock's count of ticks, read back on the same
// system. Lines that cannot be read are skipped.

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace backup {

inline constexpr const char* kManifestName = "清单.txt";

struct RunHeader {
    std::time_t time = 0;
    std::string operation; // as the user knows it: "Word 替换"
    std::string folder;    // the folder the run worked in (UTF-8)
};

struct DocumentEntry {
    std::size_t number = 0;   // 1, 2, ... in the order the run kept them
    std::string copy;         // the copy's file name in the run's folder (UTF-8)
    std::string original;     // the document's full path (UTF-8)
    std::uintmax_t size = 0;  // of the original
    std::int64_t mtime = 0;   // of the original, file clock ticks
    std::string originalHash; // SHA-256 of the original
    // SHA-256 of what the run left; nothing when the run ended before it
    // was recorded.
    std::optional<std::string> leftHash;
};

struct Manifest {
    std::optional<RunHeader> header;
    std::vector<DocumentEntry> documents;
    std::optional<std::time_t> undone;
};

// The lines, each ending in CR LF.
std::string manifestStart(const RunHeader& header);
std::string documentLine(const DocumentEntry& entry);
std::string resultLine(std::size_t number, const std::string& hash);
std::string undoneLine(std::time_t time);

Manifest parseManifest(const std::string& text);
// Nothing when the file cannot be read.
std::optional<Manifest> readManifest(const std::filesystem::path& file);

// "yyyy-mm-dd hh:mm:ss", local time.
std::string localTimeText(std::time_t time);

} // namespace backup
