// The `halvorn dupes` command, run as a program over generated folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "DuplicateFixtures.h"
#include "DuplicateTestSupport.h"
#include "Platform/Crypto.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;
using dupes_test::pathExists;
using dupes_test::pattern;
using dupes_test::setYear;
using hvn::test::RootsTest;

namespace {

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

class DupesCommand : public RootsTest {
protected:
    std::string dir() const { return roots.base() + "/d"; }
    std::string put(const std::string& rel, const std::string& contents) const {
        return roots.writeFile(dir() + "/" + rel, contents);
    }
    int run(const std::string& args, std::string* out) const {
        return hvn::test::runCommand(quoted(hvn::test::cliPath()) + " dupes " + args + " 2>/dev/null", out);
    }
    // With standard input from /dev/null: no terminal, no answer.
    int runWithoutInput(const std::string& args, std::string* out) const {
        return run(args + " </dev/null", out);
    }
    // With one line of standard input.
    int runAnswering(const std::string& answer, const std::string& args, std::string* out) const {
        return hvn::test::runCommand("printf '%s\\n' " + quoted(answer) + " | " +
                                         quoted(hvn::test::cliPath()) + " dupes " + args + " 2>/dev/null",
                                     out);
    }
    // The 2010/2012/2014 copies of one content.
    void makeCopies() {
        const std::string three = pattern(6000, 7);
        c2014 = put("c/late", three);
        c2010 = put("a/early", three);
        c2012 = put("b/middle", three);
        setYear(c2014, 2014);
        setYear(c2010, 2010);
        setYear(c2012, 2012);
    }
    std::string trash() const { return roots.home() + "/.local/share/Trash"; }
    std::string c2010, c2012, c2014;
};

TEST_F(DupesCommand, JsonListsGroupsLargestWasteFirst) {
    const std::string small = pattern(3000, 1);
    const std::string big = pattern(50000, 2);
    auto s1 = put("s1", small);
    auto s2 = put("x/s2", small);
    auto s3 = put("y/s3", small);  // 2 x 3000 to gain
    auto b1 = put("b1", big);
    auto b2 = put("b2", big);  // 50000 to gain
    put("unique", pattern(3000, 3));
    put(".hid/b3", big);

    std::string out;
    ASSERT_EQ(run(quoted(dir()) + " --json", &out), 0);
    auto doc = nlohmann::json::parse(out);
    ASSERT_EQ(doc["groups"].size(), 2u);
    EXPECT_EQ(doc["stopped"], false);
    const auto& first = doc["groups"][0];
    EXPECT_EQ(first["size"], 50000);
    EXPECT_EQ(first["hash"], hvn::Crypto::digestHex(hvn::Crypto::Digest::SHA256, big.data(), big.size()));
    EXPECT_EQ(first["files"], (nlohmann::json{b1, b2}));
    EXPECT_FALSE(first.contains("filesBytes"));
    EXPECT_EQ(doc["groups"][1]["files"], (nlohmann::json{s1, s2, s3}));

    // --hidden takes the hidden copy in; --min leaves the small group out.
    ASSERT_EQ(run(quoted(dir()) + " --json --hidden --min 10K", &out), 0);
    doc = nlohmann::json::parse(out);
    ASSERT_EQ(doc["groups"].size(), 1u);
    EXPECT_EQ(doc["groups"][0]["files"].size(), 3u);
}

TEST_F(DupesCommand, PathsThatAreNotUtf8CarryTheirBytes) {
    const std::string content = pattern(2000, 4);
    auto good = put("good", content);
    auto bad = put("bad\xff", content);
    std::string out;
    ASSERT_EQ(run(quoted(dir()) + " --json", &out), 0);
    auto doc = nlohmann::json::parse(out);
    ASSERT_EQ(doc["groups"].size(), 1u);
    const auto& g = doc["groups"][0];
    ASSERT_TRUE(g.contains("filesBytes"));
    ASSERT_EQ(g["filesBytes"].size(), 2u);
    // Sorted by bytes: "bad\xff" before "good".
    EXPECT_TRUE(g["filesBytes"][1].is_null());
    const std::string b64 = g["filesBytes"][0];
    EXPECT_FALSE(b64.empty());
    EXPECT_EQ(g["files"][1], good);
    (void)bad;
}

TEST_F(DupesCommand, TextListingUsageAndBadFolders) {
    const std::string content = pattern(4000, 5);
    auto a = put("a", content);
    auto b = put("new\nline", content);
    std::string out;
    ASSERT_EQ(run(quoted(dir()), &out), 0);
    EXPECT_NE(out.find("2 files of"), std::string::npos) << out;
    EXPECT_NE(out.find("  " + a + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find(dir() + "/new\\nline\n"), std::string::npos) << out;  // one line per name
    EXPECT_NE(out.find("1 group, 1 duplicate file"), std::string::npos) << out;
    (void)b;

    ASSERT_EQ(run(quoted(roots.base() + "/empty-dir-missing"), &out), 1);
    fs::create_directories(roots.base() + "/nothing");
    ASSERT_EQ(run(quoted(roots.base() + "/nothing"), &out), 0);
    EXPECT_NE(out.find("No duplicate files found."), std::string::npos);

    // A folder given as a symbolic link is not followed.
    fs::create_symlink(dir(), roots.base() + "/link");
    EXPECT_EQ(run(quoted(roots.base() + "/link"), &out), 1);

    EXPECT_EQ(run("", &out), 2);
    EXPECT_EQ(run(quoted(dir()) + " --min", &out), 2);
    EXPECT_EQ(run(quoted(dir()) + " --min lots", &out), 2);
    EXPECT_EQ(run(quoted(dir()) + " --remove", &out), 2);
    EXPECT_EQ(run(quoted(dir()) + " --yes", &out), 2) << "--yes goes with a removal";
    EXPECT_EQ(run(quoted(dir()) + " --trash --delete", &out), 2);
    ASSERT_EQ(run("--help", &out), 0);
    EXPECT_NE(out.find("usage: halvorn dupes FOLDER..."), std::string::npos);
    EXPECT_NE(out.find("--trash"), std::string::npos);
    EXPECT_NE(out.find("--delete"), std::string::npos);
    EXPECT_TRUE(pathExists(a) && pathExists(b)) << "listing changes nothing";
}

TEST_F(DupesCommand, TrashKeepsTheOldestCopyAndSaysWhereTheOthersWent) {
    makeCopies();
    std::string out;
    ASSERT_EQ(run(quoted(dir()) + " --trash --yes --json", &out), 0) << out;
    auto doc = nlohmann::json::parse(out);
    ASSERT_EQ(doc["groups"].size(), 1u);
    const auto& g = doc["groups"][0];
    EXPECT_EQ(g["files"].size(), 3u) << "the listing keeps its shape";
    EXPECT_EQ(g["kept"], c2010);
    ASSERT_EQ(g["removed"].size(), 2u);
    EXPECT_TRUE(pathExists(c2010));
    for (const auto& r : g["removed"]) {
        EXPECT_EQ(r["outcome"], "trashed") << r.dump();
        const std::string to = r["trashedPath"];
        EXPECT_EQ(to.rfind(trash() + "/files/", 0), 0u) << to;
        EXPECT_TRUE(pathExists(to));
        EXPECT_FALSE(pathExists(r["path"].get<std::string>()));
        const std::string info = trash() + "/info/" + to.substr(to.rfind('/') + 1) + ".trashinfo";
        EXPECT_TRUE(pathExists(info)) << info;
    }

    // Text output: one line per file.
    makeCopies();
    ASSERT_EQ(run(quoted(dir()) + " --trash --yes", &out), 0) << out;
    EXPECT_NE(out.find("  kept: " + c2010 + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  moved to the trash: " + c2012 + " (as " + trash() + "/files/"), std::string::npos)
        << out;
    EXPECT_NE(out.find("Moved to the trash 2 duplicate files ("), std::string::npos) << out;
}

TEST_F(DupesCommand, DeleteRemovesForGoodAndKeepsTheOldestCopy) {
    makeCopies();
    std::string out;
    ASSERT_EQ(run(quoted(dir()) + " --delete --yes --json", &out), 0) << out;
    auto doc = nlohmann::json::parse(out);
    const auto& g = doc["groups"][0];
    EXPECT_EQ(g["kept"], c2010);
    for (const auto& r : g["removed"]) EXPECT_EQ(r["outcome"], "deleted") << r.dump();
    EXPECT_TRUE(pathExists(c2010));
    EXPECT_FALSE(pathExists(c2012));
    EXPECT_FALSE(pathExists(c2014));
    EXPECT_FALSE(pathExists(trash() + "/files"));
}

TEST_F(DupesCommand, WithoutYesAndNoAnswerNothingIsRemoved) {
    makeCopies();
    std::string out;
    EXPECT_EQ(runWithoutInput(quoted(dir()) + " --delete", &out), 0);
    EXPECT_TRUE(pathExists(c2010) && pathExists(c2012) && pathExists(c2014));
    EXPECT_NE(out.find("keep    " + c2010), std::string::npos) << "what would go is shown first: " << out;
    EXPECT_EQ(runWithoutInput(quoted(dir()) + " --trash --json", &out), 0);
    auto doc = nlohmann::json::parse(out);
    EXPECT_FALSE(doc["groups"][0].contains("removed"));
    EXPECT_TRUE(pathExists(c2012) && pathExists(c2014));
    EXPECT_FALSE(pathExists(trash() + "/files"));

    EXPECT_EQ(runAnswering("n", "--trash " + quoted(dir()), &out), 0);
    EXPECT_TRUE(pathExists(c2012));
    // A "y" on standard input is an answer.
    EXPECT_EQ(runAnswering("y", "--trash " + quoted(dir()), &out), 0);
    EXPECT_TRUE(pathExists(c2010));
    EXPECT_FALSE(pathExists(c2012));
    EXPECT_FALSE(pathExists(c2014));
}

}  // namespace
