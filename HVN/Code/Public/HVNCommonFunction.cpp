#include "HVN/Code/Public/HVNCommonFunction.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <unicode/unistr.h>

#include "HVN/Code/Clearer/FMDB/HVNPathDBManager.h"
#include "Platform/Bundle.h"
#include "Platform/Host.h"
#include "Platform/Locale.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Platform/PropertyList.h"
#include "Platform/Roots.h"
#include "Platform/UserDefaults.h"

namespace {

constexpr const char* kSettingKey = "Setting";
constexpr double kDiskCheckInterval = 604800;  // 7 days
// Added after the first release: initialSettingInfo gives it to existing users too.
constexpr const char* kSendUsageStatisticsKey = "Send Usage Statistics";

hvn::Array stringArray(std::initializer_list<const char*> items) {
    hvn::Array a;
    for (const char* s : items) a.emplace_back(s);
    return a;
}

bool arrayContainsString(const hvn::Value& list, const std::string& s) {
    if (!list.isArray()) return false;
    for (const auto& v : list.asArray()) {
        if (v.isString() && v.asString() == s) return true;
    }
    return false;
}

// The settings dictionary written on a first launch.
hvn::Value defaultSettings() {
    hvn::Dictionary d;
    d["StartMode"] = "一键清理";
    d["ShowIcon"] = 1;
    d["Language"] =
        HVNCommonFunction::changeLanguageNameToEnglish(HVNCommonFunction::unableDeleteLanguages());
    d["MonitorEvents"] = stringArray({"DeleteApp", "TrashOverFlow"});
    d["LaunchOnLogin"] = false;
    d["ScanRange"] = "FastClean";
    d["ScanFileSize"] = "10k";
    d["Delete Is Safety"] = true;
    d["Delete Dupfiles Is Safety"] = true;
    d["DiskCleanModules"] = stringArray({"System Cache Files", "System Log Files", "Universal Binaries File",
                                         "iOS Software Updates", "iOS Photo Cache", "iPhoto Cleanup",
                                         "Trash Cleanup", "Language Files"});
    d["SystemCleanModules"] =
        stringArray({"Internet History", "Session", "Leftover", "Broken Login Items", "Shortcut Clean",
                     "User Cache Files", "User Log Files", "Browser Cache"});
    d["CleanAtRegularTime"] = true;
    d["Action"] = stringArray({"Internet Security", "Disk Clean", "System Clean", "System Optimization"});
    d["Show Clean Notification"] = true;
    d["Duplicate Notification"] = true;
    d["CleanTimeInterval"] = "Every Day";
    d["CleanTime"] = "17:00";
    d["Insight Clean"] = false;
    d[kSendUsageStatisticsKey] = true;
    return hvn::Value(std::move(d));
}

// NSString path semantics: trailing slashes do not make a component; "/" stays "/".
std::string withoutTrailingSlashes(const std::string& path) {
    std::string s = path;
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

}  // namespace

// --- Settings ---

void HVNCommonFunction::initialSettingInfo() {
    auto& defaults = hvn::UserDefaults::standardUserDefaults();
    hvn::Value current = defaults.objectForKey(kSettingKey);
    if (current.isDictionary()) {
        if (current.find(kSendUsageStatisticsKey)) return;
        // Only this key is added; every other setting stays as the user left it.
        defaults.update(kSettingKey, [](hvn::Value& stored) {
            if (stored.isDictionary() && !stored.find(kSendUsageStatisticsKey))
                stored.dictionary()[kSendUsageStatisticsKey] = true;
        });
        return;
    }
    // Built outside the store's lock: the language defaults read the store themselves.
    hvn::Value settings = defaultSettings();
    defaults.update(kSettingKey, [&](hvn::Value& stored) {
        // Another thread or process may have written the defaults meanwhile; a stored value
        // that is not a dictionary is unusable and is replaced.
        if (!stored.isDictionary()) stored = settings;
    });
}

hvn::Value HVNCommonFunction::getSettingValueByKey(const std::string& key) {
    hvn::Value settings = hvn::UserDefaults::standardUserDefaults().objectForKey(kSettingKey);
    const hvn::Value* v = settings.find(key);
    return v ? *v : hvn::Value();
}

bool HVNCommonFunction::changeSettingValue(const hvn::Value& value, const std::string& forKey,
                                           std::string* errorText) {
    return hvn::UserDefaults::standardUserDefaults().update(
        kSettingKey,
        [&](hvn::Value& stored) {
            hvn::Dictionary settings = stored.isDictionary() ? stored.asDictionary() : hvn::Dictionary();
            if (value.isNull()) {
                settings.erase(forKey);
            } else {
                settings[forKey] = value;
            }
            stored = hvn::Value(std::move(settings));
        },
        errorText);
}

bool HVNCommonFunction::checkShouldBeenScaned(const std::string& cleanItemName) {
    return arrayContainsString(getSettingValueByKey("SystemCleanModules"), cleanItemName) ||
           arrayContainsString(getSettingValueByKey("DiskCleanModules"), cleanItemName);
}

bool HVNCommonFunction::isShredderFile() {
    return getSettingValueByKey("Insight Clean").asBool();
}

bool HVNCommonFunction::shouldCheckDisk() {
    return shouldCheckDisk(hvn::Date::now());
}

bool HVNCommonFunction::shouldCheckDisk(hvn::Date now) {
    hvn::Value last = getSettingValueByKey("Last Disk Check Date");
    if (!last.isDate()) return true;
    return now.secondsSince1970 - last.asDate().secondsSince1970 >= kDiskCheckInterval;
}

int HVNCommonFunction::scanRangeMatrixValue() {
    hvn::Value range = getSettingValueByKey("ScanRange");
    if (!range.isString()) return 0;
    if (range.asString() == "AllDiskClean") return 1;
    if (range.asString() == "CustomClean") return 2;
    return 0;
}

std::vector<std::string> HVNCommonFunction::systemCleanModules() {
    return {"Cookies",        "Internet History", "Session",        "Leftover",     "Broken Login Items",
            "Shortcut Clean", "User Cache Files", "User Log Files", "Browser Cache"};
}

std::vector<std::string> HVNCommonFunction::diskCleanModules() {
    return {"System Cache Files",   "System Log Files", "Language Files", "Universal Binaries File",
            "iOS Software Updates", "iOS Photo Cache",  "iPhoto Cleanup", "User Downloads",
            "Trash Cleanup",        "Disk Check"};
}

// --- Sizes and names ---

bool HVNCommonFunction::containsIgnoringCase(const std::string& text, const std::string& part) {
    if (part.empty()) return true;
    std::string t, p;
    icu::UnicodeString::fromUTF8(text).foldCase().toUTF8String(t);
    icu::UnicodeString::fromUTF8(part).foldCase().toUTF8String(p);
    return t.find(p) != std::string::npos;
}

std::string HVNCommonFunction::getSizeDesc(int64_t n) {
    // Decimal units in single precision, as the care screens always showed them.
    char buf[64];
    if (n <= 0) return "0 KB";
    if (n <= 1000000) {
        std::snprintf(buf, sizeof buf, "%.1f KB", static_cast<double>(static_cast<float>(n) / 1000.0f));
    } else if (n <= 1000000000) {
        std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(static_cast<float>(n) / 1000000.0f));
    } else {
        std::snprintf(buf, sizeof buf, "%.2f GB", static_cast<double>(static_cast<float>(n) / 1000000000.0f));
    }
    return buf;
}

