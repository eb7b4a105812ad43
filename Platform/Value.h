// hvn::Value: the property-list value type every layer exchanges (user defaults, plist
// files, language entries, SQLite rows). Value semantics: copying a Value copies the
// whole tree. Equality is whole-value equality (an integer never equals a double).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace hvn {

class Value;

// A point in time, seconds since 1970-01-01 UTC.
struct Date {
    double secondsSince1970 = 0;
    static Date now();
    bool operator==(const Date&) const = default;
    auto operator<=>(const Date&) const = default;
};

using Data = std::vector<uint8_t>;
using Array = std::vector<Value>;
using Dictionary = std::map<std::string, Value>;

class Value {
public:
    enum class Type { Null, Bool, Integer, Real, String, Date, Data, Array, Dictionary };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(int64_t{i}) {}
    Value(long i) : v_(int64_t{i}) {}
    Value(long long i) : v_(int64_t{i}) {}
    Value(unsigned i) : v_(int64_t{i}) {}
    Value(double d) : v_(d) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(hvn::Date d) : v_(d) {}
    Value(hvn::Data d) : v_(std::move(d)) {}
    Value(hvn::Array a) : v_(Box<hvn::Array>(std::move(a))) {}
    Value(hvn::Dictionary d) : v_(Box<hvn::Dictionary>(std::move(d))) {}

    Type type() const { return static_cast<Type>(v_.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isReal() const { return type() == Type::Real; }
    bool isNumber() const { return isBool() || isInteger() || isReal(); }
    bool isString() const { return type() == Type::String; }
    bool isDate() const { return type() == Type::Date; }
    bool isData() const { return type() == Type::Data; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    // Typed access. The as...() readers return the stored value or, for a value of
    // another type, a neutral fallback (false, 0, "", empty container); numbers convert
    // among themselves as NSNumber does (boolValue of 2 is true, intValue of 1.9 is 1),
    // and a string holding a number converts like NSString's intValue/doubleValue.
    bool asBool() const;
    int64_t asInteger() const;
    double asReal() const;
    const std::string& asString() const;
    hvn::Date asDate() const;
    const hvn::Data& asData() const;
    const hvn::Array& asArray() const;
    const hvn::Dictionary& asDictionary() const;

    // Mutable access; converts a null value to an empty container first. Calling it on a
    // value of another type replaces that value.
    hvn::Array& array();
    hvn::Dictionary& dictionary();

    // Dictionary lookup: the value under key, or nullptr (not a dictionary, absent key).
    const Value* find(const std::string& key) const;
    // Dictionary lookup returning a null Value when absent.
    const Value& operator[](const std::string& key) const;

    // The textual description used when a value is bound as text or printed
    // (integers in decimal, reals with up to 17 significant digits, data as <hex>).
    std::string description() const;

    bool operator==(const Value& other) const;
    bool operator!=(const Value& other) const { return !(*this == other); }

    static const Value& null();

private:
    // Deep-copying box so that Array and Dictionary can hold Values.
    template <class T>
    struct Box {
        std::unique_ptr<T> p;
        explicit Box(T t) : p(std::make_unique<T>(std::move(t))) {}
        Box(const Box& o) : p(std::make_unique<T>(*o.p)) {}
        Box(Box&&) noexcept = default;
        Box& operator=(const Box& o) {
            if (this != &o) p = std::make_unique<T>(*o.p);
            return *this;
        }
        Box& operator=(Box&&) noexcept = default;
    };
    std::variant<std::monostate, bool, int64_t, double, std::string, hvn::Date, hvn::Data, Box<hvn::Array>,
                 Box<hvn::Dictionary>>
        v_;
};

// For test output.
inline void PrintTo(const Value& v, std::ostream* os) { *os << v.description(); }

}  // namespace hvn
