#include "Platform/LaunchdJob.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "Platform/PropertyList.h"
#include "Support/TestRoots.h"

using hvn::LaunchdJob;
using Status = hvn::LaunchdJob::ReadStatus;

namespace {

std::string plist(const hvn::Value& v, hvn::PlistFormat f = hvn::PlistFormat::XML) {
    return hvn::PropertyList::serialize(v, f);
}

hvn::Value job(hvn::Dictionary d) {
    return hvn::Value(std::move(d));
}

}  // namespace

TEST(LaunchdJobTest, ProgramIsProgramElseTheFirstArgument) {
    struct Case {
        hvn::Dictionary dict;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases = {
        {{{"ProgramArguments", hvn::Array{"/usr/bin/a", "-x"}}}, "/usr/bin/a"},
        {{{"Program", "/usr/bin/b"}}, "/usr/bin/b"},
        // launchd execs Program; argv[0] is then only the name the program sees.
        {{{"Program", "/usr/bin/real"}, {"ProgramArguments", hvn::Array{"shown-name", "-x"}}},
         "/usr/bin/real"},
        {{{"Program", ""}, {"ProgramArguments", hvn::Array{"/usr/bin/c"}}}, "/usr/bin/c"},
        {{{"ProgramArguments", hvn::Array{}}, {"Program", "/usr/bin/d"}}, "/usr/bin/d"},
        {{{"ProgramArguments", hvn::Array{}}}, std::nullopt},
        {{{"ProgramArguments", hvn::Array{42, "/usr/bin/e"}}}, std::nullopt},
        {{{"Program", 7}}, std::nullopt},
        {{{"ProgramArguments", "/usr/bin/not-an-array"}}, std::nullopt},
        {{{"Label", "com.example.none"}}, std::nullopt},
    };
    for (const auto& c : cases) {
        for (auto format : {hvn::PlistFormat::XML, hvn::PlistFormat::Binary}) {
            auto j = LaunchdJob::parse(plist(job(c.dict), format));
            ASSERT_TRUE(j);
            EXPECT_EQ(j->executable(), c.expected) << plist(job(c.dict));
        }
    }
    auto j = LaunchdJob::parse(
        plist(job({{"Label", "com.example.sync"}, {"ProgramArguments", hvn::Array{"/a", 3}}})));
    ASSERT_TRUE(j);
    EXPECT_EQ(j->label, "com.example.sync");
    EXPECT_EQ(j->programArguments, (std::vector<std::string>{"/a", ""}));
    EXPECT_FALSE(j->program.has_value());
}

TEST(LaunchdJobTest, BadInputIsNoJob) {
    EXPECT_FALSE(LaunchdJob::parse("").has_value());
    EXPECT_FALSE(LaunchdJob::parse("not a plist at all").has_value());
    EXPECT_FALSE(LaunchdJob::parse(plist(hvn::Value(hvn::Array{"/usr/bin/a"}))).has_value());
    EXPECT_FALSE(LaunchdJob::parse(plist(hvn::Value("string root"))).has_value());
    std::string truncated = plist(job({{"Program", "/usr/bin/b"}}), hvn::PlistFormat::Binary);
    truncated.resize(truncated.size() / 2);
    EXPECT_FALSE(LaunchdJob::parse(truncated).has_value());
    EXPECT_FALSE(LaunchdJob::parse("bplist00\xff\xff\xff\xff").has_value());
}

TEST(LaunchdJobTest, ReadFileTellsLinksSpecialFilesAndCorruptLists) {
    hvn::test::TempRoots roots;
    const std::string dir = roots.makeDir(roots.base() + "/agents");
    const std::string good = roots.writeFile(dir + "/good.plist", plist(job({{"Program", "/bin/true"}})));
    const std::string corrupt = roots.writeFile(dir + "/corrupt.plist", "<plist><dict><key>");
    ASSERT_EQ(::symlink(good.c_str(), (dir + "/link.plist").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir + "/fifo.plist").c_str(), 0644), 0);
    roots.makeDir(dir + "/folder.plist");

    LaunchdJob j;
    EXPECT_EQ(LaunchdJob::readFile(good, &j), Status::Read);
    EXPECT_EQ(j.executable(), "/bin/true");
    EXPECT_EQ(LaunchdJob::readFile(corrupt, &j), Status::Corrupt);
    EXPECT_EQ(LaunchdJob::readFile(dir + "/link.plist", &j), Status::NotRegular);
    EXPECT_EQ(LaunchdJob::readFile(dir + "/fifo.plist", &j), Status::NotRegular);  // and does not block
    EXPECT_EQ(LaunchdJob::readFile(dir + "/folder.plist", &j), Status::NotRegular);
    EXPECT_EQ(LaunchdJob::readFile(dir + "/none.plist", &j), Status::Missing);

    ::truncate(good.c_str(), static_cast<off_t>(LaunchdJob::kMaxFileSize) + 1);
    std::string error;
    EXPECT_EQ(LaunchdJob::readFile(good, &j, &error), Status::Unreadable);
    EXPECT_NE(error.find("larger than"), std::string::npos);

    if (hvn::test::canRunAsNobody()) {
        const std::string secret =
            roots.writeFile(dir + "/secret.plist", plist(job({{"Program", "/bin/true"}})));
        ::chmod(secret.c_str(), 0600);
        ::chmod(roots.base().c_str(), 0755);
        ::chmod(dir.c_str(), 0755);
        int rc = hvn::test::runAsNobody([&] {
            LaunchdJob k;
            return LaunchdJob::readFile(secret, &k) == Status::Unreadable ? 0 : 1;
        });
        EXPECT_EQ(rc, 0);
    }
}
