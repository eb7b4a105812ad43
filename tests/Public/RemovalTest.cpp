#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <algorithm>
#include <filesystem>

#include "HVN/Code/Public/Addation.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/Public/ReomveFile.h"
#include "Platform/FileManager.h"
#include "Platform/PropertyList.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;

namespace {

class RemovalTest : public hvn::test::RootsTest {
protected:
    void SetUp() override { setShredding(false); }

    static void setShredding(bool on) {
        HVNCommonFunction::changeSettingValue(hvn::Value(on), "Insight Clean");
    }
    std::string cache(const std::string& sub) const { return roots.home() + "/Library/Caches/" + sub; }
    static bool exists(const std::string& p) { return hvn::FileManager::fileExistsAtPath(p, nullptr, false); }
    static std::string contents(const std::string& p) { return hvn::readWholeFile(p).value_or("<missing>"); }

    // Gives a tree to nobody (the refusal tests run as nobody).
    static void giveToNobody(const std::string& top) {
        passwd* pw = getpwnam("nobody");
        lchown(top.c_str(), pw->pw_uid, pw->pw_gid);
        for (auto& e : fs::recursive_directory_iterator(top))
            lchown(e.path().c_str(), pw->pw_uid, pw->pw_gid);
    }
};

// Reads what an open descriptor still sees of a file after its name is gone.
std::string readThrough(int fd) {
    struct stat st {};
    fstat(fd, &st);
    std::string data(static_cast<size_t>(st.st_size), '\0');
    ssize_t n = pread(fd, data.data(), data.size(), 0);
    data.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return data;
}

}  // namespace

