#include "Sentrel/VirusManager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Platform/Log.h"
#include "Sentrel/VirusSignatureIndex.h"

namespace {

constexpr const char* kDirectoryAnswer = "DIR";

// Opens a regular file for reading without changing its access time where the kernel lets
// us (the large-and-old-files tool reads those times), and without ever blocking.
int openForReading(int folderFd, const char* path, int extraFlags = 0) {
    const int kFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | extraFlags;
    int fd = ::openat(folderFd, path, kFlags | O_NOATIME);
    if (fd < 0 && errno == EPERM) fd = ::openat(folderFd, path, kFlags);
    return fd;
}

}  // namespace

std::shared_ptr<const VirusSignatureIndex> VirusManager::indexFor(const std::vector<HVNVirusCodeObjPtr>& virusCode) {
    std::lock_guard<std::mutex> lock(indexCache_.mutex);
    if (!indexCache_.last || !indexCache_.last->isFor(virusCode)) {
        indexCache_.last = std::make_shared<const VirusSignatureIndex>(virusCode);
    }
    return indexCache_.last;
}

std::shared_ptr<const VirusSignatureIndex> VirusManager::preparedIndex() {
    std::lock_guard<std::mutex> lock(indexCache_.mutex);
    return indexCache_.prepared;
}

void VirusManager::prepareVirusCodes(const std::vector<HVNVirusCodeObjPtr>& virusCode) {
    auto index = std::make_shared<const VirusSignatureIndex>(virusCode, false);
    std::lock_guard<std::mutex> lock(indexCache_.mutex);
    indexCache_.prepared = std::move(index);
}

std::optional<std::string> VirusManager::checkPreparedAt(int folderFd, const std::string& name) {
    if (name.empty()) return std::nullopt;
    return checkAt(folderFd, name.c_str(), preparedIndex().get());
}

std::optional<std::string> VirusManager::checkPreparedFileAt(int folderFd, const std::string& name) {
    if (name.empty()) return std::nullopt;
    auto index = preparedIndex();
    // The listing said "regular file": open it as that, without following a link, and let
    // the reads tell its length. An entry that has become a link meanwhile is checked as
    // checkPreparedAt would; anything else that is no regular file reads as empty.
    int fd = openForReading(folderFd, name.c_str(), O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ELOOP) return checkAt(folderFd, name.c_str(), index.get());
        if (errno == ENOENT) return std::nullopt;
        return std::string();
    }
    int64_t found = index && index->signatureCount() > 0 ? index->match(fd, std::nullopt) : -1;
    ::close(fd);
    return found < 0 ? std::string() : index->nameAt(found);
}

std::optional<std::string> VirusManager::checkAt(int folderFd, const char* path, const VirusSignatureIndex* index) {
    struct ::stat st;
    if (::fstatat(folderFd, path, &st, 0) != 0) {
        // A link whose target is gone, or a path that cannot be searched, shows nothing.
        return std::nullopt;
    }
    if (S_ISDIR(st.st_mode)) return std::string(kDirectoryAnswer);
    // Only regular files are read: opening a device or a pipe may block or act on it. Any
    // other item, like an unreadable file, counts as empty.
    if (!S_ISREG(st.st_mode) || st.st_size < 2) return std::string();
    if (!index || index->signatureCount() == 0) return std::string();
    int fd = openForReading(folderFd, path);
    if (fd < 0) return std::string();
    struct ::stat opened;
    int64_t found = -1;
    // What was opened must still be that file (not swapped for another item meanwhile).
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_dev == st.st_dev &&
        opened.st_ino == st.st_ino) {
        found = index->match(fd, static_cast<uint64_t>(opened.st_size));
    }
    ::close(fd);
    return found < 0 ? std::string() : index->nameAt(found);
}

std::optional<std::string> VirusManager::checkVirus(const std::string& path,
                                                    const std::vector<HVNVirusCodeObjPtr>& virusCode) {
    if (path.empty()) return std::nullopt;
    return checkAt(AT_FDCWD, path.c_str(), indexFor(virusCode).get());
}

std::optional<std::string> VirusManager::checkVirusAt(int folderFd, const std::string& name,
                                                      const std::vector<HVNVirusCodeObjPtr>& virusCode) {
    if (name.empty()) return std::nullopt;
    return checkAt(folderFd, name.c_str(), indexFor(virusCode).get());
}

void VirusManager::showLogWithStr(const std::string& text) {
    hvn::Log::writef("%s", text.c_str());
}
