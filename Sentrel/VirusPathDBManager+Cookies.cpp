// The library's cookie domain lists: the same stores as the program's, read with the
// library's reader, which keeps every record (a value that is no text gives no domain).
#include <algorithm>

#include "Platform/HTTPCookieStorage.h"
#include "Sentrel/VirusPathDBManager.h"

namespace {

void addOnce(std::vector<std::string>& list, std::string s) {
    if (std::find(list.begin(), list.end(), s) == list.end()) list.push_back(std::move(s));
}

std::vector<std::string> domainsOf(VirusCookieDBManager& manager, const char* type) {
    manager.connectDatabase(type);
    std::vector<std::string> out;
    for (const auto& record : manager.getData(type).value_or(std::vector<VirusCookiesData>{})) {
        if (!record.baseDomain.isString()) continue;
        addOnce(out, VirusPathDBManager::deleteFirstDot(record.baseDomain.asString()));
    }
    return out;
}

}  // namespace

std::vector<std::string> VirusPathDBManager::getSafariCookie() {
    std::vector<std::string> out;
    for (const auto& c : hvn::HTTPCookieStorage::sharedHTTPCookieStorage().cookies()) addOnce(out, deleteFirstDot(c.domain));
    return out;
}

std::vector<std::string> VirusPathDBManager::getChromeCookie() {
    chromeCookieDB = std::make_unique<VirusCookieDBManager>();
    return domainsOf(*chromeCookieDB, "chrome");
}

std::vector<std::string> VirusPathDBManager::getFireFoxCookie() {
    firefoxCookieDB = std::make_unique<VirusCookieDBManager>();
    return domainsOf(*firefoxCookieDB, "firefox");
}
