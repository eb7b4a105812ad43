// The signature query of the rule-database manager; the rows become the library's
// signature objects.
#include "HVN/Code/Clearer/FMDB/FMResultSet.h"
#include "HVN/Code/Clearer/FMDB/HVNPathDBManager.h"

std::vector<HVNVirusCodeObjPtr> HVNPathDBManager::getAllVirusCodeObj() {
    std::vector<HVNVirusCodeObjPtr> codes;
    if (!openDatabase(*virusDb_)) return codes;
    if (auto rs = virusDb_->executeQuery("SELECT * FROM HVN_VIRUS_CODE order by bytes")) {
        while (rs->next()) {
            if (auto row = rs->resultDict()) codes.push_back(HVNVirusCodeObj::initWithDic(*row));
        }
        rs->close();
    }
    virusDb_->close();
    return codes;
}
