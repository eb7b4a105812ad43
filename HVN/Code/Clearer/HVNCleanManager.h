// The engine behind one-click care. It divides what it finds into three categories
// (System, Disk, Internet Security), owns one scan task queue per category, answers the
// screens' questions about counts, sizes and selection, ticks whole categories, and
// cleans: it removes the ticked entries in-process by the rule of each module
// (HVNCleanRules), hands what it could not remove to the privileged removal in one batch,
// and prunes the cleaned entries from the lists. The clean-rule lists are read once, when
// the manager is made, from the clean-path database.
//
// Threads: the scans are started from any thread (one-click care starts them on a
// background thread) and end with "SCAN_FINISH_NOTFICATION" on the main run loop. The
// aggregates and the tick setters belong to the main thread; the selected-file counts are
// also called by the clean thread, and every count keeps its own counter. One clean runs at
// a time on a background thread; clearStop may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNCacheScanner.h"
#include "HVN/Code/Clearer/HVNCleanRules.h"
#include "HVN/Code/Clearer/HVNModuleInfo.h"
#include "HVN/Code/Clearer/HVNScanInputObject.h"
#include "Platform/NotificationCenter.h"

class HVNPathDBManager;
class HVNPathData;
class HVNWhiteListVC;

inline constexpr const char* kCookieBrowserRunNotification = "cookie_browser_run_notification";
inline constexpr const char* kCleanInternetVirusFinishNotification =
    "clean_internet_virus_finish_notification";
inline constexpr const char* kCleanSystemFinishNotification = "clean_system_finish_notification";

class HVNCleanManager {
public:
    // The one manager of the program, made on first call (which reads the rule lists and
    // waits for the application search) and never released.
    static HVNCleanManager& shareHVNCLean();

    // A manager of its own (tests, tools): runs the same start-up. The services default to
    // the program's removal and settings.
    explicit HVNCleanManager(HVNCleanServices services = HVNCleanServices::standard());
    ~HVNCleanManager();
    HVNCleanManager(const HVNCleanManager&) = delete;
    HVNCleanManager& operator=(const HVNCleanManager&) = delete;

    // Limits the scans to the modules it accepts, on top of the settings (the command
    // line's --only/--skip); empty accepts every module. Set it before starting a scan,
    // from the thread that starts the scans.
    std::function<bool(int32_t module)> moduleFilter;

    // --- Scans (any thread) ---
    // Queue the category's tasks for every enabled module and start its queue.
    void scanSystemFile();
    void scanDiskFile();
    void scanViurs();
    // Cancel the category's queue; the run still ends with its notification.
    void stopSystemScan();
    void stopDiskScan();
    void stopInternetVirusScan();

    // --- Results ---
    std::optional<HVNNodeList> scanSystemResultArray(int32_t module) const;
    std::optional<HVNNodeList> scanDiskResultArray(int32_t module) const;
    std::optional<HVNNodeList> scanInternetVirusResultArray(int32_t module) const;
    // The category's queue has at least one module list.
    bool systemFile() const;
    bool diskFile() const;
    bool internetVirusFile() const;
    // At least one module list of the category is not empty.
    bool hasSystemData() const;
    bool hasDiscData() const;
    bool hasInternetVirusIssue() const;

    // --- Counts and sizes (a leaf is a top node without children or a child of a top
    // node; ticked means isCheck is not 0) ---
    int64_t hasSystemIssue() const;          // top nodes
    int64_t hasSystemIssueSelected() const;  // ticked top nodes
    int64_t allSystemFileSelected() const;   // ticked leaves
    int64_t allSystemSize() const;           // size of the top nodes
    int64_t allSystemSizeSelected() const;   // size of the ticked top nodes
    // Disk: module 19 counts by its last node's issueCount.
    int64_t hasDiskIssue() const;
    int64_t hasDiskIssueSelected() const;
    // Ticked leaves, a child with removePaths counting its paths; 3,000,000 for a ticked
    // disk-check node (no pause before such a clean).
    int64_t allDiskFile() const;
    int64_t allDiskSize() const;
    int64_t allDiskSizeSelected() const;
    int64_t allInternetVirusSize() const;               // size of the ticked leaves
    int64_t internetVirusIssueFileCnt() const;          // leaves of every top node
    int64_t internetVirusIssueFileCntSelected() const;  // ticked leaves of every top node

    // --- Ticking (main thread): every top node and every child takes the state ---
    void setSystemCheck(bool check);
    void setDiskCheck(bool check);
    void setInternetVirusCheck(bool check);

