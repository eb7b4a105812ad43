// Sentrel's field encryption: the same key, vector and format as EncryptManager.
// Class methods only; stateless, any thread.
#pragma once

#include <optional>
#include <string>

#include "Platform/Value.h"

class __attribute__((visibility("default"))) VirusEncryptManager {
public:
    VirusEncryptManager() = delete;
    // The text's UTF-8 bytes encrypted; nullopt when the cipher fails.
    static std::optional<hvn::Data> encryptString(const std::string& text);
    // The block decrypted as UTF-8 text; nullopt when it cannot be decrypted.
    static std::optional<std::string> decryptData(const hvn::Data& block);
};
