// The library's cookie domain lists: the same stores as the program's, read with the
// library's reader, which keeps every record (a value that is no text gives no domain).
#include "Platform/HTTPCookieStorage.h"
#include "Sentrel/VirusPathDBManager.h"

std::vector<std::string> VirusPathDBManager::getSafariCookie() {
    return hvn::HTTPCookieStorage::sharedHTTPCookieStorage().normalizedDomains(true);
}

std::vector<std::string> VirusPathDBManager::getChromeCookie() {
    chromeCookieDB = std::make_unique<VirusCookieDBManager>();
    chromeCookieDB->connectDatabase("chrome");
    return chromeCookieDB->getDomains("chrome");
}

std::vector<std::string> VirusPathDBManager::getFireFoxCookie() {
    firefoxCookieDB = std::make_unique<VirusCookieDBManager>();
    firefoxCookieDB->connectDatabase("firefox");
    return firefoxCookieDB->getDomains("firefox");
}
