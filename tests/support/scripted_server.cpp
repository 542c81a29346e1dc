#include "support/scripted_server.h"

#include <algorithm>
#include <mutex>

namespace scripted {

using automation::CallKind;
using automation::Error;
using automation::Value;

// Shared by every object of a server. Calls may come from several threads
// (parallel jobs, the window's worker): one at a time, each with its answer.
struct Log {
    std::recursive_mutex mutex;
    std::vector<Call> calls;
    bool strict = false;
};

namespace {

std::string foldMember(std::string_view member) {
    return automation::foldClassName(member);
}

std::string joinArguments(const std::vector<Value>& positional,
                          const std::vector<automation::Object::Named>& named) {
    std::string out;
    for (const Value& v : positional) {
        if (!out.empty())
            out += ", ";
        out += render(v);
    }
    for (const auto& n : named) {
        if (!out.empty())
            out += ", ";
        out += n.name + ":=" + render(n.value);
    }
    return out;
}

std::string describeInvoke(const std::string& object, CallKind kind, std::string_view member,
                           const automation::Args& args) {
    const std::string target = member.empty() ? object : object + "." + std::string(member);
    switch (kind) {
    case CallKind::Get: {
        if (args.positional.empty() && args.named.empty())
            return "get " + target + (member.empty() ? "()" : "");
        return "get " + target + "(" + joinArguments(args.positional, args.named) + ")";
    }
    case CallKind::Put: {
        std::vector<Value> index = args.positional;
        Value newValue;
        if (!index.empty()) {
            newValue = index.back();
            index.pop_back();
        }
        std::string line = "put " + target;
        if (!index.empty() || !args.named.empty())
            line += "(" + joinArguments(index, args.named) + ")";
        return line + " = " + render(newValue);
    }
    case CallKind::Method:
        return "call " + target + "(" + joinArguments(args.positional, args.named) + ")";
    }
    return {};
}

void markRaised(Call& call, const Error& error) {
    call.raised = error;
    call.text += " -> error " + std::to_string(error.number);
}

class ScriptedEnumeration : public automation::Enumeration {
public:
    explicit ScriptedEnumeration(std::vector<Reply> elements) : elements_(std::move(elements)) {}
    std::optional<Value> next() override {
        if (position_ >= elements_.size())
            return std::nullopt;
        return elements_[position_++].deliver();
    }

private:
    std::vector<Reply> elements_;
    std::size_t position_ = 0;
};

} // namespace

// ---------------------------------------------------------------- Call

const Value* Call::namedArgument(std::string_view wanted) const {
    for (const auto& n : named)
        if (foldMember(n.name) == foldMember(wanted))
            return &n.value;
    return nullptr;
}

// ---------------------------------------------------------------- Reply, Script

Reply::Reply(ScriptedObject& object) : outcome_(Value(object.ref())) {}

Value Reply::deliver() const {
    if (const Error* e = std::get_if<Error>(&outcome_))
        throw *e;
    return std::get<Value>(outcome_);
}

Reply nothing() {
    return Reply(automation::Object());
}

Script Script::always(Reply reply) {
    return Script(Function([reply](const Call&, int) { return reply; }));
}

Script inTurn(std::vector<Reply> replies) {
    if (replies.empty())
        replies.emplace_back(Value());
    return Script(Script::Function([replies](const Call&, int n) {
        const std::size_t index =
            std::min<std::size_t>(static_cast<std::size_t>(n - 1), replies.size() - 1);
        return replies[index];
    }));
}

Script failingOnCall(int failing, Error error, Reply otherwise) {
    return Script(Script::Function([failing, error, otherwise](const Call&, int n) {
        return n == failing ? Reply(error) : otherwise;
    }));
}

Script computed(Script::Function f) {
    return Script(std::move(f));
}

// ---------------------------------------------------------------- ScriptedObject

ScriptedObject::ScriptedObject(std::string name, std::shared_ptr<Log> log)
    : name_(std::move(name)), log_(std::move(log)) {}

ScriptedObject& ScriptedObject::onGet(std::string member, Script script) {
    counts_.erase({CallKind::Get, foldMember(member)});
    scripts_.insert_or_assign({CallKind::Get, foldMember(member)}, std::move(script));
    return *this;
}

ScriptedObject& ScriptedObject::onPut(std::string member, Script script) {
    counts_.erase({CallKind::Put, foldMember(member)});
    scripts_.insert_or_assign({CallKind::Put, foldMember(member)}, std::move(script));
    return *this;
}

ScriptedObject& ScriptedObject::onCall(std::string member, Script script) {
    counts_.erase({CallKind::Method, foldMember(member)});
    scripts_.insert_or_assign({CallKind::Method, foldMember(member)}, std::move(script));
    return *this;
}

ScriptedObject& ScriptedObject::enumerates(std::vector<Reply> elements) {
    elements_ = std::move(elements);
    return *this;
}

Value ScriptedObject::invoke(CallKind kind, std::string_view member, const automation::Args& args) {
    const std::lock_guard lock(log_->mutex);
    Call call;
    call.event = Event::Invoke;
    call.object = name_;
    call.identity = this;
    call.kind = kind;
    call.member = std::string(member);
    call.positional = args.positional;
    call.named = args.named;
    call.text = describeInvoke(name_, kind, member, args);

    const auto key = std::make_pair(kind, foldMember(member));
    const int n = ++counts_[key];
    // The entry goes into the log before the answer is worked out, so that
    // calls made by a computed answer follow it.
    log_->calls.push_back(call);
    const std::size_t at = log_->calls.size() - 1;

    try {
        Value result;
        if (auto it = scripts_.find(key); it != scripts_.end()) {
            result = it->second.answer(call, n).deliver();
        } else if (kind != CallKind::Put && log_->strict) {
            throw automation::makeError(automation::errors::MemberNotSupported);
        } else if (kind == CallKind::Get && args.positional.empty() && args.named.empty()) {
            const auto w = written_.find(key.second);
            if (w != written_.end())
                result = w->second;
        }
        // A write that went through is what an unscripted read returns next.
        if (kind == CallKind::Put && args.positional.size() == 1 && args.named.empty())
            written_[key.second] = args.positional.back();
        return result;
    } catch (const Error& e) {
        markRaised(log_->calls[at], e);
        throw;
    }
}

std::unique_ptr<automation::Enumeration> ScriptedObject::enumerate() {
    const std::lock_guard lock(log_->mutex);
    Call call;
    call.event = Event::Enumerate;
    call.object = name_;
    call.identity = this;
    call.text = "enumerate " + name_;
    if (!elements_) {
        Error e = automation::makeError(automation::errors::MemberNotSupported);
        markRaised(call, e);
        log_->calls.push_back(std::move(call));
        throw e;
    }
    log_->calls.push_back(std::move(call));
    return std::make_unique<ScriptedEnumeration>(*elements_);
}

// ---------------------------------------------------------------- Server

Server::Server() : log_(std::make_shared<Log>()) {}
Server::~Server() = default;

ScriptedObject& Server::object(const std::string& name) {
    auto& slot = objects_[name];
    if (!slot)
        slot = std::make_shared<ScriptedObject>(name, log_);
    return *slot;
}

void Server::provide(automation::Registry& registry, const std::string& className,
                     ScriptedObject& instance) {
    std::shared_ptr<ScriptedObject> target = instance.shared_from_this();
    std::weak_ptr<Log> log = log_;
    auto& entry = registrations_[{&registry, automation::foldClassName(className)}];
    entry.create = [className, target, log]() {
        if (auto l = log.lock()) {
            const std::lock_guard lock(l->mutex);
            Call call;
            call.event = Event::Create;
            call.object = className;
            call.identity = target.get();
            call.text = "create " + className;
            l->calls.push_back(std::move(call));
        }
        return automation::Object(target);
    };
    registry.registerClass(className, entry.create, entry.active);
}

void Server::provideFailing(automation::Registry& registry, const std::string& className,
                            Error error) {
    std::weak_ptr<Log> log = log_;
    auto& entry = registrations_[{&registry, automation::foldClassName(className)}];
    entry.create = [className, error, log]() -> automation::Object {
        if (auto l = log.lock()) {
            const std::lock_guard lock(l->mutex);
            Call call;
            call.event = Event::Create;
            call.object = className;
            call.text = "create " + className;
            markRaised(call, error);
            l->calls.push_back(std::move(call));
        }
        throw error;
    };
    registry.registerClass(className, entry.create, entry.active);
}

void Server::provideActive(automation::Registry& registry, const std::string& className,
                           ScriptedObject* running) {
    std::shared_ptr<ScriptedObject> target = running ? running->shared_from_this() : nullptr;
    std::weak_ptr<Log> log = log_;
    auto& entry = registrations_[{&registry, automation::foldClassName(className)}];
    entry.active = [className, target, log]() -> automation::Object {
        Call call;
        call.event = Event::Attach;
        call.object = className;
        call.identity = target.get();
        call.text = "attach " + className;
        const Error none = automation::makeError(automation::errors::CannotCreateObject);
        if (!target)
            markRaised(call, none);
        if (auto l = log.lock()) {
            const std::lock_guard lock(l->mutex);
            l->calls.push_back(std::move(call));
        }
        if (!target)
            throw none;
        return automation::Object(target);
    };
    registry.registerClass(className, entry.create, entry.active);
}

void Server::setStrict(bool strict) {
    log_->strict = strict;
}

const std::vector<Call>& Server::calls() const {
    return log_->calls;
}

std::vector<std::string> Server::transcript() const {
    const std::lock_guard lock(log_->mutex);
    std::vector<std::string> lines;
    lines.reserve(log_->calls.size());
    for (const Call& c : log_->calls)
        lines.push_back(c.text);
    return lines;
}

void Server::clearLog() {
    const std::lock_guard lock(log_->mutex);
    log_->calls.clear();
}

std::string render(const Value& value) {
    if (value.isObject() && !value.isNothing()) {
        if (auto* scriptedObject = dynamic_cast<ScriptedObject*>(value.toObject().dispatch()))
            return scriptedObject->name();
    }
    return value.debugString();
}

ScriptedObject& scriptWordSearch(Server& server, automation::Registry& registry, Script found) {
    auto& word = server.object("word");
    auto& docs = server.object("docs");
    auto& doc = server.object("doc");
    auto& content = server.object("content");
    auto& find = server.object("find");
    word.onGet("Documents", docs).onGet("ActiveDocument", doc);
    docs.onCall("Open", doc);
    doc.onGet("Content", content);
    content.onGet("Find", find);
    find.onCall("Execute", std::move(found));
    server.provide(registry, "word.Application", word);
    return word;
}

} // namespace scripted
