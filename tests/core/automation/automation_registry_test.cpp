#include "core/automation/automation.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using automation::Args;
using automation::CallKind;
using automation::Error;
using automation::Object;
using automation::Registry;
using automation::Value;

namespace {

// An object that answers every member with a fixed text.
class Tag final : public automation::Dispatch {
public:
    explicit Tag(std::string text) : text_(std::move(text)) {}
    Value invoke(CallKind, std::string_view, const Args&) override { return Value(text_); }

private:
    std::string text_;
};

Object tag(const std::string& text) {
    return Object(std::make_shared<Tag>(text));
}

long errorNumberOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.number;
    }
    return 0;
}

} // namespace

TEST(RegistryFallback, UnregisteredClassesGoToTheFallbackWithTheirOwnSpelling) {
    Registry registry;
    std::vector<std::string> asked;
    registry.setFallback(
        [&](std::string_view name) {
            asked.push_back("create " + std::string(name));
            return tag("system");
        },
        [&](std::string_view name) {
            asked.push_back("active " + std::string(name));
            return tag("running");
        });
    registry.registerClass("Word.Application", [] { return tag("own"); });

    // Registered names win, in any letter case, for creation; a registered
    // class without an active lookup has no running instance.
    EXPECT_EQ(registry.create("WORD.application").get("Name").toString(), "own");
    EXPECT_EQ(errorNumberOf([&] { registry.getActive("Word.Application"); }), 429);
    EXPECT_TRUE(asked.empty());

    EXPECT_EQ(registry.create("Scripting.Dictionary").get("Name").toString(), "system");
    EXPECT_EQ(registry.getActive("Excel.Application").get("Name").toString(), "running");
    EXPECT_EQ(asked, (std::vector<std::string>{"create Scripting.Dictionary",
                                               "active Excel.Application"}));
    EXPECT_FALSE(registry.isRegistered("Scripting.Dictionary"));
}

TEST(RegistryFallback, FallbackErrorsPassThroughAndNothingIs429) {
    Registry registry;
    registry.setFallback([](std::string_view) -> Object { throw Error(429, "无效的类字符串"); },
                         [](std::string_view) { return Object(); });
    try {
        registry.create("Word.Application");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number, 429);
        EXPECT_EQ(e.description, "无效的类字符串");
    }
    EXPECT_EQ(errorNumberOf([&] { registry.getActive("Word.Application"); }), 429);

    // Removing the fallback brings back the plain 429 for unknown classes.
    registry.setFallback({}, {});
    EXPECT_EQ(errorNumberOf([&] { registry.create("Scripting.Dictionary"); }), 429);
}
