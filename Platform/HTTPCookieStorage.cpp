#include "Platform/HTTPCookieStorage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <set>
#include <utility>

#include "Platform/BinaryCookies.h"
#include "Platform/Log.h"
#include "Platform/PropertyList.h"
#include "Platform/RemovalGate.h"
#include "Platform/Roots.h"

namespace hvn {

namespace {

// A jar far larger than any browser keeps is not read into memory.
constexpr off_t kMaxJarSize = 256 * 1024 * 1024;

std::function<void()>& beforeReplaceHook() {
    static std::function<void()> hook;
    return hook;
}

std::string errnoText(int error) {
    return std::strerror(error);
}

// Reads the regular file open at fd (whose status is st). Empty on success, else the reason.
std::string readJar(int fd, const struct ::stat& st, std::string& bytes) {
    if (!S_ISREG(st.st_mode)) return "is not a regular file";
    if (st.st_size > kMaxJarSize) return "is larger than 256 MiB";
    if (int err = readToEnd(fd, bytes); err != 0) return "could not be read: " + errnoText(err);
    return {};
}

// Reads and decodes the jar at path (a final symbolic link followed). nullopt with why set
// when it is missing (why empty) or cannot be read or decoded.
std::optional<BinaryCookies::Jar> loadJar(const std::string& path, std::string& why) {
    why.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT && errno != ENOTDIR) why = "could not be opened: " + errnoText(errno);
        return std::nullopt;
    }
    struct ::stat st;
    std::string bytes;
    if (::fstat(fd, &st) != 0) {
        why = "could not be examined: " + errnoText(errno);
    } else {
        why = readJar(fd, st, bytes);
    }
    ::close(fd);
    if (!why.empty()) return std::nullopt;
    auto jar = BinaryCookies::parse(bytes, &why);
    if (!jar) why = "is not a valid cookie jar: " + why;
    return jar;
}

void logSkipped(const std::string& path, const std::string& why) {
    Log::writef("Cookie jar %s skipped: %s", path.c_str(), why.c_str());
}

bool sameFile(const struct ::stat& a, const struct ::stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mode == b.st_mode &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

bool writeAll(int fd, const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + off, bytes.size() - off);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        off += size_t(n);
    }
    return true;
}

std::string temporaryName(const std::string& name) {
    std::random_device rd;
    return "." + name + ".halvorn-" + std::to_string(::getpid()) + "-" + std::to_string(rd());
}

