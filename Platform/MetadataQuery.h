// Metadata queries: the platform's file metadata search, done as a fast walk of the search
// scopes. Every item below a scope (the scope folder itself excepted) is tested against
// the predicate; the items that satisfy it are the results, each with the attributes the
// index would report:
//
//   kMDItemFSName               the file name
//   kMDItemDisplayName          the file name; for an application bundle without ".app"
//   kMDItemPath                 the full path
//   kMDItemFSSize               a file's (or symbolic link's) size in bytes; for a package
//                               (a bundle folder such as X.app) the summed sizes of the files
//                               and links inside it; absent for a plain folder
//   kMDItemFSContentChangeDate  the modification time (also kMDItemContentModificationDate)
//   kMDItemContentType          the uniform type (Platform/UniformType.h), and
//   kMDItemContentTypeTree      the type with every type it conforms to
//   kMDItemCFBundleIdentifier   for a package: CFBundleIdentifier of its Contents/Info.plist
//   kMDItemVersion              (or Info.plist at its top), and CFBundleShortVersionString;
//                               absent when there is no readable information dictionary
//   kMDItemLastUsedDate         for a package with an executable (Contents/MacOS/
//                               CFBundleExecutable): that file's access time
//
// The walk goes depth-first, into packages too (an application inside another bundle is
// found), never follows symbolic links, stays on the file system of each scope, and skips
// what it cannot read. Scopes that do not exist give nothing; an item found through two
// scopes is reported once. Folders are tested after their contents (their package size is
// known only then).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "Platform/MetadataPredicate.h"
#include "Platform/Value.h"

namespace hvn {

inline constexpr const char* kMDItemFSName = "kMDItemFSName";
inline constexpr const char* kMDItemDisplayName = "kMDItemDisplayName";
inline constexpr const char* kMDItemPath = "kMDItemPath";
inline constexpr const char* kMDItemFSSize = "kMDItemFSSize";
inline constexpr const char* kMDItemFSContentChangeDate = "kMDItemFSContentChangeDate";
inline constexpr const char* kMDItemContentModificationDate = "kMDItemContentModificationDate";
inline constexpr const char* kMDItemContentType = "kMDItemContentType";
inline constexpr const char* kMDItemContentTypeTree = "kMDItemContentTypeTree";
inline constexpr const char* kMDItemCFBundleIdentifier = "kMDItemCFBundleIdentifier";
inline constexpr const char* kMDItemVersion = "kMDItemVersion";
inline constexpr const char* kMDItemLastUsedDate = "kMDItemLastUsedDate";

// One result: the attributes of one item.
class MetadataItem {
public:
    MetadataItem() = default;
    explicit MetadataItem(Dictionary attributes) : attributes_(std::move(attributes)) {}

    // The attribute's value; null when the item has none.
    const Value& valueForAttribute(const std::string& name) const;
    const Dictionary& attributes() const { return attributes_; }
    // kMDItemPath, "" when absent.
    const std::string& path() const;

private:
    Dictionary attributes_;
};

class MetadataQuery {
public:
    // Called on the query's gathering thread with the number of results so far, after new
    // results arrived (the first at once, then at most about ten times a second), and once
    // more before the finish handler when results came in since the last call.
    using ProgressHandler = std::function<void(size_t resultCount)>;
    // Called once on the gathering thread when the walk has gone through every scope. Not
    // called when the query was stopped first.
    using FinishHandler = std::function<void(size_t resultCount)>;

    MetadataQuery() = default;
    // Stops the query and waits for the gathering thread to end.
    ~MetadataQuery();
    MetadataQuery(const MetadataQuery&) = delete;
    MetadataQuery& operator=(const MetadataQuery&) = delete;

    // Configuration; only before startQuery(). The default predicate is TRUEPREDICATE,
    // the default scope list empty (no results).
    bool setPredicateFormat(const std::string& text, std::string* error = nullptr);
    void setPredicate(MetadataPredicate predicate);
    void setSearchScopes(std::vector<std::string> scopes);
    void setProgressHandler(ProgressHandler handler);
    void setFinishHandler(FinishHandler handler);

    // Starts gathering on a background thread and returns at once. A query runs once:
    // false when it was started before or the thread could not be created.
    bool startQuery();
    // Ends gathering as soon as the walk sees the request (before the next item); the
    // results gathered so far stay readable. Any thread, handlers included.
    void stopQuery();
    bool isStarted() const { return started_.load(); }
    bool isGathering() const { return gathering_.load(); }
    bool isStopped() const { return stopRequested_.load(); }
    // Blocks until gathering has ended (finished or stopped) and the finish handler has
    // returned. Returns at once when never started or when called from a handler.
    void waitUntilFinished();

    // Results so far; safe from any thread while gathering goes on.
    size_t resultCount() const;
    std::optional<MetadataItem> resultAtIndex(size_t index) const;
    std::vector<MetadataItem> results() const;
    // Number of items looked at so far (a progress counter for samplers).
    uint64_t visitedCount() const { return visited_.load(std::memory_order_relaxed); }

    // The attributes of one item as a result would carry them; nullopt when the path does
    // not exist. A package's size is summed on the calling thread.
    static std::optional<MetadataItem> itemForPath(const std::string& path);

    // Runs a whole query on the calling thread; stops early when *stop becomes true.
    static std::vector<MetadataItem> search(const MetadataPredicate& predicate,
                                            const std::vector<std::string>& scopes,
                                            const std::atomic<bool>* stop = nullptr);

private:
    void gather();

    MetadataPredicate predicate_;
    std::vector<std::string> scopes_;
    ProgressHandler progress_;
    FinishHandler finish_;

    std::atomic<bool> started_{false};
    std::atomic<bool> gathering_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<uint64_t> visited_{0};
    std::thread thread_;
    std::thread::id threadId_;
    std::mutex joinMutex_;

    mutable std::mutex resultsMutex_;
    std::vector<MetadataItem> results_;
    std::unordered_set<std::string> resultPaths_;
};

}  // namespace hvn
