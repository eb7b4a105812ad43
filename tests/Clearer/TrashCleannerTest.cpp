#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNScanFileOperation.h"
#include "HVN/Code/Clearer/HVNTrashCleanner.h"
#include "Platform/RemovalGate.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;
using hvn::test::RootsTest;

namespace {

struct Recorder : HVNScanResultDelegate {
    int calls = 0;
    HVNNodeList results;
    void finishScan(HVNNodeList r, int32_t) override {
        ++calls;
        results = std::move(r);
    }
};

class TrashCleannerTest : public RootsTest {
protected:

    std::string home(const std::string& rel) const { return roots.home() + "/" + rel; }
    std::string volume(const std::string& name) const { return roots.root() + "/Volumes/" + name; }
    std::string uid() const { return std::to_string(getuid()); }

    // Trashes one item the freedesktop way: files/<name> and, optionally, its record.
    void trashed(const std::string& trash, const std::string& name, const std::string& contents,
                 bool withInfo = true) {
        roots.writeFile(trash + "/files/" + name, contents);
        if (withInfo) {
            roots.writeFile(trash + "/info/" + name + ".trashinfo",
                            "[Trash Info]\nPath=/somewhere/" + name + "\nDeletionDate=2024-05-01T10:00:00\n");
        }
    }

    // getTrashPaths, the file scan of module 9, then the regrouping.
    HVNNodeList scan(HVNTrashCleanner& cleaner, std::vector<std::string>* requested = nullptr) {
        auto requests = cleaner.getTrashPaths();
        for (const auto& r : requests) {
            EXPECT_FALSE(r->key.has_value());
            EXPECT_FALSE(r->isCheck);
            EXPECT_FALSE(r->recursion);
            if (requested) requested->push_back(r->path);
        }
        Recorder rec;
        HVNScanFileOperation op(requests, 9, &rec);
        op.main();
        EXPECT_EQ(rec.calls, 1);
        return cleaner.getTrashesByScanResult(rec.results);
    }

    static std::map<std::string, HVNScaneOuputObjectPtr> children(const HVNScaneOuputObjectPtr& group) {
        std::map<std::string, HVNScaneOuputObjectPtr> m;
        for (const auto& c : group->children()) m[c->name()] = c;
        return m;
    }
};

}  // namespace

TEST_F(TrashCleannerTest, LinuxHomeTrashEntriesCarryTheirTrashInfo) {
    const std::string t = home(".local/share/Trash");
    trashed(t, "report.pdf", std::string(100, 'r'));
    trashed(t, "photos/a.jpg", std::string(10, 'a'), false);
    trashed(t, "photos/b.jpg", std::string(20, 'b'), false);
    roots.writeFile(t + "/info/photos.trashinfo", "[Trash Info]\nPath=/p\nDeletionDate=20040831T22:32:08\n");
    trashed(t, ".bashrc", "hidden");
    trashed(t, "no-record.txt", "abc", false);
    trashed(t, "empty", "");
    roots.writeFile(t + "/directorysizes", "30 1714557600 photos\n");

    HVNTrashCleanner cleaner;
    std::vector<std::string> requested;
    auto groups = scan(cleaner, &requested);
    EXPECT_EQ(requested, std::vector<std::string>{t + "/files"});
    ASSERT_EQ(groups.size(), 1u);
    const auto& g = groups[0];
    EXPECT_EQ(g->name(), "Macintosh HD");
    EXPECT_EQ(g->dirPath(), t);
    EXPECT_EQ(g->icon, "iconDisk");
    EXPECT_EQ(g->isCheck, 1);
    EXPECT_EQ(g->fileSize, 133);
    auto c = children(g);
    ASSERT_EQ(c.size(), 4u);  // the hidden entry is never listed
    for (const auto& [name, node] : c) {
        EXPECT_EQ(node->isCheck, 1) << name;
        EXPECT_EQ(node->dirPath(), t + "/files");
        EXPECT_EQ(node->parentNode.lock(), g);
    }
    EXPECT_EQ(c["report.pdf"]->removePaths, std::vector<std::string>{t + "/info/report.pdf.trashinfo"});
    EXPECT_EQ(c["photos"]->removePaths, std::vector<std::string>{t + "/info/photos.trashinfo"});
    EXPECT_EQ(c["photos"]->fileSize, 30);
    EXPECT_FALSE(c["no-record.txt"]->removePaths.has_value());
    EXPECT_EQ(c["empty"]->fileSize, 0);

    // Once an entry and its record are gone, its line leaves the size cache.
    fs::remove_all(t + "/files/photos");
    fs::remove(t + "/info/photos.trashinfo");
    EXPECT_TRUE(cleaner.dropStaleDirectorySizes());
    EXPECT_EQ(fs::file_size(t + "/directorysizes"), 0u);

    // XDG_DATA_HOME moves the home trash.
    setenv("XDG_DATA_HOME", (roots.base() + "/data").c_str(), 1);
    trashed(roots.base() + "/data/Trash", "moved", "12345");
    groups = scan(cleaner, &requested);
    ASSERT_EQ(groups.size(), 1u);
    ASSERT_EQ(groups[0]->children().size(), 1u);
    EXPECT_EQ(groups[0]->children()[0]->name(), "moved");
    EXPECT_EQ(groups[0]->fileSize, 5);
}

