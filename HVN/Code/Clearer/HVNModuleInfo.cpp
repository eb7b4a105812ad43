#include "HVN/Code/Clearer/HVNModuleInfo.h"

#include "HVN/Code/Public/HVNCommonFunction.h"

namespace {
using C = HVNCleanCategory;
}

const std::vector<HVNModuleInfo>& HVNModuleInfo::all() {
    static const std::vector<HVNModuleInfo> table = {
        {0, C::Disk, "System Cache Files", "System Caches", "iconSystemCache"},
        {1, C::System, "User Cache Files", "User Cache Files", "iconUserCache"},
        {2, C::Disk, "System Log Files", "System Log Files", "iconSystemLog"},
        {3, C::System, "User Log Files", "User Log Files", "iconUserLogFiles"},
        {4, C::System, "Cookies", "Internet Cookies", "iconInternetCookie"},
        {5, C::System, "Internet History", "Internet History", "iconInternetHistory"},
        {6, C::System, "Session", "Internet Session", "iconInternetSession"},
        {7, C::System, "Browser Cache", "Internet Caches", "iconInternetCache"},
        {8, C::Disk, "Language Files", "Language Files", "iconLanguageFiles"},
        {9, C::Disk, "Trash Cleanup", "Trash Cleanup", "iconTrash"},
        {10, C::Disk, "iPhoto Cleanup", "iPhoto Cleanup", "iconiPhoto"},
        {11, C::Disk, "iOS Software Updates", "iOS Software Updates", "iconUpdate"},
        {12, C::Disk, "iOS Photo Cache", "iOS Photo Caches", "iconPhotoCache"},
        {13, C::Disk, "Universal Binaries File", "Universal Binaries", "iconBinaryFiles"},
        {14, C::Disk, "User Downloads", "User Downloads", "iconUserDownload"},
        {15, C::System, "Shortcut Clean", "Shortcut Clean", "iconShortCut"},
        {16, C::System, "Leftover", "Leftover", "iconLeftOver"},
        {17, C::System, "Broken Preferences", "Broken Preferences", "iconBrokenPreference"},
        {18, C::System, "Broken Login Items", "Broken Login Items", "iconBrokenLogin"},
        {19, C::Disk, "Disk Check", "Disk Check", "iconDiskCheck"},
        {21, C::InternetSecurity, "", "Virus", ""},
        {22, C::InternetSecurity, "", "Cookie Virus", ""},
    };
    return table;
}

const HVNModuleInfo* HVNModuleInfo::find(int32_t id) {
    for (const auto& m : all()) {
        if (m.id == id) return &m;
    }
    return nullptr;
}

const HVNModuleInfo* HVNModuleInfo::findBySettingsName(const std::string& settingsName) {
    if (settingsName.empty()) return nullptr;
    for (const auto& m : all()) {
        if (settingsName == m.settingsName) return &m;
    }
    return nullptr;
}

std::vector<HVNModuleInfo> HVNModuleInfo::modulesOf(HVNCleanCategory category) {
    std::vector<HVNModuleInfo> out;
    for (const auto& m : all()) {
        if (m.category == category) out.push_back(m);
    }
    return out;
}

std::vector<HVNModuleInfo> HVNModuleInfo::enabledModules(HVNCleanCategory category) {
    std::vector<HVNModuleInfo> out;
    for (const auto& m : all()) {
        if (m.category != category) continue;
        if (m.alwaysScanned() || HVNCommonFunction::checkShouldBeenScaned(m.settingsName)) out.push_back(m);
    }
    return out;
}

const char* HVNModuleInfo::categoryName(HVNCleanCategory category) {
    switch (category) {
        case C::System:
            return "System";
        case C::Disk:
            return "Disk";
        case C::InternetSecurity:
            return "Internet Security";
    }
    return "";
}