int64_t HVNCommonFunction::getFileSizeByPath(const std::string& path) {
    // The item's own size: a symbolic link is not followed.
    struct stat st {};
    if (path.empty() || lstat(path.c_str(), &st) != 0) return 0;
    return static_cast<int64_t>(st.st_size);
}

std::string HVNCommonFunction::getFileNameByPath(const std::string& path) {
    std::string s = withoutTrailingSlashes(path);
    if (s == "/") return s;
    auto i = s.rfind('/');
    return i == std::string::npos ? s : s.substr(i + 1);
}

std::string HVNCommonFunction::getDirPathByPath(const std::string& path) {
    std::string s = withoutTrailingSlashes(path);
    if (s == "/") return s;
    auto i = s.rfind('/');
    if (i == std::string::npos) return "";
    std::string dir = withoutTrailingSlashes(s.substr(0, i));
    return dir.empty() ? "/" : dir;
}

std::string HVNCommonFunction::getHomePathByAppendSubPath(const std::string& relativePath) {
    return hvn::Roots::homePath(relativePath);
}

bool HVNCommonFunction::isOddNumber(int64_t n) {
    return (n & 1) != 0;
}

// --- System information ---

std::string HVNCommonFunction::getPCArchitecture() {
    // The machine name is read into a 100-byte buffer and taken as ASCII.
    std::string m = hvn::Host::machine();
    if (m.size() > 99) m.resize(99);
    return m;
}

