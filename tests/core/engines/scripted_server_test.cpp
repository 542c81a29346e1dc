#include "support/scripted_server.h"

#include <gtest/gtest.h>

using automation::Error;
using automation::Value;
using Lines = std::vector<std::string>;

namespace {

long raisedNumber(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.number;
    }
    return 0;
}

} // namespace

TEST(ScriptedServer, AttachAndEnumerationThatFailsPartWay) {
    scripted::Server server;
    automation::Registry registry;
    auto& word = server.object("word");
    auto& docs = server.object("docs");
    word.onGet("documents", docs); // member names ignore letter case
    docs.enumerates({server.object("d1"), Value(), Error(-2147023174, "RPC 服务器不可用")});
    server.provideActive(registry, "Word.Application", &word);
    server.provideActive(registry, "Excel.Application", nullptr);

    const automation::Object app = registry.getActive("word.application");
    auto e = app.get("Documents").toObject().enumerate();
    EXPECT_EQ(e.next()->toObject().dispatch(), &server.object("d1"));
    EXPECT_TRUE(e.next()->isEmpty());
    EXPECT_EQ(raisedNumber([&] { e.next(); }), -2147023174);
    EXPECT_EQ(raisedNumber([&] { registry.getActive("Excel.Application"); }), 429);
    EXPECT_EQ(raisedNumber([&] { word.ref().enumerate(); }), 438);

    EXPECT_EQ(server.transcript(),
              Lines({"attach Word.Application", "get word.Documents", "enumerate docs",
                     "attach Excel.Application -> error 429", "enumerate word -> error 438"}));
    EXPECT_EQ(server.calls()[1].identity, &word);
    EXPECT_EQ(server.calls()[1].kind, automation::CallKind::Get);
}

TEST(ScriptedServer, CreateAndAttachShareAClass) {
    scripted::Server server;
    automation::Registry registry;
    auto& running = server.object("running");
    auto& fresh = server.object("fresh");
    server.provideActive(registry, "Word.Application", &running);
    server.provide(registry, "Word.Application", fresh);
    EXPECT_EQ(registry.create("Word.Application").dispatch(), &fresh);
    EXPECT_EQ(registry.getActive("Word.Application").dispatch(), &running);
}

TEST(ScriptedServer, UnscriptedMembersAndStrictMode) {
    scripted::Server server;
    auto& app = server.object("app");
    const automation::Object o = app.ref();
    o.put("Visible", Value(false));
    EXPECT_EQ(o.get("Visible"), Value(false)); // the value written last
    EXPECT_TRUE(o.call("Quit").isEmpty());
    o.put("Cells", Value("x"), {Value(1), Value(2)});
    o.call("Add", {Value(app.ref()), Value(33)}, {{"Name", Value("n")}});
    EXPECT_EQ(o.item({Value(2)}), Value());

    server.setStrict(true);
    EXPECT_EQ(raisedNumber([&] { o.get("Version"); }), 438);
    EXPECT_EQ(raisedNumber([&] { o.put("Visible", Value(true)); }), 0);

    EXPECT_EQ(server.transcript(),
              Lines({"put app.Visible = False", "get app.Visible", "call app.Quit()",
                     "put app.Cells(1, 2) = \"x\"", "call app.Add(app, 33, Name:=\"n\")",
                     "get app(2)", "get app.Version -> error 438", "put app.Visible = True"}));
    ASSERT_NE(server.calls()[4].namedArgument("name"), nullptr);
    EXPECT_EQ(*server.calls()[4].namedArgument("name"), Value("n"));
}

TEST(ScriptedServer, RepliesInTurnAndFailureAtOneCall) {
    scripted::Server server;
    auto& docs = server.object("docs");
    docs.onCall("Open", scripted::inTurn({Value(1), Value(2)}));
    docs.onCall("Close", scripted::failingOnCall(2, Error(70, "拒绝的权限")));
    const automation::Object o = docs.ref();
    EXPECT_EQ(o.call("Open").toInteger(), 1);
    EXPECT_EQ(o.call("Open").toInteger(), 2);
    EXPECT_EQ(o.call("Open").toInteger(), 2); // the last reply repeats
    EXPECT_EQ(raisedNumber([&] { o.call("Close"); }), 0);
    EXPECT_EQ(raisedNumber([&] { o.call("Close"); }), 70);
    EXPECT_EQ(raisedNumber([&] { o.call("Close"); }), 0);
    ASSERT_TRUE(server.calls()[4].raised.has_value());
    EXPECT_EQ(server.calls()[4].raised->description, "拒绝的权限");
    // Setting a script again counts its calls anew.
    docs.onCall("Close", scripted::failingOnCall(1, Error(70, "拒绝的权限")));
    EXPECT_EQ(raisedNumber([&] { o.call("Close"); }), 70);
}
