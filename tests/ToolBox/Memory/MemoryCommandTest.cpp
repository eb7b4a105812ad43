// `halvorn memory`, run as a program over a fixture meminfo and a stand-in ClearMemory.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "MemoryFixtures.h"
#include "Support/TestRoots.h"

namespace {

using hvn::test::Meminfo;

struct ProgramRun {
    int rc = -1;
    std::string out, err;
};

class MemoryCommandTest : public hvn::test::RootsTest {
protected:
    void SetUp() override { hvn::test::writeMeminfo(roots, m); }

    ProgramRun memory(const std::string& arguments) const {
        ProgramRun r;
        const std::string errFile = roots.base() + "/stderr";
        r.rc = hvn::test::runCommand("HALVORN_LOG=quiet '" + hvn::test::cliPath() + "' memory " + arguments +
                                         " 2>'" + errFile + "' </dev/null",
                                     &r.out);
        std::ifstream in(errFile);
        r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return r;
    }

    Meminfo m;
};

TEST_F(MemoryCommandTest, PrintsTheFiguresAsTextAndAsJson) {
    ProgramRun text = memory("");
    ASSERT_EQ(text.rc, 0) << text.err;
    EXPECT_EQ(text.out,
              "Free: 1024.0 MB\nWired: 107.5 MB\nActive: 768.0 MB\nInactive: 512.0 MB\nTotal: 2.35 GB\n");

    ProgramRun json = memory("--json");
    ASSERT_EQ(json.rc, 0) << json.err;
    auto j = nlohmann::json::parse(json.out);
    EXPECT_EQ(j["free"], m.freeBytes());
    EXPECT_EQ(j["wired"], m.wiredBytes());
    EXPECT_EQ(j["active"], m.activeBytes());
    EXPECT_EQ(j["inactive"], m.inactiveBytes());
    EXPECT_EQ(j["total"], m.totalBytes());
    EXPECT_EQ(j["labels"][4], "Total: 2.35 GB");
    EXPECT_FALSE(j.contains("release")) << "nothing was released";
}

TEST_F(MemoryCommandTest, CleanRunsTheProgramAndReportsTheGain) {
    Meminfo after = m;
    after.memFree += 2048;
    const std::string next = roots.writeFile(roots.base() + "/after", hvn::test::meminfoText(after));
    const std::string marker = roots.base() + "/ran";
    hvn::test::standInClearMemory(
        roots, "echo $# > '" + marker + "'\ncp '" + next + "' '" + roots.root() + "/proc/meminfo'\n");
    ProgramRun r = memory("--clean --json");
    ASSERT_EQ(r.rc, 0) << r.err;
    auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["free"], after.freeBytes()) << "the figures after the release";
    EXPECT_EQ(j["release"]["freeBefore"], m.freeBytes());
    EXPECT_EQ(j["release"]["freeAfter"], after.freeBytes());
    EXPECT_EQ(j["release"]["gained"], 2048 * 1024);
    EXPECT_EQ(j["release"]["releaseText"], "Memory released");
    EXPECT_EQ(j["release"]["free"], "2.0 MB");
    EXPECT_EQ(j["release"]["programSucceeded"], true);
    std::ifstream ran(marker);
    std::string args;
    ran >> args;
    EXPECT_EQ(args, "0");

    // ProgramRun again: nothing more to gain.
    ProgramRun text = memory("--clean");
    ASSERT_EQ(text.rc, 0) << text.err;
    EXPECT_EQ(text.out.substr(0, text.out.find('\n')), "Memory released: optimized RAM");
}

TEST_F(MemoryCommandTest, FailuresExitOneWithTheReason) {
    // A program that fails is reported, with the figures all the same.
    hvn::test::standInClearMemory(roots, "exit 4\n");
    ProgramRun failed = memory("--clean --json");
    EXPECT_EQ(failed.rc, 1);
    auto j = nlohmann::json::parse(failed.out);
    EXPECT_EQ(j["release"]["programSucceeded"], false);
    EXPECT_EQ(j["release"]["error"], "ClearMemory exited with status 4");
    EXPECT_EQ(j["release"]["free"], "optimized RAM");

    setenv("HALVORN_BUNDLE", (roots.base() + "/Nothing.app").c_str(), 1);
    ProgramRun missing = memory("--clean");
    EXPECT_EQ(missing.rc, 1);
    EXPECT_NE(missing.err.find("ClearMemory is missing from the bundle"), std::string::npos) << missing.err;

    std::remove((roots.root() + "/proc/meminfo").c_str());
    ProgramRun unreadable = memory("");
    EXPECT_EQ(unreadable.rc, 1);
    EXPECT_EQ(unreadable.out, "");
    EXPECT_NE(unreadable.err.find("cannot read the memory statistics"), std::string::npos);

    ProgramRun usage = memory("--bogus");
    EXPECT_EQ(usage.rc, 2);
    ProgramRun help = memory("--help");
    EXPECT_EQ(help.rc, 0);
    EXPECT_EQ(help.out.rfind("usage: halvorn memory [--clean] [--json]\n", 0), 0u);
}

}  // namespace
