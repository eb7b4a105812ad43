// One row of the system-option table HVN_SYS_OPT. The five texts are read lazily like the
// texts of HVNPathData (decrypted from their blocks when the plain value is absent or empty).
// One thread at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Platform/Value.h"

class HVNSystemOpt {
public:
    HVNSystemOpt() = default;
    // initWithDic: fills the properties from the row keys of the same names.
    explicit HVNSystemOpt(const hvn::Dictionary& dic);

    int64_t auto_id = 0;
    std::optional<std::string> opt_type;
    std::optional<std::string> broswer;
    std::optional<hvn::Data> config_file_path_encrypt;
    std::optional<hvn::Data> item_name_cn_encrypt;
    std::optional<hvn::Data> item_name_en_encrypt;
    std::optional<hvn::Data> item_key_encrypt;
    std::optional<hvn::Data> item_value_encrypt;

    const std::optional<std::string>& config_file_path();
    const std::optional<std::string>& item_name_cn();
    const std::optional<std::string>& item_name_en();
    const std::optional<std::string>& item_key();
    const std::optional<std::string>& item_value();
    void setConfig_file_path(std::optional<std::string> v) { config_file_path_ = std::move(v); }
    void setItem_name_cn(std::optional<std::string> v) { item_name_cn_ = std::move(v); }
    void setItem_name_en(std::optional<std::string> v) { item_name_en_ = std::move(v); }
    void setItem_key(std::optional<std::string> v) { item_key_ = std::move(v); }
    void setItem_value(std::optional<std::string> v) { item_value_ = std::move(v); }

private:
    std::optional<std::string> config_file_path_;
    std::optional<std::string> item_name_cn_;
    std::optional<std::string> item_name_en_;
    std::optional<std::string> item_key_;
    std::optional<std::string> item_value_;
};
