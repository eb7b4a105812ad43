#include "HVN/Code/ToolBox/Duplicate/THDuplicationHelper.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <unordered_set>

#include "HVN/Code/ToolBox/Duplicate/THDigest.h"
#include "HVN/Code/ToolBox/Duplicate/THFileComparer.h"
#include "HVN/Code/ToolBox/Duplicate/THFileUtility.h"
#include "HVN/Code/ToolBox/Duplicate/THLock.h"
#include "HVN/Code/ToolBox/Duplicate/THReadableFile.h"
#include "HVN/Code/ToolBox/Duplicate/THWebUtility.h"
#include "Platform/FileManager.h"
#include "Platform/Log.h"
#include "Platform/MetadataQuery.h"
#include "Platform/NotificationCenter.h"
#include "Platform/Roots.h"
#include "Platform/RunLoop.h"

namespace {

// Files waiting for the hashing stage; the walk waits when this many are queued.
constexpr size_t kQueueCapacity = 4096;

// The fingerprint's samples cover files up to this size whole. Such a file is digested whole
// in that same single read instead: its SHA-256 is both its bucket and its confirmation, so
// equal small files are grouped without reading either of them again.
constexpr uint64_t kWholeReadSize = 2 * 4096;

bool readWhole(uint64_t size, bool isPackage) {
    return !isPackage && size <= kWholeReadSize;
}

// The SHA-256 of a small file that still has the size it was listed with.
std::optional<std::string> wholeDigest(const std::string& path, uint64_t size) {
    THReadableFile file;
    if (!file.open(path) || file.size() != size) return std::nullopt;
    char buffer[kWholeReadSize + 1];
    // One byte more than expected tells a file that grew since it was opened. A regular
    // file's read comes back short only at its end, so one read usually answers.
    ssize_t n = ::pread(file.fd(), buffer, static_cast<size_t>(size) + 1, 0);
    if (n >= 0 && static_cast<uint64_t>(n) < size) n = file.readAt(buffer, static_cast<size_t>(size) + 1, 0);
    if (n < 0 || static_cast<uint64_t>(n) != size) return std::nullopt;
    thread_local THDigest digest(hvn::Crypto::Digest::SHA256);
    digest.update(buffer, static_cast<size_t>(n));
    return digest.finishHex();
}

std::optional<std::string> fingerprintOf(const std::string& path, uint64_t size, bool isPackage) {
    if (isPackage) return THWebUtility::lazyHashPackage(path);
    if (readWhole(size, isPackage)) return wholeDigest(path, size);
    return THWebUtility::lazyQuickHashFile(path);
}

std::string lastComponent(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The last "."-separated part of a name (the whole name when it has no dot).
std::string lastDotPart(const std::string& name) {
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

std::string trimmedPath(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// True when path is folder or lies below it (whole components).
bool isAtOrBelow(const std::string& path, const std::string& folder) {
    if (folder.empty()) return false;
    if (folder == "/") return !path.empty() && path[0] == '/';
    if (path.compare(0, folder.size(), folder) != 0) return false;
    return path.size() == folder.size() || path[folder.size()] == '/';
}

std::string joinPath(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

struct ListedEntry {
    std::string name;
    struct stat st;
};

// The entries of a folder with their own metadata (links not followed), sorted by name; the
// folder is read whole and closed, so a deep walk keeps no descriptor open. nullopt with
// errno when the folder cannot be opened or read.
std::optional<std::vector<ListedEntry>> listFolder(const std::string& path, bool skipHidden) {
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        int e = errno;
        ::close(fd);
        errno = e;
        return std::nullopt;
    }
    std::vector<ListedEntry> entries;
    for (;;) {
        errno = 0;
        dirent* d = ::readdir(dir);
        if (!d) break;
        const char* n = d->d_name;
        if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
        if ((skipHidden && n[0] == '.') || std::strncmp(n, "__MACOSX", 8) == 0) continue;
        const unsigned char t = d->d_type;
        // Only folders and regular files matter; other types need no stat.
        if (t != DT_DIR && t != DT_REG && t != DT_UNKNOWN) continue;
        ListedEntry entry{n, {}};
        if (::fstatat(fd, n, &entry.st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone since the listing
        entries.push_back(std::move(entry));
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0) {
        errno = readError;
        return std::nullopt;
    }
    std::sort(entries.begin(), entries.end(),
              [](const ListedEntry& a, const ListedEntry& b) { return a.name < b.name; });
    return entries;
}

}  // namespace

THDuplicationHelper::THDuplicationHelper() = default;

THDuplicationHelper::~THDuplicationHelper() {
    stopSearch();
    waitUntilFinished();
}

std::string THDuplicationHelper::currentPath() const {
    std::lock_guard<std::mutex> lock(pathMutex_);
    return currentPath_;
}

void THDuplicationHelper::startSearch() {
    if (searching_.exchange(true)) return;
    if (thread_.joinable()) thread_.join();
    stop_.store(false);
    hvn::Log::write("start");
    thread_ = std::thread([this] { searchStart(); });
}

void THDuplicationHelper::stopSearch() {
    stop_.store(true);
    // Under the queue's lock, so that a thread between its check and its wait hears it.
    std::lock_guard<std::mutex> lock(queueMutex_);
    queueNotFull_.notify_all();
    queueNotEmpty_.notify_all();
}

void THDuplicationHelper::waitUntilFinished() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void THDuplicationHelper::resetState() {
    std::lock_guard<std::mutex> lock(mapMutex_);
    fileInfo_.clear();
    seenIdentities_.clear();
}

void THDuplicationHelper::searchStart() {
    searching_.store(true);
    stopped_.store(false);
    scanned_.store(0);
    hashed_.store(0);
    handledResults_ = 0;
    resetState();
    try {
        std::vector<std::string> list;
        for (const auto& p : searchPaths) {
            std::string path = trimmedPath(p);
            if (path.empty() || isApplicationName(lastComponent(path))) continue;
            if (std::find(list.begin(), list.end(), path) == list.end()) list.push_back(path);
        }
        startWorkers();
        if (!usesMetadataQuery || !searchByQuery(list)) searchByEnum(list);
    } catch (const std::exception& e) {
        hvn::Log::writef("duplicate search failed: %s", e.what());
    } catch (...) {
        hvn::Log::write("duplicate search failed");
    }
    stopWorkers();
    stopped_.store(stopRequested());
    resetState();
    searching_.store(false);
    hvn::Log::write("end");
    post(hvn::Dictionary{{kTHDuplicationFinished, hvn::Value(true)}});
}

// ---------------------------------------------------------------------------------------
// Finding candidates

std::string THDuplicationHelper::queryText(uint64_t minFileSize, uint64_t maxFileSize) {
    const uint64_t low = std::max<uint64_t>(minFileSize, 1024);
    std::string text = hvn::format("(kMDItemFSSize > '%lld')", static_cast<long long>(low));
    if (maxFileSize > low)
        text += hvn::format(" && (kMDItemFSSize < '%lld')", static_cast<long long>(maxFileSize));
    text += "&& (kMDItemContentType != 'public.folder')";
    text += "&& (kMDItemContentType != 'com.apple.mail.emlx')";
    text += "&& (kMDItemContentType != 'public.vcard')";
    return text;
}

bool THDuplicationHelper::isApplicationName(const std::string& name) {
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos) return false;
    return name.compare(dot + 1, 3, "app") == 0;
}

bool THDuplicationHelper::searchByQuery(const std::vector<std::string>& paths) {
    if (paths.empty()) return false;
    hvn::MetadataQuery query;
    std::string error;
    if (!query.setPredicateFormat(queryText(minFileSize, maxFileSize), &error)) {
        hvn::Log::writef("the metadata query cannot be built: %s", error.c_str());
        return false;
    }
    query.setSearchScopes(paths);
    queryDone_.store(false);
    query.setProgressHandler([this, &query](size_t count) { handleQueryResults(query, count); });
    query.setFinishHandler([this, &query](size_t count) {
        handleQueryResults(query, count);
        queryDone_.store(true);
    });
    if (!query.startQuery()) return false;
    while (!queryDone_.load() && !stopRequested())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    query.stopQuery();
    query.waitUntilFinished();
    return true;
}

void THDuplicationHelper::handleQueryResults(hvn::MetadataQuery& query, size_t count) {
    const std::string homeLibrary = hvn::Roots::homePath("Library");
    for (; handledResults_ < count && !stopRequested(); ++handledResults_) {
        auto item = query.resultAtIndex(handledResults_);
        if (!item) continue;
        const std::string path = item->path();
        if (path.empty()) {
            hvn::Log::write("NO PATH TO FIND!");
            continue;
        }
        hvn::NotificationCenter::defaultCenter().post(kTHDuplicationProgressNotification,
                                                      static_cast<const THDuplicationHelper*>(this),
                                                      hvn::Value(hvn::Dictionary{{"path", path}}));
        if (isAtOrBelow(path, homeLibrary) || isApplicationName(lastComponent(path))) continue;
        if (THFileUtility::fileIsDirectory(path)) {
            searth(path, true);
        } else if (THFileUtility::fileIsRegular(path)) {
            searth(path, false);
        }
    }
}

void THDuplicationHelper::searchByEnum(const std::vector<std::string>& paths) {
    for (const auto& path : paths) {
        if (stopRequested()) return;
        if (THFileUtility::fileIsDirectory(path)) {
            searth(path, true);
        } else if (THFileUtility::fileIsRegular(path)) {
            searth(path, false);
        } else {
            hvn::Log::writef("Skipping %s: not a folder or a regular file", path.c_str());
        }
    }
}

bool THDuplicationHelper::directoryValid(const std::string& path) const {
    for (const auto& prefix : filterFilePaths) {
        if (!prefix.empty() && path.rfind(prefix, 0) == 0) return false;
    }
    return !(filterPackage && hvn::FileManager::isPackageAtPath(path));
}

std::vector<std::string> THDuplicationHelper::directorySubPath(const std::string& path) const {
    std::vector<std::string> out;
    auto entries = listFolder(path, skipsHiddenItems);
    if (!entries) return out;
    for (const auto& e : *entries) out.push_back(joinPath(path, e.name));
    return out;
}

void THDuplicationHelper::searth(const std::string& path, bool isDirectory) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        hvn::Log::writef("Skipping %s: %s", path.c_str(), std::strerror(errno));
        return;
    }
    if (!isDirectory) {
        if (S_ISREG(st.st_mode)) {
            hand(path, static_cast<uint64_t>(st.st_size), false, st.st_dev, st.st_ino);
        }
        return;
    }
    if (!S_ISDIR(st.st_mode)) return;
    walkFolder(path);
}

// Depth first in name order with an explicit stack of listed folders, so that deep trees
// need no deep recursion; each folder is listed whole and closed before its sub-folders are
// entered.
void THDuplicationHelper::walkFolder(const std::string& root) {
    struct stat rootStat {};
    if (::lstat(root.c_str(), &rootStat) != 0 || !S_ISDIR(rootStat.st_mode)) return;
    const dev_t device = rootStat.st_dev;

    struct Frame {
        std::string path;
        std::vector<ListedEntry> entries;
        size_t next = 0;
    };
    std::vector<Frame> stack;
    // Enters one folder: a package is handed on as one item; a valid folder is listed.
    auto enter = [&](const std::string& path, const struct stat& st) {
        if (hvn::FileManager::isPackageAtPath(path)) {
            hand(path, THFileUtility::fileSizeByPath(path), true, st.st_dev, st.st_ino);
        }
        if (!directoryValid(path)) return;
        if (st.st_dev != device) {
            hvn::Log::writef("Not entering %s: another file system", path.c_str());
            return;
        }
        auto entries = listFolder(path, skipsHiddenItems);
        if (!entries) {
            hvn::Log::writef("Could not read the folder %s: %s", path.c_str(), std::strerror(errno));
            return;
        }
        stack.push_back(Frame{path, std::move(*entries), 0});
    };
    enter(root, rootStat);
    while (!stack.empty()) {
        if (stopRequested()) return;
        Frame& top = stack.back();
        if (top.next >= top.entries.size()) {
            stack.pop_back();
            continue;
        }
        const ListedEntry& e = top.entries[top.next++];
        std::string path = joinPath(top.path, e.name);
        if (S_ISDIR(e.st.st_mode)) {
            enter(path, e.st);  // may invalidate `top`
        } else if (S_ISREG(e.st.st_mode)) {
            hand(path, static_cast<uint64_t>(e.st.st_size), false, e.st.st_dev, e.st.st_ino);
        }
    }
}

// ---------------------------------------------------------------------------------------
// Grouping

bool THDuplicationHelper::fileValid(const std::string& path, uint64_t* size) {
    uint64_t s = THFileUtility::fileSizeByPath(path);
    if (size) *size = s;
    return sizeAccepted(path, s);
}

bool THDuplicationHelper::sizeAccepted(const std::string& path, uint64_t size) const {
    const uint64_t low = std::max(minFileSize, kSmallestCandidate);
    if (size < low) return false;
    if (maxFileSize > low && size > maxFileSize) return false;
    const std::string name = lastComponent(path);
    const std::string last = lastDotPart(name);
    if (last == "dylib" || last == "emlxpart") return false;
    if (extensionsPredicate && !extensionsPredicate(hvn::FileManager::pathExtension(path))) return false;
    return true;
}

void THDuplicationHelper::hand(const std::string& path, uint64_t size, bool isPackage, dev_t device,
                               ino_t inode) {
    scanned_.fetch_add(1, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> lock(pathMutex_);
        currentPath_ = path;
    }
    // A regular file whose length reads 0 may still have one (files of special file systems).
    if (size == 0 && !isPackage) size = THFileUtility::fileSizeByPath(path);
    if (!sizeAccepted(path, size)) return;
    Candidate c{path, size, isPackage};
    {
        std::lock_guard<std::mutex> lock(mapMutex_);
        // Another name of a file already handed on is that same file, not a copy of it.
        if (!seenIdentities_.emplace(static_cast<uint64_t>(device), static_cast<uint64_t>(inode)).second)
            return;
        auto it = fileInfo_.find(size);
        if (it == fileInfo_.end()) {
            fileInfo_[size].single = std::move(c);
            return;
        }
    }
    {
        std::unique_lock<std::mutex> lock(queueMutex_);
        if (!queueClosed_) {
            if (queue_.size() >= kQueueCapacity) {
                walkerWaiting_ = true;
                queueNotFull_.wait(lock,
                                   [&] { return queue_.size() < kQueueCapacity / 2 || stopRequested(); });
                walkerWaiting_ = false;
            }
            if (stopRequested()) return;
            queue_.push_back(std::move(c));
            // Waking a worker costs a system call: only when one is waiting.
            if (idleWorkers_ > 0) queueNotEmpty_.notify_one();
            return;
        }
    }
    hashCandidate(c);
}

void THDuplicationHelper::fileDispose(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;
    const bool isPackage = S_ISDIR(st.st_mode) && hvn::FileManager::isPackageAtPath(path);
    if (!isPackage && !S_ISREG(st.st_mode)) return;
    uint64_t size = 0;
    if (!fileValid(path, &size)) return;
    Candidate c{path, size, isPackage};
    {
        std::lock_guard<std::mutex> lock(mapMutex_);
        if (!seenIdentities_.emplace(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino))
                 .second)
            return;
        if (fileInfo_.find(size) == fileInfo_.end()) {
            fileInfo_[size].single = std::move(c);
            return;
        }
    }
    hashCandidate(c);
}

std::optional<THDuplicationHelper::Fingerprint> THDuplicationHelper::Fingerprint::fromHex(
    const std::string& hex) {
    if (hex.size() % 2 != 0 || hex.size() > 64) return std::nullopt;
    auto digit = [](char ch) -> int {
        if (ch >= '0' && ch <= '9') return ch - '0';
        if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
        if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
        return -1;
    };
    Fingerprint f;
    f.length = static_cast<uint8_t>(hex.size() / 2);
    for (size_t i = 0; i < f.length; ++i) {
        const int hi = digit(hex[2 * i]), lo = digit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        f.bytes[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return f;
}

size_t THDuplicationHelper::FingerprintHash::operator()(const Fingerprint& f) const noexcept {
    // The bytes are a hash already: their first eight do, mixed with the length.
    uint64_t v = 0;
    std::memcpy(&v, f.bytes.data(), sizeof v);
    return static_cast<size_t>(v ^ (static_cast<uint64_t>(f.length) * 0x9e3779b97f4a7c15ull));
}

void THDuplicationHelper::hashCandidate(const Candidate& c) {
    if (stopRequested()) return;
    hashed_.fetch_add(1, std::memory_order_relaxed);
    auto lazy = fingerprintOf(c.path, c.size, c.isPackage);
    if (!lazy) {
        hvn::Log::writef("Could not read %s; left out", c.path.c_str());
        return;
    }
    const auto key = Fingerprint::fromHex(*lazy);
    if (!key) return;
    const std::string sizeKey = std::to_string(c.size);
    THLock::Guard sizeLock(sizeKey);
    Bucket* bucket = nullptr;
    {
        std::optional<Candidate> first;
        {
            std::lock_guard<std::mutex> lock(mapMutex_);
            SizeEntry& entry = fileInfo_[c.size];
            first = std::move(entry.single);
            entry.single.reset();
        }
        // The first item of the size is read only now that it has company.
        if (first) {
            hashed_.fetch_add(1, std::memory_order_relaxed);
            auto firstHash = fingerprintOf(first->path, first->size, first->isPackage);
            std::lock_guard<std::mutex> lock(mapMutex_);
            const auto firstKey = firstHash ? Fingerprint::fromHex(*firstHash) : std::nullopt;
            if (firstKey) {
                fileInfo_[c.size].byHash[*firstKey].groups.push_back(
                    ContentGroup{{first->path}, first->isPackage, std::nullopt});
            } else {
                hvn::Log::writef("Could not read %s; left out", first->path.c_str());
            }
        }
        std::lock_guard<std::mutex> lock(mapMutex_);
        bucket = &fileInfo_[c.size].byHash[*key];
    }
    // Hand over hand: the fingerprint's lock is taken before the size's is released, so the
    // order size-then-fingerprint holds and the bucket changes only under its own lock.
    THLock::Guard hashLock(*lazy);
    sizeLock.release();
    confirm(*bucket, c, *lazy);
}

void THDuplicationHelper::confirm(Bucket& bucket, const Candidate& c, const std::string& fingerprint) {
    if (readWhole(c.size, c.isPackage)) {
        // The fingerprint is the whole content's digest: every file of the bucket is equal.
        for (ContentGroup& g : bucket.groups) {
            if (g.isPackage) continue;
            g.paths.push_back(c.path);
            postNotificationSize(c.size, fingerprint, g.paths);
            return;
        }
        // The group's hash is the fingerprint itself: no copy of it is kept.
        bucket.groups.push_back(ContentGroup{{c.path}, false, std::nullopt});
        return;
    }
    std::optional<std::string> packageDigest;
    if (c.isPackage) {
        packageDigest = THWebUtility::hashPackageContents(c.path, &stop_);
        if (!packageDigest) {
            if (!stopRequested()) hvn::Log::writef("Could not read %s; left out", c.path.c_str());
            return;
        }
    }
    for (size_t i = 0; i < bucket.groups.size();) {
        ContentGroup& g = bucket.groups[i];
        if (g.isPackage != c.isPackage) {
            ++i;
            continue;
        }
        THFileComparer::Result result;
        std::string digest;
        if (c.isPackage) {
            if (!g.digest) g.digest = THWebUtility::hashPackageContents(g.paths.front(), &stop_);
            if (stopRequested()) return;
            result = !g.digest                     ? THFileComparer::Result::FirstUnreadable
                     : *g.digest == *packageDigest ? THFileComparer::Result::Same
                                                   : THFileComparer::Result::Different;
        } else {
            result = THFileComparer::compare(g.paths.front(), c.path, g.digest ? nullptr : &digest, &stop_);
        }
        switch (result) {
            case THFileComparer::Result::Same: {
                if (!g.digest) g.digest = digest;
                g.paths.push_back(c.path);
                postNotificationSize(c.size, *g.digest, g.paths);
                return;
            }
            case THFileComparer::Result::Different:
                ++i;
                continue;
            case THFileComparer::Result::FirstUnreadable:
                // The member that stood for the group is gone or unreadable: the next one
                // stands for it (equal content, so the digest stays).
                hvn::Log::writef("Could not read %s; left out", g.paths.front().c_str());
                g.paths.erase(g.paths.begin());
                if (g.paths.empty()) bucket.groups.erase(bucket.groups.begin() + static_cast<long>(i));
                continue;
            case THFileComparer::Result::SecondUnreadable:
                hvn::Log::writef("Could not read %s; left out", c.path.c_str());
                return;
            case THFileComparer::Result::Stopped:
                return;
        }
    }
    bucket.groups.push_back(ContentGroup{{c.path}, c.isPackage, packageDigest});
}

// ---------------------------------------------------------------------------------------
// The hashing stage

void THDuplicationHelper::startWorkers() {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        queue_.clear();
        queueClosed_ = false;
    }
    for (int i = 0; i < kFilesHashedAtOnce; ++i) workers_.emplace_back([this] { workerLoop(); });
}

void THDuplicationHelper::stopWorkers() {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        queueClosed_ = true;
    }
    queueNotEmpty_.notify_all();
    for (auto& w : workers_) w.join();
    workers_.clear();
    std::lock_guard<std::mutex> lock(queueMutex_);
    queue_.clear();
}

void THDuplicationHelper::workerLoop() {
    for (;;) {
        Candidate c;
        {
            std::unique_lock<std::mutex> lock(queueMutex_);
            ++idleWorkers_;
            queueNotEmpty_.wait(lock, [&] { return !queue_.empty() || queueClosed_ || stopRequested(); });
            --idleWorkers_;
            if (queue_.empty() || stopRequested()) {
                if (queueClosed_ || stopRequested()) return;
                continue;
            }
            c = std::move(queue_.front());
            queue_.pop_front();
            if (walkerWaiting_ && queue_.size() < kQueueCapacity / 2) queueNotFull_.notify_one();
        }
        try {
            hashCandidate(c);
        } catch (...) {
            hvn::Log::writef("Could not group %s", c.path.c_str());
        }
    }
}

// ---------------------------------------------------------------------------------------
// Notifications

void THDuplicationHelper::postNotificationSize(uint64_t size, const std::string& hash,
                                               const std::vector<std::string>& fileList) {
    hvn::Array list;
    list.reserve(fileList.size());
    for (const auto& p : fileList) list.emplace_back(p);
    post(hvn::Dictionary{{kTHDuplicationFileSize, hvn::Value(static_cast<long long>(size))},
                         {kTHDuplicationFileHash, hvn::Value(hash)},
                         {kTHDuplicationFileList, hvn::Value(std::move(list))}});
}

void THDuplicationHelper::post(hvn::Dictionary userInfo) {
    hvn::Notification note{kTHDuplicationNotification, static_cast<const THDuplicationHelper*>(this),
                           hvn::Value(std::move(userInfo))};
    auto deliver = [note = std::move(note)] { hvn::NotificationCenter::defaultCenter().post(note); };
    if (notificationQueue) {
        notificationQueue->addOperation(std::function<void()>(std::move(deliver)));
    } else {
        hvn::RunLoop::main().performOnMainThread(std::move(deliver));
    }
}
