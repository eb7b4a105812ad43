#include "Platform/MoveToTrash.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Platform/FileManager.h"
#include "Platform/ListedItem.h"
#include "Platform/Trash.h"
#include "Support/Mounts.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool exists(const std::string& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
}

// The Path= value of a .trashinfo file, decoded.
std::string recordedPath(const std::string& infoPath) {
    std::string text = readAll(infoPath);
    size_t b = text.find("\nPath=");
    if (b == std::string::npos) return {};
    size_t e = text.find('\n', b + 1);
    auto decoded = hvn::Trash::percentDecode(text.substr(b + 6, e - b - 6));
    return decoded ? *decoded : std::string();
}

class MoveToTrashTest : public hvn::test::RootsTest {
protected:
    std::string homeTrash() const { return roots.home() + "/.local/share/Trash"; }
};

TEST_F(MoveToTrashTest, HomeItemGoesToTheHomeTrashInfoFirstAndClashesPickAnotherName) {
    std::string a = roots.writeFile(roots.home() + "/Downloads/report.pdf", "first");
    auto r = hvn::Trash::moveItemToTrash(a);
    ASSERT_TRUE(r.moved()) << r.error;
    EXPECT_EQ(r.trashedPath, homeTrash() + "/files/report.pdf");
    EXPECT_FALSE(exists(a));
    EXPECT_EQ(readAll(r.trashedPath), "first");
    std::string info = readAll(r.infoPath);
    EXPECT_EQ(info.rfind("[Trash Info]\n", 0), 0u);
    EXPECT_NE(info.find("\nDeletionDate="), std::string::npos);
    EXPECT_EQ(recordedPath(r.infoPath), a);

    // Same name again, and a stale info file holding the next name: both are skipped.
    roots.writeFile(homeTrash() + "/info/report.2.pdf.trashinfo", "[Trash Info]\n");
    std::string b = roots.writeFile(roots.home() + "/Downloads/report.pdf", "second");
    auto r2 = hvn::Trash::moveItemToTrash(b);
    ASSERT_TRUE(r2.moved()) << r2.error;
    EXPECT_EQ(r2.trashedPath, homeTrash() + "/files/report.3.pdf");
    EXPECT_EQ(readAll(homeTrash() + "/files/report.pdf"), "first");
    EXPECT_EQ(readAll(r2.trashedPath), "second");
    EXPECT_EQ(readAll(homeTrash() + "/info/report.2.pdf.trashinfo"), "[Trash Info]\n");
}

TEST_F(MoveToTrashTest, OddNamesAreRecordedByteForByte) {
    for (std::string name : {std::string("new\nline %41"), std::string("bad\xff\xfe utf8"), std::string("-rf")}) {
        std::string p = roots.writeFile(roots.home() + "/Documents/sub/" + name, "x");
        auto r = hvn::Trash::moveItemToTrash(p);
        ASSERT_TRUE(r.moved()) << r.error;
        EXPECT_EQ(recordedPath(r.infoPath), p);
        std::string info = readAll(r.infoPath);
        EXPECT_EQ(std::count(info.begin(), info.end(), '\n'), 3) << "a name cannot add a line";
    }
}

TEST_F(MoveToTrashTest, AnItemThatChangedSinceItWasListedStaysAndLeavesNothingInTheTrash) {
    std::string p = roots.writeFile(roots.home() + "/Movies/big.mkv", "original");
    auto seen = hvn::ListedItem::of(p);
    ASSERT_TRUE(seen);
    // Rewritten in place (same inode, other size).
    { std::ofstream(p, std::ios::app) << " and more"; }
    hvn::Trash::MoveOptions options;
    options.listed = seen;
    auto r = hvn::Trash::moveItemToTrash(p, options);
    EXPECT_EQ(r.status, hvn::RemovalStatus::Refused);
    EXPECT_NE(r.error.find("changed since it was listed"), std::string::npos) << r.error;
    EXPECT_TRUE(exists(p));
    EXPECT_FALSE(exists(homeTrash() + "/info/big.mkv.trashinfo"));

    // Replaced by another file of the same name, size and time.
    auto seen2 = hvn::ListedItem::of(p);
    std::string other = roots.writeFile(roots.home() + "/Movies/other", readAll(p));
    fs::rename(other, p);
    options.listed = seen2;
    EXPECT_EQ(hvn::Trash::moveItemToTrash(p, options).status, hvn::RemovalStatus::Refused);

    // The permanent removal makes the same check.
    hvn::RemovalOptions removal;
    removal.listed = seen2;
    EXPECT_EQ(hvn::FileManager::removeItem(p, removal).status, hvn::RemovalStatus::Refused);
    EXPECT_TRUE(exists(p));
    removal.listed = hvn::ListedItem::of(p);
    EXPECT_TRUE(hvn::FileManager::removeItem(p, removal).removed());
}

