#include <gtest/gtest.h>

#include <thread>

#include "HVN/Code/Public/HVNCommonFunction.h"

namespace {

HVNScaneOuputObjectPtr leaf(int8_t check, const std::string& path = "") {
    auto n = HVNScaneOuputObject::create();
    n->isCheck = check;
    if (!path.empty()) n->setFilePath(path);
    return n;
}

HVNScaneOuputObjectPtr group(std::initializer_list<HVNScaneOuputObjectPtr> children, int8_t check = 1) {
    auto g = HVNScaneOuputObject::create();
    g->isCheck = check;
    g->setSubObjects(HVNNodeList(children));
    return g;
}

}  // namespace

TEST(TreeHelpersTest, LeafCountingDescendsEveryLevel) {
    // g: [a(1), b(0), h: [c(1), d(0), e(-1)]] -- five leaves, three ticked (mixed counts).
    auto h = group({leaf(1), leaf(0), leaf(-1)}, 0);
    auto g = group({leaf(1), leaf(0), h});
    EXPECT_EQ(HVNCommonFunction::getChildrenCnt(g, false), 5);
    EXPECT_EQ(HVNCommonFunction::getChildrenCnt(g, true), 3);
    EXPECT_EQ(HVNCommonFunction::getNodeCnt(*g->subObjects, true), 3);

    // A node without children is a leaf of itself, under the same rule.
    EXPECT_EQ(HVNCommonFunction::getChildrenCnt(leaf(0), false), 1);
    EXPECT_EQ(HVNCommonFunction::getChildrenCnt(leaf(0), true), 0);
    EXPECT_EQ(HVNCommonFunction::getChildrenCnt(leaf(1), true), 1);
    // An emptied group counts as a leaf again; the group itself is unticked here.
    auto emptied = group({leaf(1)}, 0);
    emptied->removeObjectFromChildrenAtIndex(0);
    EXPECT_EQ(HVNCommonFunction::getChildrenCnt(emptied, true), 0);
    EXPECT_EQ(HVNCommonFunction::getChildrenCnt(nullptr, false), 0);
}

TEST(TreeHelpersTest, CountsOnTwoThreadsKeepTheirOwnCounters) {
    HVNNodeList big;
    for (int i = 0; i < 2000; ++i) big.push_back(leaf(i % 2));
    auto g = HVNScaneOuputObject::create();
    g->setSubObjects(big);
    int64_t a = 0, b = 0;
    std::thread t1([&] {
        for (int i = 0; i < 50; ++i) a += HVNCommonFunction::getChildrenCnt(g, false);
    });
    std::thread t2([&] {
        for (int i = 0; i < 50; ++i) b += HVNCommonFunction::getChildrenCnt(g, true);
    });
    t1.join();
    t2.join();
    EXPECT_EQ(a, 50 * 2000);
    EXPECT_EQ(b, 50 * 1000);
}

TEST(TreeHelpersTest, DeepTreesDoNotExhaustTheStack) {
    auto top = HVNScaneOuputObject::create();
    auto cur = top;
    for (int i = 0; i < 200000; ++i) {
        auto next = HVNScaneOuputObject::create();
        cur->subObjects = std::make_shared<HVNNodeList>(HVNNodeList{next});
        cur = next;
    }
    cur->isCheck = 1;
    EXPECT_EQ(HVNCommonFunction::getChildrenCnt(top, true), 1);
    HVNCommonFunction::setCheckBoxStatusForAllItems({top}, 0);
    EXPECT_EQ(HVNCommonFunction::getChildrenCnt(top, true), 0);
    // Release iteratively as well.
    while (top->subObjects && !top->subObjects->empty()) {
        auto child = top->subObjects->front();
        top->subObjects.reset();
        top = child;
    }
}

TEST(TreeHelpersTest, SettingTicksReachEveryDepth) {
    auto inner = group({leaf(1), leaf(0)}, -1);
    auto outer = group({leaf(0), inner}, -1);
    auto single = leaf(0);
    HVNCommonFunction::setCheckBoxStatusForAllItems({outer, single, nullptr}, 1);
    EXPECT_EQ(outer->isCheck, 1);
    EXPECT_EQ(single->isCheck, 1);
    EXPECT_EQ(inner->isCheck, 1);
    EXPECT_EQ(HVNCommonFunction::getChildrenCnt(outer, true), 3);
    HVNCommonFunction::setCheckBoxStatusForAllItems({outer}, 0);
    EXPECT_EQ(HVNCommonFunction::getChildrenCnt(outer, true), 0);
    EXPECT_EQ(inner->isCheck, 0);
}

TEST(ArrayCategoriesTest, PathContainmentIsACaseSensitiveSubstringTest) {
    HVNNodeList folders{leaf(0, "/Users/u/Documents"), leaf(0, "/Volumes/Data")};
    EXPECT_TRUE(LA::checkExistedPath(folders, *leaf(0, "/Users/u/Documents/Old")));
    EXPECT_TRUE(LA::checkExistedPath(folders, *leaf(0, "/Users/u/Documents")));
    EXPECT_TRUE(LA::checkExistedPath(folders, *leaf(0, "/Users/u/Documents2")));  // a substring, not a prefix
    EXPECT_FALSE(LA::checkExistedPath(folders, *leaf(0, "/users/u/documents/Old")));
    EXPECT_FALSE(LA::checkExistedPath(folders, *leaf(0, "/Users/u")));
    EXPECT_FALSE(LA::checkExistedPath({}, *leaf(0, "/Users/u")));
}

TEST(ArrayCategoriesTest, DictionaryMembershipIsWholeValueEquality) {
    hvn::Value en(hvn::Dictionary{{"localCode", hvn::Value("en")}, {"language", hvn::Value("English")}});
    hvn::Value enUs(hvn::Dictionary{
        {"localCode", hvn::Value("en")}, {"language", hvn::Value("English")}, {"country", hvn::Value("us")}});
    hvn::Array list{hvn::Value("en"), enUs};
    EXPECT_TRUE(Language::containsDic(list, enUs));
    EXPECT_FALSE(Language::containsDic(list, en));
    EXPECT_EQ(Language::objectEqualToDic(list, enUs), &list[1]);
    EXPECT_EQ(Language::objectEqualToDic(list, en), nullptr);
    EXPECT_FALSE(Language::containsDic(list, hvn::Value("en")));  // only dictionaries are members
}
