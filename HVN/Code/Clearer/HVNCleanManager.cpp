#include "HVN/Code/Clearer/HVNCleanManager.h"

#include <algorithm>
#include <map>

#include "HVN/Code/Clearer/FMDB/HVNPathDBManager.h"
#include "HVN/Code/Clearer/HVNBadCookiesOperation.h"
#include "HVN/Code/Clearer/HVNCookieOpration.h"
#include "HVN/Code/Clearer/HVNAliasCleanOperation.h"
#include "HVN/Code/Clearer/HVNAppLeftoverCleanner.h"
#include "HVN/Code/Clearer/HVNBrokenLoginItemOperation.h"
#include "HVN/Code/Clearer/HVNDiskVerifyOperation.h"
#include "HVN/Code/Clearer/HVNScanBinariesOperation.h"
#include "HVN/Code/Clearer/HVNScanLanguageOperation.h"
#include "HVN/Code/Clearer/HVNScaniPhotoOperation.h"
#include "HVN/Code/Clearer/HVNTrashCleanner.h"
#include "HVN/Code/Clearer/HVNVirusOperation.h"
#include "HVN/Code/Setting/HVNWhiteListVC.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/Public/HVNSearchApplications.h"
#include "Platform/Log.h"
#include "Platform/Workspace.h"

using M = HVNModuleInfo;

HVNCleanManager& HVNCleanManager::shareHVNCLean() {
    static HVNCleanManager* manager = new HVNCleanManager;  // lives as long as the program
    return *manager;
}

HVNCleanManager::HVNCleanManager(HVNCleanServices services) : services_(std::move(services)) {
    dbManager = std::make_unique<HVNPathDBManager>();
    scanSystem = std::make_unique<HVNCacheScanner>(false);
    scanDisk = std::make_unique<HVNCacheScanner>(true);
    scanInternetVirus = std::make_unique<HVNCacheScanner>(false);
    cookie = std::make_unique<HVNWhiteListVC>();

    readRuleLists();

    auto& center = hvn::NotificationCenter::defaultCenter();
    cleanFinishObserver_ = center.addObserver(kCleanFinishNotification,
                                              [this](const hvn::Notification&) { isFixing.store(false); });
    // A clean announced here starts with no stop request; a stop that comes before its
    // thread runs is then kept for it.
    cleanBeginObserver_ = center.addObserver(kCleanBeginNotification, [this](const hvn::Notification&) {
        stopClear.store(false);
        isFixing.store(true);
    });
    buildScanSteps();
}

HVNCleanManager::~HVNCleanManager() {
    // The queues stop and wait for their runs before the rule lists they scan go away.
    scanSystem.reset();
    scanDisk.reset();
    scanInternetVirus.reset();
}

// ---------------------------------------------------------------------------------------
// Start-up

void HVNCleanManager::readRuleLists() {
    // Binaries: the installed applications, once the application search has ended.
    auto& search = HVNSearchApplications::shareHVNSearchApplications();
    search.waitFinish();
    for (const auto& app : search.allApplications()) {
        if (app) allAppPath.push_back(app->path);
    }

    browserArray = dbManager->getBrowserCleanPath("Browser");
    splitBrowserRules();

    systemCacheArray = dbManager->getCleanPath("System Cache Files");
    userCacheArray = dbManager->getCleanPath("User Cache Files");
    IOSPhotoArray = dbManager->getCleanPath("IOS Photo Cache");
    IOSSoftwareArray = dbManager->getCleanPath("IOS Software Updates");
    systemLogArray = dbManager->getCleanPath("System Log Files");
    userLogArray = dbManager->getCleanPath("User Log Files");

    iPhotoCache = dbManager->getCleanPath("iPhoto Cleanup");
    iPhoto = iPhotoCache.empty() || !iPhotoCache.back() ? std::string() : iPhotoCache.back()->path;

    userDownloadArray = dbManager->getCleanPath("User Downloads");
    LoginItemsArray = dbManager->getCleanPath("Broken Login Items");
    PreferencesArray = dbManager->getCleanPath("Broken Preferences");
}

