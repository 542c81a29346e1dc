#include "cli/cli.h"
#include "core/text/paths.h"

#include "core/detection/suite_detection.h"
#include "core/documents/folder_listing.h"
#include "core/engines/excel_replace.h"
#include "core/engines/fixed_inputs.h"
#include "core/engines/header_footer.h"
#include "core/engines/prescan.h"
#include "core/engines/run_inputs.h"
#include "core/engines/word_replace.h"
#include "core/journal.h"

#include "batchreplace_version.h"

#include <map>
#include <mutex>
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

// The command-line counterpart of the window: fixed inputs, log lines to
// standard output, entries to the journal, failures counted.
class Console : public engines::FixedInputs, public engines::Reporter {
public:
    Console(std::ostream& out, std::ostream& err, bool progress, journal::Journal journal)
        : out_(out), err_(err), progress_(progress), journal_(std::move(journal)) {}

    int failures = 0;

    std::string fileName(int index) const override {
        const std::string name = FixedInputs::fileName(index);
        // Each document's turn starts by reading its name.
        if (progress_ && index != lastProgress_) {
            lastProgress_ = index;
            err_ << "[" << index + 1 << "/" << files.size() << "] " << name << std::endl;
        }
        return name;
    }

    void appendLogLine(const std::string& line) override { out_ << line << "\n" << std::flush; }
    // A journal entry that cannot be written is skipped, as in the window.
    void rz(const std::string& journalLine) override { (void)journal_.rz(journalLine); }

    bool progress() const { return progress_; }
    std::ostream& err() const { return err_; }
    journal::Journal& journal() { return journal_; }
    std::ostream& out() const { return out_; }

protected:
    void failureNoted() override { ++failures; }

private:
    std::ostream& out_;
    std::ostream& err_;
    bool progress_;
    mutable int lastProgress_ = -1;
    journal::Journal journal_;
};

// The results of parallel runs put back in list order: a document's lines
// are written once every document before it is done.
class OrderedResults {
public:
    OrderedResults(Console& console, std::size_t documents)
        : console_(console), pending_(documents), done_(documents, false) {}

    void add(std::size_t document, const std::string& logLine, const std::string& journalLine) {
        std::lock_guard lock(mutex_);
        if (document == next_)
            write(logLine, journalLine);
        else
            pending_[document].emplace_back(logLine, journalLine);
    }
    void finish(std::size_t document) {
        std::lock_guard lock(mutex_);
        done_[document] = true;
        while (next_ < done_.size() && done_[next_]) {
            ++next_;
            if (next_ < done_.size()) {
                for (const auto& [log, entry] : pending_[next_])
                    write(log, entry);
                pending_[next_].clear();
            }
        }
    }
    void failure() {
        std::lock_guard lock(mutex_);
        ++console_.failures;
    }
    void progress(std::size_t document) {
        std::lock_guard lock(mutex_);
        console_.err() << "[" << document + 1 << "/" << done_.size() << "] "
                       << console_.files[document] << std::endl;
    }

private:
    void write(const std::string& logLine, const std::string& journalLine) {
        console_.appendLogLine(logLine);
        console_.rz(journalLine);
    }

    Console& console_;
    std::mutex mutex_;
    std::vector<std::vector<std::pair<std::string, std::string>>> pending_;
    std::vector<bool> done_;
    std::size_t next_ = 0;
};

// One of `stride` runs side by side: the documents `first`, `first + stride`,
// ... of the list, reported through the ordered results.
class JobConsole : public engines::RunInputs, public engines::Reporter {
public:
    JobConsole(const Console& console, OrderedResults& results, std::size_t first,
               std::size_t stride)
        : console_(console), results_(results), first_(first), stride_(stride), current_(first) {}

