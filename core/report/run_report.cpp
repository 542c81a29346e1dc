#include "core/report/run_report.h"

#include "core/platform/atomic_save.h"
#include "core/text/paths.h"

#include <nlohmann/json.hpp>

namespace report {

using nlohmann::json;

namespace {

// UTC, to the second: 2026-12-08T09:30:00Z.
std::string isoTime(std::time_t t) {
    std::tm tm{};
#ifdef _WIN32
    gmtime_s(&tm, &t);
#else
    gmtime_r(&t, &tm);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

const char* operationName(engines::Operation operation) {
    switch (operation) {
    case engines::Operation::WordReplace:
        return "word-replace";
    case engines::Operation::ExcelReplace:
        return "excel-replace";
    case engines::Operation::HeaderFooter:
        return "header-footer";
    }
    return "";
}

const char* suiteName(engines::Mode mode) {
    switch (mode) {
    case engines::Mode::WordDoc:
    case engines::Mode::ExcelXls:
        return "office";
    case engines::Mode::WpsDoc:
    case engines::Mode::WpsXls:
        return "wps";
    case engines::Mode::None:
        break;
    }
    return "";
}

const char* engineChoiceName(engines::EngineChoice choice) {
    switch (choice) {
    case engines::EngineChoice::Auto:
        return "auto";
    case engines::EngineChoice::Builtin:
        return "builtin";
    case engines::EngineChoice::Suite:
        return "suite";
    }
    return "";
}

json engineUsed(engines::EngineUsed engine) {
    switch (engine) {
    case engines::EngineUsed::Prescan:
        return "prescan";
    case engines::EngineUsed::Builtin:
        return "builtin";
    case engines::EngineUsed::Suite:
        return "suite";
    case engines::EngineUsed::None:
        break;
    }
    return nullptr;
}

json inputsOf(const engines::RunRequest& request, const ReportInputs& inputs) {
    json in = {{"operation", operationName(request.operation)},
               {"suite", suiteName(request.mode)},
               {"folder", request.folder},
               {"recursive", inputs.recursive},
               {"formats", inputs.formats},
               {"engine", engineChoiceName(request.engine)},
               {"dryRun", request.dryRun},
               {"prescan", inputs.prescan},
               {"backups", inputs.backups},
               {"jobs", request.jobs}};
    if (request.operation == engines::Operation::HeaderFooter) {
        const engines::HeaderFooterSettings& s = request.headerFooter;
        in["headerFooter"] = {{"part", s.header ? "header" : "footer"},
                              {"text", s.header ? s.headerText : s.footerText},
                              {"placement", s.header ? s.headerPlacement : s.footerPlacement},
                              {"pageNumber", s.pageNumber ? json(s.pageNumberPlacement) : json()},
                              {"font", s.fontName},
                              {"size", s.fontSize},
                              {"bold", s.bold}};
    } else {
        json pairs = json::array();
        for (const engines::ReplacePair& pair : request.pairs)
            pairs.push_back({{"find", pair.find}, {"replace", pair.replacement}});
        in["pairs"] = std::move(pairs);
    }
    return in;
}

} // namespace

RunReport::RunReport(engines::RunReporter* forward, engines::RunRequest request,
                     ReportInputs inputs, std::function<std::time_t()> clock)
    : forward_(forward), request_(std::move(request)), inputs_(std::move(inputs)),
      clock_(clock ? std::move(clock) : [] { return std::time(nullptr); }), started_(clock_()),
      pending_(request_.documents.size()) {}

void RunReport::documentStarted(std::size_t index, const std::string& document) {
    if (forward_)
        forward_->documentStarted(index, document);
}

void RunReport::result(const engines::ResultLine& line) {
    if (line.document && *line.document < pending_.size())
        pending_[*line.document].push_back(line.log);
    else
        runLines_.push_back(line.log);
    if (forward_)
        forward_->result(line);
}

void RunReport::documentFinished(std::size_t index, const engines::DocumentOutcome& outcome) {
    if (index < pending_.size())
        documents_.push_back({index, std::move(pending_[index]), outcome});
    if (forward_)
        forward_->documentFinished(index, outcome);
    write();
}

void RunReport::finish(const engines::RunSummary& summary) {
    finished_ = clock_();
    summary_ = summary;
    write();
}

std::string RunReport::json() const {
    nlohmann::json documents = nlohmann::json::array();
    std::size_t failed = 0, changed = 0;
    for (const Document& d : documents_) {
        const engines::DocumentOutcome& o = d.outcome;
        failed += o.failed ? 1 : 0;
        changed += o.changed ? 1 : 0;
        documents.push_back(
            {{"path", request_.documents.at(d.index)},
             {"lines", d.lines},
             {"changed", o.changed},
             {"failed", o.failed},
             {"engine", engineUsed(o.engine)},
             {"seconds", static_cast<double>(o.elapsed.count()) / 1000.0},
             {"backup",
              o.backup.empty() ? nlohmann::json() : nlohmann::json(text::pathToUtf8(o.backup))},
             {"pairsReplaced", o.pairsReplaced}});
    }
    const nlohmann::json report = {
        {"format", "batchreplace-report"},
        {"formatVersion", kFormatVersion},
        {"program", inputs_.program},
        {"inputs", inputsOf(request_, inputs_)},
        {"started", isoTime(started_)},
        {"finished", finished_ ? nlohmann::json(isoTime(*finished_)) : nlohmann::json()},
        {"complete", finished_.has_value()},
        {"documents", std::move(documents)},
        {"runLines", runLines_},
        {"summary",
         {{"documents", request_.documents.size()},
          {"processed", documents_.size()},
          {"failed", failed},
          {"changed", changed},
          {"stopped", summary_ && summary_->stopped}}}};
    // File names that are not UTF-8 cannot break the report.
    return report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

bool RunReport::writeTo(std::filesystem::path file) {
    file_ = std::move(file);
    write();
    return writeError_.empty();
}

void RunReport::write() {
    if (!file_ || !writeError_.empty())
        return;
    std::string error;
    if (!platform::replaceFileContent(*file_, json(), error))
        writeError_ = "无法写入报告文件" + text::quotedPath(*file_) + "：" + error;
}

} // namespace report