TEST_F(TrashCleannerTest, MacLikeHomeTrashIsScannedAsItIsAndAlongsideTheFreedesktopOne) {
    roots.writeFile(home(".Trash/old.zip"), std::string(50, 'z'));
    roots.writeFile(home(".Trash/folder/x"), std::string(5, 'x'));
    roots.writeFile(home(".Trash/.DS_Store"), "ds");
    HVNTrashCleanner cleaner;
    std::vector<std::string> requested;
    auto groups = scan(cleaner, &requested);
    EXPECT_EQ(requested, std::vector<std::string>{home(".Trash")});
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]->dirPath(), home(".Trash"));
    EXPECT_EQ(groups[0]->fileSize, 55);
    auto c = children(groups[0]);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_FALSE(c["old.zip"]->removePaths.has_value());

    trashed(home(".local/share/Trash"), "linux.txt", "1234");
    requested.clear();
    groups = scan(cleaner, &requested);
    EXPECT_EQ(requested, (std::vector<std::string>{home(".Trash"), home(".local/share/Trash/files")}));
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]->name(), "Macintosh HD");
    EXPECT_EQ(groups[0]->fileSize, 59);
    c = children(groups[0]);
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c["linux.txt"]->removePaths,
              std::vector<std::string>{home(".local/share/Trash/info/linux.txt.trashinfo")});
}

TEST_F(TrashCleannerTest, NoTrashGivesNoRequestAndEmptyTrashNoGroup) {
    HVNTrashCleanner cleaner;
    // A link in place of the trash is not a trash.
    roots.writeFile(roots.base() + "/elsewhere/precious", "keep me");
    fs::create_symlink(roots.base() + "/elsewhere", home(".Trash"));
    auto item = cleaner.getMainHDTrashItem();
    EXPECT_EQ(item->trashRootDir, "");
    EXPECT_EQ(item->volumnName, "Macintosh HD");
    EXPECT_EQ(item->trashIcon, "iconDisk");
    EXPECT_EQ(item->trashSize, 0);
    EXPECT_TRUE(cleaner.getTrashPaths().empty());
    EXPECT_TRUE(scan(cleaner).empty());

    // An emptied freedesktop trash: no group.
    roots.makeDir(home(".local/share/Trash/files"));
    roots.makeDir(home(".local/share/Trash/info"));
    EXPECT_EQ(cleaner.getTrashPaths().size(), 1u);
    EXPECT_TRUE(scan(cleaner).empty());
}

