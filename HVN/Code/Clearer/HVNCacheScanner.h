// The scan task queue of one category (System, Disk or Internet Security): it runs the
// category's scan operations in parallel on its own operation queue and keeps each
// operation's result list under its module identifier.
//
// A run: tasks are added (addFileScanTask, addOperation), start() takes them and begins a
// waiting thread that hands them to the operation queue and waits until every one has
// ended, normally or cancelled; then "SCAN_FINISH_NOTFICATION" is posted once on the main
// run loop (object none). Results arrive through finishScan on the operations' threads and
// are serialised by the queue's lock. stop() cancels every operation of the running and
// queued runs; the run still ends with its one notification, and the modules that had
// reported keep their lists.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "HVN/Code/Clearer/HVNScanInputObject.h"
#include "HVN/Code/Clearer/HVNScanResultDelegate.h"
#include "Platform/OperationQueue.h"
#include "Platform/Value.h"

inline constexpr const char* kScanFinishNotification = "SCAN_FINISH_NOTFICATION";
inline constexpr const char* kDiskCheckNotification = "diskCheck";

class HVNCacheScanner : public HVNScanResultDelegate {
public:
    using ResultMap = std::map<int32_t, HVNNodeList>;

    explicit HVNCacheScanner(bool isDisc = false);
    // Cancels what still runs and waits for the waiting threads; the finish notifications
    // they post may still arrive on the main loop afterwards (they touch nothing here).
    ~HVNCacheScanner() override;
    HVNCacheScanner(const HVNCacheScanner&) = delete;
    HVNCacheScanner& operator=(const HVNCacheScanner&) = delete;

    // --- Tasks (any thread; taken by the next start()) ---
    // A path-rule file scan of the requests, reporting the given module.
    void addFileScanTask(std::vector<HVNScanInputObjectPtr> requests, int32_t module);
    // Any scan operation; it reports to this queue (delegate()) through finishScan.
    void addOperation(std::shared_ptr<hvn::Operation> operation);
    HVNScanResultDelegate* delegate() { return this; }
    // Number of tasks added since the last start().
    size_t pendingTaskCount() const;

    // --- Runs ---
    // Begins a run of the tasks added so far (also of none): clears finishTask and the
    // results, and starts the waiting thread. A run that is still going is stopped first,
    // and every earlier run is waited for, so that none of their operations can report into
    // the new run's results (the stopped run still posts its own finish notification).
    void start();
    // Cancels every operation of the queue (queued, running, and those of a run whose
    // thread has not handed them over yet). Any thread.
    void stop();
    // True from start() until the run's waiting thread has ended (before the main loop
    // has delivered the notification).
    bool isRunning() const { return runningRuns_.load() > 0; }

    // --- Results ---
    // Stores a result list under its module (the trash list regrouped per trash first);
    // nodes that carry no module yet are marked with it.
    // Called by the operations on their threads; serialised by the queue's lock.
    void finishScan(HVNNodeList results, int32_t moudle) override;
    // The list of a module, or nullopt when the module has not reported. The nodes are
    // shared with the queue.
    std::optional<HVNNodeList> resultFor(int32_t module) const;
    // The modules that reported, in identifier order.
    std::vector<int32_t> modules() const;
    // True when at least one module reported (an empty list counts).
    bool hasData() const;
    // True when at least one module list is not empty.
    bool hasNonEmptyList() const;
    // Run fn with the result map under the queue's lock (for short reads and edits; fn
    // must not call back into this queue). The clean thread edits lists this way.
    void editData(const std::function<void(ResultMap&)>& fn);
    void readData(const std::function<void(const ResultMap&)>& fn) const;
    // Replaces all results (tests, restoring a state).
    void setData(ResultMap data);

    // The language table of the language scan: the bundle's resource "Language" of type
    // "plist", read on first use (an unreadable table is empty). Any thread.
    hvn::Dictionary languageInfos();

    // --- State of the current run ---
    const bool isDisc;
    std::atomic<uint64_t> taskCount{0};   // tasks of the running start
    std::atomic<uint64_t> finishTask{0};  // tasks that reported (counted in the disk queue only)
    // A disk verify task is among the tasks: "diskCheck" is posted when it is the last
    // one still running. Cleared at the end of each run.
    std::atomic<bool> sendNotfication{false};

private:
    struct Run {
        std::vector<std::shared_ptr<hvn::Operation>> operations;
        std::thread thread;
        std::atomic<bool> done{false};
        std::atomic<bool> stopped{false};
    };
    void runTasks(Run& run);
    // Cancels the operations of every run that has not ended.
    void stopRuns();
    // Joins the waiting threads of the runs `which` selects and forgets those runs.
    void joinRunsWhere(const std::function<bool(const Run&)>& which);

    hvn::OperationQueue queue_;
    mutable std::mutex lock_;                                  // the results and the task lists
    std::vector<std::shared_ptr<hvn::Operation>> operations_;  // added since the last start
    ResultMap data_;
    std::once_flag languageOnce_;
    hvn::Dictionary languageInfos_;
    std::mutex runsMutex_;
    std::vector<std::unique_ptr<Run>> runs_;
    std::atomic<int> runningRuns_{0};
};
