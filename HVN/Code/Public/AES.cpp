#include "HVN/Code/Public/AES.h"

#include <array>
#include <cstring>

#include "Platform/Crypto.h"

namespace {
// 16 bytes of key material: the text as a C string in a zero-filled 17-byte buffer.
std::array<uint8_t, 17> material(const std::string& text) {
    std::array<uint8_t, 17> buffer{};
    if (text.size() + 1 <= buffer.size()) std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
    return buffer;
}
}  // namespace

std::optional<hvn::Data> AES::AES128EncryptWithKey(const hvn::Data& data, const std::string& key,
                                                   const std::string& iv) {
    return AES128Operation(kEncrypt, data, key, iv);
}

std::optional<hvn::Data> AES::AES128DecryptWithKey(const hvn::Data& data, const std::string& key,
                                                   const std::string& iv) {
    return AES128Operation(kDecrypt, data, key, iv);
}

std::optional<hvn::Data> AES::AES128Operation(int operation, const hvn::Data& data, const std::string& key,
                                              const std::string& iv) {
    if (operation != kEncrypt && operation != kDecrypt) return std::nullopt;
    auto keyBytes = material(key);
    auto ivBytes = material(iv);
    return hvn::Crypto::aes128cbc(operation == kEncrypt, data, keyBytes.data(), ivBytes.data());
}
