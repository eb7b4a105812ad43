#include "CLI/Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "CLI/Utf8.h"

namespace cli::json {

namespace {

bool digits(const std::string& s, size_t pos, size_t count) {
    if (pos + count > s.size()) return false;
    for (size_t i = pos; i < pos + count; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
    }
    return true;
}

int number(const std::string& s, size_t pos, size_t count) {
    return std::stoi(s.substr(pos, count));
}

}  // namespace

std::string isoDate(hvn::Date date) {
    double whole = std::floor(date.secondsSince1970);
    double fraction = date.secondsSince1970 - whole;
    auto seconds = static_cast<time_t>(whole);
    std::tm utc{};
    if (!gmtime_r(&seconds, &utc)) return "";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    std::string out = buf;
    auto millis = static_cast<int>(std::lround(fraction * 1000));
    if (millis > 0 && millis < 1000) {
        std::snprintf(buf, sizeof buf, ".%03d", millis);
        out += buf;
    }
    return out + "Z";
}

std::optional<hvn::Date> parseIsoDate(const std::string& s) {
    // YYYY-MM-DDTHH:MM:SS
    if (s.size() < 20 || !digits(s, 0, 4) || s[4] != '-' || !digits(s, 5, 2) || s[7] != '-' ||
        !digits(s, 8, 2) || s[10] != 'T' || !digits(s, 11, 2) || s[13] != ':' || !digits(s, 14, 2) ||
        s[16] != ':' || !digits(s, 17, 2)) {
        return std::nullopt;
    }
    size_t pos = 19;
    double fraction = 0;
    if (s[pos] == '.') {
        size_t start = ++pos;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos;
        if (pos == start) return std::nullopt;
        // strtod, not stod: a fraction too small for a double (0.000...01) is 0, not an exception.
        fraction = std::strtod(("0." + s.substr(start, pos - start)).c_str(), nullptr);
    }
    if (pos + 1 != s.size() || s[pos] != 'Z') return std::nullopt;
    std::tm utc{};
    utc.tm_year = number(s, 0, 4) - 1900;
    utc.tm_mon = number(s, 5, 2) - 1;
    utc.tm_mday = number(s, 8, 2);
    utc.tm_hour = number(s, 11, 2);
    utc.tm_min = number(s, 14, 2);
    utc.tm_sec = number(s, 17, 2);
    if (utc.tm_mon < 0 || utc.tm_mon > 11 || utc.tm_mday < 1 || utc.tm_mday > 31 || utc.tm_hour > 23 ||
        utc.tm_min > 59 || utc.tm_sec > 60) {
        return std::nullopt;
    }
    time_t t = timegm(&utc);
    return hvn::Date{static_cast<double>(t) + fraction};
}

std::string base64(const hvn::Data& data) {
    static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        uint32_t n = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
        out += table[(n >> 18) & 63];
        out += table[(n >> 12) & 63];
        out += table[(n >> 6) & 63];
        out += table[n & 63];
    }
    if (i + 1 == data.size()) {
        uint32_t n = uint32_t{data[i]} << 16;
        out += table[(n >> 18) & 63];
        out += table[(n >> 12) & 63];
        out += "==";
    } else if (i + 2 == data.size()) {
        uint32_t n = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8);
        out += table[(n >> 18) & 63];
        out += table[(n >> 12) & 63];
        out += table[(n >> 6) & 63];
        out += '=';
    }
    return out;
}

std::optional<std::string> base64UnlessUtf8(const std::string& text) {
    if (utf8::isValid(text)) return std::nullopt;
    return base64(hvn::Data(text.begin(), text.end()));
}

nlohmann::json toJson(const hvn::Value& value) {
    using T = hvn::Value::Type;
    switch (value.type()) {
        case T::Null:
            return nullptr;
        case T::Bool:
            return value.asBool();
        case T::Integer:
            return value.asInteger();
        case T::Real:
            return value.asReal();
        case T::String:
            return value.asString();
        case T::Date:
            return isoDate(value.asDate());
        case T::Data:
            return base64(value.asData());
        case T::Array: {
            nlohmann::json a = nlohmann::json::array();
            for (const auto& v : value.asArray()) a.push_back(toJson(v));
            return a;
        }
        case T::Dictionary: {
            nlohmann::json o = nlohmann::json::object();
            for (const auto& [k, v] : value.asDictionary()) o[k] = toJson(v);
            return o;
        }
    }
    return nullptr;
}

hvn::Value fromJson(const nlohmann::json& j) {
    switch (j.type()) {
        case nlohmann::json::value_t::null:
        case nlohmann::json::value_t::discarded:
            return hvn::Value();
        case nlohmann::json::value_t::boolean:
            return hvn::Value(j.get<bool>());
        case nlohmann::json::value_t::number_integer:
            return hvn::Value(static_cast<long long>(j.get<int64_t>()));
        case nlohmann::json::value_t::number_unsigned: {
            auto u = j.get<uint64_t>();
            if (u <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
                return hvn::Value(static_cast<long long>(u));
            }
            return hvn::Value(static_cast<double>(u));
        }
        case nlohmann::json::value_t::number_float:
            return hvn::Value(j.get<double>());
        case nlohmann::json::value_t::string: {
            const auto& s = j.get_ref<const std::string&>();
            if (auto d = parseIsoDate(s)) return hvn::Value(*d);
            return hvn::Value(s);
        }
        case nlohmann::json::value_t::array: {
            hvn::Array a;
            for (const auto& e : j) a.push_back(fromJson(e));
            return hvn::Value(std::move(a));
        }
        case nlohmann::json::value_t::object: {
            hvn::Dictionary d;
            for (const auto& [k, v] : j.items()) d[k] = fromJson(v);
            return hvn::Value(std::move(d));
        }
        case nlohmann::json::value_t::binary: {
            const auto& b = j.get_binary();
            return hvn::Value(hvn::Data(b.begin(), b.end()));
        }
    }
    return hvn::Value();
}

std::optional<hvn::Value> parse(const std::string& text) {
    nlohmann::json j = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (j.is_discarded()) return std::nullopt;
    return fromJson(j);
}

std::string dump(const hvn::Value& value) {
    return toJson(value).dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace cli::json
