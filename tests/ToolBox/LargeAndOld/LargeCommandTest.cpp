// `halvorn large` end to end over generated folders in a temporary home.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "LargeTestSupport.h"

namespace {

using hvn::test::cliPath;
using hvn::test::makeSizedFile;
using hvn::test::pathExists;
using hvn::test::runCommand;

std::string quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class LargeCommandTest : public hvn::test::RootsTest {
protected:
    int large(const std::string& args, std::string* out, const std::string& input = "") {
        std::string cmd = "HALVORN_LOG=quiet " + cliPath() + " large " + args + " 2>/dev/null";
        if (!input.empty())
            cmd = "printf " + quote(input) + " | " + cmd;
        else
            cmd += " </dev/null";
        return runCommand(cmd, out);
    }
    nlohmann::json largeJson(const std::string& args, int* rc = nullptr) {
        std::string out;
        int r = large(args + " --json", &out);
        if (rc) *rc = r;
        auto j = nlohmann::json::parse(out, nullptr, false);
        EXPECT_FALSE(j.is_discarded()) << out;
        return j;
    }
    static std::vector<std::string> paths(const nlohmann::json& j) {
        std::vector<std::string> out;
        for (const auto& f : j["files"]) out.push_back(f["path"].get<std::string>());
        return out;
    }
    std::string dir() const { return roots.home() + "/Big"; }
};

TEST_F(LargeCommandTest, TheThresholdIsExactAndTheAgeFilterUsesTheLastContentChange) {
    makeSizedFile(dir() + "/exact.bin", 50000000);
    std::string above = makeSizedFile(dir() + "/above.bin", 50000001, 40 * 86400);
    std::string big = makeSizedFile(dir() + "/sub/big.iso", 2000000000, 10 * 86400);

    auto j = largeJson(quote(dir()));
    EXPECT_EQ(paths(j), (std::vector<std::string>{big, above}))
        << "largest first, 50,000,000 itself left out";
    ASSERT_EQ(j["files"].size(), 2u);
    EXPECT_EQ(j["files"][0]["size"], 2000000000);
    EXPECT_TRUE(j["files"][0]["modified"].is_string());
    EXPECT_TRUE(j["files"][0]["accessed"].is_string());
    EXPECT_EQ(j["stopped"], false);

    EXPECT_EQ(paths(largeJson("--min 50000001 " + quote(dir()))), std::vector<std::string>{big});
    EXPECT_EQ(paths(largeJson("--min=1G " + quote(dir()))), std::vector<std::string>{big});
    EXPECT_EQ(paths(largeJson("--min 2G " + quote(dir()))), std::vector<std::string>{});
    EXPECT_EQ(paths(largeJson("--age 'a month ago' " + quote(dir()))), std::vector<std::string>{above});
    EXPECT_TRUE(pathExists(above) && pathExists(big)) << "listing changes nothing";

    std::string out;
    EXPECT_EQ(large(quote(dir()), &out), 0);
    EXPECT_NE(out.find("Opened more than 1 month ago"), std::string::npos) << out;
    EXPECT_NE(out.find("2 files, 2.05 GB"), std::string::npos) << out;
}

TEST_F(LargeCommandTest, NamesThatAreNotUtf8KeepTheirBytes) {
    std::string odd = makeSizedFile(dir() + "/caf\xe9\nnew.bin", 60000000);
    auto j = largeJson(quote(dir()));
    ASSERT_EQ(j["files"].size(), 1u);
    ASSERT_TRUE(j["files"][0].contains("pathBytes"));
    std::string out;
    ASSERT_EQ(runCommand("printf %s " + quote(j["files"][0]["pathBytes"].get<std::string>()) + " | base64 -d",
                         &out),
              0);
    EXPECT_EQ(out, odd);
    EXPECT_EQ(large(quote(dir()), &out), 0);
    EXPECT_NE(out.find("caf\\xe9\\nnew.bin"), std::string::npos) << "one line on a terminal: " << out;
}

TEST_F(LargeCommandTest, TrashAndDeleteSayWhereEachFileWent) {
    std::string one = makeSizedFile(dir() + "/one.bin", 60000000);
    std::string keep = makeSizedFile(dir() + "/small.bin", 100);
    int rc = -1;
    auto j = largeJson("--trash --yes " + quote(dir()), &rc);
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(j["files"].size(), 1u);
    EXPECT_EQ(j["files"][0]["outcome"], "trashed");
    std::string trashed = j["files"][0]["trashedPath"].get<std::string>();
    EXPECT_EQ(trashed.rfind(roots.home() + "/.local/share/Trash/files/", 0), 0u) << trashed;
    EXPECT_TRUE(pathExists(trashed));
    EXPECT_FALSE(pathExists(one));
    EXPECT_TRUE(pathExists(keep));

    std::string two = makeSizedFile(dir() + "/two.bin", 70000000);
    std::string out;
    EXPECT_EQ(large("--delete " + quote(dir()), &out, "n\n"), 0);
    EXPECT_TRUE(pathExists(two)) << "answered no";
    EXPECT_EQ(large("--delete " + quote(dir()), &out, "y\n"), 0);
    EXPECT_FALSE(pathExists(two));
    EXPECT_NE(out.find("deleted: " + two), std::string::npos) << out;
    EXPECT_FALSE(pathExists(roots.home() + "/.local/share/Trash/files/two.bin"));
    EXPECT_TRUE(pathExists(keep));
}

TEST_F(LargeCommandTest, BadUsageIsRefusedBeforeAnythingIsSearched) {
    makeSizedFile(dir() + "/one.bin", 60000000);
    std::string out;
    EXPECT_EQ(large("", &out), 2);
    EXPECT_EQ(large("--trash --delete " + quote(dir()), &out), 2);
    EXPECT_EQ(large("--yes " + quote(dir()), &out), 2);
    EXPECT_EQ(large("--min 5x " + quote(dir()), &out), 2);
    EXPECT_EQ(large("--min 99999999999999999999 " + quote(dir()), &out), 2);
    EXPECT_EQ(large("--age yesterday " + quote(dir()), &out), 2);
    EXPECT_EQ(large("--bogus " + quote(dir()), &out), 2);
    EXPECT_TRUE(pathExists(dir() + "/one.bin"));
    EXPECT_EQ(large("--help", &out), 0);
    EXPECT_EQ(out.rfind("usage: halvorn large", 0), 0u);
    // A folder that is not there is skipped with a message, the others are searched.
    auto j = largeJson(quote(roots.home() + "/nowhere") + " " + quote(dir()));
    EXPECT_EQ(j["files"].size(), 1u);
}

}  // namespace
