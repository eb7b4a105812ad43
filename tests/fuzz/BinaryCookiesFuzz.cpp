// Fuzzes the reading of a Cookies.binarycookies jar. A jar that parses must come back the
// same from a rebuild (serialize) and from a fresh encoding of its cookies; deleting its
// first cookie must leave a jar that parses to the other cookies, every one of them with
// its record bytes unchanged, and the same trailing property list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/BinaryCookies.h"

namespace BC = hvn::BinaryCookies;
using hvn::HTTPCookie;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// Dates compared by their bits, so that a NaN read from the input equals itself.
bool sameDate(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool same(const HTTPCookie& a, const HTTPCookie& b) {
    return a.domain == b.domain && a.name == b.name && a.path == b.path && a.value == b.value &&
           a.comment == b.comment && a.commentURL == b.commentURL && a.flags == b.flags && a.port == b.port &&
           sameDate(a.expiresDate, b.expiresDate) && sameDate(a.creationDate, b.creationDate);
}

bool same(const std::vector<HTTPCookie>& a, const std::vector<HTTPCookie>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!same(a[i], b[i])) return false;
    }
    return true;
}

std::vector<std::string> recordBytes(const BC::Jar& jar) {
    std::vector<std::string> out;
    for (const auto& p : jar.pages) {
        for (const auto& r : p.records) out.push_back(r.bytes);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto jar = BC::parse(input, &error);
    if (!jar) {
        check(!error.empty());
        return 0;
    }
    const std::vector<HTTPCookie> cookies = jar->cookies();
    check(cookies.size() == jar->cookieCount());

    // The same records rebuilt around the same list.
    const std::string rebuilt = BC::serialize(*jar);
    auto again = BC::parse(rebuilt, &error);
    check(again.has_value());
    check(again->checksumMatches);
    check(same(again->cookies(), cookies));
    check(recordBytes(*again) == recordBytes(*jar));
    check(again->propertyList == jar->propertyList);
    // A fresh encoding of the decoded cookies.
    auto encoded = BC::parse(BC::encode(cookies, jar->propertyList), &error);
    check(encoded.has_value());
    check(same(encoded->cookies(), cookies));

    // Deleting the first cookie keeps every other record as it was.
    if (!cookies.empty()) {
        BC::Jar edited = *jar;
        bool first = true;
        size_t removed = BC::removeWhere(edited, [&](const HTTPCookie&) {
            bool pick = first;
            first = false;
            return pick;
        });
        check(removed == 1);
        auto after = BC::parse(BC::serialize(edited), &error);
        check(after.has_value());
        check(after->checksumMatches);
        check(same(after->cookies(), std::vector<HTTPCookie>(cookies.begin() + 1, cookies.end())));
        std::vector<std::string> kept = recordBytes(*jar);
        kept.erase(kept.begin());
        check(recordBytes(*after) == kept);
        check(after->propertyList == jar->propertyList);
        for (const auto& p : after->pages) check(!p.records.empty());
    }
    return 0;
}
