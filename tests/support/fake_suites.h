#pragma once

// Small stand-ins for an office application, the main window, the desktop and
// the process list, for the detection and guard tests.

#include "core/automation/automation.h"
#include "core/detection/suite_detection.h"
#include "core/journal.h"
#include "core/platform/desktop.h"
#include "core/platform/processes.h"
#include "support/fake_desktop.h"

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace detection_fakes {

using automation::Value;

// An application object that answers its members from a table and records
// every access as "Get Version", "Put Visible False", "Get <default>".
class FakeApplication : public automation::Dispatch {
public:
    std::map<std::string, Value> values;
    std::map<std::string, automation::Error> failures;
    std::vector<std::string> calls;

    Value invoke(automation::CallKind kind, std::string_view member,
                 const automation::Args& args) override {
        const std::string name = member.empty() ? "<default>" : std::string(member);
        std::string record = kind == automation::CallKind::Get   ? "Get "
                             : kind == automation::CallKind::Put ? "Put "
                                                                 : "Call ";
        record += name;
        for (const Value& v : args.positional)
            record += " " + v.debugString();
        calls.push_back(record);
        if (auto f = failures.find(name); f != failures.end())
            throw f->second;
        if (kind == automation::CallKind::Put)
            return {};
        if (auto v = values.find(name); v != values.end())
            return v->second;
        throw automation::makeError(automation::errors::MemberNotSupported);
    }
};

// A collection whose enumeration gives `entries` in order. Reading fails with
// `failure` at position `failAt`, and fails for good once `alive` is false
// (the application's processes were ended).
class FakeCollection : public automation::Dispatch {
public:
    std::vector<Value> entries;
    std::optional<std::size_t> failAt;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);

    Value invoke(automation::CallKind, std::string_view, const automation::Args&) override {
        throw automation::makeError(automation::errors::MemberNotSupported);
    }

    std::unique_ptr<automation::Enumeration> enumerate() override {
        if (!*alive)
            throw automation::Error(-2147023174, "RPC 服务器不可用。");
        return std::make_unique<Reader>(*this);
    }

private:
    class Reader : public automation::Enumeration {
    public:
        explicit Reader(FakeCollection& c) : c_(c) {}
        std::optional<Value> next() override {
            if (!*c_.alive || (c_.failAt && *c_.failAt == position_))
                throw automation::Error(-2147023174, "RPC 服务器不可用。");
            if (position_ >= c_.entries.size())
                return std::nullopt;
            return c_.entries[position_++];
        }

    private:
        FakeCollection& c_;
        std::size_t position_ = 0;
    };
};

// A document object of a collection.
class FakeDocument : public automation::Dispatch {
public:
    Value invoke(automation::CallKind, std::string_view, const automation::Args&) override {
        return Value("文档1");
    }
};

inline automation::Object document() {
    return automation::Object(std::make_shared<FakeDocument>());
}

// The main window's part in the detection: the four document modes (all
// enabled at start, as laid out) and the journal, written to a real journal
// file.
class FakeDetectionView : public detection::DetectionView {
public:
    explicit FakeDetectionView(const std::filesystem::path& appFolder)
        : journal_(appFolder, [] { return std::time_t(1592010307); }) {}

    using Mode = detection::DocumentMode;
    std::map<Mode, bool> enabled{
        {Mode::WordDoc, true}, {Mode::ExcelXls, true}, {Mode::WpsDoc, true}, {Mode::WpsXls, true}};
    // The entry of each journal write.
    std::vector<std::string> journalEntries;
    // "enable wps.doc", "disable wps.xls", in the order they happened.
    std::vector<std::string> modeChanges;

    void setModeEnabled(Mode mode, bool on) override {
        enabled[mode] = on;
        static const std::map<Mode, std::string> names{{Mode::WordDoc, "word.doc"},
                                                       {Mode::ExcelXls, "excel.xls"},
                                                       {Mode::WpsDoc, "wps.doc"},
                                                       {Mode::WpsXls, "wps.xls"}};
        modeChanges.push_back((on ? "enable " : "disable ") + names.at(mode));
    }
    void writeJournal(const std::string& entry) override {
        journalEntries.push_back(entry);
        (void)journal_.rz(entry);
    }
    const journal::Journal& journal() const { return journal_; }

private:
    journal::Journal journal_;
};

// The status label's caption: its lines joined by CR LF.
inline std::string captionOf(const detection::StatusLines& lines) {
    std::string caption;
    for (std::size_t i = 0; i < lines.size(); ++i)
        caption += (i ? "\r\n" : "") + lines[i];
    return caption;
}

// Answers message boxes from a list, No when the list runs out.
struct FakeDesktop : testing_support::FakeDesktop {
    FakeDesktop() { defaultAnswer = platform::answer::No; }
};

// A process table. Ending a process removes it; ending every process of
// `ownerName` makes `ownerAlive` false.
class FakeProcesses : public platform::Processes {
public:
    std::vector<platform::ProcessInfo> table;
    bool queryFails = false;
    std::set<platform::ProcessId> refuseToEnd;
    std::vector<std::string> queries;
    std::vector<platform::ProcessId> terminateCalls;
    std::string ownerName;
    std::shared_ptr<bool> ownerAlive;

    bool findByName(std::string_view name, std::vector<platform::ProcessInfo>& found,
                    std::string& error) override {
        queries.emplace_back(name);
        found.clear();
        if (queryFails) {
            error = "the process list cannot be read";
            return false;
        }
        for (const auto& p : table)
            if (platform::sameExecutableName(p.name, name))
                found.push_back(p);
        return true;
    }

    bool terminate(platform::ProcessId id, std::string& error) override {
        terminateCalls.push_back(id);
        if (refuseToEnd.count(id)) {
            error = "access denied";
            return false;
        }
        std::erase_if(table, [id](const platform::ProcessInfo& p) { return p.id == id; });
        if (ownerAlive) {
            bool any = false;
            for (const auto& p : table)
                any = any || platform::sameExecutableName(p.name, ownerName);
            if (!any)
                *ownerAlive = false;
        }
        return true;
    }
};

} // namespace detection_fakes
