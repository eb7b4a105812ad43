// libFuzzer target for the encrypted field reader: any block must decrypt or be refused
// without a fault, and a block that decrypts must come back from the text it gave.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "HVN/Code/Public/EncryptManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hvn::Data block(data, data + size);
    auto text = EncryptManager::decryptData(block);
    if (!text) return 0;
    if (!EncryptManager::isValidUTF8(*text)) std::abort();
    auto again = EncryptManager::encryptString(*text);
    // Encryption is deterministic: the text gives back the very block it came from.
    if (!again || *again != block) std::abort();
    return 0;
}