std::string HVNCommonFunction::getSystemVersion() {
    auto v = hvn::Host::systemVersion();
    return hvn::format("%d.%d.%d", v.major, v.minor, v.patch);
}

std::string HVNCommonFunction::getSystemVersionForUrl() {
    auto v = hvn::Host::systemVersion();
    return hvn::format("%d%d", v.minor, v.patch);
}

bool HVNCommonFunction::isSystemBefore10_6() {
    return hvn::Host::systemVersion().minor < 6;
}

std::string HVNCommonFunction::systemUserName() {
    const char* user = std::getenv("USER");
    return user ? user : "";
}

std::optional<std::vector<std::string>> HVNCommonFunction::inputSource() {
    auto languages = hvn::Locale::keyboardInputLanguages();
    if (languages.empty() || languages.size() >= 10) return std::nullopt;
    return languages;
}

bool HVNCommonFunction::isUserSetupMailbox() {
    auto accounts =
        hvn::PropertyList::readFile(hvn::Roots::homePath("Library/Mail/V2/MailData/Accounts.plist"));
    if (!accounts) return false;
    const hvn::Value& list = (*accounts)["MailAccounts"];
    if (!list.isArray()) return false;
    for (const auto& account : list.asArray()) {
        if (account.isDictionary() && account.find("SMTPIdentifier")) return true;
    }
    return false;
}

std::string HVNCommonFunction::getProjectDirPath() {
    return hvn::Bundle::mainBundlePath();
}

std::string HVNCommonFunction::getProjectName() {
    return hvn::Bundle::objectForInfoDictionaryKey("CFBundleName").asString();
}

std::string HVNCommonFunction::getProjectVersion() {
    return hvn::Bundle::objectForInfoDictionaryKey("CFBundleShortVersionString").asString();
}

std::string HVNCommonFunction::getProjectNameForHttpRequest() {
    return "Halvorn";
}

int64_t HVNCommonFunction::getOnlineUsersFlag() {
    hvn::Value v = hvn::Bundle::objectForInfoDictionaryKey("OnlineUsers");
    if (v.isNumber() || v.isString()) return v.asInteger();
    return 0;
}

std::optional<std::string> HVNCommonFunction::localNationCode() {
    hvn::Value code = hvn::UserDefaults::standardUserDefaults().objectForKey("NSLocaleCode");
    if (!code.isString()) return std::nullopt;
    std::string s = code.asString();
    std::replace(s.begin(), s.end(), '_', '-');
    return s;
}

// --- Notifications ---

