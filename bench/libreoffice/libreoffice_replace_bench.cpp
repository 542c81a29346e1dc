// Benchmark: the Word and the Excel batch replace through the LibreOffice
// server over folders of small documents (the text in every other one),
// against the same folders converted by one `soffice --headless --convert-to`
// process per file, as a user scripting the office by hand would run it.
//
//   libreoffice_replace_bench [files per folder, default 100]

#include "bench/support/office_files.h"
#include "core/engines/run.h"
#include "suites/libreoffice/libreoffice_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Counts the result lines of a run.
class Tally : public engines::RunReporter {
public:
    int replaced = 0;
    int notFound = 0;
    int failed = 0;

    void documentStarted(std::size_t, const std::string&) override {}
    void result(const engines::ResultLine& line) override {
        if (line.failure)
            ++failed;
        else if (line.log.find("没找到") != std::string::npos)
            ++notFound;
        else
            ++replaced;
    }
    void documentFinished(std::size_t, const engines::DocumentOutcome&) override {}
};

// A replace of "apple" by "pear" over the files of one folder, through the suite.
engines::RunRequest replaceRun(engines::Operation operation, engines::Mode mode,
                               const fs::path& folder, const std::vector<std::string>& files) {
    engines::RunRequest request;
    request.operation = operation;
    request.mode = mode;
    request.folder = folder.string();
    request.documents = files;
    request.pairs = {{"apple", "pear"}};
    request.engine = engines::EngineChoice::Suite;
    return request;
}

using bench_support::convert;
using bench_support::flatSpreadsheet;
using bench_support::flatText;
using bench_support::write;

std::string documentBody(int i) {
    std::ostringstream body;
    for (int p = 0; p < 12; ++p) {
        body << "<text:p>第 " << i << " 号文档第 " << p
             << " 段：本段文字用于测试批量替换的速度，内容不重要。";
        if (i % 2 == 0 && (p == 3 || p == 9))
            body << " An apple here.";
        body << "</text:p>";
    }
    return body.str();
}

// Three small worksheets; the text on the second one of every other workbook.
std::string workbookTables(int i) {
    std::ostringstream tables;
    for (int s = 1; s <= 3; ++s) {
        tables << "<table:table table:name=\"Sheet" << s << "\">";
        for (int r = 0; r < 20; ++r) {
            tables << "<table:table-row>";
            for (int c = 0; c < 5; ++c) {
                std::string cell = "R" + std::to_string(r) + "C" + std::to_string(c) + " 数据";
                if (i % 2 == 0 && s == 2 && r == 7 && c == 2)
                    cell = "apple pie";
                tables << "<table:table-cell office:value-type=\"string\"><text:p>" << cell
                       << "</text:p></table:table-cell>";
            }
            tables << "</table:table-row>";
        }
        tables << "</table:table>";
    }
    return tables.str();
}

std::vector<std::string> listed(const fs::path& folder, const std::string& extension) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == extension)
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const auto workspace = bench_support::makeWorkspace("bench", true);
    if (!workspace)
        return 0;
    const fs::path& root = workspace->root;
    const fs::path& profile = workspace->profile;
    const fs::path& log = workspace->log;

    // The folders: made by one conversion each (not measured).
    std::cout << "Making " << count << " .doc and " << count << " .xls files in " << root
              << " ...\n";
    const fs::path sources = root / "sources";
    fs::create_directories(sources);
    std::vector<fs::path> texts, sheets;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "doc%03d", i);
        texts.push_back(sources / (std::string(name) + ".fodt"));
        write(texts.back(), flatText(documentBody(i)));
        std::snprintf(name, sizeof name, "book%03d", i);
        sheets.push_back(sources / (std::string(name) + ".fods"));
        write(sheets.back(), flatSpreadsheet(workbookTables(i)));
    }
    const fs::path words = root / "word";
    const fs::path books = root / "excel";
    convert(profile, texts, "doc", words, log);
    convert(profile, sheets, "xls", books, log);
    const auto wordFiles = listed(words, ".doc");
    const auto bookFiles = listed(books, ".xls");
    if (static_cast<int>(wordFiles.size()) != count ||
        static_cast<int>(bookFiles.size()) != count) {
        std::cout << "The office did not make every file (see " << log << ").\n";
        return 1;
    }

    automation::Registry registry;
    libreoffice::registerClasses(registry);

    // The operations, each with its office start and quit.
    Tally word;
    auto start = Clock::now();
    engines::run(
        replaceRun(engines::Operation::WordReplace, engines::Mode::WordDoc, words, wordFiles),
        {registry}, word);
    const double wordSeconds = seconds(Clock::now() - start);

    Tally excel;
    start = Clock::now();
    engines::run(
        replaceRun(engines::Operation::ExcelReplace, engines::Mode::ExcelXls, books, bookFiles),
        {registry}, excel);
    const double excelSeconds = seconds(Clock::now() - start);

    // By hand: one office process per file.
    auto byHand = [&](const fs::path& folder, const std::vector<std::string>& files,
                      const std::string& format) {
        const fs::path out = root / ("by-hand-" + format);
        const auto begin = Clock::now();
        for (const auto& f : files)
            convert(profile, {folder / f}, format, out, log);
        return seconds(Clock::now() - begin);
    };
    const double wordByHand = byHand(words, wordFiles, "doc");
    const double excelByHand = byHand(books, bookFiles, "xls");

    std::printf("\nLibreOffice %s, %d files per folder, the text in every other file\n",
                workspace->officeVersion.c_str(), count);
    std::printf("%-34s %8s %10s %12s\n", "", "seconds", "files/s", "vs by hand");
    std::printf("%-34s %8.1f %10.2f %11.1fx\n", "Word replace (operation)", wordSeconds,
                count / wordSeconds, wordByHand / wordSeconds);
    std::printf("%-34s %8.1f %10.2f\n", "  soffice --convert-to per .doc", wordByHand,
                count / wordByHand);
    std::printf("%-34s %8.1f %10.2f %11.1fx\n", "Excel replace (operation)", excelSeconds,
                count / excelSeconds, excelByHand / excelSeconds);
    std::printf("%-34s %8.1f %10.2f\n", "  soffice --convert-to per .xls", excelByHand,
                count / excelByHand);
    std::printf("Word: %d replaced, %d without the text, %d failed; Excel sheets: %d replaced, %d "
                "without, %d failed\n",
                word.replaced, word.notFound, word.failed, excel.replaced, excel.notFound,
                excel.failed);

    std::error_code ec;
    fs::remove_all(root, ec);
    return word.failed == 0 && excel.failed == 0 ? 0 : 1;
}
