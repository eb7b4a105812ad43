// Child processes with pipes (posix_spawn): run a program and wait for its exit status and
// output, or start it and go on. A Process object belongs to the thread that made it.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace hvn {

struct ProcessOptions {
    // Variables set (or replaced) in the child's environment, on top of this process's.
    std::vector<std::pair<std::string, std::string>> environment;
    // Variables removed from the child's environment.
    std::vector<std::string> unsetEnvironment;
    // The child's working folder; empty keeps this process's.
    std::string workingDirectory;
    // Bytes written to the child's standard input, which is then closed; nullopt gives it
    // /dev/null.
    std::optional<std::string> standardInput;
    // Capture standard output and standard error through pipes; when false both go to
    // /dev/null.
    bool captureOutput = true;
    // Send standard error into the captured standard output.
    bool mergeErrorIntoOutput = false;
    // Start the child in a session of its own (not stopped by the terminal's signals).
    bool newSession = false;
};

struct ProcessResult {
    bool launched = false;      // false: the program could not be started (see error)
    bool exited = false;        // ended through exit (exitStatus is meaningful)
    int exitStatus = -1;        // the exit status, or -1
    int terminationSignal = 0;  // the signal that ended it, or 0
    std::string output;         // captured standard output
    std::string errorOutput;    // captured standard error
    std::string error;          // why it could not be started or waited for

    // Exited with status 0.
    bool succeeded() const { return launched && exited && exitStatus == 0; }
};

class Process {
public:
    Process() = default;
    // A running child that was started without captured output is left to run; one with
    // pipes is terminated. Either way it is reaped in the background, never left a zombie.
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Runs program (a path, or a name looked up in PATH) with the arguments, waits for it
    // to end and returns its status and output. Blocks the calling thread.
    static ProcessResult run(const std::string& program, const std::vector<std::string>& arguments,
                             const ProcessOptions& options = {});

    // Starts a detached child whose output goes to /dev/null and which is reaped in the
    // background. Returns its pid, or -1 with errorText filled.
    static pid_t startDetached(const std::string& program, const std::vector<std::string>& arguments,
                               std::string* errorText = nullptr, const ProcessOptions& options = {});

    // Starts the child and returns at once. False with errorText when it could not be
    // started, or when this object already ran a child.
    bool start(const std::string& program, const std::vector<std::string>& arguments,
               const ProcessOptions& options = {}, std::string* errorText = nullptr);
    // Feeds standard input, drains the pipes and waits for the end; returns the result.
    // Calling it again returns the same result.
    ProcessResult waitUntilExit();
    // True while the child runs (it has been started and not yet reaped).
    bool isRunning();
    // Sends SIGTERM (or the given signal) to a running child. False when none runs.
    bool terminate(int signal = 15);
    // The child's pid; -1 before start.
    pid_t processIdentifier() const { return pid_; }

private:
    void closePipes();

    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    int inFd_ = -1, outFd_ = -1, errFd_ = -1;
    std::string input_;
    ProcessResult result_;
};

}  // namespace hvn
