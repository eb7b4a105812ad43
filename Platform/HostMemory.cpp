#include "Platform/HostMemory.h"

#include <unistd.h>

#include <charconv>
#include <fstream>
#include <iterator>
#include <map>
#include <string_view>

#include "Platform/Roots.h"

namespace hvn::HostMemory {

namespace {

// Figures above this many KiB (16 EiB / 1024) would overflow once turned into bytes.
constexpr uint64_t kMaxKiB = UINT64_MAX / 1024;

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// "Name:   1234 kB" -> {"Name", 1234}. Counts without the kB unit (HugePages_Total) and
// anything malformed give nullopt.
std::optional<std::pair<std::string, uint64_t>> parseLine(std::string_view line) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    std::string_view name = line.substr(0, colon);
    std::string_view rest = trim(line.substr(colon + 1));
    uint64_t value = 0;
    auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (ec != std::errc() || end == rest.data() || value > kMaxKiB) return std::nullopt;
    std::string_view unit = trim(std::string_view(end, rest.data() + rest.size() - end));
    if (unit != "kB") return std::nullopt;
    return std::make_pair(std::string(name), value);
}

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

}  // namespace

uint64_t pageSize() {
    long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<uint64_t>(size) : 4096;
}

std::optional<Statistics> parseMeminfo(const std::string& text, uint64_t pageSize, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<Statistics> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (pageSize == 0) return fail("page size is 0");

    std::map<std::string, uint64_t, std::less<>> kib;
    std::string_view all(text);
    while (!all.empty()) {
        size_t nl = all.find('\n');
        std::string_view line = all.substr(0, nl);
        all.remove_prefix(nl == std::string_view::npos ? all.size() : nl + 1);
        // The first of two lines with one name counts, as the kernel writes each once.
        if (auto entry = parseLine(line)) kib.emplace(std::move(*entry));
    }

    auto get = [&](std::string_view name) -> std::optional<uint64_t> {
        auto it = kib.find(name);
        if (it == kib.end()) return std::nullopt;
        return it->second;
    };
    // The (anon)+(file) sum, or the plain line of kernels that do not split the lists.
    auto lruList = [&](const std::string& name) -> std::optional<uint64_t> {
        auto anon = get(name + "(anon)");
        auto file = get(name + "(file)");
        if (anon && file) return saturatingAdd(*anon, *file);
        return get(name);
    };

    auto freeKiB = get("MemFree");
    if (!freeKiB) return fail("no MemFree figure");
    auto activeKiB = lruList("Active");
    if (!activeKiB) return fail("no Active figure");
    auto inactiveKiB = lruList("Inactive");
    if (!inactiveKiB) return fail("no Inactive figure");
    uint64_t wiredKiB = 0;
    for (const char* name : {"Unevictable", "SUnreclaim", "KernelStack", "PageTables", "Percpu"}) {
        wiredKiB = saturatingAdd(wiredKiB, get(name).value_or(0));
    }

    // Pages of a size beyond the largest figure would make every count 0 anyway; the cap
    // keeps count * pageSize from overflowing.
    auto pages = [&](uint64_t k) { return std::min(k, kMaxKiB) * 1024 / pageSize; };
    Statistics s;
    s.pageSize = pageSize;
    s.freeCount = pages(*freeKiB);
    s.activeCount = pages(*activeKiB);
    s.inactiveCount = pages(*inactiveKiB);
    s.wireCount = pages(wiredKiB);
    return s;
}

std::string meminfoPath() {
    return Roots::systemPath("/proc/meminfo");
}

std::optional<Statistics> statistics(std::string* error) {
    const std::string path = meminfoPath();
    // procfs files report a size of 0: read to the end instead of by size.
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot read " + path;
        return std::nullopt;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string why;
    auto s = parseMeminfo(text, pageSize(), &why);
    if (!s && error) *error = path + ": " + why;
    return s;
}

}  // namespace hvn::HostMemory
