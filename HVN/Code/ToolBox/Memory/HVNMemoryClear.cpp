#include "HVN/Code/ToolBox/Memory/HVNMemoryClear.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/Bundle.h"
#include "Platform/Log.h"
#include "Platform/Process.h"

namespace {

std::atomic<double> gTimeLimit{300.0};
std::atomic<uint64_t> gReported{0};

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// Polls the child until it ends or `seconds` pass; true when it ended.
bool waitForEnd(hvn::Process& process, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (process.isRunning()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool runProgram(std::string* error) {
    const std::string program = HVNMemoryClear::programPath();
    if (program.empty()) {
        *error = "ClearMemory is missing from the bundle";
        return false;
    }
    hvn::ProcessOptions options;
    options.captureOutput = false;
    hvn::Process process;
    std::string why;
    if (!process.start(program, {}, options, &why)) {
        *error = "ClearMemory could not be started: " + why;
        return false;
    }
    if (!waitForEnd(process, HVNMemoryClear::timeLimit())) {
        hvn::Log::writef("ClearMemory still runs after %.0f seconds; stopping it",
                         HVNMemoryClear::timeLimit());
        process.terminate(SIGTERM);
        if (!waitForEnd(process, 2.0)) process.terminate(SIGKILL);
    }
    hvn::ProcessResult result = process.waitUntilExit();
    if (result.succeeded()) return true;
    if (result.exited) {
        *error = hvn::format("ClearMemory exited with status %d", result.exitStatus);
    } else if (result.terminationSignal != 0) {
        *error = hvn::format("ClearMemory ended by signal %d", result.terminationSignal);
    } else {
        *error = "ClearMemory could not be waited for: " + result.error;
    }
    return false;
}

}  // namespace

bool HVNMemoryClear::clearMemory(std::string* error) {
    std::string why;
    bool ok = false;
    try {
        ok = runProgram(&why);
    } catch (...) {
        why = "ClearMemory could not be run";
    }
    if (!ok) hvn::Log::write(why);
    if (error) *error = why;
    HVNCommonFunction::postRAMCleanFinishNotificationOnMainThread();
    ++gReported;
    return ok;
}

std::string HVNMemoryClear::programPath() {
    const std::string folder = hvn::Bundle::executableFolder();
    if (!folder.empty() && isExecutableFile(folder + "/ClearMemory")) return folder + "/ClearMemory";
    const std::string resource = hvn::Bundle::pathForResource("ClearMemory", "");
    return isExecutableFile(resource) ? resource : std::string();
}

double HVNMemoryClear::timeLimit() {
    return gTimeLimit.load();
}

void HVNMemoryClear::setTimeLimit(double seconds) {
    gTimeLimit.store(seconds);
}

uint64_t HVNMemoryClear::releasesReported() {
    return gReported.load();
}
