#include "Sentrel/VirusPathDBManager.h"

#include <sqlite3.h>

#include "HVN/Code/Clearer/FMDB/FMResultSet.h"
#include "Platform/Bundle.h"
#include "Sentrel/VirusEncryptManager.h"

namespace {

std::string bundleFile(const std::string& given, const char* name) {
    if (!given.empty()) return given;
    std::string resources = hvn::Bundle::resourcePath();
    // Without a bundle the connection gets no file and every read finds nothing.
    return resources.empty() ? std::string() : resources + "/" + name;
}

bool openDatabase(FMDatabase& database) {
    if (database.isOpen()) return true;
    if (!database.databasePath() || database.databasePath()->empty()) return false;
    return database.openWithFlags(SQLITE_OPEN_READWRITE);
}

}  // namespace

VirusPathDBManager::VirusPathDBManager() : VirusPathDBManager(std::string(), std::string(), std::string()) {}

VirusPathDBManager::VirusPathDBManager(std::string cleanPathDb, std::string virusDb, std::string cookiesDb)
    : db_(VirusDatabase::databaseWithPath(bundleFile(cleanPathDb, "CleanPath.db"))),
      virusDb_(VirusDatabase::databaseWithPath(bundleFile(virusDb, "Virus.db"))),
      cookiesDb_(VirusDatabase::databaseWithPath(bundleFile(cookiesDb, "Cookies.db"))) {}

VirusPathDBManager::~VirusPathDBManager() = default;

std::string VirusPathDBManager::deleteFirstDot(const std::string& domain) {
    return !domain.empty() && domain[0] == '.' ? domain.substr(1) : domain;
}

HVNBadCookieObjPtr VirusPathDBManager::getBadCookieBySample(const std::string& sample) {
    if (!openDatabase(*cookiesDb_)) return nullptr;
    HVNBadCookieObjPtr hit;
    // The encryption is deterministic: equal texts give equal blocks, so the look-up is an
    // exact, case-sensitive match of the whole domain.
    if (auto block = VirusEncryptManager::encryptString(sample)) {
        if (auto rs = cookiesDb_->executeQuery("select * from HVN_BAD_COOKIES where domain = ?", {hvn::Value(*block)})) {
            if (rs->next()) {
                if (auto row = rs->resultDict()) hit = HVNBadCookieObj::initWithDic(*row);
            }
            rs->close();
        }
    }
    cookiesDb_->close();
    return hit;
}
