#include "HVN/Code/ToolBox/Duplicate/THFileComparer.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "HVN/Code/ToolBox/Duplicate/THDigest.h"
#include "HVN/Code/ToolBox/Duplicate/THReadableFile.h"

namespace {

constexpr size_t kChunk = 1 << 20;

struct Buffers {
    std::unique_ptr<char[]> a{new char[kChunk]};
    std::unique_ptr<char[]> b{new char[kChunk]};
};

Buffers& threadBuffers() {
    thread_local Buffers buffers;
    return buffers;
}

}  // namespace

THFileComparer::Result THFileComparer::compare(const std::string& first, const std::string& second,
                                               std::string* firstDigest, const std::atomic<bool>* stop) {
    THReadableFile a, b;
    if (!a.open(first)) return Result::FirstUnreadable;
    if (!b.open(second)) return Result::SecondUnreadable;
    if (a.device() == b.device() && a.inode() == b.inode()) {
        // One file under two names: equal by definition, but say so only with a digest.
        if (!firstDigest) return Result::Same;
    }
    if (a.size() != b.size()) return Result::Different;

    Buffers& buf = threadBuffers();
    std::unique_ptr<THDigest> digest;
    if (firstDigest) digest = std::make_unique<THDigest>(hvn::Crypto::Digest::SHA256);
    const uint64_t size = a.size();
    uint64_t offset = 0;
    while (offset < size) {
        if (stop && stop->load(std::memory_order_relaxed)) return Result::Stopped;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, size - offset));
        ssize_t na = a.readAt(buf.a.get(), want, offset);
        if (na < 0) return Result::FirstUnreadable;
        ssize_t nb = b.readAt(buf.b.get(), want, offset);
        if (nb < 0) return Result::SecondUnreadable;
        // A file that shrank since it was opened is not the same any more.
        if (na != nb || static_cast<size_t>(na) != want) return Result::Different;
        if (std::memcmp(buf.a.get(), buf.b.get(), want) != 0) return Result::Different;
        if (digest) digest->update(buf.a.get(), want);
        offset += want;
    }
    // A file that grew since it was opened is not the same any more either.
    char extra[1];
    if (a.readAt(extra, 1, size) != 0 || b.readAt(extra, 1, size) != 0) return Result::Different;
    if (digest) *firstDigest = digest->finishHex();
    return Result::Same;
}
