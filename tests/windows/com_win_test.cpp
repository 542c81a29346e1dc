// The COM side of the automation layer against real COM classes that every
// Windows (and Wine) has: Scripting.Dictionary and Scripting.FileSystemObject.

#include "core/automation/com_win.h"
#include "core/text/encoding.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <oleauto.h>

#include <functional>
#include <string>
#include <vector>

using automation::Error;
using automation::Object;
using automation::Registry;
using automation::Value;

namespace {

Error errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e;
    }
    return Error(0, "no error");
}

class ComAutomation : public ::testing::Test {
protected:
    void SetUp() override { automation::com::useSystemClasses(registry); }
    Registry registry;
};

std::vector<std::string> keysOf(const Object& dictionary) {
    std::vector<std::string> keys;
    auto e = dictionary.enumerate();
    while (auto key = e.next())
        keys.push_back(key->toString());
    return keys;
}

} // namespace

TEST_F(ComAutomation, DictionaryItemsCountAndEnumeration) {
    // Class names are case-insensitive, as CreateObject's are.
    const Object d = registry.create("scripting.DICTIONARY");
    ASSERT_FALSE(d.isNothing());
    ASSERT_NE(automation::com::dispatchOf(d), nullptr);

    d.call("Add", {"a", 1});
    d.call("Add", {"报告", "替换内容"});
    // Named arguments, in an order other than the declared one.
    d.call("Add", {}, {{"Item", 3.5}, {"Key", "c"}});
    // An indexed property write: d.Item("flag") = True.
    d.put("Item", true, {"flag"});

    EXPECT_EQ(d.get("Count"), Value(4LL));
    EXPECT_EQ(d.get("Item", {"a"}), Value(1LL));
    EXPECT_EQ(d.get("Item", {"报告"}), Value("替换内容"));
    EXPECT_EQ(d.get("Item", {"c"}), Value(3.5));
    EXPECT_EQ(d.get("Item", {"flag"}), Value(true));
    // The default member with an index: d("a").
    EXPECT_EQ(d.item({"c"}), Value(3.5));
    EXPECT_EQ(d.call("Exists", {"报告"}), Value(true));
    EXPECT_EQ(d.call("Exists", {"missing"}), Value(false));

    // _NewEnum gives the keys in the order they were added.
    EXPECT_EQ(keysOf(d), (std::vector<std::string>{"a", "报告", "c", "flag"}));

    d.call("Remove", {"a"});
    EXPECT_EQ(d.get("Count"), Value(3LL));
    d.call("RemoveAll");
    EXPECT_EQ(d.get("Count"), Value(0LL));
    EXPECT_TRUE(keysOf(d).empty());
}

TEST_F(ComAutomation, ValuesKeepTheirKindThroughVariants) {
    const Object d = registry.create("Scripting.Dictionary");
    const std::vector<Value> values{Value(),          Value(false),   Value(-7),
                                    Value(0.1),       Value(""),      Value("𝄞 版 \t end"),
                                    Value(1LL << 40), Value(Object())};
    for (std::size_t i = 0; i < values.size(); ++i)
        d.put("Item", values[i], {static_cast<int>(i)});
    for (std::size_t i = 0; i < values.size(); ++i) {
        const Value back = d.get("Item", {static_cast<int>(i)});
        if (i == 6)
            // Beyond a Long: widened to a Double on the way in.
            EXPECT_EQ(back, Value(static_cast<double>(1LL << 40)));
        else
            EXPECT_EQ(back, values[i]) << i << ": " << back.debugString();
    }
}

TEST_F(ComAutomation, ObjectsGoInByReferenceAndComeBackAsTheSameObject) {
    const Object outer = registry.create("Scripting.Dictionary");
    const Object inner = registry.create("Scripting.Dictionary");
    inner.call("Add", {"k", "v"});
    outer.put("Item", Value(inner), {"inner"});

    const Value back = outer.get("Item", {"inner"});
    ASSERT_TRUE(back.isObject());
    EXPECT_EQ(automation::com::dispatchOf(back.toObject()), automation::com::dispatchOf(inner));
    EXPECT_EQ(back.toObject().get("Item", {"k"}), Value("v"));
    // Chained access through the returned object changes the original.
    back.toObject().put("Item", 2, {"k"});
    EXPECT_EQ(inner.get("Item", {"k"}), Value(2LL));
}

