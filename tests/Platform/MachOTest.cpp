#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Platform/MachO.h"
#include "Support/MachOFixtures.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;
namespace MachO = hvn::MachO;
using namespace hvn::test;

namespace {

std::optional<MachO::Header> parse(const std::string& bytes, std::string* error = nullptr) {
    return MachO::parseHeader(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), bytes.size(),
                              error);
}

struct stat statOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

class MachOTest : public RootsTest {
protected:
    std::string dir() const { return roots.home() + "/work"; }
    std::string file(const std::string& name) const { return dir() + "/" + name; }
};

TEST(MachOHeader, UniversalFilesInEveryLayoutListTheirSlicesInOrder) {
    const std::string a = thinMachO(kCpuI386, 3, 300);
    const std::string b = thinMachO(kCpuX86_64, 3, 5000);
    for (bool fat64 : {false, true}) {
        for (bool swapped : {false, true}) {
            SCOPED_TRACE(std::string(fat64 ? "fat64" : "fat") + (swapped ? " swapped" : ""));
            const std::string bytes =
                fatMachO({{kCpuI386, 3, a, 12}, {kCpuX86_64, 3, b, 14}}, fat64, swapped);
            std::string error;
            auto h = parse(bytes, &error);
            ASSERT_TRUE(h) << error;
            EXPECT_EQ(h->kind, fat64 ? MachO::Kind::Fat64 : MachO::Kind::Fat);
            EXPECT_EQ(h->swapped, swapped);
            ASSERT_EQ(h->slices.size(), 2u);
            EXPECT_EQ(h->slices[0].cputype, kCpuI386);
            EXPECT_EQ(h->slices[0].offset, 4096u);
            EXPECT_EQ(h->slices[0].size, 300u);
            EXPECT_EQ(h->slices[0].align, 12u);
            EXPECT_EQ(h->slices[1].cputype, kCpuX86_64);
            EXPECT_EQ(h->slices[1].offset, 16384u);
            EXPECT_EQ(h->slices[1].size, 5000u);
            EXPECT_EQ(h->slices[1].align, 14u);
            EXPECT_EQ(bytes.substr(h->slices[1].offset, h->slices[1].size), b);
            EXPECT_EQ(h->cpuTypes(), (std::vector<int32_t>{kCpuI386, kCpuX86_64}));
        }
    }
}

TEST(MachOHeader, ThinImagesAreOneWholeFileSliceInEitherByteOrder) {
    struct Case {
        int32_t cputype;
        bool is64, bigEndian;
    };
    for (const Case& c : {Case{kCpuX86_64, true, false}, Case{kCpuI386, false, false},
                          Case{kCpuPpc, false, true}, Case{kCpuPpc64, true, true}}) {
        const std::string bytes = thinMachO(c.cputype, 0x80000002, 777, c.is64, c.bigEndian);
        std::string error;
        auto h = parse(bytes, &error);
        ASSERT_TRUE(h) << error;
        EXPECT_EQ(h->kind, MachO::Kind::Thin);
        EXPECT_EQ(h->is64, c.is64);
        EXPECT_EQ(h->swapped, c.bigEndian);
        ASSERT_EQ(h->slices.size(), 1u);
        EXPECT_EQ(h->slices[0].cputype, c.cputype);
        EXPECT_EQ(h->slices[0].cpusubtype, static_cast<int32_t>(0x80000002));
        EXPECT_EQ(h->slices[0].offset, 0u);
        EXPECT_EQ(h->slices[0].size, 777u);
    }
}