void HVNCleanManager::splitBrowserRules() {
    static const char* const kinds[] = {"Cache", "Cookie", "History", "Session"};
    std::vector<HVNScanInputObjectPtr>* lists[] = {&browserCache, &browserCookie, &browserHistory,
                                                   &browserSession};
    for (const auto& row : browserArray) {
        if (!row) continue;
        std::string keyValue = row->keyValue().value_or(std::string());
        for (size_t k = 0; k < 4; ++k) {
            if (keyValue.find(kinds[k]) == std::string::npos) continue;
            auto request = std::make_shared<HVNScanInputObject>();
            request->path = row->path().value_or(std::string());
            std::string keyWord = row->keyWord().value_or(std::string());
            // An empty key word would match every name: it stands for no key, like "NULL".
            if (!keyWord.empty() && keyWord != "NULL") request->key = keyWord;
            request->isCheck = row->isSelected;
            request->recursion = (k == 2);
            lists[k]->push_back(std::move(request));
            break;
        }
    }
}

void HVNCleanManager::buildScanSteps() {
    auto fileScan = [](const std::vector<HVNScanInputObjectPtr>& requests, int32_t module) {
        return ScanStep{module,
                        [&requests, module](HVNCacheScanner& q) { q.addFileScanTask(requests, module); }};
    };
    auto relativePaths = [](const std::vector<HVNScanInputObjectPtr>& requests) {
        std::vector<std::string> out;
        for (const auto& r : requests) {
            if (r) out.push_back(r->path);
        }
        return out;
    };
    systemSteps_ = {
        fileScan(browserCache, M::InternetCache),
        ScanStep{M::Cookies,
                 [](HVNCacheScanner& q) { q.addOperation(std::make_shared<HVNCookieOpration>(q.delegate())); }},
        fileScan(browserHistory, M::InternetHistory),
        fileScan(browserSession, M::InternetSession), fileScan(userCacheArray, M::UserCache),
        fileScan(userLogArray, M::UserLog),
        ScanStep{M::ShortcutClean,
                 [](HVNCacheScanner& q) { q.addOperation(std::make_shared<HVNAliasCleanOperation>(q.delegate())); }},
        ScanStep{M::Leftover,
                 [this, relativePaths](HVNCacheScanner& q) {
                     q.addOperation(
                         std::make_shared<HVNAppLeftoverCleanner>(q.delegate(), relativePaths(PreferencesArray)));
                 }},
        ScanStep{M::BrokenLoginItems,
                 [this, relativePaths](HVNCacheScanner& q) {
                     q.addOperation(std::make_shared<HVNBrokenLoginItemOperation>(
                         q.delegate(), relativePaths(LoginItemsArray)));
                 }},
    };
    diskSteps_ = {
        fileScan(systemCacheArray, M::SystemCache),
        ScanStep{M::LanguageFiles,
                 [](HVNCacheScanner& q) {
                     q.addOperation(std::make_shared<HVNScanLanguageOperation>(q.languageInfos(), q.delegate()));
                 }},
        fileScan(systemLogArray, M::SystemLog),
        fileScan(IOSSoftwareArray, M::IOSSoftwareUpdates),
        fileScan(IOSPhotoArray, M::IOSPhotoCache),
        ScanStep{M::UniversalBinaries,
                 [this](HVNCacheScanner& q) {
                     q.addOperation(std::make_shared<HVNScanBinariesOperation>(allAppPath, M::UniversalBinaries,
                                                                               q.delegate()));
                 }},
        ScanStep{M::IPhoto,
                 [this](HVNCacheScanner& q) {
                     q.addOperation(std::make_shared<HVNScaniPhotoOperation>(iPhoto, q.delegate()));
                 }},
        ScanStep{M::Trash,
                 [](HVNCacheScanner& q) {
                     q.addFileScanTask(HVNTrashCleanner::shareTrashCleanner().getTrashPaths(), M::Trash);
                 }},
        fileScan(userDownloadArray, M::UserDownloads),
        ScanStep{M::DiskCheck,
                 [this](HVNCacheScanner& q) {
                     q.sendNotfication = true;
                     q.addOperation(std::make_shared<HVNDiskVerifyOperation>(q.delegate(), &hasDickCheckIssue));
                 }},
    };
    virusSteps_ = {
        ScanStep{M::Virus,
                 [](HVNCacheScanner& q) { q.addOperation(std::make_shared<HVNVirusOperation>(q.delegate())); }},
        ScanStep{M::CookieVirus,
                 [](HVNCacheScanner& q) { q.addOperation(std::make_shared<HVNBadCookiesOperation>(q.delegate())); }},
    };
}

const std::vector<HVNCleanManager::ScanStep>& HVNCleanManager::scanStepsOf(HVNCleanCategory category) const {
    switch (category) {
        case HVNCleanCategory::System:
            return systemSteps_;
        case HVNCleanCategory::Disk:
            return diskSteps_;
        case HVNCleanCategory::InternetSecurity:
            break;
    }
    return virusSteps_;
}

