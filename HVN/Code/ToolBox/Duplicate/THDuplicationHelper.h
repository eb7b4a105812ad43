// The duplicate finder's engine: looks through the search folders for files (and packages)
// of identical content and reports each set of identical items as a group.
//
// Candidates come from a walk of the search folders (or, when usesMetadataQuery is set, from
// the platform's metadata query, walking the folders when it cannot run). They are grouped
// first by exact size: the first item of a size is only remembered, never read. Once a
// second item of that size turns up, both get a lazy fingerprint (at most three 4096-byte
// samples, THWebUtility::lazyQuickHashFile, or a package's member listing), and items
// of equal fingerprint are then compared whole (byte for byte; packages by the digest of
// their whole contents; files of at most 8 KiB, which the samples cover whole, by the
// SHA-256 of the content read in that one pass), so a group holds only items of exactly
// equal content. Hard links to
// one file (same device and inode) count as one file, the first path met standing for it;
// empty files are never candidates. Symbolic links are never followed, other file systems
// mounted below a search folder are not entered, unreadable folders and files that vanish
// are skipped with a log line.
//
// At most kFilesHashedAtOnce files are read at once, on the engine's own worker threads. The
// grouping map is guarded by the engine's lock; the work on one size and on one fingerprint
// by the named locks of THLock (the size's decimal text first, then the fingerprint).
//
// Results: "THDuplicationNotification" (object: the engine, as const THDuplicationHelper*)
// with the group's size, its hash (the SHA-256 of the content, lower-case hex; for a package
// the digest of its whole contents) and a copy of its path list, posted each time a group
// reaches two members or grows (the receiver replaces the earlier report of the same hash);
// after the search one last "THDuplicationNotification" whose userInfo holds only
// "THDuplicationFinished" = true. All of them are posted, in order, on notificationQueue (the
// main run loop when it is null). The metadata query also posts
// "kTHDuplicationProgressNotification" {"path"} for each result it handles, on the query's
// thread; the walk posts none: samplers read scannedFileCount() and currentPath().
//
// Threads: configure, start, stop and wait from one thread (the owner); the search runs on
// a thread of its own. Destroying the engine stops the search and waits for it.
#pragma once

#include <sys/types.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Platform/OperationQueue.h"
#include "Platform/Value.h"

namespace hvn {
class MetadataQuery;
}

inline constexpr const char* kTHDuplicationNotification = "THDuplicationNotification";
inline constexpr const char* kTHDuplicationProgressNotification = "kTHDuplicationProgressNotification";
inline constexpr const char* kTHDuplicationFileSize = "THDuplicationFileSize";
inline constexpr const char* kTHDuplicationFileHash = "THDuplicationFileHash";
inline constexpr const char* kTHDuplicationFileList = "THDuplicationFileList";
inline constexpr const char* kTHDuplicationFinished = "THDuplicationFinished";

class THDuplicationHelper {
public:
    static constexpr int kFilesHashedAtOnce = 5;
    // The smallest size a candidate can have, whatever minFileSize says.
    static constexpr uint64_t kSmallestCandidate = 1000;

    THDuplicationHelper();
    ~THDuplicationHelper();
    THDuplicationHelper(const THDuplicationHelper&) = delete;
    THDuplicationHelper& operator=(const THDuplicationHelper&) = delete;

    // --- Configuration: set before startSearch, never while searching. ---
    std::vector<std::string> searchPaths;
    // Folders below these path prefixes are not entered.
    std::vector<std::string> filterFilePaths;
    // When set, only items whose extension (the text after the last ".", "" when none) it
    // accepts are candidates.
    std::function<bool(const std::string& extension)> extensionsPredicate;
    uint64_t minFileSize = 0;
    // 0, or anything not above max(minFileSize, 1000): no upper limit.
    uint64_t maxFileSize = 0;
    // Packages are single items whose contents are not searched.
    bool filterPackage = false;
    // Where the result notifications are posted; null: the main run loop.
    std::shared_ptr<hvn::OperationQueue> notificationQueue;
    // The walk leaves out entries whose names begin with "." (names beginning with "__MACOSX"
    // are always left out).
    bool skipsHiddenItems = true;
    // Ask the metadata query first. This platform has no metadata index (its query is a walk
    // of its own), so the engine walks by default.
    bool usesMetadataQuery = false;

    // --- Running ---
    bool searching() const { return searching_.load(); }
    // Starts a search on a background thread and returns at once; does nothing while one runs.
    void startSearch();
    // Asks the running search to stop: the walk ends before its next entry, comparisons in
    // progress end at their next block, queued files are dropped. The groups confirmed so far
    // stay reported and the final notification follows.
    void stopSearch();
    // Blocks until the running search (if any) has ended and queued its final notification.
    void waitUntilFinished();
    // True when the last search ended on a stop request.
    bool wasStopped() const { return stopped_.load(); }

