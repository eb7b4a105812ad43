// One application, widget, Internet plug-in or preference pane (or one file found for it):
// what the application search, the uninstaller and the scanners know of it.
// Items in the shared search's lists are shared between threads: treat them as read-only
// and change a copy().
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Value.h"

class HVNAppItem {
public:
    std::string name;               // display name without extension
    std::string image;              // the path the icon comes from (Platform/BundleInfo.h)
    std::string path;               // full path of the bundle or file
    std::string version;            // the version text
    std::string bundleID;           // the bundle identifier
    std::string executableString;   // the executable name (the display name for query results)
    std::string isSystemAppString;  // "YES" or "NO" for items built from the bundle's information
    bool isSystemApp = false;
    std::string appSize;  // the size in bytes as text: an integer text or a "%f" text
    std::optional<hvn::Date> lastUseDate;
    bool isSelected = false;

    // A new item with every field of this one.
    std::shared_ptr<HVNAppItem> copy() const { return std::make_shared<HVNAppItem>(*this); }
    // The integer value of appSize ("12.5" -> 12; 0 for an empty or non-numeric text).
    int64_t appSizeIntValue() const;
};

using HVNAppItemPtr = std::shared_ptr<HVNAppItem>;
using HVNAppItemList = std::vector<HVNAppItemPtr>;
