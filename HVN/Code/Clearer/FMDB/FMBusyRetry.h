// The busy retry of the SQLite layer: after SQLITE_BUSY or SQLITE_LOCKED an operation
// sleeps 20 microseconds and tries again. A positive limit N allows N + 2 attempts in all
// (the counter is compared before it is incremented); a limit of 0 retries for at most
// kUnboundedBusyRetrySeconds, so that a database held locked by another process (a browser
// holding its cookie file) cannot hang the caller. One object per operation.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>

inline constexpr double kUnboundedBusyRetrySeconds = 2.0;

class FMBusyRetry {
public:
    explicit FMBusyRetry(int32_t limit) : limit_(limit), start_(std::chrono::steady_clock::now()) {}

    // Call after a BUSY or LOCKED answer. Returns true after sleeping (try again), false
    // when the operation must give up.
    bool again() {
        if (limit_ != 0) {
            if (count_ > limit_) return false;
            ++count_;
        } else if (std::chrono::steady_clock::now() - start_ >=
                   std::chrono::duration<double>(kUnboundedBusyRetrySeconds)) {
            return false;
        }
        usleep(20);
        return true;
    }

private:
    int32_t limit_;
    int64_t count_ = 0;
    std::chrono::steady_clock::time_point start_;
};
