#include "HVN/Code/Clearer/FMDB/HVNPathDBManager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/FMDB/FMDatabaseAdditions.h"
#include "HVN/Code/Public/EncryptManager.h"
#include "Platform/Log.h"
#include "Platform/PropertyList.h"
#include "Support/LogLines.h"
#include "Support/TestRoots.h"

namespace {

using hvn::Value;

using hvn::test::LogLines;

struct Rule {
    std::string catalog, path, keyvalue, keyword;
};

class HVNPathDBManagerTest : public hvn::test::RootsTest {
protected:
    std::string dbPath() const { return roots.base() + "/CleanPath.db"; }

    // A plain rule database with the shipped schema (read from the rule source).
    void makeDatabase(const std::vector<Rule>& rules, bool withOption = true) {
        std::string source =
            hvn::readWholeFile(std::string(HALVORN_SOURCE_DIR) + "/Resources/rules/CleanPath.sql")
                .value_or("");
        std::string schema = source.substr(0, source.find("INSERT"));
        FMDatabase db(dbPath());
        ASSERT_TRUE(db.open());
        ASSERT_EQ(sqlite3_exec(db.db(), (schema + "COMMIT;").c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        for (const auto& r : rules) {
            ASSERT_TRUE(
                db.executeUpdate("insert into HVNCLean (catalog, category, path, keyvalue, keyword, "
                                 "isselected) values (?, 'c', ?, ?, "
                                 "?, 0)",
                                 {Value(r.catalog), Value(r.path), Value(r.keyvalue), Value(r.keyword)}));
        }
        if (withOption) {
            ASSERT_TRUE(
                db.executeUpdate("insert into HVN_SYS_OPT (opt_type, broswer, config_file_path, "
                                 "item_name_cn, item_name_en, item_key, "
                                 "item_value) values ('t', 'Safari', "
                                 "'~/Library/Preferences/com.apple.Safari.plist', '清除历史记录', "
                                 "'Clear history', 'k', '')"));
        }
    }

    std::vector<std::string> paths(const std::vector<HVNScanInputObjectPtr>& requests) {
        std::vector<std::string> out;
        for (const auto& r : requests) out.push_back(r->path);
        return out;
    }

    std::string sql(const std::string& query) {
        std::string out;
        hvn::test::runCommand("sqlite3 '" + dbPath() + "' \"" + query + "\"", &out);
        return out;
    }
};

TEST_F(HVNPathDBManagerTest, RulePathsResolveUnderTheRoots) {
    makeDatabase({{"User Cache Files", "~/Library/Caches", "", "NULL"},
                  {"User Cache Files", " \t~/.cache\t ", "", ""},
                  {"System Cache Files", "/Library/Caches", "", "NULL"},
                  {"System Log Files", "/var/log", "", ".gz"},
                  {"Broswer Chahe", "/Library/Caches/Google", "", "Chrome"},
                  {"Broken Login Items", "Library/LaunchAgents", "", "NULL"},
                  {"User Downloads", "", "", "NULL"}});
    HVNPathDBManager manager(dbPath());
    const std::string& home = roots.home();
    const std::string& root = roots.root();

    auto user = manager.getCleanPath("User Cache Files");
    ASSERT_EQ(user.size(), 2u);
    EXPECT_EQ(user[0]->path, home + "/Library/Caches");
    EXPECT_EQ(user[1]->path, home + "/.cache");  // trimmed, then expanded
    for (const auto& r : user) {
        EXPECT_FALSE(r->key);  // "NULL" and "" are no key
        EXPECT_TRUE(r->isCheck);
        EXPECT_FALSE(r->recursion);
    }
    EXPECT_EQ(paths(manager.getCleanPath("System Cache Files")),
              std::vector<std::string>{root + "/Library/Caches"});
    auto logs = manager.getCleanPath("System Log Files");
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0]->path, root + "/var/log");
    EXPECT_EQ(logs[0]->key, ".gz");
    auto chahe = manager.getCleanPath(kBroswerChaheCatalog);
    ASSERT_EQ(chahe.size(), 1u);
    EXPECT_EQ(chahe[0]->path, "/Library/Caches/Google");  // the caller puts the home folder in front
    EXPECT_EQ(chahe[0]->key, "Chrome");
    EXPECT_EQ(paths(manager.getCleanPath("Broken Login Items")),
              std::vector<std::string>{"Library/LaunchAgents"});
    EXPECT_EQ(paths(manager.getCleanPath("User Downloads")), std::vector<std::string>{""});

