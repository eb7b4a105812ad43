// The signature query of the library's database manager.
#include <sqlite3.h>

#include "HVN/Code/Clearer/FMDB/FMResultSet.h"
#include "Sentrel/VirusPathDBManager.h"

std::vector<HVNVirusCodeObjPtr> VirusPathDBManager::getAllVirusCodeObj() {
    std::vector<HVNVirusCodeObjPtr> codes;
    VirusDatabase& database = *virusDb_;
    if (!database.isOpen()) {
        // The file must exist: opening never creates it.
        if (!database.databasePath() || database.databasePath()->empty()) return codes;
        if (!database.openWithFlags(SQLITE_OPEN_READWRITE)) return codes;
    }
    if (auto rs = database.executeQuery("SELECT * FROM HVN_VIRUS_CODE order by bytes")) {
        while (rs->next()) {
            if (auto row = rs->resultDict()) codes.push_back(HVNVirusCodeObj::initWithDic(*row));
        }
        rs->close();
    }
    database.close();
    return codes;
}
