#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "HVN/Code/Clearer/FMDB/FMDatabase.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;

namespace {

class ScanFileCommandTest : public hvn::test::RootsTest {
protected:
    // Runs "halvorn scan-file ARGS" (standard error dropped unless asked for).
    int scan(const std::string& args, std::string* out = nullptr, bool withErrors = false) {
        std::string output;
        int rc = hvn::test::runCommand("cd '" + roots.base() + "' && HALVORN_LOG=quiet " + hvn::test::cliPath() +
                                           " scan-file " + args + (withErrors ? " 2>&1" : " 2>/dev/null"),
                                       &output);
        if (out) *out = output;
        return rc;
    }
    std::string put(const std::string& name, const std::string& contents) {
        return roots.writeFile(roots.base() + "/" + name, contents);
    }
};

}  // namespace

TEST_F(ScanFileCommandTest, TextLinesAndExitStatusWithTheShippedSignatures) {
    put("a.bin", "HALVORN-TEST-SIGNATURE-A:not-a-virus\n");
    put("clean.txt", "hello\n");
    fs::create_directory(roots.base() + "/dir");
    std::string out;
    EXPECT_EQ(scan("a.bin clean.txt dir missing", &out), 1);
    EXPECT_EQ(out,
              "a.bin: Halvorn-Test-Signature-A\n"
              "clean.txt: clean\n"
              "dir: DIR\n"
              "missing: not found\n");
    EXPECT_EQ(scan("clean.txt dir missing", &out), 0);
    // A name that would break the line is escaped; "--" ends the options.
    put("-odd\nname", "x");
    EXPECT_EQ(scan("-- '-odd\nname'", &out), 0);
    EXPECT_EQ(out, "-odd\\nname: clean\n");
}

TEST_F(ScanFileCommandTest, JsonGivesTheAnswerAndTheBytesOfNamesThatAreNotUtf8) {
    put("a.bin", "HALVORN-TEST-SIGNATURE-A:not-a-virus\n");
    put("bad\xff", "x");
    std::string out;
    EXPECT_EQ(scan("--json a.bin \"$(printf 'bad\\377')\" missing .", &out), 1);
    auto j = nlohmann::json::parse(out, nullptr, false);
    ASSERT_TRUE(j.is_array()) << out;
    ASSERT_EQ(j.size(), 4u);
    EXPECT_EQ(j[0]["path"], "a.bin");
    EXPECT_EQ(j[0]["result"], "Halvorn-Test-Signature-A");
    EXPECT_FALSE(j[0].contains("pathBytes"));
    EXPECT_EQ(j[1]["result"], "");
    EXPECT_EQ(j[1]["pathBytes"], "YmFk/w==");
    EXPECT_TRUE(j[2]["result"].is_null());
    EXPECT_EQ(j[3]["result"], "DIR");
}

TEST_F(ScanFileCommandTest, AnotherSignatureDatabaseAndBadUsage) {
    const std::string db = roots.base() + "/mine.db";
    {
        FMDatabase d(db);
        ASSERT_TRUE(d.open());
        ASSERT_TRUE(d.executeUpdate("CREATE TABLE HVN_VIRUS_CODE (auto_id INTEGER PRIMARY KEY, virus_name TEXT, "
                                    "virus_code BLOB, start_index INTEGER, bytes INTEGER)"));
        ASSERT_TRUE(d.executeUpdate("INSERT INTO HVN_VIRUS_CODE (virus_name, virus_code, start_index, bytes) "
                                    "VALUES ('Mine', X'6869', 1, 2)"));
        d.close();
    }
    put("f", "xhi!");
    std::string out;
    EXPECT_EQ(scan("--signatures mine.db f", &out), 1);
    EXPECT_EQ(out, "f: Mine\n");
    // The shipped signatures do not know it.
    EXPECT_EQ(scan("f", &out), 0);

    EXPECT_EQ(scan("", &out, true), 2);
    EXPECT_NE(out.find("missing PATH"), std::string::npos);
    EXPECT_EQ(scan("--frobnicate f", &out, true), 2);
    EXPECT_EQ(scan("--signatures", &out, true), 2);
    EXPECT_EQ(scan("--signatures none.db f", &out, true), 2);
    EXPECT_EQ(scan("--help", &out), 0);
    EXPECT_NE(out.find("usage: halvorn scan-file"), std::string::npos);
}
