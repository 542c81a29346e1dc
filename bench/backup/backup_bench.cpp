// Benchmark: what keeping the originals costs a replace run through the
// office. The same folder of .doc (and .xls) files, every one holding the
// text, is replaced with backups and without, in alternation, from a fresh
// copy each time; prints the times and the overhead (target: under 15%), and
// the same for .docx files through our own engine, where no office hides it.
//
//   backup_bench [files per folder, default 40] [rounds, default 2]

#include "bench/support/office_files.h"
#include "core/backup/backup_store.h"
#include "core/engines/builtin_engines.h"
#include "core/engines/change_keeper.h"
#include "core/engines/run.h"
#include "suites/libreoffice/libreoffice_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

class Tally : public engines::RunReporter {
public:
    int failed = 0;
    void documentStarted(std::size_t, const std::string&) override {}
    void result(const engines::ResultLine& line) override { failed += line.failure ? 1 : 0; }
    void documentFinished(std::size_t, const engines::DocumentOutcome&) override {}
};

std::string documentBody(int i) {
    std::ostringstream body;
    for (int p = 0; p < 12; ++p)
        body << "<text:p>第 " << i << " 号文档第 " << p
             << " 段：本段文字用于测试备份的开销。 An apple here.</text:p>";
    return body.str();
}

std::string workbookTables() {
    std::ostringstream tables;
    for (int s = 1; s <= 3; ++s) {
        tables << "<table:table table:name=\"Sheet" << s << "\">";
        for (int r = 0; r < 20; ++r) {
            tables << "<table:table-row>";
            for (int c = 0; c < 5; ++c)
                tables << "<table:table-cell office:value-type=\"string\"><text:p>R" << r << "C"
                       << c << (r == 7 ? " apple" : " 数据") << "</text:p></table:table-cell>";
            tables << "</table:table-row>";
        }
        tables << "</table:table>";
    }
    return tables.str();
}

// Passes every call on to the store and adds up the time spent in it: the
// part of the overhead that is the store's own, without the office's noise.
class TimedKeeper : public engines::ChangeKeeper {
public:
    explicit TimedKeeper(engines::ChangeKeeper& store) : store_(store) {}
    double seconds = 0;

    bool beforeChange(const fs::path& document, std::string& error) override {
        const auto start = Clock::now();
        const bool kept = store_.beforeChange(document, error);
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
        return kept;
    }
    void afterChange(const fs::path& document) override {
        const auto start = Clock::now();
        store_.afterChange(document);
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
    }
    fs::path backupOf(const fs::path& document) const override { return store_.backupOf(document); }

private:
    engines::ChangeKeeper& store_;
};

struct Measured {
    double seconds = 0;
    double inStore = 0;
    int failed = 0;
};

// One run over a fresh copy of `pristine`; with `app` the originals are kept there.
Measured runOnce(const automation::Registry& registry, engines::Operation operation,
                 engines::Mode mode, engines::EngineChoice engine, const fs::path& pristine,
                 const fs::path& work, const std::optional<fs::path>& app) {
    fs::remove_all(work);
    fs::copy(pristine, work);
    engines::RunRequest request;
    request.operation = operation;
    request.mode = mode;
    request.folder = work.string();
    for (const auto& e : fs::directory_iterator(work))
        request.documents.push_back(e.path().filename().string());
    std::sort(request.documents.begin(), request.documents.end());
    request.pairs = {{"apple", "pear"}};
    request.engine = engine;

    std::optional<backup::BackupStore> store;
    std::optional<TimedKeeper> timed;
    engines::RunServices services{registry};
    if (engine == engines::EngineChoice::Builtin)
        services.builtin = &engines::builtinEngines();
    if (app) {
        store.emplace(*app, backup::operationLabel(operation), request.folder);
        timed.emplace(*store);
        services.backups = &*timed;
    }
    Tally tally;
    const auto start = Clock::now();
    engines::run(request, services, tally);
    return {std::chrono::duration<double>(Clock::now() - start).count(), timed ? timed->seconds : 0,
            tally.failed};
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
    const auto workspace = bench_support::makeWorkspace("backup-bench", true);
    if (!workspace)
        return 0;
    const fs::path& root = workspace->root;
    const fs::path& profile = workspace->profile;
    const fs::path& log = workspace->log;

    std::cout << "Making " << count << " .doc and " << count << " .xls files in " << root
              << " ...\n";
    const fs::path sources = root / "sources";
    fs::create_directories(sources);
    std::vector<fs::path> texts, sheets;
    for (int i = 0; i < count; ++i) {
        texts.push_back(sources / ("doc" + std::to_string(1000 + i) + ".fodt"));
        bench_support::write(texts.back(), bench_support::flatText(documentBody(i)));
        sheets.push_back(sources / ("book" + std::to_string(1000 + i) + ".fods"));
        bench_support::write(sheets.back(), bench_support::flatSpreadsheet(workbookTables()));
    }
    const fs::path words = root / "word", books = root / "excel", ooxml = root / "docx";
    bench_support::convert(profile, texts, "doc", words, log);
    bench_support::convert(profile, texts, "docx", ooxml, log);
    bench_support::convert(profile, sheets, "xls", books, log);

    automation::Registry registry;
    libreoffice::registerClasses(registry);
    std::printf("\nLibreOffice %s, %d files per folder, the text in every file, %d rounds\n",
                workspace->officeVersion.c_str(), count, rounds);
    std::printf("%-16s %12s %12s %10s %14s %10s\n", "", "without (s)", "with (s)", "overhead",
                "in store (s)", "of run");
    const struct {
        const char* name;
        engines::Operation operation;
        engines::Mode mode;
        engines::EngineChoice engine;
        fs::path folder;
    } cases[] = {
        {"Word replace", engines::Operation::WordReplace, engines::Mode::WordDoc,
         engines::EngineChoice::Suite, words},
        {"Excel replace", engines::Operation::ExcelReplace, engines::Mode::ExcelXls,
         engines::EngineChoice::Suite, books},
        // For comparison: no office, so the copies weigh far more.
        {".docx, own engine", engines::Operation::WordReplace, engines::Mode::WordDoc,
         engines::EngineChoice::Builtin, ooxml},
    };
    int failed = 0;
    for (const auto& c : cases) {
        // Not counted: the first start of the office and the first reads.
        failed +=
            runOnce(registry, c.operation, c.mode, c.engine, c.folder, root / "work", std::nullopt)
                .failed;
        double without = 0, with = 0, inStore = 0;
        for (int r = 0; r < rounds; ++r) {
            // Alternated, so that a warmer disk cache or office favours neither.
            const Measured a = runOnce(registry, c.operation, c.mode, c.engine, c.folder,
                                       root / "work", std::nullopt);
            const Measured b = runOnce(registry, c.operation, c.mode, c.engine, c.folder,
                                       root / "work", root / ("app" + std::to_string(r)));
            without += a.seconds;
            with += b.seconds;
            inStore += b.inStore;
            failed += a.failed + b.failed;
        }
        std::printf("%-16s %12.2f %12.2f %9.1f%% %14.3f %9.1f%%\n", c.name, without / rounds,
                    with / rounds, 100.0 * (with - without) / without, inStore / rounds,
                    100.0 * inStore / with);
    }
    if (failed)
        std::printf("%d documents failed (see %s)\n", failed, log.c_str());
    fs::remove_all(root);
    return failed ? 1 : 0;
}
