#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "Sentrel/SignatureFixtures.h"
#include "Sentrel/VirusManager.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;
using sigtest::sig;
using sigtest::withAt;
using sigtest::writeBytes;

namespace {

class VirusManagerTest : public hvn::test::RootsTest {
protected:
    std::string file(const std::string& name, const std::string& contents) {
        std::string path = roots.base() + "/" + name;
        writeBytes(path, contents);
        return path;
    }
    std::optional<std::string> check(const std::string& path, const std::vector<HVNVirusCodeObjPtr>& list) {
        return manager.checkVirus(path, list);
    }
    VirusManager manager;
};

}  // namespace

TEST_F(VirusManagerTest, NothingFolderAndLinkToFolder) {
    std::vector<HVNVirusCodeObjPtr> list{sig("A", "abc", 0)};
    EXPECT_EQ(check(roots.base() + "/missing", list), std::nullopt);
    EXPECT_EQ(check("", list), std::nullopt);
    EXPECT_EQ(check(roots.home(), list), "DIR");
    fs::create_symlink(roots.home(), roots.base() + "/homelink");
    EXPECT_EQ(check(roots.base() + "/homelink", list), "DIR");
    fs::create_symlink(roots.base() + "/gone", roots.base() + "/dangling");
    EXPECT_EQ(check(roots.base() + "/dangling", list), std::nullopt);
    // A link to a file is followed to the file.
    std::string f = file("f", "abc!");
    fs::create_symlink(f, roots.base() + "/filelink");
    EXPECT_EQ(check(roots.base() + "/filelink", list), "A");
}

TEST_F(VirusManagerTest, TheEndRuleAndTheEmptyFile) {
    std::vector<HVNVirusCodeObjPtr> list{sig("A", "virus", 3)};
    EXPECT_EQ(check(file("empty", ""), list), "");
    EXPECT_EQ(check(file("before-end", "xxxvirus!"), list), "A");
    // The same bytes ending exactly on the last byte are not compared.
    EXPECT_EQ(check(file("at-end", "xxxvirus"), list), "");
    // One byte off.
    EXPECT_EQ(check(file("shifted", "xxvirus!!"), list), "");
    EXPECT_EQ(check(file("differs", "xxxvirue!"), list), "");
    // A start index beyond the file.
    std::vector<HVNVirusCodeObjPtr> far{sig("B", "ab", 100)};
    EXPECT_EQ(check(file("short", std::string(50, 'a') + "ab"), far), "");
    EXPECT_EQ(check(file("long", withAt(200, 100, "ab")), far), "B");
    // One-byte files and files of exactly one signature.
    std::vector<HVNVirusCodeObjPtr> one{sig("C", "x", 0)};
    EXPECT_EQ(check(file("one", "x"), one), "");
    EXPECT_EQ(check(file("two", "xy"), one), "C");
}

TEST_F(VirusManagerTest, FirstMatchInListOrderWins) {
    // Both match; the list (ordered by length) decides, not the offsets.
    std::string f = file("two", withAt(120, 50, "short", 'z').replace(10, 9, "LONGERSIG"));
    std::vector<HVNVirusCodeObjPtr> list{sig("Short", "short", 50), sig("Longer", "LONGERSIG", 10)};
    EXPECT_EQ(check(f, list), "Short");
    std::vector<HVNVirusCodeObjPtr> reversed{list[1], list[0]};
    EXPECT_EQ(check(f, reversed), "Longer");
    // Same offset, same leading bytes: the first in the list.
    std::vector<HVNVirusCodeObjPtr> same{sig("Twin1", "LONGERSIG", 10), sig("Twin2", "LONGERSIG", 10)};
    EXPECT_EQ(check(f, same), "Twin1");
    // Signatures shorter than 8 bytes and of 8 or more mixed, at one offset.
    std::vector<HVNVirusCodeObjPtr> mixed{sig("Miss", "LONGERSIX", 10), sig("Prefix", "LONG", 10)};
    EXPECT_EQ(check(f, mixed), "Prefix");
}

