#include "cli/cli.h"
#include "core/text/paths.h"

#include "core/backup/backup_store.h"
#include "core/backup/keeping.h"
#include "core/backup/undo.h"
#include "core/detection/suite_detection.h"
#include "core/documents/folder_listing.h"
#include "core/engines/builtin_engines.h"
#include "core/engines/pairs_file.h"
#include "core/engines/prescan.h"
#include "core/engines/run.h"
#include "core/journal.h"
#include "core/report/run_report.h"

#include "batchreplace_version.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <thread>

namespace cli {

namespace {

struct UsageError {
    std::string message;
};

// The options of one command line: `--name value` pairs and `--flag`s.
class Options {
public:
    Options(const std::vector<std::string>& args, const std::set<std::string>& withValue,
            const std::set<std::string>& flags) {
        for (size_t i = 0; i < args.size(); ++i) {
            const std::string& a = args[i];
            if (withValue.count(a)) {
                if (i + 1 >= args.size())
                    throw UsageError{"选项 " + a + " 后面缺少取值。"};
                if (values_.count(a))
                    throw UsageError{"选项 " + a + " 只能给一次。"};
                values_[a] = args[++i];
            } else if (flags.count(a)) {
                flags_.insert(a);
            } else if (a.rfind("--", 0) == 0) {
                throw UsageError{"不认识的选项 " + a + "。"};
            } else {
                throw UsageError{"多余的参数“" + a + "”。"};
            }
        }
    }

    std::optional<std::string> value(const std::string& name) const {
        auto it = values_.find(name);
        if (it == values_.end())
            return std::nullopt;
        return it->second;
    }
    std::string required(const std::string& name) const {
        auto v = value(name);
        if (!v)
            throw UsageError{"缺少选项 " + name + "。"};
        return *v;
    }
    bool flag(const std::string& name) const { return flags_.count(name) > 0; }

private:
    std::map<std::string, std::string> values_;
    std::set<std::string> flags_;
};

std::string oneOf(const Options& o, const std::string& name, const std::string& fallback,
                  const std::vector<std::string>& allowed) {
    const std::string v = o.value(name).value_or(fallback);
    for (const auto& a : allowed)
        if (v == a)
            return v;
    std::string list;
    for (const auto& a : allowed)
        list += (list.empty() ? "" : "、") + a;
    throw UsageError{"选项 " + name + " 的取值“" + v + "”无效，可用：" + list + "。"};
}

// Where a run reports on the command line: each line to standard output as
// the window's log box shows it (unless the report goes there instead), its
// entry to the journal, progress to standard error when that is a terminal.
class Console : public engines::RunReporter {
public:
    Console(std::ostream& out, std::ostream& err, bool progress, journal::Journal journal,
            std::size_t documents, bool printLines)
        : out_(out), err_(err), progress_(progress), journal_(std::move(journal)),
          documents_(documents), printLines_(printLines) {}

    int failures = 0;