TEST_F(MoveToTrashTest, TheGateDecidesFirst) {
    std::string docs = roots.makeDir(roots.home() + "/Documents");
    roots.writeFile(docs + "/keep", "k");
    auto r = hvn::Trash::moveItemToTrash(docs);
    EXPECT_EQ(r.status, hvn::RemovalStatus::Refused);
    EXPECT_TRUE(exists(docs + "/keep"));

    std::string elsewhere = roots.writeFile(roots.base() + "/elsewhere/file", "e");
    fs::create_directory_symlink(roots.base() + "/elsewhere", roots.home() + "/Link");
    EXPECT_EQ(hvn::Trash::moveItemToTrash(roots.home() + "/Link/file").status, hvn::RemovalStatus::Refused);
    EXPECT_TRUE(exists(elsewhere));
    EXPECT_EQ(hvn::Trash::moveItemToTrash(roots.home() + "/missing").status, hvn::RemovalStatus::Missing);
}

TEST_F(MoveToTrashTest, AnotherVolumeUsesItsOwnTrashNeverACopy) {
    std::string volume = roots.makeDir(roots.base() + "/Volumes/Stick");
    auto mount = hvn::test::ScopedMount::tmpfs(volume, 4 << 20);
    if (!mount.mounted()) GTEST_SKIP() << mount.why();
    std::string uid = std::to_string(geteuid());

    std::string a = roots.writeFile(volume + "/photos/a.jpg", "a");
    auto r = hvn::Trash::moveItemToTrash(a);
    ASSERT_TRUE(r.moved()) << r.error;
    EXPECT_EQ(r.trashedPath, volume + "/.Trash-" + uid + "/files/a.jpg");
    EXPECT_EQ(recordedPath(r.infoPath), "photos/a.jpg") << "relative to the volume's top folder";
    EXPECT_FALSE(exists(homeTrash() + "/files/a.jpg"));

    // An administrator's sticky .Trash takes precedence.
    roots.makeDir(volume + "/.Trash");
    ::chmod((volume + "/.Trash").c_str(), 01777);
    std::string b = roots.writeFile(volume + "/b.txt", "b");
    auto rb = hvn::Trash::moveItemToTrash(b);
    ASSERT_TRUE(rb.moved()) << rb.error;
    EXPECT_EQ(rb.trashedPath, volume + "/.Trash/" + uid + "/files/b.txt");

    // A per-user trash that is a link is no trash: the item stays.
    fs::remove_all(volume + "/.Trash");
    fs::remove_all(volume + "/.Trash-" + uid);
    fs::create_directory_symlink(roots.home(), volume + "/.Trash-" + uid);
    std::string c = roots.writeFile(volume + "/c.txt", "c");
    auto rc = hvn::Trash::moveItemToTrash(c);
    EXPECT_EQ(rc.status, hvn::RemovalStatus::Refused) << rc.error;
    EXPECT_TRUE(exists(c));
    EXPECT_FALSE(exists(roots.home() + "/files"));
}

TEST_F(MoveToTrashTest, AUserWhoCannotMakeTheVolumeTrashKeepsTheItem) {
    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root to drop to nobody";
    std::string volume = roots.makeDir(roots.base() + "/Volumes/Shared");
    auto mount = hvn::test::ScopedMount::tmpfs(volume, 4 << 20);
    if (!mount.mounted()) GTEST_SKIP() << mount.why();
    ::chmod(volume.c_str(), 0755);
    std::string folder = roots.makeDir(volume + "/mine");
    std::string item = roots.writeFile(folder + "/notes.txt", "n");
    ::chown(folder.c_str(), 65534, 65534);
    ::chown(item.c_str(), 65534, 65534);
    ::chmod(roots.base().c_str(), 0755);
    int rc = hvn::test::runAsNobody([&] {
        auto r = hvn::Trash::moveItemToTrash(item);
        return r.status == hvn::RemovalStatus::Refused && r.error.find("no trash") != std::string::npos ? 0 : 1;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(exists(item));
}

}  // namespace
