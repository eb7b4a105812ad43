// Fuzzes the command line's JSON reading (the value of `halvorn settings set`): parse and
// fromJson on the input, then dump of what they made, which must itself be JSON that reads
// back to a value of the same type with the same text. The date reader gets the input as well.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "CLI/Json.h"

using hvn::Value;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    cli::json::parseIsoDate(text);

    auto value = cli::json::parse(text);
    if (!value) return 0;
    const std::string dumped = cli::json::dump(*value);
    auto again = cli::json::parse(dumped);
    check(again.has_value());
    // Dates are written to the millisecond and non-finite reals as null, so the value read
    // back need not equal the first one, but it keeps its type and writes the same text. A
    // date past 9999 (only "9999-12-31T23:59:60Z", a leap second, gets there) is written with
    // a five-digit year, which reads back as a text.
    constexpr double kYear10000 = 253402300800;
    check(again->type() == value->type() || (value->isReal() && again->isNull()) ||
          (value->isDate() && value->asDate().secondsSince1970 >= kYear10000));
    check(cli::json::dump(*again) == dumped);
    return 0;
}
