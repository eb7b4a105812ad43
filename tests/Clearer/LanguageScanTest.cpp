#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNScanLanguageOperation.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/UserDefaults.h"
#include "Support/Mounts.h"
#include "Support/TestRoots.h"

using hvn::Value;

namespace {

struct Recorder : HVNScanResultDelegate {
    int calls = 0;
    int32_t module = -1;
    HVNNodeList results;
    void finishScan(HVNNodeList r, int32_t m) override {
        ++calls;
        module = m;
        results = std::move(r);
    }
};

Value entry(const std::string& language, const std::string& country) {
    return Value(hvn::Dictionary{{"country", Value(country)}, {"language", Value(language)}});
}

class LanguageScanTest : public hvn::test::RootsTest {
protected:
    void SetUp() override {
        hvn::UserDefaults::standardUserDefaults().reload();
        keep({});
        table = {{"de", entry("German", "de")},
                 {"en", entry("English", "us")},
                 {"es", entry("Spanish", "es")},
                 {"fr", entry("French", "fr")}};
    }

    static void keep(std::initializer_list<const char*> codes) {
        hvn::Array records;
        for (const char* c : codes) records.emplace_back(hvn::Dictionary{{"localCode", Value(c)}});
        ASSERT_TRUE(HVNCommonFunction::changeSettingValue(Value(records), "Language"));
    }
    static void prefer(std::initializer_list<const char*> codes) {
        hvn::Array a;
        for (const char* c : codes) a.emplace_back(c);
        hvn::UserDefaults::standardUserDefaults().setObject(Value(a), "AppleLanguages");
    }

    std::string app(const std::string& name) const { return roots.root() + "/Applications/" + name; }
    // A localisation folder holding one file of `bytes` bytes; returns the folder.
    std::string lproj(const std::string& appName, const std::string& sub, size_t bytes) const {
        std::string folder = app(appName) + "/Contents/" + sub;
        roots.writeFile(folder + "/Localizable.strings", std::string(bytes, 's'));
        return folder;
    }
    HVNAppItemList apps(std::initializer_list<const char*> names) const {
        HVNAppItemList list;
        for (const char* n : names) {
            auto item = std::make_shared<HVNAppItem>();
            item->path = app(n);
            list.push_back(item);
        }
        return list;
    }

    HVNNodeList scan(const HVNAppItemList& applications, std::string* localCountry = nullptr) {
        Recorder rec;
        HVNScanLanguageOperation op(table, &rec);
        op.setApplications(applications);
        op.main();
        EXPECT_EQ(rec.calls, 1);
        EXPECT_EQ(rec.module, 8);
        if (localCountry) *localCountry = op.localCountry;
        return rec.results;
    }
    static std::vector<std::string> names(const HVNNodeList& nodes) {
        std::vector<std::string> out;
        for (const auto& n : nodes) out.push_back(n->name());
        return out;
    }
    static std::vector<std::string> sorted(std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    }

    hvn::Dictionary table;
};

}  // namespace

TEST_F(LanguageScanTest, FoldersAreGroupedByLanguageThenApplicationWithTheirSizes) {
    lproj("Foo.app", "Resources/English.lproj", 100);
    lproj("Foo.app", "Resources/en.lproj", 100);
    lproj("Foo.app", "Resources/en_GB.lproj", 100);
    const std::string de1 = lproj("Foo.app", "Resources/de.lproj", 1000);
    // A second folder of the language in an embedded framework, with a hidden file and a
    // sub-folder: everything that is not a folder counts.
    const std::string de2 = lproj("Foo.app", "Frameworks/Bar.framework/Resources/de.lproj", 1000);
    roots.writeFile(de2 + "/.hidden", std::string(10, 'h'));
    roots.writeFile(de2 + "/sub/deeper/more", std::string(1000, 'm'));
    // Folders of no language are walked into.
    const std::string de3 = lproj("Foo.app", "Resources/Unknown_thing.lproj/de.lproj", 0);
    const std::string de4 = lproj("Other.app", "Resources/de.lproj", 7);
    // A link named like a localisation folder is not one.
    ASSERT_EQ(symlink(de1.c_str(), (app("Other.app") + "/Contents/Resources/es.lproj").c_str()), 0);

    HVNNodeList result = scan(apps({"Foo.app", "Other.app", "Missing.app"}));
    ASSERT_EQ(result.size(), 1u);
    const auto& german = result[0];
    EXPECT_EQ(german->name(), "German");
    EXPECT_EQ(german->countryName, "de");
    EXPECT_EQ(german->icon, "de");
    EXPECT_EQ(german->isCheck, 1);
    ASSERT_EQ(german->countOfChildren(), 2u);

    const auto foo = german->objectInChildrenAtIndex(0);
    EXPECT_EQ(foo->name(), "Foo.app");
    EXPECT_EQ(foo->dirPath(), roots.root() + "/Applications");
    EXPECT_EQ(foo->isCheck, 1);
    EXPECT_EQ(foo->parentNode.lock(), german);
    ASSERT_TRUE(foo->removePaths);
    EXPECT_EQ(sorted(*foo->removePaths), sorted({de1, de2, de3}));
    // 1.1 x each folder's size, truncated per folder: 1100 + 2211 + 0.
    EXPECT_EQ(foo->fileSize, 1100 + 2211);

    const auto other = german->objectInChildrenAtIndex(1);
    EXPECT_EQ(other->name(), "Other.app");
    ASSERT_TRUE(other->removePaths);
    EXPECT_EQ(*other->removePaths, std::vector<std::string>{de4});
    EXPECT_EQ(other->fileSize, 7);  // 7.7 truncated
    EXPECT_EQ(german->fileSize, 1100 + 2211 + 7);
}

