// Removing copies through HVNDuplicateRemoval: only files noted as listed, only while they
// are still what was noted, to the home trash (with its info file) or for good.
#include "HVN/Code/ToolBox/Duplicate/HVNDuplicateRemoval.h"

#include <gtest/gtest.h>

#include <fstream>

#include "DuplicateFixtures.h"
#include "DuplicateTestSupport.h"
#include "Platform/MoveToTrash.h"

namespace {

using dupes_test::pathExists;
using dupes_test::pattern;
using dupes_test::setYear;

class DuplicateRemovalTest : public dupes_test::DuplicateToolTest {
protected:
    std::string put(const std::string& name, const std::string& contents) const {
        return roots.writeFile(roots.home() + "/D/" + name, contents);
    }
    std::string trashFiles() const { return roots.home() + "/.local/share/Trash/files/"; }
    std::string trashInfo() const { return roots.home() + "/.local/share/Trash/info/"; }
    HVNDuplicateRemoval removal;
};

TEST_F(DuplicateRemovalTest, AListedFileGoesToTheHomeTrashWithItsInfoFile) {
    const std::string a = put("a.bin", pattern(60000, 1));
    removal.listGroup({a});
    ASSERT_TRUE(removal.noteOf(a));
    EXPECT_TRUE(removal.noteOf(a)->foundIn) << "the folder it lies in is noted too";

    HVNDuplicateOutcome o = removal.moveToTrash(a);
    ASSERT_TRUE(o.removed()) << o.error;
    EXPECT_FALSE(pathExists(a));
    EXPECT_EQ(o.trashedPath, trashFiles() + "a.bin");
    EXPECT_TRUE(pathExists(o.trashedPath));
    std::ifstream info(trashInfo() + "a.bin.trashinfo");
    std::string text((std::istreambuf_iterator<char>(info)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Path=" + hvn::Trash::percentEncodePath(a)), std::string::npos) << text;
}

TEST_F(DuplicateRemovalTest, DeletingForGoodLeavesNothingInTheTrash) {
    const std::string a = put("a.bin", pattern(60000, 1));
    ASSERT_TRUE(removal.listPath(a));
    HVNDuplicateOutcome o = removal.removeForever(a);
    ASSERT_TRUE(o.removed()) << o.error;
    EXPECT_FALSE(pathExists(a));
    EXPECT_TRUE(o.trashedPath.empty());
    EXPECT_FALSE(pathExists(trashFiles() + "a.bin"));

    // A file already gone is reported as such, not as removed.
    EXPECT_EQ(removal.removeForever(a).status, hvn::RemovalStatus::Missing);
}

// Both removals leave a file in place that was never listed or has changed since.
class ChangedCopyTest : public DuplicateRemovalTest, public ::testing::WithParamInterface<bool> {
protected:
    HVNDuplicateOutcome remove(const std::string& path) {
        return GetParam() ? removal.moveToTrash(path) : removal.removeForever(path);
    }
};

TEST_P(ChangedCopyTest, UnlistedAndChangedFilesStay) {
    const std::string never = put("never.bin", pattern(60000, 1));
    HVNDuplicateOutcome o = remove(never);
    EXPECT_EQ(o.status, hvn::RemovalStatus::Refused);
    EXPECT_NE(o.error.find("it was not listed"), std::string::npos) << o.error;
    EXPECT_TRUE(pathExists(never));

    const std::string touched = put("touched.bin", pattern(60000, 2));
    const std::string rewritten = put("rewritten.bin", pattern(60000, 3));
    removal.listGroup({touched, rewritten});
    setYear(touched, 2016);
    {
        std::ofstream out(rewritten, std::ios::app);
        out << "more";
    }
    // A later report of the group does not make the changed files look unchanged.
    removal.listGroup({touched, rewritten});
    for (const auto& p : {touched, rewritten}) {
        o = remove(p);
        EXPECT_EQ(o.status, hvn::RemovalStatus::Refused) << p;
        EXPECT_NE(o.error.find("changed since it was listed"), std::string::npos) << o.error;
        EXPECT_TRUE(pathExists(p));
    }
    EXPECT_FALSE(removal.anyIntact({touched, rewritten}));

    // Noting the path again takes the file as it is now.
    ASSERT_TRUE(removal.listPath(touched));
    EXPECT_TRUE(removal.anyIntact({touched, rewritten}));
    EXPECT_TRUE(remove(touched).removed());
}

TEST_P(ChangedCopyTest, AFileSwappedForAnotherIsNotRemoved) {
    const std::string a = put("a.bin", pattern(60000, 1));
    removal.listGroup({a});
    // Same name, size, contents and time: only its identity tells it apart.
    const std::string twin = put("twin", pattern(60000, 1));
    struct stat st {};
    ASSERT_EQ(::stat(a.c_str(), &st), 0);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, twin.c_str(), times, 0), 0);
    ASSERT_EQ(::rename(twin.c_str(), a.c_str()), 0);
    HVNDuplicateOutcome o = remove(a);
    EXPECT_FALSE(o.gone());
    EXPECT_TRUE(pathExists(a));

    removal.forgetAll();
    EXPECT_FALSE(removal.noteOf(a));
}

INSTANTIATE_TEST_SUITE_P(TrashAndDelete, ChangedCopyTest, ::testing::Bool());

}  // namespace
