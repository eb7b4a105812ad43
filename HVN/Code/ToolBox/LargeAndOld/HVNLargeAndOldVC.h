// The large-and-old-files tool's page: the list of folders to search (kept in the user
// defaults under "LargeAndOldPaths"), the run that searches them one after another for
// files larger than 50,000,000 bytes, the result list (HVNLargeResultVC) or the
// nothing-found page (HVNLargeNoProblemVC) afterwards, and the removal of the ticked files.
//
// States (curState): 0 idle, the scan button reads "Scan"; 1 scanning, "Stop"; 2 finished,
// "Remove" ("Done" while the nothing-found page is on show). Clicks on folder rows act by
// state: idle selects the row for removal from the list, scanning ignores them, finished
// shows that folder's results.
//
// The folder list (kFolderList) shows one row per folder: cells {name, path, status (the
// scanPath text), "busy" while its search runs, else ""}, and a tick box for its selection.
// The result and nothing-found pages are shown in the views given at construction (either
// may be null), added to this page's view; the front end lays them out beside or over the
// folder list.
//
// Threads: the main thread. The run's steps follow one another as tasks and timers of the
// main run loop (the pauses of 0.5 s after a folder, 0.1 s before the results and 1 s
// before a removal are timers on its clock).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNScaneOuputObject.h"
#include "HVN/Code/Public/HVNBaseVC.h"
#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeAndOldFileScanner.h"
#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeNoProblemVC.h"
#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeResultVC.h"
#include "Platform/NotificationCenter.h"

class HVNLargeAndOldVC : public HVNBaseVC, public HVNLargeAndOldFileScannerDelegate {
public:
    static constexpr const char* kFolderList = "folderList";
    static constexpr const char* kScanButton = "scanButton";
    static constexpr const char* kAddButton = "addButton";
    static constexpr const char* kRemoveButton = "removeButton";

    // The user-defaults key of the folder list: an array of path strings, in list order.
    static constexpr const char* kLargeAndOldPathsKey = "LargeAndOldPaths";
    static constexpr const char* kComplete = "complete";

    // Loads the folder list and shows it; creates the scanner with this page as delegate.
    explicit HVNLargeAndOldVC(HVNScreenView* view = nullptr, HVNScreenView* resultView = nullptr,
                              HVNScreenView* noProblemView = nullptr);
    ~HVNLargeAndOldVC() override;

    // --- Folder list ---
    // Reads "LargeAndOldPaths"; when the key is absent the list is the home folder, named
    // with the login name. Entries that are not texts are skipped.
    void loadPaths();
    // Writes the list to "LargeAndOldPaths"; false when it could not be stored.
    bool savePaths();
    // A folder entry for a path: its name is the last component, the login name for "/".
    static HVNScaneOuputObjectPtr folderEntry(const std::string& path);
    // The add button: an open panel for folders (prompt "Add", opening at the home's
    // Desktop); the chosen folders go to addChosenFolders.
    void addFolders();
    // Adds each folder whose path contains the path of no listed folder. When any is
    // refused, the alert "The selected item has already existed." follows and the list is
    // neither shown again nor saved (the accepted ones stay in it); otherwise the scan
    // button is enabled when the list is not empty, and the list is shown and saved.
    void addChosenFolders(const std::vector<std::string>& paths);
    // A click on a folder row (nullopt: outside the rows), acting by state.
    void clickFolderRow(std::optional<size_t> index);
    // A row's tick box: adds the folder to / removes it from selectPaths (idle only).
    void setFolderSelected(size_t index, bool selected);
    // The remove button: takes the selected folders out of the list and saves it.
    void removeSelectedFolders();

    // --- Run ---
    // The scan button, by state: Scan, Stop, Remove, or Done on the nothing-found page.
    void scanButtonClicked();
    void onScan();
    void onStop();
    void onRemove();
    // Starts the search of one folder.
    void startScan(const HVNScaneOuputObjectPtr& folder);
    // Shows the results of one folder, or of the whole run for null.
    void showDetailView(const HVNScaneOuputObjectPtr& folder);
    // Back to the idle folder list (the result page's back, "Done").
    void reset();

    // Delegate operations of the scanner.
    void resetProgressSpeed() override;
    void didEndScanObj(const HVNScaneOuputObjectPtr& folder) override;
    void cancelScan(const HVNScaneOuputObjectPtr& folder) override;

    // --- State ---
    HVNNodeList showPaths;
    HVNNodeList selectPaths;
    int curState = 0;
    size_t curIndex = 0;
    std::unique_ptr<HVNLargeAndOldFileScanner> scanner;
    std::unique_ptr<HVNLargeResultVC> curShowVC;
    std::unique_ptr<HVNLargeNoProblemVC> noProblemVC;
    // The outcomes of the last removal, for a front end that tells what happened.
    std::vector<HVNLargeFileOutcome> lastRemoval;

private:
    void showFolders();
    void updateRemoveButton();
    void dropResultPages();
    void confirmRemoval();
    void scheduleRemoval();
    void runRemoval();
    bool removalPending_ = false;
    bool stopRequested_ = false;
    // Runs fn after `seconds` on the main loop's clock, unless this page is gone or the run
    // it belongs to has ended by then.
    void after(double seconds, uint64_t run, std::function<void()> fn);

    HVNScreenView* resultView_;
    HVNScreenView* noProblemView_;
    uint64_t run_ = 0;  // counts runs, so that late steps of an ended run are dropped
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    hvn::ObservationToken pathObserver_;
    hvn::ObservationToken backObserver_;
};
