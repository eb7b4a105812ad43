// End-to-end test of the cookies, bad cookies and signature modules of `halvorn care`: a
// temporary home with the cookie stores of Safari, Chrome, Chromium and Firefox (old and
// new layouts and schemas, classic and Snap), a white list, and files that carry test
// signatures at, before and at the very end of their offsets.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "Platform/PropertyList.h"
#include "Support/CookieFixtures.h"
#include "Support/TestRoots.h"

namespace {

using nlohmann::json;
using Strings = std::vector<std::string>;
using StringSet = std::set<std::string>;
using hvn::test::storeHosts;

const std::string kSigA = "HALVORN-TEST-SIGNATURE-A:not-a-virus";
const std::string kSigB = "HALVORN-TEST-SIGNATURE-B:not-a-virus";

class CareSecurityTest : public hvn::test::RootsTest {
protected:
    std::string h(const std::string& rel) const { return roots.home() + "/" + rel; }
    std::string safari() const {
        return h("Library/Containers/com.apple.Safari/Data/Library/Cookies/Cookies.binarycookies");
    }
    std::string chrome() const { return h("Library/Application Support/Google/Chrome/Default/Cookies"); }
    std::string chromium() const { return h(".config/chromium/Default/Network/Cookies"); }
    std::string firefoxOld() const {
        return h("Library/Application Support/Firefox/Profiles/a1.default/cookies.sqlite");
    }
    std::string firefoxSnap() const { return h("snap/firefox/common/.mozilla/firefox/b2.default/cookies.sqlite"); }

