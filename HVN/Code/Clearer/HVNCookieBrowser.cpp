#include "HVN/Code/Clearer/HVNCookieBrowser.h"

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/Public/HVNSearchApplications.h"
#include "Platform/FileManager.h"
#include "Platform/Roots.h"

const char* HVNCookieBrowsers::name(HVNCookieBrowser browser) {
    switch (browser) {
        case HVNCookieBrowser::Safari:
            return "Safari";
        case HVNCookieBrowser::Firefox:
            return "Firefox";
        case HVNCookieBrowser::Chrome:
            break;
    }
    return "Chrome";
}

std::optional<HVNCookieBrowser> HVNCookieBrowsers::fromName(const std::string& name) {
    for (auto b : {HVNCookieBrowser::Safari, HVNCookieBrowser::Firefox, HVNCookieBrowser::Chrome}) {
        if (name == HVNCookieBrowsers::name(b)) return b;
    }
    return std::nullopt;
}

std::string HVNCookieBrowsers::location(HVNCookieBrowser browser) {
    const std::string home = hvn::Roots::home();
    switch (browser) {
        case HVNCookieBrowser::Safari:
            return home + "/Library/Cookies";
        case HVNCookieBrowser::Firefox:
            return home + "/Library/Application Support/Firefox/Profiles";
        case HVNCookieBrowser::Chrome:
            break;
    }
    return home + "/Library/Application Support/Google/Chrome/Default";
}

HVNCookieBrowsers::Applications HVNCookieBrowsers::applicationPaths() {
    Applications out;
    auto& search = HVNSearchApplications::shareHVNSearchApplications();
    search.waitFinish();
    for (const auto& app : search.allApplications()) {
        if (!app) continue;
        std::string name = hvn::FileManager::lastPathComponent(app->path);
        if (HVNCommonFunction::containsIgnoringCase(name, "safari")) out.safari = app->path;
        if (HVNCommonFunction::containsIgnoringCase(name, "chrome")) {
            out.chrome = app->path;
        } else if (HVNCommonFunction::containsIgnoringCase(name, "firefox")) {
            out.firefox = app->path;
        }
    }
    return out;
}

std::optional<HVNCookieBrowser> HVNCookieBrowsers::ofNode(const HVNScaneOuputObject& node) {
    const std::string path = node.filePath();
    for (auto b : {HVNCookieBrowser::Safari, HVNCookieBrowser::Firefox, HVNCookieBrowser::Chrome}) {
        if (path == location(b)) return b;
    }
    return std::nullopt;
}