    // Every "~" of a path that begins with one is the home folder.
    EXPECT_EQ(HVNPathDBManager::resolveRulePath("~/a~b", "User Cache Files"), home + "/a" + home + "b");
    EXPECT_EQ(HVNPathDBManager::resolveRulePath(std::nullopt, "User Cache Files"), "");
}

TEST_F(HVNPathDBManagerTest, CatalogMatchingIsASubstringLikeAndTheCategoryIsBound) {
    makeDatabase({{"iOS Photo Cache", "~/p", "", "NULL"},
                  {"Browser", "~/b", "History", "History"},
                  {"Broswer Chahe", "/c", "", "NULL"},
                  {"Owner's Files", "~/o", "", "NULL"},
                  {"User Downloads", "~/Downloads", "", "NULL"}});
    HVNPathDBManager manager(dbPath());
    EXPECT_EQ(manager.getCleanPath("IOS Photo Cache").size(), 1u);  // LIKE ignores ASCII case
    EXPECT_EQ(manager.getCleanPath("Photo").size(), 1u);            // substring
    EXPECT_EQ(manager.getBrowserCleanPath("Browser").size(), 1u);   // not "Broswer Chahe"

    auto quoted = manager.getCleanPath("Owner's");
    ASSERT_EQ(quoted.size(), 1u);
    EXPECT_EQ(quoted[0]->path, roots.home() + "/o");
    EXPECT_TRUE(manager.getCleanPath("x' or '1'='1").empty());
    EXPECT_TRUE(manager.getCleanPath("'; drop table HVNCLean; --").empty());
    EXPECT_EQ(manager.getAllPathData().size(), 5u);
}

TEST_F(HVNPathDBManagerTest, BrowserRulesCarryKindAndKeyWord) {
    makeDatabase({{"Browser", "~/Library/Safari", "History", "History.db"},
                  {"Browser", "~/.cache/google-chrome", "Cache", "NULL"}});
    HVNPathDBManager manager(dbPath());
    auto rules = manager.getBrowserCleanPath("Browser");
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_EQ(rules[0]->path(), roots.home() + "/Library/Safari");
    EXPECT_EQ(rules[0]->keyWord(), "History.db");
    EXPECT_EQ(rules[0]->keyValue(), "History");
    EXPECT_TRUE(rules[0]->isSelected);  // the rows say 0; browser rules start selected
    EXPECT_EQ(rules[1]->keyWord(), std::nullopt);
    EXPECT_EQ(rules[1]->keyValue(), "Cache");
}

TEST_F(HVNPathDBManagerTest, EncryptCheckClearAndDecryptRoundTrip) {
    makeDatabase({{"User Cache Files", "~/Library/Caches", "", "NULL"},
                  {"Browser", "~/Library/Safari", "History", "History.db"}});
    HVNPathDBManager manager(dbPath());
    {
        LogLines log;
        ASSERT_TRUE(manager.encryptDB());
        EXPECT_EQ(log.lines(),
                  (std::vector<std::string>{"加密开始", "加密【搜索路径】开始", "加密【搜索路径】完成",
                                            "加密【系统优化】开始", "加密【系统优化】完成", "加密完成"}));
    }
    {
        LogLines log;
        EXPECT_EQ(manager.checkDataValidation(), 0u);
        EXPECT_EQ(log.lines(), (std::vector<std::string>{"数据验证开始", "数据验证【搜索路径】开始",
                                                       "数据验证【搜索路径】完成", "数据验证【系统优化】开始",
                                                       "数据验证【系统优化】完成", "数据验证结束"}));
    }
    {
        LogLines log;
        ASSERT_TRUE(manager.cleanReadedFiledForPathTable());
        EXPECT_EQ(log.lines(), std::vector<std::string>{"可读字段清空完成"});
    }
    EXPECT_EQ(sql("select path || keyvalue || keyword || '|' from HVNCLean"), "|\n|\n");
    EXPECT_EQ(sql("select config_file_path || item_name_cn || item_key || '|' from HVN_SYS_OPT"), "|\n");

    // A shipped row still yields its texts, decrypted.
    auto requests = manager.getCleanPath("User Cache Files");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]->path, roots.home() + "/Library/Caches");
    auto browser = manager.getBrowserCleanPath("Browser");
    ASSERT_EQ(browser.size(), 1u);
    EXPECT_EQ(browser[0]->keyWord(), "History.db");
    EXPECT_EQ(browser[0]->keyValue(), "History");
    auto options = manager.getSysOptData();
    ASSERT_EQ(options.size(), 1u);
    EXPECT_EQ(options[0]->item_name_cn(), "清除历史记录");
    EXPECT_EQ(options[0]->config_file_path(), "~/Library/Preferences/com.apple.Safari.plist");
    EXPECT_EQ(options[0]->broswer, "Safari");

    // Encrypting a shipped database again changes nothing.
    std::string blocks = sql("select hex(path_encrypt) from HVNCLean");
    ASSERT_TRUE(manager.encryptDB());
    EXPECT_EQ(sql("select hex(path_encrypt) from HVNCLean"), blocks);

    {
        LogLines log;
        ASSERT_TRUE(manager.decryptDB());
        EXPECT_EQ(log.lines().front(), "解密开始");
        EXPECT_EQ(log.lines().back(), "解密完成");
    }
    EXPECT_EQ(sql("select path, keyvalue, keyword, path_encrypt is null from HVNCLean"),
              "~/Library/Caches||NULL|1\n~/Library/Safari|History|History.db|1\n");
    EXPECT_EQ(sql("select item_name_cn, item_name_en, item_value_encrypt is null from HVN_SYS_OPT"),
              "清除历史记录|Clear history|1\n");

    // With the encrypted columns null, every non-empty text differs.
    LogLines log;
    EXPECT_EQ(manager.checkDataValidation(), 9u);  // 2 + 3 texts of the rules, 4 of the option
    EXPECT_EQ(log.count("Path is not same, Souce is ~/Library/Caches, enctypted is (null)"), 1u);
    EXPECT_EQ(log.count("keyWor is not same, Souce is History.db, enctypted is (null)"), 1u);
    EXPECT_EQ(log.count("keyvalue is not same"), 1u);
    EXPECT_EQ(log.count("item_name_cn is not same, Souce is 清除历史记录, enctypted is (null)"), 1u);
    EXPECT_EQ(log.count("item_value is not same"), 0u);  // empty text
}

