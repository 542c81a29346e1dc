#pragma once

// Late-bound automation: office suites are driven by member name, the way
// their automation servers speak on Windows. Servers implement `Dispatch`;
// callers hold `Object`s and exchange `Value`s.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace automation {

class Dispatch;
class Value;

// Error numbers as Visual Basic, Word and Excel report them.
namespace errors {
inline constexpr long InvalidArgument = 5;
// An index outside a collection ("subscript out of range").
inline constexpr long SubscriptOutOfRange = 9;
inline constexpr long TypeMismatch = 13;
inline constexpr long ObjectNotSet = 91;
inline constexpr long ObjectRequired = 424;
inline constexpr long CannotCreateObject = 429;
inline constexpr long MemberNotSupported = 438;
// A named argument the member does not have.
inline constexpr long NamedArgumentNotFound = 448;
// A required argument that was not given.
inline constexpr long ArgumentNotOptional = 449;
// Too many arguments, or an argument of the wrong kind.
inline constexpr long WrongArgumentCount = 450;
// The automation server went away (crashed, hung and ended, or quit).
inline constexpr long ServerUnavailable = 462;
// Excel: the application-defined or object-defined error.
inline constexpr long ExcelFailure = 1004;
// Word: a command failed.
inline constexpr long WordCommandFailed = 4198;
// Word: a command that needs an open document.
inline constexpr long WordNoDocument = 4248;
// Word: a value out of its range.
inline constexpr long WordValueOutOfRange = 4608;
// Word: a document cannot be opened, read or saved.
inline constexpr long WordFile = 5174;
// Word: the object (a closed document) has been deleted.
inline constexpr long WordObjectDeleted = 5825;
// Word: the requested member of a collection does not exist.
inline constexpr long WordNoSuchMember = 5941;
} // namespace errors

// What a failing automation call raises.
class Error : public std::runtime_error {
public:
    Error(long number, std::string description);
    long number;
    std::string description;
};

// The system's own description of a standard error number (Chinese texts, as
// a Chinese Windows describes them); an empty string for unknown numbers.
std::string standardDescription(long number);

// Builds an Error carrying the standard description of its number.
Error makeError(long number);

// A reference to an automation object, or Nothing when empty.
class Object {
public:
    Object() = default;
    explicit Object(std::shared_ptr<Dispatch> target) : target_(std::move(target)) {}

    bool isNothing() const { return target_ == nullptr; }
    explicit operator bool() const { return target_ != nullptr; }
    Dispatch* dispatch() const { return target_.get(); }
    const std::shared_ptr<Dispatch>& shared() const { return target_; }

    struct Named;
    // Property read, with optional index arguments (`Sections(1)`).
    Value get(std::string_view member, const std::vector<Value>& index = {}) const;
    // Property write; index arguments come first, as in `Cells(1, 2) = v`.
    void put(std::string_view member, const Value& value,
             const std::vector<Value>& index = {}) const;
    // Method call with positional and named arguments.
    Value call(std::string_view member, const std::vector<Value>& positional = {},
               const std::vector<Named>& named = {}) const;
    // The default member with arguments: `Worksheets(j)`.
    Value item(const std::vector<Value>& index) const;
    // The default member without arguments: the value of the object itself.
    Value value() const;
    // The elements of a collection, read one at a time. Reading may fail
    // part-way (the server went away); that raises an Error from `next`.
    class Enumerator;
    Enumerator enumerate() const;

    bool operator==(const Object& other) const { return target_ == other.target_; }

private:
    Dispatch& checked() const;
    std::shared_ptr<Dispatch> target_;
};

class Value {
public:
    enum class Type { Empty, Bool, Integer, Double, String, Object };

