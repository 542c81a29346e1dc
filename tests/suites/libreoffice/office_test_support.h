#pragma once

// Real .doc and .xls files for the office tests, made by the office itself:
// flat OpenDocument files (.fodt, .fods) written here are converted with
// `soffice --convert-to`, and results are read back the same way.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace office_testing {

// Empty when LibreOffice is installed; otherwise why the tests skip.
std::string missingOfficeReason();

// One text document: the XML of its body, header and footer (each a list of
// <text:p> elements or bare text for one paragraph). Styles "B" (bold) and
// "I" (italic) are defined for <text:span text:style-name="B">.
struct TextDocument {
    std::string body;
    std::string header;      // empty: no header
    std::string footer;      // empty: no footer
    std::string firstHeader; // empty: the first page shares the header
};
std::string flatText(const TextDocument& document);

// A paragraph of plain text (escaped).
std::string paragraph(const std::string& text);

// One workbook: sheets in order, each a name and rows of cells; a cell that
// parses as a number is stored as one, a cell that begins with
// "<table:table-cell" is taken as the cell's XML (formulas, dates; text
// style "B" is bold for <text:span text:style-name="B">).
struct Sheet {
    std::string name;
    std::vector<std::vector<std::string>> rows;
    // Protected without a password; its cells are locked, as by default.
    bool isProtected = false;
    bool hidden = false;
    std::vector<std::size_t> hiddenRows = {}; // indexes into `rows`, hidden by hand (not filtered)
};
std::string flatSpreadsheet(const std::vector<Sheet>& sheets);

// Converts files with one office process per call; returns the converted
// files in the order given. `format` is the target extension ("doc", "xls",
// "fodt", "fods"). Throws std::runtime_error when a file was not made.
std::vector<std::filesystem::path> convert(const std::vector<std::filesystem::path>& sources,
                                           const std::string& format,
                                           const std::filesystem::path& outputFolder);

// Writes sources and converts them: name -> flat XML; returns name -> file.
std::map<std::string, std::filesystem::path>
makeDocuments(const std::map<std::string, std::string>& flatSources, const std::string& format,
              const std::filesystem::path& folder);

// A document read back as flat XML (converted in a scratch folder).
struct ReadBack {
    std::string xml;
    // The text of every <text:p> and <text:h> in the body, tags removed.
    std::vector<std::string> bodyParagraphs() const;
    // The XML of the master styles (headers and footers).
    std::string masterStyles() const;
    // The attributes of the automatic or named style `name` (the whole
    // <style:style ...>...</style:style> element), empty when absent.
    std::string style(const std::string& name) const;
    // Sheet name -> the texts of its non-empty cells in order.
    std::map<std::string, std::vector<std::string>> sheets() const;
};
std::vector<ReadBack> readBack(const std::vector<std::filesystem::path>& documents,
                               const std::string& flatFormat);

// Removes tags from an XML fragment and decodes the five entities.
std::string plainText(const std::string& xml);

// Sets a file's modification time to a fixed moment in the past, so that a
// rewrite shows.
void ageFile(const std::filesystem::path& file);
// The modification time in nanoseconds.
long long modificationTime(const std::filesystem::path& file);

} // namespace office_testing