    void SetUp() override {
        hvn::test::writeSafariJar(safari(), {".doubleclick.net", "shop.example", "kept.example"});
        hvn::test::writeChromeStore(chrome(), {".criteo.com", "news.example"});
        hvn::test::writeChromeStore(chromium(), {"adnxs.com", ".adnxs.com", "www.adnxs.com", "mail.example"});
        hvn::test::writeFirefoxStore(firefoxOld(), {".taboola.com", "kept.example"}, true);
        hvn::test::writeFirefoxStore(firefoxSnap(), {".outbrain.com", "blog.example"}, false);
        hvn::Array kept{hvn::Value("kept.example")};
        ASSERT_TRUE(hvn::PropertyList::writeFile(h("Library/ignore.plist"), hvn::Value(kept)));

        roots.writeFile(h("Documents/a.bin"), kSigA + " and more");
        roots.writeFile(h("Documents/b.bin"), std::string(64, 'x') + kSigB + "!");
        roots.writeFile(h("Documents/end.bin"), std::string(64, 'x') + kSigB);         // ends on the last byte
        roots.writeFile(h("Documents/before.bin"), std::string(63, 'x') + kSigB + "!!");  // one byte early
        std::filesystem::create_directories(h("Links"));
        std::filesystem::create_directory_symlink(h("Documents"), h("Links/docs"));
        std::filesystem::create_directory_symlink(h("Documents"), h("Links/docs-again"));

        ASSERT_EQ(settings("set SystemCleanModules '[\"Cookies\"]'"), 0);
        ASSERT_EQ(settings("set DiskCleanModules '[]'"), 0);
    }
    int settings(const std::string& args) {
        return hvn::test::runCommand("HALVORN_LOG=quiet " + hvn::test::cliPath() + " settings " + args + " >/dev/null 2>&1");
    }
    json care(const std::string& args, int expectRc = 0) {
        std::string out;
        int rc = hvn::test::runCommand("cd / && HALVORN_LOG=quiet HALVORN_AUTH=deny " + hvn::test::cliPath() +
                                           " care --json " + args + " </dev/null 2>/dev/null",
                                       &out);
        EXPECT_EQ(rc, expectRc) << out;
        json doc = json::parse(out, nullptr, false);
        EXPECT_TRUE(doc.is_object()) << out;
        return doc;
    }
    static json module(const json& doc, int id) {
        for (const auto& c : doc["categories"]) {
            for (const auto& m : c["modules"]) {
                if (m["id"] == id) return m;
            }
        }
        return json();
    }
    static StringSet names(const json& items) {
        StringSet out;
        for (const auto& i : items) out.insert(i["name"].get<std::string>());
        return out;
    }
};

TEST_F(CareSecurityTest, ReportsCookiesBadCookiesAndSignaturesAndFixRemovesExactlyTheTickedOnes) {
    json doc = care("--only 4,21,22");
    ASSERT_TRUE(module(doc, 4).is_object());
    EXPECT_EQ(names(module(doc, 4)["items"]),
              (StringSet{"doubleclick.net", "shop.example", "criteo.com", "news.example", "adnxs.com",
                         "www.adnxs.com", "mail.example", "taboola.com", "outbrain.com", "blog.example"}));

    json bad = module(doc, 22)["items"];
    ASSERT_EQ(bad.size(), 3u) << bad.dump();
    EXPECT_EQ(bad[0]["name"], "Safari");
    EXPECT_EQ(bad[1]["name"], "Firefox");
    EXPECT_EQ(bad[2]["name"], "Chrome");
    StringSet domains;
    for (const auto& g : bad) {
        for (const auto& c : g["children"]) {
            const std::string name = c["name"];
            const std::string domain = c["cookieDomain"];
            EXPECT_EQ(name.rfind(domain + " [", 0), 0u) << name;
            EXPECT_EQ(name.back(), ']');
            domains.insert(g["name"].get<std::string>() + ":" + domain);
        }
    }
    EXPECT_EQ(domains, (StringSet{"Safari:doubleclick.net", "Firefox:taboola.com", "Firefox:outbrain.com",
                                  "Chrome:criteo.com", "Chrome:adnxs.com"}));

    json viruses = module(doc, 21)["items"];
    StringSet found;
    for (const auto& v : viruses) found.insert(v["name"].get<std::string>() + "@" + v["filePath"].get<std::string>());
    // Reached three times (directly and through two links), reported once under the real path.
    EXPECT_EQ(found, (StringSet{"Halvorn-Test-Signature-A@" + h("Documents/a.bin"),
                                "Halvorn-Test-Signature-B@" + h("Documents/b.bin")}));

    // Clean the bad cookies and the viruses; the ordinary cookies stay.
    json fixed = care("--only 21,22 --fix --yes");
    EXPECT_TRUE(fixed["clean"]["notRemoved"].empty()) << fixed["clean"].dump();
    EXPECT_FALSE(std::filesystem::exists(h("Documents/a.bin")));
    EXPECT_FALSE(std::filesystem::exists(h("Documents/b.bin")));
    EXPECT_TRUE(std::filesystem::exists(h("Documents/end.bin")));
    EXPECT_TRUE(std::filesystem::exists(h("Documents/before.bin")));
    EXPECT_TRUE(std::filesystem::is_symlink(h("Links/docs")));
    EXPECT_EQ(hvn::test::safariJarDomains(safari()), (Strings{"shop.example", "kept.example"}));
    EXPECT_EQ(storeHosts(chrome()), (Strings{"news.example"}));
    EXPECT_EQ(storeHosts(chromium()), (Strings{"mail.example"}));
    EXPECT_EQ(storeHosts(firefoxOld()), (Strings{"kept.example"}));
    EXPECT_EQ(storeHosts(firefoxSnap()), (Strings{"blog.example"}));

    // Then every ordinary cookie but the kept ones.
    care("--only 4 --fix --yes");
    EXPECT_EQ(hvn::test::safariJarDomains(safari()), (Strings{"kept.example"}));
    EXPECT_TRUE(storeHosts(chrome()).empty());
    EXPECT_TRUE(storeHosts(chromium()).empty());
    EXPECT_EQ(storeHosts(firefoxOld()), (Strings{"kept.example"}));
    EXPECT_TRUE(storeHosts(firefoxSnap()).empty());
    EXPECT_TRUE(module(care("--only 4,21,22"), 4)["items"].empty());
}

TEST_F(CareSecurityTest, ALockedStoreIsReportedNotCleaned) {
    // Another process holds Chrome's store in a write transaction for the whole run, as a
    // browser writing its cookies does: it can be read, not changed.
    const std::string lockScript = roots.base() + "/lock.sql";
    roots.writeFile(lockScript, "BEGIN IMMEDIATE; SELECT count(*) FROM cookies;\n.shell sleep 20\nCOMMIT;\n");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // A group of its own, and no hold on the test's output, so that the sleep goes too.
        setpgid(0, 0);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        execlp("sqlite3", "sqlite3", chrome().c_str(), (".read " + lockScript).c_str(), (char*)nullptr);
        _exit(127);
    }
    usleep(300 * 1000);
    json fixed = care("--only 22 --fix --yes", 1);
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    StringSet reported;
    for (const auto& e : fixed["clean"]["notRemoved"]) {
        reported.insert(e["filePath"].get<std::string>());
        EXPECT_NE(e["reason"].get<std::string>().find("locked"), std::string::npos) << e.dump();
    }
    // Both Chrome domains: the locked store is one of the Chrome stores each goes through.
    EXPECT_EQ(reported, (StringSet{"Chrome cookies of criteo.com", "Chrome cookies of adnxs.com"}))
        << fixed["clean"].dump();
    EXPECT_EQ(storeHosts(chrome()), (Strings{".criteo.com", "news.example"}));
    // The other browsers' bad cookies went.
    EXPECT_EQ(hvn::test::safariJarDomains(safari()), (Strings{"shop.example", "kept.example"}));
}

}  // namespace