    // --- Cleaning (the clean thread) ---
    // Per category: in-process removal, then the failures in one privileged batch (with
    // the shredding setting) and, when that succeeds, pruning. Nothing is handed on after
    // a stop request.
    void clearSystemFile();
    void clearDiskFile();
    void clearInternetVirusFile();
    // The selected categories in the order Internet Security, System, Disk, with
    // "clean_internet_virus_finish_notification" and "clean_system_finish_notification"
    // on the main loop when another part follows; one privileged batch at the end, then,
    // with Disk, the repair of a ticked disk-check finding (as clearDiskFile does).
    void clearInternetVirus(bool isCleanInternetVirus, bool isCleanSytem, bool isCleanDisk,
                            bool isCleanPerformanceBoost);
    // Stops a running clean between nodes and the privileged removal. Any thread. A stop
    // that comes after "CLEAN_BEGIN_NOTFICATION" but before the clean thread has started is
    // kept: the clean then stops at once (the clean resets the request itself only when it
    // is called without that notification).
    void clearStop();
    // The in-process parts; each returns the paths it could not remove (and may hand on).
    std::vector<std::string> clearSystemInApp();
    std::vector<std::string> clearDiscInApp();
    std::vector<std::string> cleanInternetVirusInApp();
    // The pruning parts: the ticked entries leave the lists, no file is touched; entries
    // the last clean reported as not removed stay.
    void clearSystemObject();
    void clearDiscObject();
    void clearInternetVirusObject();
    // What the last clean left in place: path -> reason (refused by the removal gate, or
    // failed in-process and by the privileged route). Reset when a clean starts; any thread.
    std::map<std::string, std::string> lastCleanNotRemoved() const;

    // The display names of the running browsers ("Safari", "Firefox", "Chrome", "Opera"),
    // one per running instance, in the order of the running-application list.
    static std::vector<std::string> hasBrowserRun();

    // --- The task queues ---
    std::unique_ptr<HVNCacheScanner> scanSystem;
    std::unique_ptr<HVNCacheScanner> scanDisk;
    std::unique_ptr<HVNCacheScanner> scanInternetVirus;
    HVNCacheScanner& queueOf(HVNCleanCategory category) const;

    // --- Rule lists, read at start-up ---
    std::unique_ptr<HVNPathDBManager> dbManager;
    std::vector<HVNScanInputObjectPtr> systemCacheArray, userCacheArray, systemLogArray, userLogArray,
        iPhotoCache, IOSPhotoArray, IOSSoftwareArray, userDownloadArray, LoginItemsArray, PreferencesArray;
    std::vector<std::shared_ptr<HVNPathData>> browserArray;
    std::vector<HVNScanInputObjectPtr> browserCache, browserCookie, browserHistory, browserSession;
    std::vector<std::string> allAppPath;
    std::string iPhoto;
    // The cookie white list's object, used to delete cookies (module 4).
    std::unique_ptr<HVNWhiteListVC> cookie;

    // --- State (set by the care screens; atomic because the scan start and the clean
    // run on background threads) ---
    std::atomic<bool> stopClear{false};
    std::atomic<bool> isFixing{false};
    std::atomic<int64_t> systemCheckBoxStatus{-1}, diskCheckBoxStatus{-1}, internetVirusCheckBoxStatus{0};
    std::atomic<bool> isSystemCheckBoxStatusChanged{false}, isDiskCheckBoxStatusChanged{false},
        isInternetVirusCheckBoxStatusChanged{false};
    std::atomic<bool> shouldCategoryViewRefresh{false};
    std::atomic<bool> hasScanSystem{false}, hasScanDisc{false}, hasScanInternetVirus{false};
    std::atomic<bool> hasClearSystem{true}, hasClearDisc{true}, hasClearInternetVirus{true};
    std::atomic<bool> isSystemCleanDone{false}, isDiskCleanDone{false}, isInternetVirusCleanDone{false};
    std::atomic<bool> hasDickCheckIssue{false};
    std::atomic<bool> isDetailResultViewInFocus{false};

    // One step of a category's queuing: the module and how its task is queued. A module
    // is queued when its settings item is enabled (always, for Internet Security).
    struct ScanStep {
        int32_t module;
        std::function<void(HVNCacheScanner&)> enqueue;
    };
    // The steps of a category, in queuing order (the modules whose scanners exist).
    const std::vector<ScanStep>& scanStepsOf(HVNCleanCategory category) const;

private:
    void readRuleLists();
    void splitBrowserRules();
    void buildScanSteps();
    void queueCategory(HVNCleanCategory category);
    // In-process removal of one category: the modules in key order, by their rules.
    // Returns false when a stop request ended it.
    bool cleanCategoryInApp(HVNCleanCategory category, std::vector<hvn::RemovalBatch::Request>& failures,
                            std::map<std::string, std::string>& notRemoved);
    // The in-process removal of one category on its own, its report kept as the last one.
    std::vector<std::string> cleanInAppReporting(HVNCleanCategory category);
    // Hands the failures to the privileged removal; false when it was cancelled.
    bool removeFailuresWithPrivileges(const std::vector<hvn::RemovalBatch::Request>& failures,
                                      std::map<std::string, std::string>& notRemoved);
    void pruneCategory(HVNCleanCategory category);
    // Clears the stop request unless a clean was announced (see clearStop), and the report.
    void beginClean();
    void setNotRemoved(std::map<std::string, std::string> notRemoved);
    void clearCategory(HVNCleanCategory category);
    // The disk check's last node is ticked and reports problems.
    bool diskCheckTicked() const;
    // After a disk clean: repairs the permissions when the disk check is enabled, found
    // problems and its finding is ticked; clears hasDickCheckIssue when the repair ran.
    void repairDiskCheckIfTicked();
    void setCategoryCheck(HVNCleanCategory category, bool check);

    HVNCleanServices services_;
    std::vector<ScanStep> systemSteps_, diskSteps_, virusSteps_;
    mutable std::mutex reportMutex_;
    std::map<std::string, std::string> lastNotRemoved_;
    hvn::ObservationToken cleanBeginObserver_, cleanFinishObserver_;
};
