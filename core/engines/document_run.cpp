#include "core/engines/document_run.h"

#include "core/engines/builtin_engine.h"
#include "core/engines/change_keeper.h"
#include "core/platform/atomic_save.h"
#include "core/text/paths.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace engines {

namespace {

// Our own engine reads a document whole; larger files go to the suite.
constexpr std::uintmax_t kBuiltinMaxFileSize = 512u << 20;

std::string startFailureLine(const SuiteClass& suite, const std::string& className,
                             const std::string& description) {
    return "无法启动 " + suite.label + "（" + className + "）：" + description;
}

// Reads the whole file; false with a sentence when it cannot.
bool readWhole(const std::string& path, std::string& content, std::string& error) {
    const auto file = text::pathFromUtf8(path);
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) {
        error = "无法读取文件" + text::quotedPath(file) + "：" + ec.message() + "。";
        return false;
    }
    if (size > kBuiltinMaxFileSize) {
        error = "文件" + text::quotedPath(file) + "太大，内置引擎不处理。";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        error = "无法读取文件" + text::quotedPath(file) + "。";
        return false;
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------- the suite

SuiteSession::SuiteSession(const automation::Registry& registry, SuiteClass suite,
                           std::shared_ptr<std::atomic<bool>> cannotStart)
    : registry_(registry), suite_(std::move(suite)), cannotStart_(std::move(cannotStart)) {}

automation::Object SuiteSession::application(LineSink& sink) {
    if (!application_.isNothing() || cannotStart_->load())
        return application_;
    std::string attempted = suite_.className;
    try {
        try {
            application_ = registry_.create(suite_.className);
            return application_;
        } catch (const automation::Error& e) {
            if (e.number != automation::errors::CannotCreateObject ||
                suite_.fallbackClassName.empty())
                throw;
        }
        attempted = suite_.fallbackClassName;
        application_ = registry_.create(suite_.fallbackClassName);
    } catch (const std::exception& e) {
        cannotStart_->store(true);
        const std::string line = startFailureLine(suite_, attempted, describeError(e));
        sink.line({line, line, true, std::nullopt});
    }
    return application_;
}

void SuiteSession::quit(LineSink& sink) {
    if (application_.isNothing())
        return;
    try {
        application_.call("Quit");
    } catch (const std::exception& e) {
        // A suite left running holds memory and may hold files.
        const std::string line = suite_.label + " 未能退出：" + describeError(e);
        sink.line({line, line, true, std::nullopt});
    }
    application_ = {};
}

// ---------------------------------------------------------------- one document

DocumentRun::DocumentRun(const RunRequest& request, const RunServices& services, std::size_t index,
                         SuiteSession& suite, LineSink& sink)
    : request(request), services(services), index(index), name(request.documents.at(index)),
      path(documentPath(request.folder, name)), suite_(suite), sink_(sink) {}

std::vector<std::string> DocumentRun::findTexts() const {
    std::vector<std::string> texts;
    texts.reserve(request.pairs.size());
    for (const ReplacePair& pair : request.pairs)
        texts.push_back(pair.find);
    return texts;
}

void DocumentRun::report(const std::string& log, const std::string& journal) {
    sink_.line({log, journal, false, std::nullopt});
}

void DocumentRun::reportFailure(const std::string& line) {
    outcome.failed = true;
    sink_.line({line, line, true, std::nullopt});
}

automation::Object DocumentRun::application() {
    automation::Object application = suite_.application(sink_);
    if (application.isNothing())
        reportFailure(unchangedFailureLine(name, "未能启动 " + suite_.suite().label + "。"));
    else
        outcome.engine = EngineUsed::Suite;
    return application;
}

bool DocumentRun::keepOriginal(std::string& error) {
    if (!services.backups)
        return true;
    if (!services.backups->beforeChange(text::pathFromUtf8(path), error))
        return false;
    kept_ = true;
    return true;
}

void DocumentRun::changed() {
    outcome.changed = true;
    if (kept_) {
        services.backups->afterChange(text::pathFromUtf8(path));
        outcome.backup = services.backups->backupOf(text::pathFromUtf8(path));
    }
}

void DocumentRun::resaved() {
    if (kept_) {
        services.backups->afterChange(text::pathFromUtf8(path));
        outcome.backup = services.backups->backupOf(text::pathFromUtf8(path));
    }
}

void DocumentRun::changeFailed() {
    if (kept_)
        services.backups->afterChange(text::pathFromUtf8(path));
}

std::string DocumentRun::pairsNote(const std::vector<std::size_t>& replaced) const {
    if (request.pairs.size() < 2 || replaced.empty())
        return "";
    std::string note = "（替换：";
    for (std::size_t i = 0; i < replaced.size(); ++i) {
        const ReplacePair& pair = request.pairs.at(replaced[i]);
        note += (i ? "、" : "") + pair.find + "→" + pair.replacement;
    }
    return note + "）";
}

std::string DocumentRun::journalOf(const std::string& log, bool replaced,
                                   const std::vector<std::size_t>& pairs) const {
    std::string journal = log;
    if (replaced && outcome.engine == EngineUsed::Builtin && !request.dryRun)
        journal += "（由内置引擎替换）";
    return journal + pairsNote(pairs);
}

// ---------------------------------------------------------------- our own engine

BuiltinAttempt tryBuiltinEngine(DocumentRun& document) {
    const RunRequest& request = document.request;
    if (request.engine == EngineChoice::Suite)
        return {BuiltinStep::ToSuite, {}};
    const BuiltinEngine* engine = document.services.builtin;
    const bool builtinOnly = request.engine == EngineChoice::Builtin;
    const auto decline = [&](const std::string& reason) -> BuiltinAttempt {
        if (!builtinOnly)
            return {BuiltinStep::ToSuite, {}};
        document.reportFailure(unchangedFailureLine(document.name, reason));
        return {BuiltinStep::Handled, {}};
    };
    if (!engine || !engine->handles(request.operation, document.name))
        return decline("内置引擎只处理 .docx、.docm、.xlsx 和 .xlsm 文件，这个文件要由办公软件处理"
                       "（不限定引擎再试）。");

    std::string content, error;
    if (!readWhole(document.path, content, error))
        return decline(error);
    BuiltinResult result = engine->replace(request.operation, content, request.pairs);
    if (!result.done)
        return decline(result.reason);

    document.outcome.engine = EngineUsed::Builtin;
    if (!result.newContent.empty() && !request.dryRun) {
        if (!document.keepOriginal(error)) {
            document.reportFailure(unchangedFailureLine(document.name, error));
            return {BuiltinStep::Handled, {}};
        }
        if (!platform::replaceFileContent(text::pathFromUtf8(document.path), result.newContent,
                                          error)) {
            document.changeFailed();
            document.reportFailure(unchangedFailureLine(document.name, error));
            return {BuiltinStep::Handled, {}};
        }
        document.changed();
    }
    for (const BuiltinResult::Part& part : result.parts)
        for (const std::size_t pair : part.pairsReplaced)
            if (std::find(document.outcome.pairsReplaced.begin(),
                          document.outcome.pairsReplaced.end(),
                          pair) == document.outcome.pairsReplaced.end())
                document.outcome.pairsReplaced.push_back(pair);
    std::sort(document.outcome.pairsReplaced.begin(), document.outcome.pairsReplaced.end());
    return {BuiltinStep::Handled, std::move(result)};
}

} // namespace engines
