#include "HVN/Code/Clearer/FMDB/HVNCookieSampleQuery.h"

#include <sqlite3.h>

#include "HVN/Code/Clearer/FMDB/FMResultSet.h"
#include "HVN/Code/Public/EncryptManager.h"

std::optional<hvn::Dictionary> badCookieRowBySample(FMDatabase& cookiesDb, const std::string& sample) {
    if (!cookiesDb.isOpen()) {
        if (!cookiesDb.databasePath() || cookiesDb.databasePath()->empty()) return std::nullopt;
        if (!cookiesDb.openWithFlags(SQLITE_OPEN_READWRITE)) return std::nullopt;
    }
    std::optional<hvn::Dictionary> hit;
    if (auto block = EncryptManager::encryptString(sample)) {
        if (auto rs = cookiesDb.executeQuery("select * from HVN_BAD_COOKIES where domain = ?", {hvn::Value(*block)})) {
            if (rs->next()) hit = rs->resultDict();
            rs->close();
        }
    }
    cookiesDb.close();
    return hit;
}
