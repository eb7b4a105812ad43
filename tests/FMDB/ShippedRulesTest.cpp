// The rules of the shipped CleanPath.db (the built bundle's): every catalog the engine asks
// for has rows, browser rows name their kind, and no browser folder is reported twice.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/FMDB/HVNPathDBManager.h"
#include "Support/TestRoots.h"

namespace {

class ShippedRulesTest : public hvn::test::RootsTest {
protected:
    HVNPathDBManager manager;  // the bundle's databases

    static bool inside(const std::string& path, const std::string& folder) {
        return path.size() > folder.size() + 1 && path.compare(0, folder.size() + 1, folder + "/") == 0;
    }
};

TEST_F(ShippedRulesTest, EveryCatalogHasRows) {
    for (const char* catalog :
         {"System Cache Files", "User Cache Files", "System Log Files", "User Log Files", "iPhoto Cleanup",
          "User Downloads", "IOS Photo Cache", "IOS Software Updates", "Broken Login Items",
          "Broken Preferences", "Broswer Chahe"}) {
        EXPECT_FALSE(manager.getCleanPath(catalog).empty()) << catalog;
    }
    for (const auto& r : manager.getCleanPath("Broken")) {
        EXPECT_FALSE(r->path.empty());
        EXPECT_NE(r->path[0], '/') << "relative to the home folder and the system root: " << r->path;
    }
}

TEST_F(ShippedRulesTest, PathsStayUnderTheRoots) {
    for (const auto& rule : manager.getAllPathData()) {
        std::string path = rule->path().value_or("");
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(path.find('~', 1), std::string::npos) << path;  // every "~" would become the home folder
        EXPECT_NE(path.back(), '/') << path;
        EXPECT_EQ(path.find("//"), std::string::npos) << path;
    }
    for (const auto& r : manager.getCleanPath("Files")) {
        EXPECT_TRUE(r->path.rfind(roots.home() + "/", 0) == 0 || r->path.rfind(roots.root() + "/", 0) == 0)
            << r->path;
    }
}

TEST_F(ShippedRulesTest, BrowserRowsNameTheirKindForEveryBrowser) {
    std::map<std::string, std::set<std::string>> kinds;  // browser -> kinds
    for (const auto& rule : manager.getAllPathData()) {
        if (!rule->keyValue() || rule->keyValue()->empty()) continue;  // only browser rows have a kind
        kinds[rule->category.value_or("")].insert(*rule->keyValue());
    }
    for (const char* browser : {"Safari", "Chrome", "Firefox", "Opera"}) {
        EXPECT_TRUE(kinds[browser].count("Cache")) << browser;
        EXPECT_TRUE(kinds[browser].count("History")) << browser;
    }
    for (const auto& rule : manager.getBrowserCleanPath("Browser")) {
        const std::string& kind = rule->keyValue().value_or("");
        EXPECT_TRUE(kind == "Cache" || kind == "Cookie" || kind == "History" || kind == "Session") << kind;
    }
}

// A browser folder inside a user cache folder must be left out of the user cache scan by a
// "Broswer Chahe" row, or its files would be reported by two modules.
TEST_F(ShippedRulesTest, BrowserFoldersInsideUserCachesAreLeftToTheBrowserModule) {
    auto userCaches = manager.getCleanPath("User Cache Files");
    auto chahe = manager.getCleanPath(kBroswerChaheCatalog);
    auto browser = manager.getBrowserCleanPath("Browser");
    for (const auto& c : chahe) {
        bool direct = false;
        for (const auto& u : userCaches) {
            std::string full = roots.home() + c->path;
            direct =
                direct || (inside(full, u->path) && full.find('/', u->path.size() + 1) == std::string::npos);
        }
        EXPECT_TRUE(direct) << "a browser cache row that no user cache folder holds: " << c->path;
    }
    size_t nested = 0;
    for (const auto& b : browser) {
        const std::string& path = b->path().value_or("");
        for (const auto& u : userCaches) {
            if (!inside(path, u->path)) continue;
            ++nested;
            std::string entry = path.substr(0, path.find('/', u->path.size() + 1));
            const HVNScanInputObject* cover = nullptr;
            for (const auto& c : chahe) {
                if (roots.home() + c->path == entry) cover = c.get();
            }
            ASSERT_NE(cover, nullptr) << path << " is also a user cache";
            if (cover->key) {
                EXPECT_TRUE(path == entry + "/" + *cover->key || inside(path, entry + "/" + *cover->key))
                    << path;
            }
        }
    }
    EXPECT_GT(nested, 0u);
}

}  // namespace
