#include "Platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

extern char** environ;

namespace hvn {

namespace {

std::string systemErrorText(int error) {
    return std::system_category().message(error);
}

void reapInBackground(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

std::vector<std::string> childEnvironment(const ProcessOptions& options) {
    std::vector<std::string> env;
    auto overridden = [&](const std::string& entry) {
        std::string name = entry.substr(0, entry.find('='));
        for (const auto& n : options.unsetEnvironment) {
            if (n == name) return true;
        }
        for (const auto& kv : options.environment) {
            if (kv.first == name) return true;
        }
        return false;
    };
    for (char** e = environ; e && *e; ++e) {
        std::string entry = *e;
        if (!overridden(entry)) env.push_back(std::move(entry));
    }
    for (const auto& kv : options.environment) env.push_back(kv.first + "=" + kv.second);
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Blocks SIGPIPE on the calling thread while writing to a child that may have gone, and
// swallows a SIGPIPE raised meanwhile, so that a closed pipe is an EPIPE error only.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigemptyset(&pipeSet_);
        sigaddset(&pipeSet_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeSet_, &oldMask_);
    }
    ~SigpipeGuard() {
        if (!wasPending_) {
            timespec zero{0, 0};
            while (sigtimedwait(&pipeSet_, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
    }

private:
    sigset_t pipeSet_{}, oldMask_{};
    bool wasPending_ = false;
};

}  // namespace

Process::~Process() {
    if (pid_ > 0 && !reaped_) {
        if (outFd_ >= 0 || errFd_ >= 0) kill(pid_, SIGTERM);
        reapInBackground(pid_);
    }
    closePipes();
}

void Process::closePipes() {
    for (int* fd : {&inFd_, &outFd_, &errFd_}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

bool Process::start(const std::string& program, const std::vector<std::string>& arguments,
                    const ProcessOptions& options, std::string* errorText) {
    auto fail = [&](const std::string& text) {
        if (errorText) *errorText = text;
        result_.error = text;
        return false;
    };
    if (pid_ != -1) return fail("the process was already started");
    if (program.empty()) return fail("no program to run");

    int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    auto closeAll = [&] {
        for (int* p : {inPipe, outPipe, errPipe}) {
            for (int i = 0; i < 2; ++i) {
                if (p[i] >= 0) close(p[i]);
                p[i] = -1;
            }
        }
    };
    if ((options.standardInput && pipe2(inPipe, O_CLOEXEC) != 0) ||
        (options.captureOutput && pipe2(outPipe, O_CLOEXEC) != 0) ||
        (options.captureOutput && !options.mergeErrorIntoOutput && pipe2(errPipe, O_CLOEXEC) != 0)) {
        int error = errno;
        closeAll();
        return fail("could not create a pipe: " + systemErrorText(error));
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.standardInput) {
        posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    if (options.captureOutput) {
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, options.mergeErrorIntoOutput ? outPipe[1] : errPipe[1], 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    if (!options.workingDirectory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
    }

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t noSignals, defaults;
    sigemptyset(&noSignals);
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD, SIGUSR1, SIGUSR2})
        sigaddset(&defaults, s);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.newSession) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attr, flags);
    posix_spawnattr_setsigmask(&attr, &noSignals);
    posix_spawnattr_setsigdefault(&attr, &defaults);

    std::vector<std::string> argStrings;
    argStrings.push_back(program);
    argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envStrings = childEnvironment(options);
    std::vector<char*> argv = pointers(argStrings);
    std::vector<char*> envp = pointers(envStrings);

    pid_t pid = -1;
    int rc = program.find('/') != std::string::npos
                 ? posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data())
                 : posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        closeAll();
        return fail("could not run " + program + ": " + systemErrorText(rc));
    }

    pid_ = pid;
    result_.launched = true;
    inFd_ = inPipe[1];
    outFd_ = outPipe[0];
    errFd_ = errPipe[0];
    for (int fd : {inPipe[0], outPipe[1], errPipe[1]}) {
        if (fd >= 0) close(fd);
    }
    if (options.standardInput) input_ = *options.standardInput;
    return true;
}

ProcessResult Process::waitUntilExit() {
    if (pid_ <= 0) return result_;
    if (inFd_ >= 0 || outFd_ >= 0 || errFd_ >= 0) {
        SigpipeGuard guard;
        size_t written = 0;
        if (inFd_ >= 0) fcntl(inFd_, F_SETFL, fcntl(inFd_, F_GETFL) | O_NONBLOCK);
        if (inFd_ >= 0 && input_.empty()) {
            close(inFd_);
            inFd_ = -1;
        }
        char buffer[16384];
        while (inFd_ >= 0 || outFd_ >= 0 || errFd_ >= 0) {
            pollfd fds[3];
            int n = 0;
            if (inFd_ >= 0) fds[n++] = {inFd_, POLLOUT, 0};
            if (outFd_ >= 0) fds[n++] = {outFd_, POLLIN, 0};
            if (errFd_ >= 0) fds[n++] = {errFd_, POLLIN, 0};
            if (poll(fds, static_cast<nfds_t>(n), -1) < 0) {
                if (errno == EINTR) continue;
                result_.error = "could not wait for the child's output: " + systemErrorText(errno);
                break;
            }
            for (int i = 0; i < n; ++i) {
                if (fds[i].revents == 0) continue;
                if (fds[i].fd == inFd_) {
                    ssize_t w = write(inFd_, input_.data() + written, input_.size() - written);
                    if (w > 0) written += static_cast<size_t>(w);
                    if ((w < 0 && errno != EAGAIN && errno != EINTR) || written >= input_.size()) {
                        close(inFd_);
                        inFd_ = -1;
                    }
                } else {
                    int& fd = fds[i].fd == outFd_ ? outFd_ : errFd_;
                    std::string& sink = fds[i].fd == outFd_ ? result_.output : result_.errorOutput;
                    ssize_t r = read(fd, buffer, sizeof buffer);
                    if (r > 0) {
                        sink.append(buffer, static_cast<size_t>(r));
                    } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                        close(fd);
                        fd = -1;
                    }
                }
            }
        }
        closePipes();
    }
    if (!reaped_) {
        int status = 0;
        pid_t r;
        while ((r = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
        }
        if (r == pid_) {
            reaped_ = true;
            status_ = status;
        } else {
            result_.error = "could not wait for the child: " + systemErrorText(errno);
            return result_;
        }
    }
    if (WIFEXITED(status_)) {
        result_.exited = true;
        result_.exitStatus = WEXITSTATUS(status_);
    } else if (WIFSIGNALED(status_)) {
        result_.terminationSignal = WTERMSIG(status_);
    }
    return result_;
}

bool Process::isRunning() {
    if (pid_ <= 0 || reaped_) return false;
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        reaped_ = true;
        status_ = status;
        return false;
    }
    return r == 0;
}

bool Process::terminate(int signal) {
    if (!isRunning()) return false;
    return kill(pid_, signal) == 0;
}

ProcessResult Process::run(const std::string& program, const std::vector<std::string>& arguments,
                           const ProcessOptions& options) {
    Process p;
    if (!p.start(program, arguments, options)) return p.result_;
    return p.waitUntilExit();
}

pid_t Process::startDetached(const std::string& program, const std::vector<std::string>& arguments,
                             std::string* errorText, const ProcessOptions& options) {
    ProcessOptions o = options;
    o.captureOutput = false;
    o.standardInput.reset();
    Process p;
    if (!p.start(program, arguments, o, errorText)) return -1;
    pid_t pid = p.pid_;
    p.reaped_ = true;  // the reaper below owns it now
    reapInBackground(pid);
    return pid;
}

}  // namespace hvn
