// The cookie operations of the rule-database manager: each browser's store as a list of
// normalised domains, and the removal of the cookies of given domains.
#include <algorithm>
#include <set>

#include "HVN/Code/Clearer/HVNScaneOuputObject.h"
#include "HVN/Code/Clearer/FMDB/HVNPathDBManager.h"
#include "Platform/HTTPCookieStorage.h"

namespace {

void addOnce(std::vector<std::string>& list, std::string s) {
    if (std::find(list.begin(), list.end(), s) == list.end()) list.push_back(std::move(s));
}

using Nodes = std::vector<std::shared_ptr<HVNScaneOuputObject>>;

// Deletes, through the browser's manager, the domains the nodes name. A domain is deleted
// also when the stores did not list it just now: a store the browser holds locked cannot be
// read, and its cookies must then be reported as not cleaned rather than passed over.
bool cleanStore(const std::vector<std::string>&, HVNCookieDBManager* manager, const char* type,
                const Nodes& nodes, std::vector<HVNPathDBManager::CookieCleanFailure>* failures,
                const std::vector<std::string>& spared) {
    std::vector<std::string> noted;
    for (const auto& node : nodes) {
        if (!node || node->cookieDomain.empty()) continue;
        addOnce(noted, node->cookieDomain);
    }
    bool all = true;
    for (const auto& domain : noted) {
        if (!manager) break;
        std::vector<HVNCookieDBManager::StoreFailure> storeFailures;
        if (!manager->deleteCookie(domain, type, spared, &storeFailures)) {
            all = false;
            if (failures) {
                for (const auto& f : storeFailures) failures->push_back({domain, f.storePath, f.reason});
            }
        }
    }
    return all;
}

}  // namespace

std::string HVNPathDBManager::deleteFirstDot(const std::string& domain) {
    return HVNCookieDBManager::deleteFirstDot(domain);
}

std::vector<std::string> HVNPathDBManager::getSafariCookie() {
    return hvn::HTTPCookieStorage::sharedHTTPCookieStorage().normalizedDomains();
}

std::vector<std::string> HVNPathDBManager::getChromeCookie() {
    chromeCookieDB = std::make_unique<HVNCookieDBManager>();
    chromeCookieDB->connectDatabase("chrome");
    return chromeCookieDB->getDomains("chrome");
}

std::vector<std::string> HVNPathDBManager::getFireFoxCookie() {
    firefoxCookieDB = std::make_unique<HVNCookieDBManager>();
    firefoxCookieDB->connectDatabase("firefox");
    return firefoxCookieDB->getDomains("firefox");
}

bool HVNPathDBManager::cleanSafariCookies(const Nodes& nodes, std::vector<CookieCleanFailure>* failures,
                                          const std::vector<std::string>& spared) {
    // Whole normalised domains only: a sub-domain's cookies stay.
    std::set<std::string> wanted;
    for (const auto& node : nodes) {
        if (!node || node->cookieDomain.empty()) continue;
        if (std::find(spared.begin(), spared.end(), node->cookieDomain) != spared.end()) continue;
        wanted.insert(node->cookieDomain);
    }
    if (wanted.empty()) return true;
    auto storage = hvn::HTTPCookieStorage::sharedHTTPCookieStorage();
    auto result = storage.deleteCookiesWhere(
        [&](const hvn::HTTPCookie& c) { return wanted.count(deleteFirstDot(c.domain)) > 0; });
    if (!result.ok && failures) {
        for (const auto& d : wanted) failures->push_back({d, storage.path(), result.error});
    }
    return result.ok;
}

bool HVNPathDBManager::cleanChromeCookies(const Nodes& nodes, std::vector<CookieCleanFailure>* failures,
                                          const std::vector<std::string>& spared) {
    std::vector<std::string> listed = getChromeCookie();
    return cleanStore(listed, chromeCookieDB.get(), "chrome", nodes, failures, spared);
}

bool HVNPathDBManager::cleanFireFoxCookies(const Nodes& nodes, std::vector<CookieCleanFailure>* failures,
                                           const std::vector<std::string>& spared) {
    std::vector<std::string> listed = getFireFoxCookie();
    return cleanStore(listed, firefoxCookieDB.get(), "firefox", nodes, failures, spared);
}
