#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "HVN/Code/Public/HVNSearchApplications.h"
#include "Platform/Log.h"
#include "Public/AppSearchFixtures.h"
#include "Support/TestRoots.h"

using hvn::test::FakeBundle;
using hvn::test::makeBundle;

namespace {

std::vector<std::string> pathsOf(const HVNAppItemList& items) {
    std::vector<std::string> out;
    for (const auto& i : items) out.push_back(i->path);
    std::sort(out.begin(), out.end());
    return out;
}

HVNAppItemPtr byPath(const HVNAppItemList& items, const std::string& path) {
    for (const auto& i : items) {
        if (i->path == path) return i;
    }
    return nullptr;
}

FakeBundle bundle(const std::string& id, const std::string& exe, const std::string& version = "1.0") {
    FakeBundle b;
    b.bundleID = id;
    b.executable = exe;
    b.name = exe;
    b.version = version;
    return b;
}

}  // namespace

class AppSearchTest : public hvn::test::RootsTest {
protected:
    std::string sysApps() { return roots.makeDir(roots.root() + "/Applications"); }
};

TEST_F(AppSearchTest, FindsApplicationsInEveryScopeAndFiltersSystemAndNestedOnes) {
    std::string apps = sysApps();
    FakeBundle tools = bundle("com.example.Tools", "Tools", "2.5");
    tools.iconFile = "ToolsIcon";
    tools.executableBytes = std::string(4000, 't');
    makeBundle(roots, apps + "/Tools.app", tools);
    makeBundle(roots, apps + "/Tools.app/Contents/Updater.app", bundle("com.example.Updater", "Updater"));
    makeBundle(roots, apps + "/Safari.app", bundle("com.apple.Safari", "Safari"));
    makeBundle(roots, roots.home() + "/Applications/Editor.app", bundle("com.example.Editor", "Editor"));
    makeBundle(roots, roots.home() + "/Library/Input Methods/Pinyin.app",
               bundle("com.example.Pinyin", "Pinyin"));
    makeBundle(roots, roots.home() + "/Downloads/unpacked/v2/Game.app", bundle("com.example.Game", "Game"));
    makeBundle(roots, roots.home() + "/Public/Shared.app", bundle("com.example.Shared", "Shared"));
    // Outside every scope: not found.
    makeBundle(roots, roots.home() + "/Music/Player.app", bundle("com.example.Player", "Player"));
    // A user folder whose name merely contains ".app" does not make its bundles nested.
    makeBundle(roots, roots.home() + "/Documents/j.appleseed/Notes.app",
               bundle("com.example.Notes", "Notes"));

    HVNSearchApplications search;
    search.searchApplications();
    search.waitFinish();
    EXPECT_TRUE(search.done());
    EXPECT_FALSE(search.doing());

    HVNAppItemList all = search.allApplications();
    EXPECT_EQ(pathsOf(all), (std::vector<std::string>{
                                roots.home() + "/Applications/Editor.app",
                                roots.home() + "/Documents/j.appleseed/Notes.app",
                                roots.home() + "/Downloads/unpacked/v2/Game.app",
                                roots.home() + "/Library/Input Methods/Pinyin.app",
                                roots.home() + "/Public/Shared.app",
                                apps + "/Safari.app",
                                apps + "/Tools.app",
                                apps + "/Tools.app/Contents/Updater.app",
                            }));
    HVNAppItemList user = search.allApp();
    EXPECT_EQ(user.size(), all.size() - 2);  // Safari (system) and Updater (inside Tools.app)
    EXPECT_EQ(byPath(user, apps + "/Safari.app"), nullptr);
    EXPECT_EQ(byPath(user, apps + "/Tools.app/Contents/Updater.app"), nullptr);
    EXPECT_NE(byPath(user, roots.home() + "/Documents/j.appleseed/Notes.app"), nullptr);

    auto t = byPath(all, apps + "/Tools.app");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->name, "Tools");
    EXPECT_EQ(t->version, "2.5");
    EXPECT_EQ(t->bundleID, "com.example.Tools");
    EXPECT_EQ(t->executableString, "Tools");  // the display name
    EXPECT_EQ(t->image, apps + "/Tools.app/Contents/Resources/ToolsIcon.icns");
    EXPECT_FALSE(t->isSystemApp);
    EXPECT_TRUE(t->lastUseDate.has_value());
    EXPECT_GT(t->appSizeIntValue(), 4000 + 1000);        // its files and the nested bundle's
    EXPECT_EQ(t->appSize.find('.'), std::string::npos);  // an integer text from the metadata
    EXPECT_TRUE(byPath(all, apps + "/Safari.app")->isSystemApp);

    auto kinds = search.returnAllKindsOfAppData();
    EXPECT_EQ(kinds.size(), 4u);
    EXPECT_EQ(kinds["allTheApplicationPath"].size(), user.size());
}

