#include "Sentrel/VirusSignatureIndex.h"

#include <sys/stat.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SENTREL_X86 1
#endif

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

namespace {

// Two spans closer than this share one read: a second read costs more than a few pages.
constexpr uint64_t kMergeGap = 16 * 1024;
// ... unless the window would grow beyond this (spans that overlap always share one).
constexpr uint64_t kMaxMergedWindow = 16 * 1024 * 1024;
// Start offsets beyond this cannot be in any file; such signatures never match.
constexpr uint64_t kMaxStart = uint64_t{1} << 62;

constexpr size_t kBlock = 32;
// Bytes after the largest window: a block's loads reach 33 bytes past its first place.
constexpr size_t kPadding = 2 * kBlock + 8;

using Block = VirusSignatureIndex::Block;

// The first block of [from, to) whose taken places hold their two expected bytes in `data`
// (the window's bytes), with those places in *bits; `to` when there is none.
uint32_t scanPortable(const uint8_t* data, const Block* blocks, const uint8_t* pairs, uint32_t from, uint32_t to,
                      uint32_t* bits) {
    for (uint32_t i = from; i < to; ++i) {
        const uint8_t* d = data + blocks[i].offset;
        const uint8_t* e = pairs + size_t{i} * 2 * kBlock;
        uint32_t b = 0;
        for (uint32_t rest = blocks[i].cover; rest; rest &= rest - 1) {
            const int j = std::countr_zero(rest);
            if (d[j] == e[j] && d[j + 1] == e[kBlock + j]) b |= 1u << j;
        }
        if (b) {
            *bits = b;
            return i;
        }
    }
    return to;
}

#ifdef SENTREL_X86
__attribute__((target("sse2"))) uint32_t scanSse2(const uint8_t* data, const Block* blocks, const uint8_t* pairs,
                                                 uint32_t from, uint32_t to, uint32_t* bits) {
    for (uint32_t i = from; i < to; ++i) {
        const uint8_t* d = data + blocks[i].offset;
        const uint8_t* e = pairs + size_t{i} * 2 * kBlock;
        auto half = [&](int h) {
            __m128i first = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 16 * h)),
                                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(e + 16 * h)));
            __m128i second = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 16 * h + 1)),
                                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(e + kBlock + 16 * h)));
            return static_cast<uint32_t>(_mm_movemask_epi8(_mm_and_si128(first, second)));
        };
        const uint32_t b = (half(0) | half(1) << 16) & blocks[i].cover;
        if (b) {
            *bits = b;
            return i;
        }
    }
    return to;
}

__attribute__((target("avx2"))) uint32_t scanAvx2(const uint8_t* data, const Block* blocks, const uint8_t* pairs,
                                                 uint32_t from, uint32_t to, uint32_t* bits) {
    for (uint32_t i = from; i < to; ++i) {
        const uint8_t* d = data + blocks[i].offset;
        const uint8_t* e = pairs + size_t{i} * 2 * kBlock;
        __m256i first = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(d)),
                                          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(e)));
        __m256i second = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + 1)),
                                           _mm256_loadu_si256(reinterpret_cast<const __m256i*>(e + kBlock)));
        const uint32_t b = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(first, second))) & blocks[i].cover;
        if (b) {
            *bits = b;
            return i;
        }
    }
    return to;
}
#endif

using ScanFn = uint32_t (*)(const uint8_t*, const Block*, const uint8_t*, uint32_t, uint32_t, uint32_t*);

// The widest compare this processor has, chosen once.
ScanFn scanner() {
#ifdef SENTREL_X86
    static const ScanFn chosen = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2")) return &scanAvx2;
        if (__builtin_cpu_supports("sse2")) return &scanSse2;
        return &scanPortable;
    }();
    return chosen;
#else
    return &scanPortable;
#endif
}

