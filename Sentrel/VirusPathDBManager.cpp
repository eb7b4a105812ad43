#include "Sentrel/VirusPathDBManager.h"

#include "HVN/Code/Clearer/FMDB/HVNCookieSampleQuery.h"
#include "Platform/Bundle.h"

namespace {

std::string bundleFile(const std::string& given, const char* name) {
    if (!given.empty()) return given;
    std::string resources = hvn::Bundle::resourcePath();
    // Without a bundle the connection gets no file and every read finds nothing.
    return resources.empty() ? std::string() : resources + "/" + name;
}

}  // namespace

VirusPathDBManager::VirusPathDBManager() : VirusPathDBManager(std::string(), std::string(), std::string()) {}

VirusPathDBManager::VirusPathDBManager(std::string cleanPathDb, std::string virusDb, std::string cookiesDb)
    : db_(VirusDatabase::databaseWithPath(bundleFile(cleanPathDb, "CleanPath.db"))),
      virusDb_(VirusDatabase::databaseWithPath(bundleFile(virusDb, "Virus.db"))),
      cookiesDb_(VirusDatabase::databaseWithPath(bundleFile(cookiesDb, "Cookies.db"))) {}

VirusPathDBManager::~VirusPathDBManager() = default;

std::string VirusPathDBManager::deleteFirstDot(const std::string& domain) {
    return HVNCookieDBManager::deleteFirstDot(domain);
}

HVNBadCookieObjPtr VirusPathDBManager::getBadCookieBySample(const std::string& sample) {
    auto row = badCookieRowBySample(*cookiesDb_, sample);
    return row ? HVNBadCookieObj::initWithDic(*row) : nullptr;
}
