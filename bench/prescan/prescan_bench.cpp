// Benchmark: the prescan and parallel runs of the command line.
//
// - 1,000 small .doc files of which 50 hold the text: documents per second
//   with the prescan and with --no-prescan; the same for 1,000 .xls files and
//   a Chinese text;
// - the prescan's own cost per document (median) on a 50 KB and a 1 MB .doc,
//   the same documents as .docx, and a workbook as .xls and .xlsx;
// - 200 .doc files that all hold the text: --jobs 1 against --jobs 2.
//
// The documents are copies of a few the office makes at the start.
//
//   prescan_bench [files per folder, default 1000]

#include "bench/support/office_files.h"
#include "cli/cli.h"
#include "core/formats/prescan.h"
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
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

const std::string kWordText = "旧公司名称";
const std::string kExcelText = "旧合同编号";

using bench_support::convert;
using bench_support::flatSpreadsheet;
using bench_support::flatText;
using bench_support::write;

std::string documentBody(int paragraphs, bool withText) {
    std::ostringstream body;
    for (int p = 0; p < paragraphs; ++p) {
        body << "<text:p>第 " << p << " 段：本段文字用于测试批量替换的速度，内容不重要。"
             << "Some Latin text as well, 2019-05-01.";
        if (withText && p == paragraphs / 2)
            body << "由" << kWordText << "签订。";
        body << "</text:p>";
    }
    return body.str();
}

// Three small worksheets with text and numbers.
std::string workbookTables(bool withText) {
    std::ostringstream tables;
    for (int s = 1; s <= 3; ++s) {
        tables << "<table:table table:name=\"Sheet" << s << "\">";
        for (int r = 0; r < 20; ++r) {
            tables << "<table:table-row>";
            for (int c = 0; c < 5; ++c) {
                if (c == 4) {
                    tables << "<table:table-cell office:value-type=\"float\" office:value=\""
                           << r * 10 + s << "\"><text:p>" << r * 10 + s
                           << "</text:p></table:table-cell>";
                    continue;
                }
                std::string cell = "R" + std::to_string(r) + "C" + std::to_string(c) + " 数据";
                if (withText && s == 2 && r == 7 && c == 2)
                    cell = "编号：" + kExcelText + "-7";
                tables << "<table:table-cell office:value-type=\"string\"><text:p>" << cell
                       << "</text:p></table:table-cell>";
            }
            tables << "</table:table-row>";
        }
        tables << "</table:table>";
    }
    return tables.str();
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// A folder of `count` copies: `with` in every `every`-th place, `without`
// elsewhere.
void fillFolder(const fs::path& folder, int count, int every, const fs::path& with,
                const fs::path& without, const std::string& extension) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "f%04d", i);
        fs::copy_file(i % every == 0 ? with : without, folder / (name + extension));
    }
}

struct Run {
    double seconds = 0;
    int status = 0;
    std::size_t lines = 0;
};

Run commandLine(const automation::Registry& registry, const fs::path& app,
                const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const auto start = Clock::now();
    Run r;
    r.status = cli::run(args, out, err, cli::Environment{registry, app, false});
    r.seconds = seconds(Clock::now() - start);
    const std::string text = out.str();
    r.lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    return r;
}

