// Common functions: the settings store (one dictionary under the user-defaults key
// "Setting"), the clean item lists, the size text, the install record, language and
// system helpers, the program-wide notifications and a few result-tree helpers.
// Class methods only; every operation may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNScanInputObject.h"
#include "HVN/Code/Clearer/HVNScaneOuputObject.h"
#include "Platform/Value.h"

struct LoginItem;

inline constexpr const char* kCleanFinishNotification = "CLEAN_FINISH_NOTFICATION";
inline constexpr const char* kAllScanFinishNotification = "ALL_SCAN_FINISH_NOTFICATION";
inline constexpr const char* kRAMCleanFinishNotification = "RAM_CLEAN_FINISH_NOTFICATION";
inline constexpr const char* kCleanBeginNotification = "CLEAN_BEGIN_NOTFICATION";
inline constexpr const char* kReloadSearchDetailNotification = "RELOAD_SEARCH_DETAIL_NOTIFICATION";

class HVNCommonFunction {
public:
    HVNCommonFunction() = delete;

    // --- Settings ---
    // Writes the dictionary of defaults under "Setting" to the file when there is none (a
    // failure is logged by the user defaults). A stored dictionary without "Send Usage
    // Statistics" gets that one key, at its default YES; nothing else of it is touched.
    static void initialSettingInfo();
    // The value of a settings key; null when absent or when there is no dictionary.
    static hvn::Value getSettingValueByKey(const std::string& key);
    // Sets one key (null removes it) as one locked read-modify-write of the whole dictionary
    // in the preferences file, so that no change of another thread or process is lost, and
    // writes the file. Returns false, with errorText filled when given, when the file could
    // not be read or written (see hvn::UserDefaults::update); the stored settings are then
    // unchanged.
    static bool changeSettingValue(const hvn::Value& value, const std::string& forKey,
                                   std::string* errorText = nullptr);
    static bool checkShouldBeenScaned(const std::string& cleanItemName);
    static bool isShredderFile();
    // YES when 604800 seconds (7 days) or more have passed since "Last Disk Check Date"; an
    // absent date (or a value that is not a date) counts as the distant past.
    static bool shouldCheckDisk();
    static bool shouldCheckDisk(hvn::Date now);
    static int scanRangeMatrixValue();
    static std::vector<std::string> systemCleanModules();
    static std::vector<std::string> diskCleanModules();

    // --- Sizes and names ---
    static std::string getSizeDesc(int64_t bytes);
    // Whether text contains part, ignoring case (Unicode case folding); an empty part is
    // contained in every text.
    static bool containsIgnoringCase(const std::string& text, const std::string& part);
    static int64_t getFileSizeByPath(const std::string& path);
    static std::string getFileNameByPath(const std::string& path);
    static std::string getDirPathByPath(const std::string& path);
    static std::string getHomePathByAppendSubPath(const std::string& relativePath);
    static bool isOddNumber(int64_t n);

    // --- System information ---
    static std::string getPCArchitecture();
    static std::string getSystemVersion();
    static std::string getSystemVersionForUrl();
    static bool isSystemBefore10_6();
    static std::string systemUserName();
    // The keyboard input languages when there are 1 to 9 of them, else nullopt.
    static std::optional<std::vector<std::string>> inputSource();
    static bool isUserSetupMailbox();
    static std::string getProjectDirPath();
    static std::string getProjectName();
    static std::string getProjectVersion();
    static std::string getProjectNameForHttpRequest();
    static int64_t getOnlineUsersFlag();
    // "NSLocaleCode" of the user defaults with "_" replaced by "-"; nullopt when absent.
    static std::optional<std::string> localNationCode();

    // --- Install record ---
    static std::string getVersionFilePath();
    // nullopt stands for a readable record without the key; "" for an unreadable record.
    static std::optional<std::string> getVersionNoFromCalendarStates();
    static std::optional<std::string> getActiveTimeFromCalendarStates();
    static void saveOrUpdateVersionFile();
    static void saveOrUpdateActiveTime(const std::string& activeTime);
    static int64_t getIntValueForVersionNoStr(const std::optional<std::string>& text);
    static std::string getActiveTimeStrFromDate(hvn::Date date);
    static int64_t getIntFromActiveDateStr(const std::optional<std::string>& text);

    // --- Languages (entries are dictionaries: "localCode", "language", "country", ...) ---
    static hvn::Array systemLanguages();
    static hvn::Array unableDeleteLanguages();
    static hvn::Array changeLanguageNameToEnglish(const hvn::Array& entries);
    static hvn::Array thesameKindLanguages(const std::string& languageCode);
    static std::string getNationCodeByLanguageCode(const std::string& languageCode);

    // --- Notifications (nil object, no user information) ---
    static void postCleanNotification();
    static void postCleanFinishNotificationOnMainThread();
    static void postAllScanNotification();
    static void postAllScanFinishNotificationOnMainThread();
    static void postRAMCleanNotification();
    static void postRAMCleanFinishNotificationOnMainThread();
    static void postCleanBeginNotification();
    static void postCleanBeginNotificationOnMainThread();
    static void postUpdateSearchDetailNotification();
    static void postEnterSearchDetailNotification();

    // --- Result tree helpers ---
    static void setCheckBoxStatusForAllItems(const HVNNodeList& items, int8_t status);
    // The leaves below the node (a node without children is a leaf of itself); with
    // checkSelected only ticked leaves count. Each call has its own counter.
    static int64_t getChildrenCnt(const HVNScaneOuputObjectPtr& node, bool checkSelected);
    // The recursive step: the leaves below every node of the list.
    static int64_t getNodeCnt(const HVNNodeList& nodes, bool checkSelected);
    // Scan requests of the rule category "Broswer Chahe", each path prefixed by the home
    // folder ("%@%@": the stored paths begin with "/").
    static std::vector<HVNScanInputObjectPtr> broswerChahePath();

    // --- Login items (HVNCommonFunction+LoginItems.cpp) ---
    // A new node with the item's icon, name and isCheck, isLogin YES, and filePath the path
    // the item resolves to (none for a broken item).
    static HVNScaneOuputObjectPtr convertLoginItemToScanOutputObj(const LoginItem& item);
    // A new login item with the node's icon, name and isCheck, and url its filePath (none when
    // the node names no path of its own, as a broken item's node).
    static LoginItem convertScanOutputObjToLoginItem(const HVNScaneOuputObject& node);
};

// NSArray(Language): dictionary membership.
namespace Language {
bool containsDic(const hvn::Array& array, const hvn::Value& dictionary);
const hvn::Value* objectEqualToDic(const hvn::Array& array, const hvn::Value& dictionary);
}  // namespace Language

// NSArray(LA): path containment. True when object's filePath contains the filePath of at
// least one element as a substring (case-sensitive).
namespace LA {
bool checkExistedPath(const HVNNodeList& array, const HVNScaneOuputObject& object);
}  // namespace LA
