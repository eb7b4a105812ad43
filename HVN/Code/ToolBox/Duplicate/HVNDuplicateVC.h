// The duplicate finder's page: the list of folders to search (DuplicationPathSetting), the
// scan with its progress rows, and then the result list (ScannerResultViewController) or the
// nothing-found view.
//
// The scan button reads "Scan" (idle), "Stop" (searching), "Remove" (results on show: posts
// "kRemoveSubPathNotName") or "Done" (nothing found, or every group resolved: back to the
// folder list and "Scan").
//
// The folder list (kPathList) shows one row per folder: cells {path, status, "busy" on the
// row marked as being scanned, else ""}; the status is "Complete" on the rows above that
// row and the path last seen under the folder on the others. While searching, a repeating
// timer of 0.9 / (number of folders) s on the main run loop's clock samples the engine's
// counters (kCountLabel: the number of files looked at) and moves the marked row on, never
// past the last one; kProgress shows (marked row + 1) / rows.
//
// Engine notifications arrive on a private serial queue and are handed to the main run loop;
// each group is noted for the removal (HVNDuplicateRemoval) as it arrives.
//
// Tool tips are shown as the texts of the elements "<button>.toolTip".
//
// Threads: the main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HVN/Code/Public/HVNBaseVC.h"
#include "HVN/Code/ToolBox/Duplicate/HVNDuplicateRemoval.h"
#include "HVN/Code/ToolBox/Duplicate/ScannerResultViewController.h"
#include "HVN/Code/ToolBox/Duplicate/THDuplicationHelper.h"
#include "Platform/NotificationCenter.h"
#include "Platform/OperationQueue.h"
#include "Platform/RunLoop.h"
#include "Platform/Value.h"

class HVNDuplicateVC : public HVNBaseVC {
public:
    static constexpr const char* kPathList = "pathList";
    static constexpr const char* kAddButton = "addButton";
    static constexpr const char* kRemoveButton = "removeButton";
    static constexpr const char* kScanButton = "scanButton";
    static constexpr const char* kProgress = "progress";
    static constexpr const char* kCountLabel = "countLabel";
    static constexpr const char* kNothingFoundView = "nothingFoundView";
    static constexpr const char* kAddButtonToolTip = "addButton.toolTip";
    static constexpr const char* kRemoveButtonToolTip = "removeButton.toolTip";
    static constexpr const char* kComplete = "Complete";
    static constexpr const char* kAlreadyExisted = "The selected item has already existed.";

    static constexpr uint64_t kMinFileSize = 51200;

    enum class State { Idle, Searching, Results, Done };

    // Loads the folder list and shows it. resultView and pathView are the views of the result
    // list and of its group view (either may be null).
    explicit HVNDuplicateVC(HVNScreenView* view = nullptr, HVNScreenView* resultView = nullptr,
                            HVNScreenView* pathView = nullptr);
    ~HVNDuplicateVC() override;

    // --- Folder list ---
    // The add button: a panel for folders, several at once, prompt "Add".
    void addFolders();
    // Appends the chosen folders but those under "/System" or "/Volumes" (and "/"), which
    // are ignored, and those already listed, after which the alert kAlreadyExisted follows;
    // then saves the list.
    void addChosenFolders(const std::vector<std::string>& paths);
    // Selects a folder row (nullopt: none); only while no search runs.
    void selectRow(std::optional<size_t> row);
    // The remove button: deletes the selected row and saves the list.
    void removeSelectedRow();

    // --- Run ---
    // The scan button, by state.
    void scanButtonClicked();
    void startScan();
    void stopScan();
    // Back to the folder list.
    void done();
    // (marked row + 1) / rows; 1 with no rows.
    double currentProgress() const;

    // --- State ---
    hvn::Array filePathArray;
    hvn::Dictionary scanResultDic;
    std::optional<size_t> selectedRow;
    State state = State::Idle;
    bool stoppedByUser = false;
    size_t scanningRow = 0;
    uint64_t scannedCount = 0;
    std::vector<std::string> rowPaths;  // the path last seen under each folder
    std::unique_ptr<THDuplicationHelper> engine;
    std::shared_ptr<HVNDuplicateRemoval> removal = std::make_shared<HVNDuplicateRemoval>();
    std::unique_ptr<ScannerResultViewController> resultVC;

private:
    void showFolders() const;
    void saveFolders() const;
    void setButton(const char* title) const;
    void scheduleTick(uint64_t run);
    void tick();
    void notePath(const std::string& path);
    void receiveGroup(uint64_t run, const hvn::Value& userInfo);
    void searchFinished(uint64_t run);
    void showResults();
    static bool ignoredFolder(const std::string& path);

    HVNScreenView* resultView_;
    HVNScreenView* pathView_;
    uint64_t run_ = 0;
    std::optional<hvn::RunLoop::TimerId> timer_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    hvn::ObservationToken hiddenObserver_;
    hvn::ObservationToken doneObserver_;
    hvn::ObservationToken groupObserver_;
    hvn::ObservationToken progressObserver_;
    // Declared last: destroyed first, after the engine has posted its last notification.
    std::shared_ptr<hvn::OperationQueue> queue_;
};