TEST(MachOHeader, MalformedInputIsAnErrorNamingTheFault) {
    const std::string slice = thinMachO(kCpuX86_64, 3, 64);
    struct Case {
        const char* what;
        std::string bytes;
        const char* error;
    };
    std::string java = rawWords({0xCAFEBABE, 0x00000034, 0x00100020});  // class file, major version 52
    std::string beyond = rawWords({0xCAFEBABE, 1, kCpuX86_64, 3, 4096, 100, 12});
    beyond.resize(4096 + 50, '\0');
    std::string misaligned = rawWords({0xCAFEBABE, 1, kCpuX86_64, 3, 4100, 10, 12});
    misaligned.resize(4200, '\0');
    std::string bigAlign = rawWords({0xCAFEBABE, 1, kCpuX86_64, 3, 65536 * 2, 10, 16});
    bigAlign.resize(65536 * 2 + 10, '\0');
    std::string overlap = rawWords({0xCAFEBABE, 2, kCpuI386, 3, 0, 10, 0, kCpuX86_64, 3, 4096, 10, 12});
    overlap.resize(4106, '\0');
    std::string offsetOverflow =
        rawWords({0xCAFEBABF, 1, kCpuX86_64, 3, 0xFFFFFFFF, 0xFFFFF000, 0, 0x2000, 12, 0});
    offsetOverflow.resize(8192, '\0');
    std::string tooMany = rawWords({0xCAFEBABF, 43});
    tooMany.resize(8 + 43 * 32, '\0');
    const Case cases[] = {
        {"empty", "", "too short"},
        {"three bytes", "\xCA\xFE\xBA", "too short"},
        {"text", "#!/bin/sh\necho hello\n", "not a Mach-O file"},
        {"fat magic alone", rawWords({0xCAFEBABE}), "truncated fat header"},
        {"count without entries", rawWords({0xCAFEBABE, 2, kCpuI386, 3, 4096}), "truncated fat header"},
        {"no architectures", rawWords({0xCAFEBABE, 0}), "no architectures"},
        {"java class", java, "Java class"},
        {"too many 64-bit entries", tooMany, "too many architectures"},
        {"slice beyond the end", beyond, "extends beyond the end"},
        {"offset + size overflows", offsetOverflow, "extends beyond the end"},
        {"misaligned offset", misaligned, "not aligned"},
        {"alignment above 2^15", bigAlign, "above 2^15"},
        {"slice over the header", overlap, "overlaps the universal header"},
        {"duplicate masked subtype",
         fatMachO({{kCpuX86_64, 3, slice, 12}, {kCpuX86_64, int32_t(0x80000003), slice, 12}}),
         "x86_64 twice"},
        {"thin header cut short", thinMachO(kCpuX86_64, 3, 32).substr(0, 20), "truncated Mach-O header"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(parse(c.bytes, &error)) << c.what;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
    }
    // Same CPU type with other subtypes is no duplicate.
    EXPECT_TRUE(parse(fatMachO({{kCpuX86_64, 3, slice, 12}, {kCpuX86_64, 8, slice, 12}})));
}

TEST(MachOHeader, FileSizeBoundsTheSlicesEvenWhenMoreBytesAreGiven) {
    const std::string bytes = fatOf({kCpuI386, kCpuX86_64}, 100);
    auto whole =
        MachO::parseHeader(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), bytes.size());
    ASSERT_TRUE(whole);
    std::string error;
    EXPECT_FALSE(MachO::parseHeader(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                    bytes.size() - 1, &error));
    EXPECT_NE(error.find("slice 1 (x86_64) extends beyond"), std::string::npos) << error;
}

TEST(MachONames, TableWorksBothWaysAndUnknownTypesAreSpelledOut) {
    const std::pair<const char*, int32_t> table[] = {
        {"i386", 7},           {"x86_64", 0x01000007},  {"ppc", 18}, {"ppc64", 0x01000012}, {"arm", 12},
        {"arm64", 0x0100000C}, {"arm64_32", 0x0200000C}};
    for (const auto& [name, type] : table) {
        EXPECT_EQ(MachO::cpuTypeNamed(name), type) << name;
        EXPECT_EQ(MachO::nameOf(type, 0), name);
    }
    EXPECT_EQ(MachO::nameOf(0x01000007, 8), "x86_64h");
    EXPECT_EQ(MachO::nameOf(0x0100000C, int32_t(0x80000002)), "arm64e");  // capability bits ignored
    EXPECT_EQ(MachO::nameOf(99, 5), "unknown(99,5)");
    EXPECT_FALSE(MachO::cpuTypeNamed("X86_64"));
    EXPECT_FALSE(MachO::cpuTypeNamed("aarch64"));
    EXPECT_FALSE(MachO::cpuTypeNamed(""));
}

