#include "HVN/Code/Clearer/FMDB/HVNSystemOpt.h"

#include "HVN/Code/Clearer/FMDB/HVNPathData.h"

HVNSystemOpt::HVNSystemOpt(const hvn::Dictionary& dic)
    : auto_id(dic.count("auto_id") ? dic.at("auto_id").asInteger() : 0),
      opt_type(HVNPathData::textEntry(dic, "opt_type")),
      broswer(HVNPathData::textEntry(dic, "broswer")),
      config_file_path_encrypt(HVNPathData::dataEntry(dic, "config_file_path_encrypt")),
      item_name_cn_encrypt(HVNPathData::dataEntry(dic, "item_name_cn_encrypt")),
      item_name_en_encrypt(HVNPathData::dataEntry(dic, "item_name_en_encrypt")),
      item_key_encrypt(HVNPathData::dataEntry(dic, "item_key_encrypt")),
      item_value_encrypt(HVNPathData::dataEntry(dic, "item_value_encrypt")),
      config_file_path_(HVNPathData::textEntry(dic, "config_file_path")),
      item_name_cn_(HVNPathData::textEntry(dic, "item_name_cn")),
      item_name_en_(HVNPathData::textEntry(dic, "item_name_en")),
      item_key_(HVNPathData::textEntry(dic, "item_key")),
      item_value_(HVNPathData::textEntry(dic, "item_value")) {}

const std::optional<std::string>& HVNSystemOpt::config_file_path() {
    return HVNPathData::readLazily(config_file_path_, config_file_path_encrypt);
}
const std::optional<std::string>& HVNSystemOpt::item_name_cn() {
    return HVNPathData::readLazily(item_name_cn_, item_name_cn_encrypt);
}
const std::optional<std::string>& HVNSystemOpt::item_name_en() {
    return HVNPathData::readLazily(item_name_en_, item_name_en_encrypt);
}
const std::optional<std::string>& HVNSystemOpt::item_key() {
    return HVNPathData::readLazily(item_key_, item_key_encrypt);
}
const std::optional<std::string>& HVNSystemOpt::item_value() {
    return HVNPathData::readLazily(item_value_, item_value_encrypt);
}
