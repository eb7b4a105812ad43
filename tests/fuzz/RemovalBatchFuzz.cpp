// Fuzzes the wire format of the privileged removal helper: the same bytes are read as a
// batch of requests (what the helper reads) and as a batch of outcomes (what the caller
// reads back). A decoded batch must encode back to the bytes it came from, so that nothing
// about a path can change on the way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Platform/RemovalBatch.h"

namespace RemovalBatch = hvn::RemovalBatch;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

std::vector<std::string> nulFields(const std::string& bytes) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\0', start);
        if (end == std::string::npos) end = bytes.size();
        out.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// The decoder reads "<device>:<inode>" as numbers, so leading zeros ("007:1") are accepted
// and come back without them; everything else must come back byte for byte.
std::string withoutLeadingZeros(const std::string& number) {
    size_t first = number.find_first_not_of('0');
    return first == std::string::npos ? "0" : number.substr(first);
}

std::string canonicalRequests(const std::string& bytes) {
    std::vector<std::string> f = nulFields(bytes);
    std::string out;
    for (size_t i = 0; i < f.size(); ++i) {
        std::string field = f[i];
        if (i % 2 == 0 && field != "-") {
            size_t colon = field.find(':');
            field = withoutLeadingZeros(field.substr(0, colon)) + ":" +
                    withoutLeadingZeros(field.substr(colon + 1));
        }
        out += field;
        out.push_back('\0');
    }
    return out;
}

bool sameRequests(const std::vector<RemovalBatch::Request>& a, const std::vector<RemovalBatch::Request>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].path != b[i].path || a[i].foundIn != b[i].foundIn) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    if (auto requests = RemovalBatch::decodeRequests(bytes)) {
        const std::string encoded = RemovalBatch::encodeRequests(*requests);
        check(encoded == canonicalRequests(bytes));
        auto again = RemovalBatch::decodeRequests(encoded);
        check(again && sameRequests(*again, *requests));
    }

    if (auto outcomes = RemovalBatch::decodeOutcomes(bytes)) {
        check(RemovalBatch::encodeOutcomes(*outcomes) == bytes);
    }
    return 0;
}
