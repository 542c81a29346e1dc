// Benchmark: our own Word and Excel engines against the office suite, through
// the command line, on small .docx and .xlsx files the office makes at the
// start.
//
// - a folder where every document holds the text: --engine builtin against
//   --engine suite (fewer documents: the office is slow), documents per second;
// - a folder where 1 in 20 holds it: --engine builtin and --engine auto, with
//   the prescan as a run has it;
// - the same for workbooks of three sheets (text and numbers).
//
//   builtin_bench [files per folder, default 1000]

#include "bench/support/office_files.h"
#include "cli/cli.h"
#include "core/engines/builtin_word.h"
#include "core/engines/builtin_workbook.h"
#include "suites/libreoffice/libreoffice_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

const std::string kText = "旧公司名称";
const std::string kSheetText = "旧合同编号";

// About two pages: paragraphs whose runs are split by formatting, the text
// (when held) split across two runs in three places.
std::string documentBody(int paragraphs, bool withText) {
    std::ostringstream body;
    for (int p = 0; p < paragraphs; ++p) {
        body << "<text:p>第 " << p
             << " 段：本段文字<text:span text:style-name=\"B\">用于测试</text:span>"
             << "批量替换的速度，内容不重要。Some Latin text as well, 2019-05-01.";
        if (withText && p % 4 == 1)
            body << "由旧公司<text:span text:style-name=\"B\">名称</text:span>签订。";
        body << "</text:p>";
    }
    return body.str();
}

// Three sheets of 20 rows: four text cells and a number each; the text (when
// held) in one cell of the second sheet.
std::string workbookTables(bool withText) {
    std::ostringstream tables;
    for (int s = 1; s <= 3; ++s) {
        tables << "<table:table table:name=\"Sheet" << s << "\">";
        for (int r = 0; r < 20; ++r) {
            tables << "<table:table-row>";
            for (int c = 0; c < 4; ++c) {
                std::string cell = "R" + std::to_string(r) + "C" + std::to_string(c) + " 数据";
                if (withText && s == 2 && r == 7 && c == 2)
                    cell = "编号：" + kSheetText + "-7";
                tables << "<table:table-cell office:value-type=\"string\"><text:p>" << cell
                       << "</text:p></table:table-cell>";
            }
            tables << "<table:table-cell office:value-type=\"float\" office:value=\"" << r
                   << "\"><text:p>" << r << "</text:p></table:table-cell></table:table-row>";
        }
        tables << "</table:table>";
    }
    return tables.str();
}

void fillFolder(const fs::path& folder, int count, int every, const fs::path& with,
                const fs::path& without) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string extension = with.extension().string();
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "f%04d%s", i, extension.c_str());
        fs::copy_file(i % every == 0 ? with : without, folder / name);
    }
}

struct Run {
    double seconds = 0;
    int status = 0;
    std::size_t replaced = 0;
};

