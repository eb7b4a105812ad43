#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeFileGroups.h"

#include <gtest/gtest.h>

#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeAndOldFileScanner.h"

namespace {

HVNScaneOuputObjectPtr entry(const std::string& name, int64_t size, std::optional<double> age = std::nullopt,
                             double now = 2e9) {
    auto e = HVNScaneOuputObject::create();
    e->setName(name);
    e->setFilePath("/data/" + name);
    e->fileSize = size;
    if (age) e->accessDate = hvn::Date{now - *age};
    std::string first = name.substr(0, 1);
    for (auto& c : first) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    e->firstNameword = first;
    return e;
}

std::vector<std::string> names(const HVNNodeList& list) {
    std::vector<std::string> out;
    for (const auto& n : list) out.push_back(n->name());
    return out;
}

TEST(LargeFileGroups, SlidersMapEightStepsAndIgnoreWhatIsOutsideThem) {
    using G = HVNLargeFileGroups;
    EXPECT_EQ(G::sizeKeyForSlider(0, 0, 70), "50M");
    EXPECT_EQ(G::sizeKeyForSlider(9.99, 0, 70), "50M");
    EXPECT_EQ(G::sizeKeyForSlider(10, 0, 70), "100M");
    EXPECT_EQ(G::sizeKeyForSlider(69, 0, 70), "5G");
    EXPECT_EQ(G::sizeKeyForSlider(70, 0, 70), "10G") << "the maximum is the eighth step";
    EXPECT_EQ(G::ageKeyForSlider(30, 0, 70), "a month ago");
    EXPECT_EQ(G::ageKeyForSlider(70, 0, 70), "two years ago");
    EXPECT_FALSE(G::sizeKeyForSlider(80, 0, 70)) << "index 8 selects nothing";
    EXPECT_FALSE(G::sizeKeyForSlider(-1, 0, 70));
    EXPECT_FALSE(G::sizeKeyForSlider(5, 3, 3)) << "an empty range has no steps";
    EXPECT_EQ(G::bytesOfSizeKey("3G"), 3000000000LL);
    EXPECT_EQ(G::secondsOfAgeKey("half a year ago"), 15811200);
    EXPECT_FALSE(G::secondsOfAgeKey("a month"));
}

TEST(LargeFileGroups, TypeGroupsAreCaseSensitiveEndingsOfTheWholeName) {
    using G = HVNLargeFileGroups;
    EXPECT_EQ(G::typeGroupTitles()[G::typeGroupIndex("Summer canvas")], "Archivers");
    EXPECT_EQ(G::typeGroupTitles()[G::typeGroupIndex("MOVIE.MOV")], "Others");
    EXPECT_EQ(G::typeGroupTitles()[G::typeGroupIndex("film.mov")], "Movies");
    EXPECT_EQ(G::typeGroupTitles()[G::typeGroupIndex("report.pdf")], "Documents");
    // Archivers are tried first: "ts" of Movies loses to nothing, but "bin" wins over Others.
    EXPECT_EQ(G::typeGroupTitles()[G::typeGroupIndex("disk.bin")], "Archivers");
    EXPECT_EQ(G::typeGroupTitles()[G::typeGroupIndex("key")], "Documents")
        << "the whole name may be the ending";
    EXPECT_EQ(G::typeGroupTitles()[G::typeGroupIndex("data.raw")], "Others");
}

TEST(LargeFileGroups, SizeGroupBoundsGoToTheLowerGroupAndSmallSizesToNone) {
    using G = HVNLargeFileGroups;
    auto title = [](int64_t b) -> std::string {
        auto i = G::sizeGroupIndex(b);
        return i ? G::sizeGroupTitles()[*i] : "none";
    };
    EXPECT_EQ(title(50000000), "none");
    EXPECT_EQ(title(50000001), "50 to 100M");
    EXPECT_EQ(title(100000000), "50 to 100M");
    EXPECT_EQ(title(100000001), "100 to 300M");
    EXPECT_EQ(title(999999999), "500 to 1G");
    EXPECT_EQ(title(5000000000LL), "3G to 5G");
    EXPECT_EQ(title(5000000001LL), ">5G");
}

TEST(LargeFileGroups, GroupingInTheThreeOrders) {
    HVNNodeList entries = {entry("b.zip", 60000000), entry("a.mov", 2000000000),
                           entry("c.pdf", 70000000), entry("d.raw", 6000000000),
                           entry("e.zip", 80000000), entry("small.zip", 40000000)};
    auto bySize = HVNLargeFileGroups::group(entries, HVNLargeFileGroups::BySize);
    ASSERT_EQ(names(bySize), (std::vector<std::string>{">5G", "1G to 3G", "50 to 100M"}));
    EXPECT_EQ(names(bySize[2]->children()), (std::vector<std::string>{"e.zip", "c.pdf", "b.zip"}))
        << "largest first; the 40 MB file is in no group";
    for (const auto& g : bySize) {
        EXPECT_TRUE(g->isGroupFlag());
        EXPECT_TRUE(g->hasExpanded);
        for (const auto& c : g->children()) EXPECT_EQ(c->parentNode.lock(), g);
    }
    EXPECT_EQ(bySize[2]->fileSize, 210000000);

    auto byType = HVNLargeFileGroups::group(entries, HVNLargeFileGroups::ByType);
    ASSERT_EQ(names(byType), (std::vector<std::string>{"Archivers", "Documents", "Movies", "Others"}));
    EXPECT_EQ(names(byType[0]->children()), (std::vector<std::string>{"b.zip", "e.zip", "small.zip"}))
        << "arrival order within a type";

    auto byName = HVNLargeFileGroups::group(entries, HVNLargeFileGroups::ByName);
    EXPECT_EQ(names(byName),
              (std::vector<std::string>{"a.mov", "b.zip", "c.pdf", "d.raw", "e.zip", "small.zip"}));
    for (const auto& e : byName) EXPECT_FALSE(e->hasParent) << "no group holds them now";
}

TEST(LargeFileGroups, FilterNeedsTheSizeAndTheAgeOfTheLastContentChange) {
    const double now = 2e9;
    const int64_t month = *HVNLargeFileGroups::secondsOfAgeKey("a month ago");
    auto recent = entry("r", 60000000, 29 * 86400.0);
    auto old = entry("o", 60000000, 31 * 86400.0);
    auto undated = entry("u", 60000000);
    EXPECT_FALSE(HVNLargeFileGroups::passes(*recent, 50000000, month, hvn::Date{now}));
    EXPECT_TRUE(HVNLargeFileGroups::passes(*old, 50000000, month, hvn::Date{now}));
    EXPECT_FALSE(HVNLargeFileGroups::passes(*undated, 50000000, month, hvn::Date{now}));
    EXPECT_TRUE(HVNLargeFileGroups::passes(*undated, 50000000, 0, hvn::Date{now}));
    EXPECT_TRUE(HVNLargeFileGroups::passes(*old, 60000000, 0, hvn::Date{now})) << "at least the size";
    EXPECT_FALSE(HVNLargeFileGroups::passes(*old, 60000001, 0, hvn::Date{now}));
}

TEST(LargeFileGroups, AgeTextNamesTheLargestCalendarUnit) {
    const double now = 1.7e9;
    auto text = [&](double age) {
        return HVNLargeAndOldFileScanner::fileModifyDateDescription(*entry("x", 1, age, now), hvn::Date{now});
    };
    EXPECT_EQ(text(0.5), "");
    EXPECT_EQ(text(-100), "") << "a date in the future";
    EXPECT_EQ(text(42), "Opened more than 42 second ago");
    EXPECT_EQ(text(3 * 60 + 5), "Opened more than 3 minute ago");
    EXPECT_EQ(text(5 * 3600 + 10), "Opened more than 5 hour ago");
    EXPECT_EQ(text(3 * 86400 + 10), "Opened more than 3 day ago");
    EXPECT_EQ(text(15 * 86400 + 10), "Opened more than 2 week ago");
    EXPECT_EQ(text(70 * 86400.0), "Opened more than 2 month ago");
    EXPECT_EQ(text(800 * 86400.0), "Opened more than 2 year ago");
    auto undated = entry("u", 1);
    EXPECT_EQ(HVNLargeAndOldFileScanner::fileModifyDateDescription(*undated, hvn::Date{now}), "");
}

}  // namespace
