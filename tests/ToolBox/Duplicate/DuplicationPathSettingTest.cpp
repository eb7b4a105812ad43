#include "HVN/Code/ToolBox/Duplicate/DuplicationPathSetting.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "Platform/PropertyList.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;
using hvn::test::RootsTest;

namespace {

class DuplicationPathSettingTest : public RootsTest {};

TEST_F(DuplicationPathSettingTest, DefaultsToTheHomeAndKeepsTheListItIsGiven) {
    const std::string file = DuplicationPathSetting::filePath();
    EXPECT_EQ(file.rfind(roots.home() + "/Library/Application Support/", 0), 0u);
    EXPECT_NE(file.find("/UserPathSetting/DuplicationPathSetting.plist"), std::string::npos);

    EXPECT_EQ(DuplicationPathSetting::loadFilePathArray(),
              (hvn::Array{DuplicationPathSetting::entryForPath(roots.home())}));

    hvn::Array list{DuplicationPathSetting::entryForPath("/data/photos"),
                    DuplicationPathSetting::entryForPath("/data/music")};
    std::string error;
    ASSERT_TRUE(DuplicationPathSetting::saveFilePathArray(list, &error)) << error;
    EXPECT_EQ(DuplicationPathSetting::loadFilePathArray(), list);
    EXPECT_EQ(DuplicationPathSetting::loadFilePathArray()[0]["state"].asString(), "1");

    // An empty list is stored but reads back as the default.
    ASSERT_TRUE(DuplicationPathSetting::saveFilePathArray({}, &error));
    EXPECT_EQ(DuplicationPathSetting::loadFilePathArray().size(), 1u);
}

TEST_F(DuplicationPathSettingTest, DamagedFilesAndEntriesAreLeftOut) {
    const std::string file = DuplicationPathSetting::filePath();
    roots.writeFile(file, "this is not a property list");
    EXPECT_EQ(DuplicationPathSetting::loadFilePathArray(),
              (hvn::Array{DuplicationPathSetting::entryForPath(roots.home())}));

    hvn::Array stored{hvn::Value("text"), hvn::Value(hvn::Dictionary{{"state", "1"}}),
                      DuplicationPathSetting::entryForPath("/kept")};
    ASSERT_TRUE(hvn::PropertyList::writeFile(file, hvn::Value(stored)));
    EXPECT_EQ(DuplicationPathSetting::loadFilePathArray(),
              (hvn::Array{DuplicationPathSetting::entryForPath("/kept")}));

    // A folder where the file should be: saving fails and says why.
    fs::remove(file);
    fs::create_directories(file);
    std::string error;
    EXPECT_FALSE(DuplicationPathSetting::saveFilePathArray(stored, &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
