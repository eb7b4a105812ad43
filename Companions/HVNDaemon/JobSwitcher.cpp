#include "Companions/HVNDaemon/JobSwitcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <system_error>

#include "Platform/LaunchdJob.h"
#include "Platform/PropertyList.h"

namespace hvndaemon {

namespace {

bool fail(std::string* errorText, const std::string& text) {
    if (errorText) *errorText = text;
    return false;
}

std::string systemText(int error) {
    return std::system_category().message(error);
}

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Replaces the entry `name` of the folder at folderFd, which is the file `original`
// describes, by bytes: a temporary file beside it with its owner and mode, renamed over it.
bool replaceAt(int folderFd, const std::string& name, const struct stat& original, const std::string& bytes,
               const std::string& path, std::string* errorText) {
    std::random_device random;
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = "." + name.substr(0, 200) + ".hvn-" + std::to_string(random());
        fd =
            ::openat(folderFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return fail(errorText, "Could not rewrite " + path + ": " + systemText(errno));
    auto abandon = [&](int error) {
        ::close(fd);
        ::unlinkat(folderFd, temporary.c_str(), 0);
        return fail(errorText, "Could not rewrite " + path + ": " + systemText(error));
    };
    // The owner first: a change of owner clears the set-user-ID and set-group-ID bits.
    if (::fchown(fd, original.st_uid, original.st_gid) != 0) return abandon(errno);
    if (::fchmod(fd, original.st_mode & 07777) != 0) return abandon(errno);
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0) return abandon(errno ? errno : EIO);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlinkat(folderFd, temporary.c_str(), 0);
        return fail(errorText, "Could not rewrite " + path + ": " + systemText(error));
    }
    struct stat now {};
    if (::fstatat(folderFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != original.st_dev ||
        now.st_ino != original.st_ino || now.st_size != original.st_size ||
        now.st_mtim.tv_sec != original.st_mtim.tv_sec || now.st_mtim.tv_nsec != original.st_mtim.tv_nsec) {
        ::unlinkat(folderFd, temporary.c_str(), 0);
        return fail(errorText, "Refusing to rewrite " + path + ": it changed while it was rewritten");
    }
    if (::renameat(folderFd, temporary.c_str(), folderFd, name.c_str()) != 0) {
        const int error = errno;
        ::unlinkat(folderFd, temporary.c_str(), 0);
        return fail(errorText, "Could not rewrite " + path + ": " + systemText(error));
    }
    const int folder = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
    return true;
}

}  // namespace

bool switchJob(const hvn::RemovalGate& gate, const std::string& path, bool disable, std::string* errorText) {
    hvn::RemovalGate::Admission a = gate.admit(path);
    switch (a.status()) {
        case hvn::RemovalGate::Admission::Status::Admitted:
            break;
        case hvn::RemovalGate::Admission::Status::Gone:
            return fail(errorText, "Could not rewrite " + path + ": nothing is there");
        case hvn::RemovalGate::Admission::Status::Refused: {
            std::string reason = a.reason();
            const std::string prefix = "Refusing to remove ";
            if (reason.rfind(prefix, 0) == 0) reason = "Refusing to rewrite " + reason.substr(prefix.size());
            return fail(errorText, reason);
        }
        case hvn::RemovalGate::Admission::Status::Failed:
            return fail(errorText, a.reason());
    }
    if (!S_ISREG(a.entry().mode)) {
        return fail(errorText, "Refusing to rewrite " + path + ": it is not a regular file");
    }
    const int fd = ::openat(a.parentFd(), a.name().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail(errorText, "Could not read " + path + ": " + systemText(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(errorText, "Refusing to rewrite " + path + ": it is not a regular file");
    }
    if (static_cast<uint64_t>(st.st_size) > hvn::LaunchdJob::kMaxFileSize) {
        ::close(fd);
        return fail(errorText,
                    "Refusing to rewrite " + path + ": it is larger than a job description may be");
    }
    std::string bytes;
    const int readError = hvn::readToEnd(fd, bytes);
    ::close(fd);
    if (readError != 0) return fail(errorText, "Could not read " + path + ": " + systemText(readError));
    if (bytes.size() != static_cast<size_t>(st.st_size)) {
        return fail(errorText, "Refusing to rewrite " + path + ": it changed while it was read");
    }
    auto plist = hvn::PropertyList::parse(bytes);
    if (!plist) return fail(errorText, "Could not rewrite " + path + ": it is not a property list");
    bool changed = false;
    std::string why;
    auto switched = hvn::LaunchdJob::switchedProgram(*plist, disable, &changed, &why);
    if (!switched) return fail(errorText, "Could not rewrite " + path + ": " + why);
    if (!changed) return true;
    const bool binary = bytes.rfind("bplist", 0) == 0;
    const std::string out =
        hvn::PropertyList::serialize(*switched, binary ? hvn::PlistFormat::Binary : hvn::PlistFormat::XML);
    if (out.empty())
        return fail(errorText, "Could not rewrite " + path + ": the new list could not be written");
    return replaceAt(a.parentFd(), a.name(), st, out, path, errorText);
}

}  // namespace hvndaemon
