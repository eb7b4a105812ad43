#include "HVN/Code/Clearer/HVNVirusOperation.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <any>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "HVN/Code/Clearer/FMDB/HVNPathDBManager.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/BundleInfo.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Platform/RemovalGate.h"
#include "Platform/Roots.h"
#include "Sentrel/VirusManager.h"

namespace {

constexpr const char* kDirectoryAnswer = "DIR";
constexpr uint64_t kPathUpdateEvery = 25;
// Checks handed to the checker threads at once, and how many such batches may wait.
constexpr size_t kBatchJobs = 128;
constexpr size_t kBatchFolders = 16;  // a batch holds its folders open
constexpr size_t kQueuedBatches = 8;

// Entries counted by every scan of the process.
std::atomic<uint64_t> gEntryCounter{0};

// An open folder of the walk, kept open while checks of its files are queued.
struct Folder {
    Folder(int fd, std::string path, hvn::FileIdentity identity)
        : fd(fd), path(std::move(path)), identity(identity) {}
    ~Folder() { ::close(fd); }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    int fd;
    std::string path;  // its real location
    hvn::FileIdentity identity;
};
using FolderPtr = std::shared_ptr<const Folder>;

// One file to check: an entry of an open folder, its place in the walk and whether the
// entry is a link to the file.
struct Job {
    FolderPtr folder;
    std::string name;
    uint64_t order = 0;
    bool viaLink = false;
};

// A file that carries a signature, at its real location.
struct Finding {
    uint64_t order = 0;
    std::string virusName;
    std::string filePath;
    std::string dirPath;
    std::optional<hvn::FileIdentity> foundIn;
};

struct IdentityHash {
    size_t operator()(const hvn::FileIdentity& id) const {
        return std::hash<uint64_t>()(id.inode * 0x9e3779b97f4a7c15ULL ^ id.device);
    }
};

std::string joinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::optional<std::string> realPathOf(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return std::nullopt;
    std::string out(real);
    std::free(real);
    return out;
}

hvn::FileIdentity identityOf(const struct ::stat& st) {
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// The kernel's pseudo file systems: their files are views of the kernel, not user files,
// and reading some of them blocks or acts.
bool isPseudoFileSystem(int fd) {
    struct ::statfs fs;
    if (::fstatfs(fd, &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case PROC_SUPER_MAGIC:
        case SYSFS_MAGIC:
        case DEBUGFS_MAGIC:
        case TRACEFS_MAGIC:
        case SECURITYFS_MAGIC:
        case CGROUP_SUPER_MAGIC:
        case CGROUP2_SUPER_MAGIC:
        case PSTOREFS_MAGIC:
        case BPF_FS_MAGIC:
        case DEVPTS_SUPER_MAGIC:
        case BINFMTFS_MAGIC:
        case EFIVARFS_MAGIC:
        case 0x62656570:  // configfs
        case 0x65735543:  // fusectl
            return true;
        default:
            return false;
    }
}

// Asks the library about one file; a finding when it carries a signature.
std::optional<Finding> checkFile(VirusManager& manager, const Job& job) {
    // A link is followed to what it names; a plain entry of the listing is a regular file.
    std::optional<std::string> answer = job.viaLink ? manager.checkPreparedAt(job.folder->fd, job.name)
                                                    : manager.checkPreparedFileAt(job.folder->fd, job.name);
    if (!answer || answer->empty() || *answer == kDirectoryAnswer) return std::nullopt;
    Finding f;
    f.order = job.order;
    f.virusName = std::move(*answer);
    if (!job.viaLink) {
        f.filePath = joinPath(job.folder->path, job.name);
        f.dirPath = job.folder->path;
        f.foundIn = job.folder->identity;
        return f;
    }
    std::optional<std::string> real = realPathOf(joinPath(job.folder->path, job.name));
    if (!real) return std::nullopt;  // the link went away meanwhile
    f.filePath = *real;
    f.dirPath = HVNCommonFunction::getDirPathByPath(*real);
    struct ::stat st;
    if (::lstat(f.dirPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) f.foundIn = identityOf(st);
    return f;
}

// Threads that check the walk's files. Batches wait in a bounded queue; a full queue makes
// the walker wait. The threads stop at the next file once dropping is asked for.
class CheckerPool {
public:
    CheckerPool(int threads, VirusManager& manager) : manager_(manager) {
        try {
            for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
        } catch (...) {
            finish(true);
            throw;
        }
    }
    ~CheckerPool() { finish(true); }
    CheckerPool(const CheckerPool&) = delete;
    CheckerPool& operator=(const CheckerPool&) = delete;

    // False when the checks are being dropped (a checker failed): the walk may stop.
    bool submit(std::vector<Job> batch) {
        std::unique_lock<std::mutex> lock(mutex_);
        space_.wait(lock, [this] { return queue_.size() < kQueuedBatches || dropping_; });
        if (dropping_) return false;
        queue_.push_back(std::move(batch));
        ready_.notify_one();
        return true;
    }

    // Lets the threads end (after the queued checks, or at once when `drop`), joins them and
    // passes on an exception one of them raised.
    void finish(bool drop) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
            if (drop) {
                dropping_ = true;
                queue_.clear();
            }
        }
        ready_.notify_all();
        space_.notify_all();
        for (auto& t : workers_) {
            if (t.joinable()) t.join();
        }
        workers_.clear();
    }
    void rethrow() {
        if (failure_) std::rethrow_exception(failure_);
    }

    std::vector<Finding> takeFindings() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::move(findings_);
    }

private:
    void work() {
        std::vector<Finding> found;
        try {
            for (;;) {
                std::vector<Job> batch;
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    ready_.wait(lock, [this] { return !queue_.empty() || closed_; });
                    if (queue_.empty()) break;
                    batch = std::move(queue_.front());
                    queue_.pop_front();
                }
                space_.notify_one();
                for (const Job& job : batch) {
                    if (dropping_.load(std::memory_order_relaxed)) break;
                    if (auto f = checkFile(manager_, job)) found.push_back(std::move(*f));
                }
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!failure_) failure_ = std::current_exception();
            dropping_ = true;
            queue_.clear();
            space_.notify_all();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& f : found) findings_.push_back(std::move(f));
    }

