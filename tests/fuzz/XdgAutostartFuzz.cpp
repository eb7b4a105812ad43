// Fuzzes the desktop-entry reader on any bytes, and the Exec rules on the Exec value and on
// the bytes themselves. What parses must serialise to text that parses to the same lines;
// a value set must read back as it was set; quoted arguments must split back to themselves.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/DesktopEntry.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

constexpr const char* kMain = hvn::DesktopEntry::kMainGroup;

void checkArguments(const std::vector<std::string>& args) {
    std::string line;
    for (const auto& a : args) line += (line.empty() ? "" : " ") + hvn::DesktopExec::quoteArgument(a);
    auto back = hvn::DesktopExec::split(line);
    check(back.has_value());
    check(*back == args);
}

void checkExec(std::string_view exec) {
    auto args = hvn::DesktopExec::split(exec);
    if (!args) return;
    for (const auto& a : *args) check(!a.empty() || exec.find('"') != std::string_view::npos);
    checkArguments(*args);
    auto program = hvn::DesktopExec::program(*args);
    if (program) check(!program->empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    checkExec(bytes);

    auto entry = hvn::DesktopEntry::parse(bytes);
    if (!entry) return 0;
    const std::string text = entry->serialize();
    auto again = hvn::DesktopEntry::parse(text);
    check(again.has_value());
    check(again->serialize() == text);
    check(again->groups() == entry->groups());
    for (const auto& group : entry->groups()) {
        for (const auto& key : entry->keys(group))
            check(again->value(group, key) == entry->value(group, key));
    }
    if (auto exec = entry->value(kMain, "Exec")) checkExec(*exec);

    // Any value without a NUL byte can be stored and read back, here the file's first line.
    std::string value(bytes.substr(0, std::min<size_t>(bytes.find('\0'), 4096)));
    check(entry->setValue(kMain, "X-Fuzz", value));
    check(entry->setValue("X-Fuzz Group", "Key[fz]", value));
    auto written = hvn::DesktopEntry::parse(entry->serialize());
    check(written.has_value());
    check(written->value(kMain, "X-Fuzz") == value);
    check(written->value("X-Fuzz Group", "Key[fz]") == value);
    check(written->localeValue("X-Fuzz Group", "Key", "fz_FZ.UTF-8@mod") == value);
    check(hvn::DesktopEntry::unescapeValue(hvn::DesktopEntry::escapeValue(value)) == value);
    return 0;
}
