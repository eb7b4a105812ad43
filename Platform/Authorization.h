// Running a command with administrator rights.
//
// Backends:
// - Polkit: `pkexec` runs the command as root after the system's administrator prompt;
//   a dismissed or refused prompt (pkexec status 126 or 127) is "User canceled.".
// - Root: this process already runs as root; the command runs directly.
// - Deny (HALVORN_AUTH=deny, for tests): every request is refused as "User canceled.".
// - Allow (HALVORN_AUTH=allow, for tests): the command runs directly as the current user.
// HALVORN_AUTH wins over the root check. Requests block the calling thread (never the
// main thread: the prompt may wait for the user).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace hvn {

inline constexpr const char* kUserCanceledMessage = "User canceled.";

class Authorization {
public:
    enum class Backend { Polkit, Root, Deny, Allow };
    enum class Status {
        Ran,       // the command ran; see exitStatus
        Canceled,  // the user dismissed or refused the prompt ("User canceled.")
        Failed,    // the command could not be run (no pkexec, spawn failure, killed by a signal)
    };
    struct Result {
        Status status = Status::Failed;
        int exitStatus = -1;  // the command's exit status when it ran
        std::string output;   // its standard output
        std::string
            errorMessage;  // "User canceled." or why it failed; the command's standard error otherwise

        bool succeeded() const { return status == Status::Ran && exitStatus == 0; }
        bool canceled() const { return status == Status::Canceled; }
    };

    // The backend of this process, read from HALVORN_AUTH and the effective user now.
    static Backend currentBackend();

    // An authorization that uses the backend current at each request.
    Authorization() = default;
    // An authorization fixed to one backend.
    explicit Authorization(Backend backend) : backend_(backend), fixed_(true) {}

    Backend backend() const { return fixed_ ? backend_ : currentBackend(); }

    // Runs program (an absolute path) with the arguments with administrator rights and
    // waits for it; standardInput, when given, is written to its standard input (else it
    // reads /dev/null). Thread-safe.
    Result executeWithPrivileges(const std::string& program, const std::vector<std::string>& arguments,
                                 const std::optional<std::string>& standardInput = std::nullopt) const;

private:
    Backend backend_ = Backend::Polkit;
    bool fixed_ = false;
};

}  // namespace hvn
