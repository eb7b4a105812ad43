// Cryptography through OpenSSL's EVP interface: AES-128-CBC with PKCS#7 padding, the
// digests MD5, SHA-1, SHA-256, SHA-512 and HMAC over them. Stateless; any thread.
#pragma once

#include <optional>
#include <string>

#include "Platform/Value.h"

namespace hvn::Crypto {

enum class Digest { MD5, SHA1, SHA256, SHA512 };

// One complete AES-128-CBC run with PKCS#7 padding. key and iv must be 16 bytes.
// nullopt on any cipher error (wrong input length or bad padding when decrypting).
std::optional<Data> aes128cbc(bool encrypt, const Data& input, const uint8_t key[16], const uint8_t iv[16]);

// Raw digest bytes of data.
Data digest(Digest kind, const void* data, size_t length);
// Lower-case hexadecimal text of a digest.
std::string digestHex(Digest kind, const void* data, size_t length);
// HMAC of data under key.
Data hmac(Digest kind, const void* key, size_t keyLength, const void* data, size_t length);

std::string toHex(const Data& bytes);

}  // namespace hvn::Crypto
