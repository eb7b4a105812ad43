#include "Sentrel/VirusSignatureIndex.h"

#include <unistd.h>

#include <algorithm>
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

uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The bytes of a short signature as an 8-byte load would see them, and the mask of its bytes.
void shortPattern(const uint8_t* code, size_t length, uint64_t* prefix, uint64_t* mask) {
    uint8_t bytes[8] = {};
    uint8_t ones[8] = {};
    std::memcpy(bytes, code, length);
    std::memset(ones, 0xff, length);
    std::memcpy(prefix, bytes, 8);
    std::memcpy(mask, ones, 8);
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

    // Probes, grouped by window (the spans are already in window order).
    for (size_t k = 0; k < valid.size();) {
        Window& w = windows_[windowOf[k]];
        w.wideBegin = static_cast<uint32_t>(wide_.size());
        w.shortBegin = static_cast<uint32_t>(short_.size());
        for (; k < valid.size() && &windows_[windowOf[k]] == &w; ++k) {
            const Valid& v = valid[k];
            const Candidate c{v.start, v.length, v.position, v.code};
            const uint32_t offset = static_cast<uint32_t>(v.start - w.start);
            if (v.length >= 8) {
                wideOffset_.push_back(offset);
                widePrefix_.push_back(load64(code_.data() + v.code));
                wide_.push_back(c);
            } else {
                uint64_t prefix = 0, mask = 0;
                shortPattern(code_.data() + v.code, v.length, &prefix, &mask);
                shortOffset_.push_back(offset);
                shortPrefix_.push_back(prefix);
                shortMask_.push_back(mask);
                short_.push_back(c);
            }
        }
        w.wideEnd = static_cast<uint32_t>(wide_.size());
        w.shortEnd = static_cast<uint32_t>(short_.size());
        largestWindow_ = std::max<size_t>(largestWindow_, w.end - w.start);
    }
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

void VirusSignatureIndex::probeWindow(const Window& w, const uint8_t* buffer, uint64_t length,
                                      uint32_t& limit, int64_t& best) const {
    // Only a signature that ends before the file's last byte is compared: S + L < length.
    const uint64_t lastStart = length - 2;  // length >= 2 here
    auto endOf = [lastStart](const std::vector<Candidate>& probes, uint32_t begin, uint32_t end) {
        auto it = std::upper_bound(probes.begin() + begin, probes.begin() + end, lastStart,
                                   [](uint64_t s, const Candidate& c) { return s < c.start; });
        return static_cast<uint32_t>(it - probes.begin());
    };
    auto confirm = [&](const Candidate& c, size_t compared) {
        if (c.position >= limit || c.start + c.length >= length) return;
        const uint8_t* at = buffer + (c.start - w.start);
        if (std::memcmp(at + compared, code_.data() + c.code + compared, c.length - compared) == 0) {
            limit = c.position;
            best = c.position;
        }
    };

    const uint32_t wideEnd = endOf(wide_, w.wideBegin, w.wideEnd);
    const uint32_t* offsets = wideOffset_.data();
    const uint64_t* prefixes = widePrefix_.data();
    for (uint32_t i = w.wideBegin; i < wideEnd; ++i) {
        if (load64(buffer + offsets[i]) == prefixes[i]) [[unlikely]] {
            confirm(wide_[i], 8);
        }
    }
    const uint32_t shortEnd = endOf(short_, w.shortBegin, w.shortEnd);
    for (uint32_t i = w.shortBegin; i < shortEnd; ++i) {
        if ((load64(buffer + shortOffset_[i]) & shortMask_[i]) == shortPrefix_[i]) confirm(short_[i], short_[i].length);
    }
}

int64_t VirusSignatureIndex::match(int fd, uint64_t length) const {
    // A signature must end before the last byte, so a file of one byte matches nothing.
    if (length < 2 || windows_.empty()) return -1;
    const size_t stop = stopPosition(length);
    uint32_t limit = static_cast<uint32_t>(std::min<size_t>(stop, std::numeric_limits<uint32_t>::max()));
    if (limit == 0) return -1;
    int64_t best = -1;

    // Padding after the largest window lets every probe load 8 bytes.
    uint8_t* buffer = threadBuffer(largestWindow_ + 8);
    uint64_t readable = length - 1;  // the last byte is never compared
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
        probeWindow(w, buffer, length, limit, best);
    }
    return best;
}