TEST(MachONames, ThinningNamePrefersTheExactSliceThenTheFamily) {
    const std::string s = thinMachO(kCpuX86_64, 3, 64);
    auto both = parse(fatMachO({{kCpuX86_64, 8, s, 12}, {kCpuX86_64, 3, s, 12}, {kCpuI386, 3, s, 12}}));
    ASSERT_TRUE(both);
    EXPECT_EQ(MachO::sliceNamed(*both, "x86_64")->cpusubtype, 3);
    EXPECT_EQ(MachO::sliceNamed(*both, "x86_64h")->cpusubtype, 8);
    auto onlyH = parse(fatMachO({{kCpuX86_64, 8, s, 12}, {kCpuI386, 3, s, 12}}));
    ASSERT_TRUE(onlyH);
    EXPECT_EQ(MachO::sliceNamed(*onlyH, "x86_64")->cpusubtype, 8);
    EXPECT_FALSE(MachO::sliceNamed(*onlyH, "arm64"));
    auto plain = parse(fatMachO({{kCpuX86_64, 3, s, 12}}));
    EXPECT_FALSE(MachO::sliceNamed(*plain, "x86_64h"));  // a subtype name needs that subtype
    EXPECT_FALSE(MachO::sliceNamed(*plain, "nonsense"));
}