double medianMicroseconds(const fs::path& document, const std::string& text, int repeats) {
    std::vector<double> times;
    bool answer = true;
    const bool workbook = document.extension() == ".xls" || document.extension() == ".xlsx";
    for (int i = 0; i < repeats; ++i) {
        const auto start = Clock::now();
        answer = workbook ? formats::workbookFileMayHold(document, text).mayHold
                          : formats::wordFileMayHold(document, text);
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    if (answer)
        std::cout << "(note: the prescan answered \"maybe\" for " << document << ")\n";
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(20, std::atoi(argv[1])) : 1000;
    const int every = 20; // 50 of 1,000 hold the text
    const auto workspace = bench_support::makeWorkspace("prescan-bench", true);
    if (!workspace)
        return 0;
    const fs::path& root = workspace->root;
    const fs::path& profile = workspace->profile;
    const fs::path& log = workspace->log;
    const fs::path app = root / "app";
    fs::create_directories(app);

    // The office makes the originals (not measured).
    std::cout << "Making the documents in " << root << " ...\n" << std::flush;
    const fs::path sources = root / "sources";
    fs::create_directories(sources);
    write(sources / "with.fodt", flatText(documentBody(12, true)));
    write(sources / "without.fodt", flatText(documentBody(12, false)));
    write(sources / "k50.fodt", flatText(documentBody(420, false)));
    write(sources / "m1.fodt", flatText(documentBody(9000, false)));
    write(sources / "withbook.fods", flatSpreadsheet(workbookTables(true)));
    write(sources / "withoutbook.fods", flatSpreadsheet(workbookTables(false)));
    const fs::path made = root / "made";
    convert(profile,
            {sources / "with.fodt", sources / "without.fodt", sources / "k50.fodt",
             sources / "m1.fodt"},
            "doc", made, log);
    convert(profile, {sources / "withbook.fods", sources / "withoutbook.fods"}, "xls", made, log);
    convert(profile, {sources / "k50.fodt", sources / "m1.fodt"}, "docx", made, log);
    convert(profile, {sources / "withoutbook.fods"}, "xlsx", made, log);
    for (const char* f : {"with.doc", "without.doc", "k50.doc", "m1.doc", "withbook.xls",
                          "withoutbook.xls", "k50.docx", "m1.docx", "withoutbook.xlsx"})
        if (!fs::exists(made / f)) {
            std::cout << "The office did not make " << f << " (see " << log << ").\n";
            return 1;
        }

    automation::Registry registry;
    libreoffice::registerClasses(registry);
    const fs::path folder = root / "folder";
    auto replace = [&](const std::string& command, const std::string& find,
                       std::vector<std::string> extra) {
        std::vector<std::string> args{command, folder.string(), "--find",
                                      find,    "--replace",     "新内容"};
        args.insert(args.begin() + 1, "--folder");
        args.insert(args.end(), extra.begin(), extra.end());
        return commandLine(registry, app, args);
    };

    std::cout << "Word: " << count << " .doc, " << count / every << " with the text ...\n"
              << std::flush;
    fillFolder(folder, count, every, made / "with.doc", made / "without.doc", ".doc");
    const Run wordOn = replace("word-replace", kWordText, {});
    fillFolder(folder, count, every, made / "with.doc", made / "without.doc", ".doc");
    const Run wordOff = replace("word-replace", kWordText, {"--no-prescan"});
    fillFolder(folder, count, every, made / "with.doc", made / "without.doc", ".doc");
    const Run wordOnTwo = replace("word-replace", kWordText, {"--jobs", "2"});
    // What no prescan can save: the documents that hold the text, alone.
    fillFolder(folder, count / every, 1, made / "with.doc", made / "with.doc", ".doc");
    const Run wordFloor = replace("word-replace", kWordText, {"--no-prescan"});

    std::cout << "Excel: " << count << " .xls, " << count / every << " with the text ...\n"
              << std::flush;
    fillFolder(folder, count, every, made / "withbook.xls", made / "withoutbook.xls", ".xls");
    const Run excelOn = replace("excel-replace", kExcelText, {});
    fillFolder(folder, count, every, made / "withbook.xls", made / "withoutbook.xls", ".xls");
    const Run excelOff = replace("excel-replace", kExcelText, {"--no-prescan"});
    fillFolder(folder, count, every, made / "withbook.xls", made / "withoutbook.xls", ".xls");
    const Run excelOnTwo = replace("excel-replace", kExcelText, {"--jobs", "2"});
    fillFolder(folder, count / every, 1, made / "withbook.xls", made / "withbook.xls", ".xls");
    const Run excelFloor = replace("excel-replace", kExcelText, {"--no-prescan"});

    std::cout << "Prescan cost ...\n" << std::flush;
    const double small = medianMicroseconds(made / "k50.doc", kWordText, 301);
    const double large = medianMicroseconds(made / "m1.doc", kWordText, 51);
    const double smallPackage = medianMicroseconds(made / "k50.docx", kWordText, 301);
    const double largePackage = medianMicroseconds(made / "m1.docx", kWordText, 51);
    const double book = medianMicroseconds(made / "withoutbook.xls", kExcelText, 301);
    const double bookPackage = medianMicroseconds(made / "withoutbook.xlsx", kExcelText, 301);

    const int allCount = std::max(2, count / 5);
    std::cout << "Jobs: " << allCount << " .doc, all with the text ...\n" << std::flush;
    fillFolder(folder, allCount, 1, made / "with.doc", made / "with.doc", ".doc");
    const Run one = replace("word-replace", kWordText, {"--jobs", "1"});
    fillFolder(folder, allCount, 1, made / "with.doc", made / "with.doc", ".doc");
    const Run two = replace("word-replace", kWordText, {"--jobs", "2"});

    std::printf("\nLibreOffice %s, %u processors\n", workspace->officeVersion.c_str(),
                std::thread::hardware_concurrency());
    std::printf("%-38s %9s %9s %9s %9s %11s\n", "documents per second", "no scan", "prescan",
                "speed-up", "+jobs 2", "speed-up");
    auto row = [&](const std::string& label, const Run& off, const Run& on, const Run& onTwo) {
        std::printf("%-38s %7.1f/s %7.1f/s %8.1fx %7.1f/s %10.1fx\n", label.c_str(),
                    count / off.seconds, count / on.seconds, off.seconds / on.seconds,
                    count / onTwo.seconds, off.seconds / onTwo.seconds);
    };
    row(std::to_string(count) + " .doc, " + std::to_string(count / every) + " with the text",
        wordOff, wordOn, wordOnTwo);
    row(std::to_string(count) + " .xls, " + std::to_string(count / every) + " with a Chinese text",
        excelOff, excelOn, excelOnTwo);
    std::printf("the %d documents with the text alone: .doc %.1f s (prescan run %.1f s), .xls "
                "%.1f s (prescan run %.1f s)\n",
                count / every, wordFloor.seconds, wordOn.seconds, excelFloor.seconds,
                excelOn.seconds);
    std::printf("prescan per document (median): %.0f us for %.0f KB, %.0f us for %.0f KB\n", small,
                fs::file_size(made / "k50.doc") / 1024.0, large,
                fs::file_size(made / "m1.doc") / 1024.0);
    std::printf("the same as packages: %.0f us for a %.0f KB .docx, %.0f us for a %.0f KB .docx\n",
                smallPackage, fs::file_size(made / "k50.docx") / 1024.0, largePackage,
                fs::file_size(made / "m1.docx") / 1024.0);
    std::printf("workbooks of three sheets: %.0f us for a %.0f KB .xls, %.0f us for a %.0f KB "
                ".xlsx\n",
                book, fs::file_size(made / "withoutbook.xls") / 1024.0, bookPackage,
                fs::file_size(made / "withoutbook.xlsx") / 1024.0);
    std::printf("%d .doc all with the text: --jobs 1 %.1f s, --jobs 2 %.1f s: %.2fx\n", allCount,
                one.seconds, two.seconds, one.seconds / two.seconds);
    const bool ok = wordOn.lines == wordOff.lines && excelOn.lines == excelOff.lines &&
                    wordOnTwo.lines == wordOff.lines && excelOnTwo.lines == excelOff.lines &&
                    wordOn.status == 0 && excelOn.status == 0 && one.status == 0 && two.status == 0;
    if (!ok)
        std::printf("Some run failed or the line counts differ (exit statuses %d %d %d %d %d %d)\n",
                    wordOn.status, wordOff.status, excelOn.status, excelOff.status, one.status,
                    two.status);

    std::error_code ec;
    fs::remove_all(root, ec);
    return ok ? 0 : 1;
}
