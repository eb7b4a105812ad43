#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;

namespace {

// A bundle of its own whose CleanPath.db is a small plain rule database.
class BrowserCachePathTest : public hvn::test::RootsTest {
protected:
    void SetUp() override {
        bundle_ = roots.base() + "/Rules.app";
        fs::create_directories(bundle_ + "/Contents/Resources");
        fs::copy_file(hvn::test::bundlePath() + "/Contents/Info.plist", bundle_ + "/Contents/Info.plist");
        setenv("HALVORN_BUNDLE", bundle_.c_str(), 1);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((bundle_ + "/Contents/Resources/CleanPath.db").c_str(), &db), SQLITE_OK);
        const char* sql =
            "CREATE TABLE HVNCLean (auto_id INTEGER PRIMARY KEY, catalog TEXT, category TEXT, path TEXT,"
            " keyvalue TEXT, keyword TEXT, isselected INTEGER, path_encrypt BLOB, keyvalue_encrypt BLOB,"
            " keyword_encrypt BLOB);"
            "INSERT INTO HVNCLean (catalog, path, keyword, isselected) VALUES"
            " ('Broswer Chahe', '/Library/Caches/X', 'NULL', 1),"
            " ('User Cache Files', '~/Library/Caches', 'NULL', 1),"
            " ('Broswer Chahe', ' /Library/Caches/Google/Chrome ', 'Cache', 1),"
            " ('Broswer Chahe', '', 'NULL', 1);";
        char* error = nullptr;
        ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
        sqlite3_close(db);
    }
    std::string bundle_;
};

}  // namespace

TEST_F(BrowserCachePathTest, StoredPathsAreBelowTheHomeFolder) {
    auto requests = HVNCommonFunction::broswerChahePath();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0]->path, roots.home() + "/Library/Caches/X");
    EXPECT_FALSE(requests[0]->key.has_value());
    EXPECT_TRUE(requests[0]->isCheck);
    EXPECT_FALSE(requests[0]->recursion);
    EXPECT_EQ(requests[1]->path, roots.home() + "/Library/Caches/Google/Chrome");
    EXPECT_EQ(requests[1]->key, std::optional<std::string>("Cache"));
    // A rule without a path names nothing, not the home folder.
    EXPECT_EQ(requests[2]->path, "");
}

TEST_F(BrowserCachePathTest, NoRuleDatabaseGivesNoRequests) {
    fs::remove(bundle_ + "/Contents/Resources/CleanPath.db");
    EXPECT_TRUE(HVNCommonFunction::broswerChahePath().empty());
}
