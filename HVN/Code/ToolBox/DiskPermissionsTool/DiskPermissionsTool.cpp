#include "HVN/Code/ToolBox/DiskPermissionsTool/DiskPermissionsTool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/Bundle.h"
#include "Platform/Log.h"
#include "Platform/Process.h"
#include "Platform/PropertyList.h"

extern char** environ;

namespace {

constexpr const char* kQuestion = "(y/N)";
// How often a waiting thread looks at its stop question, and how long a stopped utility
// may take to end after SIGTERM before it is killed.
constexpr int kPollMilliseconds = 100;
constexpr auto kKillDelay = std::chrono::seconds(2);

bool setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace

DiskPermissionsTool& DiskPermissionsTool::shareDiskPermissionsTool() {
    static DiskPermissionsTool* tool = new DiskPermissionsTool(defaultUtilityPath());
    return *tool;
}

std::string DiskPermissionsTool::defaultUtilityPath() {
    return hvn::Bundle::executableFolder() + "/diskutil";
}

DiskPermissionsTool::DiskPermissionsTool(std::string utilityPath) : utilityPath_(std::move(utilityPath)) {
    std::string identifier = readDeskIdentifier();
    std::lock_guard<std::mutex> lock(mutex_);
    deskIdentifier_ = std::move(identifier);
}

DiskPermissionsTool::~DiskPermissionsTool() {
    stop();
    joinReader();
}

std::string DiskPermissionsTool::deskIdentifier() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return deskIdentifier_;
}

bool DiskPermissionsTool::issue() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return issue_;
}

void DiskPermissionsTool::setIssue(bool value) {
    std::lock_guard<std::mutex> lock(mutex_);
    issue_ = value;
}

std::string DiskPermissionsTool::issueStr() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return issueStr_;
}

int64_t DiskPermissionsTool::issueCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return issueCount_;
}

std::string DiskPermissionsTool::readDeskIdentifier() const {
    if (::access(utilityPath_.c_str(), X_OK) != 0) {
        hvn::Log::writef("DiskPermissionsTool: no disk utility at %s", utilityPath_.c_str());
        return {};
    }
    hvn::ProcessResult r = hvn::Process::run(utilityPath_, {"info", "-plist", "/"});
    std::optional<hvn::Value> info = r.succeeded() ? hvn::PropertyList::parse(r.output) : std::nullopt;
    const hvn::Value* identifier = info ? info->find("DeviceIdentifier") : nullptr;
    if (!identifier || !identifier->isString() || identifier->asString().empty()) {
        hvn::Log::writef("DiskPermissionsTool: the disk utility did not name the start-up volume (%s)",
                         r.error.empty() ? r.errorOutput.c_str() : r.error.c_str());
        return {};
    }
    return identifier->asString();
}

bool DiskPermissionsTool::verifyDiskPermission(const std::function<bool()>& shouldStop) {
    std::lock_guard<std::mutex> command(commandMutex_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        issue_ = false;
        issueStr_.clear();
    }
    CommandEnd end;
    if (startCommand("verifyPermissions")) end = waitForCommand(shouldStop);

    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t lf = issueStr_.find('\n', start);
        if (lf == std::string::npos) {
            pieces.push_back(issueStr_.substr(start));
            break;
        }
        pieces.push_back(issueStr_.substr(start, lf - start));
        start = lf + 1;
    }
    const size_t n = pieces.size();
    if (n < 4) {
        issue_ = false;
        issueStr_.clear();
        issueCount_ = 0;
    } else {
        issue_ = true;
        std::string problems;
        for (size_t i = 1; i + 2 < n; ++i) problems += pieces[i] + "\n";
        issueStr_ = std::move(problems);
        issueCount_ = static_cast<int64_t>(n - 3);
    }
    return end.launched && end.exited && end.exitStatus == 0 && !userCancelled_.load();
}

bool DiskPermissionsTool::repairDiskPermission() {
    std::lock_guard<std::mutex> command(commandMutex_);
    if (!startCommand("repairPermissions")) return false;
    CommandEnd end = waitForCommand({});
    if (userCancelled_.load()) return false;
    if (!end.exited || end.exitStatus != 0) {
        hvn::Log::writef("DiskPermissionsTool: the permission repair did not complete (status %d)",
                         end.exitStatus);
        return false;
    }
    setIssue(false);
    std::string error;
    if (!HVNCommonFunction::changeSettingValue(hvn::Value(hvn::Date::now()), kLastDiskCheckDateKey, &error)) {
        hvn::Log::writef("DiskPermissionsTool: could not store the check date: %s", error.c_str());
    }
    return true;
}

