#include "HVN/Code/ToolBox/Duplicate/THFileUtility.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "Support/TestRoots.h"

namespace fs = std::filesystem;
using hvn::test::RootsTest;

namespace {

hvn::Value entry(const std::string& path) {
    return hvn::Value(hvn::Dictionary{{"state", "1"}, {"path", path}});
}

hvn::Value group(int64_t size, const std::string& name, int copies) {
    hvn::Array list;
    for (int i = 0; i < copies; ++i) list.emplace_back("/p" + std::to_string(i));
    return hvn::Value(hvn::Dictionary{{"size", size}, {"name", name}, {"list", hvn::Value(list)}});
}

class THFileUtilityTest : public RootsTest {};

TEST_F(THFileUtilityTest, SizesAndTypes) {
    auto file = roots.writeFile(roots.base() + "/a.bin", std::string(1234, 'a'));
    EXPECT_EQ(THFileUtility::fileSizeByPath(file), 1234u);
    EXPECT_EQ(THFileUtility::fileSizeByPath(roots.base() + "/missing"), 0u);
    EXPECT_EQ(THFileUtility::fileSizeByPath(roots.writeFile(roots.base() + "/empty", "")), 0u);

    // A package counts the files and links inside it (a link by its own length).
    roots.writeFile(roots.base() + "/P.app/Contents/x", std::string(1000, 'x'));
    roots.writeFile(roots.base() + "/P.app/Contents/sub/y", std::string(24, 'y'));
    fs::create_symlink("abc", roots.base() + "/P.app/Contents/l");
    EXPECT_EQ(THFileUtility::fileSizeByPath(roots.base() + "/P.app"), 1027u);

    fs::create_symlink(file, roots.base() + "/link");
    EXPECT_TRUE(THFileUtility::fileIsRegular(file));
    EXPECT_FALSE(THFileUtility::fileIsRegular(roots.base() + "/link"));
    EXPECT_FALSE(THFileUtility::fileIsDirectory(roots.base() + "/link"));
    EXPECT_TRUE(THFileUtility::fileIsDirectory(roots.base() + "/P.app"));
    EXPECT_FALSE(THFileUtility::isSystemlowVersion());
}

TEST_F(THFileUtilityTest, FolderListLookups) {
    const std::string a = roots.makeDir(roots.base() + "/a");
    const std::string ab = roots.makeDir(roots.base() + "/a/b");
    fs::create_symlink(ab, roots.base() + "/via-link");
    hvn::Array list{entry(roots.base() + "/via-link"), entry(a), hvn::Value("not a dictionary")};

    EXPECT_TRUE(THFileUtility::judgeTheSelectedFilePathWithCurrentFilePathArray(list, a));
    EXPECT_FALSE(THFileUtility::judgeTheSelectedFilePathWithCurrentFilePathArray(list, a + "/"));
    EXPECT_FALSE(THFileUtility::judgeTheSelectedFilePathWithCurrentFilePathArray(list, ab));

    // The linked entry comes first and resolves to a/b.
    EXPECT_EQ(THFileUtility::returnPreFilePath(ab + "/x/y.bin", list), ab);
    EXPECT_EQ(THFileUtility::returnPreFilePath(a + "/c.bin", list), a);
    EXPECT_EQ(THFileUtility::returnPreFilePath(a, list), a);
    // "/a" is not above "/ab".
    EXPECT_EQ(THFileUtility::returnPreFilePath(roots.base() + "/ab/c.bin", list), std::nullopt);
    EXPECT_EQ(THFileUtility::returnPreFilePath("/elsewhere", list), std::nullopt);
}

TEST(THFileUtilitySort, OrdersByTheDescriptorKeepingTies) {
    hvn::Dictionary groups{{"h1", group(5000, "abc", 2)},
                           {"h2", group(90000, "a", 3)},
                           {"h3", group(5000, "abcdef", 4)},
                           {"h4", group(100, "ab", 2)}};
    const std::vector<std::string> keys{"h1", "h2", "h3", "h4"};
    using D = THFileUtility::SortDescriptor;
    // "Ascending" puts the largest first.
    EXPECT_EQ(THFileUtility::olderByTableColum(D{"size", true}, keys, groups),
              (std::vector<std::string>{"h2", "h1", "h3", "h4"}));
    EXPECT_EQ(THFileUtility::olderByTableColum(D{"size", false}, keys, groups),
              (std::vector<std::string>{"h4", "h1", "h3", "h2"}));
    EXPECT_EQ(THFileUtility::olderByTableColum(D{"number", true}, keys, groups),
              (std::vector<std::string>{"h3", "h2", "h1", "h4"}));
    EXPECT_EQ(THFileUtility::olderByTableColum(D{"name", false}, keys, groups),
              (std::vector<std::string>{"h2", "h4", "h1", "h3"}));
    EXPECT_EQ(THFileUtility::olderByTableColum(D{"size", true}, {"h4", "missing", "h2"}, groups),
              (std::vector<std::string>{"h2", "h4", "missing"}));
}

}  // namespace
