// One row of the clean-path table HVNCLean. The texts path, keyValue and keyWord are read
// lazily: when the plain value is absent or empty and the matching encrypted block is
// present, the reader decrypts the block, keeps the result and returns it (nullopt when it
// cannot be decrypted); otherwise it returns the plain value. So a shipped row (plain
// columns empty) yields its decrypted texts and a plain working copy its plain texts.
// One thread at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Platform/Value.h"

class HVNPathData {
public:
    HVNPathData() = default;
    // initWithDic: fills the properties from a row dictionary with lower-case keys
    // ("auto_id", "keyword", "isselected", "path", "category", "keyvalue", "path_encrypt",
    // "keyvalue_encrypt", "keyword_encrypt"). Absent or null entries leave a property absent.
    explicit HVNPathData(const hvn::Dictionary& dic);

    int64_t autoId = 0;
    std::optional<std::string> category;
    bool isSelected = false;
    std::optional<hvn::Data> pathEncrypt;
    std::optional<hvn::Data> keyValueEncrypt;
    std::optional<hvn::Data> keyWordEncrypt;

    const std::optional<std::string>& path();
    const std::optional<std::string>& keyValue();
    const std::optional<std::string>& keyWord();
    void setPath(std::optional<std::string> value) { path_ = std::move(value); }
    void setKeyValue(std::optional<std::string> value) { keyValue_ = std::move(value); }
    void setKeyWord(std::optional<std::string> value) { keyWord_ = std::move(value); }

    // The lazy reading shared with HVNSystemOpt: decrypts block into plain when plain is
    // absent or empty and block is present; returns plain.
    static const std::optional<std::string>& readLazily(std::optional<std::string>& plain,
                                                        const std::optional<hvn::Data>& block);
    // Row helpers: a text entry (strings as they are, numbers as their description; null or
    // absent -> nullopt) and a byte-block entry (data only).
    static std::optional<std::string> textEntry(const hvn::Dictionary& dic, const std::string& key);
    static std::optional<hvn::Data> dataEntry(const hvn::Dictionary& dic, const std::string& key);

private:
    std::optional<std::string> path_;
    std::optional<std::string> keyValue_;
    std::optional<std::string> keyWord_;
};