TEST_F(VirusManagerTest, TheStopRuleFollowsTheListNotTheLengthColumn) {
    // A 10-byte file. The walk stops at the first signature longer than the file, in list
    // order, even when a later one is short and would match.
    std::string f = file("ten", "abcdefghij");
    std::vector<HVNVirusCodeObjPtr> unsorted{sig("Long", std::string(20, 'q'), 0, 2), sig("Match", "abc", 0, 3)};
    EXPECT_EQ(check(f, unsorted), "");
    // A longer signature after the match does not matter.
    std::vector<HVNVirusCodeObjPtr> sorted{sig("Match", "abc", 0), sig("Long", std::string(20, 'q'), 0)};
    EXPECT_EQ(check(f, sorted), "Match");
    // The real length counts, not the bytes column: a 3-byte signature whose column says 50
    // still fits the file.
    std::vector<HVNVirusCodeObjPtr> wrongColumn{sig("Match", "abc", 0, 50)};
    EXPECT_EQ(check(f, wrongColumn), "Match");
    // Exactly as long as the file: no stop, yet it cannot end before the last byte.
    std::vector<HVNVirusCodeObjPtr> equal{sig("Whole", "abcdefghij", 0), sig("After", "cd", 2)};
    EXPECT_EQ(check(f, equal), "After");
}

TEST_F(VirusManagerTest, AbsentEmptyAndNegativeSignaturesNeverMatch) {
    std::string f = file("f", "0123456789");
    std::vector<HVNVirusCodeObjPtr> list{nullptr, sig("Empty", "", 0), sig("Negative", "01", -1),
                                         sig("Huge", "9", INT64_MAX), sig("Real", "45", 4)};
    EXPECT_EQ(check(f, list), "Real");
    std::vector<HVNVirusCodeObjPtr> onlyEmpty{sig("Empty", "", 0)};
    EXPECT_EQ(check(f, onlyEmpty), "");
    EXPECT_EQ(check(f, {}), "");
}

TEST_F(VirusManagerTest, SpecialAndUnreadableFilesCountAsEmpty) {
    std::vector<HVNVirusCodeObjPtr> list{sig("A", "a", 0)};
    std::string fifo = roots.base() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(check(fifo, list), "");  // and it does not block
    EXPECT_EQ(check("/dev/null", list), "");

    std::string secret = file("secret", "aaaa");
    ::chmod(secret.c_str(), 0);
    ::chmod(roots.base().c_str(), 0755);
    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root and the user nobody for the unreadable file";
    int rc = hvn::test::runAsNobody([&] {
        VirusManager m;
        return m.checkVirus(secret, list) == std::optional<std::string>("") ? 0 : 1;
    });
    EXPECT_EQ(rc, 0);
}

