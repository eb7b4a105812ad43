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
// [S, S + L) merged when close), so a file costs one read per window. Inside a window the
// signatures of two bytes or more are filtered by their first two bytes, 32 offsets at a
// time: each block holds, for up to 32 neighbouring start offsets, the two bytes expected
// there (signatures sharing an offset go to further blocks of the same place), and one
// vector compare of the file's bytes against them gives the offsets worth a closer look.
// Only such a hit compares the rest and the list position, so the first match in list
// order wins whatever the offset order. One-byte signatures are compared one by one. A
// window whose signatures all come after the answer found so far (or after the stop
// position) is not read at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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

    // The list position of the answer for the regular file open at fd, or -1 when no
    // signature matches. Reads with pread (the file offset is left alone); a read error
    // counts as the end of the file. Without `length` the reads tell the length where they
    // can (one window holding every signature), and fstat otherwise.
    int64_t match(int fd, std::optional<uint64_t> length) const;

    const std::string& nameAt(int64_t position) const { return names_[static_cast<size_t>(position)]; }
    size_t signatureCount() const { return valid_; }

private:
    struct Window {
        uint64_t start = 0;  // file offset of the first byte
        uint64_t end = 0;    // one past the last byte
        uint32_t blockBegin = 0, blockEnd = 0;  // its filter blocks
        uint32_t shortBegin = 0, shortEnd = 0;  // its one-byte probes
        uint32_t minPosition = 0;               // smallest list position of its signatures
    };
public:
    // 32 neighbouring start offsets of one window: the two bytes expected at each (in
    // pairs_, 32 first bytes then 32 second bytes) and which of the 32 are taken.
    struct Block {
        uint32_t offset = 0;   // of its first place, from the window's start
        uint32_t cover = 0;    // bit j: a signature starts at offset + j
        uint32_t firstHit = 0; // index in blockCandidates_ of the signature of its lowest bit
        uint32_t unused = 0;
    };

private:
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

    // Signatures of two bytes or more: filter blocks by window and offset, their expected
    // bytes, and per taken place its signature.
    std::vector<Block> blocks_;
    std::vector<uint8_t> pairs_;
    std::vector<Candidate> blockCandidates_;
    // One-byte signatures: offset inside the window and the byte.
    std::vector<uint32_t> shortOffset_;
    std::vector<uint8_t> shortByte_;
    std::vector<Candidate> short_;
    // The reads alone tell whether a file is long enough (see match).
    bool lengthFromReads_ = false;
};
