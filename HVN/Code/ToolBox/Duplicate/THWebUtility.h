// Hashes of the duplicate finder: digests of bytes, texts and whole files, HMACs, and the
// lazy fingerprints that sort same-size candidates cheaply. Every digest is lower-case
// hexadecimal text, two digits per byte. Hash kinds: 0 MD5, 1 SHA-1, 2 SHA-256,
// 3 SHA-512; any other kind gives nullopt. Class operations only; stateless; any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "Platform/Value.h"

class THWebUtility {
public:
    THWebUtility() = delete;

    enum HashKind : int { MD5 = 0, SHA1 = 1, SHA256 = 2, SHA512 = 3 };

    // The lazy fingerprint of an item: lazyHashPackage for a package folder, lazyMD5File
    // otherwise.
    static std::optional<std::string> lazyHashFile(const std::string& path);
    // MD5 over at most three 4096-byte samples of a regular file of length L: k =
    // min(L / 4096 + 1, 3) samples at offsets j * (L / k). Files under 4096 bytes are hashed
    // whole. nullopt for an empty file, for anything that is not a regular file (a final
    // symbolic link is not followed) and when it cannot be opened or read.
    static std::optional<std::string> lazyMD5File(const std::string& path);
    // The same samples as lazyMD5File under THQuickHash instead of MD5: the engine's first
    // filter, whose buckets are always compared byte for byte afterwards.
    static std::optional<std::string> lazyQuickHashFile(const std::string& path);
    // MD5 of the package's member listing: the entries down to three path components below
    // the package (top-level names beginning with "." or "__MACOSX" left out), a regular file
    // as "NAME-SIZE" with its own size, a folder or link as its relative name, sorted and
    // joined with ",". Links are never followed. nullopt when the package cannot be listed.
    static std::optional<std::string> lazyHashPackage(const std::string& path);

    // The digest of a whole regular file read in 4096-byte blocks; nullopt when the item is
    // no regular file, cannot be opened or a read fails.
    static std::optional<std::string> hashFile(const std::string& path, int with);
    // The digest of the bytes; nullopt for null data or an unknown kind.
    static std::optional<std::string> hashData(const hvn::Data* data, int with);
    static std::optional<std::string> hashData(const hvn::Data& data, int with) {
        return hashData(&data, with);
    }
    // The digest of the text's UTF-8 bytes.
    static std::optional<std::string> hashString(const std::string& string, int with);
    // HMAC under the key's bytes up to its first zero byte (a C string key); nullopt when data
    // or key is null or the kind is unknown.
    static std::optional<std::string> hMacData(const hvn::Data* data, const std::string* withSecretKey,
                                               int withHashKind);
    static std::optional<std::string> hMacString(const std::string* string, const std::string* withSecretKey,
                                                 int withHashKind);

    // The digest of a package's whole contents, for confirming that two packages are the same:
    // every entry below it at any depth, hidden ones included, by relative path and type, with
    // each regular file's SHA-256 and each link's target. Links are never followed. nullopt
    // when any entry cannot be read (an unconfirmed package is no duplicate) or *stop became
    // true.
    static std::optional<std::string> hashPackageContents(const std::string& path,
                                                          const std::atomic<bool>* stop = nullptr);
};
