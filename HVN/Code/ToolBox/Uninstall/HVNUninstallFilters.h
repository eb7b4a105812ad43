// The uninstaller page's narrowing of its lists: the search text, the size slider, the
// last-used date slider and the three sort orders. Pure functions; any thread.
#pragma once

#include <string>

#include "HVN/Code/Public/ScanAndDeleteApp/HVNAppItem.h"
#include "Platform/Value.h"

// One position of the date slider: the day threshold and the title shown for it. The title
// always names the threshold itself (in days below 30, in months, or "1 year").
struct HVNUninstallDateFilter {
    double thresholdDays = 0;  // 0: no date filter
    std::string title;
};

class HVNUninstallFilters {
public:
    HVNUninstallFilters() = delete;

    enum SortOrder { ByName = 0, BySize = 1, ByLastUsed = 2 };
    // The sort menu's titles, in SortOrder order.
    static constexpr const char* kSortByName = "Sort by name";
    static constexpr const char* kSortBySize = "Sort by size";
    static constexpr const char* kSortByLastUsed = "Sort by last used";

    // "%.0f M" of megabytes ("0 M" at 0).
    static std::string sizeTitle(double megabytes);
    // The date slider at position d: 0 -> {0, "0 day"}; below 30 -> d days, "%.0f days" of
    // d; 30 to 40 -> 1.5 d days, below 99 -> 3.35 d days, each "%.0f months" of days / 30;
    // from 99 -> 4 d days, "1 year". Negative or non-finite positions count as 0.
    static HVNUninstallDateFilter dateFilter(double d);

    // True when the size filter is off (megabytes 0) or the item's appSize is below
    // megabytes x 1,000,000 bytes.
    static bool passesSize(const HVNAppItem& item, double megabytes);
    // True when the date filter is off (thresholdDays 0), the item has no last-used date,
    // or it was last used fewer than thresholdDays days before now.
    static bool passesDate(const HVNAppItem& item, double thresholdDays, hvn::Date now);

    // The items whose names contain text, ignoring case (Unicode case folding), in their
    // order; all of them for an empty text.
    static HVNAppItemList search(const HVNAppItemList& items, const std::string& text);
    // Sorts in place, stably: by name ignoring case; by the integer value of appSize,
    // largest first; by last-used date, oldest first (items without a date first).
    // Unknown orders leave the list as it is.
    static void sort(HVNAppItemList& items, int order);
    // <0, 0, >0: a before, equal to, after b by name ignoring case.
    static int compareNames(const std::string& a, const std::string& b);
};
