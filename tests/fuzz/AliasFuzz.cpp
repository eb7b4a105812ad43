// Fuzzes the readers of alias data on the same bytes: as bookmark data (alias file or
// blob), as a classic alis record, as a resource fork (and the alis record found in it) and
// as an AppleDouble file (and the fork and record inside it). Every span handed back must lie
// inside the input, and every path read must be absolute without "." or ".." components,
// repeated slashes or NULs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "Platform/AliasResolver.h"

namespace Alias = hvn::Alias;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void checkInside(Alias::Bytes inner, Alias::Bytes outer) {
    check(inner.data() >= outer.data() && inner.size() <= outer.size() &&
          size_t(inner.data() - outer.data()) <= outer.size() - inner.size());
}

void checkPath(const std::string& p, bool mayBeEmpty) {
    if (p.empty()) {
        check(mayBeEmpty);
        return;
    }
    check(p[0] == '/');
    check(p.find('\0') == std::string::npos);
    check(p == "/" || p.back() != '/');
    check(p.find("//") == std::string::npos);
    const std::string s = p + "/";
    check(s.find("/./") == std::string::npos && s.find("/../") == std::string::npos);
}

void checkRecord(const std::optional<Alias::Record>& r, const std::string& error) {
    if (!r) {
        check(!error.empty());
        return;
    }
    checkPath(r->path, false);
    checkPath(r->volumePath, true);
}

void alisAndRecord(Alias::Bytes fork, Alias::Bytes input) {
    std::string error;
    auto resource = Alias::findAliasResource(fork, &error);
    if (!resource) {
        check(!error.empty());
        return;
    }
    checkInside(*resource, input);
    std::string alisError;
    checkRecord(Alias::parseAlisRecord(*resource, &alisError), alisError);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Alias::Bytes input(data, size);
    std::string error;

    (void)Alias::hasBookmarkMagic(input);
    checkRecord(Alias::parseBookmarkData(input, &error), error);
    error.clear();
    checkRecord(Alias::parseAlisRecord(input, &error), error);
    alisAndRecord(input, input);

    error.clear();
    auto entries = Alias::parseAppleDouble(input, &error);
    if (!entries) {
        check(!error.empty());
        return 0;
    }
    if (entries->finderInfo) {
        checkInside(*entries->finderInfo, input);
        (void)Alias::finderInfoMarksAlias(*entries->finderInfo);
    }
    if (entries->resourceFork) {
        checkInside(*entries->resourceFork, input);
        alisAndRecord(*entries->resourceFork, input);
    }
    return 0;
}
