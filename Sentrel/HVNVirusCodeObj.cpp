#include "Sentrel/HVNVirusCodeObj.h"

#include "Sentrel/VirusRowValues.h"

namespace {

std::string nameOf(const hvn::Dictionary& dic) {
    auto it = dic.find("virus_name");
    if (it == dic.end()) return {};
    if (it->second.isString()) return it->second.asString();
    if (it->second.isData()) return std::string(it->second.asData().begin(), it->second.asData().end());
    if (it->second.isNull()) return {};
    return it->second.description();
}

int64_t integerOf(const hvn::Dictionary& dic, const char* key) {
    auto it = dic.find(key);
    return it == dic.end() ? 0 : it->second.asInteger();
}

}  // namespace

HVNVirusCodeObj::HVNVirusCodeObj(const hvn::Dictionary& dic)
    : virus_name(nameOf(dic)),
      virus_code(sentrel::bytesEntry(dic, "virus_code")),
      bytes(integerOf(dic, "bytes")),
      start_index(integerOf(dic, "start_index")) {}

std::shared_ptr<HVNVirusCodeObj> HVNVirusCodeObj::initWithDic(const hvn::Dictionary& dic) {
    return std::make_shared<HVNVirusCodeObj>(dic);
}
