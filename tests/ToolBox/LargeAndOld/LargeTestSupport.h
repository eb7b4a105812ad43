// Fixtures of the large-and-old-files tests: sparse files of exact sizes and ages in a
// temporary home, and a main run loop on a manual clock.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <ctime>
#include <filesystem>
#include <string>

#include "Platform/RunLoop.h"
#include "Support/TestRoots.h"

namespace hvn::test {

inline bool pathExists(const std::string& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
}

// A file of exactly `size` bytes (sparse), its content last changed `ageSeconds` ago.
inline std::string makeSizedFile(const std::string& path, int64_t size, double ageSeconds = 0) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    EXPECT_GE(fd, 0) << path;
    if (fd < 0) return path;
    EXPECT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
    if (ageSeconds > 0) {
        struct timespec times[2];
        ::clock_gettime(CLOCK_REALTIME, &times[0]);
        times[0].tv_sec -= static_cast<time_t>(ageSeconds);
        times[1] = times[0];
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }
    return path;
}

// Temporary roots and a fresh main run loop on a manual clock.
class LargeToolTest : public RootsTest {
protected:
    void SetUp() override {
        RunLoop::main().reset();
        RunLoop::main().bindToCurrentThread();
        RunLoop::main().setClock(&clock);
    }
    void TearDown() override {
        RunLoop::main().reset();
        RunLoop::main().setClock(nullptr);
    }
    // Runs the loop until pred holds (timers jump ahead on the manual clock; the searches'
    // own threads are waited for in real time, up to 30 s).
    bool runUntil(const std::function<bool()>& pred) { return RunLoop::main().runUntil(pred, 30); }

    ManualClock clock;
};

}  // namespace hvn::test