// Reads up to `want` bytes at `offset`; fewer only at the end of the file or on an error.
size_t readFully(int fd, uint8_t* buffer, size_t want, uint64_t offset) {
    size_t got = 0;
    while (got < want) {
        ssize_t n = ::pread(fd, buffer + got, want - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    return got;
}

// One reusable read buffer per thread, grown as needed (zeroed once when it grows).
uint8_t* threadBuffer(size_t size) {
    thread_local std::unique_ptr<uint8_t[]> buffer;
    thread_local size_t capacity = 0;
    if (capacity < size) {
        buffer = std::make_unique<uint8_t[]>(size);
        capacity = size;
    }
    return buffer.get();
}

}  // namespace

VirusSignatureIndex::VirusSignatureIndex(const std::vector<HVNVirusCodeObjPtr>& list, bool keepList)
    : keptList_(keepList) {
    if (keepList) list_ = list;
    const size_t n = list.size();
    names_.resize(n);
    prefixMax_.resize(n);

    struct Valid {
        uint64_t start;
        uint32_t length;
        uint32_t position;
        uint64_t code;
    };
    std::vector<Valid> valid;
    uint64_t longest = 0;
    for (size_t i = 0; i < n; ++i) {
        const HVNVirusCodeObj* sig = list[i].get();
        if (sig) {
            names_[i] = sig->virus_name;
            longest = std::max<uint64_t>(longest, sig->virus_code.size());
        }
        prefixMax_[i] = longest;
        if (!sig || sig->virus_code.empty() || sig->start_index < 0) continue;
        const uint64_t start = static_cast<uint64_t>(sig->start_index);
        const size_t length = sig->virus_code.size();
        if (start > kMaxStart || length > std::numeric_limits<uint32_t>::max() ||
            i >= std::numeric_limits<uint32_t>::max()) {
            continue;
        }
        valid.push_back({start, static_cast<uint32_t>(length), static_cast<uint32_t>(i), code_.size()});
        code_.insert(code_.end(), sig->virus_code.begin(), sig->virus_code.end());
    }
    valid_ = valid.size();
    std::sort(valid.begin(), valid.end(), [](const Valid& a, const Valid& b) {
        return a.start != b.start ? a.start < b.start : a.position < b.position;
    });

    // Windows over the spans in start order; every span lies inside one window.
    std::vector<size_t> windowOf(valid.size());
    for (size_t k = 0; k < valid.size(); ++k) {
        const uint64_t s = valid[k].start;
        const uint64_t e = s + valid[k].length;
        if (!windows_.empty()) {
            Window& last = windows_.back();
            const bool overlaps = s < last.end;
            const bool close = s - std::min(s, last.end) <= kMergeGap && e - last.start <= kMaxMergedWindow;
            if (overlaps || close) {
                last.end = std::max(last.end, e);
                last.minPosition = std::min(last.minPosition, valid[k].position);
                windowOf[k] = windows_.size() - 1;
                continue;
            }
        }
        Window w;
        w.start = s;
        w.end = e;
        w.minPosition = valid[k].position;
        windows_.push_back(w);
        windowOf[k] = windows_.size() - 1;
    }

    // Filter blocks and one-byte probes, grouped by window (the spans are in window order).
    // The candidates end up in block order, each block's in the order of its bits.
    std::vector<Candidate> reordered;
    struct Place {
        uint32_t block;  // offset / 32
        uint32_t layer;  // signatures before it at the same offset
        uint32_t bit;
        uint32_t candidate;
    };
    for (size_t k = 0; k < valid.size();) {
        Window& w = windows_[windowOf[k]];
        w.shortBegin = static_cast<uint32_t>(short_.size());
        std::vector<Place> places;
        uint64_t previousStart = UINT64_MAX;
        uint32_t layer = 0;
        for (; k < valid.size() && &windows_[windowOf[k]] == &w; ++k) {
            const Valid& v = valid[k];
            const Candidate c{v.start, v.length, v.position, v.code};
            const uint32_t offset = static_cast<uint32_t>(v.start - w.start);
            if (v.length == 1) {
                shortOffset_.push_back(offset);
                shortByte_.push_back(code_[v.code]);
                short_.push_back(c);
                continue;
            }
            layer = v.start == previousStart ? layer + 1 : 0;
            previousStart = v.start;
            places.push_back({offset / static_cast<uint32_t>(kBlock), layer, offset % static_cast<uint32_t>(kBlock),
                              static_cast<uint32_t>(blockCandidates_.size())});
            blockCandidates_.push_back(c);
        }
        w.shortEnd = static_cast<uint32_t>(short_.size());
        // Blocks by offset, the layers of one offset side by side; places by bit inside one.
        std::sort(places.begin(), places.end(), [](const Place& a, const Place& b) {
            if (a.block != b.block) return a.block < b.block;
            if (a.layer != b.layer) return a.layer < b.layer;
            return a.bit < b.bit;
        });
        w.blockBegin = static_cast<uint32_t>(blocks_.size());
        for (size_t i = 0; i < places.size();) {
            Block b;
            b.offset = places[i].block * static_cast<uint32_t>(kBlock);
            b.firstHit = static_cast<uint32_t>(reordered.size());
            const size_t pairsAt = pairs_.size();
            pairs_.resize(pairsAt + 2 * kBlock, 0);
            const uint32_t blockIndex = places[i].block, blockLayer = places[i].layer;
            for (; i < places.size() && places[i].block == blockIndex && places[i].layer == blockLayer; ++i) {
                const Candidate& c = blockCandidates_[places[i].candidate];
                b.cover |= 1u << places[i].bit;
                pairs_[pairsAt + places[i].bit] = code_[c.code];
                pairs_[pairsAt + kBlock + places[i].bit] = code_[c.code + 1];
                reordered.push_back(c);
            }
            blocks_.push_back(b);
        }
        w.blockEnd = static_cast<uint32_t>(blocks_.size());
        largestWindow_ = std::max<size_t>(largestWindow_, w.end - w.start);
    }
    blockCandidates_ = std::move(reordered);

    // With one window from which every signature, valid or not, fits, one read of a byte
    // more than the window tells all the matching needs of the file's length.
    lengthFromReads_ = windows_.size() == 1 && longest <= windows_[0].end;
}

bool VirusSignatureIndex::isFor(const std::vector<HVNVirusCodeObjPtr>& list) const {
    if (!keptList_ || list.size() != list_.size()) return false;
    if (list.empty()) return true;
    // A shared pointer is its object's and its owner block's addresses: equal bytes are the
    // same entry. Much faster than a loop over the entries for long lists.
    static_assert(sizeof(HVNVirusCodeObjPtr) == 2 * sizeof(void*));
    return std::memcmp(static_cast<const void*>(list.data()), static_cast<const void*>(list_.data()),
                       list.size() * sizeof(HVNVirusCodeObjPtr)) == 0;
}

size_t VirusSignatureIndex::stopPosition(uint64_t length) const {
    return static_cast<size_t>(std::upper_bound(prefixMax_.begin(), prefixMax_.end(), length) - prefixMax_.begin());
}

void VirusSignatureIndex::probeWindow(const Window& w, const uint8_t* buffer, uint64_t length, uint32_t& limit,
                                      int64_t& best) const {
    // Only a signature that ends before the file's last byte is compared: S + L < length,
    // so no place after length - 2 can start one.
    if (length < 2 || w.start > length - 2) return;
    const uint64_t lastPlace = length - 2 - w.start;
    auto confirm = [&](const Candidate& c, size_t compared) {
        if (c.position >= limit || c.start + c.length >= length) return;
        const uint8_t* at = buffer + (c.start - w.start);
        if (std::memcmp(at + compared, code_.data() + c.code + compared, c.length - compared) == 0) {
            limit = c.position;
            best = c.position;
        }
    };

    // The blocks up to the one holding the last place.
    auto lastBlock = std::upper_bound(blocks_.begin() + w.blockBegin, blocks_.begin() + w.blockEnd, lastPlace,
                                      [](uint64_t place, const Block& b) { return place < b.offset; });
    const uint32_t blockEnd = static_cast<uint32_t>(lastBlock - blocks_.begin());
    const ScanFn scan = scanner();
    for (uint32_t i = w.blockBegin; i < blockEnd; ++i) {
        uint32_t bits = 0;
        i = scan(buffer, blocks_.data(), pairs_.data(), i, blockEnd, &bits);
        if (i >= blockEnd) break;
        const Block& b = blocks_[i];
        for (uint32_t rest = bits; rest; rest &= rest - 1) {
            const uint32_t bit = static_cast<uint32_t>(std::countr_zero(rest));
            const uint32_t below = b.cover & ((1u << bit) - 1);
            confirm(blockCandidates_[b.firstHit + static_cast<uint32_t>(std::popcount(below))], 2);
        }
    }
    for (uint32_t i = w.shortBegin; i < w.shortEnd; ++i) {
        if (short_[i].start - w.start > lastPlace) break;
        if (buffer[shortOffset_[i]] == shortByte_[i]) confirm(short_[i], 1);
    }
}

int64_t VirusSignatureIndex::match(int fd, std::optional<uint64_t> length) const {
    if (windows_.empty()) return -1;
    if (!length && !lengthFromReads_) {
        struct ::stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
        length = static_cast<uint64_t>(st.st_size);
    }
    // A signature must end before the last byte, so a file of one byte matches nothing.
    if (length && *length < 2) return -1;
    uint8_t* buffer = threadBuffer(largestWindow_ + kPadding);
    int64_t best = -1;

    if (!length) {
        // One window holds every signature: read it and one byte more. A short read is the
        // file's end; a full one means the file goes on past every signature, which is all
        // the matching asks of its length.
        const Window& w = windows_[0];
        const size_t want = static_cast<size_t>(w.end - w.start) + 1;
        const size_t got = readFully(fd, buffer, want, w.start);
        const uint64_t known = got < want ? w.start + got : w.end + 1;
        if (known < 2) return -1;
        uint32_t limit = static_cast<uint32_t>(std::min<size_t>(stopPosition(known), std::numeric_limits<uint32_t>::max()));
        if (limit > 0) probeWindow(w, buffer, known, limit, best);
        return best;
    }

    const size_t stop = stopPosition(*length);
    uint32_t limit = static_cast<uint32_t>(std::min<size_t>(stop, std::numeric_limits<uint32_t>::max()));
    if (limit == 0) return -1;
    uint64_t readable = *length - 1;  // the last byte is never compared
    for (const Window& w : windows_) {
        if (w.start >= readable) break;
        if (w.minPosition >= limit) continue;
        const size_t want = static_cast<size_t>(std::min(w.end, readable) - w.start);
        const size_t got = readFully(fd, buffer, want, w.start);
        if (got < want) {
            // The file ended early (it shrank, or a read failed): it is as long as what was read.
            const uint64_t shorter = w.start + got;
            if (shorter < 2) break;
            limit = static_cast<uint32_t>(std::min<size_t>(stopPosition(shorter), limit));
            probeWindow(w, buffer, shorter, limit, best);
            break;
        }
        probeWindow(w, buffer, *length, limit, best);
    }
    return best;
}