HVNCacheScanner& HVNCleanManager::queueOf(HVNCleanCategory category) const {
    switch (category) {
        case HVNCleanCategory::System:
            return *scanSystem;
        case HVNCleanCategory::Disk:
            return *scanDisk;
        case HVNCleanCategory::InternetSecurity:
            break;
    }
    return *scanInternetVirus;
}

// ---------------------------------------------------------------------------------------
// Scans

void HVNCleanManager::queueCategory(HVNCleanCategory category) {
    HVNCacheScanner& queue = queueOf(category);
    for (const auto& step : scanStepsOf(category)) {
        const HVNModuleInfo* info = HVNModuleInfo::find(step.module);
        if (!info) continue;
        if (moduleFilter && !moduleFilter(step.module)) continue;
        if (info->alwaysScanned() || HVNCommonFunction::checkShouldBeenScaned(info->settingsName)) {
            step.enqueue(queue);
        }
    }
    queue.start();
}

void HVNCleanManager::scanSystemFile() {
    queueCategory(HVNCleanCategory::System);
}

void HVNCleanManager::scanDiskFile() {
    hvn::Log::write("scanDiskFile start");
    queueCategory(HVNCleanCategory::Disk);
}

void HVNCleanManager::scanViurs() {
    hvn::Log::write("scanViurs start");
    queueCategory(HVNCleanCategory::InternetSecurity);
}

void HVNCleanManager::stopSystemScan() {
    scanSystem->stop();
}
void HVNCleanManager::stopDiskScan() {
    scanDisk->stop();
}
void HVNCleanManager::stopInternetVirusScan() {
    scanInternetVirus->stop();
}

// ---------------------------------------------------------------------------------------
// Results

std::optional<HVNNodeList> HVNCleanManager::scanSystemResultArray(int32_t module) const {
    return scanSystem->resultFor(module);
}
std::optional<HVNNodeList> HVNCleanManager::scanDiskResultArray(int32_t module) const {
    return scanDisk->resultFor(module);
}
std::optional<HVNNodeList> HVNCleanManager::scanInternetVirusResultArray(int32_t module) const {
    return scanInternetVirus->resultFor(module);
}

bool HVNCleanManager::systemFile() const {
    return scanSystem->hasData();
}
bool HVNCleanManager::diskFile() const {
    return scanDisk->hasData();
}
bool HVNCleanManager::internetVirusFile() const {
    return scanInternetVirus->hasData();
}
bool HVNCleanManager::hasSystemData() const {
    return scanSystem->hasNonEmptyList();
}
bool HVNCleanManager::hasDiscData() const {
    return scanDisk->hasNonEmptyList();
}
bool HVNCleanManager::hasInternetVirusIssue() const {
    return scanInternetVirus->hasNonEmptyList();
}

// ---------------------------------------------------------------------------------------
// Ticking

void HVNCleanManager::setCategoryCheck(HVNCleanCategory category, bool check) {
    const int8_t state = check ? 1 : 0;
    queueOf(category).editData([&](HVNCacheScanner::ResultMap& data) {
        // The photo library's entries take the state too: only ticked pictures are
        // replaced, so a category turned off must leave them alone.
        for (auto& [module, list] : data) {
            for (const auto& top : list) {
                top->isCheck = state;
                for (const auto& child : top->children()) child->isCheck = state;
            }
        }
    });
}

void HVNCleanManager::setSystemCheck(bool check) {
    setCategoryCheck(HVNCleanCategory::System, check);
}
void HVNCleanManager::setDiskCheck(bool check) {
    setCategoryCheck(HVNCleanCategory::Disk, check);
}
void HVNCleanManager::setInternetVirusCheck(bool check) {
    setCategoryCheck(HVNCleanCategory::InternetSecurity, check);
}

// ---------------------------------------------------------------------------------------
// Cleaning