TEST_F(ComAutomation, MissingMembersAndArgumentsRaiseVisualBasicNumbers) {
    const Object d = registry.create("Scripting.Dictionary");
    const Error missing = errorOf([&] { d.call("NoSuchMethod"); });
    EXPECT_EQ(missing.number, 438);
    EXPECT_FALSE(missing.description.empty());

    const Error namedMissing = errorOf([&] { d.call("Add", {}, {{"Nope", 1}, {"Key", "x"}}); });
    EXPECT_EQ(namedMissing.number, 448);
    EXPECT_NE(namedMissing.description.find("Nope"), std::string::npos);

    // Errors the server raises carry its number: a key added twice is
    // "This key is already associated with an element of this collection".
    d.call("Add", {"k", 1});
    const Error duplicate = errorOf([&] { d.call("Add", {"k", 2}); });
    EXPECT_EQ(duplicate.number, 457);
    EXPECT_FALSE(duplicate.description.empty());

    // A Put without a value is refused before anything is sent.
    EXPECT_EQ(errorOf([&] {
                  d.dispatch()->invoke(automation::CallKind::Put, "Item", automation::Args{});
              }).number,
              450);
}

TEST_F(ComAutomation, ObjectsOfOtherServersCannotBePassed) {
    class Local final : public automation::Dispatch {
        Value invoke(automation::CallKind, std::string_view, const automation::Args&) override {
            return {};
        }
    };
    const Object d = registry.create("Scripting.Dictionary");
    const Error e = errorOf([&] { d.put("Item", Object(std::make_shared<Local>()), {"x"}); });
    EXPECT_EQ(e.number, 13);
    EXPECT_EQ(d.get("Count"), Value(0LL));
}

TEST_F(ComAutomation, NonCollectionsCannotBeEnumerated) {
    const Object fso = registry.create("Scripting.FileSystemObject");
    EXPECT_EQ(errorOf([&] { fso.enumerate(); }).number, 438);
    // A real member of it works: the folder of this program exists.
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    std::wstring folder(path);
    folder.resize(folder.find_last_of(L'\\'));
    const std::u16string u(folder.begin(), folder.end());
    EXPECT_EQ(fso.call("FolderExists", {Value(text::utf16ToUtf8(u))}), Value(true));
}

TEST_F(ComAutomation, UnregisteredClassIs429WithTheSystemsDescription) {
    for (const char* name : {"Word.Application", "KET.Application", ""}) {
        const Error created = errorOf([&] { registry.create(name); });
        EXPECT_EQ(created.number, 429) << name;
        EXPECT_FALSE(created.description.empty()) << name;
        const Error attached = errorOf([&] { registry.getActive(name); });
        EXPECT_EQ(attached.number, 429) << name;
        EXPECT_FALSE(attached.description.empty()) << name;
    }
    // The system's own text where it has one ("Invalid class string").
    const std::string system = automation::com::systemDescription(CO_E_CLASSSTRING);
    if (!system.empty()) {
        EXPECT_EQ(errorOf([&] { registry.create("Word.Application"); }).description, system);
    }
}

TEST_F(ComAutomation, AttachesToTheInstanceRegisteredAsActive) {
    // Nothing running yet.
    EXPECT_EQ(errorOf([&] { registry.getActive("Scripting.Dictionary"); }).number, 429);

    const Object running = registry.create("Scripting.Dictionary");
    running.call("Add", {"open.doc", 1});
    CLSID id{};
    ASSERT_EQ(CLSIDFromProgID(L"Scripting.Dictionary", &id), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(RegisterActiveObject(automation::com::dispatchOf(running), id, ACTIVEOBJECT_STRONG,
                                   &cookie),
              S_OK);

    const Object attached = registry.getActive("SCRIPTING.Dictionary");
    EXPECT_EQ(keysOf(attached), (std::vector<std::string>{"open.doc"}));
    attached.call("Add", {"second.doc", 2});
    EXPECT_EQ(running.get("Count"), Value(2LL));

    RevokeActiveObject(cookie, nullptr);
    EXPECT_EQ(errorOf([&] { registry.getActive("Scripting.Dictionary"); }).number, 429);
}

TEST(ComErrorNumbers, AsVisualBasicReportsThem) {
    using automation::com::errorNumber;
    EXPECT_EQ(errorNumber(DISP_E_UNKNOWNNAME), 438);
    EXPECT_EQ(errorNumber(DISP_E_MEMBERNOTFOUND), 438);
    EXPECT_EQ(errorNumber(DISP_E_TYPEMISMATCH), 13);
    EXPECT_EQ(errorNumber(CO_E_CLASSSTRING), 429);
    EXPECT_EQ(errorNumber(REGDB_E_CLASSNOTREG), 429);
    EXPECT_EQ(errorNumber(MK_E_UNAVAILABLE), 429);
    // Word's "file not found", raised with the control facility: its low word.
    EXPECT_EQ(errorNumber(static_cast<long>(0x800A1436UL)), 5174);
    // Anything else is the HRESULT itself, negative as Visual Basic shows it.
    EXPECT_EQ(errorNumber(E_FAIL), static_cast<long>(0x80004005UL));
    EXPECT_LT(errorNumber(E_FAIL), 0);
}
