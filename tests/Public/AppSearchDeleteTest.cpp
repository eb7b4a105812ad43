#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "HVN/Code/Public/HVNDeleteSelectedApp.h"
#include "HVN/Code/Public/HVNSearchApplications.h"
#include "HVN/Code/Public/ReomveFile.h"
#include "Platform/PropertyList.h"
#include "Public/AppSearchFixtures.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;

namespace {

HVNAppItem editorItem(const std::string& path) {
    HVNAppItem item;
    item.path = path;
    item.name = "Editor";
    item.bundleID = "com.example.Editor";
    item.executableString = "Editor";
    item.image = path + "/icon";
    return item;
}

bool exists(const std::string& p) {
    struct stat st {};
    return lstat(p.c_str(), &st) == 0;
}

}  // namespace

class AppSearchDeleteTest : public hvn::test::RootsTest {
protected:
    std::string app() { return hvn::test::makeBundle(roots, roots.root() + "/Applications/Editor.app"); }
};

TEST_F(AppSearchDeleteTest, FindsSupportFilesByIdentifierAndExecutableName) {
    std::string appPath = app();
    std::string lib = roots.home() + "/Library";
    std::string prefs = roots.writeFile(lib + "/Preferences/com.example.Editor.plist", "p");
    std::string folder = roots.makeDir(lib + "/Application Support/Editor");
    std::string cache = roots.makeDir(lib + "/Caches/Editor_1");
    std::string other = roots.makeDir(lib + "/Application Support/EditorTools");  // not offered
    roots.makeDir(lib + "/Caches/editor");                                        // case-sensitive
    std::string container = roots.makeDir(lib + "/Containers/com.example.Editor");
    std::string state = roots.makeDir(lib + "/Saved Application State/com.example.Editor.savedState");
    std::string crash = roots.writeFile(lib + "/Logs/DiagnosticReports/Editor_2024-01-01.crash", "c");
    std::string agent =
        roots.writeFile(roots.root() + "/Library/LaunchDaemons/com.example.Editor.helper.plist", "d");
    std::string docs = roots.makeDir(roots.root() + "/Library/Documentation/Applications/Editor");
    roots.writeFile(lib + "/Caches/com.example.EditorX/unrelated", "");  // contains the identifier: taken
    roots.writeFile(lib + "/Fonts/com.example.Editor.ttf", "");          // folder not searched
    std::string temp = roots.makeDir(roots.root() + "/private/var/folders/zz/abc123/C/com.example.Editor");
    roots.writeFile(temp + "/inner/com.example.Editor.db", "");  // inside a taken folder: not listed alone
    std::string tempFile =
        roots.writeFile(roots.root() + "/private/var/folders/zz/abc123/T/com.example.Editor.tmp", "");
    roots.makeDir(roots.root() +
                  "/private/var/folders/zz/abc123/T/Editor");  // names only count by identifier

    auto files = HVNDeleteSelectedApp::deleteFiles(editorItem(appPath));
    ASSERT_FALSE(files.empty());
    EXPECT_EQ(files.back(), appPath);
    std::vector<std::string> sorted(files.begin(), files.end() - 1);
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::string> expected = {prefs,
                                         folder,
                                         cache,
                                         container,
                                         state,
                                         crash,
                                         agent,
                                         docs,
                                         temp,
                                         tempFile,
                                         lib + "/Caches/com.example.EditorX"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);
    EXPECT_EQ(std::count(files.begin(), files.end(), other), 0);

    // The display items.
    auto items = HVNDeleteSelectedApp::FileAttribute({prefs, folder, appPath}, editorItem(appPath));
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0]->name, "com.example.Editor");
    EXPECT_EQ(items[0]->appSize, "1");
    EXPECT_EQ(items[0]->image, prefs);
    EXPECT_EQ(items[1]->name, "Editor");
    EXPECT_EQ(items[1]->appSize, "0.000000");  // an empty folder: its contents, not its entry
    EXPECT_EQ(items[2]->name, "Editor");
    EXPECT_FALSE(items[2]->isSelected);
}

TEST_F(AppSearchDeleteTest, WithoutIdentifierOrExecutableOnlyTheItemItself) {
    std::string appPath = app();
    roots.writeFile(roots.home() + "/Library/Preferences/com.example.Editor.plist", "p");
    roots.makeDir(roots.home() + "/Library/Caches/Editor");
    HVNAppItem item = editorItem(appPath);
    item.executableString = "";
    EXPECT_EQ(HVNDeleteSelectedApp::deleteFiles(item), std::vector<std::string>{appPath});
    item = editorItem(appPath);
    item.bundleID = "";
    EXPECT_EQ(HVNDeleteSelectedApp::deleteFiles(item), std::vector<std::string>{appPath});
    // A one-word identifier would match half the Library: treated as none.
    item = editorItem(appPath);
    item.bundleID = "e";
    EXPECT_EQ(HVNDeleteSelectedApp::deleteFiles(item), std::vector<std::string>{appPath});
    for (const char* bad : {"com.", ".com", "a..b", "editor"}) {
        EXPECT_FALSE(HVNDeleteSelectedApp::isUsableBundleIdentifier(bad)) << bad;
    }
    EXPECT_TRUE(HVNDeleteSelectedApp::isUsableBundleIdentifier("com.example.Editor"));
}

