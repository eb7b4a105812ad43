#include "Platform/DesktopEntry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Support/TestRoots.h"

using hvn::DesktopEntry;
namespace Exec = hvn::DesktopExec;
using Args = std::vector<std::string>;

namespace {

constexpr const char* kMain = DesktopEntry::kMainGroup;

DesktopEntry parsed(const std::string& text) {
    std::string error;
    auto e = DesktopEntry::parse(text, &error);
    EXPECT_TRUE(e.has_value()) << error;
    return e.value_or(DesktopEntry());
}

}  // namespace

TEST(DesktopEntryTest, ReadsGroupsKeysLocaleKeysAndEscapes) {
    auto e = parsed(
        "# leading comment\n"
        "\n"
        "[Desktop Entry]\n"
        "Name = Mail Checker \n"
        "Name[de]=Postprüfer\n"
        "Name[sr@latin]=Pošta\n"
        "Name[pt_BR]=Correio\n"
        "Comment=one\\stwo\\nthree\\tfour\\rfive\\\\six\\qseven\r\n"
        "Hidden=true\n"
        "X-Flag=1\n"
        "X-Bad=yes\n"
        "[Desktop Action New]\n"
        "Name=Other\n");
    EXPECT_EQ(e.groups(), (Args{"Desktop Entry", "Desktop Action New"}));
    EXPECT_EQ(e.value(kMain, "Name"), "Mail Checker");
    EXPECT_EQ(e.value("Desktop Action New", "Name"), "Other");
    EXPECT_EQ(e.value(kMain, "Comment"), "one two\nthree\tfour\rfive\\six\\qseven");
    EXPECT_EQ(e.rawValue(kMain, "Comment"), "one\\stwo\\nthree\\tfour\\rfive\\\\six\\qseven");
    EXPECT_FALSE(e.value(kMain, "Missing").has_value());

    EXPECT_EQ(e.localeValue(kMain, "Name", "de_DE.UTF-8"), "Postprüfer");
    EXPECT_EQ(e.localeValue(kMain, "Name", "pt_BR"), "Correio");
    EXPECT_EQ(e.localeValue(kMain, "Name", "pt_PT"), "Mail Checker");
    EXPECT_EQ(e.localeValue(kMain, "Name", "sr_RS@latin"), "Pošta");
    EXPECT_EQ(e.localeValue(kMain, "Name", ""), "Mail Checker");

    EXPECT_EQ(e.booleanValue(kMain, "Hidden"), true);
    EXPECT_EQ(e.booleanValue(kMain, "X-Flag"), true);
    EXPECT_FALSE(e.booleanValue(kMain, "X-Bad").has_value());
}

TEST(DesktopEntryTest, RewriteKeepsEveryUntouchedLine) {
    const std::string text =
        "# keep me\n"
        "[Desktop Entry]\n"
        "Name=App\n"
        "Exec=app %U\r\n"
        "\n"
        "# about the action\n"
        "[Desktop Action X]\n"
        "Name=X\n";
    auto e = parsed(text);
    EXPECT_EQ(e.serialize(), text);

    e.setValue(kMain, "Name", " padded ");
    e.setBoolean(kMain, "Hidden", true);
    e.setValue("Desktop Action X", "Icon", "x");
    e.setValue("X-Extra", "Key", "v");
    EXPECT_EQ(e.serialize(),
              "# keep me\n"
              "[Desktop Entry]\n"
              "Name=\\spadded\\s\n"
              "Exec=app %U\r\n"
              "Hidden=true\n"
              "\n"
              "# about the action\n"
              "[Desktop Action X]\n"
              "Name=X\n"
              "Icon=x\n"
              "\n"
              "[X-Extra]\n"
              "Key=v\n");
    auto again = parsed(e.serialize());
    EXPECT_EQ(again.value(kMain, "Name"), " padded ");
    EXPECT_EQ(again.value(kMain, "Exec"), "app %U");

    EXPECT_TRUE(e.removeKey(kMain, "Hidden"));
    EXPECT_FALSE(e.removeKey(kMain, "Hidden"));
    EXPECT_FALSE(e.setValue(kMain, "Bad Key", "v"));
    EXPECT_FALSE(e.setValue("Bad]", "Key", "v"));

    // Escaping round-trips every character that has an escape.
    const std::string odd = " a\\b\nc\td\re ";
    e.setValue(kMain, "Comment", odd);
    EXPECT_EQ(parsed(e.serialize()).value(kMain, "Comment"), odd);
}

