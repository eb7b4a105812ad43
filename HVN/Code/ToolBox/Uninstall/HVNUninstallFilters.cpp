#include "HVN/Code/ToolBox/Uninstall/HVNUninstallFilters.h"

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cmath>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/Log.h"

std::string HVNUninstallFilters::sizeTitle(double megabytes) {
    if (!(megabytes > 0) || !std::isfinite(megabytes)) return "0 M";
    return hvn::format("%.0f M", megabytes);
}

HVNUninstallDateFilter HVNUninstallFilters::dateFilter(double d) {
    if (!(d > 0) || !std::isfinite(d)) return {0, "0 day"};
    if (d < 30) return {d, hvn::format("%.0f days", d)};
    double days = d < 40 ? 1.5 * d : d < 99 ? 3.35 * d : 4 * d;
    if (d >= 99) return {days, "1 year"};
    return {days, hvn::format("%.0f months", days / 30)};
}

bool HVNUninstallFilters::passesSize(const HVNAppItem& item, double megabytes) {
    if (!(megabytes > 0)) return true;
    return static_cast<double>(item.appSizeIntValue()) < megabytes * 1000000.0;
}

bool HVNUninstallFilters::passesDate(const HVNAppItem& item, double thresholdDays, hvn::Date now) {
    if (!(thresholdDays > 0) || !item.lastUseDate) return true;
    double days = (now.secondsSince1970 - item.lastUseDate->secondsSince1970) / 86400.0;
    return days < thresholdDays;
}

HVNAppItemList HVNUninstallFilters::search(const HVNAppItemList& items, const std::string& text) {
    if (text.empty()) return items;
    HVNAppItemList out;
    for (const auto& item : items) {
        if (item && HVNCommonFunction::containsIgnoringCase(item->name, text)) out.push_back(item);
    }
    return out;
}

int HVNUninstallFilters::compareNames(const std::string& a, const std::string& b) {
    return icu::UnicodeString::fromUTF8(a).caseCompare(icu::UnicodeString::fromUTF8(b), U_FOLD_CASE_DEFAULT);
}

void HVNUninstallFilters::sort(HVNAppItemList& items, int order) {
    items.erase(std::remove(items.begin(), items.end(), nullptr), items.end());
    switch (order) {
        case ByName:
            std::stable_sort(items.begin(), items.end(),
                             [](const auto& a, const auto& b) { return compareNames(a->name, b->name) < 0; });
            break;
        case BySize:
            std::stable_sort(items.begin(), items.end(), [](const auto& a, const auto& b) {
                return a->appSizeIntValue() > b->appSizeIntValue();
            });
            break;
        case ByLastUsed:
            std::stable_sort(items.begin(), items.end(), [](const auto& a, const auto& b) {
                if (!a->lastUseDate || !b->lastUseDate) return !a->lastUseDate && b->lastUseDate;
                return *a->lastUseDate < *b->lastUseDate;
            });
            break;
        default:
            break;
    }
}