Run replace(const automation::Registry& registry, const fs::path& app, const fs::path& folder,
            const std::string& engine, const std::vector<std::string>& extra = {},
            bool workbooks = false) {
    std::vector<std::string> args{workbooks ? "excel-replace" : "word-replace",
                                  "--folder",
                                  folder.string(),
                                  "--find",
                                  workbooks ? kSheetText : kText,
                                  "--replace",
                                  workbooks ? "新合同编号" : "新公司名称",
                                  "--engine",
                                  engine,
                                  "--app-folder",
                                  app.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::ostringstream out, err;
    const auto start = Clock::now();
    Run r;
    r.status = cli::run(args, out, err, cli::Environment{registry, app, false});
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
        r.replaced += line.find("已替换内容") != std::string::npos;
    return r;
}

void report(const char* what, int count, const Run& r) {
    std::printf("%-44s %5d docs %8.2f s %9.1f docs/s  (%zu replaced, status %d)\n", what, count,
                r.seconds, count / r.seconds, r.replaced, r.status);
}

// The engine alone, in memory: documents per second over `repeats` calls.
double engineAlone(const fs::path& document, int repeats) {
    std::ifstream in(document, std::ios::binary);
    const std::string content{std::istreambuf_iterator<char>(in), {}};
    const engines::WordPackageEngine engine;
    std::size_t bytes = 0;
    const auto start = Clock::now();
    for (int i = 0; i < repeats; ++i)
        bytes += engine.replace(engines::Operation::WordReplace, content, {{kText, "新公司名称"}})
                     .newContent.size();
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    if (bytes == 0)
        std::cout << "(note: the engine replaced nothing in " << document << ")\n";
    return repeats / s;
}

double workbookEngineAlone(const fs::path& workbook, int repeats) {
    std::ifstream in(workbook, std::ios::binary);
    const std::string content{std::istreambuf_iterator<char>(in), {}};
    const engines::WorkbookPackageEngine engine;
    std::size_t bytes = 0;
    const auto start = Clock::now();
    for (int i = 0; i < repeats; ++i)
        bytes +=
            engine.replace(engines::Operation::ExcelReplace, content, {{kSheetText, "新合同编号"}})
                .newContent.size();
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    if (bytes == 0)
        std::cout << "(note: the engine replaced nothing in " << workbook << ")\n";
    return repeats / s;
}

// The workbooks' part: the same folders and runs as for the documents.
void workbooks(const automation::Registry& registry, const fs::path& root, const fs::path& profile,
               int count, int suiteCount) {
    const fs::path sources = root / "sheet-sources", made = root / "sheets";
    fs::create_directories(sources);
    bench_support::write(sources / "with.fods",
                         bench_support::flatSpreadsheet(workbookTables(true)));
    bench_support::write(sources / "without.fods",
                         bench_support::flatSpreadsheet(workbookTables(false)));
    bench_support::convert(profile, {sources / "with.fods", sources / "without.fods"}, "xlsx", made,
                           root / "soffice.log");
    const fs::path with = made / "with.xlsx", without = made / "without.xlsx";
    if (!fs::exists(with) || !fs::exists(without)) {
        std::cout << "The office did not make the workbooks.\n";
        return;
    }
    std::cout << "Workbook size: " << fs::file_size(with) << " bytes\n";
    std::printf("%-44s %20.1f docs/s\n", "workbook engine alone, in memory, replacing",
                workbookEngineAlone(with, 2000));
    const fs::path app = root / "app", folder = root / "sheet-folder";
    fillFolder(folder, suiteCount, 1, with, without);
    const Run suite = replace(registry, app, folder, "suite", {}, true);
    report("workbooks all hold the text, --engine suite", suiteCount, suite);
    fillFolder(folder, count, 1, with, without);
    const Run builtin = replace(registry, app, folder, "builtin", {}, true);
    report("workbooks all hold it, --engine builtin", count, builtin);
    std::printf("  builtin / suite: %.1fx\n",
                (count / builtin.seconds) / (suiteCount / suite.seconds));
    fillFolder(folder, count, 20, with, without);
    report("workbooks 1 in 20 hold it, --engine builtin", count,
           replace(registry, app, folder, "builtin", {}, true));
    fillFolder(folder, count, 20, with, without);
    report("workbooks 1 in 20 hold it, --engine auto", count,
           replace(registry, app, folder, "auto", {}, true));
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(40, std::atoi(argv[1])) : 1000;
    const int suiteCount = std::max(20, count / 25);
    const auto workspace = bench_support::makeWorkspace("builtin-bench", false);
    if (!workspace)
        return 0;
    const fs::path& root = workspace->root;
    const fs::path& profile = workspace->profile;
    const fs::path& log = workspace->log;
    const fs::path app = root / "app";
    fs::create_directories(app);

    std::cout << "Making the documents in " << root << " ...\n" << std::flush;
    const fs::path sources = root / "sources";
    fs::create_directories(sources);
    bench_support::write(sources / "with.fodt", bench_support::flatText(documentBody(30, true)));
    bench_support::write(sources / "without.fodt",
                         bench_support::flatText(documentBody(30, false)));
    const fs::path made = root / "made";
    bench_support::convert(profile, {sources / "with.fodt", sources / "without.fodt"}, "docx", made,
                           log);
    const fs::path with = made / "with.docx", without = made / "without.docx";
    if (!fs::exists(with) || !fs::exists(without)) {
        std::cout << "The office did not make the documents (see " << log << ").\n";
        return 1;
    }
    std::cout << "Document size: " << fs::file_size(with) << " bytes\n";

    std::printf("%-44s %20.1f docs/s\n", "the engine alone, in memory, replacing",
                engineAlone(with, 2000));

    automation::Registry registry;
    libreoffice::registerClasses(registry);
    const fs::path folder = root / "folder";

    fillFolder(folder, suiteCount, 1, with, without);
    const Run suite = replace(registry, app, folder, "suite");
    report("all hold the text, --engine suite", suiteCount, suite);
    fillFolder(folder, count, 1, with, without);
    const Run builtin = replace(registry, app, folder, "builtin");
    report("all hold the text, --engine builtin", count, builtin);
    std::printf("  builtin / suite: %.1fx\n",
                (count / builtin.seconds) / (suiteCount / suite.seconds));
    // Both runs above keep backups, as runs do by default; without them the
    // engine's own share shows.
    fillFolder(folder, suiteCount, 1, with, without);
    const Run suiteBare = replace(registry, app, folder, "suite", {"--no-backup"});
    report("all hold the text, suite, --no-backup", suiteCount, suiteBare);
    fillFolder(folder, count, 1, with, without);
    const Run builtinBare = replace(registry, app, folder, "builtin", {"--no-backup"});
    report("all hold the text, builtin, --no-backup", count, builtinBare);
    std::printf("  builtin / suite without backups: %.1fx\n",
                (count / builtinBare.seconds) / (suiteCount / suiteBare.seconds));

    fillFolder(folder, count, 20, with, without);
    report("1 in 20 holds the text, --engine builtin", count,
           replace(registry, app, folder, "builtin"));
    fillFolder(folder, count, 20, with, without);
    report("1 in 20 holds the text, --engine auto", count, replace(registry, app, folder, "auto"));
    fillFolder(folder, count, 20, with, without);
    report("1 in 20 holds the text, builtin, --jobs 2", count,
           replace(registry, app, folder, "builtin", {"--jobs", "2"}));
    fillFolder(folder, count, 1, with, without);
    report("all hold the text, builtin, --jobs 2", count,
           replace(registry, app, folder, "builtin", {"--jobs", "2"}));
    workbooks(registry, root, profile, count, suiteCount);
    fs::remove_all(root);
    return 0;
}