TEST_F(AppSearchTest, AMachineWithoutBundlesFindsNoneWithoutError) {
    roots.makeDir(roots.home() + "/Documents/projects");
    roots.writeFile(roots.home() + "/Downloads/setup.app.tar", "archive");  // not a bundle
    HVNSearchApplications search;
    search.searchApplications();
    search.waitFinish();
    EXPECT_TRUE(search.allApplications().empty());
    EXPECT_TRUE(search.allApp().empty());
    search.searchOtherTypeApp();
    search.waitOtherTypeFinish();
    EXPECT_TRUE(search.plugIn().empty());
    EXPECT_TRUE(search.preferences().empty());
    EXPECT_TRUE(search.widgets().empty());
}

TEST_F(AppSearchTest, PlistVariantsGiveWhatTheyCanAndNeverDropTheBundle) {
    std::string apps = sysApps();
    FakeBundle binary = bundle("com.example.Binary", "Binary", "9.9");
    binary.format = hvn::PlistFormat::Binary;
    makeBundle(roots, apps + "/Binary.app", binary);
    FakeBundle bare;
    bare.bundleID = "";
    bare.version = "";
    bare.executable = "";
    makeBundle(roots, apps + "/Bare.app", bare);
    roots.writeFile(apps + "/Corrupt.app/Contents/Info.plist", "bplist00 garbage");
    roots.writeFile(apps + "/Corrupt.app/Contents/MacOS/Corrupt", "x");

    HVNSearchApplications search;
    search.searchApplications();
    search.waitFinish();
    HVNAppItemList all = search.allApplications();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(byPath(all, apps + "/Binary.app")->bundleID, "com.example.Binary");
    EXPECT_EQ(byPath(all, apps + "/Binary.app")->version, "9.9");
    EXPECT_EQ(byPath(all, apps + "/Bare.app")->bundleID, "");
    auto corrupt = byPath(all, apps + "/Corrupt.app");
    EXPECT_EQ(corrupt->bundleID, "");
    EXPECT_EQ(corrupt->version, "");
    EXPECT_EQ(corrupt->image, apps + "/Corrupt.app");
    EXPECT_NE(corrupt->appSizeIntValue(), 0);

    // The same bundles through their information dictionaries.
    auto c = HVNSearchApplications::commonAppitem(apps + "/Corrupt.app");
    EXPECT_EQ(c->bundleID, "");
    EXPECT_EQ(c->executableString, "");
    EXPECT_EQ(c->isSystemAppString, "NO");
    auto b = HVNSearchApplications::commonAppitem(apps + "/Binary.app");
    EXPECT_EQ(b->executableString, "Binary");
    EXPECT_EQ(b->version, "9.9");
    EXPECT_EQ(b->name, "Binary");
}

TEST_F(AppSearchTest, CommonAppitemReadsTheBundleAndSumsAFolderInsteadOfItsEntrySize) {
    std::string apps = sysApps();
    FakeBundle sys = bundle("com.apple.TextEdit", "TextEdit", "1.1");
    sys.executableBytes = std::string(2048, 'e');
    makeBundle(roots, apps + "/TextEdit.app", sys);
    auto item = HVNSearchApplications::commonAppitem(apps + "/TextEdit.app");
    EXPECT_EQ(item->name, "TextEdit");
    EXPECT_EQ(item->bundleID, "com.apple.TextEdit");
    EXPECT_EQ(item->executableString, "TextEdit");
    EXPECT_TRUE(item->isSystemApp);
    EXPECT_EQ(item->isSystemAppString, "YES");
    EXPECT_TRUE(item->lastUseDate.has_value());
    EXPECT_FALSE(item->isSelected);
    // A bundle folder is shown with the summed size of its contents, as a "%f" text.
    double sum = HVNSearchApplications::folderSizeAtPath2(apps + "/TextEdit.app");
    EXPECT_GT(sum, 2048);
    EXPECT_EQ(item->appSize, hvn::format("%f", sum));

    // "com.apple" without the dot is not a system identifier for bundle information.
    makeBundle(roots, apps + "/Applet.app", bundle("com.appletree.Applet", "Applet"));
    EXPECT_EQ(HVNSearchApplications::commonAppitem(apps + "/Applet.app")->isSystemAppString, "NO");

    // A plain file keeps its own size, 102 bytes included.
    std::string file = roots.writeFile(roots.home() + "/f.dat", std::string(102, 'x'));
    EXPECT_EQ(HVNSearchApplications::commonAppitem(file)->appSize, "102.000000");
    std::string other = roots.writeFile(roots.home() + "/g.dat", std::string(103, 'x'));
    EXPECT_EQ(HVNSearchApplications::commonAppitem(other)->appSize, "103");
    // Gone: no date, a zero size.
    auto gone = HVNSearchApplications::commonAppitem(roots.home() + "/Gone.app");
    EXPECT_EQ(gone->name, "Gone");
    EXPECT_FALSE(gone->lastUseDate.has_value());
    EXPECT_EQ(gone->appSize, "0.000000");
}

