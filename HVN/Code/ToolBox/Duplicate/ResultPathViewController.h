// The members of the duplicate group on show: one row per file, oldest modification first,
// with the check boxes that choose the copies to remove, and the removal itself.
//
// When a group is shown, its list is sorted by modification date, oldest first (equal dates
// keep their order; a file whose date cannot be read goes last, so it is never the copy that
// stays), and every row but the first is selected: the oldest copy is kept. The selection is
// checkSelectedDic: the row index as a decimal string -> "1".
//
// "Remove" ("kRemoveSubPathNotName") acts on the group on show: with nothing selected, the
// sheet "You must select at least one item to continue the remove."; else, when the setting
// "Duplicate Notification" is on, the confirmation sheet (its radio buttons and "Never
// remind" write "Delete Dupfiles Is Safety" and "Duplicate Notification" as they are
// answered; only "OK" removes); then every selected file is moved to the trash ("Delete
// Dupfiles Is Safety" on or missing) or deleted for good, through HVNDuplicateRemoval. A
// batch whose unselected copies have all changed or vanished since they were listed removes
// nothing: no copy of the contents would be left. The removal runs on an operation queue of
// this controller; its outcome comes back on the main run loop: removed files leave the
// list, the others stay; a list of fewer than two files is emptied; the selection is
// cleared (after a one-row delete every row but the first is selected again); then
// "kSubTableViewDelete" is posted.
//
// Row actions ("kTableRowActionNotName", userInfo {"type": "check" | "delete" | "goto",
// "ox", "oy": the click position, "state": "0" | "1" for "check", and "row": the row index
// when the view knows it; without "row" the row is oy / rowHeight from the top}).
//
// Threads: the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HVN/Code/Public/HVNBaseVC.h"
#include "HVN/Code/ToolBox/Duplicate/HVNDuplicateRemoval.h"
#include "Platform/NotificationCenter.h"
#include "Platform/OperationQueue.h"
#include "Platform/Value.h"

// The notifications between the duplicate finder's page, its result list and this view
// (object none).
inline constexpr const char* kScanViewHiddenUI = "kScanViewHiddenUI";
inline constexpr const char* kRemoveSubPathNotName = "kRemoveSubPathNotName";
inline constexpr const char* kSubTableViewDelete = "kSubTableViewDelete";
inline constexpr const char* kShowDonView = "kShowDonView";
inline constexpr const char* kSubDonViewClose = "kSubDonViewClose";
inline constexpr const char* kTableRowActionNotName = "kTableRowActionNotName";
inline constexpr const char* kSlidedNotName = "kSlidedNotName";

class ResultPathViewController : public HVNBaseVC {
public:
    static constexpr const char* kPathList = "pathList";
    // Where a revealed file is recorded when no file viewer is set (reveal).
    static constexpr const char* kRevealedPath = "revealedPath";
    // The tool tip of the confirmation's "Never remind" box.
    static constexpr const char* kNeverRemindToolTip = "neverRemind.toolTip";

    explicit ResultPathViewController(HVNScreenView* view = nullptr,
                                      std::shared_ptr<HVNDuplicateRemoval> removal = nullptr);
    ~ResultPathViewController() override;

    // Shows the group: sorts it oldest first and selects every row but the first.
    void showGroup(const std::string& key, const std::vector<std::string>& paths);
    // Shows no group.
    void clear();

    // The check box of a row.
    void setRowChecked(size_t row, bool checked);
    bool isRowChecked(size_t row) const;
    // The row's own delete action: that one file (after the confirmation, when it is on).
    void deleteRow(size_t row);
    // The row's reveal action.
    void revealRow(size_t row);
    // "Remove": the selected files of the group on show.
    void removeSelected();
    // A "kTableRowActionNotName" userInfo.
    void rowAction(const hvn::Value& userInfo);

    // True from the start of a removal until its outcome has been applied.
    bool isRemoving() const { return removing_; }

    // --- State ---
    std::string groupKey;           // the result dictionary's key of the group on show
    std::vector<std::string> list;  // its files, oldest first
    hvn::Dictionary checkSelectedDic;
    // The outcomes of the last removal, in list order; finishedRemovals counts removals.
    std::vector<HVNDuplicateOutcome> lastRemoval;
    uint64_t finishedRemovals = 0;
    double rowHeight = 40;
    // Shows a file in the file viewer; when empty, the path is set as the text of
    // kRevealedPath.
    std::function<void(const std::string& path)> reveal;

    // Row index text of checkSelectedDic.
    static std::string rowKey(size_t row) { return std::to_string(row); }

private:
    void showRows() const;
    void selectAllButFirst();
    void confirmThenRemove(std::vector<std::string> paths, bool single);
    void startRemoval(std::vector<std::string> paths, bool single);
    void finishRemoval(const std::string& key, std::vector<HVNDuplicateOutcome> outcomes, bool single);

    std::shared_ptr<HVNDuplicateRemoval> removal_;
    bool removing_ = false;
    hvn::ObservationToken removeObserver_;
    hvn::ObservationToken rowObserver_;
    // Declared last: destroyed first, waiting for a removal under way.
    std::unique_ptr<hvn::OperationQueue> queue_;
};
