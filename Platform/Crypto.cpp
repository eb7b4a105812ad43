#include "Platform/Crypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <memory>

namespace hvn::Crypto {

namespace {
const EVP_MD* md(Digest kind) {
    switch (kind) {
        case Digest::MD5: return EVP_md5();
        case Digest::SHA1: return EVP_sha1();
        case Digest::SHA256: return EVP_sha256();
        case Digest::SHA512: return EVP_sha512();
    }
    return EVP_sha256();
}
}  // namespace

std::optional<Data> aes128cbc(bool encrypt, const Data& input, const uint8_t key[16], const uint8_t iv[16]) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    if (!ctx) return std::nullopt;
    if (EVP_CipherInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key, iv, encrypt ? 1 : 0) != 1) {
        return std::nullopt;
    }
    EVP_CIPHER_CTX_set_padding(ctx.get(), 1);
    Data out(input.size() + 16);
    int n1 = 0, n2 = 0;
    if (EVP_CipherUpdate(ctx.get(), out.data(), &n1, input.data(), static_cast<int>(input.size())) != 1) {
        return std::nullopt;
    }
    if (EVP_CipherFinal_ex(ctx.get(), out.data() + n1, &n2) != 1) return std::nullopt;
    out.resize(static_cast<size_t>(n1 + n2));
    return out;
}

Data digest(Digest kind, const void* data, size_t length) {
    Data out(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    EVP_Digest(data, length, out.data(), &n, md(kind), nullptr);
    out.resize(n);
    return out;
}

std::string digestHex(Digest kind, const void* data, size_t length) { return toHex(digest(kind, data, length)); }

Data hmac(Digest kind, const void* key, size_t keyLength, const void* data, size_t length) {
    Data out(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    HMAC(md(kind), key, static_cast<int>(keyLength), static_cast<const unsigned char*>(data), length, out.data(),
         &n);
    out.resize(n);
    return out;
}

std::string toHex(const Data& bytes) {
    static const char* hex = "0123456789abcdef";
    std::string s;
    s.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        s += hex[b >> 4];
        s += hex[b & 15];
    }
    return s;
}

}  // namespace hvn::Crypto
