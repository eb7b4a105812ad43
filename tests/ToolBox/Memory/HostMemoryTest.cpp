// The host's memory figures from /proc/meminfo texts.
#include "Platform/HostMemory.h"

#include <gtest/gtest.h>

#include "MemoryFixtures.h"
#include "Support/TestRoots.h"

namespace {

using hvn::HostMemory::parseMeminfo;
using hvn::test::Meminfo;
using hvn::test::meminfoText;

TEST(HostMemoryParse, MapsTheKernelListsToTheFourCategories) {
    Meminfo m;
    for (uint64_t page : {4096u, 16384u, 65536u}) {
        auto s = parseMeminfo(meminfoText(m), page);
        ASSERT_TRUE(s) << page;
        EXPECT_EQ(s->pageSize, page);
        EXPECT_EQ(s->freeBytes(), m.freeBytes());
        EXPECT_EQ(s->activeBytes(), m.activeBytes());
        EXPECT_EQ(s->inactiveBytes(), m.inactiveBytes());
        // Unevictable + SUnreclaim + KernelStack + PageTables + Percpu, Mlocked not twice.
        EXPECT_EQ(s->wiredBytes(), m.wiredBytes());
        EXPECT_EQ(s->freeCount, m.memFree * 1024 / page);
    }
}

TEST(HostMemoryParse, OlderKernelsAndMissingWiredLines) {
    // No (anon)/(file) split, no Percpu, no Unevictable: the plain lists and what is there.
    const std::string old =
        "MemTotal:  2048000 kB\nMemFree:  1024 kB\nActive:  2048 kB\nInactive:  4096 kB\n"
        "SUnreclaim:  64 kB\nKernelStack: 128 kB\nPageTables:  256 kB\n";
    auto s = parseMeminfo(old, 4096);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->freeBytes(), 1024u * 1024);
    EXPECT_EQ(s->activeBytes(), 2048u * 1024);
    EXPECT_EQ(s->inactiveBytes(), 4096u * 1024);
    EXPECT_EQ(s->wiredBytes(), (64u + 128 + 256) * 1024);

    // With the split present, the split wins over the plain line.
    auto split = parseMeminfo(
        "MemFree: 64 kB\nActive: 999936 kB\nActive(anon): 64 kB\nActive(file): 128 kB\n"
        "Inactive: 64 kB\n",
        4096);
    ASSERT_TRUE(split);
    EXPECT_EQ(split->activeBytes(), 192u * 1024);
    // A partial page is dropped, never rounded up.
    auto partial = parseMeminfo("MemFree: 7 kB\nActive: 0 kB\nInactive: 0 kB\n", 4096);
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->freeCount, 1u);
}

TEST(HostMemoryParse, BadTextIsSkippedLineByLineOrRefusedWithAReason) {
    // Garbage between good lines, CR line ends, a unitless count and an absurd figure.
    const std::string noisy =
        "garbage\n:\nMemFree:\t 2048 kB\r\nBogus: twelve kB\nHugePages_Total: 5\nActive: 64 kB\n"
        "Inactive: 64 kB\nUnevictable: 99999999999999999999999 kB\nSUnreclaim: 18014398509481983 kB\n";
    auto s = parseMeminfo(noisy, 4096);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->freeBytes(), 2048u * 1024);
    // The overflowing Unevictable line is skipped; the largest figure still fits in bytes.
    EXPECT_EQ(s->wireCount, 18014398509481983ull * 1024 / 4096);

    for (const std::string& text :
         {std::string(), std::string("Active: 1 kB\nInactive: 1 kB\n"),
          std::string("MemFree: 1 kB\nInactive: 1 kB\n"), std::string("MemFree: 1 kB\nActive: 1 kB\n"),
          std::string("MemFree: 1 MB\n"), std::string("\0\0\0\xff", 4)}) {
        std::string error;
        EXPECT_FALSE(parseMeminfo(text, 4096, &error)) << text;
        EXPECT_FALSE(error.empty());
    }
    std::string error;
    EXPECT_FALSE(parseMeminfo(meminfoText(Meminfo{}), 0, &error));
    EXPECT_NE(error.find("page size"), std::string::npos);
}

class HostMemoryRoot : public hvn::test::RootsTest {};

TEST_F(HostMemoryRoot, ReadsTheMeminfoOfTheSystemRoot) {
    Meminfo m;
    m.memFree = 640;
    const std::string path = hvn::test::writeMeminfo(roots, m);
    EXPECT_EQ(hvn::HostMemory::meminfoPath(), path);
    auto s = hvn::HostMemory::statistics();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->pageSize, hvn::HostMemory::pageSize());
    EXPECT_EQ(s->freeBytes(), 640u * 1024);

    ASSERT_EQ(std::remove(path.c_str()), 0);
    std::string error;
    EXPECT_FALSE(hvn::HostMemory::statistics(&error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
}

}  // namespace
