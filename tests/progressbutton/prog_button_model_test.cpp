#include "progressbutton/prog_button_model.h"

#include <gtest/gtest.h>

#include <limits>

using namespace progbutton;

namespace {

constexpr std::int32_t kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax32 = std::numeric_limits<std::int32_t>::max();

ProgButtonModel progress(std::int32_t min, std::int32_t max, std::int32_t value) {
    ProgButtonModel m;
    m.setMin(min);
    m.setMax(max);
    m.setValue(value);
    return m;
}

} // namespace

TEST(ProgButtonModel, FortyFiveOfHundredAtWidth201) {
    auto m = progress(0, 100, 45);
    m.layout(201, 17);
    EXPECT_EQ(m.right(), 200);
    EXPECT_EQ(m.bottom(), 16);
    EXPECT_DOUBLE_EQ(m.percent(), 45.0);
    EXPECT_EQ(m.fill(), 90);
    EXPECT_EQ(m.progressText(), "45.00%");
}

TEST(ProgButtonModel, OneOfThreeShowsUnroundedTextButFillsWithWholePercent) {
    auto m = progress(0, 3, 1);
    m.layout(201, 17);
    EXPECT_EQ(m.progressText(), "33.33%");
    // 33 x 200 / 100 = 66; the unrounded 33.33 would give 67.
    EXPECT_EQ(m.fill(), 66);
}

TEST(ProgButtonModel, ValueIsLoweredToMaxThenRaisedToMin) {
    ProgButtonModel m;
    m.setValue(101);
    EXPECT_EQ(m.value(), 100);
    m.setValue(-5);
    EXPECT_EQ(m.value(), 0);
    m.setValue(kMax32);
    EXPECT_EQ(m.value(), 100);

    // Min above Max is accepted; a later value then yields Min.
    m.setMin(50);
    m.setMax(10);
    m.setValue(30);
    EXPECT_EQ(m.value(), 50);
    m.setValue(5);
    EXPECT_EQ(m.value(), 50);
    // Min and Max setters do not touch the stored value.
    m.setMin(0);
    m.setMax(20);
    EXPECT_EQ(m.value(), 50);
}

TEST(ProgButtonModel, RoundingIsToNearestWithTiesToEven) {
    EXPECT_EQ(halfHeight(17), 8); // 8.5
    EXPECT_EQ(halfHeight(15), 8); // 7.5
    EXPECT_EQ(halfHeight(16), 8);
    // The percentage goes to a whole number first: 2.5 -> 2, 3.5 -> 4.
    EXPECT_EQ(fillWidth(2.5, 100), 2);
    EXPECT_EQ(fillWidth(3.5, 100), 4);
    // Then the width: 1 x 50 / 100 = 0.5 -> 0, 3 x 50 / 100 = 1.5 -> 2.
    EXPECT_EQ(fillWidth(1, 50), 0);
    EXPECT_EQ(fillWidth(3, 50), 2);
    // Text rectangle: 100 - 20.5 = 79.5 -> 80, 8 - 6.5 = 1.5 -> 2.
    EXPECT_EQ(centredTextRect(200, 16, 41, 13), (Rect{80, 2, 121, 15}));
    // 100 - 21.5 = 78.5 -> 78.
    EXPECT_EQ(centredTextRect(200, 16, 43, 13).left, 78);
}

TEST(ProgButtonModel, EqualMinAndMaxShowNothingFilled) {
    for (std::int32_t bound : {0, 7, kMin32, kMax32}) {
        auto m = progress(bound, bound, bound);
        m.layout(321, 17);
        EXPECT_EQ(m.progressText(), "0.00%") << bound;
        EXPECT_EQ(m.fill(), 0) << bound;
    }
    // A value left outside by later Min/Max changes, with Max equal to Min.
    auto m = progress(0, 100, 80);
    m.setMax(3);
    m.setMin(3);
    m.layout(321, 17);
    EXPECT_EQ(m.progressText(), "0.00%");
    EXPECT_EQ(m.fill(), 0);
}