TEST_F(AppSearchTest, AppItemTakesTheMetadata) {
    std::string apps = sysApps();
    makeBundle(roots, apps + "/Foo.v2.app", bundle("com.example.Foo", "Foo"));
    auto item = HVNSearchApplications::appItem(apps + "/Foo.v2.app");
    EXPECT_EQ(item->name, "Foo.v2");
    EXPECT_EQ(item->bundleID, "com.example.Foo");
    EXPECT_EQ(item->executableString, "");
    EXPECT_TRUE(item->lastUseDate.has_value());
    EXPECT_GT(item->appSizeIntValue(), 1000);
    // A plain folder has no metadata size: its contents are summed.
    roots.writeFile(apps + "/Folder/a", std::string(10, 'a'));
    auto folder = HVNSearchApplications::appItem(apps + "/Folder");
    EXPECT_EQ(folder->appSize, hvn::format("%f", HVNSearchApplications::folderSizeAtPath2(apps + "/Folder")));
    EXPECT_EQ(HVNSearchApplications::appItem(apps + "/none.app")->appSize, "0.000000");
}

TEST_F(AppSearchTest, WalkFallbackListsOneLevelOfEachScope) {
    std::string apps = sysApps();
    makeBundle(roots, apps + "/Top.app", bundle("com.example.Top", "Top"));
    makeBundle(roots, apps + "/Upper.APP", bundle("com.example.Upper", "Upper"));
    makeBundle(roots, apps + "/sub/Deep.app", bundle("com.example.Deep", "Deep"));
    roots.writeFile(apps + "/file.app", "not a folder");
    makeBundle(roots, roots.home() + "/Desktop/Desk.app", bundle("com.example.Desk", "Desk"));
    auto items = HVNSearchApplications::useQueueScanApp(HVNSearchApplications::applicationScopes());
    EXPECT_EQ(pathsOf(items), (std::vector<std::string>{roots.home() + "/Desktop/Desk.app", apps + "/Top.app",
                                                        apps + "/Upper.APP"}));
    EXPECT_EQ(byPath(items, apps + "/Top.app")->executableString, "Top");  // from the bundle information
    EXPECT_EQ(byPath(items, apps + "/Top.app")->isSystemAppString, "NO");
}

TEST_F(AppSearchTest, PluginsPreferencePanesAndWidgetsComeFromTheirFolders) {
    std::string homePlugins = roots.home() + "/Library/Internet Plug-Ins";
    std::string sysPlugins = roots.root() + "/Library/Internet Plug-Ins";
    makeBundle(roots, homePlugins + "/Flash.plugin", bundle("com.example.flash", "Flash"));
    makeBundle(roots, homePlugins + "/Web.webplugin", bundle("com.example.web", "Web"));
    makeBundle(roots, sysPlugins + "/Java.plugin", bundle("com.example.java", "Java"));
    roots.writeFile(sysPlugins + "/readme.txt", "no");
    ASSERT_EQ(symlink((sysPlugins + "/Java.plugin").c_str(), (homePlugins + "/Linked.plugin").c_str()), 0);
    // A Finder alias file (data-fork bookmark) is not a plug-in either.
    roots.writeFile(homePlugins + "/Alias.plugin", std::string("book\0\0\0\0mark\0\0\0\0rest-of-alias", 28));
    makeBundle(roots, roots.root() + "/Library/PreferencePanes/Sys.prefPane",
               bundle("com.example.sys", "Sys"));
    makeBundle(roots, roots.home() + "/Library/PreferencePanes/Mine.prefPane",
               bundle("com.example.mine", "Mine"));
    makeBundle(roots, roots.home() + "/Library/PreferencePanes/lower.prefpane",
               bundle("com.example.low", "Low"));
    makeBundle(roots, roots.home() + "/Library/Widgets/Clock.wdgt", bundle("com.example.clock", "Clock"));

    HVNSearchApplications search;
    search.searchOtherTypeApp();
    search.waitOtherTypeFinish();
    auto plugins = search.plugIn();
    ASSERT_EQ(plugins.size(), 3u);  // home first, then the system folder
    EXPECT_EQ(plugins[0]->path, homePlugins + "/Flash.plugin");
    EXPECT_EQ(plugins[1]->path, homePlugins + "/Web.webplugin");
    EXPECT_EQ(plugins[2]->path, sysPlugins + "/Java.plugin");
    EXPECT_EQ(plugins[0]->bundleID, "com.example.flash");
    auto panes = search.preferences();
    ASSERT_EQ(panes.size(), 2u);  // the key is case-sensitive
    EXPECT_EQ(panes[0]->name, "Sys");
    EXPECT_EQ(panes[1]->name, "Mine");
    ASSERT_EQ(search.widgets().size(), 1u);
    EXPECT_EQ(search.widgets()[0]->executableString, "Clock");
    EXPECT_EQ(search.returnAllKindsOfAppData()["plugIn"].size(), 3u);
}

