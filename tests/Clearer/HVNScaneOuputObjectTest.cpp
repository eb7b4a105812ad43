#include <gtest/gtest.h>

#include <set>

#include "HVN/Code/Clearer/HVNScaneOuputObject.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/NotificationCenter.h"
#include "Platform/PropertyList.h"

namespace {

HVNScaneOuputObjectPtr node(const std::string& name = "", int64_t size = 0) {
    auto n = HVNScaneOuputObject::create();
    n->setName(name);
    n->fileSize = size;
    return n;
}

HVNScaneOuputObjectPtr withChildren(HVNScaneOuputObjectPtr n, int count) {
    HVNNodeList kids;
    for (int i = 0; i < count; ++i) kids.push_back(node("c" + std::to_string(i), 10));
    n->setSubObjects(kids);
    return n;
}

}  // namespace

TEST(ScanResultNodeTest, ANewNodeHasTheDocumentedDefaults) {
    auto n = HVNScaneOuputObject::create();
    EXPECT_EQ(n->subObjects, nullptr);
    EXPECT_EQ(n->name(), "");
    EXPECT_EQ(n->dirPath(), "");
    EXPECT_EQ(n->isCheck, 0);
    EXPECT_TRUE(n->enabled);
    EXPECT_FALSE(n->isGroup());
    EXPECT_FALSE(n->removePaths.has_value());
    EXPECT_FALSE(n->categoryFlag.has_value());
    EXPECT_EQ(n->fileSizeDesc(), "");
    EXPECT_EQ(n->filePath(), "/");
    n->setName("x.log");
    EXPECT_EQ(n->filePath(), "/x.log");  // empty folder, "/", the name
    n->setDirPath("/var/log");
    EXPECT_EQ(n->filePath(), "/var/log/x.log");
    EXPECT_NE(n->hashValue, HVNScaneOuputObject::create()->hashValue);
}

TEST(ScanResultNodeTest, NameAndFolderFallBackToTheStoredPath) {
    auto n = HVNScaneOuputObject::create();
    n->setName(std::nullopt);
    n->setDirPath(std::nullopt);
    EXPECT_EQ(n->name(), "");
    n->setFilePath("/Users/u/Library/Caches/com.x/");
    EXPECT_EQ(n->name(), "com.x");
    EXPECT_EQ(n->dirPath(), "/Users/u/Library/Caches");
    EXPECT_EQ(n->filePath(), "/Users/u/Library/Caches/com.x/");
    n->setFilePath("");
    n->setName("a");
    EXPECT_EQ(n->filePath(), "/a");  // an empty stored path does not count
}

TEST(ScanResultNodeTest, ShownSizeTextFollowsTheModuleRules) {
    auto cookie = node("c");
    cookie->moulde = 22;
    EXPECT_EQ(cookie->fileSizeDesc(), "1 issue");
    EXPECT_EQ(withChildren(cookie, 1)->fileSizeDesc(), "1 issue");
    EXPECT_EQ(withChildren(cookie, 3)->fileSizeDesc(), "3 issues");
    cookie->isCategoryItem = true;  // a category row of cookies falls through to the size rules
    EXPECT_EQ(cookie->fileSizeDesc(), "");

    auto virusRow = node("Virus");
    virusRow->moulde = 21;
    virusRow->isCategoryItem = true;
    EXPECT_EQ(virusRow->fileSizeDesc(), "");
    virusRow->fileSize = 1;
    virusRow->childCount = 2;
    EXPECT_EQ(virusRow->fileSizeDesc(), "2 issues");
    virusRow->fileSize = 5000000;
    EXPECT_EQ(virusRow->fileSizeDesc(), "2 issues");

    auto disk = node("Disk Check", 1);
    disk->moulde = 19;
    disk->hasIssue = true;
    disk->issueCount = 1;
    disk->childCount = 7;
    EXPECT_EQ(disk->fileSizeDesc(), "1 issue");
    disk->hasIssue = false;
    EXPECT_EQ(disk->fileSizeDesc(), "0.0 KB");  // module 19 never shows the child count

    auto login = node("Broken Login Items", 4096);
    login->moulde = 18;
    login->childCount = 1;
    EXPECT_EQ(login->fileSizeDesc(), "1 issue");

    auto noSize = node("Shortcut Clean", 1);
    noSize->moulde = 17;
    noSize->childCount = 4;
    EXPECT_EQ(noSize->fileSizeDesc(), "4 issues");
    noSize->fileSize = 1500;
    EXPECT_EQ(noSize->fileSizeDesc(), "1.5 KB");
    noSize->childCount = 0;
    noSize->fileSize = 0;
    EXPECT_EQ(noSize->fileSizeDesc(), "");
}

TEST(ScanResultNodeTest, ChildrenAreLinkedAndGroupsStayGroups) {
    auto g = node("g");
    EXPECT_EQ(g->countOfChildren(), 0u);
    ASSERT_NE(g->subObjects, nullptr);  // the empty list is created
    EXPECT_FALSE(g->isGroup());
    g->removeObjectFromChildrenAtIndex(0);  // nothing to remove: no effect
    EXPECT_EQ(g->objectInChildrenAtIndex(0), nullptr);

    auto a = node("a"), b = node("b");
    g->insertObject(a, 0);
    g->insertObject(b, 0);
    EXPECT_EQ(g->objectInChildrenAtIndex(0), b);
    EXPECT_TRUE(a->hasParent);
    EXPECT_EQ(a->parentNode.lock(), g);
    EXPECT_TRUE(g->isGroup());

    g->removeObjectFromChildren(b->copy());  // equal by identity
    EXPECT_EQ(g->countOfChildren(), 1u);
    auto c = node("c");
    g->replaceObjectInChildrenAtIndex(0, c);
    EXPECT_EQ(g->objectInChildrenAtIndex(0), c);
    g->removeObjectFromChildrenAtIndex(0);
    EXPECT_EQ(g->countOfChildren(), 0u);
    EXPECT_TRUE(g->isGroup());  // the flag stays set
}

