// The counts, sizes and category ticks of the clean manager, on hand-made result lists.
#include <gtest/gtest.h>

#include <thread>

#include "Clearer/CleanManagerTestSupport.h"
#include "HVN/Code/Clearer/HVNCleanManager.h"
#include "HVN/Code/Clearer/HVNModuleInfo.h"

using namespace hvn::test;
using M = HVNModuleInfo;

namespace {

class CleanManagerCountsTest : public CleanManagerTestBase {
protected:
    void SetUp() override {
        CleanManagerTestBase::SetUp();
        auto& m = makeManager();
        // System: a mixed group of two children and a ticked leaf (module 1); an unticked
        // leaf and a mixed leaf (module 3).
        c1 = makeNode("/d1", "c", 10, 1);
        c2 = makeNode("/d2", "c", 20, 0);
        group = makeNode("", "c", 30, -1, {c1, c2});
        m.scanSystem->setData({
            {M::UserCache, {group, makeNode("/d", "L", 5, 1)}},
            {M::UserLog, {makeNode("/d", "A", 7, 0), makeNode("/d", "B", 0, -1)}},
        });

        // Disk: a cache group with a ticked and an unticked child and a ticked leaf; a
        // language group whose ticked child has two paths; the photo library (one node
        // unticked); the disk check's two nodes.
        auto lang = makeNode("/Apps/X.app/Contents/Resources", "fr.lproj", 3, 1);
        lang->removePaths = std::vector<std::string>{"/a/fr.lproj", "/b/fr.lproj"};
        photo1 = makeNode("/p", "p1", 1000, 0);
        checkLast = makeNode("", "Disk Check", 0, 1);
        checkLast->issueCount = 4;
        auto checkFirst = makeNode("", "earlier", 0, 1);
        checkFirst->issueCount = 9;
        m.scanDisk->setData({
            {M::SystemCache,
             {makeNode("", "x", 100, -1, {makeNode("/s1", "x", 40, 1), makeNode("/s2", "x", 60, 0)}),
              makeNode("/s", "z", 5, 1)}},
            {M::LanguageFiles, {makeNode("", "X", 3, 1, {lang})}},
            {M::IPhoto, {photo1, makeNode("/p", "p2", 500, 1)}},
            {M::DiskCheck, {checkFirst, checkLast}},
        });

        // Internet Security: two viruses (one ticked) and a bad-cookie group with two of
        // three children ticked.
        m.scanInternetVirus->setData({
            {M::Virus, {makeNode("/v", "v1", 11, 1), makeNode("/v", "v2", 22, 0)}},
            {M::CookieVirus,
             {makeNode(
                 "", "Safari", 0, -1,
                 {makeNode("", "a.com", 0, 1), makeNode("", "b.com", 0, 1), makeNode("", "c.com", 0, 0)})}},
        });
    }

    HVNScaneOuputObjectPtr c1, c2, group, photo1, checkLast;
};

TEST_F(CleanManagerCountsTest, SystemCountsTopNodesAndTickedLeaves) {
    auto& m = *manager;
    EXPECT_EQ(m.hasSystemIssue(), 4);
    EXPECT_EQ(m.hasSystemIssueSelected(), 3);  // mixed nodes count as ticked
    EXPECT_EQ(m.allSystemFileSelected(), 3);   // c1, L, B
    EXPECT_EQ(m.allSystemSize(), 42);
    EXPECT_EQ(m.allSystemSizeSelected(), 35);
    EXPECT_TRUE(m.systemFile());
    EXPECT_TRUE(m.hasSystemData());
    EXPECT_EQ(m.scanSystemResultArray(M::UserLog)->size(), 2u);
    EXPECT_FALSE(m.scanSystemResultArray(M::InternetCache).has_value());
}

TEST_F(CleanManagerCountsTest, DiskCountsFollowTheDiskCheckAndPhotoRules) {
    auto& m = *manager;
    EXPECT_EQ(m.hasDiskIssue(), 3 + 1 + 2 + 4);
    EXPECT_EQ(m.hasDiskIssueSelected(), 2 + 1 + 1 + 4);
    EXPECT_EQ(m.allDiskFile(), 2 + 2 + 1 + 3000000);
    EXPECT_EQ(m.allDiskSize(), 105 + 3 + 1500 + 0);
    EXPECT_EQ(m.allDiskSizeSelected(), 45 + 3 + 500);  // only the ticked picture counts

    checkLast->isCheck = 0;  // only the last disk-check node decides
    EXPECT_EQ(m.allDiskFile(), 5);
    EXPECT_EQ(m.hasDiskIssueSelected(), 4);
    EXPECT_EQ(m.hasDiskIssue(), 10);
}

TEST_F(CleanManagerCountsTest, InternetSecurityCountsLeavesOfEveryTopNode) {
    auto& m = *manager;
    EXPECT_EQ(m.allInternetVirusSize(), 11);
    EXPECT_EQ(m.internetVirusIssueFileCnt(), 5);
    EXPECT_EQ(m.internetVirusIssueFileCntSelected(), 3);
    EXPECT_TRUE(m.hasInternetVirusIssue());
    EXPECT_TRUE(m.internetVirusFile());
}

TEST_F(CleanManagerCountsTest, EmptyListsAreDataButNoIssue) {
    auto& m = *manager;
    m.scanSystem->setData({{M::UserLog, {}}});
    m.scanInternetVirus->setData({});
    EXPECT_TRUE(m.systemFile());
    EXPECT_FALSE(m.hasSystemData());
    EXPECT_EQ(m.hasSystemIssue(), 0);
    EXPECT_FALSE(m.internetVirusFile());
    EXPECT_FALSE(m.hasInternetVirusIssue());
    EXPECT_EQ(m.internetVirusIssueFileCnt(), 0);
}

TEST_F(CleanManagerCountsTest, CategoryTicksReachEveryNodeThePhotoLibraryIncluded) {
    auto& m = *manager;
    m.setSystemCheck(false);
    EXPECT_EQ(m.allSystemFileSelected(), 0);
    EXPECT_EQ(group->isCheck, 0);
    m.setSystemCheck(true);
    EXPECT_EQ(c2->isCheck, 1);
    EXPECT_EQ(m.allSystemFileSelected(), 5);  // c1, c2, L, A, B

    // A disk category turned off must not leave pictures to be replaced.
    m.setDiskCheck(false);
    EXPECT_EQ(m.hasDiskIssueSelected(), 0);
    EXPECT_EQ(m.allDiskSizeSelected(), 0);
    m.setDiskCheck(true);
    EXPECT_EQ(photo1->isCheck, 1);
    EXPECT_EQ(m.allDiskFile(), 3 + 2 + 2 + 3000000);

    m.setInternetVirusCheck(false);
    EXPECT_EQ(m.internetVirusIssueFileCntSelected(), 0);
    m.setInternetVirusCheck(true);
    EXPECT_EQ(m.internetVirusIssueFileCntSelected(), 5);
}

TEST_F(CleanManagerCountsTest, CountsOnTwoThreadsAtOnceAgree) {
    auto& m = *manager;
    std::atomic<int> wrong{0};
    std::thread other([&] {
        for (int i = 0; i < 2000; ++i) {
            if (m.allSystemFileSelected() != 3 || m.allDiskFile() != 3000005) wrong.fetch_add(1);
        }
    });
    for (int i = 0; i < 2000; ++i) {
        if (m.internetVirusIssueFileCntSelected() != 3 || m.allSystemFileSelected() != 3) wrong.fetch_add(1);
    }
    other.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
