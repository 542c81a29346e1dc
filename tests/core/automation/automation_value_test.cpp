#include "core/automation/automation.h"

#include <gtest/gtest.h>

using automation::Error;
using automation::Object;
using automation::Value;

namespace {

class Echo : public automation::Dispatch {
public:
    Value invoke(automation::CallKind, std::string_view member,
                 const automation::Args& args) override {
        last = std::string(member);
        return args.positional.empty() ? Value() : args.positional.front();
    }
    std::string last;
};

long errorNumber(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.number;
    }
    return 0;
}

} // namespace

TEST(AutomationValue, VisualBasicConversions) {
    EXPECT_EQ(Value("14.0").toDouble(), 14.0);
    EXPECT_EQ(Value(" 12 ").toDouble(), 12.0);
    EXPECT_EQ(Value(true).toDouble(), -1.0);
    EXPECT_EQ(Value(14.0).toString(), "14");
    EXPECT_EQ(Value(14.5).toString(), "14.5");
    EXPECT_EQ(Value(false).toString(), "False");
    EXPECT_TRUE(Value("True").toBool());
    EXPECT_TRUE(Value(-1).toBool());
    EXPECT_FALSE(Value(0).toBool());
    EXPECT_EQ(Value(2.5).toInteger(), 2); // banker's rounding
    EXPECT_EQ(Value(3.5).toInteger(), 4);
    EXPECT_EQ(errorNumber([] { Value("16.0.1").toDouble(); }), automation::errors::TypeMismatch);
    EXPECT_EQ(errorNumber([] { Value("").toDouble(); }), automation::errors::TypeMismatch);
    EXPECT_EQ(errorNumber([] { Value("nan").toDouble(); }), automation::errors::TypeMismatch);
    EXPECT_EQ(errorNumber([] { Value("inf").toDouble(); }), automation::errors::TypeMismatch);
    EXPECT_EQ(errorNumber([] { Value(1).toObject(); }), automation::errors::ObjectRequired);
}

TEST(AutomationObject, NothingRaisesObjectNotSet) {
    Object nothing;
    EXPECT_TRUE(Value(nothing).isNothing());
    EXPECT_EQ(errorNumber([&] { nothing.get("Name"); }), automation::errors::ObjectNotSet);
}

TEST(AutomationObject, DefaultMemberIsTheEmptyName) {
    auto echo = std::make_shared<Echo>();
    Object o(echo);
    EXPECT_EQ(o.item({Value(3)}).toInteger(), 3);
    EXPECT_EQ(echo->last, "");
    EXPECT_EQ(errorNumber([&] { o.enumerate(); }), automation::errors::MemberNotSupported);
}

TEST(AutomationRegistry, ClassNamesAreCaseInsensitiveAndUnknownIs429) {
    automation::Registry registry;
    int created = 0;
    registry.registerClass("Word.Application", [&] {
        ++created;
        return Object(std::make_shared<Echo>());
    });
    EXPECT_FALSE(registry.create("word.application").isNothing());
    EXPECT_FALSE(registry.create("WORD.Application").isNothing());
    EXPECT_EQ(created, 2);
    try {
        registry.create("ET.Application");
        FAIL() << "expected 429";
    } catch (const Error& e) {
        EXPECT_EQ(e.number, 429);
        EXPECT_EQ(e.description, "ActiveX 部件不能创建对象");
    }
    // A class without a running instance cannot be attached to.
    EXPECT_EQ(errorNumber([&] { registry.getActive("Word.Application"); }), 429);
    registry.unregisterClass("WORD.APPLICATION");
    EXPECT_FALSE(registry.isRegistered("Word.Application"));
}
