// The encrypted field of the rule databases: a BLOB holding the AES-128-CBC ciphertext
// (PKCS#7 padding, fixed key and vector) of a UTF-8 text. Equal texts give equal blocks.
// Class methods only; stateless, any thread.
#pragma once

#include <optional>
#include <string>

#include "Platform/Value.h"

class EncryptManager {
public:
    EncryptManager() = delete;

    // The key and vector material compiled into each deliverable.
    static constexpr const char* kKeyMaterial = "QTR5820417736";
    static constexpr const char* kIVMaterial = "Zq7%mT2&";

    // The text's UTF-8 bytes encrypted; nullopt when the cipher fails.
    static std::optional<hvn::Data> encryptString(const std::string& text);
    // The block decrypted and decoded as UTF-8; nullopt when decryption fails (length not a
    // multiple of 16, bad padding) or the result is not valid UTF-8.
    static std::optional<std::string> decryptData(const hvn::Data& block);

    // Maintenance of a clean-path database (default: the bundle's CleanPath.db). These two
    // live with the clean-path database manager (HVNPathDBManager+Maintenance.cpp, in the
    // engine library), so that this layer does not depend on the layer above it; the
    // signature library does not have them.
    // encryptDB fills the encrypted columns from the plain ones, checks them, and only when
    // every text checks out clears the plain columns. True when all of that succeeded.
    static bool encryptDB(const std::string& databasePath = {});
    // Fills the plain columns from the encrypted ones and clears the encrypted ones.
    static bool decryptDB(const std::string& databasePath = {});

    // True when bytes are well-formed UTF-8.
    static bool isValidUTF8(const std::string& bytes);
};
