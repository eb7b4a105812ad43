// The disk permission tool: runs the bundle's disk utility (Contents/MacOS/diskutil) on the
// start-up volume to verify or repair permissions, and keeps what the last verification
// found.
//
// The utility is started directly with an argument vector (utility, verb, device): no
// shell, so neither the bundle's path nor the device name can make a command. The volume's
// identifier is read from the pipe of `diskutil info -plist /`; nothing is written to or
// removed from the home folder.
//
// Threads: every member may be called from any thread; commands run one at a time (a
// second command waits until the first has ended). A command's output is read on a reader thread of
// the tool, which hands each piece to receivedData(), so the calling thread needs no run
// loop and a caller whose main loop is busy never hangs the utility; verification and repair
// wait on the calling thread. stop() may come from any thread while a command runs.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class DiskPermissionsTool {
public:
    // The settings key of the date of the last verification without problems or of the
    // last repair.
    static constexpr const char* kLastDiskCheckDateKey = "Last Disk Check Date";

    // The shared tool over the bundle's utility, made on first use and never released.
    static DiskPermissionsTool& shareDiskPermissionsTool();
    // The bundle's utility: <bundle>/Contents/MacOS/diskutil.
    static std::string defaultUtilityPath();

    // A tool over the given utility program; determines deskIdentifier at once (empty when
    // the utility cannot tell, logged).
    explicit DiskPermissionsTool(std::string utilityPath);
    // Stops a running command and waits for its reader.
    ~DiskPermissionsTool();
    DiskPermissionsTool(const DiskPermissionsTool&) = delete;
    DiskPermissionsTool& operator=(const DiskPermissionsTool&) = delete;

    // The device identifier of the volume mounted at "/" ("sda1"), from the utility's
    // `info -plist /` ("DeviceIdentifier"); empty when unknown.
    std::string deskIdentifier() const;
    // YES when the last verification found problems.
    bool issue() const;
    void setIssue(bool value);
    // While a command runs, its collected output; after a verification, its problem lines,
    // each followed by a line feed; after a repair, the repair's output.
    std::string issueStr() const;
    // The number of problem lines of the last verification.
    int64_t issueCount() const;

    // Runs "verifyPermissions" on the volume and waits for its end; then splits issueStr at
    // line feeds into N pieces: N < 4 is no problem (issue NO, issueStr empty, issueCount 0);
    // otherwise issue YES, issueStr holds pieces 2 to N-2, each followed by a line feed, and
    // issueCount is N-3 (the start line, the closing line and the empty rest are not
    // problems). shouldStop, when given, is asked on the waiting thread every tenth of a
    // second (without the tool's lock, so it may read the tool); a true answer stops the
    // utility as stop() does. Returns true only when the verification ran to its end: the
    // utility started, exited with status 0 and was not stopped (a failed verification
    // still counts as no problem, but must not be taken as a clean check).
    bool verifyDiskPermission(const std::function<bool()>& shouldStop = {});
    // Runs the repair (startRepair) and waits for the utility's end. Returns true when it
    // ran to its end without being stopped (exit status 0): issue is then NO and "Last Disk
    // Check Date" is now. A stopped or failed repair leaves issue and the date unchanged.
    bool repairDiskPermission();
    // Starts "repairPermissions" on the volume without waiting (its "(y/N)" question is
    // answered by receivedData). False when it could not be started.
    bool startRepair();
    // Starts the utility with the verb `command` and the volume's identifier as its two
    // arguments, after a command still running has ended; clears the user-cancel flag and
    // issueStr. With input NO, waits for its end; with YES returns once it runs. False when
    // it could not be started (no utility, no identifier).
    bool execDiscCommand(const std::string& command, bool input);
    // Handles a piece of the utility's output (on the reader thread): a "(y/N)" question is
    // answered "y" and a line feed on the utility's standard input, which is then closed, and
    // is not kept; every other text is appended to issueStr. A partial last line is held
    // until its line feed or the end of the output, so that a question split across pieces
    // is still recognised.
    void receivedData(const std::string& data);
    // Sets the user-cancel flag and terminates the running utility (and what it started).
    void stop();
    // The user-cancel flag: stop() was called since the last command started.
    bool isStopped() const { return userCancelled_.load(); }

private:
    struct CommandEnd {
        bool launched = false;
        bool exited = false;
        int exitStatus = -1;
    };

    // Reads the identifier from `info -plist /`.
    std::string readDeskIdentifier() const;
    bool startCommand(const std::string& command);
    // Waits for the running command's end (see verifyDiskPermission for shouldStop).
    CommandEnd waitForCommand(const std::function<bool()>& shouldStop);
    void readOutput(pid_t pid, int outFd, int errFd);
    void answerQuestion();
    void joinReader();

    const std::string utilityPath_;
    // Serialises the commands (verification, repair).
    std::mutex commandMutex_;

    mutable std::mutex mutex_;  // the fields below
    std::condition_variable ended_;
    std::string deskIdentifier_;
    bool issue_ = false;
    std::string issueStr_;
    std::string pendingLine_;  // a partial last line of the output
    int64_t issueCount_ = 0;
    pid_t localTask_ = -1;  // the running utility (its process group), -1 when none
    bool running_ = false;  // a command's reader has not yet finished
    bool reaped_ = true;
    int inputFd_ = -1;  // the utility's standard input, until the question is answered
    CommandEnd lastEnd_;
    std::thread reader_;

    std::atomic<bool> userCancelled_{false};
};
