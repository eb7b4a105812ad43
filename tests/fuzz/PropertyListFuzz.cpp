// Fuzzes PropertyList::parse with XML and binary property lists. A value read from the input
// is written back in both formats and read again: it must come back equal, with the
// exceptions listed at sameAfterRoundTrip and one more: libplist writes the strings of a
// binary list as ASCII or UTF-16, so a string or key that is not well-formed UTF-8 comes back
// changed or makes the whole list unreadable. The binary round trip is checked only for
// values without such texts; the XML one keeps every byte and is always checked.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "CLI/Utf8.h"
#include "Platform/PropertyList.h"

using hvn::PlistFormat;
using hvn::Value;
namespace PropertyList = hvn::PropertyList;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// What a value may lose on the way through a file, not counted as a difference:
// - a null value has no property-list form and is written as an empty string;
// - a real that is NaN never equals itself;
// - a date is held as whole seconds (an int32_t) and microseconds since 2001: one beyond
//   that range comes back as its first or last second; an XML list has no fractions of a
//   second at all (<date>2024-05-01T12:00:00Z</date>), so there a date comes back less than
//   a second off; a binary list keeps the microseconds (give or take a few: both libplist and
//   the writer cut the fraction to whole microseconds, after a trip through doubles),
//   except that libplist 2.2 reads the fraction of a date before 2001 with the wrong sign
//   (-1.25 comes back as -0.75), less than two seconds off.
bool sameAfterRoundTrip(const Value& before, const Value& after, PlistFormat format) {
    using T = Value::Type;
    if (before.isNull()) return after.isString() && after.asString().empty();
    if (before.type() != after.type()) return false;
    switch (before.type()) {
        case T::Real:
            if (std::isnan(before.asReal())) return std::isnan(after.asReal());
            return before == after;
        case T::Date: {
            constexpr double kMacEpochOffset = 978307200.0;
            const double sent = std::clamp(before.asDate().secondsSince1970 - kMacEpochOffset,
                                           double{INT32_MIN}, double{INT32_MAX});
            const double off = std::fabs(after.asDate().secondsSince1970 - kMacEpochOffset - sent);
            if (format == PlistFormat::XML) return off < 1.0;
            return sent < 0 ? off < 2.0 : off <= 5e-6;
        }
        case T::Array: {
            const auto& a = before.asArray();
            const auto& b = after.asArray();
            if (a.size() != b.size()) return false;
            for (size_t i = 0; i < a.size(); ++i) {
                if (!sameAfterRoundTrip(a[i], b[i], format)) return false;
            }
            return true;
        }
        case T::Dictionary: {
            const auto& a = before.asDictionary();
            const auto& b = after.asDictionary();
            if (a.size() != b.size()) return false;
            for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
                if (i->first != j->first || !sameAfterRoundTrip(i->second, j->second, format)) return false;
            }
            return true;
        }
        default:
            return before == after;
    }
}

bool allTextsUtf8(const Value& value) {
    if (value.isString()) return cli::utf8::isValid(value.asString());
    if (value.isArray()) {
        for (const auto& e : value.asArray()) {
            if (!allTextsUtf8(e)) return false;
        }
    }
    if (value.isDictionary()) {
        for (const auto& [k, e] : value.asDictionary()) {
            if (!cli::utf8::isValid(k) || !allTextsUtf8(e)) return false;
        }
    }
    return true;
}

void roundTrip(const Value& value, PlistFormat format) {
    const std::string bytes = PropertyList::serialize(value, format);
    if (value.isNull()) {
        check(bytes.empty());
        return;
    }
    auto again = PropertyList::parse(bytes);
    check(again.has_value());
    check(sameAfterRoundTrip(value, *again, format));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    auto value = PropertyList::parse(bytes);
    if (!value) return 0;
    roundTrip(*value, PlistFormat::XML);
    if (allTextsUtf8(*value)) roundTrip(*value, PlistFormat::Binary);
    return 0;
}