TEST(ScanResultNodeTest, SettingChildrenLinksOnlyTheDirectChildren) {
    auto grandchild = node("gc");
    auto child = node("child");
    auto oldParent = node("old");
    oldParent->setSubObjects(HVNNodeList{grandchild});
    child->subObjects = oldParent->subObjects;
    auto top = node("top");
    top->setSubObjects(HVNNodeList{child});
    EXPECT_EQ(child->parentNode.lock(), top);
    EXPECT_TRUE(child->hasParent);
    EXPECT_EQ(grandchild->parentNode.lock(), oldParent);
}

TEST(ScanResultNodeTest, ACopyEqualsItsOriginalAndSharesTheChildren) {
    auto n = withChildren(node("n", 1500), 2);
    n->isCheck = -1;
    n->virusName = "EICAR";
    n->cookieDomain = ".example.org";
    n->moulde = 5;
    n->childCount = 2;
    n->removePaths = std::vector<std::string>{"/a", "/b"};
    auto c = n->copy();
    EXPECT_TRUE(c->isEqual(*n));
    EXPECT_EQ(c->hash(), n->hash());
    EXPECT_EQ(c->subObjects, n->subObjects);
    EXPECT_EQ(c->name(), "n");
    EXPECT_EQ(c->isCheck, -1);
    EXPECT_EQ(c->virusName, "EICAR");
    EXPECT_EQ(c->cookieDomain, ".example.org");
    EXPECT_EQ(c->removePaths, n->removePaths);
    EXPECT_EQ(c->storedFileSizeDesc(), "1.5 KB");  // the computed text is stored in the copy
    EXPECT_EQ(c->moulde, 0);                       // not copied
    EXPECT_EQ(c->childCount, 0);
    EXPECT_FALSE(node("n", 1500)->isEqual(*n));  // two scans of one file are different nodes
}

TEST(ScanResultNodeTest, ArchivingKeepsContentButGivesANewIdentity) {
    auto n = withChildren(node("Caches", 20), 2);
    n->isCheck = 1;
    n->setDirPath("/Users/u/Library");
    n->removePaths = std::vector<std::string>{"/x/fr.lproj"};
    n->virusName = "not archived";
    hvn::Value archived = n->archive();

    std::set<std::string> keys;
    for (const auto& [k, v] : archived.asDictionary()) keys.insert(k);
    EXPECT_EQ(keys,
              (std::set<std::string>{"name", "dirPath", "isCheck", "fileSize", "icon", "isDir", "removePaths",
                                     "subObjects", "filePath", "fileSizeDesc", "hasParent"}));

    // Through a property list file's bytes, as a stored archive would be.
    auto bytes = hvn::PropertyList::serialize(archived, hvn::PlistFormat::Binary);
    auto back = HVNScaneOuputObject::unarchive(*hvn::PropertyList::parse(bytes));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->name(), "Caches");
    EXPECT_EQ(back->dirPath(), "/Users/u/Library");
    EXPECT_EQ(back->isCheck, 1);
    EXPECT_EQ(back->fileSize, 20);
    EXPECT_EQ(back->removePaths, n->removePaths);
    EXPECT_EQ(back->virusName, "");
    ASSERT_EQ(back->countOfChildren(), 2u);
    EXPECT_EQ(back->objectInChildrenAtIndex(1)->name(), "c1");
    EXPECT_EQ(back->objectInChildrenAtIndex(1)->parentNode.lock(), back);
    EXPECT_TRUE(back->objectInChildrenAtIndex(1)->hasParent);
    EXPECT_FALSE(back->isEqual(*n));
    EXPECT_EQ(HVNScaneOuputObject::unarchive(hvn::Value("not a node")), nullptr);
}

TEST(ScanResultNodeTest, ArchivingKeepsNamesDerivedFromThePath) {
    auto n = HVNScaneOuputObject::create();
    n->setName(std::nullopt);
    n->setDirPath(std::nullopt);
    n->setFilePath("/Users/u/Downloads/setup.dmg");
    auto back = HVNScaneOuputObject::unarchive(n->archive());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->name(), "setup.dmg");
    EXPECT_EQ(back->dirPath(), "/Users/u/Downloads");
    EXPECT_EQ(back->filePath(), "/Users/u/Downloads/setup.dmg");
}

TEST(ScanResultNodeTest, NullScalarsStoreZero) {
    auto n = node("n", 99);
    n->isCheck = 1;
    n->setValueForKey(hvn::Value(), "isCheck");
    EXPECT_EQ(n->isCheck, 0);
    n->setValueForKey(hvn::Value(), "fileSize");
    EXPECT_EQ(n->fileSize, 0);
    n->fileSize = 99;
    n->setIsGroup(true);
    n->setValueForKey(hvn::Value(), "isGroup");
    EXPECT_EQ(n->fileSize, 0);
    EXPECT_TRUE(n->isGroup());
}

TEST(ScanResultNodeTest, EnteringTheDetailListClearsHighlightsExceptCategoryRows) {
    auto row = node("row");
    row->isSelected = true;
    auto category = node("System");
    category->isCategoryItem = true;
    category->isSelected = true;
    HVNCommonFunction::postEnterSearchDetailNotification();
    EXPECT_FALSE(row->isSelected);
    EXPECT_TRUE(category->isSelected);
    row.reset();  // a released node no longer observes
    HVNCommonFunction::postEnterSearchDetailNotification();
    EXPECT_TRUE(category->isSelected);
}