    VirusManager& manager_;
    std::mutex mutex_;
    std::condition_variable ready_, space_;
    std::deque<std::vector<Job>> queue_;
    bool closed_ = false;
    std::atomic<bool> dropping_{false};
    std::exception_ptr failure_;
    std::vector<Finding> findings_;
    std::vector<std::thread> workers_;
};

// The walk over the start folders. Files go to the checker threads, or are checked at once
// when there are none.
class VirusWalk {
public:
    VirusWalk(const hvn::Operation& operation, VirusManager& manager, CheckerPool* pool)
        : operation_(operation), manager_(manager), pool_(pool) {}

    // False when the operation was cancelled during the walk (or the checkers gave up).
    bool run(const std::vector<std::string>& startFolders) {
        for (const std::string& start : startFolders) {
            if (start.empty() || start[0] != '/') continue;
            std::optional<std::string> real = realPathOf(start);
            struct ::stat st;
            if (!real || ::stat(real->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
            if (!visited_.insert(identityOf(st)).second) continue;  // met already
            stack_.push_back(*real);
            while (!stack_.empty()) {
                if (operation_.isCancelled() || abandoned_) return false;
                std::string folder = std::move(stack_.back());
                stack_.pop_back();
                if (!listFolder(folder)) return false;
            }
        }
        flush();
        return !abandoned_;
    }

    std::vector<Finding>& inlineFindings() { return findings_; }

private:
    // Goes through one folder's entries; false when cancelled.
    bool listFolder(const std::string& path) {
        // The folder is opened where it really is: a link put on its path since it was
        // pushed makes it unreadable, never another folder.
        int fd = hvn::openFolderWithoutLinks(path, O_RDONLY);
        if (fd < 0) return true;
        struct ::stat st;
        if (::fstat(fd, &st) != 0 || isPseudoFileSystem(fd)) {
            ::close(fd);
            return true;
        }
        auto folder = std::make_shared<const Folder>(fd, path, identityOf(st));
        alignas(8) static thread_local char buffer[32 * 1024];
        for (;;) {
            long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
            if (n <= 0) break;  // the end, or a folder that cannot be read further
            for (long off = 0; off < n;) {
                auto* d = reinterpret_cast<const struct dirent64*>(buffer + off);
                off += d->d_reclen;
                const char* name = d->d_name;
                if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
                if (operation_.isCancelled() || abandoned_) return false;
                entry(folder, name, d->d_type);
            }
        }
        return true;
    }

    void entry(const FolderPtr& folder, const char* name, unsigned char type) {
        const uint64_t counted = gEntryCounter.fetch_add(1, std::memory_order_relaxed) + 1;
        if (counted % kPathUpdateEvery == 0) {
            hvn::NotificationCenter::defaultCenter().post(kPathUpdateNotification,
                                                          std::any(joinPath(folder->path, name)));
        }
        struct ::stat st;
        if (type == DT_UNKNOWN) {
            if (::fstatat(folder->fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : S_ISLNK(st.st_mode) ? DT_LNK : DT_FIFO;
        }
        switch (type) {
            case DT_REG:
                addFile(folder, name, false);
                return;
            case DT_DIR:
                if (::fstatat(folder->fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
                    visited_.insert(identityOf(st)).second) {
                    stack_.push_back(joinPath(folder->path, name));
                }
                return;
            case DT_LNK:
                // Links are followed: to a folder, which is walked at its real location; to a
                // file, which is checked and reported at its real path.
                if (::fstatat(folder->fd, name, &st, 0) != 0) return;  // dangling
                if (S_ISREG(st.st_mode)) {
                    addFile(folder, name, true);
                } else if (S_ISDIR(st.st_mode) && !visited_.count(identityOf(st))) {
                    std::optional<std::string> real = realPathOf(joinPath(folder->path, name));
                    if (real && visited_.insert(identityOf(st)).second) stack_.push_back(*real);
                }
                return;
            default:
                return;  // pipes, sockets, devices: never read
        }
    }

    void addFile(const FolderPtr& folder, const char* name, bool viaLink) {
        Job job{folder, name, order_++, viaLink};
        if (!pool_) {
            if (auto f = checkFile(manager_, job)) findings_.push_back(std::move(*f));
            return;
        }
        if (batch_.empty() || batch_.back().folder != folder) ++batchFolders_;
        batch_.push_back(std::move(job));
        if (batch_.size() >= kBatchJobs || batchFolders_ >= kBatchFolders) flush();
    }

    void flush() {
        if (!pool_ || batch_.empty()) return;
        if (!pool_->submit(std::move(batch_))) abandoned_ = true;
        batch_.clear();
        batchFolders_ = 0;
    }

    const hvn::Operation& operation_;
    VirusManager& manager_;
    CheckerPool* pool_;
    std::vector<std::string> stack_;
    std::unordered_set<hvn::FileIdentity, IdentityHash> visited_;
    std::vector<Job> batch_;
    size_t batchFolders_ = 0;
    uint64_t order_ = 0;
    bool abandoned_ = false;  // the checker threads gave up
    std::vector<Finding> findings_;
};

// Walk order, and each real path once (where the walk met it first).
std::vector<Finding> inWalkOrder(std::vector<Finding> findings) {
    std::sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) { return a.order < b.order; });
    std::unordered_set<std::string> seen;
    std::vector<Finding> out;
    for (auto& f : findings) {
        if (seen.insert(f.filePath).second) out.push_back(std::move(f));
    }
    return out;
}

int defaultCheckerThreads() {
    unsigned n = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(n, 1u, 4u));
}

}  // namespace

std::vector<std::string> HVNVirusOperation::defaultStartFolders() {
    return {hvn::Roots::home(), hvn::Roots::systemPath("/Applications"), hvn::Roots::homePath("Applications")};
}

uint64_t HVNVirusOperation::pathUpdateCounter() {
    return gEntryCounter.load();
}

void HVNVirusOperation::resetPathUpdateCounter(uint64_t value) {
    gEntryCounter.store(value);
}

void HVNVirusOperation::showLogWithStr(const std::string& text) {
    hvn::Log::writef("%s", text.c_str());
}

void HVNVirusOperation::main() {
    try {
        if (!isCancelled()) startSearchVirus();
    } catch (const std::exception& e) {
        hvn::Log::writef("HVNVirusOperation: scan abandoned: %s", e.what());
    } catch (...) {
        hvn::Log::writef("HVNVirusOperation: scan abandoned");
    }
}

void HVNVirusOperation::startSearchVirus() {
    {
        HVNPathDBManager database(std::string(), virusDatabasePath_);
        virusCodes = database.getAllVirusCodeObj();
    }
    VirusManager manager;
    // The signatures are prepared once for all the files of the scan.
    manager.prepareVirusCodes(virusCodes);
    showLogWithStr("扫描病毒开始...");
    const auto started = std::chrono::steady_clock::now();

    const int threads = checkerThreads_ < 0 ? defaultCheckerThreads() : checkerThreads_;
    std::optional<CheckerPool> pool;
    if (threads > 0) pool.emplace(threads, manager);
    VirusWalk walk(*this, manager, pool ? &*pool : nullptr);
    bool complete = walk.run(startFolders_ ? *startFolders_ : defaultStartFolders());

    std::vector<Finding> findings = std::move(walk.inlineFindings());
    if (pool) {
        // A cancelled scan drops the checks still queued.
        pool->finish(!complete || isCancelled());
        pool->rethrow();
        for (auto& f : pool->takeFindings()) findings.push_back(std::move(f));
    }
    findings = inWalkOrder(std::move(findings));
    // A cancel that came while the last checks ran leaves them unfinished: nothing is handed back.
    if (!complete || isCancelled()) complete = false;

    auto summary = [&] {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        showLogWithStr(hvn::format("发现病毒:%ld个  总共用时:%lf", static_cast<long>(findings.size()), seconds));
    };
    if (!complete) {
        showLogWithStr("终止病毒扫描....");
        summary();
        virusCodes.clear();
        return;
    }

    HVNNodeList results;
    results.reserve(findings.size());
    for (const Finding& f : findings) {
        auto node = HVNScaneOuputObject::create();
        node->setName(f.virusName);
        node->setFilePath(f.filePath);
        node->setDirPath(f.dirPath);
        node->foundIn = f.foundIn;
        node->fileSize = HVNCommonFunction::getFileSizeByPath(f.filePath);
        node->icon = hvn::BundleInfo::iconPath(f.filePath);
        node->virusName = f.virusName;
        node->isCheck = 1;
        node->moulde = kModule;
        results.push_back(std::move(node));
    }
    summary();
    virusCodes.clear();
    if (delegate) delegate->finishScan(std::move(results), kModule);
}
