#include "progressbutton/prog_button_model.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace progbutton {

namespace {

constexpr std::array<Scheme, 9> kSchemes{{
    {{{248, 246, 242},
      {233, 227, 211},
      {226, 215, 182},
      {239, 233, 215},
      {251, 244, 223},
      {239, 213, 133},
      {203, 166, 57},
      {237, 224, 187},
      {204, 168, 62}}},
    {{{247, 248, 242},
      {231, 233, 211},
      {222, 226, 182},
      {237, 239, 215},
      {249, 251, 223},
      {230, 239, 133},
      {190, 203, 57},
      {233, 237, 187},
      {192, 204, 62}}},
    {{{242, 248, 243},
      {211, 233, 213},
      {182, 226, 186},
      {215, 239, 217},
      {223, 251, 225},
      {133, 239, 142},
      {57, 203, 70},
      {187, 237, 191},
      {62, 204, 74}}},
    {{{242, 248, 247},
      {211, 233, 231},
      {182, 226, 222},
      {215, 239, 237},
      {223, 251, 249},
      {133, 239, 230},
      {57, 203, 190},
      {187, 237, 233},
      {62, 204, 192}}},
    {{{243, 242, 248},
      {213, 211, 233},
      {186, 182, 226},
      {217, 215, 239},
      {225, 223, 251},
      {142, 133, 239},
      {70, 57, 203},
      {191, 187, 237},
      {74, 62, 204}}},
    {{{248, 242, 247},
      {233, 211, 231},
      {226, 182, 222},
      {239, 215, 237},
      {251, 223, 249},
      {239, 133, 230},
      {203, 57, 190},
      {237, 187, 233},
      {204, 62, 192}}},
    {{{248, 242, 242},
      {233, 211, 211},
      {226, 182, 182},
      {239, 215, 215},
      {251, 223, 223},
      {239, 133, 133},
      {203, 57, 57},
      {237, 187, 187},
      {204, 62, 62}}},
    {{{250, 253, 254},
      {228, 243, 252},
      {199, 230, 249},
      {237, 247, 253},
      {225, 247, 255},
      {67, 208, 255},
      {63, 112, 233},
      {63, 226, 246},
      {23, 139, 211}}},
    {{{231, 243, 232},
      {225, 219, 225},
      {179, 189, 179},
      {226, 238, 226},
      {223, 251, 223},
      {108, 255, 108},
      {26, 228, 26},
      {217, 244, 217},
      {188, 184, 188}}},
}};

// Rounds to the nearest integer, ties to even, bounded to [lo, hi].
double roundBounded(double x, double lo, double hi) {
    if (std::isnan(x))
        return 0.0;
    const double r = std::nearbyint(x); // the default rounding mode: ties to even
    if (r < lo)
        return lo;
    if (r > hi)
        return hi;
    return r;
}

// The length of the UTF-8 sequence that starts with `lead`.
std::size_t utf8Length(unsigned char lead) {
    if (lead < 0xC0)
        return 1;
    if (lead < 0xE0)
        return 2;
    if (lead < 0xF0)
        return 3;
    return 4;
}

template <class T> const T* find(const PropertyBag& bag, const char* name) {
    const auto it = bag.find(name);
    if (it == bag.end())
        return nullptr;
    return std::get_if<T>(&it->second);
}

void put(PropertyBag& bag, const char* name, PropertyValue value, const PropertyValue& dflt) {
    if (value == dflt)
        bag.erase(name);
    else
        bag[name] = std::move(value);
}

} // namespace

std::optional<Scheme> builtInScheme(std::int32_t number) {
    if (number < 1 || number > 9)
        return std::nullopt;
    return kSchemes[static_cast<std::size_t>(number - 1)];
}

std::int32_t roundToInt32(double x) {
    return static_cast<std::int32_t>(roundBounded(x, std::numeric_limits<std::int32_t>::min(),
                                                  std::numeric_limits<std::int32_t>::max()));
}

double percentage(std::int32_t value, std::int32_t min, std::int32_t max) {
    // In 64 bits: the differences of two 32-bit numbers may not fit in 32.
    const std::int64_t span = std::int64_t{max} - min;
    if (span == 0)
        return 0.0;
    return static_cast<double>(std::int64_t{value} - min) / static_cast<double>(span) * 100.0;
}