    Value() = default;
    Value(bool b) : data_(b) {}
    Value(int i) : data_(static_cast<std::int64_t>(i)) {}
    Value(long i) : data_(static_cast<std::int64_t>(i)) {}
    Value(long long i) : data_(static_cast<std::int64_t>(i)) {}
    Value(double d) : data_(d) {}
    Value(std::string s) : data_(std::move(s)) {}
    Value(const char* s) : data_(std::string(s)) {}
    Value(std::string_view s) : data_(std::string(s)) {}
    Value(Object o) : data_(std::move(o)) {}

    Type type() const { return static_cast<Type>(data_.index()); }
    bool isEmpty() const { return type() == Type::Empty; }
    bool isObject() const { return type() == Type::Object; }
    // True for an object reference that is Nothing.
    bool isNothing() const;

    // Conversions with Visual Basic's rules; a value that does not convert
    // raises Error 13 (type mismatch).
    bool toBool() const;
    std::int64_t toInteger() const;
    double toDouble() const;
    // Text form: booleans "True"/"False", numbers in their shortest decimal
    // form, Empty as "". Objects raise Error 13.
    std::string toString() const;
    // The object reference; raises Error 424 when the value is no object.
    Object toObject() const;

    // Exact representation equality (same type and same content).
    bool operator==(const Value& other) const { return data_ == other.data_; }

    // A short, unambiguous rendering for test records: "Empty", "True",
    // "42", "14.5", "\"text\"", "<Object>", "Nothing".
    std::string debugString() const;

private:
    std::variant<std::monostate, bool, std::int64_t, double, std::string, Object> data_;
};

struct Object::Named {
    std::string name;
    Value value;
};

// How a member is reached.
enum class CallKind { Get, Put, Method };

// Arguments of one member access. For Put the new value is the last
// positional argument.
struct Args {
    std::vector<Value> positional;
    std::vector<Object::Named> named;
};

class Enumeration {
public:
    virtual ~Enumeration() = default;
    // The next element, or nothing at the end; raises Error when the
    // collection cannot be read any more.
    virtual std::optional<Value> next() = 0;
};

class Object::Enumerator {
public:
    explicit Enumerator(std::unique_ptr<Enumeration> e) : e_(std::move(e)) {}
    std::optional<Value> next() { return e_->next(); }

private:
    std::unique_ptr<Enumeration> e_;
};

// What an automation server implements for each of its objects. The empty
// member name is the default member.
class Dispatch {
public:
    virtual ~Dispatch() = default;
    virtual Value invoke(CallKind kind, std::string_view member, const Args& args) = 0;
    // Collections override this; the default raises Error 438.
    virtual std::unique_ptr<Enumeration> enumerate();
};

// Converts a text to the form used for case-insensitive class lookups.
std::string foldClassName(std::string_view className);

// The classes that can be created by name, and the running instances that
// can be attached to. Class names are case-insensitive, as on Windows.
class Registry {
public:
    using Factory = std::function<Object()>;
    // Returns the running instance, or Nothing when there is none.
    using ActiveLookup = std::function<Object()>;

    // Where classes that are not registered by name are looked for: the
    // system's own automation classes (COM on Windows). Each raises Error
    // when it cannot create or find an instance.
    using NamedFactory = std::function<Object(std::string_view className)>;

    void registerClass(std::string_view className, Factory create, ActiveLookup active = {});
    void unregisterClass(std::string_view className);
    bool isRegistered(std::string_view className) const;
    // Installs (or, with empty functions, removes) the lookup for classes
    // that are not registered by name. Registered classes always come first.
    void setFallback(NamedFactory create, NamedFactory active);

    // A new instance; Error 429 when the class is unknown or the factory
    // fails to start its server.
    Object create(std::string_view className) const;
    // The running instance registered as active; Error 429 when there is none.
    Object getActive(std::string_view className) const;

private:
    struct Entry {
        Factory create;
        ActiveLookup active;
    };
    std::map<std::string, Entry, std::less<>> classes_;
    NamedFactory fallbackCreate_;
    NamedFactory fallbackActive_;
};

// The registry the programs use; servers add their classes at start-up.
Registry& defaultRegistry();

} // namespace automation
