#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "Support/TestRoots.h"

namespace {

class RulesCommandTest : public hvn::test::RootsTest {
protected:
    struct Result {
        int rc;
        std::string out, err;
    };

    // Runs "halvorn rules ARGS" (HOME and HALVORN_ROOT are the temporary roots).
    Result rules(const std::string& args) {
        std::string errFile = roots.base() + "/stderr.txt";
        Result r;
        r.rc =
            hvn::test::runCommand(hvn::test::cliPath() + " rules " + args + " 2>'" + errFile + "'", &r.out);
        hvn::test::runCommand("cat '" + errFile + "'", &r.err);
        return r;
    }

    // A plain rule database loaded from the readable source, as the build does.
    std::string plainDatabase() {
        std::string db = roots.base() + "/Plain.db";
        EXPECT_EQ(hvn::test::runCommand("sqlite3 -bail '" + db + "' '.read " + HALVORN_SOURCE_DIR +
                                        "/Resources/rules/CleanPath.sql'"),
                  0);
        return db;
    }

    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> out;
        std::istringstream in(text);
        for (std::string l; std::getline(in, l);) out.push_back(l);
        return out;
    }
};

TEST_F(RulesCommandTest, HelpOnEveryLevel) {
    auto top = rules("--help");
    EXPECT_EQ(top.rc, 0);
    EXPECT_NE(top.out.find("usage: halvorn rules encrypt DB"), std::string::npos);
    EXPECT_NE(top.out.find("halvorn rules list DB CATALOG"), std::string::npos);
    for (const char* sub : {"encrypt", "decrypt", "check", "list"}) {
        auto r = rules(std::string(sub) + " --help");
        EXPECT_EQ(r.rc, 0) << sub;
        EXPECT_EQ(r.out.rfind(std::string("usage: halvorn rules ") + sub, 0), 0u) << r.out;
        EXPECT_TRUE(r.err.empty());
    }
    EXPECT_EQ(rules("list /nonexistent -h").rc, 0);  // help wins over the operands
}

TEST_F(RulesCommandTest, BadUsageExitsTwoWithAMessage) {
    struct Case {
        const char* args;
        const char* message;
    };
    for (const Case& c :
         {Case{"", "missing subcommand"}, Case{"frobnicate x", "unknown subcommand 'frobnicate'"},
          Case{"encrypt", "missing operand"}, Case{"list some.db", "missing operand"},
          Case{"check a.db b.db", "too many operands"},
          Case{"check --force a.db", "unknown option '--force'"}}) {
        auto r = rules(c.args);
        EXPECT_EQ(r.rc, 2) << c.args;
        EXPECT_NE(r.err.find(std::string("halvorn rules: ") + c.message), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("usage:"), std::string::npos);
        EXPECT_TRUE(r.out.empty());
    }
}

TEST_F(RulesCommandTest, DatabasesThatAreNotRuleDatabasesExitOne) {
    std::string missing = roots.base() + "/missing.db";
    std::string garbage = roots.writeFile(roots.base() + "/garbage.db", std::string(2048, 'g'));
    std::string other = roots.base() + "/other.db";
    ASSERT_EQ(hvn::test::runCommand("sqlite3 '" + other + "' 'create table HVNCLean (x)'"), 0);
    struct Case {
        std::string path, reason;
    };
    for (const Case& c :
         {Case{missing, "no such file"}, Case{garbage, "file is not a database"},
          Case{other, "not a rule database (no table HVN_SYS_OPT)"}, Case{roots.home(), "is a folder"}}) {
        for (const char* sub : {"check", "encrypt", "list"}) {
            std::string args =
                std::string(sub) + " '" + c.path + "'" + (std::string(sub) == "list" ? " Browser" : "");
            auto r = rules(args);
            EXPECT_EQ(r.rc, 1) << args;
            EXPECT_EQ(r.err, "halvorn: cannot open rule database " + c.path + ": " + c.reason + "\n");
        }
    }
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_EQ(std::filesystem::file_size(garbage), 2048u);
}

TEST_F(RulesCommandTest, EncryptCheckListAndDecrypt) {
    std::string db = plainDatabase();
    auto plainList = rules("list '" + db + "' 'User Downloads'");
    ASSERT_EQ(plainList.rc, 0);
    EXPECT_EQ(plainList.out, roots.home() + "/Downloads\t-\tNO\n");

    auto enc = rules("encrypt '" + db + "'");
    EXPECT_EQ(enc.rc, 0) << enc.err;
    EXPECT_TRUE(enc.out.empty());  // the build step stays quiet
    EXPECT_TRUE(enc.err.empty());

    auto check = rules("check '" + db + "'");
    EXPECT_EQ(check.rc, 0);
    EXPECT_EQ(lines(check.out), (std::vector<std::string>{
                                    "数据验证开始", "数据验证【搜索路径】开始", "数据验证【搜索路径】完成",
                                    "数据验证【系统优化】开始", "数据验证【系统优化】完成", "数据验证结束"}));

    // The encrypted database lists the same requests as the plain one.
    EXPECT_EQ(rules("list '" + db + "' 'User Downloads'").out, plainList.out);
    auto logs = rules("list '" + db + "' 'System Log Files'");
    EXPECT_NE(logs.out.find(roots.root() + "/var/log\t.gz\tNO\n"), std::string::npos) << logs.out;
    EXPECT_EQ(rules("list '" + db + "' 'No Such Catalog'").out, "");

    ASSERT_EQ(rules("decrypt '" + db + "'").rc, 0);
    auto after = rules("check '" + db + "'");
    EXPECT_EQ(after.rc, 1);
    EXPECT_NE(after.out.find("Path is not same, Souce is ~/Downloads, enctypted is (null)"),
              std::string::npos);
}

// The database the build ships: it checks out and holds no readable rule text.
TEST_F(RulesCommandTest, ShippedDatabaseIsEncryptedAndChecksOut) {
    std::string shipped = hvn::test::bundlePath() + "/Contents/Resources/CleanPath.db";
    auto check = rules("check '" + shipped + "'");
    EXPECT_EQ(check.rc, 0) << check.out;
    EXPECT_EQ(check.out.find("is not same"), std::string::npos);

    std::string texts, count;
    ASSERT_EQ(hvn::test::runCommand(
                  "sqlite3 '" + shipped + "' \"select path, keyvalue, keyword from HVNCLean\"", &texts),
              0);
    ASSERT_EQ(hvn::test::runCommand("sqlite3 '" + shipped + "' \"select count(*) from HVNCLean\"", &count),
              0);
    auto rows = lines(texts);
    EXPECT_GT(rows.size(), 20u);
    EXPECT_EQ(std::to_string(rows.size()) + "\n", count);
    for (const auto& row : rows) EXPECT_EQ(row, "||");
    ASSERT_EQ(
        hvn::test::runCommand(
            "sqlite3 '" + shipped +
                "' \"select count(*) from HVNCLean where path_encrypt is null or keyword_encrypt is null\"",
            &count),
        0);
    EXPECT_EQ(count, "0\n");
}

}  // namespace