TEST(DesktopEntryTest, BadInputIsAnErrorWithItsLine) {
    std::string error;
    struct Case {
        std::string text;
        std::string where;
    };
    const std::vector<Case> cases = {
        {"", "no [Desktop Entry]"},
        {"# only a comment\n", "no [Desktop Entry]"},
        {"[Other]\nName=x\n", "line 1"},
        {"Name=x\n[Desktop Entry]\n", "line 1"},
        {"[Desktop Entry]\njust words\n", "line 2"},
        {"[Desktop Entry]\nName\x01=x\n", "line 2"},
        {"[Desktop Entry\n", "line 1"},
        {std::string("[Desktop Entry]\nName=a\0b\n", 25), "NUL"},
        {"[Desktop Entry]\nName=" + std::string(DesktopEntry::kMaxLineLength, 'x') + "\n", "line 2"},
        {std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "NUL"},
        {"\x89PNG\r\n\x1a\n", "line 1"},
    };
    for (const auto& c : cases) {
        error.clear();
        EXPECT_FALSE(DesktopEntry::parse(c.text, &error).has_value()) << c.text.substr(0, 40);
        EXPECT_NE(error.find(c.where), std::string::npos) << error;
    }
    // The longest line allowed still reads.
    EXPECT_TRUE(
        DesktopEntry::parse("[Desktop Entry]\nN=" + std::string(DesktopEntry::kMaxLineLength - 2, 'x'))
            .has_value());
}

TEST(DesktopEntryTest, ReadFileRefusesLargeAndSpecialFiles) {
    hvn::test::TempRoots roots;
    std::string error;
    auto good = roots.writeFile(roots.base() + "/good.desktop", "[Desktop Entry]\nName=G\n");
    EXPECT_EQ(DesktopEntry::readFile(good)->value(kMain, "Name"), "G");

    auto big = roots.writeFile(roots.base() + "/big.desktop",
                               "[Desktop Entry]\n" + std::string(DesktopEntry::kMaxFileSize, '#') + "\n");
    EXPECT_FALSE(DesktopEntry::readFile(big, &error).has_value());
    EXPECT_NE(error.find("larger than"), std::string::npos) << error;

    EXPECT_FALSE(DesktopEntry::readFile(roots.base(), &error).has_value());
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_FALSE(DesktopEntry::readFile(roots.base() + "/none.desktop", &error).has_value());
    EXPECT_NE(error.find("none.desktop"), std::string::npos);
}

TEST(DesktopExecTest, SplitsByTheQuotingRulesAndDropsFieldCodes) {
    EXPECT_EQ(Exec::split("app"), (Args{"app"}));
    EXPECT_EQ(Exec::split("  app   -a\t-b  "), (Args{"app", "-a", "-b"}));
    EXPECT_EQ(Exec::split("\"/opt/My App/bin\" --name \"a \\\"b\\\" \\$c \\`d\\` \\\\e\""),
              (Args{"/opt/My App/bin", "--name", "a \"b\" $c `d` \\e"}));
    EXPECT_EQ(Exec::split("pre\"mid dle\"post"), (Args{"premid dlepost"}));
    EXPECT_EQ(Exec::split("app \"\""), (Args{"app", ""}));
    EXPECT_EQ(Exec::split("app %f %F %u %U %i %c %k %d %D %n %N %v %m"), (Args{"app"}));
    EXPECT_EQ(Exec::split("app --file=%f 100%% %"), (Args{"app", "--file=", "100%", "%"}));
    EXPECT_EQ(Exec::split("app %x"), (Args{"app", "%x"}));
    EXPECT_EQ(Exec::split("app \"50%%\""), (Args{"app", "50%"}));
    EXPECT_EQ(Exec::split(""), Args{});

    std::string error;
    EXPECT_FALSE(Exec::split("app \"open", &error).has_value());
    EXPECT_FALSE(error.empty());
}

TEST(DesktopExecTest, ProgramSkipsEnvAndAssignments) {
    EXPECT_EQ(Exec::programOf("/usr/bin/tool --x"), "/usr/bin/tool");
    EXPECT_EQ(Exec::programOf("env LANG=C GDK_SCALE=2 tool %U"), "tool");
    EXPECT_EQ(Exec::programOf("env -i -u HOME A=1 \"/opt/x y/run\""), "/opt/x y/run");
    EXPECT_EQ(Exec::programOf("/usr/bin/env -- tool"), "tool");
    EXPECT_EQ(Exec::programOf("A=1 B_2=x tool"), "tool");
    EXPECT_EQ(Exec::programOf("=notvar tool"), "=notvar");
    EXPECT_FALSE(Exec::programOf("env A=1").has_value());
    EXPECT_FALSE(Exec::programOf("%U").has_value());
    EXPECT_FALSE(Exec::programOf("\"unclosed").has_value());
}

TEST(DesktopExecTest, QuotedArgumentsSplitBackToThemselves) {
    const std::vector<std::string> args = {"/opt/My App/run", "plain", "",          "a\"b",  "$HOME",
                                           "back\\slash",     "50%",   "tab\there", "`cmd`", "semi;colon"};
    std::string line;
    for (const auto& a : args) line += (line.empty() ? "" : " ") + Exec::quoteArgument(a);
    // Through the file too: the value escapes apply on top of the Exec quoting.
    DesktopEntry e;
    e.setValue(kMain, "Exec", line);
    auto back = DesktopEntry::parse(e.serialize());
    ASSERT_TRUE(back);
    EXPECT_EQ(Exec::split(*back->value(kMain, "Exec")), args);
    EXPECT_EQ(Exec::quoteArgument("plain"), "plain");
}
