// Reading the values of a row dictionary into the library's records.
#pragma once

#include <string>

#include "Platform/Value.h"

namespace sentrel {

// The bytes under key: a BLOB as it is; a text (a plain working copy of the table) as its
// bytes; anything else, or no value, gives no bytes.
inline hvn::Data bytesEntry(const hvn::Dictionary& dic, const char* key) {
    auto it = dic.find(key);
    if (it == dic.end()) return {};
    if (it->second.isData()) return it->second.asData();
    if (it->second.isString()) {
        const std::string& s = it->second.asString();
        return hvn::Data(s.begin(), s.end());
    }
    return {};
}

}  // namespace sentrel
