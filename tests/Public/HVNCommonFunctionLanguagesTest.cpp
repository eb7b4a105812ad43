#include <gtest/gtest.h>

#include <cstdlib>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/UserDefaults.h"
#include "Support/TestRoots.h"

using hvn::Value;

namespace {

Value entry(const std::string& code, const std::string& language, const std::string& country) {
    return Value(hvn::Dictionary{
        {"country", Value(country)}, {"language", Value(language)}, {"localCode", Value(code)}});
}

class LanguagesTest : public hvn::test::RootsTest {
protected:
    void SetUp() override {
        unsetenv("XKB_DEFAULT_LAYOUT");
        hvn::UserDefaults::standardUserDefaults().reload();
    }
    void TearDown() override { unsetenv("XKB_DEFAULT_LAYOUT"); }
    static void prefer(std::initializer_list<const char*> codes) {
        hvn::Array a;
        for (const char* c : codes) a.emplace_back(c);
        hvn::UserDefaults::standardUserDefaults().setObject(Value(a), "AppleLanguages");
    }
    static const Value kEnglish;
};

const Value LanguagesTest::kEnglish = entry("en", "English", "us");

}  // namespace

TEST_F(LanguagesTest, PreferredLanguagesAreNamedInTheirOwnLanguage) {
    prefer({"fr", "zh-Hans", "pt-BR", "xx-YY", "de_CH"});
    hvn::Array langs = HVNCommonFunction::systemLanguages();
    ASSERT_EQ(langs.size(), 4u);  // "xx" is not in the language table
    EXPECT_EQ(langs[0], entry("fr", "Français", "fr"));
    EXPECT_EQ(langs[1], entry("zh-Hans", "中文（简体）", "cn"));
    EXPECT_EQ(langs[2], entry("pt-BR", "Português (Brasil)", "pt"));
    EXPECT_EQ(langs[3]["localCode"], Value("de_CH"));
    EXPECT_EQ(langs[3]["language"], Value("Deutsch (Schweiz)"));
}

TEST_F(LanguagesTest, PreferredLanguagesFallBackToTheEnvironment) {
    std::string saved[3];
    const char* names[] = {"LANGUAGE", "LC_ALL", "LANG"};
    bool had[3];
    for (int i = 0; i < 3; ++i) {
        const char* v = std::getenv(names[i]);
        had[i] = v != nullptr;
        saved[i] = v ? v : "";
    }
    setenv("LANGUAGE", "", 1);
    setenv("LC_ALL", "ja_JP.UTF-8", 1);
    EXPECT_EQ(HVNCommonFunction::systemLanguages(), (hvn::Array{entry("ja", "日本語", "jp")}));
    setenv("LC_ALL", "C", 1);
    EXPECT_TRUE(HVNCommonFunction::systemLanguages().empty());
    for (int i = 0; i < 3; ++i) {
        if (had[i]) {
            setenv(names[i], saved[i].c_str(), 1);
        } else {
            unsetenv(names[i]);
        }
    }
}

TEST_F(LanguagesTest, NeverRemovedStartsWithEnglishAndTheFirstTwoPreferred) {
    prefer({"en", "fr-CA", "de"});
    hvn::Array kept = HVNCommonFunction::unableDeleteLanguages();
    // en equals the built-in English entry and is not repeated; "de" is third and not kept.
    EXPECT_EQ(kept, (hvn::Array{kEnglish, entry("fr-CA", "Français (Canada)", "fr")}));
}

TEST_F(LanguagesTest, VariantsOfKeptLanguagesAreAddedAndTwiceGatheredOnesTwice) {
    prefer({"pt-BR", "pt-PT", "pt", "es"});
    hvn::Array kept = HVNCommonFunction::unableDeleteLanguages();
    Value pt = entry("pt", "Português", "pt");
    EXPECT_EQ(kept, (hvn::Array{kEnglish, entry("pt-BR", "Português (Brasil)", "pt"),
                                entry("pt-PT", "Português (Portugal)", "pt"), pt, pt}));
}

TEST_F(LanguagesTest, KeyboardLanguagesAreKept) {
    prefer({"en"});
    roots.writeFile(roots.root() + "/etc/default/keyboard", "XKBMODEL=\"pc105\"\nXKBLAYOUT=\"de,us\"\n");
    EXPECT_EQ(HVNCommonFunction::inputSource(), (std::vector<std::string>{"de"}));
    EXPECT_EQ(HVNCommonFunction::unableDeleteLanguages(),
              (hvn::Array{kEnglish, entry("de", "Deutsch", "de")}));

    setenv("XKB_DEFAULT_LAYOUT", "ch", 1);
    EXPECT_EQ(HVNCommonFunction::inputSource(), (std::vector<std::string>{"de", "fr", "it"}));
    setenv("XKB_DEFAULT_LAYOUT", "unknown-layout", 1);
    EXPECT_EQ(HVNCommonFunction::inputSource(), std::nullopt);
}

TEST_F(LanguagesTest, EnglishNamesReplaceTheOwnNamesAndMergeEqualEntries) {
    hvn::Array in{entry("fr", "Français", "fr"), entry("zh-Hans", "中文（简体）", "cn"),
                  entry("fr", "French", "fr"), entry("qq", "Made up", "zz")};
    EXPECT_EQ(HVNCommonFunction::changeLanguageNameToEnglish(in),
              (hvn::Array{entry("fr", "French", "fr"), entry("zh-Hans", "Chinese (Simplified)", "cn"),
                          entry("qq", "Made up", "zz")}));
}

TEST_F(LanguagesTest, SameKindMatchesTheBaseCodeOfPreferredLanguages) {
    prefer({"zh-Hant", "en-GB", "zh_HK", "zh-Hans"});
    hvn::Array same = HVNCommonFunction::thesameKindLanguages("zh-TW");
    ASSERT_EQ(same.size(), 3u);
    EXPECT_EQ(same[0]["localCode"], Value("zh-Hant"));
    EXPECT_EQ(same[1]["localCode"], Value("zh_HK"));
    EXPECT_EQ(same[2]["localCode"], Value("zh-Hans"));
    EXPECT_TRUE(HVNCommonFunction::thesameKindLanguages("ja").empty());
}

TEST_F(LanguagesTest, FirstLaunchStoresTheKeptLanguagesInEnglish) {
    prefer({"fr-CA", "it"});
    HVNCommonFunction::initialSettingInfo();
    EXPECT_EQ(
        HVNCommonFunction::getSettingValueByKey("Language"),
        Value(hvn::Array{kEnglish, entry("fr-CA", "French (Canada)", "fr"), entry("it", "Italian", "it")}));
}

TEST_F(LanguagesTest, AMissingLanguageTableKnowsOnlyEnglish) {
    setenv("HALVORN_BUNDLE", (roots.base() + "/Empty.app").c_str(), 1);
    prefer({"fr", "de"});
    EXPECT_TRUE(HVNCommonFunction::systemLanguages().empty());
    EXPECT_EQ(HVNCommonFunction::unableDeleteLanguages(), (hvn::Array{kEnglish}));
}