    void documentStarted(std::size_t index, const std::string& document) override {
        if (progress_)
            err_ << "[" << index + 1 << "/" << documents_ << "] " << document << std::endl;
    }
    void result(const engines::ResultLine& line) override {
        if (printLines_)
            out_ << line.log << "\n" << std::flush;
        // A journal entry that cannot be written is skipped, as in the window.
        (void)journal_.rz(line.journal);
        failures += line.failure ? 1 : 0;
    }
    void documentFinished(std::size_t, const engines::DocumentOutcome&) override {}

private:
    std::ostream& out_;
    std::ostream& err_;
    bool progress_;
    journal::Journal journal_;
    std::size_t documents_;
    bool printLines_;
};

// --jobs: a number from 0 (one per core) to 64.
std::size_t jobsOf(const Options& o, std::size_t documents) {
    const std::string v = o.value("--jobs").value_or("1");
    std::size_t jobs = 0;
    bool valid = !v.empty() && v.size() <= 2;
    for (const char c : v)
        valid = valid && c >= '0' && c <= '9';
    if (valid)
        jobs = std::stoul(v);
    if (!valid || jobs > 64)
        throw UsageError{"选项 --jobs 的取值“" + v +
                         "”无效：应为 0 到 64 的整数（0 表示每个处理器核一个）。"};
    if (jobs == 0)
        jobs = std::max(1u, std::thread::hardware_concurrency());
    return std::max<std::size_t>(1, std::min(jobs, documents));
}

// The detection's journal; the mode options do not exist here.
class DetectionJournal : public detection::DetectionView {
public:
    explicit DetectionJournal(journal::Journal journal) : journal_(std::move(journal)) {}
    void setModeEnabled(detection::DocumentMode, bool) override {}
    void writeJournal(const std::string& entry) override { (void)journal_.rz(entry); }

private:
    journal::Journal journal_;
};

std::filesystem::path appFolderOf(const Options& o, const Environment& env) {
    if (auto v = o.value("--app-folder"))
        return text::pathFromUtf8(*v);
    return env.defaultAppFolder;
}

// The documents of a run: the folder's files of the operation's kind (or of
// the formats --formats names), with --recursive those of its subfolders too
// (paths relative to the folder), as the window's file list shows them. The
// application folder and its backups are never listed. Subfolders that cannot
// be read are named on standard error.
struct Listing {
    std::vector<std::string> documents;
    std::vector<std::string> formats; // "doc", "docx", ...
};

Listing listedDocuments(const Options& o, const std::string& folder, documents::DocumentKind kind,
                        const Environment& env, std::ostream& err) {
    std::string pattern(kind == documents::DocumentKind::Word ? documents::kWordDocumentsPattern
                                                              : documents::kWorkbooksPattern);
    if (const auto formats = o.value("--formats")) {
        std::string error;
        if (!documents::patternForFormats(kind, *formats, pattern, error))
            throw UsageError{error};
    }
    Listing listing;
    for (std::size_t at = 0; at < pattern.size();) {
        const std::size_t end = std::min(pattern.find(';', at), pattern.size());
        listing.formats.push_back(pattern.substr(at + 2, end - at - 2)); // after "*."
        at = end + 1;
    }

    const std::filesystem::path dir = text::pathFromUtf8(folder);
    std::error_code ec;
    if (!std::filesystem::exists(dir, ec))
        throw UsageError{"找不到文件夹“" + folder + "”。"};
    if (!std::filesystem::is_directory(dir, ec))
        throw UsageError{"“" + folder + "”不是文件夹。"};
    documents::ListingOptions options;
    options.subfolders = o.flag("--recursive");
    options.excludedFolders = documents::programFolders(appFolderOf(o, env));
    try {
        documents::DocumentListing found = documents::listDocuments(dir, pattern, options);
        listing.documents = std::move(found.files);
        for (const std::string& warning : found.warnings)
            err << "batchreplace-cli：" << warning << "\n";
    } catch (const std::filesystem::filesystem_error& e) {
        throw UsageError{"无法读取文件夹“" + folder + "”：" + e.code().message() + "。"};
    }
    if (listing.documents.empty()) {
        std::string kinds;
        for (const std::string& format : listing.formats)
            kinds += (kinds.empty() ? "." : "、.") + format;
        throw UsageError{"文件夹“" + folder + "”中" +
                         (options.subfolders ? "（包括子文件夹）" : "") + "没有 " + kinds +
                         " 文件。"};
    }
    return listing;
}

int detect(const Options& o, std::ostream& out, const Environment& env) {
    DetectionJournal journal{journal::Journal(appFolderOf(o, env))};
    // The label's lines; an empty first line (the caption began with a line
    // break) shows nothing.
    for (const std::string& line : detection::detectSuites(env.registry, journal))
        if (!line.empty())
            out << line << "\n";
    return kAllProcessed;
}

// The replacements: --find and --replace, or a table given by --pairs.
std::vector<engines::ReplacePair> pairsOf(const Options& o) {
    const auto table = o.value("--pairs");
    if (!table)
        return {{o.required("--find"), o.required("--replace")}};
    if (o.value("--find") || o.value("--replace"))
        throw UsageError{
            "--pairs 不能和 --find、--replace 一起用：替换表里已经写了原内容和新内容。"};
    std::vector<engines::ReplacePair> pairs;
    std::string error;
    if (!engines::readPairsFile(text::pathFromUtf8(*table), pairs, error))
        throw UsageError{error};
    return pairs;
}

// Runs `request` with its documents listed and reports to the console and,
// with --report, to the report.
int runRequest(const engines::RunRequest& request, const Options& o, std::ostream& out,
               std::ostream& err, const Environment& env, report::ReportInputs inputs) {
    const auto reportFile = o.value("--report");
    const bool reportOnOutput = reportFile && *reportFile == "-";
    Console console(out, err, env.progressOnStderr, journal::Journal(appFolderOf(o, env)),
                    request.documents.size(), !reportOnOutput);
    engines::RunServices services{env.registry};
    const std::filesystem::path appFolder = appFolderOf(o, env);
    // The originals of the documents the run changes, unless the run changes
    // none (--dry-run) or the user said no; expired runs go first.
    std::optional<backup::BackupStore> store;
    if (!request.dryRun && !o.flag("--no-backup")) {
        for (const std::string& line : backup::keepStoreWithinLimits(appFolder))
            err << "batchreplace-cli：" << line << "\n";
        store.emplace(appFolder, backup::operationLabel(request.operation), request.folder);
        services.backups = &*store;
    }
    inputs.prescan =
        request.operation != engines::Operation::HeaderFooter && !o.flag("--no-prescan");
    if (inputs.prescan)
        services.prescan = &engines::filePrescan();
    if (request.operation != engines::Operation::HeaderFooter)
        services.builtin = &engines::builtinEngines();
    inputs.backups = services.backups != nullptr;
    inputs.program = "batchreplace-cli " + versionText();
    report::RunReport runReport(&console, request, std::move(inputs));
    if (reportFile && !reportOnOutput && !runReport.writeTo(text::pathFromUtf8(*reportFile)))
        throw UsageError{runReport.writeError()};

    runReport.finish(engines::run(request, services, runReport));
    if (store)
        if (const auto line = store->journalLine())
            (void)journal::Journal(appFolder).rz(*line);
    if (reportOnOutput)
        out << runReport.json() << std::flush;
    if (!runReport.writeError().empty()) {
        err << "batchreplace-cli：" << runReport.writeError() << "\n";
        return kSomeFailed;
    }
    return console.failures > 0 ? kSomeFailed : kAllProcessed;
}

// The runs kept in the backup store, oldest first, one line each.
int runs(const Options& o, std::ostream& out, const Environment& env) {
    const std::vector<backup::KeptRun> kept = backup::keptRuns(appFolderOf(o, env));
    if (kept.empty())
        out << "备份中没有保留的运行。\n";
    for (const backup::KeptRun& run : kept) {
        const auto& header = run.manifest.header;
        out << run.id << "\t" << (header ? backup::localTimeText(header->time) : "") << "\t"
            << (header ? header->operation : "") << "\t" << (header ? header->folder : "")
            << "\t修改了 " << backup::documentsChanged(run.manifest) << " 个文档"
            << (run.manifest.undone ? "（已撤销）" : "") << "\n";
    }
    return kAllProcessed;
}

// Undoes the last run, or the one named; each line to standard output and
// the journal.
int undo(const std::vector<std::string>& args, std::ostream& out, const Environment& env) {
    std::vector<std::string> rest = args;
    std::optional<std::string> id;
    if (!rest.empty() && rest[0].rfind("--", 0) != 0) {
        id = rest[0];
        rest.erase(rest.begin());
    }
    const Options o(rest, {"--app-folder"}, {});
    const std::filesystem::path appFolder = appFolderOf(o, env);
    const backup::UndoResult result =
        id ? backup::undoRun(appFolder, *id) : backup::undoLastRun(appFolder);
    const journal::Journal journal(appFolder);
    for (const std::string& line : result.lines) {
        out << line << "\n";
        (void)journal.rz(line);
    }
    return result.anyLeftAlone ? kSomeFailed : kAllProcessed;
}

int replace(const std::string& command, const Options& o, std::ostream& out, std::ostream& err,
            const Environment& env) {
    const bool word = command == "word-replace";
    engines::RunRequest request;
    request.operation = word ? engines::Operation::WordReplace : engines::Operation::ExcelReplace;
    const std::string suite = oneOf(o, "--suite", "office", {"office", "wps"});
    if (word)
        request.mode = suite == "office" ? engines::Mode::WordDoc : engines::Mode::WpsDoc;
    else
        request.mode = suite == "office" ? engines::Mode::ExcelXls : engines::Mode::WpsXls;
    request.pairs = pairsOf(o);
    request.dryRun = o.flag("--dry-run");
    const std::string engine = oneOf(o, "--engine", "auto", {"auto", "builtin", "suite"});
    request.engine = engine == "builtin" ? engines::EngineChoice::Builtin
                     : engine == "suite" ? engines::EngineChoice::Suite
                                         : engines::EngineChoice::Auto;
    request.folder = o.required("--folder");
    Listing listing = listedDocuments(
        o, request.folder, word ? documents::DocumentKind::Word : documents::DocumentKind::Excel,
        env, err);
    request.documents = std::move(listing.documents);
    request.jobs = jobsOf(o, request.documents.size());
    report::ReportInputs inputs;
    inputs.formats = std::move(listing.formats);
    inputs.recursive = o.flag("--recursive");
    return runRequest(request, o, out, err, env, inputs);
}

int headerFooter(const Options& o, std::ostream& out, std::ostream& err, const Environment& env) {
    engines::RunRequest request;
    request.operation = engines::Operation::HeaderFooter;
    request.mode = engines::Mode::WordDoc;
    engines::HeaderFooterSettings& settings = request.headerFooter;
    const auto header = o.value("--header");
    const auto footer = o.value("--footer");
    if (header.has_value() == footer.has_value())
        throw UsageError{"请给出 --header 或 --footer 中的一个。"};
    const std::vector<std::string> placements{"居中", "居左", "居右"};
    if (header) {
        settings.header = true;
        settings.headerText = *header;
        settings.headerPlacement = oneOf(o, "--align", "居中", placements);
        if (o.value("--page-number"))
            throw UsageError{"页码只能加在页脚里：--page-number 要和 --footer 一起用。"};
    } else {
        settings.footer = true;
        settings.footerText = *footer;
        settings.footerPlacement = oneOf(o, "--align", "居左", placements);
        if (o.value("--page-number")) {
            settings.pageNumber = true;
            settings.pageNumberPlacement =
                oneOf(o, "--page-number", "居中1", {"居中1", "居中2", "居左", "居右"});
        }
    }
    settings.fontName = o.value("--font").value_or("宋体");
    settings.fontSize = o.value("--size").value_or("10");
    settings.bold = o.flag("--bold");
    request.folder = o.required("--folder");
    Listing listing = listedDocuments(o, request.folder, documents::DocumentKind::Word, env, err);
    request.documents = std::move(listing.documents);
    report::ReportInputs inputs;
    inputs.formats = std::move(listing.formats);
    inputs.recursive = o.flag("--recursive");
    return runRequest(request, o, out, err, env, inputs);
}

} // namespace

std::string versionText() {
    return std::to_string(build_version::major) + "." + std::to_string(build_version::minor) + "." +
           std::to_string(build_version::revision);
}

std::string usage() {
    return "用法：\n"
           "  batchreplace-cli word-replace  --folder 文件夹 (--find 原内容 --replace 新内容 | "
           "--pairs 替换表)\n"
           "                   [--suite office|wps] [--engine auto|builtin|suite] [--dry-run]\n"
           "                   [--no-prescan] [--jobs N]\n"
           "  batchreplace-cli excel-replace --folder 文件夹 (--find 原内容 --replace 新内容 | "
           "--pairs 替换表)\n"
           "                   [--suite office|wps] [--engine auto|builtin|suite] [--dry-run]\n"
           "                   [--no-prescan] [--jobs N]\n"
           "  batchreplace-cli header-footer --folder 文件夹 (--header 页眉内容 | --footer "
           "页脚内容)\n"
           "                   [--align 居中|居左|居右] [--page-number 居中1|居中2|居左|居右]\n"
           "                   [--font 字体] [--size 字号] [--bold]\n"
           "  以上三个命令都可加 [--formats 格式,...] [--recursive] [--report 文件|-] "
           "[--no-backup]\n"
           "  batchreplace-cli runs\n"
           "  batchreplace-cli undo [运行]\n"
           "  batchreplace-cli detect\n"
           "  batchreplace-cli --help | --version\n"
           "每个命令都可加 --app-folder 文件夹：日志写入该文件夹下的 Journal（默认为程序所在"
           "文件夹；安装到系统中的程序为 ~/.local/share/batchreplace）。\n"
           "Word 文档为 .doc、.docx、.docm，Excel 工作簿为 .xls、.xlsx、.xlsm；--formats docx,doc "
           "只处理\n"
           "所列格式。--recursive 连同子文件夹一起处理（不进入指向别处的链接、隐藏文件夹和程序的\n"
           "应用程序文件夹），结果行写出相对于所选文件夹的路径。\n"
           "--pairs 替换表：一次替换多对内容。替换表为 UTF-8 文本，每行“原内容<Tab>新内容”，\n"
           "空行和以 # 开头的行跳过；各对按顺序依次替换，每个文档只打开、保存一次。\n"
           "--dry-run 只查找并报告含有原内容的文档（工作表），不修改、不保存任何文档。\n"
           "--report 文件：把本次运行写成 JSON 报告（输入、每个文档的结果行、是否修改、由谁处理、\n"
           "用时、备份），每处理完一个文档就整体重写一次；--report - 把报告写到标准输出，\n"
           "代替结果行。\n"
           "--engine：.docx、.docm、.xlsx、.xlsm 默认（auto）由程序自带的引擎直接修改文件，只改动\n"
           "要替换的文字，不需要办公软件；自带引擎做不到同样结果的文档和其他格式交给办公软件。\n"
           "builtin 只用自带引擎、从不启动办公软件（做不到的文档报失败、保持原样），suite "
           "全部交给\n"
           "办公软件。\n"
           "替换前先读文件本身，肯定不含原内容的文档不交给办公软件打开；--no-prescan 关闭这一步。\n"
           "--jobs N 同时运行 N 个办公软件实例处理文档（0 表示每个处理器核一个，默认 1）；\n"
           "输出和日志仍按文件列表的顺序。\n"
           "修改文档之前，先把原件备份到应用程序文件夹的“备份”文件夹（每次运行一个子文件夹，\n"
           "只备份真正修改的文档）；--no-backup 本次不备份（不能撤销）。runs "
           "列出保留的运行（编号、\n"
           "时间、操作、文件夹、修改的文档数）；undo 撤销最近一次运行（或指定编号的运行）：仍是\n"
           "该次运行结果的文档恢复为原件（连同修改时间），之后又被修改、移动或删除的文档保持不动\n"
           "并逐个说明。保留期限和容量上限在 toconfigure/备份设置.ini 中设置（默认 30 天、2048 "
           "MB）。\n"
           "退出码：0 全部处理完成，1 有文档处理失败（undo：有文档没有还原），2 参数错误。\n";
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const Environment& env) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? err : out) << usage();
        return args.empty() ? kUsageError : kAllProcessed;
    }
    if (args[0] == "--version") {
        out << "batchreplace-cli " << versionText() << "\n";
        return kAllProcessed;
    }
    const std::string command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    try {
        if (command == "detect")
            return detect(Options(rest, {"--app-folder"}, {}), out, env);
        if (command == "word-replace" || command == "excel-replace")
            return replace(command,
                           Options(rest,
                                   {"--folder", "--find", "--replace", "--pairs", "--suite",
                                    "--app-folder", "--jobs", "--report", "--formats", "--engine"},
                                   {"--dry-run", "--no-prescan", "--recursive", "--no-backup"}),
                           out, err, env);
        if (command == "header-footer")
            return headerFooter(
                Options(rest,
                        {"--folder", "--header", "--footer", "--align", "--page-number", "--font",
                         "--size", "--app-folder", "--report", "--formats"},
                        {"--bold", "--recursive", "--no-backup"}),
                out, err, env);
        if (command == "runs")
            return runs(Options(rest, {"--app-folder"}, {}), out, env);
        if (command == "undo")
            return undo(rest, out, env);
        throw UsageError{"不认识的命令“" + command + "”。"};
    } catch (const UsageError& e) {
        err << "batchreplace-cli：" << e.message << "\n\n" << usage();
        return kUsageError;
    }
}

} // namespace cli
