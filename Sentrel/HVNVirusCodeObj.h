// One signature of the signature database: the exact bytes that must appear at a fixed
// offset of a file for the file to carry the named virus.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Platform/Value.h"
#include "Sentrel/SentrelExport.h"

class SENTREL_EXPORT HVNVirusCodeObj {
public:
    HVNVirusCodeObj() = default;
    // Fills virus_code from "virus_code", virus_name from "virus_name", bytes from "bytes"
    // and start_index from "start_index" (their integer values; a missing or non-numeric
    // value gives 0). auto_id is not filled.
    explicit HVNVirusCodeObj(const hvn::Dictionary& dic);
    static std::shared_ptr<HVNVirusCodeObj> initWithDic(const hvn::Dictionary& dic);

    int64_t auto_id = 0;
    std::string virus_name;
    hvn::Data virus_code;
    int64_t bytes = 0;        // the row's length column; the list is ordered by it
    int64_t start_index = 0;  // offset from the start of the file
};

using HVNVirusCodeObjPtr = std::shared_ptr<HVNVirusCodeObj>;