bool DiskPermissionsTool::startRepair() {
    std::lock_guard<std::mutex> command(commandMutex_);
    return startCommand("repairPermissions");
}

bool DiskPermissionsTool::execDiscCommand(const std::string& command, bool input) {
    std::lock_guard<std::mutex> lock(commandMutex_);
    if (!startCommand(command)) return false;
    if (!input) waitForCommand({});
    return true;
}

bool DiskPermissionsTool::startCommand(const std::string& command) {
    {
        // A command started without waiting runs to its end first.
        std::unique_lock<std::mutex> lock(mutex_);
        ended_.wait(lock, [this] { return !running_; });
    }
    joinReader();
    userCancelled_.store(false);

    std::string device = deskIdentifier();
    if (device.empty()) {
        device = readDeskIdentifier();
        std::lock_guard<std::mutex> lock(mutex_);
        deskIdentifier_ = device;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        issueStr_.clear();
        pendingLine_.clear();
        lastEnd_ = CommandEnd{};
    }
    if (device.empty()) {
        hvn::Log::writef("DiskPermissionsTool: %s not run: the start-up volume is unknown", command.c_str());
        return false;
    }

    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1}, inPair[2] = {-1, -1};
    auto closeAll = [&] {
        for (int* p : {outPipe, errPipe, inPair}) {
            for (int i = 0; i < 2; ++i) {
                if (p[i] >= 0) ::close(p[i]);
                p[i] = -1;
            }
        }
    };
    // The utility's standard input is a socket so that answering a utility that has gone
    // is an EPIPE error (MSG_NOSIGNAL), never a SIGPIPE.
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, inPair) != 0) {
        hvn::Log::writef("DiskPermissionsTool: could not make pipes: %s", std::strerror(errno));
        closeAll();
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inPair[1], 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) sigaddset(&defaults, s);
    // A process group of its own, so that stop() ends what the utility started as well.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    std::vector<std::string> args = {utilityPath_, command, device};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::unique_lock<std::mutex> lock(mutex_);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, utilityPath_.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        lock.unlock();
        hvn::Log::writef("DiskPermissionsTool: could not run %s: %s", utilityPath_.c_str(),
                         std::strerror(rc));
        closeAll();
        return false;
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ::close(inPair[1]);
    localTask_ = pid;
    reaped_ = false;
    running_ = true;
    lastEnd_.launched = true;
    // The input stays open until a question is answered or the utility ends, whether or
    // not the caller waits.
    inputFd_ = inPair[0];
    const int outFd = outPipe[0], errFd = errPipe[0];
    try {
        reader_ = std::thread([this, pid, outFd, errFd] { readOutput(pid, outFd, errFd); });
    } catch (...) {
        // Without a reader nobody would wait for the utility: end it here.
        ::kill(-pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
        running_ = false;
        localTask_ = -1;
        ::close(inputFd_);
        inputFd_ = -1;
        ::close(outFd);
        ::close(errFd);
        ended_.notify_all();
        hvn::Log::write("DiskPermissionsTool: could not start the output reader");
        return false;
    }
    return true;
}