bool HVNCleanManager::cleanCategoryInApp(HVNCleanCategory category,
                                         std::vector<hvn::RemovalBatch::Request>& failures,
                                         std::map<std::string, std::string>& notRemoved) {
    HVNCacheScanner& queue = queueOf(category);
    HVNCleanContext context(services_, stopClear, this);
    bool finished = true;
    for (int32_t module : queue.modules()) {
        const HVNModuleCleanRule* rule = HVNCleanRules::ruleFor(module);
        if (!rule || !rule->removeInApp) {
            hvn::Log::writef("module %d has no removal rule; its entries are kept", module);
            continue;
        }
        if (!rule->removeInApp(queue, module, context)) {
            finished = false;
            break;
        }
    }
    for (auto& r : context.takeFailures()) failures.push_back(std::move(r));
    for (auto& [path, reason] : context.takeNotRemoved()) notRemoved[path] = std::move(reason);
    return finished;
}

namespace {

std::vector<std::string> pathsOf(const std::vector<hvn::RemovalBatch::Request>& requests) {
    std::vector<std::string> out;
    out.reserve(requests.size());
    for (const auto& r : requests) out.push_back(r.path);
    return out;
}

}  // namespace

std::vector<std::string> HVNCleanManager::cleanInAppReporting(HVNCleanCategory category) {
    std::vector<hvn::RemovalBatch::Request> failures;
    std::map<std::string, std::string> notRemoved;
    cleanCategoryInApp(category, failures, notRemoved);
    setNotRemoved(std::move(notRemoved));
    return pathsOf(failures);
}

std::vector<std::string> HVNCleanManager::clearSystemInApp() {
    return cleanInAppReporting(HVNCleanCategory::System);
}

std::vector<std::string> HVNCleanManager::clearDiscInApp() {
    return cleanInAppReporting(HVNCleanCategory::Disk);
}

std::vector<std::string> HVNCleanManager::cleanInternetVirusInApp() {
    return cleanInAppReporting(HVNCleanCategory::InternetSecurity);
}

void HVNCleanManager::pruneCategory(HVNCleanCategory category) {
    std::map<std::string, std::string> left = lastCleanNotRemoved();
    HVNIsLeft isLeft = [&left](const HVNScaneOuputObject& node) {
        if (left.count(HVNCleanRules::reportKeyOfNode(node)) > 0) return true;
        // A language entry is left while none of its folders went.
        if (node.removePaths && !node.removePaths->empty()) {
            return std::all_of(node.removePaths->begin(), node.removePaths->end(),
                               [&left](const std::string& p) { return left.count(p) > 0; });
        }
        return false;
    };
    queueOf(category).editData([&](HVNCacheScanner::ResultMap& data) {
        for (auto& [module, list] : data) {
            const HVNModuleCleanRule* rule = HVNCleanRules::ruleFor(module);
            if (rule && rule->prune) rule->prune(list, isLeft);
        }
    });
}

void HVNCleanManager::clearSystemObject() {
    pruneCategory(HVNCleanCategory::System);
}
void HVNCleanManager::clearDiscObject() {
    pruneCategory(HVNCleanCategory::Disk);
}
void HVNCleanManager::clearInternetVirusObject() {
    pruneCategory(HVNCleanCategory::InternetSecurity);
}

std::map<std::string, std::string> HVNCleanManager::lastCleanNotRemoved() const {
    std::lock_guard<std::mutex> lock(reportMutex_);
    return lastNotRemoved_;
}

void HVNCleanManager::setNotRemoved(std::map<std::string, std::string> notRemoved) {
    std::lock_guard<std::mutex> lock(reportMutex_);
    lastNotRemoved_ = std::move(notRemoved);
}

void HVNCleanManager::beginClean() {
    if (!isFixing.load()) stopClear.store(false);
    setNotRemoved({});
}

bool HVNCleanManager::removeFailuresWithPrivileges(const std::vector<hvn::RemovalBatch::Request>& failures,
                                                   std::map<std::string, std::string>& notRemoved) {
    bool rewrite = services_.isShredderFile && services_.isShredderFile();
    std::map<std::string, std::string> left;
    bool worked = services_.removeSystemFile && services_.removeSystemFile(failures, rewrite, &left);
    if (!worked) return false;
    // What the privileged route took is gone unless it says otherwise.
    for (const auto& r : failures) {
        auto it = left.find(r.path);
        if (it == left.end()) {
            notRemoved.erase(r.path);
        } else {
            notRemoved[r.path] = it->second;
        }
    }
    return true;
}

void HVNCleanManager::clearCategory(HVNCleanCategory category) {
    beginClean();
    std::vector<hvn::RemovalBatch::Request> failures;
    std::map<std::string, std::string> notRemoved;
    cleanCategoryInApp(category, failures, notRemoved);
    bool prune = false;
    if (!stopClear.load() && !failures.empty()) prune = removeFailuresWithPrivileges(failures, notRemoved);
    setNotRemoved(std::move(notRemoved));
    if (prune) pruneCategory(category);
    if (category == HVNCleanCategory::Disk && !stopClear.load()) repairDiskCheckIfTicked();
}

