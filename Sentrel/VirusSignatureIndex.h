// The signatures of one list prepared for matching many files: built once per list and then
// only read, so any number of threads may match files with one index at once. Internal to
// the library (not exported).
//
// The answer for a file of length N is the one of the walk in list order: the walk stops at
// the first signature longer than N (the prefix maximum of the real lengths finds that
// position, so a `bytes` column that disagrees with the real lengths changes nothing), and
// of the signatures before that position the first one with S + L < N whose L bytes equal
// the file's bytes at S is the answer. Absent entries and empty signatures never match (an
// empty one would match every file), nor does a negative start index.
//
// Layout: the valid signatures are sorted by start offset and cut into read windows (spans
// [S, S + L) merged when close), so a file costs one read per window, limited to the bytes
// before its last one (a signature never ends on the last byte). Inside a window every
// signature of 8 bytes or more is probed by one 8-byte load compared with its first 8 bytes
// (shorter ones with a mask); only a probe hit compares the rest and the list position, so
// the first match in list order wins whatever the offset order. A window whose signatures
// all come after the answer found so far (or after the stop position) is not read at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Sentrel/HVNVirusCodeObj.h"

class VirusSignatureIndex {
public:
    // The signatures' bytes and names are copied. With `keepList` the index also keeps the
    // list's entries, for isFor.
    explicit VirusSignatureIndex(const std::vector<HVNVirusCodeObjPtr>& list, bool keepList = true);

    // Whether the list holds exactly the entries this index was built from, in the same
    // order (the index shares them, so no other object can take their addresses; comparing
    // the entries' bytes is one memcmp). Always false without `keepList`.
    bool isFor(const std::vector<HVNVirusCodeObjPtr>& list) const;

    // The list position of the answer for the regular file open at fd, whose length is
    // `length`, or -1 when no signature matches. Reads with pread (the file offset is left
    // alone); a read error counts as the end of the file.
    int64_t match(int fd, uint64_t length) const;

    const std::string& nameAt(int64_t position) const { return names_[static_cast<size_t>(position)]; }
    size_t signatureCount() const { return valid_; }

private:
    struct Window {
        uint64_t start = 0;  // file offset of the first byte
        uint64_t end = 0;    // one past the last byte
        uint32_t wideBegin = 0, wideEnd = 0;    // its range of wide probes
        uint32_t shortBegin = 0, shortEnd = 0;  // its range of short probes
        uint32_t minPosition = 0;               // smallest list position of its signatures
    };
    // One probe's cold data, looked at on a probe hit only.
    struct Candidate {
        uint64_t start = 0;
        uint32_t length = 0;
        uint32_t position = 0;
        uint64_t code = 0;  // offset of its bytes in code_
    };

    // First list position whose signature is longer than `length` (the stop position).
    size_t stopPosition(uint64_t length) const;
    // The answer among the probes of one window, read into `buffer`; `limit` is lowered to
    // a better answer, which goes to `best`. `length` is the file length as far as the
    // reads got.
    void probeWindow(const Window& w, const uint8_t* buffer, uint64_t length, uint32_t& limit, int64_t& best) const;

    std::vector<HVNVirusCodeObjPtr> list_;  // kept alive for isFor
    bool keptList_ = false;
    std::vector<std::string> names_;   // by list position
    std::vector<uint64_t> prefixMax_;  // by list position: largest real length so far
    std::vector<uint8_t> code_;        // all signature bytes
    std::vector<Window> windows_;
    size_t largestWindow_ = 0;
    size_t valid_ = 0;

    // Wide probes (length >= 8), by window then start offset: offset inside the window and
    // the first 8 bytes (as loaded from memory).
    std::vector<uint32_t> wideOffset_;
    std::vector<uint64_t> widePrefix_;
    std::vector<Candidate> wide_;
    // Short probes (length 1 to 7): offset, bytes and mask.
    std::vector<uint32_t> shortOffset_;
    std::vector<uint64_t> shortPrefix_;
    std::vector<uint64_t> shortMask_;
    std::vector<Candidate> short_;
};