TEST_F(TrashCleannerTest, RemovableVolumeTrashesOnePerVolume) {
    // macOS volume: per-user folders of .Trashes, all of them; a stray file there is no
    // user's trash and is left alone.
    roots.writeFile(volume("Backup/.Trashes/501/a.txt"), std::string(7, 'a'));
    roots.writeFile(volume("Backup/.Trashes/502/b.txt"), std::string(8, 'b'));
    roots.writeFile(volume("Backup/.Trashes/502/.hidden"), "h");
    roots.writeFile(volume("Backup/.Trashes/stray"), "st");
    // freedesktop volume trashes: our own top-directory trash, and a sticky admin trash.
    trashed(volume("Stick/.Trash-" + uid()), "x", std::string(9, 'x'));
    trashed(volume("Card/.Trash/" + uid()), "y", std::string(4, 'y'));
    ASSERT_EQ(chmod(volume("Card/.Trash").c_str(), 01777), 0);
    // An admin trash without the sticky bit is not used.
    trashed(volume("Plain/.Trash/" + uid()), "z", "zz");
    // No trash at all.
    roots.makeDir(volume("Nothing/data"));

    HVNTrashCleanner cleaner;
    std::vector<std::string> requested;
    auto groups = scan(cleaner, &requested);
    std::sort(requested.begin(), requested.end());
    EXPECT_EQ(requested, (std::vector<std::string>{
                             volume("Backup/.Trashes/501"), volume("Backup/.Trashes/502"),
                             volume("Card/.Trash/" + uid() + "/files"),
                             volume("Stick/.Trash-" + uid() + "/files")}));
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0]->name(), "Backup");
    EXPECT_EQ(groups[0]->icon, "iconUDISK");
    EXPECT_EQ(groups[0]->dirPath(), volume("Backup/.Trashes"));
    EXPECT_EQ(groups[0]->fileSize, 15);
    auto backup = children(groups[0]);
    ASSERT_EQ(backup.size(), 2u);
    EXPECT_EQ(backup["a.txt"]->dirPath(), volume("Backup/.Trashes/501"));
    EXPECT_EQ(backup["b.txt"]->dirPath(), volume("Backup/.Trashes/502"));
    EXPECT_FALSE(backup["b.txt"]->removePaths.has_value());

    EXPECT_EQ(groups[1]->name(), "Card");
    EXPECT_EQ(groups[1]->dirPath(), volume("Card/.Trash/" + uid()));
    ASSERT_EQ(groups[1]->children().size(), 1u);
    EXPECT_EQ(groups[1]->children()[0]->removePaths,
              std::vector<std::string>{volume("Card/.Trash/" + uid() + "/info/y.trashinfo")});

    EXPECT_EQ(groups[2]->name(), "Stick");
    EXPECT_EQ(groups[2]->fileSize, 9);
    EXPECT_EQ(groups[2]->children()[0]->removePaths,
              std::vector<std::string>{volume("Stick/.Trash-" + uid() + "/info/x.trashinfo")});
}

TEST_F(TrashCleannerTest, EachDiskScanLooksForTheTrashesAgain) {
    roots.writeFile(volume("One/.Trashes/501/a"), "a");
    HVNTrashCleanner cleaner;
    EXPECT_EQ(cleaner.getTrashPaths().size(), 1u);
    roots.writeFile(volume("Two/.Trashes/501/b"), "b");
    // The regrouping uses the trashes of the scan's own start.
    HVNNodeList flat;
    for (const auto& v : {"One", "Two"}) {
        auto n = HVNScaneOuputObject::create();
        n->setDirPath(volume(std::string(v) + "/.Trashes/501"));
        n->setName(std::string("entry"));
        n->fileSize = 1;
        flat.push_back(n);
    }
    auto groups = cleaner.getTrashesByScanResult(flat);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]->name(), "One");
    // The next scan sees the new volume.
    EXPECT_EQ(cleaner.getTrashPaths().size(), 2u);
    groups = cleaner.getTrashesByScanResult(flat);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[1]->name(), "Two");
    // A node of no trash, or with a hidden name, belongs to no group.
    auto stray = HVNScaneOuputObject::create();
    stray->setDirPath(volume("One/.Trashes-not/501"));
    stray->setName(std::string("x"));
    auto hidden = HVNScaneOuputObject::create();
    hidden->setDirPath(volume("One/.Trashes/501"));
    hidden->setName(std::string(".x"));
    groups = cleaner.getTrashesByScanResult({stray, hidden});
    EXPECT_TRUE(groups.empty());
    EXPECT_EQ(&HVNTrashCleanner::shareTrashCleanner(), &HVNTrashCleanner::shareTrashCleanner());
}

