#include "Sentrel/HVNBadCookieObj.h"

#include "Sentrel/VirusRowValues.h"

HVNBadCookieObj::HVNBadCookieObj(const hvn::Dictionary& dic)
    : domain(sentrel::bytesEntry(dic, "domain")), information(sentrel::bytesEntry(dic, "information")) {
    auto it = dic.find("auto_id");
    if (it != dic.end()) auto_id = it->second;
}

std::shared_ptr<HVNBadCookieObj> HVNBadCookieObj::initWithDic(const hvn::Dictionary& dic) {
    return std::make_shared<HVNBadCookieObj>(dic);
}
