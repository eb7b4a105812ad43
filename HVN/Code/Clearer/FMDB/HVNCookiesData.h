// One cookie record read from a Chrome or Firefox cookie database: one distinct domain
// value of one store.
#pragma once

#include <cstdint>
#include <string>

#include "Platform/Value.h"

class HVNCookiesData {
public:
    int32_t Id = 0;          // not filled
    hvn::Value baseDomain;   // the domain as stored (a text, except in the library's reader)
    std::string storePath;   // the database file it was read from

    // The domain when it is a text, else "".
    std::string domainText() const { return baseDomain.isString() ? baseDomain.asString() : std::string(); }
};
