#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <filesystem>

#include "Platform/FileManager.h"
#include "Support/TestRoots.h"

using namespace hvn;
namespace fs = std::filesystem;

namespace {

class FileManagerTest : public test::RootsTest {
protected:
    std::string home(const std::string& sub) const { return roots.home() + "/" + sub; }
};

uid_t nobodyUid() {
    return getpwnam("nobody")->pw_uid;
}

}  // namespace

TEST_F(FileManagerTest, AttributesDescribeTheLinkItselfUnlessAskedToFollow) {
    std::string file = roots.writeFile(home("data.bin"), "12345");
    ASSERT_EQ(truncate(file.c_str(), 1000000), 0);  // sparse: the logical length counts
    timespec times[2] = {{1400000000, 0}, {1500000000, 500000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    std::string link = home("link");
    ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);

    auto own = FileManager::attributesOfItemAtPath(link);
    ASSERT_TRUE(own);
    EXPECT_TRUE(own->isSymbolicLink());
    EXPECT_EQ(own->size, static_cast<int64_t>(file.size()));

    auto target = FileManager::attributesOfItemAtPath(link, nullptr, true);
    ASSERT_TRUE(target);
    EXPECT_TRUE(target->isRegularFile());
    EXPECT_EQ(target->size, 1000000);
    EXPECT_EQ(target->accessDate.secondsSince1970, 1400000000);
    EXPECT_DOUBLE_EQ(target->modificationDate.secondsSince1970, 1500000000.5);

    auto folder = FileManager::attributesOfItemAtPath(roots.home());
    ASSERT_TRUE(folder);
    EXPECT_TRUE(folder->isDirectory());

    std::string error;
    EXPECT_FALSE(FileManager::attributesOfItemAtPath(home("missing"), &error));
    EXPECT_NE(error.find(home("missing")), std::string::npos);
    EXPECT_NE(error.find("No such file or directory"), std::string::npos);
}

TEST_F(FileManagerTest, ExistenceFollowsTheFinalLinkOnlyWhenAsked) {
    std::string broken = home("broken");
    ASSERT_EQ(symlink("/nonexistent/target", broken.c_str()), 0);
    bool isDirectory = true;
    EXPECT_FALSE(FileManager::fileExistsAtPath(broken, &isDirectory));
    EXPECT_TRUE(FileManager::fileExistsAtPath(broken, &isDirectory, false));
    EXPECT_FALSE(isDirectory);

    std::string folderLink = home("folderLink");
    ASSERT_EQ(symlink(roots.makeDir(home("folder")).c_str(), folderLink.c_str()), 0);
    EXPECT_TRUE(FileManager::fileExistsAtPath(folderLink, &isDirectory));
    EXPECT_TRUE(isDirectory);
    EXPECT_TRUE(FileManager::fileExistsAtPath(folderLink, &isDirectory, false));
    EXPECT_FALSE(isDirectory);
    EXPECT_FALSE(FileManager::fileExistsAtPath(""));
}

TEST_F(FileManagerTest, ListingsIncludeHiddenNamesAndReportErrors) {
    std::string dir = roots.makeDir(home("list"));
    roots.writeFile(dir + "/b", "");
    roots.writeFile(dir + "/a", "");
    roots.writeFile(dir + "/.hidden", "");
    roots.makeDir(dir + "/sub");
    ASSERT_EQ(symlink("a", (dir + "/ln").c_str()), 0);

    auto names = FileManager::contentsOfDirectoryAtPath(dir);
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, (std::vector<std::string>{".hidden", "a", "b", "ln", "sub"}));

    auto entries = FileManager::entriesOfDirectoryAtPath(dir);
    ASSERT_TRUE(entries);
    std::map<std::string, FileType> types;
    for (const auto& e : *entries) types[e.name] = e.type;
    EXPECT_EQ(types.size(), 5u);
    EXPECT_EQ(types["sub"], FileType::Directory);
    EXPECT_EQ(types["a"], FileType::Regular);
    EXPECT_EQ(types["ln"], FileType::SymbolicLink);

    std::string error;
    EXPECT_FALSE(FileManager::contentsOfDirectoryAtPath(dir + "/a", &error));
    EXPECT_NE(error.find("Not a directory"), std::string::npos);
    EXPECT_FALSE(FileManager::entriesOfDirectoryAtPath(dir + "/none", &error));
    EXPECT_NE(error.find(dir + "/none"), std::string::npos);
}

