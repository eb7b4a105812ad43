#include "HVN/Code/ToolBox/Uninstall/HVNUninstallRemoval.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "HVN/Code/Public/HVNDeleteSelectedApp.h"
#include "Public/AppSearchFixtures.h"
#include "Support/TestRoots.h"

namespace {

bool exists(const std::string& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
}

// Points HOME at a symbolic link to the temporary home for the life of the object.
class LinkedHome {
public:
    explicit LinkedHome(const hvn::test::TempRoots& roots) : link_(roots.base() + "/linked-home") {
        EXPECT_EQ(::symlink(roots.home().c_str(), link_.c_str()), 0);
        old_ = ::getenv("HOME");
        ::setenv("HOME", link_.c_str(), 1);
    }
    ~LinkedHome() { ::setenv("HOME", old_.c_str(), 1); }
    const std::string& path() const { return link_; }

private:
    std::string link_, old_;
};

HVNAppItem editorAt(const std::string& path) {
    HVNAppItem item;
    item.path = path;
    item.name = "Editor";
    item.bundleID = "com.example.Editor";
    item.executableString = "Editor";
    return item;
}

}  // namespace

class HVNUninstallRemovalTest : public hvn::test::RootsTest {};

// The gate resolves no link: paths named through a linked home would all be refused.
TEST_F(HVNUninstallRemovalTest, FilesOfALinkedHomeAreNamedAndRemovedUnderTheRealHome) {
    std::string prefs = roots.writeFile(roots.home() + "/Library/Preferences/com.example.Editor.plist", "p");
    std::string app = hvn::test::makeBundle(roots, roots.home() + "/Applications/Editor.app");
    LinkedHome linked(roots);

    std::vector<std::string> paths =
        HVNDeleteSelectedApp::deleteFiles(editorAt(linked.path() + "/Applications/Editor.app"));
    ASSERT_EQ(paths, (std::vector<std::string>{prefs, app}));
    EXPECT_EQ(HVNDeleteSelectedApp::realRootPath(linked.path() + "//Library/./Caches"),
              roots.home() + "/Library/Caches");
    EXPECT_EQ(HVNDeleteSelectedApp::realRootPath("relative/x"), "relative/x");
    for (const auto& f : HVNDeleteSelectedApp::relatedFolders())
        EXPECT_EQ(f.find(linked.path()), std::string::npos) << f;

    auto outcomes = HVNUninstallRemoval::remove(HVNUninstallRemoval::list(paths), false);
    ASSERT_EQ(outcomes.size(), 2u);
    for (const auto& o : outcomes)
        EXPECT_EQ(o.where, HVNUninstallOutcome::Where::Deleted) << o.path << o.reason;
    EXPECT_FALSE(exists(prefs));
    EXPECT_FALSE(exists(app));
}

TEST_F(HVNUninstallRemovalTest, OnlyTheItemsListedGoAndTheRestIsReported) {
    std::string same = roots.writeFile(roots.home() + "/Library/Caches/a", "1");
    std::string grown = roots.writeFile(roots.home() + "/Library/Caches/b", "1");
    std::string gone = roots.writeFile(roots.home() + "/Library/Caches/c", "1");
    std::string neverThere = roots.home() + "/Library/Caches/d";
    std::string folder = roots.makeDir(roots.home() + "/Library/Caches/e");
    std::string moved = roots.writeFile(roots.home() + "/Library/Logs/f/x", "1");
    auto listings = HVNUninstallRemoval::list({same, grown, gone, neverThere, folder + "/", moved});

    roots.writeFile(grown, "12");
    ASSERT_EQ(::unlink(gone.c_str()), 0);
    roots.writeFile(folder + "/new", "contents may change; the folder is the same");
    // The folder holding x is replaced by another one with an x of its own.
    ASSERT_EQ(
        ::rename((roots.home() + "/Library/Logs/f").c_str(), (roots.home() + "/Library/Logs/g").c_str()), 0);
    roots.writeFile(moved, "1");

    auto out = HVNUninstallRemoval::remove(listings, false);
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[0].where, HVNUninstallOutcome::Where::Deleted);
    EXPECT_EQ(out[1].where, HVNUninstallOutcome::Where::Left);
    EXPECT_EQ(out[1].reason, "it has changed since it was listed");
    EXPECT_EQ(out[2].where, HVNUninstallOutcome::Where::Gone);
    EXPECT_EQ(out[3].where, HVNUninstallOutcome::Where::Gone);
    EXPECT_EQ(out[4].where, HVNUninstallOutcome::Where::Deleted) << out[4].reason;
    EXPECT_EQ(out[5].where, HVNUninstallOutcome::Where::Left);
    EXPECT_TRUE(exists(grown));
    EXPECT_TRUE(exists(moved));
    EXPECT_FALSE(exists(folder));

    // A file that appeared where nothing was listed is not taken either.
    roots.writeFile(neverThere, "new");
    auto again = HVNUninstallRemoval::remove({listings[3]}, false);
    EXPECT_EQ(again[0].where, HVNUninstallOutcome::Where::Left);
    EXPECT_EQ(again[0].reason, "it was not there when it was listed");
    EXPECT_TRUE(exists(neverThere));
}

TEST_F(HVNUninstallRemovalTest, TrashingPutsTheListedItemInTheHomeTrashAndRefusesTheHome) {
    std::string file = roots.writeFile(roots.home() + "/Library/Caches/Editor_1", "x");
    auto out = HVNUninstallRemoval::remove(HVNUninstallRemoval::list({file, roots.home()}), true);
    ASSERT_EQ(out.size(), 2u);
    ASSERT_EQ(out[0].where, HVNUninstallOutcome::Where::Trashed) << out[0].reason;
    EXPECT_FALSE(exists(file));
    EXPECT_TRUE(exists(out[0].trashedPath));
    EXPECT_EQ(out[0].trashedPath.rfind(roots.home() + "/.local/share/Trash/files/", 0), 0u)
        << out[0].trashedPath;
    EXPECT_EQ(out[1].where, HVNUninstallOutcome::Where::Left);
    EXPECT_TRUE(exists(roots.home() + "/Library"));
}
