// End-to-end tests of `halvorn care` for the scanners that look at applications, pictures,
// aliases, login items, leftovers and the home folder's permissions: a temporary home and
// system root hold what each reports and what each must leave alone; the JSON report is
// checked entry by entry, and --fix against a listing of both roots before and after.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>

#include "CLI/CareTestSupport.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/MachO.h"
#include "Support/AliasFixtures.h"
#include "Support/MachOFixtures.h"

namespace {

using namespace caretest;
using namespace hvn::test;

class CareScannersTest : public CareTestBase {
protected:
    void SetUp() override {
        if (HVNCommonFunction::getPCArchitecture() != "x86_64") GTEST_SKIP() << "the fixtures are x86_64 binaries";
    }

    // An application under the system root with a bundle identifier and an executable.
    std::string app(const std::string& name, const std::string& bundleId, const std::string& executable) {
        std::string bundle = makeAppBundle(r("Applications"), name + ".app", executable, name);
        roots.writeFile(bundle + "/Contents/Info.plist",
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                        "<key>CFBundleIdentifier</key><string>" + bundleId + "</string>"
                        "<key>CFBundleExecutable</key><string>" + name + "</string></dict></plist>\n");
        return bundle;
    }
    std::string plist(const std::string& path, const std::string& body) {
        return roots.writeFile(path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" +
                                         body + "</dict></plist>\n");
    }

    void makeHome() {
        // Applications: Foo is universal (x86_64 and i386) with French in two places, Bar is
        // thin with Japanese; English, Base and the kept languages stay.
        foo = app("Foo", "com.example.Foo", fatOf({kCpuX86_64, kCpuI386}, 4096));
        bar = app("Bar", "com.example.bar", thinMachO(kCpuX86_64, 3, 4096));
        for (const char* l : {"en", "fr", "Base"}) file(foo + "/Contents/Resources/" + l + ".lproj/Localizable.strings", 1000);
        file(foo + "/Contents/Frameworks/Kit.framework/Resources/fr.lproj/Kit.strings", 500);
        for (const char* l : {"English", "ja"}) file(bar + "/Contents/Resources/" + l + ".lproj/Localizable.strings", 300);

        // The photo library: one preview with its master, one preview without.
        const std::string lib = h("Pictures/iPhoto Library.photolibrary");
        preview = roots.writeFile(lib + "/Previews/2012/05/Event/IMG_1.jpg", "\xff\xd8\xff preview");
        master = roots.writeFile(lib + "/Masters/2012/05/IMG_1.jpg", std::string("\xff\xd8\xff ") + std::string(2000, 'm'));
        roots.writeFile(lib + "/Previews/2012/05/Event/IMG_2.jpg", "\xff\xd8\xff lonely");

        // Aliases: to a file that is gone, to one in the trash, to one that exists; a dangling
        // symbolic link is no alias.
        file(h("Documents/keep.txt"), 10);
        file(h(".Trash/old.txt"), 10);
        brokenAlias = writeDataForkAlias(h("Documents/Gone alias"), h("Documents/gone.txt"));
        trashAlias = writeDataForkAlias(h("Desktop/Old alias"), h(".Trash/old.txt"));
        writeDataForkAlias(h("Documents/Keep alias"), h("Documents/keep.txt"));
        fs::create_symlink(h("Documents/nowhere"), h("Documents/dangling"));

        // Login items: an autostart entry whose program is gone, one whose program exists;
        // launch agents likewise.
        goneEntry = roots.writeFile(h(".config/autostart/gone.desktop"),
                                    "[Desktop Entry]\nType=Application\nName=Gone Helper\nExec=/opt/gone/helper %U\n");
        ::chmod(roots.writeFile(r("usr/bin/okprog"), "#!/bin/sh\n").c_str(), 0755);
        roots.writeFile(h(".config/autostart/ok.desktop"), "[Desktop Entry]\nType=Application\nName=OK\nExec=okprog\n");
        goneAgent = plist(h("Library/LaunchAgents/com.orphan.agent.plist"),
                          "<key>Label</key><string>com.orphan.agent</string><key>ProgramArguments</key>"
                          "<array><string>/Applications/Gone.app/Contents/MacOS/Gone</string></array>");
        plist(h("Library/LaunchAgents/com.example.ok.plist"),
              "<key>Label</key><string>com.example.ok</string><key>Program</key>"
              "<string>/Applications/Foo.app/Contents/MacOS/Foo</string>");

        // Preferences: one an installed application claims, one nobody claims.
        file(h("Library/Preferences/com.example.foo.plist"), 5);
        orphanPrefs = file(h("Library/Preferences/com.orphan.thing.plist"), 7);

        // The home's permissions: one file anybody may write.
        openFile = file(h("Documents/open.txt"), 3);
        ::chmod(openFile.c_str(), 0666);

        settings("set DiskCleanModules '[\"Language Files\", \"Universal Binaries File\", \"iPhoto Cleanup\", "
                 "\"Disk Check\"]'");
        settings("set SystemCleanModules '[\"Shortcut Clean\", \"Leftover\", \"Broken Login Items\"]'");
        settings("set Language '[{\"localCode\": \"en\", \"language\": \"English\"}]'");
    }