TEST_F(RemovalTest, PlainRemovalReportsThePlatformError) {
    roots.writeFile(cache("app/a/b/file"), "x");
    roots.writeFile(cache("single"), "y");
    std::string error;
    EXPECT_TRUE(ReomveFile::HVNRemoveFileAtPath(cache("app"), &error)) << error;
    EXPECT_TRUE(ReomveFile::HVNRemoveFileAtPath(cache("single"), nullptr));
    EXPECT_FALSE(exists(cache("app")));
    EXPECT_FALSE(exists(cache("single")));

    EXPECT_FALSE(ReomveFile::HVNRemoveFileAtPath(cache("missing"), &error));
    EXPECT_NE(error.find(cache("missing")), std::string::npos);
    EXPECT_NE(error.find("No such file or directory"), std::string::npos);

    if (!hvn::test::canRunAsNobody()) return;
    roots.writeFile(cache("rootOwned"), "z");
    int rc = hvn::test::runAsNobody([&] {
        std::string e;
        if (ReomveFile::HVNRemoveFileAtPath(cache("rootOwned"), &e)) return 1;
        return e.find("Permission denied") != std::string::npos &&
                       e.find(cache("rootOwned")) != std::string::npos
                   ? 0
                   : 2;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(contents(cache("rootOwned")), "z");
}

// The bytes must be overwritten in the file itself: a descriptor kept open on the file
// sees the new bytes after the removal (a replacing write would leave it the old ones).
TEST_F(RemovalTest, ShreddingOverwritesEveryFileInPlaceThenRemovesIt) {
    setShredding(true);
    std::string original(100000, 'A');
    roots.writeFile(cache("app/a.bin"), original);
    roots.writeFile(cache("app/sub/deeper/b.txt"), "secret text");
    roots.writeFile(cache("app/sub/empty"), "");
    int a = open(cache("app/a.bin").c_str(), O_RDONLY);
    int b = open(cache("app/sub/deeper/b.txt").c_str(), O_RDONLY);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);

    std::string error;
    EXPECT_TRUE(ReomveFile::HVNRemoveFileAtPath(cache("app"), &error)) << error;
    EXPECT_FALSE(exists(cache("app")));
    std::string afterA = readThrough(a);
    std::string afterB = readThrough(b);
    close(a);
    close(b);
    ASSERT_EQ(afterA.size(), original.size());
    EXPECT_LT(std::count(afterA.begin(), afterA.end(), 'A'), 5000);
    ASSERT_EQ(afterB.size(), 11u);
    EXPECT_NE(afterB, "secret text");

    // A file of length 0 is shredded (nothing to write) and removed.
    roots.writeFile(cache("zero"), "");
    EXPECT_TRUE(ReomveFile::fileShredder(cache("zero")));
    EXPECT_FALSE(exists(cache("zero")));
    EXPECT_FALSE(ReomveFile::fileShredder(cache("zero")));
}

TEST_F(RemovalTest, ShreddingSparesOtherHardLinksAndLinkTargets) {
    setShredding(true);
    std::string doc = roots.writeFile(roots.home() + "/Documents/doc", "original");
    std::string other = roots.writeFile(roots.home() + "/Documents/other", "other");
    roots.makeDir(cache("app"));
    ASSERT_EQ(link(doc.c_str(), cache("app/hard").c_str()), 0);
    ASSERT_EQ(symlink(other.c_str(), cache("app/soft").c_str()), 0);
    ASSERT_EQ(symlink(roots.home().c_str(), cache("app/toHome").c_str()), 0);

    std::string error;
    EXPECT_TRUE(ReomveFile::HVNRemoveFileAtPath(cache("app"), &error)) << error;
    EXPECT_FALSE(exists(cache("app")));
    EXPECT_EQ(contents(doc), "original");
    EXPECT_EQ(contents(other), "other");

    // A link given as the item is removed as a link, its target kept as it was.
    ASSERT_EQ(symlink(other.c_str(), cache("linkItem").c_str()), 0);
    EXPECT_TRUE(ReomveFile::fileShredder(cache("linkItem")));
    EXPECT_FALSE(exists(cache("linkItem")));
    EXPECT_EQ(contents(other), "other");
}

TEST_F(RemovalTest, AFileThatCannotBeOverwrittenIsKeptWithAnError) {
    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root and the user nobody";
    setShredding(true);
    roots.writeFile(cache("app/readOnly"), "keep me");
    roots.writeFile(cache("app/writable"), "go");
    giveToNobody(cache("app"));
    chmod(cache("app/readOnly").c_str(), 0444);
    chmod(cache("").c_str(), 0777);  // the folder itself is deletable

    int rc = hvn::test::runAsNobody([&] {
        std::string error;
        if (ReomveFile::HVNRemoveFileAtPath(cache("app"), &error)) return 1;
        if (error.find("Could not overwrite " + cache("app/readOnly")) == std::string::npos) return 2;
        if (error.find("Permission denied") == std::string::npos) return 3;
        return ReomveFile::fileShredder(cache("app/readOnly")) ? 4 : 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(contents(cache("app/readOnly")), "keep me");
    EXPECT_FALSE(exists(cache("app/writable")));
}

// Writable but not deletable: neither removed nor overwritten.
TEST_F(RemovalTest, AnItemThatIsNotDeletableIsLeftAsItWas) {
    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root and the user nobody";
    roots.writeFile(cache("rootFolder/f"), "content");
    chmod(cache("rootFolder/f").c_str(), 0666);
    int rc = hvn::test::runAsNobody([&] {
        if (ReomveFile::removeFile(cache("rootFolder/f"))) return 1;
        if (ReomveFile::fileShredder(cache("rootFolder/f"))) return 2;
        std::string error;
        if (ReomveFile::shredItemAtPath(cache("rootFolder/f"), &error)) return 3;
        return error.find("Permission denied") != std::string::npos ? 0 : 4;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(contents(cache("rootFolder/f")), "content");

    // The same inside a folder being shredded: the rest goes, that file stays untouched.
    setShredding(true);
    roots.writeFile(cache("app/mine"), "mine");
    roots.writeFile(cache("app/rootSub/shared"), "shared");
    giveToNobody(cache("app"));
    lchown(cache("app/rootSub").c_str(), 0, 0);
    lchown(cache("app/rootSub/shared").c_str(), 0, 0);
    chmod(cache("app/rootSub/shared").c_str(), 0666);
    chmod(cache("").c_str(), 0777);
    rc = hvn::test::runAsNobody([&] {
        std::string error;
        if (ReomveFile::HVNRemoveFileAtPath(cache("app"), &error)) return 1;
        return error.find(cache("app/rootSub/shared") + ": Permission denied") != std::string::npos ? 0 : 2;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(contents(cache("app/rootSub/shared")), "shared");
    EXPECT_FALSE(exists(cache("app/mine")));
    chmod(cache("").c_str(), 0755);

    // As root the same item is deletable and goes.
    EXPECT_TRUE(ReomveFile::removeFile(cache("rootFolder/f")));
    EXPECT_FALSE(exists(cache("rootFolder/f")));
}

TEST_F(RemovalTest, RootsAndTheirTopLevelFoldersAreRefusedWhateverTheSetting) {
    std::string letter = roots.writeFile(roots.home() + "/Documents/letter", "dear");
    std::string pref = roots.writeFile(roots.home() + "/Library/Preferences/p.plist", "p");
    std::string sys = roots.writeFile(roots.root() + "/Library/Caches/c", "c");
    for (bool shred : {false, true}) {
        setShredding(shred);
        for (const std::string& p : {roots.home(), roots.home() + "/Documents", roots.home() + "/Library/",
                                     roots.root(), roots.root() + "/Library"}) {
            std::string error;
            EXPECT_FALSE(ReomveFile::HVNRemoveFileAtPath(p, &error)) << p;
            EXPECT_NE(error.find("Refusing to remove"), std::string::npos) << error;
            EXPECT_FALSE(ReomveFile::removeFile(p)) << p;
            EXPECT_FALSE(ReomveFile::fileShredder(p)) << p;
        }
    }
    EXPECT_EQ(contents(letter), "dear");
    EXPECT_EQ(contents(pref), "p");
    EXPECT_EQ(contents(sys), "c");
}

TEST_F(RemovalTest, DirectorySizeOfTheAddition) {
    roots.writeFile(cache("app/a"), std::string(10, 'a'));
    roots.writeFile(cache("app/.b"), std::string(20, 'b'));
    roots.writeFile(cache("app/s/c"), std::string(30, 'c'));
    EXPECT_EQ(Addation::directorySize(cache("app")), 60);
    EXPECT_EQ(Addation::directorySize(cache("none")), 0);
}