    engines::Mode mode() const override { return console_.mode(); }
    std::string folderPath() const override { return console_.folderPath(); }
    int fileCount() const override {
        return static_cast<int>((console_.files.size() - first_ + stride_ - 1) / stride_);
    }
    std::string fileName(int index) const override {
        const std::size_t document = first_ + static_cast<std::size_t>(index) * stride_;
        if (document != current_ || !started_) {
            // The run has moved on: the documents before this one are done.
            for (; current_ < document; current_ += stride_)
                results_.finish(current_);
            started_ = true;
            if (console_.progress())
                results_.progress(document);
        }
        return console_.files.at(document);
    }
    std::string findText() const override { return console_.findText(); }
    std::string replacementText() const override { return console_.replacementText(); }
    bool dryRun() const override { return console_.dryRun(); }
    const engines::Prescan* prescan() const override { return console_.prescan(); }

    void appendLogLine(const std::string& line) override { logLine_ = line; }
    void rz(const std::string& journalLine) override {
        results_.add(current_, logLine_, journalLine);
    }

    // After the run: its remaining documents are done.
    void finishAll() {
        for (; current_ < console_.files.size(); current_ += stride_)
            results_.finish(current_);
    }

protected:
    void failureNoted() override { results_.failure(); }

private:
    const Console& console_;
    OrderedResults& results_;
    std::size_t first_, stride_;
    mutable std::size_t current_;
    mutable bool started_ = false;
    std::string logLine_;
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

// Runs `operation` over the listed documents in `jobs` runs side by side,
// each with its own application object.
void runInParallel(Console& console, std::size_t jobs,
                   void (*operation)(const engines::RunInputs&, engines::Reporter&,
                                     const automation::Registry&),
                   const automation::Registry& registry) {
    OrderedResults results(console, console.files.size());
    std::vector<std::unique_ptr<JobConsole>> consoles;
    for (std::size_t k = 0; k < jobs; ++k)
        consoles.push_back(std::make_unique<JobConsole>(console, results, k, jobs));
    std::vector<std::thread> threads;
    for (auto& job : consoles)
        threads.emplace_back([&, job = job.get()] {
            operation(*job, *job, registry);
            job->finishAll();
        });
    for (auto& t : threads)
        t.join();
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

// The folder's matching files, as the window's file list shows them.
std::vector<std::string> listedFiles(const std::string& folder, const char* pattern) {
    const std::filesystem::path dir = text::pathFromUtf8(folder);
    std::error_code ec;
    if (!std::filesystem::exists(dir, ec))
        throw UsageError{"找不到文件夹“" + folder + "”。"};
    if (!std::filesystem::is_directory(dir, ec))
        throw UsageError{"“" + folder + "”不是文件夹。"};
    std::vector<std::string> files;
    try {
        files = documents::listMatchingFiles(dir, pattern);
    } catch (const std::filesystem::filesystem_error& e) {
        throw UsageError{"无法读取文件夹“" + folder + "”：" + e.code().message() + "。"};
    }
    if (files.empty())
        throw UsageError{"文件夹“" + folder + "”中没有 " + pattern + " 文件。"};
    return files;
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

int replace(const std::string& command, const Options& o, std::ostream& out, std::ostream& err,
            const Environment& env) {
    const bool word = command == "word-replace";
    Console console(out, err, env.progressOnStderr, journal::Journal(appFolderOf(o, env)));
    const std::string suite = oneOf(o, "--suite", "office", {"office", "wps"});
    if (word)
        console.modeValue = suite == "office" ? engines::Mode::WordDoc : engines::Mode::WpsDoc;
    else
        console.modeValue = suite == "office" ? engines::Mode::ExcelXls : engines::Mode::WpsXls;
    console.find = o.required("--find");
    console.replacement = o.required("--replace");
    console.searchOnly = o.flag("--dry-run");
    console.folder = o.required("--folder");
    console.files = listedFiles(console.folder, word ? "*.doc" : "*.xls");
    if (!o.flag("--no-prescan"))
        console.prescanner = &engines::filePrescan();
    const std::size_t jobs = jobsOf(o, console.files.size());

    const auto operation = word ? &engines::wordReplace : &engines::excelReplace;
    if (jobs == 1)
        operation(console, console, env.registry);
    else
        runInParallel(console, jobs, operation, env.registry);
    return console.failures > 0 ? kSomeFailed : kAllProcessed;
}

int headerFooter(const Options& o, std::ostream& out, std::ostream& err, const Environment& env) {
    Console console(out, err, env.progressOnStderr, journal::Journal(appFolderOf(o, env)));
    console.modeValue = engines::Mode::WordDoc;
    const auto header = o.value("--header");
    const auto footer = o.value("--footer");
    if (header.has_value() == footer.has_value())
        throw UsageError{"请给出 --header 或 --footer 中的一个。"};
    const std::vector<std::string> placements{"居中", "居左", "居右"};
    if (header) {
        console.header = true;
        console.headerContent = *header;
        console.headerAlign = oneOf(o, "--align", "居中", placements);
        if (o.value("--page-number"))
            throw UsageError{"页码只能加在页脚里：--page-number 要和 --footer 一起用。"};
    } else {
        console.footer = true;
        console.footerContent = *footer;
        console.footerAlign = oneOf(o, "--align", "居左", placements);
        if (o.value("--page-number")) {
            console.pageNumber = true;
            console.pageNumberAlign =
                oneOf(o, "--page-number", "居中1", {"居中1", "居中2", "居左", "居右"});
        }
    }
    console.font = o.value("--font").value_or("宋体");
    console.size = o.value("--size").value_or("10");
    console.bold = o.flag("--bold");
    console.folder = o.required("--folder");
    console.files = listedFiles(console.folder, "*.doc");

    engines::writeHeadersAndFooters(console, console, console, env.registry);
    return console.failures > 0 ? kSomeFailed : kAllProcessed;
}

} // namespace

std::string versionText() {
    return std::to_string(build_version::major) + "." + std::to_string(build_version::minor) + "." +
           std::to_string(build_version::revision);
}

std::string usage() {
    return "用法：\n"
           "  batchreplace-cli word-replace  --folder 文件夹 --find 原内容 --replace 新内容 "
           "[--suite office|wps] [--dry-run]\n"
           "                   [--no-prescan] [--jobs N]\n"
           "  batchreplace-cli excel-replace --folder 文件夹 --find 原内容 --replace 新内容 "
           "[--suite office|wps] [--dry-run]\n"
           "                   [--no-prescan] [--jobs N]\n"
           "  batchreplace-cli header-footer --folder 文件夹 (--header 页眉内容 | --footer "
           "页脚内容)\n"
           "                   [--align 居中|居左|居右] [--page-number 居中1|居中2|居左|居右]\n"
           "                   [--font 字体] [--size 字号] [--bold]\n"
           "  batchreplace-cli detect\n"
           "  batchreplace-cli --help | --version\n"
           "每个命令都可加 --app-folder 文件夹：日志写入该文件夹下的 Journal（默认为程序所在"
           "文件夹；安装到系统中的程序为 ~/.local/share/batchreplace）。\n"
           "--dry-run 只查找并报告含有原内容的文档（工作表），不修改、不保存任何文档。\n"
           "替换前先读文件本身，肯定不含原内容的文档不交给办公软件打开；--no-prescan 关闭这一步。\n"
           "--jobs N 同时运行 N 个办公软件实例处理文档（0 表示每个处理器核一个，默认 1）；\n"
           "输出和日志仍按文件列表的顺序。\n"
           "退出码：0 全部处理完成，1 有文档处理失败，2 参数错误。\n";
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
            return replace(
                command,
                Options(rest,
                        {"--folder", "--find", "--replace", "--suite", "--app-folder", "--jobs"},
                        {"--dry-run", "--no-prescan"}),
                out, err, env);
        if (command == "header-footer")
            return headerFooter(Options(rest,
                                        {"--folder", "--header", "--footer", "--align",
                                         "--page-number", "--font", "--size", "--app-folder"},
                                        {"--bold"}),
                                out, err, env);
        throw UsageError{"不认识的命令“" + command + "”。"};
    } catch (const UsageError& e) {
        err << "batchreplace-cli：" << e.message << "\n\n" << usage();
        return kUsageError;
    }
}

} // namespace cli