    // Progress counters, readable from any thread while a search runs.
    uint64_t scannedFileCount() const { return scanned_.load(std::memory_order_relaxed); }
    uint64_t hashedFileCount() const { return hashed_.load(std::memory_order_relaxed); }
    std::string currentPath() const;

    // --- The steps of a search (public for tests and for callers that drive them). ---
    // The whole search on the calling thread: the search list, the query or the walk, the
    // wait for the files in the hashing stage, the final notification.
    void searchStart();
    // Runs the metadata query over the paths; false when the list is empty or the query could
    // not be run.
    bool searchByQuery(const std::vector<std::string>& paths);
    // Walks the paths: folders through searth(path, true), regular files through
    // searth(path, false); anything else is skipped with a log line.
    void searchByEnum(const std::vector<std::string>& paths);
    // Walks one folder (isDirectory) or hands one file to the hashing stage.
    void searth(const std::string& path, bool isDirectory);
    // The candidate test: *size gets the item's size (THFileUtility::fileSizeByPath); true when
    // it is at least max(minFileSize, 1000), within maxFileSize, its name's last "."-separated
    // part is neither "dylib" nor "emlxpart" and extensionsPredicate (if set) accepts it.
    bool fileValid(const std::string& path, uint64_t* size);
    // False when the folder lies below one of filterFilePaths, or is a package and
    // filterPackage is set.
    bool directoryValid(const std::string& path) const;
    // The folder's entries that the walk visits, sorted by byte value, as full paths.
    std::vector<std::string> directorySubPath(const std::string& path) const;
    // Hands one item to the grouping (the candidate test first) and waits for it to be
    // grouped; the caller's thread does the work.
    void fileDispose(const std::string& path);
    // Posts one group notification on notificationQueue.
    void postNotificationSize(uint64_t size, const std::string& hash,
                              const std::vector<std::string>& fileList);

    // The metadata query's predicate text for the size limits.
    static std::string queryText(uint64_t minFileSize, uint64_t maxFileSize);
    // True for names with two or more "."-separated parts whose last begins with "app"
    // (application bundles, never searched).
    static bool isApplicationName(const std::string& name);

private:
    struct Candidate {
        std::string path;
        uint64_t size = 0;
        bool isPackage = false;
    };
    // Items of equal content: the first path stands for the group in comparisons.
    struct ContentGroup {
        std::vector<std::string> paths;
        bool isPackage = false;
        std::optional<std::string> digest;
    };
    struct Bucket {
        std::vector<ContentGroup> groups;
    };
    // A fingerprint's bytes (at most those of a SHA-256), kept in the map's node itself.
    struct Fingerprint {
        std::array<uint8_t, 32> bytes{};
        uint8_t length = 0;
        bool operator==(const Fingerprint&) const = default;
        // nullopt for text that is not an even number of at most 64 hex digits.
        static std::optional<Fingerprint> fromHex(const std::string& hex);
    };
    struct FingerprintHash {
        size_t operator()(const Fingerprint& f) const noexcept;
    };
    struct SizeEntry {
        std::optional<Candidate> single;  // the only item of the size so far, not read yet
        // Buckets live in the map's nodes, which stay put while others are added (nothing
        // is erased during a search), so a bucket is worked on outside the engine's lock.
        std::unordered_map<Fingerprint, Bucket, FingerprintHash> byHash;
    };

    bool stopRequested() const { return stop_.load(std::memory_order_relaxed); }
    void resetState();
    void walkFolder(const std::string& path);
    // The candidate test and the grouping of one item found by the walk or the query.
    void hand(const std::string& path, uint64_t size, bool isPackage, dev_t device, ino_t inode);
    bool sizeAccepted(const std::string& path, uint64_t size) const;
    void hashCandidate(const Candidate& c);
    void confirm(Bucket& bucket, const Candidate& c, const std::string& fingerprint);
    void handleQueryResults(hvn::MetadataQuery& query, size_t count);
    void post(hvn::Dictionary userInfo);

    void startWorkers();
    void stopWorkers();
    void workerLoop();

    std::atomic<bool> searching_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> stopped_{false};
    std::atomic<bool> queryDone_{false};
    std::atomic<uint64_t> scanned_{0};
    std::atomic<uint64_t> hashed_{0};
    size_t handledResults_ = 0;
    std::thread thread_;

    mutable std::mutex pathMutex_;
    std::string currentPath_;

    // The grouping map `fileInfo` and the identities already handed on.
    std::mutex mapMutex_;
    std::unordered_map<uint64_t, SizeEntry> fileInfo_;
    std::set<std::pair<uint64_t, uint64_t>> seenIdentities_;

    // The hashing stage: queued candidates and the workers that read them.
    std::mutex queueMutex_;
    std::condition_variable queueNotEmpty_;
    std::condition_variable queueNotFull_;
    std::deque<Candidate> queue_;
    bool queueClosed_ = true;
    int idleWorkers_ = 0;
    bool walkerWaiting_ = false;
    std::vector<std::thread> workers_;
};
