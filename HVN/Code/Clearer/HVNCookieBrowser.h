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

    // The browsers' applications among the installed ones (after waiting for the
    // application search), for their icons: an application whose file name contains
    // "safari" (ignoring case) is Safari's; one containing "chrome" is Chrome's, otherwise
    // one containing "firefox" is Firefox's. A later application overrides an earlier one;
    // a browser not found keeps "".
    struct Applications {
        std::string safari, chrome, firefox;
    };
    static Applications applicationPaths();
};
