#include "Sentrel/VirusEncryptManager.h"

#include "HVN/Code/Public/EncryptManager.h"

std::optional<hvn::Data> VirusEncryptManager::encryptString(const std::string& text) {
    return EncryptManager::encryptString(text);
}

std::optional<std::string> VirusEncryptManager::decryptData(const hvn::Data& block) {
    return EncryptManager::decryptData(block);
}