void HVNCommonFunction::postCleanNotification() {
    hvn::NotificationCenter::defaultCenter().post(kCleanFinishNotification);
}
void HVNCommonFunction::postCleanFinishNotificationOnMainThread() {
    hvn::NotificationCenter::defaultCenter().postOnMainThread(kCleanFinishNotification);
}
void HVNCommonFunction::postAllScanNotification() {
    hvn::NotificationCenter::defaultCenter().post(kAllScanFinishNotification);
}
void HVNCommonFunction::postAllScanFinishNotificationOnMainThread() {
    hvn::NotificationCenter::defaultCenter().postOnMainThread(kAllScanFinishNotification);
}
void HVNCommonFunction::postRAMCleanNotification() {
    hvn::NotificationCenter::defaultCenter().post(kRAMCleanFinishNotification);
}
void HVNCommonFunction::postRAMCleanFinishNotificationOnMainThread() {
    hvn::NotificationCenter::defaultCenter().postOnMainThread(kRAMCleanFinishNotification);
}
void HVNCommonFunction::postCleanBeginNotification() {
    hvn::NotificationCenter::defaultCenter().post(kCleanBeginNotification);
}
void HVNCommonFunction::postCleanBeginNotificationOnMainThread() {
    hvn::NotificationCenter::defaultCenter().postOnMainThread(kCleanBeginNotification);
}
void HVNCommonFunction::postUpdateSearchDetailNotification() {
    hvn::NotificationCenter::defaultCenter().post(kReloadSearchDetailNotification);
}
void HVNCommonFunction::postEnterSearchDetailNotification() {
    hvn::NotificationCenter::defaultCenter().post(kEnterSearchDetailNotification);
}

// --- Result tree helpers ---
// The walks use an explicit stack, so a deep tree cannot exhaust the thread's stack.

void HVNCommonFunction::setCheckBoxStatusForAllItems(const HVNNodeList& items, int8_t status) {
    std::vector<const HVNNodeList*> pending{&items};
    while (!pending.empty()) {
        const HVNNodeList* list = pending.back();
        pending.pop_back();
        for (const auto& node : *list) {
            if (!node) continue;
            node->isCheck = status;
            if (node->subObjects && !node->subObjects->empty()) pending.push_back(node->subObjects.get());
        }
    }
}

int64_t HVNCommonFunction::getNodeCnt(const HVNNodeList& nodes, bool checkSelected) {
    int64_t count = 0;
    std::vector<const HVNNodeList*> pending{&nodes};
    while (!pending.empty()) {
        const HVNNodeList* list = pending.back();
        pending.pop_back();
        for (const auto& node : *list) {
            if (!node) continue;
            if (node->subObjects && !node->subObjects->empty()) {
                pending.push_back(node->subObjects.get());
            } else if (!checkSelected || node->isCheck != 0) {
                ++count;
            }
        }
    }
    return count;
}

int64_t HVNCommonFunction::getChildrenCnt(const HVNScaneOuputObjectPtr& node, bool checkSelected) {
    if (!node) return 0;
    if (node->subObjects && !node->subObjects->empty()) return getNodeCnt(*node->subObjects, checkSelected);
    return (!checkSelected || node->isCheck != 0) ? 1 : 0;
}

std::vector<HVNScanInputObjectPtr> HVNCommonFunction::broswerChahePath() {
    HVNPathDBManager manager;
    auto requests = manager.getCleanPath(kBroswerChaheCatalog);
    for (auto& request : requests) {
        // An empty path (a rule that could not be decrypted) must stay empty: below the home
        // folder it would name the whole home folder.
        if (!request || request->path.empty()) continue;
        request->path = hvn::Roots::homePath(request->path);
    }
    return requests;
}

// --- NSArray(LA) ---

namespace LA {

bool checkExistedPath(const HVNNodeList& array, const HVNScaneOuputObject& object) {
    std::string path = object.filePath();
    for (const auto& element : array) {
        if (!element) continue;
        std::string covering = element->filePath();
        // An empty text is contained in nothing.
        if (!covering.empty() && path.find(covering) != std::string::npos) return true;
    }
    return false;
}

}  // namespace LA