// Writes bytes as a new file beside the jar `name` of the folder parentFd and renames it over
// the jar when the jar is still the file that was read (status st). Empty on success, else
// the reason; a reason starting with "was rewritten" comes after the rename.
std::string replaceJar(int parentFd, const std::string& name, const struct ::stat& st, const std::string& bytes) {
    const std::string tmp = temporaryName(name);
    // Private until it takes the jar's mode, so it is never readable by more people than the jar.
    int fd = ::openat(parentFd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return "could not create a temporary file beside it: " + errnoText(errno);
    auto fail = [&](const std::string& what, int err) {
        if (fd >= 0) ::close(fd);
        ::unlinkat(parentFd, tmp.c_str(), 0);
        return what + (err ? ": " + errnoText(err) : std::string());
    };
    // Only root can give a file away; the chown comes before the chmod, which it would undo.
    if (::geteuid() == 0 && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
        return fail("could not give the new file the jar's owner", errno);
    }
    if (::fchmod(fd, st.st_mode & 07777) != 0) return fail("could not give the new file the jar's mode", errno);
    if (!writeAll(fd, bytes)) return fail("could not write the new file", errno);
    if (::fsync(fd) != 0) return fail("could not flush the new file", errno);
    int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return fail("could not write the new file", errno);

    if (auto& hook = beforeReplaceHook()) hook();

    struct ::stat now;
    if (::fstatat(parentFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
        return fail("disappeared while it was being rewritten; left as it is", 0);
    }
    if (!sameFile(st, now)) return fail("changed while it was being rewritten; left as it is", 0);
    if (::renameat(parentFd, tmp.c_str(), parentFd, name.c_str()) != 0) {
        return fail("could not replace it", errno);
    }
    // The rename is durable only once the folder is flushed; some file systems cannot flush
    // a folder and say so with EINVAL.
    int dir = ::openat(parentFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return "was rewritten, but its folder could not be flushed: " + errnoText(errno);
    bool flushed = ::fsync(dir) == 0 || errno == EINVAL;
    int err = errno;
    ::close(dir);
    if (!flushed) return "was rewritten, but its folder could not be flushed: " + errnoText(err);
    return {};
}

}  // namespace

HTTPCookieStorage HTTPCookieStorage::sharedHTTPCookieStorage() {
    return HTTPCookieStorage(sharedStoragePath());
}

std::string HTTPCookieStorage::sharedStoragePath() {
    const std::string container =
        Roots::homePath("Library/Containers/com.apple.Safari/Data/Library/Cookies/Cookies.binarycookies");
    // Safari is sandboxed: its container jar is the live one, and the older jar below
    // ~/Library/Cookies may still lie there with stale cookies. Anything at the container
    // path (even a link, which is then never rewritten) makes it the jar.
    struct ::stat st;
    if (::lstat(container.c_str(), &st) == 0) return container;
    return Roots::homePath("Library/Cookies/Cookies.binarycookies");
}

HTTPCookieStorage::HTTPCookieStorage(std::string path) : path_(std::move(path)) {}

std::vector<HTTPCookie> HTTPCookieStorage::cookies(std::string* error) const {
    if (error) error->clear();
    std::string why;
    auto jar = loadJar(path_, why);
    if (!jar) {
        if (!why.empty()) {
            logSkipped(path_, why);
            if (error) *error = path_ + ": " + why;
        }
        return {};
    }
    return jar->cookies();
}

std::vector<std::string> HTTPCookieStorage::normalizedDomains(bool keepEmpty) const {
    std::vector<std::string> out;
    std::set<std::string> seen;
    for (const auto& c : cookies()) {
        std::string domain = !c.domain.empty() && c.domain[0] == '.' ? c.domain.substr(1) : c.domain;
        if ((keepEmpty || !domain.empty()) && seen.insert(domain).second) out.push_back(std::move(domain));
    }
    return out;
}

HTTPCookieStorage::DeleteResult HTTPCookieStorage::deleteCookiesWhere(
    const std::function<bool(const HTTPCookie&)>& select, const RemovalGate* gate) {
    DeleteResult result;
    std::optional<RemovalGate> own;
    if (!gate) gate = &own.emplace(RemovalGate::forCurrentRoots());

    // When the jar may not be rewritten, the answer still is ok when it holds none of the
    // selected cookies.
    auto refuse = [&](const std::string& reason) {
        std::string why;
        auto jar = loadJar(path_, why);
        if (jar) {
            bool any = false;
            for (const auto& page : jar->pages) {
                for (const auto& r : page.records) any = any || select(r.cookie);
            }
            if (!any) {
                result.ok = true;
                return result;
            }
        }
        result.error = reason;
        return result;
    };

    RemovalGate::Admission admission = gate->admit(path_);
    switch (admission.status()) {
        case RemovalGate::Admission::Status::Gone:
            result.ok = true;
            return result;
        case RemovalGate::Admission::Status::Refused:
        case RemovalGate::Admission::Status::Failed:
            return refuse(admission.reason());
        case RemovalGate::Admission::Status::Admitted:
            break;
    }

    const int parentFd = admission.parentFd();
    const std::string& name = admission.name();
    int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        if (err == ENOENT) {
            result.ok = true;
            return result;
        }
        if (err == ELOOP) return refuse(path_ + ": is a symbolic link; left as it is");
        return refuse(path_ + ": could not be opened: " + errnoText(err));
    }
    struct ::stat st;
    std::string bytes;
    std::string why;
    if (::fstat(fd, &st) != 0) {
        why = "could not be examined: " + errnoText(errno);
    } else {
        why = readJar(fd, st, bytes);
    }
    ::close(fd);
    if (!why.empty()) return refuse(path_ + ": " + why + "; left as it is");

    auto jar = BinaryCookies::parse(bytes, &why);
    if (!jar) {
        why = "is not a valid cookie jar: " + why;
        logSkipped(path_, why);
        result.error = path_ + ": " + why + "; left as it is";
        return result;
    }
    const size_t removed = BinaryCookies::removeWhere(*jar, select);
    if (removed == 0) {
        result.ok = true;
        return result;
    }
    why = replaceJar(parentFd, name, st, BinaryCookies::serialize(*jar));
    if (why.empty()) {
        result.ok = true;
        result.removed = removed;
        return result;
    }
    result.error = path_ + ": " + why;
    // A folder that could not be flushed after the rename: the cookies are gone from the jar
    // as it is seen now, but that may not last a crash, so it is not reported as done.
    if (why.rfind("was rewritten", 0) == 0) result.removed = removed;
    return result;
}

HTTPCookieStorage::DeleteResult HTTPCookieStorage::deleteCookie(const HTTPCookie& cookie, const RemovalGate* gate) {
    return deleteCookiesWhere(
        [&](const HTTPCookie& c) {
            return c.domain == cookie.domain && c.name == cookie.name && c.path == cookie.path;
        },
        gate);
}

void HTTPCookieStorage::setBeforeReplaceHook(std::function<void()> hook) {
    beforeReplaceHook() = std::move(hook);
}

}  // namespace hvn
