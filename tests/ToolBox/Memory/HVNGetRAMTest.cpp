// The memory statistics dictionary and its amount texts.
#include "HVN/Code/ToolBox/Memory/HVNGetRAM.h"

#include <gtest/gtest.h>

#include <cmath>

#include "MemoryFixtures.h"
#include "Support/LogLines.h"

namespace {

using hvn::test::Meminfo;

TEST(HVNGetRAMText, UnitsOf1024WithTheLimitsComparedInSinglePrecision) {
    EXPECT_EQ(HVNGetRAM::convertMemorySizeInfo(1048576), "1024.0 KB");
    EXPECT_EQ(HVNGetRAM::convertMemorySizeInfo(1048577), "1.0 MB");
    EXPECT_EQ(HVNGetRAM::convertMemorySizeInfo(0), "0 KB");
    EXPECT_EQ(HVNGetRAM::convertMemorySizeInfo(-4096), "0 KB");
    EXPECT_EQ(HVNGetRAM::convertMemorySizeInfo(std::nan("")), "0 KB");
    EXPECT_EQ(HVNGetRAM::convertMemorySizeInfo(1), "0.0 KB");
    EXPECT_EQ(HVNGetRAM::convertMemorySizeInfo(1536), "1.5 KB");
    EXPECT_EQ(HVNGetRAM::convertMemorySizeInfo(1073741824), "1024.0 MB");
    // One byte more is still 2^30 once narrowed to single precision.
    EXPECT_EQ(HVNGetRAM::convertMemorySizeInfo(1073741825), "1024.0 MB");
    EXPECT_EQ(HVNGetRAM::convertMemorySizeInfo(1073741824.0 + 128), "1.00 GB");
    EXPECT_EQ(HVNGetRAM::convertMemorySizeInfo(1.5 * 1073741824.0), "1.50 GB");
    EXPECT_EQ(HVNGetRAM::convertMemorySizeInfo(64.0 * 1073741824.0 * 1024), "65536.00 GB");
}

class HVNGetRAMTest : public hvn::test::RootsTest {};

TEST_F(HVNGetRAMTest, FiveLabelledEntriesWithTheTotalOfTheFour) {
    Meminfo m;
    hvn::test::writeMeminfo(roots, m);
    const hvn::Dictionary info = HVNGetRAM::getMemoryInfo();
    const hvn::Dictionary expected{
        {"Free: 1024.0 MB", hvn::Value(double(m.freeBytes()))},
        {"Wired: 107.5 MB", hvn::Value(double(m.wiredBytes()))},
        {"Active: 768.0 MB", hvn::Value(double(m.activeBytes()))},
        {"Inactive: 512.0 MB", hvn::Value(double(m.inactiveBytes()))},
        {"Total: 2.35 GB", hvn::Value(double(m.totalBytes()))},
    };
    EXPECT_EQ(info, expected);

    auto freeEntry = HVNGetRAM::entryBeginningWith(info, "Free", 4);
    ASSERT_TRUE(freeEntry);
    EXPECT_EQ(freeEntry->first, "Free: 1024.0 MB");
    // "Active" must not find the Inactive entry, nor "Inactive" the Active one.
    EXPECT_EQ(HVNGetRAM::entryBeginningWith(info, "Active", 6)->first, "Active: 768.0 MB");
    EXPECT_EQ(HVNGetRAM::entryBeginningWith(info, "Inactive", 8)->first, "Inactive: 512.0 MB");
    EXPECT_FALSE(HVNGetRAM::entryBeginningWith(info, "Swap"));
}

TEST_F(HVNGetRAMTest, UnreadableFiguresGiveNoEntriesAndALogLine) {
    hvn::test::LogLines log;
    EXPECT_TRUE(HVNGetRAM::getMemoryInfo().empty());
    hvn::test::writeMeminfo(roots, "MemFree: nothing\n");
    EXPECT_TRUE(HVNGetRAM::getMemoryInfo().empty());
    EXPECT_EQ(log.count("memory statistics unavailable"), 2u);
}

}  // namespace
