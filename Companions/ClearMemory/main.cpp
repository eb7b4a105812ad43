// ClearMemory: the bundle's memory-release program. The memory page starts it without
// arguments and waits for it to end; it reads nothing back.
//
// As root it writes dirty data out (sync) and then asks the kernel to drop the clean page
// cache (1 into proc/sys/vm/drop_caches below the system root). Otherwise, or when that
// file cannot be written, it evicts the clean cached pages of the user's own cache files
// (posix_fadvise DONTNEED on every regular file the user owns below ~/.cache, or
// $XDG_CACHE_HOME, and ~/Library/Caches). Either way cached file data becomes free memory;
// no file is ever created, written, renamed or removed (drop_caches is a kernel switch, not
// a file). It never follows a symbolic link, never leaves the file system a cache folder
// lies on and never enters a folder twice.
//
// It exits 0 whatever it could release; 2 for arguments it does not know.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Platform/DirectoryWalker.h"
#include "Platform/Log.h"
#include "Platform/Roots.h"

namespace {

const char* kUsage =
    "usage: ClearMemory\n"
    "\n"
    "Turns cached file data into free memory. Run as root, it writes dirty data out and\n"
    "drops the kernel's clean page cache (proc/sys/vm/drop_caches below HALVORN_ROOT, or\n"
    "/). Run as a user, it drops the cached pages of the user's own files below the cache\n"
    "folders of HOME (~/.cache or $XDG_CACHE_HOME, and ~/Library/Caches). No file is\n"
    "created, changed or removed. Exits 0 whatever it could release (2 for unknown\n"
    "arguments).\n";

// Writes "1" into the kernel's switch. The switch must already exist: it is opened without
// O_CREAT and without following a link, so a missing or odd file is left alone.
bool dropPageCache() {
    sync();
    const std::string path = hvn::Roots::systemPath("/proc/sys/vm/drop_caches");
    int fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        hvn::Log::writef("ClearMemory: cannot open %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    struct stat st {};
    // procfs reports its switches as regular files.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        hvn::Log::writef("ClearMemory: %s is not the kernel's switch", path.c_str());
        return false;
    }
    ssize_t n = write(fd, "1", 1);
    int err = errno;
    close(fd);
    if (n != 1) {
        hvn::Log::writef("ClearMemory: cannot write %s: %s", path.c_str(), std::strerror(err));
        return false;
    }
    return true;
}

// The cache folders of the user's home.
std::vector<std::string> cacheFolders() {
    std::vector<std::string> folders;
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/') {
        folders.push_back(hvn::Roots::normalize(xdg));
    } else {
        folders.push_back(hvn::Roots::homePath(".cache"));
    }
    const std::string library = hvn::Roots::homePath("Library/Caches");
    if (library != folders.front()) folders.push_back(library);
    return folders;
}

// Drops the cached pages of one file the user owns. The entry is opened read-only without
// following a link and without blocking (a FIFO put in its place must not hang us), and
// checked again on the open descriptor.
bool evict(int folderFd, const char* name, const struct stat& listed) {
    int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    int fd = openat(folderFd, name, flags | O_NOATIME);
    if (fd < 0 && errno == EPERM) fd = openat(folderFd, name, flags);
    if (fd < 0) return false;
    struct stat st {};
    bool same = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == listed.st_dev &&
                st.st_ino == listed.st_ino && st.st_uid == geteuid();
    bool done = same && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    close(fd);
    return done;
}

// Evicts the user's own files below one cache folder; returns how many.
uint64_t evictFolder(const std::string& folder) {
    struct stat top {};
    if (lstat(folder.c_str(), &top) != 0 || !S_ISDIR(top.st_mode)) return 0;
    const uid_t me = geteuid();
    std::set<std::pair<dev_t, ino_t>> entered{{top.st_dev, top.st_ino}};
    uint64_t evicted = 0;
    hvn::WalkOptions options;
    options.followStartLink = false;
    auto result = hvn::DirectoryWalker::visitEntries(
        folder, true,
        [&](const hvn::DirectoryWalker::Entry& entry) {
            const struct stat* st = entry.stat();
            if (!st) return hvn::DirectoryWalker::Visit::Continue;
            if (entry.isDirectory()) {
                // Another file system (a mount below the cache folder), or a folder seen
                // before through a bind mount.
                if (st->st_dev != top.st_dev || !entered.insert({st->st_dev, st->st_ino}).second)
                    return hvn::DirectoryWalker::Visit::SkipChildren;
                return hvn::DirectoryWalker::Visit::Continue;
            }
            if (entry.type() == hvn::DirectoryWalker::EntryType::File && S_ISREG(st->st_mode) &&
                st->st_uid == me && st->st_size > 0) {
                const std::string name(entry.name());
                if (evict(entry.folderFd(), name.c_str(), *st)) ++evicted;
            }
            return hvn::DirectoryWalker::Visit::Continue;
        },
        options);
    if (result.unreadableFolders > 0) {
        hvn::Log::writef("ClearMemory: %llu folders below %s could not be read",
                         static_cast<unsigned long long>(result.unreadableFolders), folder.c_str());
    }
    return evicted;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        std::fprintf(stderr, "ClearMemory: unknown argument '%s'\n%s", a.c_str(), kUsage);
        return 2;
    }
    try {
        if (geteuid() == 0 && dropPageCache()) {
            std::puts("ClearMemory: dropped the clean page cache");
            return 0;
        }
        uint64_t evicted = 0;
        for (const std::string& folder : cacheFolders()) evicted += evictFolder(folder);
        std::printf("ClearMemory: dropped the cached pages of %llu files\n",
                    static_cast<unsigned long long>(evicted));
    } catch (...) {
        hvn::Log::write("ClearMemory: the release stopped early");
    }
    return 0;
}
