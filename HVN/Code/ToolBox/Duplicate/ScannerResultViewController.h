// The list of duplicate groups of a search: one row per group, its details and preview, the
// sort menu and size arrow, the size filter, and the group view (ResultPathViewController)
// of the group on show.
//
// duplictionDic holds the page's result dictionary: hash -> {"size": bytes, "name": the last
// path component of the last path, "list": the paths}. Rows (kGroupList) have the cells
// {the first path's name, its extension (the last "."-separated part), returnFileSize,
// the number of copies}. Selecting a row sets kDetailsLabel to "%@\n%@\n%@\n" (the first
// path's name after resolving symbolic links, the size text, "Quantity: %ld"), kPreview's
// text to the first path (the front end draws it) and hands the group to the group view.
//
// Observes "kSubTableViewDelete" (the group view removed files: they leave every group, and
// groups with fewer than two files leave the list; with none left, kNothingLabel reads "No
// cloned files are found in your Mac." and "kShowDonView" is posted), "kSlidedNotName" (the
// size filter is applied) and "kSubDonViewClose" (the list takes its view out).
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
#include "HVN/Code/ToolBox/Duplicate/ResultPathViewController.h"
#include "Platform/NotificationCenter.h"
#include "Platform/Value.h"

class ScannerResultViewController : public HVNBaseVC {
public:
    static constexpr const char* kGroupList = "groupList";
    static constexpr const char* kDetailsLabel = "detailsLabel";
    static constexpr const char* kPreview = "preview";
    static constexpr const char* kSortMenu = "sortMenu";
    // State 1: largest first (arrow up), 0: smallest first (arrow down).
    static constexpr const char* kSizeArrow = "sizeArrow";
    static constexpr const char* kSizeFilterLabel = "sizeFilterLabel";
    static constexpr const char* kNothingView = "nothingView";
    static constexpr const char* kNothingLabel = "nothingLabel";
    static constexpr const char* kNoClonedFiles = "No cloned files are found in your Mac.";

    // pathView: the group view's view; removal: the listings of the search (shared with the
    // page).
    explicit ScannerResultViewController(HVNScreenView* view = nullptr, HVNScreenView* pathView = nullptr,
                                         std::shared_ptr<HVNDuplicateRemoval> removal = nullptr);
    ~ScannerResultViewController() override;

    // Shows the groups in the given key order (keys missing from the dictionary are left
    // out) and the first of them.
    void setResults(const hvn::Dictionary& dic, const std::vector<std::string>& orderedKeys);

    // Selects the group row on show at index (outside: nothing changes).
    void selectGroup(size_t index);
    // A sort menu title ("Sort by size", "Sort by quantity", "Sort by name"); other titles
    // are ignored. Sorts the groups on show and shows the first.
    void sortByTitle(const std::string& title);
    // The size arrow: largest first <-> smallest first, then sorts again.
    void toggleSizeArrow();
    // The size slider moved / was released (released posts "kSlidedNotName").
    void setSliderValue(int value);
    void releaseSlider(int value);
    // The groups of the first display whose size reaches the slider's step, in that order.
    void applySizeFilter();
    // Drops the removed files and the groups with fewer than two files.
    void subTableViewDelete();

    // "%0.0fKB" of bytes / 1000; above 999 "%0.1fMB" of that / 1000; above 999 again
    // "%0.2fG" of that / 1000.
    static std::string returnFileSize(uint64_t bytes);
    // The last "."-separated part of a name (a name without a dot is its own last part).
    static std::string extensionOf(const std::string& name);
    // The size filter's steps: titles, and the step of a slider value (value / 10, 10 and
    // above counting as 9, below 0 as 0) and its threshold in bytes.
    static const std::vector<std::string>& filterTitles();
    static int filterStep(int sliderValue);
    static uint64_t filterThreshold(int step);

    // --- State ---
    hvn::Dictionary duplictionDic;
    std::vector<std::string> allKeys;  // the order of the first display
    std::vector<std::string> keys;     // the groups on show, in row order
    std::string sortKey = "size";      // "size", "number" or "name"
    bool largestFirst = true;
    int sliderValue = 0;
    std::optional<size_t> selectedIndex;
    std::unique_ptr<ResultPathViewController> pathVC;

private:
    std::vector<std::string> listOf(const std::string& key) const;
    uint64_t sizeOf(const std::string& key) const;
    void sortKeys();
    void showRows() const;
    // Shows the keys on show, or the nothing view, and the first group (none when empty).
    void showKeys();
    void showGroupDetails(size_t index) const;
    void showNothing(bool nothing, bool noneLeft) const;

    hvn::ObservationToken deleteObserver_;
    hvn::ObservationToken slideObserver_;
    hvn::ObservationToken closeObserver_;
};
