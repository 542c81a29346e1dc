#pragma once

// A scripted automation server for tests.
//
// It stands in for an office suite: its objects are registered in an
// automation::Registry under class names, every call made on them is recorded
// in one ordered log, and every answer comes from a script the test writes.
// A test can then say "this run sent exactly these calls, in this order".
//
// Use:
//
//   scripted::Server server;
//   auto& word = server.object("word");          // names appear in the log
//   auto& docs = server.object("docs");
//   auto& doc = server.object("doc");
//   word.onGet("Documents", docs);               // every read returns docs
//   docs.onCall("Open", scripted::inTurn({doc, doc, automation::Error(5, "打不开")}));
//   doc.onCall("Close", scripted::failingOnCall(2, automation::Error(70, "拒绝")));
//   server.provide(registry, "word.Application", word);
//   server.provideFailing(registry, "ET.Application",
//                         automation::makeError(automation::errors::CannotCreateObject));
//
//   ... run the code under test with `registry` ...
//
//   EXPECT_EQ(server.transcript(), (std::vector<std::string>{
//       "create word.Application",
//       "get word.Documents",
//       "call docs.Open(\"/d/a.doc\")",
//       "put word.Visible = False",
//       ...}));
//
// Transcript lines:
//   create <class>              a new instance made through the registry
//   attach <class>              the running instance looked up through the registry
//   get <obj>.<Member>          property read; with index arguments "(1, 2)";
//                               the default member reads as "<obj>()" / "<obj>(1)"
//   put <obj>.<Member> = <v>    property write; with index "<obj>.<Member>(1) = <v>"
//   call <obj>.<Member>(<args>) method call; named arguments as Name:=value
//   enumerate <obj>             the start of an enumeration
// A call that raised ends in " -> error <number>". Values render as
// automation::Value::debugString, except that objects of this server render
// by their names.
//
// Answers: a member that has no script answers a property read with the value
// last written to it (or Empty), a method call with Empty, and accepts every
// write. `Server::setStrict(true)` makes unscripted reads and method calls
// raise error 438 instead, the way a server without that member does. Member
// names are matched without regard to letter case.
//
// Calls may come from several threads (parallel jobs, the window's worker
// thread); they are answered one at a time.

#include "core/automation/automation.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace scripted {

class ScriptedObject;
struct Log;

// What a recorded entry is.
enum class Event { Create, Attach, Invoke, Enumerate };

// One recorded call.
struct Call {
    Event event = Event::Invoke;
    // The object's name; the class name for Create and Attach.
    std::string object;
    // The object called (null for Create and Attach of a failing class).
    const automation::Dispatch* identity = nullptr;
    automation::CallKind kind = automation::CallKind::Get;
    std::string member;
    std::vector<automation::Value> positional;
    std::vector<automation::Object::Named> named;
    // The error the call raised, when it raised one.
    std::optional<automation::Error> raised;
    // The transcript line (see above).
    std::string text;

    // The named argument of that name (case-insensitive), when given.
    const automation::Value* namedArgument(std::string_view name) const;
};

// One scripted answer: a value (an object, Nothing, a text...) or an error.
class Reply {
public:
    template <class T>
    requires std::is_constructible_v<automation::Value, T&&> Reply(T&& value)
        : outcome_(automation::Value(std::forward<T>(value))) {}
    Reply(const automation::Error& error) : outcome_(error) {}
    Reply(ScriptedObject& object);

    // Returns the value or raises the error.
    automation::Value deliver() const;

private:
    std::variant<automation::Value, automation::Error> outcome_;
};

// The Nothing object reference, as a reply.
Reply nothing();

// How a member answers: `n` counts the calls of that kind on that member of
// that object, from 1, since the script was set.
class Script {
public:
    using Function = std::function<Reply(const Call& call, int n)>;

    explicit Script(Function f) : f_(std::move(f)) {}
    // Every call gets the same reply.
    template <class T>
    requires std::is_constructible_v<Reply, T&&> Script(T&& reply)
        : Script(always(Reply(std::forward<T>(reply)))) {}

    Reply answer(const Call& call, int n) const { return f_(call, n); }

    static Script always(Reply reply);

private:
    Function f_;
};

// The n-th call gets the n-th reply; calls after the last get the last one.
Script inTurn(std::vector<Reply> replies);
// The n-th call raises `error`; every other call gets `otherwise`.
Script failingOnCall(int n, automation::Error error, Reply otherwise = automation::Value());
// Any answer worked out by the test.
Script computed(Script::Function f);

// One object of the server. Create them with Server::object.
class ScriptedObject : public automation::Dispatch,
                       public std::enable_shared_from_this<ScriptedObject> {
public:
    ScriptedObject(std::string name, std::shared_ptr<Log> log);

    const std::string& name() const { return name_; }
    // A reference to this object, as callers hold it.
    automation::Object ref() { return automation::Object(shared_from_this()); }

    // Scripts for property reads, property writes and method calls. The
    // default member is the empty name.
    ScriptedObject& onGet(std::string member, Script script);
    ScriptedObject& onPut(std::string member, Script script);
    ScriptedObject& onCall(std::string member, Script script);

    // The elements an enumeration yields, in order. An Error element raises
    // when the enumeration reaches it: the collection fails part-way.
    ScriptedObject& enumerates(std::vector<Reply> elements);

    automation::Value invoke(automation::CallKind kind, std::string_view member,
                             const automation::Args& args) override;
    std::unique_ptr<automation::Enumeration> enumerate() override;

private:
    std::string name_;
    std::shared_ptr<Log> log_;
    std::map<std::pair<automation::CallKind, std::string>, Script> scripts_;
    std::map<std::pair<automation::CallKind, std::string>, int> counts_;
    std::map<std::string, automation::Value> written_;
    std::optional<std::vector<Reply>> elements_;
};

class Server {
public:
    Server();
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // The object of that name, made on first use. Names are the test's own;
    // they only label the log.
    ScriptedObject& object(const std::string& name);

    // `registry.create(className)` records "create <className>" and returns
    // `instance` (the same object every time).
    void provide(automation::Registry& registry, const std::string& className,
                 ScriptedObject& instance);
    // `registry.create(className)` records the attempt and raises `error`.
    void provideFailing(automation::Registry& registry, const std::string& className,
                        automation::Error error);
    // `registry.getActive(className)` records "attach <className>" and returns
    // `running`, or raises error 429 when `running` is null (no instance runs).
    void provideActive(automation::Registry& registry, const std::string& className,
                       ScriptedObject* running);

    // Unscripted reads and method calls raise error 438 when strict.
    void setStrict(bool strict);

    const std::vector<Call>& calls() const;
    // The transcript lines of all calls so far.
    std::vector<std::string> transcript() const;
    // Forgets the calls recorded so far (scripts and call counts stay).
    void clearLog();

private:
    struct Registration {
        automation::Registry::Factory create;
        automation::Registry::ActiveLookup active;
    };
    std::shared_ptr<Log> log_;
    std::map<std::string, std::shared_ptr<ScriptedObject>> objects_;
    // What this server registered, by registry and folded class name, so that
    // a class can be both created and attached to.
    std::map<std::pair<const automation::Registry*, std::string>, Registration> registrations_;
};

// A word processor registered as "word.Application" in `registry`: its
// Documents ("docs") open every file as the one document "doc", which is also
// the ActiveDocument; the search of its main text ("content", "find")
// answers `found` to Execute. Returns the application object.
ScriptedObject& scriptWordSearch(Server& server, automation::Registry& registry, Script found);

// Renders a value as the transcript shows it.
std::string render(const automation::Value& value);

} // namespace scripted
