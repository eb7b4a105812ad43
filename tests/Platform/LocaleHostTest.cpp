#include <gtest/gtest.h>

#include <cstdlib>

#include "Platform/Host.h"
#include "Platform/Locale.h"
#include "Support/TestRoots.h"

using namespace hvn;

TEST(LocaleTest, DisplayNamesInAGivenLanguage) {
    EXPECT_EQ(Locale::displayName("en", "en"), std::optional<std::string>("English"));
    EXPECT_EQ(Locale::displayName("zh-Hans", "en"), std::optional<std::string>("Chinese (Simplified)"));
    EXPECT_EQ(Locale::displayName("pt_BR", "pt_BR"), std::optional<std::string>("português (Brasil)"));
    EXPECT_EQ(Locale::displayName("de", "fr"), std::optional<std::string>("allemand"));
    EXPECT_EQ(Locale::displayName("qq", "en"), std::nullopt);
    EXPECT_EQ(Locale::displayName("", "en"), std::nullopt);
}

TEST(LocaleTest, UpperFirstChangesOnlyTheFirstCharacter) {
    EXPECT_EQ(Locale::upperFirst("français (Canada)"), "Français (Canada)");
    EXPECT_EQ(Locale::upperFirst("été"), "Été");
    EXPECT_EQ(Locale::upperFirst("中文"), "中文");
    EXPECT_EQ(Locale::upperFirst(""), "");
}

TEST(LocaleTest, PosixLocaleNamesBecomeLanguageCodes) {
    EXPECT_EQ(Locale::languageCodeFromPosixLocale("en_US.UTF-8"), "en");
    EXPECT_EQ(Locale::languageCodeFromPosixLocale("en_GB.UTF-8"), "en-GB");
    EXPECT_EQ(Locale::languageCodeFromPosixLocale("fr_FR@euro"), "fr");
    EXPECT_EQ(Locale::languageCodeFromPosixLocale("pt_BR"), "pt-BR");
    EXPECT_EQ(Locale::languageCodeFromPosixLocale("zh_CN.GB2312"), "zh-Hans");
    EXPECT_EQ(Locale::languageCodeFromPosixLocale("zh_TW.UTF-8"), "zh-Hant");
    EXPECT_EQ(Locale::languageCodeFromPosixLocale("sr_RS@latin"), "sr-Latn");
    EXPECT_EQ(Locale::languageCodeFromPosixLocale("C"), "");
    EXPECT_EQ(Locale::languageCodeFromPosixLocale("C.UTF-8"), "");
    EXPECT_EQ(Locale::languageCodeFromPosixLocale("POSIX"), "");
    EXPECT_EQ(Locale::languageCodeFromPosixLocale("/etc/passwd"), "");
}

TEST(LocaleTest, EnvironmentLanguagesInOrderWithoutRepeats) {
    const char* names[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::string saved[4];
    bool had[4];
    for (int i = 0; i < 4; ++i) {
        const char* v = std::getenv(names[i]);
        had[i] = v != nullptr;
        saved[i] = v ? v : "";
        unsetenv(names[i]);
    }
    setenv("LANGUAGE", "fr_CA:fr:C", 1);
    setenv("LC_MESSAGES", "fr_FR.UTF-8", 1);
    setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(Locale::languagesFromEnvironment(), (std::vector<std::string>{"fr-CA", "fr"}));
    setenv("LC_ALL", "", 1);  // empty: not set
    unsetenv("LANGUAGE");
    unsetenv("LC_MESSAGES");
    EXPECT_EQ(Locale::languagesFromEnvironment(), (std::vector<std::string>{"de"}));
    setenv("LANG", "C.UTF-8", 1);
    EXPECT_TRUE(Locale::languagesFromEnvironment().empty());
    for (int i = 0; i < 4; ++i) {
        if (had[i]) {
            setenv(names[i], saved[i].c_str(), 1);
        } else {
            unsetenv(names[i]);
        }
    }
}

TEST(LocaleTest, KeyboardLanguagesFromTheSessionOrTheSystemKeyboardFile) {
    test::TempRoots roots;
    unsetenv("XKB_DEFAULT_LAYOUT");
    EXPECT_TRUE(Locale::keyboardInputLanguages().empty());
    roots.writeFile(roots.root() + "/etc/default/keyboard",
                    "# comment\nXKBLAYOUT=\"fr,us\"\nXKBVARIANT=\",\"\n");
    EXPECT_EQ(Locale::keyboardInputLanguages(), (std::vector<std::string>{"fr"}));
    roots.writeFile(roots.home() + "/.config/kxkbrc", "[Layout]\nLayoutList=ru,us\nUse=true\n");
    EXPECT_EQ(Locale::keyboardInputLanguages(), (std::vector<std::string>{"ru"}));
    setenv("XKB_DEFAULT_LAYOUT", "jp", 1);
    EXPECT_EQ(Locale::keyboardInputLanguages(), (std::vector<std::string>{"ja"}));
    unsetenv("XKB_DEFAULT_LAYOUT");
    EXPECT_EQ(Locale::languagesOfXkbLayout("de(nodeadkeys)"), (std::vector<std::string>{"de"}));
    EXPECT_TRUE(Locale::languagesOfXkbLayout("nonsense").empty());
}

TEST(HostTest, KernelReleaseNumbers) {
    auto v = Host::parseRelease("6.1.0-18-amd64");
    EXPECT_EQ(v.major, 6);
    EXPECT_EQ(v.minor, 1);
    EXPECT_EQ(v.patch, 0);
    v = Host::parseRelease("5.15");
    EXPECT_EQ(v.major, 5);
    EXPECT_EQ(v.minor, 15);
    EXPECT_EQ(v.patch, 0);
    v = Host::parseRelease("6.18.44-fc-v1300");
    EXPECT_EQ(v.patch, 44);
    v = Host::parseRelease("garbage");
    EXPECT_EQ(v.major, 0);
    EXPECT_GT(Host::systemVersion().major, 0);
    EXPECT_FALSE(Host::machine().empty());
}