void DiskPermissionsTool::readOutput(pid_t pid, int outFd, int errFd) {
    setNonBlocking(outFd);
    setNonBlocking(errFd);
    std::string errorLine;
    auto logErrors = [&](bool all) {
        size_t lf;
        while ((lf = errorLine.find('\n')) != std::string::npos) {
            hvn::Log::writef("diskutil: %s", errorLine.substr(0, lf).c_str());
            errorLine.erase(0, lf + 1);
        }
        if (all && !errorLine.empty()) hvn::Log::writef("diskutil: %s", errorLine.c_str());
    };
    std::optional<std::chrono::steady_clock::time_point> stopSeen;
    bool killed = false;
    char buffer[16384];
    // Reads what is there; false at the end of that stream.
    auto drain = [&](int& fd, bool isOutput) {
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                std::string piece(buffer, static_cast<size_t>(n));
                if (isOutput) {
                    receivedData(piece);
                } else {
                    errorLine += piece;
                    logErrors(false);
                }
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) return true;
            ::close(fd);
            fd = -1;
            return false;
        }
    };
    while (outFd >= 0 || errFd >= 0) {
        pollfd fds[2];
        nfds_t count = 0;
        if (outFd >= 0) fds[count++] = {outFd, POLLIN, 0};
        if (errFd >= 0) fds[count++] = {errFd, POLLIN, 0};
        const int ready = ::poll(fds, count, kPollMilliseconds);
        if (ready < 0 && errno != EINTR) break;
        if (outFd >= 0) drain(outFd, true);
        if (errFd >= 0) drain(errFd, false);
        if (outFd < 0 && errFd < 0) break;
        // The utility may have ended while something it started still holds the pipes.
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid) {
            if (outFd >= 0) drain(outFd, true);
            if (errFd >= 0) drain(errFd, false);
            break;
        }
        if (userCancelled_.load()) {
            const auto now = std::chrono::steady_clock::now();
            if (!stopSeen) stopSeen = now;
            if (!killed && now - *stopSeen >= kKillDelay) {
                ::kill(-pid, SIGKILL);
                killed = true;
            }
        }
    }
    for (int fd : {outFd, errFd}) {
        if (fd >= 0) ::close(fd);
    }
    logErrors(true);

    // Waits for the end without reaping, so that stop() never signals a reused pid; then
    // reaps under the lock.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    int status = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    pid_t r;
    while ((r = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (r == pid && WIFEXITED(status)) {
        lastEnd_.exited = true;
        lastEnd_.exitStatus = WEXITSTATUS(status);
    }
    reaped_ = true;
    localTask_ = -1;
    if (inputFd_ >= 0) {
        ::close(inputFd_);
        inputFd_ = -1;
    }
    issueStr_ += pendingLine_;
    pendingLine_.clear();
    running_ = false;
    ended_.notify_all();
}

void DiskPermissionsTool::receivedData(const std::string& data) {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingLine_ += data;
    size_t at;
    while ((at = pendingLine_.find(kQuestion)) != std::string::npos) {
        // The question is answered once and dropped with the rest of its line.
        answerQuestion();
        const size_t lineStart = pendingLine_.rfind('\n', at);
        const size_t from = lineStart == std::string::npos ? 0 : lineStart + 1;
        size_t to = at + std::strlen(kQuestion);
        while (to < pendingLine_.size() && pendingLine_[to] == ' ') ++to;
        if (to < pendingLine_.size() && pendingLine_[to] == '\n') ++to;
        pendingLine_.erase(from, to - from);
    }
    const size_t lastLf = pendingLine_.rfind('\n');
    if (lastLf != std::string::npos) {
        // Only a partial line can still turn into a question.
        issueStr_.append(pendingLine_, 0, lastLf + 1);
        pendingLine_.erase(0, lastLf + 1);
    }
}

void DiskPermissionsTool::answerQuestion() {
    if (inputFd_ < 0) return;
    const char answer[] = "y\n";
    if (::send(inputFd_, answer, sizeof answer - 1, MSG_NOSIGNAL) < 0) {
        hvn::Log::writef("DiskPermissionsTool: could not answer the disk utility: %s", std::strerror(errno));
    }
    ::close(inputFd_);
    inputFd_ = -1;
}

void DiskPermissionsTool::stop() {
    userCancelled_.store(true);
    std::lock_guard<std::mutex> lock(mutex_);
    if (localTask_ > 0 && !reaped_) ::kill(-localTask_, SIGTERM);
}

DiskPermissionsTool::CommandEnd DiskPermissionsTool::waitForCommand(const std::function<bool()>& shouldStop) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (running_) {
            if (shouldStop) {
                ended_.wait_for(lock, std::chrono::milliseconds(kPollMilliseconds));
                if (!running_ || userCancelled_.load()) continue;
                // The question may look at the tool: it is asked without the lock.
                lock.unlock();
                if (shouldStop()) stop();
                lock.lock();
            } else {
                ended_.wait(lock);
            }
        }
    }
    joinReader();
    std::lock_guard<std::mutex> lock(mutex_);
    return lastEnd_;
}

void DiskPermissionsTool::joinReader() {
    // Only the thread that holds the command lock (or the destructor) joins.
    if (reader_.joinable() && reader_.get_id() != std::this_thread::get_id()) reader_.join();
}
