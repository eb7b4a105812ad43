// A fast non-cryptographic 128-bit hash, for sorting candidates into buckets before their
// contents are compared byte for byte (so a collision costs a comparison, never a wrong
// group). Several times faster than MD5 on small blocks. Pure; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class THQuickHash {
public:
    THQuickHash() = default;

    void update(const void* data, size_t length);
    // The 32 lower-case hex digits of the hash of every byte given (and of how many). The
    // same pieces in the same order give the same hash.
    std::string finishHex() const;

private:
    uint64_t a_ = 0x243f6a8885a308d3ull;
    uint64_t b_ = 0x13198a2e03707344ull;
    uint64_t length_ = 0;
};
