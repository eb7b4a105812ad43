// The three browsers whose cookies the scans read and clean, with the location text that
// their cookie result nodes carry as filePath.
#pragma once

#include <optional>
#include <string>

#include "HVN/Code/Clearer/HVNScaneOuputObject.h"

enum class HVNCookieBrowser { Safari, Firefox, Chrome };

class HVNCookieBrowsers {
public:
    HVNCookieBrowsers() = delete;

    // "Safari", "Firefox", "Chrome".
    static const char* name(HVNCookieBrowser browser);
    static std::optional<HVNCookieBrowser> fromName(const std::string& name);
    // The cookie location shown for the browser, below the current home folder:
    // "%@/Library/Cookies", "%@/Library/Application Support/Firefox/Profiles",
    // "%@/Library/Application Support/Google/Chrome/Default".
    static std::string location(HVNCookieBrowser browser);
    // The browser whose location a cookie node carries, if any.
    static std::optional<HVNCookieBrowser> ofNode(const HVNScaneOuputObject& node);
};
