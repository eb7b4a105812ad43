// `halvorn memory`: the memory page from the terminal. Shows how physical memory divides into
// free, wired, active and inactive memory and, with --clean, runs the bundle's ClearMemory
// program and reports how much free memory was gained.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "CLI/Command.h"
#include "HVN/Code/ToolBox/Memory/HVNCleanARMVC.h"
#include "HVN/Code/ToolBox/Memory/HVNGetRAM.h"
#include "HVN/Code/ToolBox/Memory/HVNMemoryClear.h"
#include "Platform/HostMemory.h"
#include "Platform/RunLoop.h"

namespace {

using json = nlohmann::ordered_json;

const char* kHelp =
    "usage: halvorn memory [--clean] [--json]\n"
    "\n"
    "Shows the free, wired, active and inactive memory and their total (units of 1024).\n"
    "\n"
    "  --clean      run the memory release (the bundle's ClearMemory program) first, then\n"
    "               report the free memory gained (\"optimized RAM\" when none was)\n"
    "  --json       print one JSON document: the figures in bytes, their labels and, with\n"
    "               --clean, the release (freeBefore, freeAfter, gained, releaseText, free)\n"
    "  -h, --help   this text\n"
    "\n"
    "Exits 1 when the figures cannot be read or the release program could not do its work.\n"
    "Ctrl-C during the release stops the program and reports what was gained so far.\n";

struct Figures {
    hvn::HostMemory::Statistics statistics;
    double free = 0, wired = 0, active = 0, inactive = 0, total = 0;
};

std::optional<Figures> readFigures(std::string* error) {
    auto s = hvn::HostMemory::statistics(error);
    if (!s) return std::nullopt;
    Figures f;
    f.statistics = *s;
    f.free = static_cast<double>(s->freeBytes());
    f.wired = static_cast<double>(s->wiredBytes());
    f.active = static_cast<double>(s->activeBytes());
    f.inactive = static_cast<double>(s->inactiveBytes());
    f.total = f.free + f.wired + f.active + f.inactive;
    return f;
}

// The labels in the order the page's table lists them.
std::vector<std::string> labels(const Figures& f) {
    return {HVNGetRAM::label(HVNGetRAM::kFreeFormat, f.free),
            HVNGetRAM::label(HVNGetRAM::kWiredFormat, f.wired),
            HVNGetRAM::label(HVNGetRAM::kActiveFormat, f.active),
            HVNGetRAM::label(HVNGetRAM::kInactiveFormat, f.inactive),
            HVNGetRAM::label(HVNGetRAM::kTotalFormat, f.total)};
}

json figuresJson(const Figures& f) {
    json j;
    j["pageSize"] = f.statistics.pageSize;
    j["free"] = f.statistics.freeBytes();
    j["wired"] = f.statistics.wiredBytes();
    j["active"] = f.statistics.activeBytes();
    j["inactive"] = f.statistics.inactiveBytes();
    j["total"] = static_cast<uint64_t>(f.total);
    j["labels"] = labels(f);
    return j;
}

void onInterrupt(int) {}

int runMemory(const cli::Args& args) {
    bool clean = false, asJson = false;
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "--clean") {
            clean = true;
        } else if (a == "--json") {
            asJson = true;
        } else {
            std::fprintf(stderr, "halvorn memory: unknown option '%s'\n\n%s", a.c_str(), kHelp);
            return 2;
        }
    }

    std::string error;
    auto before = readFigures(&error);
    if (!before) {
        std::fprintf(stderr, "halvorn memory: cannot read the memory statistics: %s\n", error.c_str());
        return 1;
    }
    if (!clean) {
        if (asJson) {
            std::printf("%s\n",
                        figuresJson(*before).dump(2, ' ', false, json::error_handler_t::replace).c_str());
        } else {
            for (const auto& line : labels(*before)) std::printf("%s\n", line.c_str());
        }
        return 0;
    }

    // Ctrl-C reaches the release program too; this process only waits for it to end. A
    // handler (not SIG_IGN) so that the program does not inherit an ignored signal.
    struct sigaction sa {
    }, oldSa{};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &oldSa);
    if (!asJson && isatty(STDERR_FILENO)) std::fputs("Releasing memory...\n", stderr);
    std::string releaseError;
    const bool released = HVNMemoryClear::clearMemory(&releaseError);
    sigaction(SIGINT, &oldSa, nullptr);
    // The finish notification the page would wait for; nobody observes it here.
    hvn::RunLoop::main().runPending();

    auto after = readFigures(&error);
    if (!after) {
        std::fprintf(stderr, "halvorn memory: cannot read the memory statistics: %s\n", error.c_str());
        return 1;
    }
    const std::string freeText = HVNCleanARMVC::releaseResult(before->free, after->free);
    if (asJson) {
        json j = figuresJson(*after);
        json r;
        r["freeBefore"] = before->statistics.freeBytes();
        r["freeAfter"] = after->statistics.freeBytes();
        r["gained"] = static_cast<int64_t>(after->statistics.freeBytes()) -
                      static_cast<int64_t>(before->statistics.freeBytes());
        r["releaseText"] = HVNCleanARMVC::kMemoryReleased;
        r["free"] = freeText;
        r["programSucceeded"] = released;
        if (!released) r["error"] = releaseError;
        j["release"] = r;
        std::printf("%s\n", j.dump(2, ' ', false, json::error_handler_t::replace).c_str());
    } else {
        std::printf("%s: %s\n", HVNCleanARMVC::kMemoryReleased, freeText.c_str());
        for (const auto& line : labels(*after)) std::printf("%s\n", line.c_str());
    }
    if (!released) {
        std::fprintf(stderr, "halvorn memory: %s\n", releaseError.c_str());
        return 1;
    }
    return 0;
}

const cli::CommandRegistration registration{
    cli::Command{"memory", "show the memory figures; --clean releases memory", runMemory}};

}  // namespace
