#include "HVN/Code/ToolBox/Uninstall/HVNUninstallFilters.h"

#include <gtest/gtest.h>

namespace {

HVNAppItemPtr item(const std::string& name, const std::string& size = "0",
                   std::optional<double> usedDaysAgo = {}, double now = 1'700'000'000) {
    auto i = std::make_shared<HVNAppItem>();
    i->name = name;
    i->appSize = size;
    if (usedDaysAgo) i->lastUseDate = hvn::Date{now - *usedDaysAgo * 86400};
    return i;
}

std::vector<std::string> names(const HVNAppItemList& items) {
    std::vector<std::string> out;
    for (const auto& i : items) out.push_back(i->name);
    return out;
}

}  // namespace

// Below 30 the title names the threshold itself, not half of it.
TEST(HVNUninstallFiltersTest, DateSliderTitleAlwaysNamesTheThresholdInUse) {
    EXPECT_EQ(HVNUninstallFilters::dateFilter(0).title, "0 day");
    EXPECT_EQ(HVNUninstallFilters::dateFilter(0).thresholdDays, 0);
    auto twenty = HVNUninstallFilters::dateFilter(20);
    EXPECT_EQ(twenty.title, "20 days");
    EXPECT_DOUBLE_EQ(twenty.thresholdDays, 20);
    auto thirty = HVNUninstallFilters::dateFilter(30);  // 45 days
    EXPECT_DOUBLE_EQ(thirty.thresholdDays, 45);
    EXPECT_EQ(thirty.title, "2 months");
    auto sixty = HVNUninstallFilters::dateFilter(60);  // 201 days
    EXPECT_DOUBLE_EQ(sixty.thresholdDays, 201);
    EXPECT_EQ(sixty.title, "7 months");
    auto year = HVNUninstallFilters::dateFilter(99);
    EXPECT_EQ(year.title, "1 year");
    EXPECT_DOUBLE_EQ(year.thresholdDays, 396);
    EXPECT_EQ(HVNUninstallFilters::dateFilter(-3).title, "0 day");
    EXPECT_EQ(HVNUninstallFilters::sizeTitle(0), "0 M");
    EXPECT_EQ(HVNUninstallFilters::sizeTitle(12.4), "12 M");
}

TEST(HVNUninstallFiltersTest, SizeAndDateFiltersKeepWhatIsBelowTheirLimits) {
    const hvn::Date now{1'700'000'000};
    EXPECT_TRUE(HVNUninstallFilters::passesSize(*item("a", "999999"), 1));
    EXPECT_FALSE(HVNUninstallFilters::passesSize(*item("a", "1000000"), 1));
    EXPECT_TRUE(HVNUninstallFilters::passesSize(*item("a", "5e12"), 0));  // off
    EXPECT_TRUE(HVNUninstallFilters::passesSize(*item("a", "1500000.000000"), 2));

    EXPECT_TRUE(HVNUninstallFilters::passesDate(*item("a", "0", 19.5), 20, now));
    EXPECT_FALSE(HVNUninstallFilters::passesDate(*item("a", "0", 20), 20, now));
    EXPECT_TRUE(HVNUninstallFilters::passesDate(*item("a", "0"), 20, now));       // never used
    EXPECT_TRUE(HVNUninstallFilters::passesDate(*item("a", "0", 5000), 0, now));  // off
}

TEST(HVNUninstallFiltersTest, SearchAndSortIgnoreCaseAndKeepTies) {
    HVNAppItemList list = {item("beta", "10", 3), item("Éditeur", "30"), item("alpha", "30", 9),
                           item("Zed", "20", 1)};
    EXPECT_EQ(names(HVNUninstallFilters::search(list, "éD")), (std::vector<std::string>{"Éditeur"}));
    EXPECT_EQ(names(HVNUninstallFilters::search(list, "ED")), (std::vector<std::string>{"Zed"}));
    EXPECT_EQ(names(HVNUninstallFilters::search(list, "")).size(), 4u);

    HVNUninstallFilters::sort(list, HVNUninstallFilters::ByName);
    EXPECT_EQ(names(list), (std::vector<std::string>{"alpha", "beta", "Zed", "Éditeur"}));
    HVNUninstallFilters::sort(list, HVNUninstallFilters::BySize);  // stable: alpha before Éditeur
    EXPECT_EQ(names(list), (std::vector<std::string>{"alpha", "Éditeur", "Zed", "beta"}));
    HVNUninstallFilters::sort(list, HVNUninstallFilters::ByLastUsed);
    EXPECT_EQ(names(list), (std::vector<std::string>{"Éditeur", "alpha", "beta", "Zed"}));
    list.push_back(nullptr);
    HVNUninstallFilters::sort(list, HVNUninstallFilters::ByName);
    EXPECT_EQ(list.size(), 4u);
}
