#include "HVN/Code/Clearer/HVNLipo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "Platform/Bundle.h"
#include "Platform/BundleInfo.h"
#include "Platform/Log.h"
#include "Platform/MachO.h"
#include "Platform/Process.h"
#include "Platform/RemovalGate.h"
#include "Platform/Roots.h"

namespace {

// A started thinning; the reaper thread owns the process once it is started.
struct Thinning {
    std::string executable;
    std::unique_ptr<hvn::Process> process;
    bool done = false;
    hvn::ProcessResult result;
};

struct Registry {
    std::mutex mutex;
    std::condition_variable ended;
    std::vector<std::shared_ptr<Thinning>> thinnings;
};

// Never destroyed: reaper threads may still report while the process exits.
Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

std::string failureText(const hvn::ProcessResult& r) {
    if (!r.launched) return r.error;
    std::string message = trimmed(r.errorOutput.empty() ? r.output : r.errorOutput);
    std::string text;
    if (r.exited) {
        text = "lipo exited with status " + std::to_string(r.exitStatus);
    } else if (r.terminationSignal != 0) {
        text = "lipo was ended by signal " + std::to_string(r.terminationSignal);
    } else {
        text = "lipo could not be waited for: " + r.error;
    }
    return message.empty() ? text : text + ": " + message;
}

std::vector<std::string> thinArguments(const std::string& executable, const std::string& arch,
                                       const std::string& output) {
    return {executable, "-thin", arch, "-output", output};
}

}  // namespace

std::string HVNLipo::toolPath() {
    const std::string system = hvn::Roots::systemPath("/usr/bin/lipo");
    struct stat st {};
    if (::stat(system.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(system.c_str(), X_OK) == 0) {
        return system;
    }
    const std::string folder = hvn::Bundle::executableFolder();
    return folder.empty() ? std::string() : folder + "/lipo";
}

std::string HVNLipo::executableOfBundle(const std::string& bundlePath) {
    auto info = hvn::BundleInfo::infoDictionary(bundlePath);
    if (!info) return {};
    auto it = info->find("CFBundleExecutable");
    if (it == info->end() || !it->second.isString()) return {};
    const std::string& name = it->second.asString();
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos) {
        return {};
    }
    std::string path = bundlePath;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    path += "/Contents/MacOS/" + name;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    return path;
}

std::vector<int32_t> HVNLipo::executableArchitectures(const std::string& bundlePath) {
    const std::string executable = executableOfBundle(bundlePath);
    if (executable.empty()) {
        hvn::Log::writef("HVNLipo: %s has no executable", bundlePath.c_str());
        return {};
    }
    std::string error;
    auto header = hvn::MachO::readHeader(executable, &error);
    if (!header) {
        hvn::Log::writef("HVNLipo: cannot read the architectures of %s", error.c_str());
        return {};
    }
    return header->cpuTypes();
}

bool HVNLipo::runThinning(const std::string& executable, const std::string& arch, const std::string& output,
                          std::string* errorText) {
    const std::string tool = toolPath();
    if (tool.empty()) {
        if (errorText) *errorText = "no lipo tool: the main bundle cannot be found";
        return false;
    }
    hvn::ProcessResult r = hvn::Process::run(tool, thinArguments(executable, arch, output));
    if (r.succeeded()) return true;
    if (errorText) *errorText = failureText(r);
    return false;
}

bool HVNLipo::startThinning(const std::string& executable, const std::string& arch, std::string* reason) {
    auto refuse = [&](const std::string& text) {
        if (reason) *reason = text;
        return false;
    };
    const hvn::RemovalGate gate = hvn::RemovalGate::forCurrentRoots();
    const hvn::RemovalGate::Admission admission = gate.admit(executable);
    switch (admission.status()) {
        case hvn::RemovalGate::Admission::Status::Admitted:
            break;
        case hvn::RemovalGate::Admission::Status::Gone:
            return refuse("Could not thin " + executable + ": no such file");
        default:
            return refuse(admission.reason());
    }
    if (admission.entry().isSymbolicLink()) {
        return refuse("Refusing to thin " + executable + ": it is a symbolic link");
    }
    if (!S_ISREG(admission.entry().mode)) {
        return refuse("Refusing to thin " + executable + ": it is not a regular file");
    }

    const std::string tool = toolPath();
    if (tool.empty()) return refuse("Could not thin " + executable + ": the main bundle cannot be found");
    auto thinning = std::make_shared<Thinning>();
    thinning->executable = executable;
    thinning->process = std::make_unique<hvn::Process>();
    std::string error;
    if (!thinning->process->start(tool, thinArguments(executable, arch, executable), {}, &error)) {
        return refuse("Could not thin " + executable + ": " + error);
    }

    Registry& r = registry();
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        r.thinnings.push_back(thinning);
    }
    auto reap = [thinning] {
        hvn::ProcessResult result = thinning->process->waitUntilExit();
        Registry& reg = registry();
        std::lock_guard<std::mutex> lock(reg.mutex);
        thinning->result = std::move(result);
        thinning->done = true;
        reg.ended.notify_all();
    };
    try {
        std::thread(reap).detach();
    } catch (const std::system_error& e) {
        // No thread for the reaper: wait here rather than leave the child unreaped.
        hvn::Log::writef("HVNLipo: waiting for the thinning of %s here: %s", executable.c_str(), e.what());
        reap();
    }
    return true;
}

std::vector<HVNLipo::Failure> HVNLipo::waitForThinnings() {
    Registry& r = registry();
    std::unique_lock<std::mutex> lock(r.mutex);
    // Only what was started before the call is awaited; later starts are the next call's.
    std::vector<std::shared_ptr<Thinning>> awaited = std::move(r.thinnings);
    r.thinnings.clear();
    r.ended.wait(lock, [&] {
        for (const auto& t : awaited) {
            if (!t->done) return false;
        }
        return true;
    });
    std::vector<Failure> failures;
    for (const auto& t : awaited) {
        if (!t->result.succeeded()) failures.push_back({t->executable, failureText(t->result)});
    }
    return failures;
}

size_t HVNLipo::pendingThinnings() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.thinnings.size();
}