TEST_F(VirusManagerTest, CheckAtAFolderDescriptorAnswersLikeThePath) {
    std::vector<HVNVirusCodeObjPtr> list{sig("A", "virus", 1)};
    file("hit", "xvirus.");
    file("clean", "xvirux.");
    fs::create_directory(roots.base() + "/sub");
    fs::create_symlink("sub", roots.base() + "/sublink");
    fs::create_symlink("hit", roots.base() + "/hitlink");
    int fd = ::open(roots.base().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (const char* name : {"hit", "clean", "sub", "sublink", "hitlink", "missing"}) {
        EXPECT_EQ(manager.checkVirusAt(fd, name, list), check(roots.base() + "/" + name, list)) << name;
    }
    EXPECT_EQ(manager.checkVirusAt(fd, "hitlink", list), "A");
    EXPECT_EQ(manager.checkVirusAt(fd, "", list), std::nullopt);
    ::close(fd);
}

TEST_F(VirusManagerTest, AnotherListOrAChangedListGetsItsOwnAnswers) {
    std::string f = file("f", "abcdef");
    std::vector<HVNVirusCodeObjPtr> list{sig("First", "bc", 1)};
    EXPECT_EQ(check(f, list), "First");
    std::vector<HVNVirusCodeObjPtr> other{sig("Other", "cd", 2)};
    EXPECT_EQ(check(f, other), "Other");
    EXPECT_EQ(check(f, list), "First");
    // The same vector refilled with new signatures.
    list.clear();
    list.push_back(sig("Refilled", "de", 3));
    EXPECT_EQ(check(f, list), "Refilled");
    list.push_back(sig("Second", "ab", 0));
    EXPECT_EQ(check(f, list), "Refilled");
    list[0] = sig("Replaced", "zz", 3);
    EXPECT_EQ(check(f, list), "Second");
    // A copy of a manager prepares its own.
    VirusManager copy = manager;
    EXPECT_EQ(copy.checkVirus(f, list), "Second");
}

TEST_F(VirusManagerTest, FarOffsetsInALargeSparseFileReadOnlyTheirBytes) {
    // 4 GiB of holes: a read of the whole file would take far longer than this test allows.
    std::string path = roots.base() + "/sparse";
    const off_t size = off_t{4} << 30;
    int fd = ::open(path.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    const off_t farOffset = off_t{3} << 30;
    ASSERT_EQ(::pwrite(fd, "FARAWAY-SIG", 11, farOffset), 11);
    ASSERT_EQ(::pwrite(fd, "NEAR", 4, 100), 4);
    ::close(fd);

    std::vector<HVNVirusCodeObjPtr> list{sig("NearMiss", "NEAX", 100), sig("Far", "FARAWAY-SIG", farOffset),
                                         sig("Near", "NEAR", 100)};
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(check(path, list), "Far");  // earlier in the list than "Near"
    std::vector<HVNVirusCodeObjPtr> nearFirst{list[2], list[1]};
    EXPECT_EQ(check(path, nearFirst), "Near");
    std::vector<HVNVirusCodeObjPtr> beyond{sig("Beyond", "x", size)};
    EXPECT_EQ(check(path, beyond), "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST_F(VirusManagerTest, SeveralThreadsOneManagerOneList) {
    std::vector<HVNVirusCodeObjPtr> list;
    for (int i = 0; i < 200; ++i) list.push_back(sig("S" + std::to_string(i), "sig-" + std::to_string(i) + "!", i));
    std::vector<std::string> files;
    for (int i = 0; i < 50; ++i) {
        int planted = i * 4;
        files.push_back(file("f" + std::to_string(i), withAt(400, planted, "sig-" + std::to_string(planted) + "!")));
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < 20; ++round) {
                for (int i = 0; i < 50; ++i) {
                    if (manager.checkVirus(files[i], list) != "S" + std::to_string(i * 4)) ++wrong;
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(VirusManagerTest, PreparedSignaturesStayAsTheyWerePrepared) {
    file("f", "abcdef");
    int fd = ::open(roots.base().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    // Nothing prepared: every file is clean, folders and missing names still answer.
    EXPECT_EQ(manager.checkPreparedAt(fd, "f"), "");
    EXPECT_EQ(manager.checkPreparedAt(fd, "missing"), std::nullopt);
    std::vector<HVNVirusCodeObjPtr> list{sig("First", "bc", 1)};
    manager.prepareVirusCodes(list);
    EXPECT_EQ(manager.checkPreparedAt(fd, "f"), "First");
    // The list changed afterwards (the object itself, even): the preparation holds copies.
    list[0]->virus_code = sigtest::bytesOf("zz");
    list[0]->virus_name = "Changed";
    EXPECT_EQ(manager.checkPreparedAt(fd, "f"), "First");
    // The list-taking checks prepare their own list, beside the prepared one.
    std::vector<HVNVirusCodeObjPtr> other{sig("Other", "cd", 2)};
    EXPECT_EQ(manager.checkVirusAt(fd, "f", other), "Other");
    EXPECT_EQ(manager.checkPreparedAt(fd, "f"), "First");
    ::close(fd);
}