TEST_F(MachOTest, ReadHeaderNamesThePathOfWhatCannotBeRead) {
    std::string error;
    EXPECT_FALSE(MachO::readHeader(file("missing"), &error));
    EXPECT_EQ(error.rfind(file("missing") + ": ", 0), 0u) << error;
    roots.makeDir(file("folder"));
    EXPECT_FALSE(MachO::readHeader(file("folder"), &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    writeBinary(file("fat"), fatOf({kCpuPpc, kCpuI386}));
    auto h = MachO::readHeader(file("fat"), &error);
    ASSERT_TRUE(h) << error;
    EXPECT_EQ(h->cpuTypes(), (std::vector<int32_t>{kCpuPpc, kCpuI386}));
}

TEST_F(MachOTest, ThinWritesExactlyTheSliceKeepingModeOwnerAndTimes) {
    // A slice larger than the copy buffer, so the copy goes round more than once.
    const std::string big = thinMachO(kCpuX86_64, 3, 3 * 1024 * 1024 + 17);
    const std::string small = thinMachO(kCpuI386, 3, 1000);
    const std::string input =
        writeBinary(file("App"), fatMachO({{kCpuI386, 3, small, 12}, {kCpuX86_64, 3, big, 14}}, true), 04751);
    ASSERT_EQ(::chown(input.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(input.c_str(), 04751), 0);  // chown cleared the set-user-ID bit
    const timespec times[2] = {{1000000000, 5}, {1200000000, 7}};
    ASSERT_EQ(::utimensat(AT_FDCWD, input.c_str(), times, 0), 0);

    std::string error;
    ASSERT_TRUE(MachO::thin(input, "x86_64", file("out"), &error)) << error;
    EXPECT_EQ(fileBytes(file("out")), big);
    struct stat st = statOf(file("out"));
    EXPECT_EQ(st.st_mode & 07777, 04751u);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 7);
    ASSERT_TRUE(MachO::thin(input, "i386", file("out"), &error)) << error;  // replaces an existing output
    EXPECT_EQ(fileBytes(file("out")), small);
    EXPECT_EQ(folderNames(dir()), (std::vector<std::string>{"App", "out"}));
}

TEST_F(MachOTest, ThinInPlaceAndOfAThinFile) {
    const std::string fat = fatOf({kCpuI386, kCpuX86_64, kCpuPpc});
    const std::string input = writeBinary(file("App"), fat, 0750);
    std::string error;
    ASSERT_TRUE(MachO::thin(input, "x86_64", input, &error)) << error;
    EXPECT_EQ(fileBytes(input), sliceOf(kCpuX86_64));
    EXPECT_EQ(statOf(input).st_mode & 07777, 0750u);
    // Now thin: the same architecture copies it whole, another is not there.
    ASSERT_TRUE(MachO::thin(input, "x86_64", file("copy"), &error)) << error;
    EXPECT_EQ(fileBytes(file("copy")), sliceOf(kCpuX86_64));
    EXPECT_FALSE(MachO::thin(input, "i386", file("copy"), &error));
    EXPECT_NE(error.find("does not contain the architecture i386"), std::string::npos) << error;
}

TEST_F(MachOTest, AFailedThinLeavesTheOutputAndTheFolderAsTheyWere) {
    const std::string input = writeBinary(file("App"), fatOf({kCpuI386, kCpuX86_64}));
    writeBinary(file("out"), "previous contents", 0640);
    writeBinary(file("junk"), "not mach-o at all", 0644);
    std::string bad = fatOf({kCpuI386, kCpuX86_64});
    writeBinary(file("cut"), bad.substr(0, bad.size() - 1));  // last slice runs past the end
    struct Case {
        std::string input, arch, expect;
    };
    for (const Case& c :
         {Case{input, "ppc", "does not contain"}, Case{input, "pentium", "unknown architecture"},
          Case{file("junk"), "x86_64", "not a Mach-O file"}, Case{file("cut"), "x86_64", "beyond"},
          Case{file("gone"), "x86_64", "No such file"}}) {
        std::string error;
        EXPECT_FALSE(MachO::thin(c.input, c.arch, file("out"), &error)) << c.input << " " << c.arch;
        EXPECT_NE(error.find(c.expect), std::string::npos) << error;
        EXPECT_EQ(fileBytes(file("out")), "previous contents");
        EXPECT_EQ(statOf(file("out")).st_mode & 07777, 0640u);
    }
    // An input thinned over itself that fails stays whole.
    std::string error;
    EXPECT_FALSE(MachO::thin(input, "ppc64", input, &error));
    EXPECT_EQ(fileBytes(input), fatOf({kCpuI386, kCpuX86_64}));
    // An output where no file can be made (a folder, a missing folder).
    roots.makeDir(file("dir"));
    EXPECT_FALSE(MachO::thin(input, "i386", file("dir"), &error));
    EXPECT_TRUE(fs::is_directory(file("dir")));
    EXPECT_FALSE(MachO::thin(input, "i386", file("nowhere/out"), &error));
    EXPECT_NE(error.find("cannot create a file in " + file("nowhere")), std::string::npos) << error;
    EXPECT_EQ(folderNames(dir()), (std::vector<std::string>{"App", "cut", "dir", "junk", "out"}));
}

TEST_F(MachOTest, AnOutputLinkIsReplacedAndItsTargetLeftAlone) {
    const std::string input = writeBinary(file("App"), fatOf({kCpuI386, kCpuX86_64}));
    writeBinary(file("target"), "user file", 0644);
    fs::create_symlink(file("target"), file("link"));
    std::string error;
    ASSERT_TRUE(MachO::thin(input, "i386", file("link"), &error)) << error;
    EXPECT_FALSE(fs::is_symlink(file("link")));
    EXPECT_EQ(fileBytes(file("link")), sliceOf(kCpuI386));
    EXPECT_EQ(fileBytes(file("target")), "user file");
}

TEST_F(MachOTest, AFolderThatCannotBeWrittenIsAnErrorForAnUnprivilegedUser) {
    if (!canRunAsNobody()) GTEST_SKIP() << "needs root to run the check as nobody";
    const std::string input = writeBinary(file("App"), fatOf({kCpuI386, kCpuX86_64}), 0755);
    ::chmod(dir().c_str(), 0755);
    int rc = runAsNobody([&] {
        std::string error;
        if (MachO::thin(input, "i386", input, &error)) return 1;
        return error.find("Permission denied") != std::string::npos ? 0 : 2;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(fileBytes(input), fatOf({kCpuI386, kCpuX86_64}));
}

}  // namespace
