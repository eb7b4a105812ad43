#include "HVN/Code/ToolBox/Duplicate/THDigest.h"

#include <openssl/evp.h>

struct THDigest::Context {
    EVP_MD_CTX* md = nullptr;
    ~Context() { EVP_MD_CTX_free(md); }
};

namespace {
const EVP_MD* evpOf(hvn::Crypto::Digest kind) {
    switch (kind) {
        case hvn::Crypto::Digest::MD5:
            return EVP_md5();
        case hvn::Crypto::Digest::SHA1:
            return EVP_sha1();
        case hvn::Crypto::Digest::SHA256:
            return EVP_sha256();
        case hvn::Crypto::Digest::SHA512:
            return EVP_sha512();
    }
    return EVP_sha256();
}
}  // namespace

std::optional<hvn::Crypto::Digest> THDigest::kindOfNumber(int number) {
    switch (number) {
        case 0:
            return hvn::Crypto::Digest::MD5;
        case 1:
            return hvn::Crypto::Digest::SHA1;
        case 2:
            return hvn::Crypto::Digest::SHA256;
        case 3:
            return hvn::Crypto::Digest::SHA512;
        default:
            return std::nullopt;
    }
}

THDigest::THDigest(hvn::Crypto::Digest kind) : kind_(kind), ctx_(std::make_unique<Context>()) {
    ctx_->md = EVP_MD_CTX_new();
    reset();
}

THDigest::~THDigest() = default;

void THDigest::reset() {
    if (ctx_->md) EVP_DigestInit_ex(ctx_->md, evpOf(kind_), nullptr);
}

void THDigest::update(const void* data, size_t length) {
    if (ctx_->md && length > 0) EVP_DigestUpdate(ctx_->md, data, length);
}

hvn::Data THDigest::finish() {
    hvn::Data out(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    if (ctx_->md) EVP_DigestFinal_ex(ctx_->md, out.data(), &n);
    out.resize(n);
    reset();
    return out;
}

std::string THDigest::finishHex() {
    return hvn::Crypto::toHex(finish());
}
