// The query engine of the large-and-old-files tool: one metadata query per folder for the
// files larger than a byte threshold (Platform/MetadataQuery.h), turned into result
// entries, kept per folder and for the whole run.
//
// A folder entry (a result node) names the folder by its filePath. A result entry has
// name = kMDItemFSName, fileSize = kMDItemFSSize, filePath = kMDItemPath, icon = the path,
// isDir = false, accessDate = kMDItemFSContentChangeDate, firstNameword = the first
// character of the name upper-cased, isCheck = 0, foundIn = its folder; what the file was
// when listed is noted for the removal (HVNLargeFileRemoval). Items whose bundle identifier
// begins with "com.apple" and items without a path are never entries.
//
// Threads: every member is used on the main thread (the run loop of Platform/RunLoop.h).
// The query gathers on its own thread; its progress and its end come back to the main
// thread as queryDidProgeress and queryDidFinish. The delegate hears of the end of a folder
// (didEndScanObj) and of a stop (cancelScan) later, as separate tasks on the main loop,
// never from inside the call that caused them.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "HVN/Code/Clearer/HVNScaneOuputObject.h"
#include "Platform/MetadataQuery.h"
#include "Platform/Value.h"

// "updateLargeAndOldFilePath": posted while a folder is scanned. The object is a
// HVNLargeAndOldPathUpdate holding one pair: folder entry -> path of the file the query
// reported last. userInfo is null.
inline constexpr const char* kUpdateLargeAndOldFilePathNotification = "updateLargeAndOldFilePath";
using HVNLargeAndOldPathUpdate = std::map<HVNScaneOuputObjectPtr, std::string>;

// What the scanner tells its page. Every operation is optional (does nothing by default).
class HVNLargeAndOldFileScannerDelegate {
public:
    virtual ~HVNLargeAndOldFileScannerDelegate() = default;
    // The query of the current folder has finished gathering.
    virtual void resetProgressSpeed() {}
    // One folder is done.
    virtual void didEndScanObj(const HVNScaneOuputObjectPtr& folder) {}
    // The run was stopped while this folder (or none) was the current one.
    virtual void cancelScan(const HVNScaneOuputObjectPtr& folder) {}
};

class HVNLargeAndOldFileScanner {
public:
    // The page always searches for files larger than this.
    static constexpr int64_t kDefaultLimitSize = 50000000;

    HVNLargeAndOldFileScanner();
    // Stops a running query (waiting for its thread); callbacks still queued are dropped.
    ~HVNLargeAndOldFileScanner();
    HVNLargeAndOldFileScanner(const HVNLargeAndOldFileScanner&) = delete;
    HVNLargeAndOldFileScanner& operator=(const HVNLargeAndOldFileScanner&) = delete;

    // Every result entry of the current run, in arrival order.
    HVNNodeList scanOutObjs;
    // Folder entry -> that folder's result entries.
    std::map<HVNScaneOuputObjectPtr, HVNNodeList> outdataInfo;
    // Set by the page to stop the run (read by the query's progress).
    std::atomic<bool> cancel{false};
    // The byte threshold of the query (strictly greater).
    int64_t limitSize = kDefaultLimitSize;
    HVNScaneOuputObjectPtr curScanobj;
    std::unique_ptr<hvn::MetadataQuery> query;
    HVNLargeAndOldFileScannerDelegate* delegate = nullptr;  // not owned
    // The summed size of the current folder's results so far; 0 at each start.
    std::atomic<int64_t> scanSize{0};

    // Stores the threshold, resets scanSize, makes folder the current one and queues
    // queryFiles(folder) on the main loop (returns at once).
    void startScanObj(const HVNScaneOuputObjectPtr& folder, int64_t limitSize);
    // Starts the query "kMDItemFSSize > limitSize" over the folder's path. A folder that
    // does not exist or cannot be read gives no results and ends all the same.
    void queryFiles(const HVNScaneOuputObjectPtr& folder);
    // The query's progress: posts "updateLargeAndOldFilePath" with the last result's path;
    // when cancel is set, stops the query and keeps what it gathered as the folder's list.
    void queryDidProgeress();
    // The end of gathering: the results become the folder's list (replacing an earlier one)
    // and are appended to scanOutObjs; the delegate gets resetProgressSpeed at once and
    // didEndScanObj(folder) as a task of its own.
    void queryDidFinish();
    // Stops the run: what the query gathered so far becomes the folder's list, the query is
    // stopped, and the delegate gets cancelScan(curScanobj) as a task of its own.
    void cancelScan();
    // Removes each given entry from scanOutObjs and from every folder's list.
    void cleanupObjs(const HVNNodeList& entries);
    // Empties scanOutObjs and outdataInfo and forgets the current folder (a reset).
    void clearResults();

    // "Opened more than %ld <unit> ago" for the first non-zero unit of the calendar
    // difference (years, months, weeks, days, hours, minutes, seconds; local time) from the
    // entry's accessDate to now; "" under one second, in the future or without a date.
    static std::string fileModifyDateDescription(const HVNScaneOuputObject& entry);
    static std::string fileModifyDateDescription(const HVNScaneOuputObject& entry, hvn::Date now);

    // The result entry of one query result; null for a result that is skipped (no path, a
    // bundle identifier beginning with "com.apple").
    static HVNScaneOuputObjectPtr resultEntry(const hvn::MetadataItem& item);

private:
    // Turns the query's results so far into the current folder's list, once per query.
    void collectResults();
    // Posts fn to the main loop, dropped when this scanner or this query is gone by then.
    void onMainLoop(uint64_t generation, std::function<void()> fn);

    uint64_t generation_ = 0;                      // of the current query
    bool collected_ = false;                       // the current query's results are in the lists
    std::shared_ptr<std::atomic<uint64_t>> live_;  // the generation callbacks may still reach
};
