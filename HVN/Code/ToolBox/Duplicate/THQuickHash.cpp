#include "HVN/Code/ToolBox/Duplicate/THQuickHash.h"

#include <cstring>

namespace {

constexpr uint64_t kP0 = 0xa0761d6478bd642full;
constexpr uint64_t kP1 = 0xe7037ed1a0b428dbull;
constexpr uint64_t kP2 = 0x8ebc6af09c88c6e3ull;

uint64_t load(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// The high and low halves of the full product folded together: every input bit reaches
// every output bit within two rounds.
uint64_t fold(uint64_t x, uint64_t y) {
    __uint128_t m = static_cast<__uint128_t>(x) * y;
    return static_cast<uint64_t>(m) ^ static_cast<uint64_t>(m >> 64);
}

}  // namespace

void THQuickHash::update(const void* data, size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    length_ += length;
    while (length >= 16) {
        const uint64_t x = load(p), y = load(p + 8);
        a_ = fold(x ^ a_ ^ kP0, y ^ kP1) + b_;
        b_ = fold(y ^ b_ ^ kP2, x ^ kP0) ^ a_;
        p += 16;
        length -= 16;
    }
    if (length > 0) {
        unsigned char tail[16] = {};
        std::memcpy(tail, p, length);
        tail[15] = static_cast<unsigned char>(length);
        const uint64_t x = load(tail), y = load(tail + 8);
        a_ = fold(x ^ a_ ^ kP1, y ^ kP2) + b_;
        b_ = fold(y ^ b_ ^ kP0, x ^ kP1) ^ a_;
    }
}

std::string THQuickHash::finishHex() const {
    const uint64_t h1 = fold(a_ ^ kP0, length_ ^ kP1);
    const uint64_t h2 = fold(b_ ^ kP2, h1 ^ kP0);
    static const char* hex = "0123456789abcdef";
    std::string out(32, '0');
    for (int i = 0; i < 16; ++i) {
        out[15 - i] = hex[(h1 >> (4 * i)) & 15];
        out[31 - i] = hex[(h2 >> (4 * i)) & 15];
    }
    return out;
}
