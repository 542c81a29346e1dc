#pragma once

// What every object of the Word and Excel models shares: member names that
// ignore letter case (as late binding on Windows does), arguments by position
// or by name, and the turn of every failure into an automation::Error.

#include "core/automation/automation.h"
#include "suites/libreoffice/libreoffice_server.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace libreoffice {

// The names of the automation layer every object of both models uses.
using automation::Args;
using automation::CallKind;
using automation::Error;
using automation::Object;
using automation::Value;

class Session;

// Member and argument names compare without regard to ASCII letter case.
bool sameName(std::string_view a, std::string_view b);

// The arguments of one call, looked up by name; a name stands for a position
// in the member's parameter list. An Empty value counts as not given.
class Arguments {
public:
    // Raises error 450 for more positional arguments than parameters and 448
    // for a named argument the member does not have.
    Arguments(const automation::Args& args, std::vector<std::string_view> parameters);

    // The argument, or nullptr when it was not given.
    const automation::Value* find(std::string_view parameter) const;
    // The argument; error 449 when it was not given.
    const automation::Value& required(std::string_view parameter) const;
    bool has(std::string_view parameter) const { return find(parameter) != nullptr; }

private:
    const automation::Args& args_;
    std::vector<std::string_view> parameters_;
};

// Parameter names written as one text, separated by spaces: "What
// Replacement LookAt". The text must outlive the list (a literal does).
std::vector<std::string_view> parameterList(std::string_view names);

// The new value of a property write (the last positional argument).
const automation::Value& newValue(const automation::Args& args);
// The index arguments of a property read or write.
std::vector<automation::Value> indexArguments(automation::CallKind kind,
                                              const automation::Args& args);

// Error 438 naming the member.
[[noreturn]] void unknownMember(std::string_view member);

// Base of the server's objects. Every call runs under the session's watchdog,
// and whatever it raises leaves as an automation::Error.
class ServerObject : public automation::Dispatch {
public:
    explicit ServerObject(std::shared_ptr<Session> session) : session_(std::move(session)) {}
    automation::Value invoke(automation::CallKind kind, std::string_view member,
                             const automation::Args& args) final;

protected:
    virtual automation::Value dispatch(automation::CallKind kind, std::string_view member,
                                       const automation::Args& args) = 0;
    // The file the object belongs to, for error descriptions; may be empty.
    virtual std::string subject() const { return {}; }
    // The number raised for failures the office reports.
    virtual long failureNumber() const = 0;

    std::shared_ptr<Session> session_;
};

// The application-level settings that a headless office only keeps: the
// office runs without a display and never shows a message.
struct ApplicationSettings {
    bool visible = false;
    automation::Value displayAlerts;
    automation::Value screenUpdating = true;
};

// Answers the application's default member and `Name` ("LibreOffice
// Writer" for `program` "Writer"), `Version`, and `Visible`, `DisplayAlerts`
// and `ScreenUpdating` from `settings`; absent for every other member. None
// of them needs the office.
std::optional<automation::Value>
answerApplicationSetting(automation::CallKind kind, std::string_view member,
                         const automation::Args& args, ApplicationSettings& settings,
                         const Installation& installation, std::string_view program);

// The items of a collection, for `For Each`.
class Listing : public automation::Enumeration {
public:
    explicit Listing(std::vector<automation::Value> items) : items_(std::move(items)) {}
    std::optional<automation::Value> next() override {
        if (next_ >= items_.size())
            return std::nullopt;
        return items_[next_++];
    }

private:
    std::vector<automation::Value> items_;
    std::size_t next_ = 0;
};

// A new server object of type T as a value.
template <class T, class... A> automation::Value make(A&&... args) {
    return automation::Value(automation::Object(std::make_shared<T>(std::forward<A>(args)...)));
}

} // namespace libreoffice
