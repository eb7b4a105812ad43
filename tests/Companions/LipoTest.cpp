// The bundle's lipo companion, run as a program.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "Support/MachOFixtures.h"
#include "Support/TestRoots.h"

using namespace hvn::test;

namespace {

const std::string kLipo = std::string(HALVORN_TEST_BUNDLE) + "/Contents/MacOS/lipo";

struct LipoRun {
    int status = -1;
    std::string out, err;
};

class LipoCompanionTest : public RootsTest {
protected:
    // Runs the companion with the arguments (already shell-quoted where needed).
    LipoRun lipo(const std::string& arguments) const {
        LipoRun r;
        const std::string errFile = roots.base() + "/stderr";
        r.status = runCommand("'" + kLipo + "' " + arguments + " 2>'" + errFile + "'", &r.out);
        r.err = fileBytes(errFile);
        return r;
    }
    std::string file(const std::string& name) const { return roots.home() + "/" + name; }
};

TEST_F(LipoCompanionTest, HelpPrintsTheUsage) {
    for (const char* flag : {"--help", "-help", "-h"}) {
        LipoRun r = lipo(flag);
        EXPECT_EQ(r.status, 0) << flag;
        EXPECT_EQ(r.out.rfind("usage: lipo INPUT -thin ARCH -output OUTPUT\n", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("-archs"), std::string::npos);
    }
}

TEST_F(LipoCompanionTest, ArchsAndInfoNameEverySliceInEitherArgumentOrder) {
    writeBinary(file("fat"), fatMachO({{kCpuI386, 3, thinMachO(kCpuI386), 12},
                                       {kCpuX86_64, 3, thinMachO(kCpuX86_64), 12},
                                       {kCpuArm64, int32_t(0x80000002), thinMachO(kCpuArm64), 14},
                                       {77, 4, thinMachO(77), 12}},
                                      true));
    writeBinary(file("thin"), thinMachO(kCpuPpc, 0, 100, false, true));
    for (const std::string& args : {"-archs " + file("fat"), file("fat") + " -archs"}) {
        LipoRun r = lipo(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "i386 x86_64 arm64e unknown(77,4)\n");
    }
    EXPECT_EQ(lipo("-archs " + file("thin")).out, "ppc\n");
    LipoRun info = lipo("-info " + file("fat") + " " + file("thin"));
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out, "Architectures in the fat file: " + file("fat") +
                            " are: i386 x86_64 arm64e unknown(77,4)\n" + "Non-fat file: " + file("thin") +
                            " is architecture: ppc\n");
}

TEST_F(LipoCompanionTest, ThinWritesTheSliceAndKeepsTheMode) {
    const std::string input = writeBinary(file("App"), fatOf({kCpuPpc, kCpuI386, kCpuX86_64}), 0711);
    LipoRun r = lipo(input + " -thin i386 -output " + file("out"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(fileBytes(file("out")), sliceOf(kCpuI386));
    struct stat st {};
    ASSERT_EQ(::stat(file("out").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0711u);
    // In place, options before the input.
    r = lipo("-thin x86_64 -output " + input + " " + input);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fileBytes(input), sliceOf(kCpuX86_64));
}

TEST_F(LipoCompanionTest, ErrorsExitNonZeroWithAMessageAndWriteNothing) {
    const std::string input = writeBinary(file("App"), fatOf({kCpuI386, kCpuX86_64}));
    writeBinary(file("text"), "plain text, no header");
    struct Case {
        std::string arguments, message;
    };
    for (const Case& c : {
             Case{"", "no operation given"},
             Case{input, "no operation given"},
             Case{input + " -thin", "missing argument to -thin"},
             Case{input + " -thin i386", "-thin needs -output"},
             Case{"-thin i386 -output " + file("out"), "exactly one input"},
             Case{input + " " + input + " -thin i386 -output " + file("out"), "exactly one input"},
             Case{input + " -thin i386 -archs", "only one operation"},
             Case{input + " -thin sparc -output " + file("out"), "unknown architecture name: sparc"},
             Case{input + " -thin ppc -output " + file("out"), "does not contain the architecture ppc"},
             Case{file("text") + " -thin i386 -output " + file("out"), "not a Mach-O file"},
             Case{"-archs " + file("missing"), file("missing") + ": No such file"},
             Case{"-archs", "exactly one input"},
             Case{"-info " + file("text"), "not a Mach-O file"},
             Case{"-frobnicate " + input, "unknown option -frobnicate"},
         }) {
        LipoRun r = lipo(c.arguments);
        EXPECT_NE(r.status, 0) << c.arguments;
        EXPECT_EQ(r.err.rfind("lipo: ", 0), 0u) << c.arguments << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.arguments << ": " << r.err;
        EXPECT_FALSE(pathExists(file("out"))) << c.arguments;
    }
    EXPECT_EQ(fileBytes(input), fatOf({kCpuI386, kCpuX86_64}));
}

}  // namespace