bool HVNCleanManager::diskCheckTicked() const {
    auto list = scanDisk->resultFor(M::DiskCheck);
    if (!list || list->empty()) return false;
    const auto& last = list->back();
    return last && HVNCleanRules::isTicked(*last) && last->hasIssue;
}

void HVNCleanManager::repairDiskCheckIfTicked() {
    // Modes are changed only when the user left the disk check's finding ticked.
    const HVNModuleInfo* info = HVNModuleInfo::find(M::DiskCheck);
    if (!info || !HVNCommonFunction::checkShouldBeenScaned(info->settingsName)) return;
    if (!services_.diskCheckHasIssue || !services_.diskCheckHasIssue() || !diskCheckTicked()) return;
    if (!services_.repairDiskPermission || !services_.repairDiskPermission()) return;
    hasDickCheckIssue.store(false);
}

void HVNCleanManager::clearSystemFile() {
    clearCategory(HVNCleanCategory::System);
}
void HVNCleanManager::clearDiskFile() {
    clearCategory(HVNCleanCategory::Disk);
}
void HVNCleanManager::clearInternetVirusFile() {
    clearCategory(HVNCleanCategory::InternetSecurity);
}

void HVNCleanManager::clearInternetVirus(bool isCleanInternetVirus, bool isCleanSytem, bool isCleanDisk,
                                         bool isCleanPerformanceBoost) {
    beginClean();
    std::vector<hvn::RemovalBatch::Request> failures;
    std::map<std::string, std::string> notRemoved;
    auto& center = hvn::NotificationCenter::defaultCenter();
    // Whatever ends the clean, the report tells what was left.
    struct Report {
        HVNCleanManager& manager;
        std::map<std::string, std::string>& notRemoved;
        ~Report() { manager.setNotRemoved(std::move(notRemoved)); }
    };

    bool prune = false;
    bool repair = false;
    {
        Report report{*this, notRemoved};
        if (isCleanInternetVirus && !stopClear.load()) {
            cleanCategoryInApp(HVNCleanCategory::InternetSecurity, failures, notRemoved);
            if (isCleanSytem || isCleanDisk || isCleanPerformanceBoost) {
                center.postOnMainThread(kCleanInternetVirusFinishNotification);
            }
        }
        if (stopClear.load()) return;
        if (isCleanSytem) {
            cleanCategoryInApp(HVNCleanCategory::System, failures, notRemoved);
            if (isCleanDisk || isCleanPerformanceBoost) center.postOnMainThread(kCleanSystemFinishNotification);
        }
        if (stopClear.load()) return;
        if (isCleanDisk) cleanCategoryInApp(HVNCleanCategory::Disk, failures, notRemoved);
        if (stopClear.load()) return;
        repair = isCleanDisk;
        if (!failures.empty()) prune = removeFailuresWithPrivileges(failures, notRemoved);
    }
    if (prune) {
        if (isCleanInternetVirus) pruneCategory(HVNCleanCategory::InternetSecurity);
        if (isCleanSytem) pruneCategory(HVNCleanCategory::System);
        if (isCleanDisk) pruneCategory(HVNCleanCategory::Disk);
    }
    // One-click care repairs a ticked disk-check finding as the disk's own clean does: the
    // care screen counts its problems among the issues it reports fixed.
    if (repair && !stopClear.load()) repairDiskCheckIfTicked();
}

void HVNCleanManager::clearStop() {
    stopClear.store(true);
    if (services_.stopDiskPermissionsTool) services_.stopDiskPermissionsTool();
    if (services_.stopClearSystemFile) services_.stopClearSystemFile();
}

// ---------------------------------------------------------------------------------------
// Running browsers

std::vector<std::string> HVNCleanManager::hasBrowserRun() {
    static const std::map<std::string, std::string> names = {
        {"com.apple.Safari", "Safari"},
        {"org.mozilla.firefox", "Firefox"},
        {"com.google.Chrome", "Chrome"},
        {"com.operasoftware.Opera", "Opera"},
    };
    std::vector<std::string> out;
    for (const auto& app : hvn::Workspace::runningApplications()) {
        auto it = names.find(app.bundleIdentifier);
        if (it != names.end()) out.push_back(it->second);
    }
    return out;
}
