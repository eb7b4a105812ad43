#include "HVN/Code/Public/EncryptManager.h"

#include "HVN/Code/Public/AES.h"

std::optional<hvn::Data> EncryptManager::encryptString(const std::string& text) {
    return AES::AES128EncryptWithKey(hvn::Data(text.begin(), text.end()), kKeyMaterial, kIVMaterial);
}

std::optional<std::string> EncryptManager::decryptData(const hvn::Data& block) {
    auto plain = AES::AES128DecryptWithKey(block, kKeyMaterial, kIVMaterial);
    if (!plain) return std::nullopt;
    std::string text(plain->begin(), plain->end());
    if (!isValidUTF8(text)) return std::nullopt;
    return text;
}

bool EncryptManager::isValidUTF8(const std::string& bytes) {
    size_t i = 0, n = bytes.size();
    while (i < n) {
        auto c = static_cast<unsigned char>(bytes[i]);
        size_t extra;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= n) return false;
        for (size_t k = 1; k <= extra; ++k) {
            auto cc = static_cast<unsigned char>(bytes[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF.
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}
