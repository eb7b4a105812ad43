#include "Sentrel/HVNBadCookieObj.h"

namespace {

hvn::Data dataOf(const hvn::Dictionary& dic, const char* key) {
    auto it = dic.find(key);
    if (it == dic.end()) return {};
    if (it->second.isData()) return it->second.asData();
    // A text stored where a block belongs (a plain working copy) is kept as its bytes.
    if (it->second.isString()) {
        const std::string& s = it->second.asString();
        return hvn::Data(s.begin(), s.end());
    }
    return {};
}

}  // namespace

HVNBadCookieObj::HVNBadCookieObj(const hvn::Dictionary& dic)
    : domain(dataOf(dic, "domain")), information(dataOf(dic, "information")) {
    auto it = dic.find("auto_id");
    if (it != dic.end()) auto_id = it->second;
}

std::shared_ptr<HVNBadCookieObj> HVNBadCookieObj::initWithDic(const hvn::Dictionary& dic) {
    return std::make_shared<HVNBadCookieObj>(dic);
}
