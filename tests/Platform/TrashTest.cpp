#include "Platform/Trash.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Support/TestRoots.h"

namespace fs = std::filesystem;
using hvn::test::RootsTest;
namespace Trash = hvn::Trash;

namespace {

class TrashTest : public RootsTest {
protected:
    std::string readFile(const std::string& p) {
        std::ifstream in(p);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

}  // namespace

TEST_F(TrashTest, HomeTrashFollowsXdgDataHomeWhenAbsolute) {
    EXPECT_EQ(Trash::homeTrashDir(), roots.home() + "/.local/share/Trash");
    setenv("XDG_DATA_HOME", (roots.base() + "/data/").c_str(), 1);
    EXPECT_EQ(Trash::homeTrashDir(), roots.base() + "/data/Trash");
    setenv("XDG_DATA_HOME", "relative/data", 1);
    EXPECT_EQ(Trash::homeTrashDir(), roots.home() + "/.local/share/Trash");
    setenv("XDG_DATA_HOME", "", 1);
    EXPECT_EQ(Trash::homeTrashDir(), roots.home() + "/.local/share/Trash");
}

TEST_F(TrashTest, VolumeTrashesNeedAStickyRealAdminTrashOrAUserTrash) {
    const std::string v = roots.root() + "/Volumes/Stick";
    // Admin trash with the sticky bit and our folder, and our own top-directory trash.
    roots.makeDir(v + "/.Trash/1000");
    ASSERT_EQ(chmod((v + "/.Trash").c_str(), 01777), 0);
    roots.makeDir(v + "/.Trash-1000/files");
    EXPECT_EQ(Trash::volumeTrashDirs(v, 1000),
              (std::vector<std::string>{v + "/.Trash/1000", v + "/.Trash-1000"}));
    // Another user's trash is not ours.
    EXPECT_TRUE(Trash::volumeTrashDirs(v, 1001).empty());

    // Without the sticky bit the admin trash is not used at all, even with our folder in it.
    ASSERT_EQ(chmod((v + "/.Trash").c_str(), 0777), 0);
    EXPECT_EQ(Trash::volumeTrashDirs(v, 1000), (std::vector<std::string>{v + "/.Trash-1000"}));

    // Links in place of the trash folders are not followed.
    const std::string w = roots.root() + "/Volumes/Other";
    roots.makeDir(roots.base() + "/elsewhere/1000");
    ASSERT_EQ(chmod((roots.base() + "/elsewhere").c_str(), 01777), 0);
    roots.makeDir(w);
    fs::create_symlink(roots.base() + "/elsewhere", w + "/.Trash");
    fs::create_symlink(roots.base() + "/elsewhere/1000", w + "/.Trash-1000");
    EXPECT_FALSE(Trash::isUsableAdminTrash(w + "/.Trash"));
    EXPECT_TRUE(Trash::volumeTrashDirs(w, 1000).empty());
}

TEST_F(TrashTest, DirectorySizesKeepsOnlyItemsThatStillHaveARecord) {
    const std::string t = Trash::homeTrashDir();
    roots.writeFile(t + "/info/kept dir.trashinfo",
                    "[Trash Info]\nPath=/x\nDeletionDate=2024-01-01T00:00:00\n");
    roots.writeFile(t + "/info/other.trashinfo", "[Trash Info]\n");
    EXPECT_EQ(Trash::infoPathFor(t, "kept dir"), t + "/info/kept dir.trashinfo");
    roots.writeFile(t + "/directorysizes",
                    "4096 1700000000 kept%20dir\n"
                    "8192 1700000001 gone\n"
                    "malformed\n"
                    "12 1700000002 other\n"
                    "1 2 bad%zz\n"
                    // Cut at the NUL, this name's record would be other.trashinfo.
                    "3 1700000003 other.trashinfo%00\n");
    std::string error;
    ASSERT_TRUE(Trash::dropStaleDirectorySizes(t, &error)) << error;
    EXPECT_EQ(readFile(t + "/directorysizes"), "4096 1700000000 kept%20dir\n12 1700000002 other\n");
    // Clean already: left as it is; no cache at all: nothing to do.
    EXPECT_TRUE(Trash::dropStaleDirectorySizes(t));
    EXPECT_TRUE(Trash::dropStaleDirectorySizes(roots.base() + "/no-trash"));
    EXPECT_FALSE(fs::exists(roots.base() + "/no-trash"));
}

// A cache that is a link (a trash on a stick someone handed you) is left as it is, and so is
// the file it points at; a cache the user keeps private stays private.
TEST_F(TrashTest, DirectorySizesThatIsALinkIsLeftAloneAndAPrivateOneStaysPrivate) {
    const std::string t = Trash::homeTrashDir();
    roots.makeDir(t + "/info");
    std::string elsewhere = roots.writeFile(roots.base() + "/profile", "1 2 gone\n");
    ASSERT_EQ(::chmod(elsewhere.c_str(), 0600), 0);
    fs::create_symlink(elsewhere, t + "/directorysizes");
    std::string error;
    EXPECT_FALSE(Trash::dropStaleDirectorySizes(t, &error));
    EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_symlink(t + "/directorysizes"));
    EXPECT_EQ(readFile(elsewhere), "1 2 gone\n");

    fs::remove(t + "/directorysizes");
    roots.writeFile(t + "/directorysizes", "1 2 gone\n");
    ASSERT_EQ(::chmod((t + "/directorysizes").c_str(), 0600), 0);
    ASSERT_TRUE(Trash::dropStaleDirectorySizes(t, &error)) << error;
    struct stat st {};
    ASSERT_EQ(::lstat((t + "/directorysizes").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(readFile(t + "/directorysizes"), "");
}
