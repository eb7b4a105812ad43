// The modules of one-click care: each kind of finding with its category, the clean item
// name kept in the settings lists "SystemCleanModules" / "DiskCleanModules", the name and
// icon shown on its category row. Module identifiers key the result lists of the task
// queues, the category rows and the scan operations. The table is constant; every
// function here may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class HVNCleanCategory { System = 0, Disk = 1, InternetSecurity = 2 };

struct HVNModuleInfo {
    int32_t id;
    HVNCleanCategory category;
    const char* settingsName;  // "" for the Internet Security modules (always scanned)
    const char* displayName;
    const char* icon;  // image name; "" when the module has none

    // Module identifiers.
    static constexpr int32_t SystemCache = 0;
    static constexpr int32_t UserCache = 1;
    static constexpr int32_t SystemLog = 2;
    static constexpr int32_t UserLog = 3;
    static constexpr int32_t Cookies = 4;
    static constexpr int32_t InternetHistory = 5;
    static constexpr int32_t InternetSession = 6;
    static constexpr int32_t InternetCache = 7;
    static constexpr int32_t LanguageFiles = 8;
    static constexpr int32_t Trash = 9;
    static constexpr int32_t IPhoto = 10;
    static constexpr int32_t IOSSoftwareUpdates = 11;
    static constexpr int32_t IOSPhotoCache = 12;
    static constexpr int32_t UniversalBinaries = 13;
    static constexpr int32_t UserDownloads = 14;
    static constexpr int32_t ShortcutClean = 15;
    static constexpr int32_t Leftover = 16;
    static constexpr int32_t BrokenPreferences = 17;
    static constexpr int32_t BrokenLoginItems = 18;
    static constexpr int32_t DiskCheck = 19;
    static constexpr int32_t Virus = 21;
    static constexpr int32_t CookieVirus = 22;

    // Every module, in identifier order (0 to 19, 21, 22).
    static const std::vector<HVNModuleInfo>& all();
    // The entry of a module identifier; nullptr for an unknown one (20, negatives, ...).
    static const HVNModuleInfo* find(int32_t id);
    // The entry whose settings item name is exactly the given text; nullptr when none.
    static const HVNModuleInfo* findBySettingsName(const std::string& settingsName);
    // The modules of one category, in identifier order.
    static std::vector<HVNModuleInfo> modulesOf(HVNCleanCategory category);
    // The modules of a category that one-click care scans and shows a row for: those whose
    // settings item is enabled (HVNCommonFunction::checkShouldBeenScaned), and the
    // Internet Security modules always. Reads the settings.
    static std::vector<HVNModuleInfo> enabledModules(HVNCleanCategory category);
    // "System", "Disk", "Internet Security".
    static const char* categoryName(HVNCleanCategory category);

    // True for the Internet Security modules, which have no settings item.
    bool alwaysScanned() const { return settingsName[0] == '\0'; }
};
