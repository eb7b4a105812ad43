#include "Platform/Authorization.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "Platform/Process.h"

namespace hvn {

namespace {

// pkexec's own statuses: 126 when the prompt was dismissed, 127 when authorization was
// refused or could not be obtained.
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;

Authorization::Result fromProcess(const ProcessResult& p) {
    Authorization::Result r;
    if (!p.launched) {
        r.errorMessage = p.error;
        return r;
    }
    if (!p.exited) {
        r.errorMessage = p.terminationSignal
                             ? "the command was ended by signal " + std::to_string(p.terminationSignal)
                             : p.error;
        return r;
    }
    r.status = Authorization::Status::Ran;
    r.exitStatus = p.exitStatus;
    r.output = p.output;
    r.errorMessage = p.errorOutput;
    return r;
}

std::string findPkexec() {
    for (const char* candidate : {"/usr/bin/pkexec", "/bin/pkexec", "/usr/local/bin/pkexec"}) {
        if (access(candidate, X_OK) == 0) return candidate;
    }
    return {};
}

}  // namespace

Authorization::Backend Authorization::currentBackend() {
    const char* mode = std::getenv("HALVORN_AUTH");
    if (mode && std::strcmp(mode, "deny") == 0) return Backend::Deny;
    if (mode && std::strcmp(mode, "allow") == 0) return Backend::Allow;
    return geteuid() == 0 ? Backend::Root : Backend::Polkit;
}

Authorization::Result Authorization::executeWithPrivileges(const std::string& program,
                                                           const std::vector<std::string>& arguments,
                                                           const std::optional<std::string>& standardInput) const {
    ProcessOptions options;
    options.standardInput = standardInput;
    switch (backend()) {
        case Backend::Deny: {
            Result r;
            r.status = Status::Canceled;
            r.errorMessage = kUserCanceledMessage;
            return r;
        }
        case Backend::Allow:
        case Backend::Root:
            return fromProcess(Process::run(program, arguments, options));
        case Backend::Polkit: {
            std::string pkexec = findPkexec();
            if (pkexec.empty()) {
                Result r;
                r.errorMessage = "pkexec is not installed: administrator rights cannot be requested";
                return r;
            }
            std::vector<std::string> args{program};
            args.insert(args.end(), arguments.begin(), arguments.end());
            Result r = fromProcess(Process::run(pkexec, args, options));
            if (r.status == Status::Ran &&
                (r.exitStatus == kPkexecDismissed || r.exitStatus == kPkexecNotAuthorized)) {
                r.status = Status::Canceled;
                r.errorMessage = kUserCanceledMessage;
            }
            return r;
        }
    }
    return {};
}

}  // namespace hvn
