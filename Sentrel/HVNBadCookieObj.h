// One hit of the bad-cookie search: a row of the bad-cookie table (its domain and
// description still encrypted, as stored) and the browser whose cookie matched it.
#pragma once

#include <memory>
#include <string>

#include "Platform/Value.h"
#include "Sentrel/SentrelExport.h"

class SENTREL_EXPORT HVNBadCookieObj {
public:
    HVNBadCookieObj() = default;
    // Fills auto_id, domain and information from the row keys of the same names.
    explicit HVNBadCookieObj(const hvn::Dictionary& dic);
    static std::shared_ptr<HVNBadCookieObj> initWithDic(const hvn::Dictionary& dic);

    hvn::Value auto_id;       // as it comes
    hvn::Data domain;         // encrypted field
    hvn::Data information;    // encrypted field
    std::string broswerName;  // "Safari", "Firefox" or "Chrome"
};

using HVNBadCookieObjPtr = std::shared_ptr<HVNBadCookieObj>;
