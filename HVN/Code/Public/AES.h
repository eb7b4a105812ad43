// Operations on a byte block with AES-128 in CBC mode and PKCS#7 padding (the byte-block
// category AES). Key and vector come from material texts: the UTF-8 text is written into a
// zero-filled 17-byte buffer as a C string (terminator included) and the first 16 bytes are
// used; material of more than 16 bytes does not fit and leaves the buffer zero.
// Stateless; any thread.
#pragma once

#include <optional>
#include <string>

#include "Platform/Value.h"

class AES {
public:
    AES() = delete;

    enum Operation { kEncrypt = 0, kDecrypt = 1 };

    static std::optional<hvn::Data> AES128EncryptWithKey(const hvn::Data& data, const std::string& key,
                                                         const std::string& iv);
    static std::optional<hvn::Data> AES128DecryptWithKey(const hvn::Data& data, const std::string& key,
                                                         const std::string& iv);
    // One complete cipher run (operation 0 encrypts, 1 decrypts): the produced bytes, or
    // nullopt on any cipher error (wrong length, bad padding, unknown operation).
    static std::optional<hvn::Data> AES128Operation(int operation, const hvn::Data& data,
                                                    const std::string& key, const std::string& iv);
};