    static std::set<std::string> names(const json* m) {
        std::set<std::string> out;
        if (!m) return out;
        for (const auto& n : (*m)["items"]) out.insert(n["name"].get<std::string>());
        return out;
    }

    std::string foo, bar, preview, master, brokenAlias, trashAlias, goneEntry, goneAgent, orphanPrefs, openFile;
};

TEST_F(CareScannersTest, ReportsWhatEachScannerFinds) {
    makeHome();
    json doc = careJson();
    EXPECT_EQ(moduleIds(doc, "System"), (std::vector<int>{15, 16, 18}));
    EXPECT_EQ(moduleIds(doc, "Disk"), (std::vector<int>{8, 10, 13, 19}));

    // Languages: French (two folders of Foo) and Japanese; English, en, Base never.
    const json* languages = module(doc, 8);
    ASSERT_TRUE(languages);
    EXPECT_EQ(names(languages), (std::set<std::string>{"French", "Japanese"}));
    for (const auto& language : (*languages)["items"]) {
        ASSERT_EQ(language["children"].size(), 1u) << language;
        const json& child = language["children"][0];
        std::set<std::string> paths(child["removePaths"].begin(), child["removePaths"].end());
        if (language["name"] == "French") {
            EXPECT_EQ(child["name"], "Foo.app");
            EXPECT_EQ(paths, (std::set<std::string>{foo + "/Contents/Resources/fr.lproj",
                                                    foo + "/Contents/Frameworks/Kit.framework/Resources/fr.lproj"}));
            EXPECT_GE(child["fileSize"].get<int64_t>(), 1650);  // 1.1 times the contents at least
        } else {
            EXPECT_EQ(paths, std::set<std::string>{bar + "/Contents/Resources/ja.lproj"});
        }
        EXPECT_FALSE(language.contains("filePath"));
    }

    const json* photos = module(doc, 10);
    ASSERT_TRUE(photos);
    ASSERT_EQ((*photos)["items"].size(), 1u);
    EXPECT_EQ((*photos)["items"][0]["filePath"], master);
    EXPECT_EQ((*photos)["items"][0]["prePath"], preview);
    EXPECT_EQ((*photos)["items"][0]["fileSize"], fs::file_size(master) + fs::file_size(preview));

    // Only Foo holds another architecture; its saving is the i386 slice and more.
    const json* binaries = module(doc, 13);
    ASSERT_TRUE(binaries);
    ASSERT_EQ((*binaries)["items"].size(), 1u);
    EXPECT_EQ((*binaries)["items"][0]["filePath"], foo);
    EXPECT_GE((*binaries)["items"][0]["fileSize"].get<int64_t>(), 4096);

    EXPECT_EQ(names(module(doc, 15)), (std::set<std::string>{"Gone alias", "Old alias"}));
    EXPECT_EQ(names(module(doc, 16)), std::set<std::string>{"com.orphan.thing.plist"});

    const json* login = module(doc, 18);
    ASSERT_TRUE(login);
    ASSERT_EQ((*login)["items"].size(), 2u);
    EXPECT_EQ((*login)["items"][0]["name"], "Gone Helper");  // login items come first
    EXPECT_EQ((*login)["items"][0]["isLogin"], true);
    EXPECT_EQ((*login)["items"][1]["filePath"], goneAgent);

    const json* check = module(doc, 19);
    ASSERT_TRUE(check);
    ASSERT_EQ((*check)["items"].size(), 1u);
    EXPECT_EQ((*check)["items"][0]["hasIssue"], true);
    EXPECT_EQ((*check)["items"][0]["issueCount"], 1);
    EXPECT_NE((*check)["items"][0]["name"].get<std::string>().find(openFile), std::string::npos);
}

TEST_F(CareScannersTest, FixChangesExactlyWhatTheRulesSay) {
    makeHome();
    const std::string previewBytes = fileBytes(preview);
    const Listing before = listing();
    CareRun run = care("--json --fix --yes");
    ASSERT_EQ(run.rc, 0) << run.out << run.err;
    json doc = json::parse(run.out, nullptr, false);
    ASSERT_TRUE(doc.is_object()) << run.out;
    EXPECT_TRUE(doc["clean"]["notRemoved"].empty()) << doc["clean"];
    EXPECT_NE(doc["clean"]["notice"].get<std::string>().find("issues have been fixed"), std::string::npos);

    const Listing after = listing();
    std::set<std::string> changed;
    for (const auto& d : differences(before, after)) {
        // The program's own settings are not the user's files.
        if (d.find("/Library/Preferences/com.corvane.Halvorn.plist") != std::string::npos) continue;
        changed.insert(d);
    }
    const std::string fr = foo + "/Contents/Resources/fr.lproj";
    const std::string kitFr = foo + "/Contents/Frameworks/Kit.framework/Resources/fr.lproj";
    const std::string ja = bar + "/Contents/Resources/ja.lproj";
    std::set<std::string> expected = {
        "gone: " + fr, "gone: " + fr + "/Localizable.strings", "gone: " + kitFr, "gone: " + kitFr + "/Kit.strings",
        "gone: " + ja, "gone: " + ja + "/Localizable.strings",
        "changed: " + master, "gone: " + preview,
        "changed: " + foo + "/Contents/MacOS/Foo",
        "gone: " + brokenAlias, "gone: " + trashAlias,
        "gone: " + goneEntry, "gone: " + goneAgent, "gone: " + orphanPrefs,
        "changed: " + openFile,
    };
    // Folders whose entries changed show as changed too (their modification times).
    for (const auto& d : changed) {
        if (expected.count(d)) continue;
        const std::string path = d.substr(d.find(' ') + 1);
        EXPECT_TRUE(d.rfind("changed: ", 0) == 0 && after.count(path) && after.at(path).isDir()) << d;
    }
    for (const auto& e : expected) EXPECT_TRUE(changed.count(e)) << e;

    EXPECT_EQ(fileBytes(master), previewBytes);
    auto header = hvn::MachO::readHeader(foo + "/Contents/MacOS/Foo");
    ASSERT_TRUE(header.has_value());
    EXPECT_FALSE(header->isFat());
    EXPECT_EQ(header->cpuTypes(), std::vector<int32_t>{kCpuX86_64});
    EXPECT_EQ(after.at(openFile).mode & 0002, 0u);  // nobody else may write it now

    // A second scan finds nothing left to fix, and the repaired home is not checked again
    // within the week.
    json again = careJson();
    for (int id : {8, 10, 13, 15, 16, 18}) {
        const json* m = module(again, id);
        ASSERT_TRUE(m) << id;
        EXPECT_TRUE((*m)["items"].empty()) << id << (*m)["items"];
    }
    const json* check = module(again, 19);
    ASSERT_TRUE(check);
    EXPECT_EQ((*check)["items"][0]["hasIssue"], false);
    EXPECT_EQ((*check)["items"][0]["isCheck"], 0);
}

}  // namespace