TEST_F(TrashCleannerTest, VolumeTrashMustBeReadableAndWritableByTheUser) {
    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root to look as nobody";
    roots.writeFile(volume("Writable/.Trashes/65534/a"), "a");
    roots.writeFile(volume("Locked/.Trashes/0/b"), "b");
    ASSERT_EQ(chmod(volume("Writable/.Trashes").c_str(), 0777), 0);
    ASSERT_EQ(chmod(volume("Locked/.Trashes").c_str(), 0755), 0);
    int rc = hvn::test::runAsNobody([] {
        HVNTrashCleanner cleaner;
        auto items = cleaner.getMountedVolumeTrasheItems();
        if (items.size() != 1) return 1;
        if (items[0]->volumnName != "Writable") return 2;
        return 0;
    });
    EXPECT_EQ(rc, 0);
}

// A stick someone hands you must not empty anything outside its trash.
TEST_F(TrashCleannerTest, LinksInAVolumeTrashAreNeverScanned) {
    roots.writeFile(volume("Stick/.Trashes/501/old.txt"), "o");
    std::string etc = roots.makeDir(roots.base() + "/etc");
    roots.writeFile(etc + "/passwd", "root:x:0:0");
    fs::create_symlink(etc, volume("Stick/.Trashes/502"));
    // A whole .Trashes that is a link, on another volume.
    roots.makeDir(volume("Other"));
    fs::create_symlink(etc, volume("Other/.Trashes"));
    // A freedesktop per-user trash that is a link.
    roots.makeDir(volume("Third"));
    fs::create_symlink(etc, volume("Third/.Trash-" + uid()));

    HVNTrashCleanner cleaner;
    std::vector<std::string> requested;
    auto groups = scan(cleaner, &requested);
    EXPECT_EQ(requested, std::vector<std::string>{volume("Stick/.Trashes/501")});
    ASSERT_EQ(groups.size(), 1u);
    auto entries = children(groups[0]);
    EXPECT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.count("old.txt"), 1u);
    for (const auto& r : cleaner.getTrashPaths()) EXPECT_FALSE(r->followLink);
}

TEST_F(TrashCleannerTest, OnlyDotTrashItselfIsTheHomeTrash) {
    roots.writeFile(home(".TrashKeep/kept"), "k");
    roots.writeFile(home(".Trash-backup-2019/old"), "o");
    HVNTrashCleanner cleaner;
    EXPECT_EQ(cleaner.getMainHDTrashItem()->trashRootDir, "");
    EXPECT_TRUE(scan(cleaner).empty());

    roots.writeFile(home(".Trash/junk"), "j");
    auto groups = scan(cleaner);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]->dirPath(), home(".Trash"));
    EXPECT_EQ(children(groups[0]).size(), 1u);
}

// A home whose ~/.local lives elsewhere (a link): its trash is still found, and its entries
// and their records are named where they really are, so that the removal gate admits both.
TEST_F(TrashCleannerTest, ATrashReachedThroughALinkIsNamedWhereItReallyIs) {
    const std::string elsewhere = roots.makeDir(roots.base() + "/data/local");
    fs::create_symlink(elsewhere, home(".local"));
    trashed(home(".local/share/Trash"), "old.txt", "old");
    HVNTrashCleanner cleaner;
    auto groups = scan(cleaner);
    ASSERT_EQ(groups.size(), 1u);
    auto entries = children(groups[0]);
    ASSERT_EQ(entries.count("old.txt"), 1u);
    const auto& entry = entries["old.txt"];
    EXPECT_EQ(entry->dirPath(), elsewhere + "/share/Trash/files");
    ASSERT_TRUE(entry->removePaths.has_value());
    const hvn::RemovalGate gate = hvn::RemovalGate::forCurrentRoots();
    EXPECT_TRUE(gate.admit(entry->filePath(), entry->foundIn).admitted());
    EXPECT_TRUE(gate.admit(entry->removePaths->at(0)).admitted()) << entry->removePaths->at(0);
}
