// Byte-for-byte comparison of two regular files, the proof that two candidates of one
// lazy fingerprint are really the same content. Reads both with large positioned reads
// into per-thread buffers and stops at the first difference. Any thread.
#pragma once

#include <atomic>
#include <string>

class THFileComparer {
public:
    THFileComparer() = delete;

    enum class Result {
        Same,              // equal length and equal bytes
        Different,         // the lengths or some bytes differ
        FirstUnreadable,   // the first file could not be opened or read (or is no regular file)
        SecondUnreadable,  // the same for the second
        Stopped            // *stop became true before the comparison ended
    };

    // Compares the whole contents. When firstDigest is given and the result is Same, it
    // receives the SHA-256 (lower-case hex) of the first file, computed during the same read.
    static Result compare(const std::string& first, const std::string& second,
                          std::string* firstDigest = nullptr, const std::atomic<bool>* stop = nullptr);
};