TEST_F(AppSearchDeleteTest, NeverOffersTheSearchedFoldersThemselves) {
    std::string appPath = app();
    roots.makeDir(roots.home() + "/Library/Caches/x");
    roots.makeDir(roots.home() + "/Library/Logs/y");
    roots.makeDir(roots.root() + "/Library/LaunchAgents");
    HVNAppItem item = editorItem(appPath);
    item.executableString = "Caches";  // equals an entry of ~/Library
    item.bundleID = "com.example.Logs";
    auto files = HVNDeleteSelectedApp::deleteFiles(item);
    EXPECT_EQ(files, std::vector<std::string>{appPath});
    item.executableString = "LaunchAgents";
    EXPECT_EQ(HVNDeleteSelectedApp::deleteFiles(item), std::vector<std::string>{appPath});
    // Nothing searched exists: only the item.
    EXPECT_TRUE(
        HVNDeleteSelectedApp::getPrivateByBundleAndKeyWords("com.example.Editor", roots.root() + "/none")
            .empty());
    EXPECT_TRUE(HVNDeleteSelectedApp::getPrivateByBundleAndKeyWords("", roots.root()).empty());
}

TEST_F(AppSearchDeleteTest, TemporaryFolderWalkSkipsWhatAnUnprivilegedUserCannotRead) {
    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root to drop to nobody";
    std::string base = roots.root() + "/private/var/folders";
    std::string open = roots.makeDir(base + "/aa/open/C/com.example.Editor");
    std::string unreadable = roots.writeFile(base + "/aa/open/T/com.example.Editor.lock", "");
    chmod(unreadable.c_str(), 0600);
    roots.writeFile(base + "/bb/closed/C/com.example.Editor/x", "");
    chmod((base + "/bb/closed").c_str(), 0700);
    ASSERT_EQ(symlink(open.c_str(), (base + "/aa/link").c_str()), 0);  // a link is not entered
    int rc = hvn::test::runAsNobody([&] {
        auto found = HVNDeleteSelectedApp::getPrivateByBundleAndKeyWords("com.example.Editor", base);
        return found == std::vector<std::string>{open} ? 0 : 1;
    });
    EXPECT_EQ(rc, 0);
}

TEST_F(AppSearchDeleteTest, RemovesWhatItMayAndLeavesWhatTheUserLeftOut) {
    std::string appPath = app();
    std::string prefs = roots.writeFile(roots.home() + "/Library/Preferences/com.example.Editor.plist", "p");
    std::string kept = roots.makeDir(roots.home() + "/Library/Caches/Editor");
    auto files = HVNDeleteSelectedApp::deleteFiles(editorItem(appPath));
    ASSERT_EQ(files.size(), 3u);
    files.erase(std::find(files.begin(), files.end(), kept));  // toggled off by the user
    EXPECT_TRUE(HVNDeleteSelectedApp::canRemoveAppFiles(files));
    EXPECT_FALSE(exists(appPath));
    EXPECT_FALSE(exists(prefs));
    EXPECT_TRUE(exists(kept));
    EXPECT_FALSE(HVNDeleteSelectedApp::canRemoveAppFiles({}));
    EXPECT_TRUE(HVNDeleteSelectedApp::canRemoveAppFiles({appPath}));  // already gone
}

// What the removal gate refuses is final: even with the administrator's rights at hand, a
// support file reached through a link to the home folder is neither removed nor handed on.
TEST_F(AppSearchDeleteTest, ARefusedPathIsNeverHandedToThePrivilegedRoute) {
    std::string letter = roots.writeFile(roots.home() + "/Documents/letter", "dear");
    roots.makeDir(roots.home() + "/Library");
    std::filesystem::create_symlink(roots.home(), roots.home() + "/Library/Linked");
    std::string junk = roots.writeFile(roots.home() + "/Library/Caches/com.example.Editor/c", "c");
    setenv("HALVORN_AUTH", "allow", 1);
    ReomveFile::SleepFunction old = ReomveFile::setSleepFunction([](double) {});
    EXPECT_FALSE(HVNDeleteSelectedApp::canRemoveAppFiles({roots.home() + "/Library/Linked/Documents",
                                                          roots.home() + "/Library/Caches/com.example.Editor"}));
    unsetenv("HALVORN_AUTH");
    ReomveFile::setSleepFunction(old);
    EXPECT_EQ(hvn::readWholeFile(letter), "dear");
    EXPECT_FALSE(exists(junk));
}

TEST_F(AppSearchDeleteTest, WhatAnUnprivilegedUserMayNotDeleteGoesToThePrivilegedRoute) {
    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root to drop to nobody";
    std::string appPath = app();
    std::string mine = roots.makeDir(roots.base() + "/nobody");
    chown(mine.c_str(), 65534, 65534);
    std::string own = roots.writeFile(mine + "/com.example.Editor.plist", "p");
    chown(own.c_str(), 65534, 65534);
    setenv("HALVORN_AUTH", "deny", 1);  // the administrator prompt is refused
    ReomveFile::SleepFunction old = ReomveFile::setSleepFunction([](double) {});
    int rc = hvn::test::runAsNobody([&] {
        ReomveFile::resetInstallationFlags();
        bool result = HVNDeleteSelectedApp::canRemoveAppFiles({own, appPath});
        if (result) return 1;       // the refused prompt must show
        if (exists(own)) return 2;  // the deletable file went first
        if (!exists(appPath)) return 3;
        return 0;
    });
    unsetenv("HALVORN_AUTH");
    ReomveFile::setSleepFunction(old);
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(exists(appPath));
}
