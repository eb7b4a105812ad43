// The library's cookie database manager: the program's manager in the library's flavour
// (every record kept, deletion errors and row counts logged).
#pragma once

#include "HVN/Code/Clearer/FMDB/HVNCookieDBManager.h"
#include "HVN/Code/Clearer/FMDB/HVNCookiesData.h"
#include "Sentrel/SentrelExport.h"

class SENTREL_EXPORT VirusCookieDBManager : public HVNCookieDBManager {
public:
    VirusCookieDBManager() : HVNCookieDBManager(true) {}
};

using VirusCookiesData = HVNCookiesData;
