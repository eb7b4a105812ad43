#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "Public/AppSearchFixtures.h"
#include "Support/TestRoots.h"

namespace {

bool exists(const std::string& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
}

std::string shellQuoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

class UninstallCommandTest : public hvn::test::RootsTest {
protected:
    void SetUp() override {
        hvn::test::FakeBundle b;
        b.bundleID = "com.example.Editor";
        b.executable = "Editor";
        b.version = "3.1";
        app = hvn::test::makeBundle(roots, roots.root() + "/Applications/Editor.app", b);
        prefs = roots.writeFile(roots.home() + "/Library/Preferences/com.example.Editor.plist", "p");
        cache = roots.makeDir(roots.home() + "/Library/Caches/Editor_1");
        unrelated = roots.makeDir(roots.home() + "/Library/Caches/EditorTools");
    }
    int halvorn(const std::string& args, std::string* out, const std::string& input = "") {
        std::string cmd = shellQuoted(hvn::test::cliPath()) + " " + args + " 2>/dev/null";
        if (!input.empty())
            cmd = "printf " + shellQuoted(input) + " | " + cmd;
        else
            cmd += " </dev/null";
        return hvn::test::runCommand(cmd, out);
    }
    std::string app, prefs, cache, unrelated;
};

TEST_F(UninstallCommandTest, AppsListsTheFakeBundleWithItsSize) {
    std::string out;
    ASSERT_EQ(halvorn("apps --json", &out), 0) << out;
    auto doc = nlohmann::json::parse(out);
    ASSERT_EQ(doc["items"].size(), 1u);
    EXPECT_EQ(doc["items"][0]["kind"], "application");
    EXPECT_EQ(doc["items"][0]["name"], "Editor");
    EXPECT_EQ(doc["items"][0]["path"], app);
    EXPECT_EQ(doc["items"][0]["version"], "3.1");
    EXPECT_GT(doc["items"][0]["size"].get<int64_t>(), 1000);
    EXPECT_EQ(halvorn("apps --bogus", &out), 2);
    EXPECT_EQ(halvorn("apps --help", &out), 0);
    EXPECT_NE(out.find("usage: halvorn apps"), std::string::npos);
}

TEST_F(UninstallCommandTest, UninstallAsksAndRemovesOnlyWhatWasFoundAndNotKept) {
    std::string out;
    EXPECT_EQ(halvorn("uninstall Editor", &out, "n\n"), 1);
    EXPECT_TRUE(exists(app));
    EXPECT_TRUE(exists(prefs));
    EXPECT_NE(out.find(prefs), std::string::npos);  // shown before asking

    ASSERT_EQ(halvorn("uninstall com.example.Editor --keep " + shellQuoted(cache) + " --yes --json", &out), 0)
        << out;
    auto doc = nlohmann::json::parse(out);
    EXPECT_EQ(doc["app"]["name"], "Editor");
    EXPECT_EQ(doc["removed"], true);
    ASSERT_EQ(doc["files"].size(), 3u);
    for (const auto& f : doc["files"]) {
        if (f["path"] == cache) {
            EXPECT_TRUE(f["kept"].get<bool>());
            EXPECT_FALSE(f.contains("outcome"));
        } else {
            EXPECT_EQ(f["outcome"], "deleted") << f.dump();
        }
    }
    EXPECT_FALSE(exists(app));
    EXPECT_FALSE(exists(prefs));
    EXPECT_TRUE(exists(cache));
    EXPECT_TRUE(exists(unrelated));
    EXPECT_EQ(halvorn("uninstall Editor --yes", &out), 2);  // gone now
}

TEST_F(UninstallCommandTest, TrashSaysWhereEachFileWent) {
    std::string out;
    ASSERT_EQ(halvorn("uninstall " + shellQuoted(app) + " --trash", &out, "y\n"), 0) << out;
    EXPECT_NE(out.find("trashed: " + prefs + " -> " + roots.home() + "/.local/share/Trash/files/"),
              std::string::npos)
        << out;
    EXPECT_TRUE(exists(roots.home() + "/.local/share/Trash/files/Editor.app"));
    EXPECT_FALSE(exists(app));
    EXPECT_EQ(halvorn("uninstall Editor --trash --delete", &out), 2);
    EXPECT_EQ(halvorn("uninstall", &out), 2);
}
