#include "HVN/Code/Setting/HVNWhiteListVC.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/Bundle.h"
#include "Platform/FileManager.h"
#include "Platform/HTTPCookieStorage.h"
#include "Platform/Log.h"
#include "Platform/PropertyList.h"
#include "Platform/Roots.h"

namespace {

bool contains(const std::vector<std::string>& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}

void addOnce(std::vector<std::string>& list, const std::string& s) {
    if (!contains(list, s)) list.push_back(s);
}

void removeAll(std::vector<std::string>& list, const std::string& s) {
    list.erase(std::remove(list.begin(), list.end(), s), list.end());
}

const char* typeOf(HVNCookieBrowser browser) {
    return browser == HVNCookieBrowser::Chrome ? "chrome" : "firefox";
}

std::vector<HVNListRow> domainRows(const std::vector<std::string>& domains) {
    std::vector<HVNListRow> rows;
    rows.reserve(domains.size());
    for (const auto& d : domains) {
        HVNListRow row;
        row.cells = {d};
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace

HVNWhiteListVC::HVNWhiteListVC(HVNScreenView* view) : HVNBaseVC(view) {
    setText(kExplanationLabel, kExplanation);
    setText(kWhiteListTitleLabel, kWhiteListTitle);
    buildLists();
    cleanFinishObserver_ = hvn::NotificationCenter::defaultCenter().addObserver(
        kCleanFinishNotification, [this](const hvn::Notification&) { buildLists(); });
}

HVNWhiteListVC::~HVNWhiteListVC() = default;

std::string HVNWhiteListVC::whiteListPath() {
    return hvn::Roots::home() + "/Library/ignore.plist";
}

std::string HVNWhiteListVC::deleteFirstDot(const std::string& domain) {
    return HVNCookieDBManager::deleteFirstDot(domain);
}

void HVNWhiteListVC::getCookiesKeepList() {
    keepCookiesRecord.clear();
    std::string path = whiteListPath();
    struct stat st {};
    // Without a list of the user's own, the default of the resources is the list. It is read
    // from there rather than copied, so that a scan leaves the home folder as it was; the
    // first change of the list writes the user's file.
    if (lstat(path.c_str(), &st) != 0) path = hvn::Bundle::pathForResource("ignore", "plist");
    if (path.empty()) return;
    auto value = hvn::PropertyList::readFile(path);
    if (!value || !value->isArray()) {
        if (value) hvn::Log::writef("the cookies white list %s is not a list; nothing is kept", path.c_str());
        return;
    }
    for (const auto& v : value->asArray()) {
        if (v.isString()) addOnce(keepCookiesRecord, deleteFirstDot(v.asString()));
    }
}

bool HVNWhiteListVC::writeKeepCookies(const std::vector<std::string>& domains) {
    hvn::Array array;
    for (const auto& d : domains) array.emplace_back(d);
    hvn::FileManager::createDirectoryAtPath(hvn::Roots::home() + "/Library", true);
    std::string error;
    bool ok = hvn::PropertyList::writeFile(whiteListPath(), hvn::Value(std::move(array)), hvn::PlistFormat::XML,
                                           true, &error);
    if (!ok) {
        hvn::Log::writef("cannot write the cookies white list %s: %s", whiteListPath().c_str(), error.c_str());
        getCookiesKeepList();
    } else {
        keepCookiesRecord = domains;
    }
    allCookiesKeywords = keepCookiesRecord;
    showLists();
    return ok;
}

bool HVNWhiteListVC::isKept(const std::string& domain) const {
    return contains(keepCookiesRecord, domain);
}

void HVNWhiteListVC::addToAllCookies(const std::string& domain) {
    addOnce(allCookies, domain);
}

void HVNWhiteListVC::getSafariCookie() {
    safariCookies.clear();
    for (const auto& domain : hvn::HTTPCookieStorage::sharedHTTPCookieStorage().normalizedDomains()) {
        if (isKept(domain)) continue;
        safariCookies.push_back(domain);
        addToAllCookies(domain);
    }
    cookiesData.safari = safariCookies;
}

namespace {

// The records of one browser's stores, normalised in place, each domain once, the kept
// ones left out.
std::vector<HVNCookiesData> gather(HVNCookieDBManager& manager, const char* type,
                                   const std::function<bool(const std::string&)>& kept,
                                   const std::function<void(const std::string&)>& found) {
    manager.connectDatabase(type);
    std::vector<HVNCookiesData> out;
    std::set<std::string> seen;
    for (auto& record : manager.getData(type).value_or(std::vector<HVNCookiesData>{})) {
        std::string domain = HVNCookieDBManager::deleteFirstDot(record.domainText());
        if (domain.empty() || kept(domain) || !seen.insert(domain).second) continue;
        record.baseDomain = domain;
        found(domain);
        out.push_back(std::move(record));
    }
    return out;
}

}  // namespace

void HVNWhiteListVC::getChromeCookie() {
    chromeCookieDB = std::make_unique<HVNCookieDBManager>();
    chromeCookies = gather(
        *chromeCookieDB, "chrome", [this](const std::string& d) { return isKept(d); },
        [this](const std::string& d) { addToAllCookies(d); });
    cookiesData.chrome = chromeCookies;
}

void HVNWhiteListVC::getFireFoxCookie() {
    firefoxCookieDB = std::make_unique<HVNCookieDBManager>();
    fireFoxCookies = gather(
        *firefoxCookieDB, "firefox", [this](const std::string& d) { return isKept(d); },
        [this](const std::string& d) { addToAllCookies(d); });
    cookiesData.firefox = fireFoxCookies;
}

void HVNWhiteListVC::buildLists() {
    allCookies.clear();
    cookiesData = {};
    getCookiesKeepList();
    getSafariCookie();
    const auto apps = HVNCookieBrowsers::applicationPaths();
    if (!apps.safari.empty()) safarifilePath = apps.safari;
    if (!apps.chrome.empty()) chromefilePath = apps.chrome;
    if (!apps.firefox.empty()) firefoxfilePath = apps.firefox;
    // The browsers installed as packages of the system have no application bundle: their
    // stores are read whenever they exist (a browser without stores contributes nothing).
    getChromeCookie();
    getFireFoxCookie();

    allCookiesKeywords = keepCookiesRecord;
    // The removal list hides, for each kept domain, the first listed domain containing it.
    for (const auto& kept : keepCookiesRecord) {
        for (auto it = allCookies.begin(); it != allCookies.end(); ++it) {
            if (HVNCommonFunction::containsIgnoringCase(*it, kept)) {
                allCookies.erase(it);
                break;
            }
        }
    }
    allKeywords = allCookies;
    showLists();
}

void HVNWhiteListVC::showLists() {
    reloadList(kWhiteList, domainRows(filtered(allCookiesKeywords, whiteSearch_)));
    reloadList(kRemovalList, domainRows(filtered(allKeywords, removalSearch_)));
}

HVNNodeList HVNWhiteListVC::getCookies() {
    cookie.clear();
    auto make = [this](const std::string& domain, HVNCookieBrowser browser, const std::string& icon) {
        auto node = HVNScaneOuputObject::create();
        node->setName(domain);
        node->cookieDomain = domain;
        node->setFilePath(HVNCookieBrowsers::location(browser));
        node->isCheck = 1;
        node->icon = icon;
        node->moulde = 4;
        cookie.push_back(node);
    };
    for (const auto& d : safariCookies) make(d, HVNCookieBrowser::Safari, safarifilePath);
    for (const auto& r : chromeCookies) make(r.domainText(), HVNCookieBrowser::Chrome, chromefilePath);
    for (const auto& r : fireFoxCookies) make(r.domainText(), HVNCookieBrowser::Firefox, firefoxfilePath);
    return cookie;
}

HVNNodeList HVNWhiteListVC::cleanCookies(const HVNNodeList& nodes, std::vector<CleanFailure>* failures) {
    // The domains that must stay, per browser: the kept ones, and those of the nodes left
    // unticked (a removal of a parent domain would otherwise reach them).
    std::map<HVNCookieBrowser, std::vector<std::string>> spared;
    for (const auto& n : nodes) {
        if (!n || n->isCheck != 0) continue;
        if (auto b = HVNCookieBrowsers::ofNode(*n)) spared[*b].push_back(n->name());
    }
    HVNNodeList handled;
    std::vector<std::string> safariDomains;
    HVNNodeList safariNodes;
    for (const auto& n : nodes) {
        if (!n || n->isCheck == 0) continue;
        const std::string name = n->name();
        if (name.empty() || isKept(name)) continue;
        auto browser = HVNCookieBrowsers::ofNode(*n);
        if (!browser) continue;
        if (*browser == HVNCookieBrowser::Safari) {
            safariDomains.push_back(name);
            safariNodes.push_back(n);
            continue;
        }
        const auto& records = *browser == HVNCookieBrowser::Chrome ? chromeCookies : fireFoxCookies;
        auto& manager = *browser == HVNCookieBrowser::Chrome ? chromeCookieDB : firefoxCookieDB;
        bool listed = std::any_of(records.begin(), records.end(),
                                  [&](const HVNCookiesData& r) { return r.domainText() == name; });
        bool ok = true;
        if (listed && manager) {
            std::vector<std::string> keep = keepCookiesRecord;
            for (const auto& s : spared[*browser]) keep.push_back(s);
            std::vector<HVNCookieDBManager::StoreFailure> storeFailures;
            ok = manager->deleteCookie(name, typeOf(*browser), keep, &storeFailures);
            if (!ok && failures) {
                for (const auto& f : storeFailures) failures->push_back({n, f.storePath, f.reason});
            }
        }
        if (ok) handled.push_back(n);
    }
    if (!safariNodes.empty()) {
        std::set<std::string> wanted(safariDomains.begin(), safariDomains.end());
        auto storage = hvn::HTTPCookieStorage::sharedHTTPCookieStorage();
        auto result = storage.deleteCookiesWhere(
            [&](const hvn::HTTPCookie& c) { return wanted.count(deleteFirstDot(c.domain)) > 0; });
        for (const auto& n : safariNodes) {
            if (result.ok) {
                handled.push_back(n);
            } else if (failures) {
                failures->push_back({n, storage.path(), result.error});
            }
        }
    }
    for (const auto& n : handled) cookie.erase(std::remove(cookie.begin(), cookie.end(), n), cookie.end());
    return handled;
}

void HVNWhiteListVC::addCookies(const std::vector<std::string>& selected) {
    std::vector<std::string> kept = keepCookiesRecord;
    for (const auto& d : selected) {
        std::string domain = deleteFirstDot(d);
        if (domain.empty()) continue;
        addOnce(kept, domain);
        removeAll(allKeywords, d);
        removeAll(allCookies, d);
    }
    writeKeepCookies(kept);
}

void HVNWhiteListVC::cancelCookies(const std::vector<std::string>& selected) {
    std::vector<std::string> kept = keepCookiesRecord;
    for (const auto& d : selected) {
        if (!contains(kept, d)) continue;
        removeAll(kept, d);
        addOnce(allKeywords, d);
        addOnce(allCookies, d);
    }
    writeKeepCookies(kept);
}

void HVNWhiteListVC::removalListSelectionChanged(size_t selectedCount) {
    setEnabled(kAddButton, selectedCount > 0);
    setEnabled(kCancelButton, false);
}

void HVNWhiteListVC::whiteListSelectionChanged(size_t selectedCount) {
    setEnabled(kCancelButton, selectedCount > 0);
    setEnabled(kAddButton, false);
}

std::vector<std::string> HVNWhiteListVC::filtered(const std::vector<std::string>& list, const std::string& text) {
    std::vector<std::string> out;
    for (const auto& s : list) {
        if (HVNCommonFunction::containsIgnoringCase(s, text)) out.push_back(s);
    }
    if (!text.empty()) std::sort(out.begin(), out.end());
    return out;
}

void HVNWhiteListVC::searchRemovalList(const std::string& text) {
    removalSearch_ = text;
    reloadList(kRemovalList, domainRows(filtered(allKeywords, removalSearch_)));
}

void HVNWhiteListVC::searchWhiteList(const std::string& text) {
    whiteSearch_ = text;
    reloadList(kWhiteList, domainRows(filtered(allCookiesKeywords, whiteSearch_)));
}

void HVNWhiteListVC::disabledCookie(bool disabled) {
    for (const char* element :
         {kRemovalList, kWhiteList, kRemovalSearchField, kWhiteSearchField, kAddButton, kCancelButton}) {
        setEnabled(element, !disabled);
    }
}
