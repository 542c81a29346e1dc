#pragma once

// The state and arithmetic of the progress button, apart from any painting:
// value clamping, the percentage and the width of the filled part, where the
// centred text goes, the access key of the caption, the colour schemes and the
// persisted settings. `ProgButton` (the widget) owns one and paints from it.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace progbutton {

// One colour as red, green, blue.
struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// A rectangle by its edges, in pixels.
struct Rect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// The nine colours of one scheme: c0 -> c1 upper half of the background,
// c2 -> c3 its lower half, c4 -> c5 and c6 -> c7 the upper and lower halves of
// the fill (or of the pressed look), c8 the outline.
using Scheme = std::array<Rgb, 9>;

// Scheme `number` (1 to 9), or nothing for any other number.
std::optional<Scheme> builtInScheme(std::int32_t number);

// Saved settings: key -> number or text.
using PropertyValue = std::variant<std::int32_t, std::string>;
using PropertyBag = std::map<std::string, PropertyValue>;

// Keys of the persisted settings. `Style` is stored as "MyType" and `Color`
// as "MyStyle".
namespace key {
inline constexpr const char* Value = "Value";
inline constexpr const char* Min = "MyMin";
inline constexpr const char* Max = "MyMax";
inline constexpr const char* Caption = "MyCaption";
inline constexpr const char* Style = "MyType";
inline constexpr const char* Color = "MyStyle";
} // namespace key

// Defaults used when a key is absent on loading, and left out on saving.
namespace fallback {
inline constexpr std::int32_t Value = 0;
inline constexpr std::int32_t Min = 0;
inline constexpr std::int32_t Max = 100;
inline constexpr const char* Caption = "Command";
inline constexpr std::int32_t Style = 0;
inline constexpr std::int32_t Color = 1;
} // namespace fallback

// Rounds to the nearest integer, ties to even, bounded to the signed 32-bit
// range (NaN gives 0).
std::int32_t roundToInt32(double x);

// (value - min) / (max - min) * 100 in double precision. When max equals min
// the percentage is undefined; it is then 0.
double percentage(std::int32_t value, std::int32_t min, std::int32_t max);

// The filled width for `pct` in a control whose right edge is `right`: the
// percentage rounded to a signed 16-bit integer (bounded to that range), times
// right / 100, rounded; both roundings ties to even. The result is bounded to
// the signed 32-bit range.
std::int32_t fillWidth(double pct, std::int32_t right);

// Half the control's height, rounded to the nearest integer, ties to even.
std::int32_t halfHeight(std::int32_t height);

// The percentage as the control shows it: two decimals, `decimalPoint`
// between the whole and the decimals, then "%" ("45.00%").
std::string percentText(double pct, std::string_view decimalPoint = ".");

// Where `DrawTextR` puts a text of the given size: centred on right / 2 and
// bottom / 2, each edge rounded to the nearest integer, ties to even.
Rect centredTextRect(std::int32_t right, std::int32_t bottom, std::int32_t textWidth,
                     std::int32_t textHeight);

// The access key that `caption` names: the character (UTF-8) after the last
// "&" that is not half of a doubled "&&". Nothing when there is no such "&"
// or it ends the caption.
std::optional<std::string> accessKeyOf(std::string_view caption);

class ProgButtonModel {
public:
    // Mode `Style`: 0 progress bar, any other value push button.
    static constexpr std::int32_t ProgressMode = 0;

    std::int32_t value() const { return value_; }
    // Stores `v`, first lowered to `Max` when above it, then raised to `Min`
    // when below it.
    void setValue(std::int32_t v);
    std::int32_t min() const { return min_; }
    void setMin(std::int32_t v) { min_ = v; }
    std::int32_t max() const { return max_; }
    void setMax(std::int32_t v) { max_ = v; }

    const std::string& caption() const { return caption_; }
    // Stores the caption; the access key follows it when the caption names
    // one, and stays as it was otherwise.
    void setCaption(std::string caption);
    const std::optional<std::string>& accessKey() const { return accessKey_; }

    std::int32_t style() const { return style_; }
    void setStyle(std::int32_t v) { style_ = v; }
    bool isButton() const { return style_ != ProgressMode; }
    // Enter and the access key raise Click only in mode 1 (other button modes
    // look like a button but ignore the keyboard).
    bool keyboardClicks() const { return style_ == 1; }

    std::int32_t color() const { return color_; }
    void setColor(std::int32_t v) { color_ = v; }

    // Loads scheme `Color` into the colours. A number outside 1 to 9 loads
    // nothing and the previous colours stay (black when none was loaded).
    void loadScheme();
    const Scheme& colours() const { return colours_; }

    bool pressed() const { return pressed_; }
    void setPressed(bool p) { pressed_ = p; }
    bool focused() const { return focused_; }
    // Focus entry: the focus rectangle is set from the last layout.
    void enterFocus();
    void leaveFocus() { focused_ = false; }
    const Rect& focusRect() const { return focusRect_; }

    std::int16_t cornerSize() const { return cornerSize_; }

    // The first steps of a redraw for a control of this size: right and
    // bottom, half the height, the scheme, and in progress mode the
    // percentage and the fill width.
    void layout(std::int32_t width, std::int32_t height);
    std::int32_t right() const { return right_; }
    std::int32_t bottom() const { return bottom_; }
    std::int32_t half() const { return half_; }
    // Valid after `layout` in progress mode.
    double percent() const { return percent_; }
    std::int32_t fill() const { return fill_; }
    // The text that progress mode shows.
    std::string progressText(std::string_view decimalPoint = ".") const {
        return percentText(percent_, decimalPoint);
    }

    // Where the centred text of the given size goes; stored as the text
    // rectangle.
    Rect placeText(std::int32_t textWidth, std::int32_t textHeight);
    const Rect& textRect() const { return textRect_; }

    // Loads the six persisted settings, each with its default when absent
    // (a value of the wrong kind counts as absent). The caption sets the
    // access key as the `Caption` setter does.
    void readProperties(const PropertyBag& bag);
    // Saves the six settings; a value equal to its default is not written
    // (and an older entry under its key is removed).
    void writeProperties(PropertyBag& bag) const;

private:
    std::int32_t value_ = 0;
    std::int32_t min_ = 0;
    std::int32_t max_ = 100;
    std::string caption_;
    std::optional<std::string> accessKey_;
    std::int32_t style_ = 0;
    std::int32_t color_ = 1;
    std::int16_t cornerSize_ = 5;
    bool pressed_ = false;
    bool focused_ = false;
    std::int32_t right_ = -1;
    std::int32_t bottom_ = -1;
    std::int32_t half_ = 0;
    Rect focusRect_;
    Rect textRect_;
    double percent_ = 0.0;
    std::int32_t fill_ = 0;
    Scheme colours_{};
};

} // namespace progbutton
