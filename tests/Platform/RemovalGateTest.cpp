#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Platform/FileManager.h"
#include "Platform/PropertyList.h"
#include "Platform/RemovalGate.h"
#include "Platform/Shredder.h"
#include "Support/Mounts.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;
using hvn::RemovalStatus;
using hvn::test::ScopedMount;

namespace {

class RemovalGateTest : public hvn::test::RootsTest {
protected:
    std::string h(const std::string& sub) const { return roots.home() + "/" + sub; }
    static bool exists(const std::string& p) { return hvn::FileManager::fileExistsAtPath(p, nullptr, false); }
    static hvn::RemovalResult remove(const std::string& p, std::optional<hvn::FileIdentity> foundIn = {}) {
        hvn::RemovalOptions o;
        o.foundIn = foundIn;
        return hvn::FileManager::removeItem(p, o);
    }
    static hvn::FileIdentity identity(const std::string& p) {
        struct stat st {};
        EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
        return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    }
};

TEST_F(RemovalGateTest, UnsoundPathsAndLinksOnTheWayAreRefusedAndNothingBehindThemIsTouched) {
    std::string target = roots.writeFile(h("real/app/data"), "keep");
    fs::create_symlink(h("real"), h(".cache"));
    for (const std::string& p : {std::string("relative/app"), h("real/../real/app"), h("real/./app"), h(".cache/app"),
                                 h(".cache/app/data")}) {
        hvn::RemovalResult r = remove(p);
        EXPECT_EQ(r.status, RemovalStatus::Refused) << p << ": " << r.error;
        EXPECT_EQ(r.error.rfind("Refusing to remove " + p + ": ", 0), 0u) << r.error;
    }
    EXPECT_EQ(hvn::readWholeFile(target), "keep");
    // A link as the item itself is removed as a link.
    fs::create_symlink(h("real/app"), h("real/link"));
    EXPECT_EQ(remove(h("real/link")).status, RemovalStatus::Removed);
    EXPECT_EQ(hvn::readWholeFile(target), "keep");
    EXPECT_EQ(remove(h("real/nothing")).status, RemovalStatus::Missing);
}

TEST_F(RemovalGateTest, AFolderReplacedSinceTheScanIsRefused) {
    roots.writeFile(h("Cache/app/old"), "1");
    hvn::FileIdentity foundIn = identity(h("Cache/app"));
    fs::rename(h("Cache/app"), h("Cache/moved"));
    roots.writeFile(h("Cache/app/old"), "someone else's");
    hvn::RemovalResult r = remove(h("Cache/app/old"), foundIn);
    EXPECT_EQ(r.status, RemovalStatus::Refused) << r.error;
    EXPECT_EQ(hvn::readWholeFile(h("Cache/app/old")), "someone else's");
    EXPECT_EQ(remove(h("Cache/moved/old"), foundIn).status, RemovalStatus::Removed);
}

TEST_F(RemovalGateTest, RootsTheirAncestorsAndWhatLiesDirectlyInThemAreRefused) {
    // A home deep below the base: every folder above it is protected too.
    std::string home = roots.makeDir(roots.base() + "/var/lib/svc");
    setenv("HOME", home.c_str(), 1);
    roots.writeFile(home + "/Documents/letter", "dear");
    roots.writeFile(roots.root() + "/Library/Caches/x", "x");
    roots.writeFile(home + "/Documents/old/draft", "d");
    roots.writeFile(home + "/.profile", "p");
    for (const std::string& p :
         {home, roots.base() + "/var/lib", roots.base() + "/var", roots.base(), home + "/Documents", home + "/.profile",
          roots.root(), roots.root() + "/Library", std::string("/tmp"), std::string("/usr")}) {
        hvn::RemovalResult r = remove(p);
        EXPECT_EQ(r.status, RemovalStatus::Refused) << p << ": " << r.error;
    }
    EXPECT_EQ(hvn::readWholeFile(home + "/Documents/letter"), "dear");
    EXPECT_TRUE(exists(roots.root() + "/Library/Caches/x"));
    // Two levels down is the user's to clean.
    EXPECT_EQ(remove(home + "/Documents/old").status, RemovalStatus::Removed);
    EXPECT_EQ(remove(roots.root() + "/Library/Caches").status, RemovalStatus::Removed);
}

TEST_F(RemovalGateTest, MountsAreNeverEmptied) {
    roots.writeFile(h(".cache/fuse/inside"), "");
    ScopedMount tmp = ScopedMount::tmpfs(h(".cache/fuse"), 1 << 20);
    if (!tmp.mounted()) GTEST_SKIP() << tmp.why();
    roots.writeFile(h(".cache/fuse/mounted-data"), "m");
    // The entry itself is a mount point.
    hvn::RemovalResult r = remove(h(".cache/fuse"));
    EXPECT_EQ(r.status, RemovalStatus::Refused) << r.error;
    EXPECT_TRUE(exists(h(".cache/fuse/mounted-data")));

    // A bind mount of the same device below an entry: the rest goes, the mount is not entered.
    std::string precious = roots.writeFile(h("precious/photo"), "p");
    roots.writeFile(h(".cache/app/junk"), "j");
    roots.makeDir(h(".cache/app/sub"));
    ScopedMount bind = ScopedMount::bind(h("precious"), h(".cache/app/sub"));
    ASSERT_TRUE(bind.mounted()) << bind.why();
    r = remove(h(".cache/app"));
    EXPECT_EQ(r.status, RemovalStatus::Refused) << r.error;
    EXPECT_NE(r.error.find("mounted"), std::string::npos) << r.error;
    EXPECT_FALSE(exists(h(".cache/app/junk")));
    EXPECT_EQ(hvn::readWholeFile(precious), "p");

    // A file mounted over a file.
    roots.writeFile(h(".cache/one/file"), "x");
    ScopedMount fileBind = ScopedMount::bind(precious, h(".cache/one/file"));
    ASSERT_TRUE(fileBind.mounted()) << fileBind.why();
    EXPECT_EQ(remove(h(".cache/one/file")).status, RemovalStatus::Refused);
    EXPECT_EQ(remove(h(".cache/one")).status, RemovalStatus::Refused);
    EXPECT_EQ(hvn::readWholeFile(precious), "p");
}

TEST_F(RemovalGateTest, ABindMountAliasOfTheHomeExposesNothingOfIt) {
    roots.writeFile(h("Documents/letter"), "dear");
    std::string alias = roots.makeDir(roots.base() + "/alias");
    ScopedMount bind = ScopedMount::bind(roots.home(), alias);
    if (!bind.mounted()) GTEST_SKIP() << bind.why();
    for (const std::string& p : {alias, alias + "/Documents"}) {
        EXPECT_EQ(remove(p).status, RemovalStatus::Refused) << p;
    }
    EXPECT_EQ(hvn::readWholeFile(h("Documents/letter")), "dear");
}

class ShredderTest : public RemovalGateTest {
protected:
    void TearDown() override { hvn::Shredder::setAfterPassHookForTesting(nullptr); }
    static hvn::RemovalResult shred(const std::string& p) {
        hvn::RemovalOptions o;
        o.beforeUnlinkFile = hvn::Shredder::overwriteForRemoval;
        return hvn::FileManager::removeItem(p, o);
    }
};

TEST_F(ShredderTest, ASparseFileIsOverwrittenOnlyWhereItHoldsData) {
    std::string disk = roots.makeDir(h(".cache/disk"));
    ScopedMount tmp = ScopedMount::tmpfs(disk, 4 << 20);  // far smaller than the image
    if (!tmp.mounted()) GTEST_SKIP() << tmp.why();
    std::string image = disk + "/vm.img";
    {
        int fd = ::open(image.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        std::string data(256 * 1024, 'D');
        ASSERT_EQ(::pwrite(fd, data.data(), data.size(), 0), static_cast<ssize_t>(data.size()));
        ASSERT_EQ(::pwrite(fd, data.data(), data.size(), 512LL << 20), static_cast<ssize_t>(data.size()));
        ASSERT_EQ(::ftruncate(fd, 1LL << 30), 0);  // 1 GiB long
        ::close(fd);
    }
    struct stat before {};
    ASSERT_EQ(::stat(image.c_str(), &before), 0);
    bool sawPass = false;
    hvn::Shredder::setAfterPassHookForTesting([&](const std::string& p) {
        struct stat st {};
        ASSERT_EQ(::stat(p.c_str(), &st), 0);
        EXPECT_LE(st.st_blocks, before.st_blocks);  // nothing allocated
        std::ifstream in(p, std::ios::binary);
        std::string head(16, '\0');
        in.read(head.data(), 16);
        EXPECT_NE(head, std::string(16, 'D'));  // the data was overwritten
        sawPass = true;
    });
    hvn::RemovalResult r = shred(image);
    EXPECT_EQ(r.status, RemovalStatus::Removed) << r.error;
    EXPECT_TRUE(sawPass);
    EXPECT_FALSE(exists(image));
}

TEST_F(ShredderTest, AFileThatChangesDuringThePassIsKeptAndReported) {
    std::string grown = roots.writeFile(h(".cache/app/log"), std::string(5000, 'a'));
    hvn::Shredder::setAfterPassHookForTesting([](const std::string& p) {
        std::ofstream(p, std::ios::app) << "written meanwhile";
    });
    hvn::RemovalResult r = shred(grown);
    EXPECT_EQ(r.status, RemovalStatus::Failed);
    EXPECT_NE(r.error.find("changed while it was being overwritten"), std::string::npos) << r.error;
    EXPECT_TRUE(exists(grown));

    // Another file put in its place: neither is removed.
    std::string swapped = roots.writeFile(h(".cache/app/db"), "old");
    hvn::Shredder::setAfterPassHookForTesting([&](const std::string& p) {
        fs::rename(p, p + ".moved");
        std::ofstream(p) << "new";
    });
    r = shred(swapped);
    EXPECT_EQ(r.status, RemovalStatus::Failed) << r.error;
    EXPECT_EQ(hvn::readWholeFile(swapped), "new");
    EXPECT_TRUE(exists(swapped + ".moved"));

    // A file with another name stays readable through it.
    hvn::Shredder::setAfterPassHookForTesting(nullptr);
    std::string linked = roots.writeFile(h(".cache/app/shared"), "both");
    ASSERT_EQ(::link(linked.c_str(), h("other-name").c_str()), 0);
    EXPECT_EQ(shred(linked).status, RemovalStatus::Removed);
    EXPECT_EQ(hvn::readWholeFile(h("other-name")), "both");
}

}  // namespace
