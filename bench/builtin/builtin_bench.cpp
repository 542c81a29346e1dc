// Benchmark: our own Word engine against the office suite, through the
// command line, on small .docx files the office makes at the start.
//
// - a folder where every document holds the text: --engine builtin against
//   --engine suite (fewer documents: the office is slow), documents per second;
// - a folder where 1 in 20 holds it: --engine builtin and --engine auto, with
//   the prescan as a run has it.
//
//   builtin_bench [files per folder, default 1000]

#include "bench/support/office_files.h"
#include "cli/cli.h"
#include "core/engines/builtin_word.h"
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

void fillFolder(const fs::path& folder, int count, int every, const fs::path& with,
                const fs::path& without) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "f%04d.docx", i);
        fs::copy_file(i % every == 0 ? with : without, folder / name);
    }
}

struct Run {
    double seconds = 0;
    int status = 0;
    std::size_t replaced = 0;
};

Run replace(const automation::Registry& registry, const fs::path& app, const fs::path& folder,
            const std::string& engine, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"word-replace", "--folder",     folder.string(), "--find",
                                  kText,          "--replace",    "新公司名称",    "--engine",
                                  engine,         "--app-folder", app.string()};
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

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(40, std::atoi(argv[1])) : 1000;
    const int suiteCount = std::max(20, count / 25);
    const auto installation = libreoffice::findInstallation();
    if (!installation || !installation->writer) {
        std::cout << "LibreOffice Writer is not installed; nothing to measure.\n";
        return 0;
    }
    char rootTemplate[] = "/tmp/batchreplace-builtin-bench-XXXXXX";
    const fs::path root = ::mkdtemp(rootTemplate);
    const fs::path profile = root / "convert-profile";
    libreoffice::prepareProfile(profile, installation->version);
    const fs::path log = root / "soffice.log";
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
    fs::remove_all(root);
    return 0;
}