TEST_F(AppSearchTest, UnreadablePluginsAreLeftOutForAnUnprivilegedUser) {
    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root to drop to nobody";
    std::string folder = roots.home() + "/Library/Internet Plug-Ins";
    makeBundle(roots, folder + "/Open.plugin", bundle("com.example.open", "Open"));
    makeBundle(roots, folder + "/Closed.plugin", bundle("com.example.closed", "Closed"));
    chmod((folder + "/Closed.plugin").c_str(), 0);
    int rc = hvn::test::runAsNobody([&] {
        auto items = HVNSearchApplications::search({folder}, "plugin");
        return items.size() == 1 && items[0]->path == folder + "/Open.plugin" ? 0 : 1;
    });
    EXPECT_EQ(rc, 0);
}

TEST_F(AppSearchTest, WaitFinishReleasesEveryWaiterAndStartsASearchNobodyStarted) {
    std::string apps = sysApps();
    for (int i = 0; i < 20; ++i) {
        makeBundle(roots, apps + "/App" + std::to_string(i) + ".app",
                   bundle("com.example.App" + std::to_string(i), "App" + std::to_string(i)));
    }
    HVNSearchApplications search;
    std::atomic<int> released{0};
    std::atomic<size_t> seen{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 6; ++i) {
        waiters.emplace_back([&] {
            search.waitFinish();  // the first waiter starts the search
            seen += search.allApplications().size();
            ++released;
        });
    }
    for (auto& t : waiters) t.join();
    EXPECT_EQ(released.load(), 6);
    EXPECT_EQ(seen.load(), 6u * 20u);  // nobody read before the list was complete
    // A second search replaces the lists.
    makeBundle(roots, apps + "/Late.app", bundle("com.example.Late", "Late"));
    search.searchApplications();
    search.waitFinish();
    EXPECT_EQ(search.allApplications().size(), 21u);
}

TEST_F(AppSearchTest, SizesAndLinks) {
    std::string dir = roots.makeDir(roots.home() + "/sized");
    roots.writeFile(dir + "/a", std::string(100, 'a'));
    roots.writeFile(dir + "/sub/b", std::string(50, 'b'));
    std::string outside = roots.writeFile(roots.home() + "/outside", std::string(10000, 'o'));
    ASSERT_EQ(symlink(outside.c_str(), (dir + "/link").c_str()), 0);
    ASSERT_EQ(symlink(roots.home().c_str(), (dir + "/loop").c_str()), 0);
    struct stat sub {};
    ASSERT_EQ(lstat((dir + "/sub").c_str(), &sub), 0);
    double expected = 100 + 50 + static_cast<double>(sub.st_size) + outside.size() + roots.home().size();
    EXPECT_EQ(HVNSearchApplications::folderSizeAtPath2(dir), expected);  // links counted, never followed
    EXPECT_EQ(HVNSearchApplications::folderSizeAtPath2(dir + "/a"), 100);
    EXPECT_EQ(HVNSearchApplications::folderSizeAtPath2(dir + "/none"), 0);
    EXPECT_EQ(HVNSearchApplications::fileSizeAtPath(dir + "/sub/b"), 50);
    EXPECT_EQ(HVNSearchApplications::fileSizeAtPath(dir + "/none"), 0);

    EXPECT_TRUE(HVNSearchApplications::isSymbolLink(dir + "/link"));
    EXPECT_FALSE(HVNSearchApplications::isSymbolLink(dir + "/a"));
    EXPECT_FALSE(HVNSearchApplications::isSymbolLink(dir + "/sub"));
    EXPECT_FALSE(HVNSearchApplications::isSymbolLink(dir + "/none"));
    std::string alias = roots.writeFile(dir + "/alias", std::string("book\0\0\0\0mark\0\0\0\0", 16) + "x");
    EXPECT_TRUE(HVNSearchApplications::isSymbolLink(alias));
    std::string flagged = roots.writeFile(dir + "/flagged", "data");
    unsigned char info[32] = {'a', 'l', 'i', 's', 'M', 'A', 'C', 'S', 0x80, 0};
    if (setxattr(flagged.c_str(), "user.com.apple.FinderInfo", info, sizeof info, 0) == 0) {
        EXPECT_TRUE(HVNSearchApplications::isSymbolLink(flagged));
    }
}
