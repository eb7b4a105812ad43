#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "HVN/Code/Public/ReomveFile.h"
#include "Platform/FileManager.h"
#include "Platform/PropertyList.h"
#include "Support/Mounts.h"
#include "Support/TestRoots.h"

namespace {

class ReplaceItemTest : public hvn::test::RootsTest {
protected:
    std::string pictures(const std::string& sub) const { return roots.home() + "/Pictures/Lib/" + sub; }
    static std::string contents(const std::string& p) { return hvn::readWholeFile(p).value_or("<missing>"); }
    static bool exists(const std::string& p) { return hvn::FileManager::fileExistsAtPath(p, nullptr, false); }
    static ino_t inodeOf(const std::string& p) {
        struct stat st {};
        return lstat(p.c_str(), &st) == 0 ? st.st_ino : 0;
    }
};

}  // namespace

TEST_F(ReplaceItemTest, ThePreviewTakesTheMastersPlaceWithExactlyItsBytes) {
    const std::string master = roots.writeFile(pictures("Masters/2012/IMG_1.jpg"), std::string(5000, 'M'));
    const std::string preview =
        roots.writeFile(pictures("Previews/2012/Event/IMG_1.jpg"), std::string("preview\0bytes\n", 14));
    const ino_t previewInode = inodeOf(preview);

    hvn::RemovalResult r = ReomveFile::replaceItemAtPath(master, preview);
    ASSERT_TRUE(r.removed()) << r.error;
    EXPECT_EQ(contents(master), std::string("preview\0bytes\n", 14));
    EXPECT_EQ(inodeOf(master), previewInode);
    EXPECT_FALSE(exists(preview));
}

TEST_F(ReplaceItemTest, RefusalsLeaveBothFilesAsTheyWere) {
    const std::string preview = roots.writeFile(pictures("Previews/p.jpg"), "preview");
    const std::string master = roots.writeFile(pictures("Masters/m.jpg"), "master");

    auto expectRefused = [&](const std::string& target, const std::string& with, const char* why) {
        SCOPED_TRACE(target + " <- " + with);
        hvn::RemovalResult r = ReomveFile::replaceItemAtPath(target, with);
        EXPECT_EQ(r.status, hvn::RemovalStatus::Refused) << r.error;
        EXPECT_NE(r.error.find(why), std::string::npos) << r.error;
        EXPECT_EQ(contents(preview), "preview");
        EXPECT_EQ(contents(master), "master");
    };

    // A folder on either side.
    const std::string folder = roots.makeDir(pictures("Masters/folder.jpg"));
    roots.writeFile(folder + "/inside", "kept");
    expectRefused(folder, preview, "not a regular file");
    expectRefused(master, folder, "not a regular file");
    EXPECT_EQ(contents(folder + "/inside"), "kept");

    // A link as the master: replacing it would free nothing and leave its target.
    const std::string linkPath = pictures("Masters/link.jpg");
    ASSERT_EQ(symlink(master.c_str(), linkPath.c_str()), 0);
    expectRefused(linkPath, preview, "not a regular file");
    EXPECT_TRUE(hvn::FileManager::attributesOfItemAtPath(linkPath)->isSymbolicLink());
    // A link as the preview.
    expectRefused(master, linkPath, "not a regular file");

    // A parent reached through a symbolic link.
    const std::string linkedFolder = pictures("Linked");
    ASSERT_EQ(symlink(pictures("Masters").c_str(), linkedFolder.c_str()), 0);
    expectRefused(linkedFolder + "/m.jpg", preview, "symbolic link");
    expectRefused(master, linkedFolder + "/../Previews/p.jpg", "");

    // Protected places: an item directly in the home folder, and relative paths.
    const std::string topFile = roots.writeFile(roots.home() + "/top.jpg", "top");
    expectRefused(topFile, preview, "");
    EXPECT_EQ(contents(topFile), "top");
    expectRefused("Pictures/Lib/Masters/m.jpg", preview, "");

    // The same file under two names.
    const std::string hardLink = pictures("Masters/hard.jpg");
    ASSERT_EQ(::link(master.c_str(), hardLink.c_str()), 0);
    expectRefused(master, hardLink, "same file");
    EXPECT_TRUE(exists(hardLink));
}

TEST_F(ReplaceItemTest, AnotherFileSystemIsRefused) {
    const std::string master = roots.writeFile(pictures("Masters/m.jpg"), "master");
    const std::string other = roots.makeDir(pictures("Previews"));
    hvn::test::ScopedMount mount = hvn::test::ScopedMount::tmpfs(other, 1 << 20);
    if (!mount.mounted()) GTEST_SKIP() << mount.why();
    const std::string preview = roots.writeFile(other + "/p.jpg", "preview");

    hvn::RemovalResult r = ReomveFile::replaceItemAtPath(master, preview);
    EXPECT_EQ(r.status, hvn::RemovalStatus::Refused) << r.error;
    EXPECT_NE(r.error.find("another file system"), std::string::npos) << r.error;
    EXPECT_EQ(contents(master), "master");
    EXPECT_EQ(contents(preview), "preview");
}

TEST_F(ReplaceItemTest, MissingFilesAndAFailedRenameKeepTheMaster) {
    const std::string master = roots.writeFile(pictures("Masters/m.jpg"), "master");
    hvn::RemovalResult r = ReomveFile::replaceItemAtPath(master, pictures("Previews/gone.jpg"));
    EXPECT_EQ(r.status, hvn::RemovalStatus::Missing) << r.error;
    EXPECT_EQ(contents(master), "master");
    const std::string preview = roots.writeFile(pictures("Previews/p.jpg"), "preview");
    r = ReomveFile::replaceItemAtPath(pictures("Masters/gone.jpg"), preview);
    EXPECT_EQ(r.status, hvn::RemovalStatus::Missing) << r.error;
    EXPECT_FALSE(exists(pictures("Masters/gone.jpg")));
    EXPECT_EQ(contents(preview), "preview");

    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root and the user nobody";
    // Folders nobody may not write: the rename fails and reports why.
    int rc = hvn::test::runAsNobody([&] {
        hvn::RemovalResult failed = ReomveFile::replaceItemAtPath(master, preview);
        if (failed.status != hvn::RemovalStatus::Failed) return 1;
        return failed.error.find("Permission denied") != std::string::npos ? 0 : 2;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(contents(master), "master");
    EXPECT_EQ(contents(preview), "preview");
}
