// The library's copy of the rule-database manager: the same three files and connections
// ("CleanPath.db", "Virus.db", "Cookies.db" in the bundle's resources), the signature and
// bad-cookie queries, and the cookie domain lists of the three browsers. It has no
// maintenance operations and no row-to-request conversions. Used by one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Sentrel/HVNBadCookieObj.h"
#include "Sentrel/HVNVirusCodeObj.h"
#include "Sentrel/SentrelExport.h"
#include "Sentrel/VirusCookieDBManager.h"
#include "Sentrel/VirusDatabase.h"

class SENTREL_EXPORT VirusPathDBManager {
public:
    VirusPathDBManager();
    // Explicit files; an empty path stands for the bundle's file of that name.
    VirusPathDBManager(std::string cleanPathDb, std::string virusDb, std::string cookiesDb);
    ~VirusPathDBManager();
    VirusPathDBManager(const VirusPathDBManager&) = delete;
    VirusPathDBManager& operator=(const VirusPathDBManager&) = delete;

    VirusDatabase& db() { return *db_; }
    VirusDatabase& virusDb() { return *virusDb_; }
    VirusDatabase& cookiesDb() { return *cookiesDb_; }

    // Every signature, "SELECT * FROM HVN_VIRUS_CODE order by bytes", in query order;
    // empty when virusDb cannot be opened.
    std::vector<HVNVirusCodeObjPtr> getAllVirusCodeObj();
    // The bad-cookie row whose encrypted domain equals the encrypted sample, or null.
    HVNBadCookieObjPtr getBadCookieBySample(const std::string& sample);

    // The distinct normalised domains of one browser, in store order. The Chrome and
    // Firefox readers keep every record (an empty domain included; a value that is no text
    // gives no domain).
    std::vector<std::string> getSafariCookie();
    std::vector<std::string> getChromeCookie();
    std::vector<std::string> getFireFoxCookie();
    static std::string deleteFirstDot(const std::string& domain);

    // The managers made by the last getChromeCookie / getFireFoxCookie.
    std::unique_ptr<VirusCookieDBManager> chromeCookieDB;
    std::unique_ptr<VirusCookieDBManager> firefoxCookieDB;

private:
    std::unique_ptr<VirusDatabase> db_;
    std::unique_ptr<VirusDatabase> virusDb_;
    std::unique_ptr<VirusDatabase> cookiesDb_;
};
