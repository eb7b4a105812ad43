#include "Platform/Value.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace hvn {

Date Date::now() {
    auto t = std::chrono::system_clock::now().time_since_epoch();
    return Date{std::chrono::duration<double>(t).count()};
}

namespace {
const std::string kEmptyString;
const Data kEmptyData;
const Array kEmptyArray;
const Dictionary kEmptyDictionary;
}  // namespace

const Value& Value::null() {
    static const Value n;
    return n;
}

bool Value::asBool() const {
    switch (type()) {
        case Type::Bool: return std::get<bool>(v_);
        case Type::Integer: return std::get<int64_t>(v_) != 0;
        case Type::Real: return std::get<double>(v_) != 0.0;
        case Type::String: {
            // NSString boolValue: leading Y/y/T/t or a non-zero number.
            const auto& s = std::get<std::string>(v_);
            size_t i = s.find_first_not_of(" \t");
            if (i == std::string::npos) return false;
            char c = s[i];
            if (c == 'Y' || c == 'y' || c == 'T' || c == 't') return true;
            return std::atoll(s.c_str() + i) != 0;
        }
        default: return false;
    }
}

int64_t Value::asInteger() const {
    switch (type()) {
        case Type::Bool: return std::get<bool>(v_) ? 1 : 0;
        case Type::Integer: return std::get<int64_t>(v_);
        case Type::Real: return static_cast<int64_t>(std::get<double>(v_));
        case Type::String: return std::atoll(std::get<std::string>(v_).c_str());
        default: return 0;
    }
}

double Value::asReal() const {
    switch (type()) {
        case Type::Bool: return std::get<bool>(v_) ? 1.0 : 0.0;
        case Type::Integer: return static_cast<double>(std::get<int64_t>(v_));
        case Type::Real: return std::get<double>(v_);
        case Type::String: return std::atof(std::get<std::string>(v_).c_str());
        case Type::Date: return std::get<Date>(v_).secondsSince1970;
        default: return 0;
    }
}

const std::string& Value::asString() const {
    if (auto* s = std::get_if<std::string>(&v_)) return *s;
    return kEmptyString;
}

Date Value::asDate() const {
    if (auto* d = std::get_if<Date>(&v_)) return *d;
    return Date{};
}

const Data& Value::asData() const {
    if (auto* d = std::get_if<Data>(&v_)) return *d;
    return kEmptyData;
}

const Array& Value::asArray() const {
    if (auto* a = std::get_if<Box<Array>>(&v_)) return *a->p;
    return kEmptyArray;
}

const Dictionary& Value::asDictionary() const {
    if (auto* d = std::get_if<Box<Dictionary>>(&v_)) return *d->p;
    return kEmptyDictionary;
}

Array& Value::array() {
    if (!isArray()) v_ = Box<Array>(Array{});
    return *std::get<Box<Array>>(v_).p;
}

Dictionary& Value::dictionary() {
    if (!isDictionary()) v_ = Box<Dictionary>(Dictionary{});
    return *std::get<Box<Dictionary>>(v_).p;
}

const Value* Value::find(const std::string& key) const {
    if (!isDictionary()) return nullptr;
    const auto& d = asDictionary();
    auto it = d.find(key);
    return it == d.end() ? nullptr : &it->second;
}

const Value& Value::operator[](const std::string& key) const {
    const Value* v = find(key);
    return v ? *v : null();
}

std::string Value::description() const {
    char buf[64];
    switch (type()) {
        case Type::Null: return "<null>";
        case Type::Bool: return std::get<bool>(v_) ? "1" : "0";
        case Type::Integer: return std::to_string(std::get<int64_t>(v_));
        case Type::Real:
            std::snprintf(buf, sizeof buf, "%.17g", std::get<double>(v_));
            return buf;
        case Type::String: return std::get<std::string>(v_);
        case Type::Date:
            std::snprintf(buf, sizeof buf, "%.3f", std::get<Date>(v_).secondsSince1970);
            return buf;
        case Type::Data: {
            static const char* hex = "0123456789abcdef";
            std::string s = "<";
            for (uint8_t b : std::get<Data>(v_)) {
                s += hex[b >> 4];
                s += hex[b & 15];
            }
            return s + ">";
        }
        case Type::Array: {
            std::string s = "(";
            bool first = true;
            for (const auto& e : asArray()) {
                s += first ? "" : ", ";
                s += e.description();
                first = false;
            }
            return s + ")";
        }
        case Type::Dictionary: {
            std::string s = "{";
            bool first = true;
            for (const auto& [k, e] : asDictionary()) {
                s += first ? "" : "; ";
                s += k + " = " + e.description();
                first = false;
            }
            return s + "}";
        }
    }
    return {};
}

bool Value::operator==(const Value& o) const {
    if (type() != o.type()) return false;
    switch (type()) {
        case Type::Null: return true;
        case Type::Bool: return std::get<bool>(v_) == std::get<bool>(o.v_);
        case Type::Integer: return std::get<int64_t>(v_) == std::get<int64_t>(o.v_);
        case Type::Real: return std::get<double>(v_) == std::get<double>(o.v_);
        case Type::String: return std::get<std::string>(v_) == std::get<std::string>(o.v_);
        case Type::Date: return std::get<Date>(v_) == std::get<Date>(o.v_);
        case Type::Data: return std::get<Data>(v_) == std::get<Data>(o.v_);
        case Type::Array: return asArray() == o.asArray();
        case Type::Dictionary: return asDictionary() == o.asDictionary();
    }
    return false;
}

}  // namespace hvn
