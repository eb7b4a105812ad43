// The result list of the large-and-old-files tool: the found files grouped by type, by size
// or by name, narrowed by a minimum size and a minimum age of the last content change, with
// their tick boxes, the summary of the ticked files and the two removals (to the trash, for
// good).
//
// Nothing is ticked at first. An entry that a filter hides is unticked, so that a removal
// acts only on ticked files the user can see.
//
// The list (kResultList) shows one row per group (level 0, isGroup, cells {title, size of
// its members}, a tick box that is mixed when some members are ticked) and per entry (level
// 1 under a group, level 0 by name; cells {name, size text, "Opened more than ..." text,
// path}, its tick box). The size and age choices show on kSizeButton and kTimeButton, the
// order on kOrderMenu (its state), the summary on kSummaryLabel; when nothing passes the
// filters kNothingFoundView is shown with its text on kNothingFoundLabel.
//
// Threads: the main thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNScaneOuputObject.h"
#include "HVN/Code/Public/HVNBaseVC.h"
#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeFileGroups.h"
#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeFileRemoval.h"
#include "Platform/Value.h"

// "backToMainWindow": posted by the result list's back action, with the HVNLargeResultVC*
// as the object.
inline constexpr const char* kBackToMainWindowNotification = "backToMainWindow";

class HVNLargeResultVC : public HVNBaseVC {
public:
    static constexpr const char* kResultList = "resultList";
    static constexpr const char* kSizeButton = "sizeButton";
    static constexpr const char* kTimeButton = "timeButton";
    static constexpr const char* kSizeSlider = "sizeSlider";
    static constexpr const char* kTimeSlider = "timeSlider";
    static constexpr const char* kOrderMenu = "orderMenu";
    static constexpr const char* kSummaryLabel = "summaryLabel";
    static constexpr const char* kNothingFoundView = "nothingFoundView";
    static constexpr const char* kNothingFoundLabel = "nothingFoundLabel";
    static constexpr const char* kBackButton = "backButton";

    // Which filter the user touched last.
    static constexpr const char* kCursizeLimit = "kCursizeLimit";
    static constexpr const char* kCurtimeLimit = "kCurtimeLimit";

    static constexpr const char* kChangeTimeText = "Please change the time above to find large files.";
    static constexpr const char* kChangeSizeText = "Please change the size above to find large files.";

    explicit HVNLargeResultVC(HVNScreenView* view = nullptr);
    ~HVNLargeResultVC() override;

    // Replaces allNodes (nothing ticked), rebuilds the rows and the summary.
    void setNodes(const HVNNodeList& entries);
    // Applies the size and age filters to allNodes, groups what passes by currentOrder and
    // shows it (every row expanded), or the nothing-found view when nothing passes.
    void filterFiles();
    // Builds the group lists of entries by currentOrder into nodes.
    void setGroupValues(const HVNNodeList& entries);

    // The filter and order controls: a slider position within its range; the order menu's
    // selected index (0 by type, 1 by size, 2 by name; other indexes are ignored).
    void onSlider(double position, double minimum, double maximum);
    void onTimeFilter(double position, double minimum, double maximum);
    void onSortType(int index);

    // Ticks or unticks an entry, or every member of a group; refreshes the summary.
    void setEntryChecked(const HVNScaneOuputObjectPtr& node, bool checked);
    // The same for the row at index of the list on show (rows()).
    void setRowChecked(size_t index, bool checked);
    void setAllCheckBoxStatus(int state) override;

    // "select %ld items :%@" with the number of ticked entries and their total size.
    std::string summaryText() const;

    // The removals: every ticked entry is moved to the trash / removed for good (after the
    // check that it is still the file listed, HVNLargeFileRemoval). An entry whose file went
    // (or was already gone) leaves allNodes and the ticked set; one that could not be
    // removed stays listed and ticked. Both refresh the summary and re-run the filter.
    // Returns the outcome of every ticked entry, in ticking order.
    std::vector<HVNLargeFileOutcome> fixSelectItemsToTrash();
    std::vector<HVNLargeFileOutcome> fixSelectItemsForever();

    // Reveal the entry's file in the file viewer / show its information. Nothing for a null
    // entry or an entry without a path.
    void clickFinderView(const HVNScaneOuputObjectPtr& entry);
    void clickPreview(const HVNScaneOuputObjectPtr& entry);
    // How the two are done; by default the platform's file viewer is opened on the file's
    // folder. Replaceable (tests, the graphical front end).
    using FileAction = std::function<void(const std::string& path)>;
    static void setFileViewerActions(FileAction reveal, FileAction showInfo);

    // The back button: takes the view out of its parent and posts "backToMainWindow".
    void back();

    // The rows on show, top to bottom, as the list shows them (groups and their members).
    const HVNNodeList& rows() const { return shownRows_; }

    // --- State ---
    HVNNodeList allNodes;
    HVNNodeList nodes;          // the top-level rows on show
    HVNNodeList selectedNodes;  // the ticked entries, in ticking order
    int currentOrder = HVNLargeFileGroups::BySize;
    std::string limitSize = "50M";
    std::string limitDate = "any time";
    std::string curLimit = kCursizeLimit;
    HVNNodeList sizeGroups;  // the groups of the last grouping by size
    HVNNodeList typeGroups;  // the groups of the last grouping by type

    // The clock of the age filter and texts (tests).
    std::function<hvn::Date()> now = [] { return hvn::Date::now(); };

private:
    std::vector<HVNLargeFileOutcome> removeSelected(bool toTrash);
    void showRows();
    void refreshSummary();
    bool isSelected(const HVNScaneOuputObjectPtr& e) const;
    HVNNodeList shownRows_;
};
