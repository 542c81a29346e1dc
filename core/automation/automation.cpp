#include "core/automation/automation.h"
#include "core/text/ascii.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace automation {

Error::Error(long number_, std::string description_)
    : std::runtime_error(description_), number(number_), description(std::move(description_)) {}

std::string standardDescription(long number) {
    switch (number) {
    case errors::InvalidArgument:
        return "无效的过程调用或参数";
    case errors::TypeMismatch:
        return "类型不匹配";
    case errors::ObjectNotSet:
        return "对象变量或 With 块变量未设置";
    case errors::ObjectRequired:
        return "要求对象";
    case errors::CannotCreateObject:
        return "ActiveX 部件不能创建对象";
    case errors::MemberNotSupported:
        return "对象不支持该属性或方法";
    default:
        return {};
    }
}

Error makeError(long number) {
    return Error(number, standardDescription(number));
}

// ---------------------------------------------------------------- Object

Dispatch& Object::checked() const {
    if (!target_)
        throw makeError(errors::ObjectNotSet);
    return *target_;
}

Value Object::get(std::string_view member, const std::vector<Value>& index) const {
    return checked().invoke(CallKind::Get, member, Args{index, {}});
}

void Object::put(std::string_view member, const Value& value,
                 const std::vector<Value>& index) const {
    Args args{index, {}};
    args.positional.push_back(value);
    checked().invoke(CallKind::Put, member, args);
}

Value Object::call(std::string_view member, const std::vector<Value>& positional,
                   const std::vector<Named>& named) const {
    return checked().invoke(CallKind::Method, member, Args{positional, named});
}

Value Object::item(const std::vector<Value>& index) const {
    return checked().invoke(CallKind::Get, "", Args{index, {}});
}

Value Object::value() const {
    return checked().invoke(CallKind::Get, "", Args{});
}

Object::Enumerator Object::enumerate() const {
    return Enumerator(checked().enumerate());
}

std::unique_ptr<Enumeration> Dispatch::enumerate() {
    throw makeError(errors::MemberNotSupported);
}

// ---------------------------------------------------------------- Value

namespace {

std::string shortestNumber(double d) {
    if (d == 0.0)
        return "0"; // also -0
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, d);
    if (ec != std::errc())
        return "0";
    return std::string(buffer, end);
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Visual Basic's numeric reading of a text ("14.0", " 12 ", "1e3"); absent
// when the text is not a number.
std::optional<double> parseNumber(std::string_view text) {
    std::string_view s = trimBlanks(text);
    if (s.empty())
        return std::nullopt;
    if (s.front() == '+')
        s.remove_prefix(1);
    double d = 0;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
    if (ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(d))
        return std::nullopt;
    // Only digits, signs, a point and an exponent make a number ("nan" does not).
    if (s.find_first_not_of("0123456789+-.eE") != std::string_view::npos)
        return std::nullopt;
    return d;
}

} // namespace

bool Value::isNothing() const {
    return type() == Type::Object && std::get<Object>(data_).isNothing();
}

bool Value::toBool() const {
    switch (type()) {
    case Type::Empty:
        return false;
    case Type::Bool:
        return std::get<bool>(data_);
    case Type::Integer:
        return std::get<std::int64_t>(data_) != 0;
    case Type::Double:
        return std::get<double>(data_) != 0.0;
    case Type::String: {
        const std::string lower = text::asciiLower(trimBlanks(std::get<std::string>(data_)));
        if (lower == "true")
            return true;
        if (lower == "false")
            return false;
        if (auto n = parseNumber(lower))
            return *n != 0.0;
        throw makeError(errors::TypeMismatch);
    }
    case Type::Object:
        break;
    }
    throw makeError(errors::TypeMismatch);
}

double Value::toDouble() const {
    switch (type()) {
    case Type::Empty:
        return 0.0;
    case Type::Bool:
        return std::get<bool>(data_) ? -1.0 : 0.0;
    case Type::Integer:
        return static_cast<double>(std::get<std::int64_t>(data_));
    case Type::Double:
        return std::get<double>(data_);
    case Type::String:
        if (auto n = parseNumber(std::get<std::string>(data_)))
            return *n;
        break;
    case Type::Object:
        break;
    }
    throw makeError(errors::TypeMismatch);
}

std::int64_t Value::toInteger() const {
    if (type() == Type::Integer)
        return std::get<std::int64_t>(data_);
    const double d = toDouble();
    // Banker's rounding, as Visual Basic's CLng does.
    const double r = std::nearbyint(d);
    if (!std::isfinite(r) || r < static_cast<double>(std::numeric_limits<std::int64_t>::min()) ||
        r >= static_cast<double>(std::numeric_limits<std::int64_t>::max()))
        throw Error(6, "溢出");
    return static_cast<std::int64_t>(r);
}

std::string Value::toString() const {
    switch (type()) {
    case Type::Empty:
        return {};
    case Type::Bool:
        return std::get<bool>(data_) ? "True" : "False";
    case Type::Integer:
        return std::to_string(std::get<std::int64_t>(data_));
    case Type::Double:
        return shortestNumber(std::get<double>(data_));
    case Type::String:
        return std::get<std::string>(data_);
    case Type::Object:
        break;
    }
    throw makeError(errors::TypeMismatch);
}

Object Value::toObject() const {
    if (type() != Type::Object)
        throw makeError(errors::ObjectRequired);
    return std::get<Object>(data_);
}

std::string Value::debugString() const {
    switch (type()) {
    case Type::Empty:
        return "Empty";
    case Type::Bool:
    case Type::Integer:
    case Type::Double:
        return toString();
    case Type::String:
        return "\"" + std::get<std::string>(data_) + "\"";
    case Type::Object:
        return isNothing() ? "Nothing" : "<Object>";
    }
    return {};
}

// ---------------------------------------------------------------- Registry

std::string foldClassName(std::string_view className) {
    return text::asciiLower(className);
}

void Registry::registerClass(std::string_view className, Factory create, ActiveLookup active) {
    classes_[foldClassName(className)] = Entry{std::move(create), std::move(active)};
}

void Registry::unregisterClass(std::string_view className) {
    classes_.erase(foldClassName(className));
}

bool Registry::isRegistered(std::string_view className) const {
    return classes_.find(foldClassName(className)) != classes_.end();
}

void Registry::setFallback(NamedFactory create, NamedFactory active) {
    fallbackCreate_ = std::move(create);
    fallbackActive_ = std::move(active);
}

Object Registry::create(std::string_view className) const {
    auto it = classes_.find(foldClassName(className));
    Object o;
    if (it != classes_.end() && it->second.create)
        o = it->second.create();
    else if (it == classes_.end() && fallbackCreate_)
        o = fallbackCreate_(className);
    if (o.isNothing())
        throw makeError(errors::CannotCreateObject);
    return o;
}

Object Registry::getActive(std::string_view className) const {
    auto it = classes_.find(foldClassName(className));
    Object o;
    if (it != classes_.end() && it->second.active)
        o = it->second.active();
    else if (it == classes_.end() && fallbackActive_)
        o = fallbackActive_(className);
    if (o.isNothing())
        throw makeError(errors::CannotCreateObject);
    return o;
}

Registry& defaultRegistry() {
    static Registry registry;
    return registry;
}

} // namespace automation
