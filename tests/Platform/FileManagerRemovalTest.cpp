#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>

#include "Platform/FileManager.h"
#include "Platform/PropertyList.h"
#include "Support/TestRoots.h"

using namespace hvn;
namespace fs = std::filesystem;

namespace {

class FileManagerRemovalTest : public test::RootsTest {
protected:
    std::string home(const std::string& sub) const { return roots.home() + "/" + sub; }
    bool exists(const std::string& p) const { return FileManager::fileExistsAtPath(p, nullptr, false); }
    std::string contents(const std::string& p) const { return readWholeFile(p).value_or("<missing>"); }
};

void chownTree(const std::string& top, uid_t uid, gid_t gid) {
    lchown(top.c_str(), uid, gid);
    for (auto& e : fs::recursive_directory_iterator(top)) lchown(e.path().c_str(), uid, gid);
}

// Builds a chain of `depth` nested folders named "d" below top (paths far longer than
// PATH_MAX, so it is built through descriptors) with a file of `bytes` bytes at the bottom.
void makeDeepChain(const std::string& top, int depth, size_t bytes) {
    fs::create_directories(top);
    int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < depth; ++i) {
        ASSERT_EQ(mkdirat(fd, "d", 0755), 0);
        int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
        close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    int file = openat(fd, "bottom", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    std::string data(bytes, 'x');
    ASSERT_EQ(write(file, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    close(file);
    close(fd);
}

}  // namespace

TEST_F(FileManagerRemovalTest, RemovesAWholeTreeButNothingALinkPointsTo) {
    std::string outside = roots.makeDir(home("Documents/keep"));
    roots.writeFile(outside + "/precious", "data");
    std::string tree = home("Library/Caches/app");
    roots.writeFile(tree + "/a/b/c/file", "1");
    roots.writeFile(tree + "/.hidden/x", "2");
    roots.makeDir(tree + "/empty");
    ASSERT_EQ(mkfifo((tree + "/a/pipe").c_str(), 0644), 0);
    ASSERT_EQ(symlink(outside.c_str(), (tree + "/a/toFolder").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/precious").c_str(), (tree + "/toFile").c_str()), 0);
    chmod((tree + "/a/b").c_str(), 0);  // root removes it anyway

    std::string error;
    EXPECT_TRUE(FileManager::removeItemAtPath(tree, &error)) << error;
    EXPECT_FALSE(exists(tree));
    EXPECT_EQ(contents(outside + "/precious"), "data");
    EXPECT_TRUE(exists(home("Library/Caches")));
}

TEST_F(FileManagerRemovalTest, ALinkAsTheItemIsRemovedAsALink) {
    std::string target = home("Documents/folder");
    roots.writeFile(target + "/inside", "data");
    std::string link = home("Library/Caches/link");
    roots.makeDir(home("Library/Caches"));
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);

    EXPECT_TRUE(FileManager::removeItemAtPath(link + "/"));  // a trailing slash does not reach the target
    EXPECT_FALSE(exists(link));
    EXPECT_EQ(contents(target + "/inside"), "data");

    std::string broken = home("Library/Caches/broken");
    ASSERT_EQ(symlink("/nonexistent", broken.c_str()), 0);
    EXPECT_TRUE(FileManager::removeItemAtPath(broken));
    EXPECT_FALSE(exists(broken));
}

TEST_F(FileManagerRemovalTest, RootsAndTheirTopLevelFoldersAreNeverRemoved) {
    roots.writeFile(home("Library/Preferences/p.plist"), "p");
    roots.writeFile(roots.root() + "/Library/Caches/c", "c");
    roots.makeDir(roots.root() + "/Applications");
    for (const std::string& p :
         {roots.home(), roots.home() + "/", home("Library"), home("./Library/"), home("Library/Caches/.."),
          roots.root(), roots.root() + "//Applications", roots.root() + "/Library", std::string("/"),
          std::string("/usr"), std::string("")}) {
        std::string error;
        EXPECT_FALSE(FileManager::removeItemAtPath(p, &error)) << p;
        EXPECT_FALSE(error.empty()) << p;
    }
    EXPECT_EQ(contents(home("Library/Preferences/p.plist")), "p");
    EXPECT_EQ(contents(roots.root() + "/Library/Caches/c"), "c");
    EXPECT_TRUE(exists(roots.root() + "/Applications"));

    // A link met on the way does not hide where the item really is.
    roots.makeDir(home("Library/Caches"));
    roots.writeFile(home("Documents/letter"), "l");
    ASSERT_EQ(symlink(roots.home().c_str(), home("Library/Caches/toHome").c_str()), 0);
    std::string error;
    EXPECT_FALSE(FileManager::removeItemAtPath(home("Library/Caches/toHome/Documents"), &error));
    EXPECT_NE(error.find("Refusing"), std::string::npos) << error;
    EXPECT_EQ(contents(home("Documents/letter")), "l");
    // The link itself may go.
    EXPECT_TRUE(FileManager::removeItemAtPath(home("Library/Caches/toHome")));
    EXPECT_EQ(contents(home("Documents/letter")), "l");
}

TEST_F(FileManagerRemovalTest, AMissingItemFailsWithThePathAndTheSystemText) {
    std::string error;
    EXPECT_FALSE(FileManager::removeItemAtPath(home("Library/none"), &error));
    EXPECT_NE(error.find(home("Library/none")), std::string::npos);
    EXPECT_NE(error.find("No such file or directory"), std::string::npos);
    EXPECT_FALSE(FileManager::removeItemAtPath(home("Library/none/.."), &error));
}

// The walk lists a folder before it removes anything in it; a sibling folder replaced by a
// link in the meantime must be removed as a link, never entered.
TEST_F(FileManagerRemovalTest, AFolderSwappedForALinkDuringTheWalkIsNotEntered) {
    std::string outside = home("Documents/keep");
    roots.writeFile(outside + "/precious", "data");
    std::string tree = home("Library/Caches/app");
    roots.writeFile(tree + "/one/f", "1");
    roots.writeFile(tree + "/two/f", "2");
    roots.writeFile(tree + "/three/f", "3");
    bool swapped = false;
    std::string movedAway;
    auto swapSibling = [&](int, const char*, const std::string& path, std::string*) {
        if (swapped) return true;
        swapped = true;
        for (const char* name : {"one", "two", "three"}) {
            std::string sibling = tree + "/" + name;
            if (path.rfind(sibling + "/", 0) == 0 || !exists(sibling)) continue;
            movedAway = home(std::string("Library/moved-") + name);
            fs::rename(sibling, movedAway);
            fs::create_directory_symlink(outside, sibling);
            break;
        }
        return true;
    };
    std::string error;
    EXPECT_TRUE(FileManager::removeItemAtPath(tree, &error, swapSibling)) << error;
    ASSERT_FALSE(movedAway.empty());
    EXPECT_FALSE(exists(tree));
    EXPECT_EQ(contents(outside + "/precious"), "data");
    EXPECT_TRUE(exists(movedAway + "/f"));
}

// The folder being emptied is itself moved away and replaced by a link: the walk keeps
// working in the folder it opened and never touches the link's target.
TEST_F(FileManagerRemovalTest, TheCurrentFolderSwappedForALinkLeadsNowhereElse) {
    std::string outside = home("Documents/keep");
    roots.writeFile(outside + "/precious", "data");
    roots.writeFile(outside + "/f2", "data2");
    std::string tree = home("Library/Caches/app");
    roots.writeFile(tree + "/sub/f1", "1");
    roots.writeFile(tree + "/sub/f2", "2");
    bool swapped = false;
    auto swapCurrent = [&](int, const char*, const std::string&, std::string*) {
        if (!swapped) {
            swapped = true;
            fs::rename(tree + "/sub", home("Library/moved"));
            fs::create_directory_symlink(outside, tree + "/sub");
        }
        return true;
    };
    std::string error;
    EXPECT_TRUE(FileManager::removeItemAtPath(tree, &error, swapCurrent)) << error;
    EXPECT_FALSE(exists(tree));
    EXPECT_EQ(contents(outside + "/precious"), "data");
    EXPECT_EQ(contents(outside + "/f2"), "data2");
    EXPECT_TRUE(exists(home("Library/moved")));
    EXPECT_FALSE(exists(home("Library/moved/f1")));
    EXPECT_FALSE(exists(home("Library/moved/f2")));
}

// Far down a tree the walk keeps only the deepest folders open and climbs back through
// "..". A folder moved out of the tree meanwhile must not lead the walk into its new parent.
TEST_F(FileManagerRemovalTest, ClimbingBackNeverLeavesTheTree) {
    std::string outside = home("Documents/keep");
    roots.writeFile(outside + "/precious", "data");
    std::string tree = home("Library/Caches/deep");
    makeDeepChain(tree, 60, 1);
    std::string sixth = tree;
    for (int i = 0; i < 6; ++i) sixth += "/d";
    bool moved = false;
    auto moveAway = [&](int, const char*, const std::string&, std::string*) {
        if (!moved) {
            moved = true;
            fs::rename(sixth, outside + "/d");
        }
        return true;
    };
    std::string error;
    EXPECT_FALSE(FileManager::removeItemAtPath(tree, &error, moveAway));
    EXPECT_TRUE(moved);
    EXPECT_NE(error.find("moved during removal"), std::string::npos) << error;
    EXPECT_EQ(contents(outside + "/precious"), "data");
    EXPECT_TRUE(exists(outside));
}

TEST_F(FileManagerRemovalTest, TenThousandLevelsAreRemovedAndMeasured) {
    std::string top = home("Library/Caches/deep");
    makeDeepChain(top, 10000, 7);
    roots.writeFile(top + "/side", "12345");
    EXPECT_EQ(FileManager::directorySize(top), 12);
    std::string error;
    EXPECT_TRUE(FileManager::removeItemAtPath(top, &error)) << error.substr(0, 300);
    EXPECT_FALSE(exists(top));
}

TEST_F(FileManagerRemovalTest, UnreadableSubFolderIsAnErrorAndTheRestGoes) {
    if (!test::canRunAsNobody()) GTEST_SKIP() << "needs root and the user nobody";
    std::string tree = home("Library/Caches/app");
    roots.writeFile(tree + "/a", "1");
    roots.writeFile(tree + "/locked/inner", "2");
    roots.writeFile(tree + "/z/deeper/b", "3");
    roots.makeDir(tree + "/emptyLocked");
    passwd* pw = getpwnam("nobody");
    chownTree(tree, pw->pw_uid, pw->pw_gid);
    chmod(tree.c_str(), 0755);
    chmod((tree + "/locked").c_str(), 0);
    chmod((tree + "/emptyLocked").c_str(), 0);
    chmod(home("Library/Caches").c_str(), 0777);

    int rc = test::runAsNobody([&] {
        std::string error;
        if (FileManager::removeItemAtPath(tree, &error)) return 1;
        if (error.find(tree + "/locked") == std::string::npos) return 2;
        if (error.find("Permission denied") == std::string::npos) return 3;
        return 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(exists(tree + "/locked"));
    EXPECT_FALSE(exists(tree + "/a"));
    EXPECT_FALSE(exists(tree + "/z"));
    EXPECT_FALSE(exists(tree + "/emptyLocked"));
}

TEST_F(FileManagerRemovalTest, AFileTheCallbackKeepsMakesTheRemovalFail) {
    std::string tree = home("Library/Caches/app");
    roots.writeFile(tree + "/keep", "k");
    roots.writeFile(tree + "/go", "g");
    auto keepOne = [](int, const char* name, const std::string& path, std::string* error) {
        if (std::string(name) != "keep") return true;
        *error = "kept " + path;
        return false;
    };
    std::string error;
    EXPECT_FALSE(FileManager::removeItemAtPath(tree, &error, keepOne));
    EXPECT_EQ(error, "kept " + tree + "/keep");
    EXPECT_EQ(contents(tree + "/keep"), "k");
    EXPECT_FALSE(exists(tree + "/go"));
}

TEST_F(FileManagerRemovalTest, DirectorySizeCountsLogicalLengthsAndFollowsNoLink) {
    std::string dir = home("size");
    roots.writeFile(dir + "/a", std::string(100, 'a'));
    roots.writeFile(dir + "/.hidden", std::string(10, 'h'));
    roots.writeFile(dir + "/sub/b", std::string(1000, 'b'));
    std::string sparse = roots.writeFile(dir + "/sub/sparse", "");
    ASSERT_EQ(truncate(sparse.c_str(), 5000000), 0);
    roots.writeFile(home("big/blob"), std::string(50000, 'x'));
    ASSERT_EQ(symlink(home("big").c_str(), (dir + "/sub/toBig").c_str()), 0);  // adds its own length
    ASSERT_EQ(symlink(dir.c_str(), (dir + "/sub/cycle").c_str()), 0);
    int64_t links = static_cast<int64_t>(home("big").size() + dir.size());
    EXPECT_EQ(FileManager::directorySize(dir), 100 + 10 + 1000 + 5000000 + links);
    EXPECT_EQ(FileManager::directorySize(dir + "/sub/toBig"), 0);
    EXPECT_EQ(FileManager::directorySize(dir + "/a"), 0);
    EXPECT_EQ(FileManager::directorySize(home("none")), 0);

    if (!test::canRunAsNobody()) return;
    chmod((dir + "/sub").c_str(), 0700);
    int rc = test::runAsNobody([&] { return FileManager::directorySize(dir) == 110 ? 0 : 1; });
    EXPECT_EQ(rc, 0);
}
