#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "Platform/FileManager.h"
#include "Platform/Process.h"
#include "Platform/PropertyList.h"
#include "Platform/RemovalBatch.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;
using hvn::RemovalStatus;
namespace batch = hvn::RemovalBatch;

namespace {

TEST(RemovalBatchTest, AnyPathCrossesUnchangedAndMalformedBatchesAreRejected) {
    std::vector<batch::Request> requests{{"/a/new\nline", hvn::FileIdentity{66306, 1234567}},
                                         {"/b/bad\xff name", std::nullopt},
                                         {"", std::nullopt}};
    auto back = batch::decodeRequests(batch::encodeRequests(requests));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 3u);
    EXPECT_EQ((*back)[0].path, "/a/new\nline");
    EXPECT_EQ((*back)[0].foundIn, (hvn::FileIdentity{66306, 1234567}));
    EXPECT_EQ((*back)[1].path, "/b/bad\xff name");
    EXPECT_FALSE((*back)[1].foundIn);

    std::vector<batch::Outcome> outcomes{{"/x", RemovalStatus::Refused, "Refusing to remove /x: why"},
                                         {"/y", RemovalStatus::Removed, ""}};
    auto again = batch::decodeOutcomes(batch::encodeOutcomes(outcomes));
    ASSERT_TRUE(again);
    EXPECT_EQ((*again)[0].status, RemovalStatus::Refused);
    EXPECT_EQ((*again)[0].reason, "Refusing to remove /x: why");

    using namespace std::string_literals;
    for (const std::string& bad : {"-\0/path"s, "-\0"s, "12:x\0/p\0"s, "1:2:3\0/p\0"s, ":\0/p\0"s,
                                   "99999999999999999999999:1\0/p\0"s}) {
        EXPECT_FALSE(batch::decodeRequests(bad)) << bad;
    }
    EXPECT_FALSE(batch::decodeOutcomes("gone\0/p\0\0"s));
    EXPECT_TRUE(batch::decodeRequests("")->empty());
}

class RemovalHelperTest : public hvn::test::RootsTest {
protected:
    std::string h(const std::string& sub) const { return roots.home() + "/" + sub; }
    hvn::ProcessResult runHelper(const std::string& input) const {
        hvn::ProcessOptions o;
        o.standardInput = input;
        return hvn::Process::run(hvn::test::bundlePath() + "/Contents/MacOS/HVNRemove",
                                 {"--home", roots.home(), "--root", roots.root()}, o);
    }
};

// The helper runs as root: it must judge every path as the program does, for the user's roots.
TEST_F(RemovalHelperTest, TheHelperRemovesOnlyWhatTheGateAdmits) {
    std::string junk = roots.writeFile(h(".cache/app/junk"), "j");
    std::string letter = roots.writeFile(h("Documents/letter"), "dear");
    fs::create_symlink(roots.home(), h(".cache/home-link"));
    std::string sys = roots.writeFile(roots.root() + "/Library/Caches/c", "c");
    std::vector<batch::Request> requests{
        {"Documents", std::nullopt},                      // relative: not the working folder's
        {h(".cache/../Documents"), std::nullopt},         // dot-dot
        {h(".cache/home-link/Documents"), std::nullopt},  // through a link
        {h("Documents"), std::nullopt},                   // directly in the home folder
        {roots.root() + "/Library", std::nullopt},        // directly in the system root
        {h(".cache/app"), std::nullopt},
        {h(".cache/never-there"), std::nullopt},
    };
    hvn::ProcessResult r = runHelper(batch::encodeRequests(requests));
    ASSERT_TRUE(r.succeeded()) << r.errorOutput;
    auto outcomes = batch::decodeOutcomes(r.output);
    ASSERT_TRUE(outcomes) << r.output;
    ASSERT_EQ(outcomes->size(), requests.size());
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ((*outcomes)[i].status, RemovalStatus::Refused) << requests[i].path;
        EXPECT_FALSE((*outcomes)[i].reason.empty());
    }
    EXPECT_EQ((*outcomes)[5].status, RemovalStatus::Removed);
    EXPECT_EQ((*outcomes)[6].status, RemovalStatus::Missing);
    EXPECT_FALSE(fs::exists(junk));
    EXPECT_EQ(hvn::readWholeFile(letter), "dear");
    EXPECT_EQ(hvn::readWholeFile(sys), "c");
}

TEST_F(RemovalHelperTest, AMalformedBatchRemovesNothing) {
    std::string junk = roots.writeFile(h(".cache/app/junk"), "j");
    std::string input = batch::encodeRequests({{h(".cache/app"), std::nullopt}});
    input.pop_back();  // the last field is cut short
    hvn::ProcessResult r = runHelper(input);
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_TRUE(fs::exists(junk));
    hvn::ProcessResult noRoots = hvn::Process::run(hvn::test::bundlePath() + "/Contents/MacOS/HVNRemove", {});
    EXPECT_EQ(noRoots.exitStatus, 2);
}

}  // namespace