TEST_F(FileManagerTest, PackagesAndDisplayNames) {
    std::string app = roots.makeDir(home("Applications/Safari.app/Contents"));
    app = home("Applications/Safari.app");
    roots.makeDir(home("Applications/Tool.PrefPane"));
    roots.makeDir(home("Applications/en.lproj"));
    roots.writeFile(home("Applications/file.app"), "not a folder");
    ASSERT_EQ(symlink(app.c_str(), home("Applications/link.app").c_str()), 0);

    EXPECT_TRUE(FileManager::isPackageAtPath(app));
    EXPECT_TRUE(FileManager::isPackageAtPath(app + "/"));
    EXPECT_TRUE(FileManager::isPackageAtPath(home("Applications/Tool.PrefPane")));
    EXPECT_FALSE(FileManager::isPackageAtPath(home("Applications/en.lproj")));
    EXPECT_FALSE(FileManager::isPackageAtPath(home("Applications/file.app")));
    EXPECT_FALSE(FileManager::isPackageAtPath(home("Applications/link.app")));
    EXPECT_FALSE(FileManager::isPackageAtPath(app + "/Contents"));

    EXPECT_EQ(FileManager::displayNameAtPath(app), "Safari");
    EXPECT_EQ(FileManager::displayNameAtPath(home("Applications/file.app")), "file.app");
    EXPECT_EQ(FileManager::displayNameAtPath("/x/Report: 2024.txt"), "Report/ 2024.txt");

    EXPECT_EQ(FileManager::pathExtension("/a/b.tar.gz"), "gz");
    EXPECT_EQ(FileManager::pathExtension("/a/.profile"), "");
    EXPECT_EQ(FileManager::pathExtension("/a.d/b"), "");
    EXPECT_EQ(FileManager::lastPathComponent("/a/b//"), "b");
    EXPECT_EQ(FileManager::lastPathComponent("/"), "/");
}

TEST_F(FileManagerTest, CreateDirectoryReportsAFileInTheWay) {
    std::string error;
    EXPECT_TRUE(FileManager::createDirectoryAtPath(home("x/y/z"), true, &error)) << error;
    EXPECT_TRUE(FileManager::createDirectoryAtPath(home("x/y/z"), false, &error)) << error;
    EXPECT_FALSE(FileManager::createDirectoryAtPath(home("p/q"), false, &error));
    roots.writeFile(home("f"), "");
    EXPECT_FALSE(FileManager::createDirectoryAtPath(home("f"), true, &error));
}

// Access tests are those of the effective user: run as nobody to see what a user's session
// sees (as root everything is deletable and writable).
TEST_F(FileManagerTest, AccessTestsFollowTheEffectiveUserAndTheStickyBit) {
    if (!test::canRunAsNobody()) GTEST_SKIP() << "needs root and the user nobody";
    std::string locked = roots.makeDir(home("locked"));
    roots.writeFile(locked + "/f", "x");
    std::string open = roots.makeDir(home("open"));
    chmod(open.c_str(), 0777);
    roots.writeFile(open + "/g", "x");
    chmod((open + "/g").c_str(), 0644);
    std::string sticky = roots.makeDir(home("tmp"));
    chmod(sticky.c_str(), 01777);
    roots.writeFile(sticky + "/root-owned", "x");
    roots.writeFile(sticky + "/mine", "x");
    ASSERT_EQ(chown((sticky + "/mine").c_str(), nobodyUid(), static_cast<gid_t>(-1)), 0);
    std::string secret = roots.makeDir(home("secret"));
    chmod(secret.c_str(), 0700);
    std::string searchOnly = roots.makeDir(home("writeOnly"));
    roots.writeFile(searchOnly + "/h", "x");
    chmod(searchOnly.c_str(), 0722);  // others may write but not search

    int failed = test::runAsNobody([&] {
        if (FileManager::isDeletableFileAtPath(locked + "/f")) return 1;
        if (!FileManager::isDeletableFileAtPath(open + "/g")) return 2;
        if (FileManager::isDeletableFileAtPath(sticky + "/root-owned")) return 3;
        if (!FileManager::isDeletableFileAtPath(sticky + "/mine")) return 4;
        if (FileManager::isDeletableFileAtPath(open + "/missing")) return 5;
        if (FileManager::isWritableFileAtPath(open + "/g")) return 6;
        if (!FileManager::isReadableFileAtPath(open + "/g")) return 7;
        if (FileManager::isReadableFileAtPath(secret)) return 8;
        std::string error;
        if (FileManager::contentsOfDirectoryAtPath(secret, &error)) return 9;
        if (error.find("Permission denied") == std::string::npos) return 10;
        if (!FileManager::isWritableFileAtPath(sticky)) return 11;
        if (FileManager::isDeletableFileAtPath(searchOnly + "/h")) return 12;
        return 0;
    });
    EXPECT_EQ(failed, 0);

    // As root the sticky rule and the folder modes do not stop a deletion.
    EXPECT_TRUE(FileManager::isDeletableFileAtPath(sticky + "/root-owned"));
    EXPECT_TRUE(FileManager::isDeletableFileAtPath(locked + "/f"));
    EXPECT_FALSE(FileManager::isDeletableFileAtPath("/"));
}
