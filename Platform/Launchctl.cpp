#include "Platform/Launchctl.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "Platform/LaunchdJob.h"
#include "Platform/Log.h"
#include "Platform/Process.h"
#include "Platform/PropertyList.h"
#include "Platform/Workspace.h"

namespace hvn::Launchctl {

namespace {

constexpr const char* kServiceNameVariable = "XPC_SERVICE_NAME";

std::atomic<double> gracePeriod{5.0};

struct Agent {
    std::string label;
    std::string program;
    std::vector<std::string> arguments;  // after the program itself
    bool disabled = false;
};

bool readAgent(const std::string& plistPath, Agent& agent, std::string* errorText) {
    LaunchdJob job;
    std::string why;
    if (LaunchdJob::readFile(plistPath, &job, &why) != LaunchdJob::ReadStatus::Read) {
        if (errorText) *errorText = why;
        return false;
    }
    auto fail = [&](const std::string& reason) {
        if (errorText) *errorText = plistPath + ": " + reason;
        return false;
    };
    if (!job.label || job.label->empty()) return fail("no Label");
    std::optional<std::string> program = job.executable();
    if (!program || program->front() != '/') return fail("no absolute Program");
    agent.label = *job.label;
    agent.program = *program;
    agent.arguments.clear();
    if (job.programArguments && job.programArguments->size() > 1)
        agent.arguments.assign(job.programArguments->begin() + 1, job.programArguments->end());
    // The file was a regular file a moment ago; "Disabled" is not part of the job reader.
    if (auto plist = PropertyList::readFile(plistPath)) {
        if (const Value* v = plist->find("Disabled"); v && v->isNumber()) agent.disabled = v->asBool();
    }
    return true;
}

// The value of one variable in a process's environment; nullopt when it has none or the
// environment cannot be read.
std::optional<std::string> environmentValue(int pid, const std::string& name) {
    int fd = ::open(("/proc/" + std::to_string(pid) + "/environ").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string out;
    int e = readToEnd(fd, out);
    ::close(fd);
    if (e != 0) return std::nullopt;
    const std::string* bytes = &out;
    const std::string prefix = name + "=";
    size_t start = 0;
    while (start < bytes->size()) {
        size_t end = bytes->find('\0', start);
        if (end == std::string::npos) end = bytes->size();
        if (bytes->compare(start, prefix.size(), prefix) == 0)
            return bytes->substr(start + prefix.size(), end - start - prefix.size());
        start = end + 1;
    }
    return std::nullopt;
}

bool belongsToAgent(const Workspace::UserProcess& process, const Agent& agent) {
    if (process.pid == getpid()) return false;
    if (Workspace::runsExecutable(process, agent.program)) return true;
    auto service = environmentValue(process.pid, kServiceNameVariable);
    return service && *service == agent.label;
}

std::vector<int> agentProcesses(const Agent& agent) {
    std::vector<int> pids;
    for (const Workspace::UserProcess& p : Workspace::processesOfCurrentUser()) {
        if (belongsToAgent(p, agent)) pids.push_back(p.pid);
    }
    return pids;
}

int openPidfd(int pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    errno = ENOSYS;
    return -1;
#endif
}

bool sendSignal(int pid, int pidfd, int signal) {
#ifdef SYS_pidfd_send_signal
    if (pidfd >= 0) return ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0) == 0;
#endif
    return ::kill(pid, signal) == 0;
}

struct Target {
    int pid = 0;
    int pidfd = -1;
    bool ended = false;
};

// Waits until every target has ended or the seconds have passed; true when all ended.
bool waitForEnd(std::vector<Target>& targets, double seconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        bool allEnded = true;
        std::vector<pollfd> fds;
        std::vector<int> listed;
        bool needListing = false;
        for (const Target& t : targets) needListing |= !t.ended && t.pidfd < 0;
        if (needListing) {
            for (const auto& p : Workspace::processesOfCurrentUser()) listed.push_back(p.pid);
        }
        for (Target& t : targets) {
            if (t.ended) continue;
            if (t.pidfd >= 0) {
                pollfd pfd{t.pidfd, POLLIN, 0};
                // A pidfd turns readable once its process has ended.
                if (::poll(&pfd, 1, 0) > 0) t.ended = true;
            } else {
                t.ended = std::find(listed.begin(), listed.end(), t.pid) == listed.end();
            }
            allEnded &= t.ended;
        }
        if (allEnded) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

void setStopGracePeriod(double seconds) {
    gracePeriod.store(seconds < 0 ? 0 : seconds);
}

bool load(const std::string& plistPath, std::string* errorText) {
    Agent agent;
    if (!readAgent(plistPath, agent, errorText)) return false;
    if (agent.disabled) {
        if (errorText) *errorText = plistPath + ": the job is disabled";
        return false;
    }
    if (!agentProcesses(agent).empty()) return true;
    struct stat st {};
    if (::stat(agent.program.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        ::access(agent.program.c_str(), X_OK) != 0) {
        if (errorText) *errorText = plistPath + ": " + agent.program + " is not an executable program";
        return false;
    }
    ProcessOptions options;
    options.newSession = true;
    options.workingDirectory = "/";
    options.environment.emplace_back(kServiceNameVariable, agent.label);
    std::string error;
    pid_t pid = Process::startDetached(agent.program, agent.arguments, &error, options);
    if (pid < 0) {
        if (errorText) *errorText = plistPath + ": " + error;
        return false;
    }
    Log::writef("launchctl load %s: started %s (pid %d)", plistPath.c_str(), agent.program.c_str(),
                static_cast<int>(pid));
    return true;
}

bool unload(const std::string& plistPath, std::string* errorText) {
    Agent agent;
    if (!readAgent(plistPath, agent, errorText)) return false;
    std::vector<int> candidates = agentProcesses(agent);
    if (candidates.empty()) return true;

    // Hold each process by a descriptor first, then check again that it still is one of the
    // agent's: a number reused in between then names the process that was checked.
    std::vector<Target> targets;
    for (int pid : candidates) targets.push_back(Target{pid, openPidfd(pid), false});
    std::vector<int> confirmed = agentProcesses(agent);
    std::vector<Target> kept;
    for (Target& t : targets) {
        if (std::find(confirmed.begin(), confirmed.end(), t.pid) != confirmed.end()) {
            kept.push_back(t);
        } else if (t.pidfd >= 0) {
            ::close(t.pidfd);
        }
    }
    targets = std::move(kept);

    for (Target& t : targets) {
        if (!sendSignal(t.pid, t.pidfd, SIGTERM) && errno == ESRCH) t.ended = true;
    }
    bool stopped = waitForEnd(targets, gracePeriod.load());
    if (!stopped) {
        for (Target& t : targets) {
            if (!t.ended) sendSignal(t.pid, t.pidfd, SIGKILL);
        }
        stopped = waitForEnd(targets, 2.0);
    }
    for (Target& t : targets) {
        if (t.pidfd >= 0) ::close(t.pidfd);
    }
    Log::writef("launchctl unload %s: stopped %zu process(es)", plistPath.c_str(), targets.size());
    if (!stopped && errorText) *errorText = plistPath + ": a process of " + agent.label + " did not stop";
    return stopped;
}

}  // namespace hvn::Launchctl