TEST_F(LanguageScanTest, KeptLanguagesStayAndBaseNeedsATableEntry) {
    const std::string fr = lproj("Foo.app", "Resources/fr.lproj", 10);
    const std::string french = lproj("Foo.app", "Resources/French.lproj", 10);
    const std::string frCA = lproj("Foo.app", "Resources/fr_CA.lproj", 10);
    const std::string ptBR = lproj("Foo.app", "Resources/pt-BR.lproj", 10);
    const std::string base = lproj("Foo.app", "Resources/Base.lproj", 10);

    HVNNodeList result = scan(apps({"Foo.app"}));
    ASSERT_EQ(names(result), std::vector<std::string>{"French"});
    EXPECT_EQ(sorted(*result[0]->objectInChildrenAtIndex(0)->removePaths), sorted({fr, french, frCA}));

    keep({"fr"});
    EXPECT_TRUE(scan(apps({"Foo.app"})).empty());
    EXPECT_FALSE(HVNScanLanguageOperation::isLanguageCanRemove("French", "fr"));
    EXPECT_FALSE(HVNScanLanguageOperation::isLanguageCanRemove("English", "en"));
    keep({"FRENCH"});  // the display name, ignoring case
    EXPECT_FALSE(HVNScanLanguageOperation::isLanguageCanRemove("French", "fr"));
    keep({"zh-Hans"});
    EXPECT_FALSE(HVNScanLanguageOperation::isLanguageCanRemove("Chinese", "zh"));
    EXPECT_TRUE(HVNScanLanguageOperation::isLanguageCanRemove("French", "fr"));

    keep({});
    table["pt"] = entry("Portuguese", "br");
    table["Base"] = entry("Base", "base");
    result = scan(apps({"Foo.app"}));
    ASSERT_EQ(sorted(names(result)), sorted({"Base", "French", "Portuguese"}));
    for (const auto& n : result) {
        const std::vector<std::string>& paths = *n->objectInChildrenAtIndex(0)->removePaths;
        if (n->name() == "Base") {
            EXPECT_EQ(paths, std::vector<std::string>{base});
        } else if (n->name() == "Portuguese") {
            EXPECT_EQ(paths, std::vector<std::string>{ptBR});
        }
    }
}

TEST_F(LanguageScanTest, LocalCountryIsTheFirstPreferredLanguageThatIsNotEnglish) {
    std::string country;
    prefer({"en", "fr"});
    scan({}, &country);
    EXPECT_EQ(country, "French");
    prefer({"en"});
    scan({}, &country);
    EXPECT_EQ(country, "Unknown");
    prefer({"de-CH", "fr"});
    scan({}, &country);
    EXPECT_EQ(country, "German");
}

TEST_F(LanguageScanTest, SizingEndsInLinkCyclesAndCountsEachFolderOnce) {
    const std::string de = lproj("Foo.app", "Resources/de.lproj", 100);
    ASSERT_EQ(symlink("..", (de + "/loop").c_str()), 0);  // counted by its own length, 2
    ASSERT_EQ(symlink(de.c_str(), (de + "/again").c_str()), 0);
    const size_t linkLength = 2 + de.size();

    Recorder rec;
    HVNScanLanguageOperation op(table, &rec);
    EXPECT_EQ(op.directorySize(de), static_cast<int64_t>(100 + linkLength));

    // A folder mounted inside itself is the same folder (device and inode): entered once.
    const std::string inner = roots.makeDir(de + "/inner");
    hvn::test::ScopedMount mount = hvn::test::ScopedMount::bind(de, inner);
    if (!mount.mounted()) GTEST_SKIP() << mount.why();
    EXPECT_EQ(op.directorySize(de), static_cast<int64_t>(100 + linkLength));
    HVNNodeList result = scan(apps({"Foo.app"}));
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0]->fileSize, static_cast<int64_t>(1.1 * static_cast<double>(100 + linkLength)));
}

TEST_F(LanguageScanTest, ACancelledScanReportsNothing) {
    lproj("Foo.app", "Resources/de.lproj", 100);
    Recorder rec;
    HVNScanLanguageOperation op(table, &rec);
    op.setApplications(apps({"Foo.app"}));
    op.cancel();
    op.scanLanguage();
    EXPECT_EQ(rec.calls, 0);
}
