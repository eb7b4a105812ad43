#include "Companions/HVNDaemon/ExecutableThinner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "Platform/MachO.h"

namespace hvndaemon {

namespace {

bool fail(std::string* errorText, const std::string& text) {
    if (errorText) *errorText = text;
    return false;
}

}  // namespace

bool thinExecutable(const hvn::RemovalGate& gate, const std::string& path, const std::string& arch,
                    std::string* errorText) {
    hvn::RemovalGate::Admission a = gate.admit(path);
    switch (a.status()) {
        case hvn::RemovalGate::Admission::Status::Admitted:
            break;
        case hvn::RemovalGate::Admission::Status::Gone:
            return fail(errorText, "Could not thin " + path + ": nothing is there");
        case hvn::RemovalGate::Admission::Status::Refused: {
            std::string reason = a.reason();
            const std::string prefix = "Refusing to remove ";
            if (reason.rfind(prefix, 0) == 0) reason = "Refusing to thin " + reason.substr(prefix.size());
            return fail(errorText, reason);
        }
        case hvn::RemovalGate::Admission::Status::Failed:
            return fail(errorText, a.reason());
    }
    if (!S_ISREG(a.entry().mode)) {
        return fail(errorText, "Refusing to thin " + path + ": it is not a regular file");
    }
    const int fd = ::openat(a.parentFd(), a.name().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(errorText, "Could not thin " + path + ": " + std::system_category().message(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_ino != a.entry().identity.inode) {
        ::close(fd);
        return fail(errorText, "Refusing to thin " + path + ": it changed while it was checked");
    }
    // Both ends go through descriptors opened here: the input is the file just checked, the
    // output lands in the folder the gate admitted.
    const std::string input = "/proc/self/fd/" + std::to_string(fd);
    const std::string output = "/proc/self/fd/" + std::to_string(a.parentFd()) + "/" + a.name();
    std::string why;
    const bool thinned = hvn::MachO::thin(input, arch, output, &why);
    ::close(fd);
    if (!thinned) return fail(errorText, "Could not thin " + path + ": " + why);
    return true;
}

}  // namespace hvndaemon
