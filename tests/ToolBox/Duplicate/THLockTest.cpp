#include "HVN/Code/ToolBox/Duplicate/THLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(THLock, OneKeyExcludesAndTheRegistryForgetsReleasedKeys) {
    const size_t before = THLock::registeredKeyCount();
    // Plain (non-atomic) counters changed only under the named lock: lost updates would show.
    long counter = 0;
    int inside = 0;
    std::atomic<bool> overlap{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                THLock::lockForKey("4096");
                if (++inside != 1) overlap.store(true);
                ++counter;
                --inside;
                THLock::unLockForKey("4096");
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 8 * 20000);
    EXPECT_FALSE(overlap.load());
    EXPECT_EQ(THLock::registeredKeyCount(), before);
    THLock::unLockForKey("never-locked");  // harmless
}

TEST(THLock, DifferentKeysDoNotWaitForEachOther) {
    THLock::Guard a("alpha");
    std::atomic<bool> tookBeta{false};
    std::thread other([&] {
        THLock::Guard b("beta");
        tookBeta.store(true);
    });
    other.join();  // would never return if "beta" waited for "alpha"
    EXPECT_TRUE(tookBeta.load());

    // A thread waiting for a held key gets it once the holder lets go.
    std::atomic<bool> waiterIn{false};
    std::thread waiter([&] {
        THLock::Guard again("alpha");
        waiterIn.store(true);
    });
    std::this_thread::yield();
    a.release();
    waiter.join();
    EXPECT_TRUE(waiterIn.load());
}

}  // namespace
