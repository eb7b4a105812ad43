// An incremental message digest (MD5, SHA-1, SHA-256, SHA-512) over OpenSSL's EVP
// interface, for contents that are read in pieces. One object per thread; not copyable.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Crypto.h"

class THDigest {
public:
    // The digest kind of a hash kind number: 0 MD5, 1 SHA-1, 2 SHA-256, 3 SHA-512;
    // nullopt for any other number.
    static std::optional<hvn::Crypto::Digest> kindOfNumber(int number);

    explicit THDigest(hvn::Crypto::Digest kind);
    ~THDigest();
    THDigest(const THDigest&) = delete;
    THDigest& operator=(const THDigest&) = delete;

    // Starts over with no bytes.
    void reset();
    void update(const void* data, size_t length);
    void update(const std::string& bytes) { update(bytes.data(), bytes.size()); }
    // The lower-case hexadecimal digest of every byte given since the last reset; the
    // digest starts over afterwards.
    std::string finishHex();
    // The raw digest bytes, likewise.
    hvn::Data finish();

private:
    struct Context;
    hvn::Crypto::Digest kind_;
    std::unique_ptr<Context> ctx_;
};