TEST(ProgButtonModel, ExtremeRangesStayBounded) {
    // The whole 32-bit range: the difference does not fit in 32 bits.
    auto full = progress(kMin32, kMax32, kMax32);
    full.layout(321, 17);
    EXPECT_EQ(full.progressText(), "100.00%");
    EXPECT_EQ(full.fill(), 320);
    full.setValue(kMin32);
    full.layout(321, 17);
    EXPECT_EQ(full.progressText(), "0.00%");
    EXPECT_EQ(full.fill(), 0);

    // A value far above a range narrowed afterwards: the text shows the true
    // percentage, the fill uses the bounded one.
    auto above = progress(0, kMax32, kMax32);
    above.setMax(1);
    above.layout(201, 17);
    EXPECT_EQ(above.progressText(), "214748364700.00%");
    EXPECT_EQ(above.fill(), 32767 * 2);

    auto below = progress(kMin32, kMax32, kMin32);
    below.setMin(kMax32 - 1);
    below.layout(201, 17);
    EXPECT_EQ(below.progressText(), "-429496729400.00%");
    EXPECT_EQ(below.fill(), -32768 * 2);

    EXPECT_EQ(fillWidth(1e12, kMax32), kMax32);
    EXPECT_EQ(fillWidth(-1e12, kMax32), kMin32);
    EXPECT_EQ(roundToInt32(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(ProgButtonModel, PercentTextUsesTheGivenDecimalPoint) {
    EXPECT_EQ(percentText(100.0 / 3, ","), "33,33%");
    EXPECT_EQ(percentText(-5.0), "-5.00%");
    EXPECT_EQ(percentText(0.0), "0.00%");
}

TEST(ProgButtonModel, AccessKeyFollowsTheLastSingleAmpersand) {
    EXPECT_EQ(accessKeyOf("&Start"), "S");
    EXPECT_EQ(accessKeyOf("Save && Exit"), std::nullopt);
    EXPECT_EQ(accessKeyOf("Exit&"), std::nullopt);
    EXPECT_EQ(accessKeyOf("&Open &Save"), "S");
    EXPECT_EQ(accessKeyOf("&&&x"), "x");
    EXPECT_EQ(accessKeyOf("a&&b&&"), std::nullopt);
    // The last single "&" ends the caption: no key, even with an earlier one.
    EXPECT_EQ(accessKeyOf("&Save &"), std::nullopt);
    EXPECT_EQ(accessKeyOf("&开始"), "开");
    EXPECT_EQ(accessKeyOf(""), std::nullopt);
}

TEST(ProgButtonModel, CaptionWithoutAccessKeyKeepsThePreviousKey) {
    ProgButtonModel m;
    EXPECT_EQ(m.accessKey(), std::nullopt);
    m.setCaption("&Start");
    EXPECT_EQ(m.accessKey(), "S");
    m.setCaption("Save && Exit");
    EXPECT_EQ(m.caption(), "Save && Exit");
    EXPECT_EQ(m.accessKey(), "S");
    m.setCaption("Exit&");
    EXPECT_EQ(m.accessKey(), "S");
    m.setCaption("E&xit");
    EXPECT_EQ(m.accessKey(), "x");
}

TEST(ProgButtonModel, SchemesAndNumbersOutsideOneToNine) {
    const auto three = builtInScheme(3);
    ASSERT_TRUE(three);
    EXPECT_EQ((*three)[4], (Rgb{223, 251, 225}));
    EXPECT_EQ((*three)[5], (Rgb{133, 239, 142}));
    EXPECT_EQ((*three)[6], (Rgb{57, 203, 70}));
    EXPECT_EQ((*three)[7], (Rgb{187, 237, 191}));
    EXPECT_EQ((*three)[8], (Rgb{62, 204, 74}));
    EXPECT_EQ((*builtInScheme(1))[0], (Rgb{248, 246, 242}));
    EXPECT_EQ((*builtInScheme(9))[8], (Rgb{188, 184, 188}));
    for (std::int32_t n : {0, 10, -1, kMin32, kMax32})
        EXPECT_FALSE(builtInScheme(n)) << n;

    // Never loaded: black.
    ProgButtonModel m;
    m.setColor(0);
    m.layout(100, 17);
    EXPECT_EQ(m.colours(), Scheme{});
    // Loaded, then an unknown number: the previous colours stay.
    m.setColor(3);
    m.layout(100, 17);
    m.setColor(12);
    m.layout(100, 17);
    EXPECT_EQ(m.colours(), *three);
    m.setColor(8);
    m.layout(100, 17);
    EXPECT_EQ(m.colours()[8], (Rgb{23, 139, 211}));
}

TEST(ProgButtonModel, FocusRectangleComesFromTheLastLayout) {
    ProgButtonModel m;
    m.setStyle(1);
    m.layout(321, 17);
    m.enterFocus();
    EXPECT_TRUE(m.focused());
    EXPECT_EQ(m.focusRect(), (Rect{3, 3, 317, 13}));
    m.leaveFocus();
    EXPECT_FALSE(m.focused());
}

TEST(ProgButtonModel, SavingWritesOnlyWhatDiffersFromTheDefaults) {
    // A fresh control differs from the defaults only in its empty caption.
    ProgButtonModel fresh;
    PropertyBag bag;
    fresh.writeProperties(bag);
    EXPECT_EQ(bag, (PropertyBag{{"MyCaption", std::string()}}));

    // The splash's instance: empty caption, scheme 3.
    ProgButtonModel splash;
    splash.setColor(3);
    splash.setStyle(2);
    splash.setMax(50);
    splash.setValue(7);
    splash.setMin(-1);
    PropertyBag saved;
    splash.writeProperties(saved);
    EXPECT_EQ(saved, (PropertyBag{{"MyCaption", std::string()},
                                  {"MyStyle", 3},
                                  {"MyType", 2},
                                  {"MyMax", 50},
                                  {"MyMin", -1},
                                  {"Value", 7}}));

    // Back to a default: the stale entry goes.
    splash.setColor(1);
    splash.writeProperties(saved);
    EXPECT_EQ(saved.count("MyStyle"), 0u);
}

TEST(ProgButtonModel, LoadingUsesCrossedKeysAndDefaults) {
    ProgButtonModel empty;
    empty.readProperties({});
    EXPECT_EQ(empty.caption(), "Command");
    EXPECT_EQ(empty.value(), 0);
    EXPECT_EQ(empty.min(), 0);
    EXPECT_EQ(empty.max(), 100);
    EXPECT_EQ(empty.style(), 0);
    EXPECT_EQ(empty.color(), 1);

    ProgButtonModel m;
    m.readProperties({{"MyType", 1},
                      {"MyStyle", 3},
                      {"MyCaption", std::string("&Go")},
                      {"MyMin", 5},
                      {"MyMax", 9},
                      {"Value", 200},
                      // Names of the properties rather than their keys are not read.
                      {"Style", 7},
                      {"Color", 7}});
    EXPECT_EQ(m.style(), 1);
    EXPECT_EQ(m.color(), 3);
    EXPECT_EQ(m.caption(), "&Go");
    EXPECT_EQ(m.accessKey(), "G");
    EXPECT_EQ(m.min(), 5);
    EXPECT_EQ(m.max(), 9);
    EXPECT_EQ(m.value(), 200);

    // A value of the wrong kind counts as absent.
    ProgButtonModel wrong;
    wrong.readProperties({{"MyMax", std::string("x")}, {"MyCaption", 4}});
    EXPECT_EQ(wrong.max(), 100);
    EXPECT_EQ(wrong.caption(), "Command");
}