TEST_F(HVNPathDBManagerTest, UndecryptableBlocksGiveAbsentTextsAndAreReported) {
    makeDatabase({{"User Cache Files", "", "", ""}}, false);
    {
        FMDatabase db(dbPath());
        ASSERT_TRUE(db.open());
        ASSERT_TRUE(
            db.executeUpdate("update HVNCLean set path_encrypt = ?, keyword_encrypt = ?",
                             {Value(hvn::Data(17, 1)), Value(*EncryptManager::encryptString("Key"))}));
    }
    HVNPathDBManager manager(dbPath());
    auto requests = manager.getCleanPath("User Cache Files");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]->path, "");
    EXPECT_EQ(requests[0]->key, "Key");
    LogLines log;
    EXPECT_EQ(manager.checkDataValidation(), 1u);
    EXPECT_EQ(log.count("Path is not same, Souce is (null), enctypted is (null)"), 1u);
}

TEST_F(HVNPathDBManagerTest, MissingOrBrokenDatabasesGiveNothingAndCreateNothing) {
    HVNPathDBManager missing(dbPath());
    EXPECT_TRUE(missing.getCleanPath("User Cache Files").empty());
    EXPECT_TRUE(missing.getAllPathData().empty());
    EXPECT_TRUE(missing.getSysOptData().empty());
    {
        LogLines log;
        EXPECT_FALSE(missing.encryptDB());
        EXPECT_FALSE(missing.decryptDB());
        EXPECT_EQ(missing.checkDataValidation(), std::nullopt);
        EXPECT_FALSE(missing.cleanReadedFiledForPathTable());
        EXPECT_FALSE(EncryptManager::encryptDB(dbPath()));
        EXPECT_EQ(log.count("可读字段清空完成"), 0u);
    }
    EXPECT_FALSE(std::filesystem::exists(dbPath()));

    roots.writeFile(dbPath(), std::string(4096, 'x'));
    HVNPathDBManager garbage(dbPath());
    EXPECT_TRUE(garbage.getCleanPath("User Cache Files").empty());
    EXPECT_TRUE(garbage.getSysOptData().empty());
    EXPECT_EQ(hvn::readWholeFile(dbPath()), std::string(4096, 'x'));
}

TEST_F(HVNPathDBManagerTest, DefaultManagerReadsTheBundleDatabase) {
    HVNPathDBManager manager;
    EXPECT_EQ(manager.db().databasePath(), hvn::test::bundlePath() + "/Contents/Resources/CleanPath.db");
    EXPECT_EQ(manager.virusDb().databasePath(), hvn::test::bundlePath() + "/Contents/Resources/Virus.db");
    EXPECT_EQ(manager.cookiesDb().databasePath(), hvn::test::bundlePath() + "/Contents/Resources/Cookies.db");
    EXPECT_FALSE(manager.getCleanPath("User Cache Files").empty());
}

TEST_F(HVNPathDBManagerTest, EncryptManagerKeepsTheReadableColumnsOfADatabaseItCannotWrite) {
    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root to drop to nobody";
    makeDatabase({{"User Cache Files", "~/Library/Caches", "", "NULL"}});
    chmod(dbPath().c_str(), 0644);  // owned by root: read-only for nobody
    std::string path = dbPath();
    int rc = hvn::test::runAsNobody([&] { return EncryptManager::encryptDB(path) ? 0 : 1; });
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(sql("select path, path_encrypt is null from HVNCLean"), "~/Library/Caches|1\n");
    EXPECT_EQ(hvn::test::runAsNobody(
                  [&] { return HVNPathDBManager(path).getCleanPath("User").size() == 1 ? 0 : 1; }),
              0);  // reading a write-protected database works
}

}  // namespace
