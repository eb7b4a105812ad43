// Fixtures of the duplicate finder's page and removal tests: files with set modification
// years in a temporary home, and a main run loop on a manual clock.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/RunLoop.h"
#include "Support/TestRoots.h"

namespace dupes_test {

inline bool pathExists(const std::string& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
}

// Sets the modification (and access) time of path to 1 June of year, at the given second.
inline void setYear(const std::string& path, int year, int second = 0) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = 5;
    tm.tm_mday = 1;
    tm.tm_sec = second;
    struct timespec times[2];
    times[0].tv_sec = ::timegm(&tm);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// Temporary roots, the default settings, USER "ann", and a fresh main run loop on a manual
// clock.
class DuplicateToolTest : public hvn::test::RootsTest {
protected:
    void SetUp() override {
        if (const char* user = std::getenv("USER")) oldUser_ = user;
        ::setenv("USER", "ann", 1);
        HVNCommonFunction::initialSettingInfo();
        hvn::RunLoop::main().reset();
        hvn::RunLoop::main().bindToCurrentThread();
        hvn::RunLoop::main().setClock(&clock);
    }
    void TearDown() override {
        hvn::RunLoop::main().reset();
        hvn::RunLoop::main().setClock(nullptr);
        if (oldUser_) {
            ::setenv("USER", oldUser_->c_str(), 1);
        } else {
            ::unsetenv("USER");
        }
    }
    // Runs the main loop until pred holds. The page's progress timer keeps the manual clock
    // jumping, so the limit is real time (30 s): the searches run on threads of their own.
    static bool runUntil(const std::function<bool()>& pred) {
        const auto start = std::chrono::steady_clock::now();
        auto late = [&] { return std::chrono::steady_clock::now() - start > std::chrono::seconds(30); };
        hvn::RunLoop::main().runUntil([&] { return pred() || late(); }, 1e9);
        return pred();
    }
    static void setting(const char* key, bool on) {
        ASSERT_TRUE(HVNCommonFunction::changeSettingValue(hvn::Value(on), key));
    }
    static hvn::Value settingValue(const char* key) { return HVNCommonFunction::getSettingValueByKey(key); }

    hvn::ManualClock clock;

private:
    std::optional<std::string> oldUser_;
};

}  // namespace dupes_test
