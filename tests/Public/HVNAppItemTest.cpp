#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "HVN/Code/Public/ScanAndDeleteApp/HVNAppItem.h"
#include "HVN/Code/Public/ScanAndDeleteApp/QueueAddition.h"

TEST(HVNAppItemTest, AFreshItemIsEmptyAndACopyCarriesEveryFieldIndependently) {
    HVNAppItem fresh;
    EXPECT_TRUE(fresh.name.empty() && fresh.path.empty() && fresh.bundleID.empty() && fresh.appSize.empty());
    EXPECT_FALSE(fresh.isSystemApp);
    EXPECT_FALSE(fresh.isSelected);
    EXPECT_FALSE(fresh.lastUseDate.has_value());
    EXPECT_EQ(fresh.appSizeIntValue(), 0);

    HVNAppItem item;
    item.name = "Editor";
    item.image = "/a/icon.icns";
    item.path = "/a/Editor.app";
    item.version = "2.0";
    item.bundleID = "com.example.Editor";
    item.executableString = "Editor";
    item.isSystemAppString = "NO";
    item.isSystemApp = true;
    item.appSize = "1234.500000";
    item.lastUseDate = hvn::Date{1700000000};
    item.isSelected = true;
    std::shared_ptr<HVNAppItem> copy = item.copy();
    EXPECT_EQ(copy->name, item.name);
    EXPECT_EQ(copy->image, item.image);
    EXPECT_EQ(copy->path, item.path);
    EXPECT_EQ(copy->version, item.version);
    EXPECT_EQ(copy->bundleID, item.bundleID);
    EXPECT_EQ(copy->executableString, item.executableString);
    EXPECT_EQ(copy->isSystemAppString, item.isSystemAppString);
    EXPECT_EQ(copy->isSystemApp, item.isSystemApp);
    EXPECT_EQ(copy->appSize, item.appSize);
    EXPECT_EQ(copy->lastUseDate, item.lastUseDate);
    EXPECT_EQ(copy->isSelected, item.isSelected);
    EXPECT_EQ(copy->appSizeIntValue(), 1234);
    copy->isSelected = false;
    EXPECT_TRUE(item.isSelected);
}

TEST(QueueAdditionTest, PopTakesTheLastPushedAndGivesNothingWhenEmpty) {
    std::vector<std::string> stack;
    EXPECT_FALSE(QueueAddition::pop(stack).has_value());
    QueueAddition::push(stack, "a");
    QueueAddition::push(stack, std::string("b"));
    EXPECT_EQ(QueueAddition::pop(stack), "b");
    QueueAddition::push(stack, "c");
    EXPECT_EQ(QueueAddition::pop(stack), "c");
    EXPECT_EQ(QueueAddition::pop(stack), "a");
    EXPECT_FALSE(QueueAddition::pop(stack).has_value());
    EXPECT_TRUE(stack.empty());
    std::vector<std::shared_ptr<int>> ptrs;
    QueueAddition::push(ptrs, std::make_shared<int>(7));
    auto p = QueueAddition::pop(ptrs);
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(**p, 7);
}