std::int32_t fillWidth(double pct, std::int32_t right) {
    const double pct16 = roundBounded(pct, std::numeric_limits<std::int16_t>::min(),
                                      std::numeric_limits<std::int16_t>::max());
    return roundToInt32(pct16 * right / 100.0);
}

std::int32_t halfHeight(std::int32_t height) {
    return roundToInt32(height / 2.0);
}

std::string percentText(double pct, std::string_view decimalPoint) {
    // |pct| is at most about 4.3e11 (a 33-bit difference over 1, times 100),
    // so 64 characters always hold it.
    // to_chars rather than printf: the C locale's decimal point must not leak in.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer,
                                      std::isfinite(pct) ? pct : 0.0, std::chars_format::fixed, 2);
    std::string text(buffer, result.ec == std::errc{} ? result.ptr : buffer);
    if (const auto dot = text.find('.'); dot != std::string::npos)
        text.replace(dot, 1, decimalPoint);
    text += '%';
    return text;
}

Rect centredTextRect(std::int32_t right, std::int32_t bottom, std::int32_t textWidth,
                     std::int32_t textHeight) {
    Rect r;
    r.left = roundToInt32(right / 2.0 - textWidth / 2.0);
    r.top = roundToInt32(bottom / 2.0 - textHeight / 2.0);
    r.right = roundToInt32(static_cast<double>(r.left) + textWidth);
    r.bottom = roundToInt32(static_cast<double>(r.top) + textHeight);
    return r;
}

std::optional<std::string> accessKeyOf(std::string_view caption) {
    // Scanning from the left pairs "&&" off, as the text drawing does; the
    // last single "&" decides.
    std::optional<std::size_t> lastSingle;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] != '&')
            continue;
        if (i + 1 < caption.size() && caption[i + 1] == '&') {
            ++i;
            continue;
        }
        lastSingle = i;
    }
    if (!lastSingle || *lastSingle + 1 >= caption.size())
        return std::nullopt;
    const std::size_t start = *lastSingle + 1;
    const std::size_t length = utf8Length(static_cast<unsigned char>(caption[start]));
    return std::string(caption.substr(start, length));
}

void ProgButtonModel::setValue(std::int32_t v) {
    if (v > max_)
        v = max_;
    if (v < min_)
        v = min_;
    value_ = v;
}

void ProgButtonModel::setCaption(std::string caption) {
    if (auto keyOfCaption = accessKeyOf(caption))
        accessKey_ = std::move(keyOfCaption);
    caption_ = std::move(caption);
}

void ProgButtonModel::loadScheme() {
    if (auto scheme = builtInScheme(color_))
        colours_ = *scheme;
}

void ProgButtonModel::enterFocus() {
    focusRect_ = Rect{3, 3, right_ - 3, bottom_ - 3};
    focused_ = true;
}

void ProgButtonModel::layout(std::int32_t width, std::int32_t height) {
    right_ = width - 1;
    bottom_ = height - 1;
    half_ = halfHeight(height);
    loadScheme();
    if (!isButton()) {
        percent_ = percentage(value_, min_, max_);
        fill_ = fillWidth(percent_, right_);
    }
}

Rect ProgButtonModel::placeText(std::int32_t textWidth, std::int32_t textHeight) {
    textRect_ = centredTextRect(right_, bottom_, textWidth, textHeight);
    return textRect_;
}

void ProgButtonModel::readProperties(const PropertyBag& bag) {
    auto number = [&bag](const char* name, std::int32_t dflt) {
        const auto* v = find<std::int32_t>(bag, name);
        return v ? *v : dflt;
    };
    value_ = number(key::Value, fallback::Value);
    min_ = number(key::Min, fallback::Min);
    max_ = number(key::Max, fallback::Max);
    const auto* caption = find<std::string>(bag, key::Caption);
    setCaption(caption ? *caption : std::string(fallback::Caption));
    style_ = number(key::Style, fallback::Style);
    color_ = number(key::Color, fallback::Color);
}

void ProgButtonModel::writeProperties(PropertyBag& bag) const {
    put(bag, key::Value, value_, fallback::Value);
    put(bag, key::Min, min_, fallback::Min);
    put(bag, key::Max, max_, fallback::Max);
    put(bag, key::Caption, caption_, std::string(fallback::Caption));
    put(bag, key::Style, style_, fallback::Style);
    put(bag, key::Color, color_, fallback::Color);
}

} // namespace progbutton
