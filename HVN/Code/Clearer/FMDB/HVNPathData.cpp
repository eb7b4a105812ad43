#include "HVN/Code/Clearer/FMDB/HVNPathData.h"

#include "HVN/Code/Public/EncryptManager.h"

HVNPathData::HVNPathData(const hvn::Dictionary& dic)
    : autoId(dic.count("auto_id") ? dic.at("auto_id").asInteger() : 0),
      category(textEntry(dic, "category")),
      isSelected(dic.count("isselected") ? dic.at("isselected").asBool() : false),
      pathEncrypt(dataEntry(dic, "path_encrypt")),
      keyValueEncrypt(dataEntry(dic, "keyvalue_encrypt")),
      keyWordEncrypt(dataEntry(dic, "keyword_encrypt")),
      path_(textEntry(dic, "path")),
      keyValue_(textEntry(dic, "keyvalue")),
      keyWord_(textEntry(dic, "keyword")) {}

const std::optional<std::string>& HVNPathData::readLazily(std::optional<std::string>& plain,
                                                          const std::optional<hvn::Data>& block) {
    if ((!plain || plain->empty()) && block) plain = EncryptManager::decryptData(*block);
    return plain;
}

const std::optional<std::string>& HVNPathData::path() {
    return readLazily(path_, pathEncrypt);
}
const std::optional<std::string>& HVNPathData::keyValue() {
    return readLazily(keyValue_, keyValueEncrypt);
}
const std::optional<std::string>& HVNPathData::keyWord() {
    return readLazily(keyWord_, keyWordEncrypt);
}

std::optional<std::string> HVNPathData::textEntry(const hvn::Dictionary& dic, const std::string& key) {
    auto it = dic.find(key);
    if (it == dic.end() || it->second.isNull()) return std::nullopt;
    if (it->second.isString()) return it->second.asString();
    if (it->second.isData()) {
        std::string text(it->second.asData().begin(), it->second.asData().end());
        if (EncryptManager::isValidUTF8(text)) return text;
        return std::nullopt;
    }
    return it->second.description();
}

std::optional<hvn::Data> HVNPathData::dataEntry(const hvn::Dictionary& dic, const std::string& key) {
    auto it = dic.find(key);
    if (it == dic.end() || !it->second.isData()) return std::nullopt;
    return it->second.asData();
}
