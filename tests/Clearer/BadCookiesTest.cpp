// The bad-cookie scan against the shipped Cookies.db: what is reported, how it is grouped
// and named, and what its clean removes.
#include <gtest/gtest.h>

#include <algorithm>

#include "HVN/Code/Clearer/FMDB/HVNPathDBManager.h"
#include "HVN/Code/Clearer/HVNBadCookiesOperation.h"
#include "HVN/Code/Clearer/HVNCookieBrowser.h"
#include "HVN/Code/Public/EncryptManager.h"
#include "Sentrel/VirusManager.h"
#include "Sentrel/VirusPathDBManager.h"
#include "Support/CookieFixtures.h"
#include "Support/LogLines.h"
#include "Support/TestRoots.h"

namespace {

using Strings = std::vector<std::string>;

class Collect : public HVNScanResultDelegate {
public:
    void finishScan(HVNNodeList results, int32_t moudle) override {
        list = std::move(results);
        module = moudle;
        ++calls;
    }
    HVNNodeList list;
    int32_t module = -1;
    int calls = 0;
};

class BadCookiesTest : public hvn::test::RootsTest {
protected:
    std::string h(const std::string& rel) const { return roots.home() + "/" + rel; }
};

TEST_F(BadCookiesTest, LooksUpWholeNormalisedDomainsCaseSensitively) {
    HVNPathDBManager db;
    auto hit = db.getBadCookieBySample("doubleclick.net");
    ASSERT_TRUE(hit) << "the shipped Cookies.db lists doubleclick.net";
    EXPECT_EQ(EncryptManager::decryptData(hit->domain).value_or(""), "doubleclick.net");
    EXPECT_FALSE(EncryptManager::decryptData(hit->information).value_or("").empty());
    EXPECT_FALSE(db.getBadCookieBySample("DoubleClick.net"));
    EXPECT_FALSE(db.getBadCookieBySample(".doubleclick.net"));
    EXPECT_FALSE(db.getBadCookieBySample("ad.doubleclick.net.example"));
    // The library's manager reads the same table.
    VirusPathDBManager lib;
    EXPECT_TRUE(lib.getBadCookieBySample("criteo.com"));
    EXPECT_FALSE(lib.getBadCookieBySample("example.com"));
}

TEST_F(BadCookiesTest, ReportsOneGroupPerBrowserInOrderAndCountsAcrossSearches) {
    hvn::test::writeSafariJar(h("Library/Cookies/Cookies.binarycookies"),
                              {".doubleclick.net", "Criteo.com", "example.com"});
    hvn::test::writeChromeStore(h(".config/chromium/Profile 2/Cookies"), {".criteo.com", "news.example"});
    hvn::test::writeFirefoxStore(h(".mozilla/firefox/p.default/cookies.sqlite"), {".adnxs.com"}, true);

    hvn::test::LogLines log;
    Collect out;
    HVNBadCookiesOperation op(&out);
    op.main();
    ASSERT_EQ(out.calls, 1);
    EXPECT_EQ(out.module, 22);
    ASSERT_EQ(out.list.size(), 3u);
    Strings groups;
    for (const auto& g : out.list) groups.push_back(g->name());
    EXPECT_EQ(groups, (Strings{"Safari", "Firefox", "Chrome"}));
    for (const auto& g : out.list) {
        EXPECT_TRUE(g->isGroupFlag());
        EXPECT_EQ(g->isCheck, 1);
        EXPECT_EQ(g->moulde, 22);
        ASSERT_EQ(g->children().size(), 1u) << g->name();
    }
    const auto& safari = out.list[0]->children()[0];
    EXPECT_EQ(safari->cookieDomain, "doubleclick.net");  // Criteo.com differs in case: not listed
    EXPECT_EQ(safari->name().rfind("doubleclick.net [", 0), 0u) << safari->name();
    EXPECT_EQ(safari->name().back(), ']');
    EXPECT_EQ(safari->filePath(), h("Library/Cookies"));
    EXPECT_EQ(out.list[1]->children()[0]->filePath(), h("Library/Application Support/Firefox/Profiles"));
    EXPECT_EQ(out.list[2]->children()[0]->cookieDomain, "criteo.com");
    EXPECT_EQ(out.list[2]->children()[0]->filePath(), h("Library/Application Support/Google/Chrome/Default"));
    EXPECT_TRUE(log.contains("发现 Safari Bad cookies:doubleclick.net"));

    // The summary counts every search of the process.
    auto summary = [&log] {
        for (const auto& l : log.lines()) {
            if (l.rfind("发现Bad cookies:", 0) == 0) return l;
        }
        return std::string();
    };
    std::string first = summary();
    ASSERT_FALSE(first.empty());
    int hits1 = std::stoi(first.substr(std::string("发现Bad cookies:").size()));
    log.clear();
    VirusManager().searchBadCookiesWithSafariPath("", "", "");
    std::string second = summary();
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(std::stoi(second.substr(std::string("发现Bad cookies:").size())), hits1 + 3);
}

TEST_F(BadCookiesTest, CleaningRemovesTheDomainAndItsSubDomainsOnlyAndSparesKeptOnes) {
    const std::string chrome = h(".config/google-chrome/Default/Network/Cookies");
    hvn::test::writeChromeStore(chrome, {".criteo.com", "static.criteo.com", "kept.criteo.com", "notcriteo.com"});
    const std::string jar = h("Library/Containers/com.apple.Safari/Data/Library/Cookies/Cookies.binarycookies");
    hvn::test::writeSafariJar(jar, {".criteo.com", "www.criteo.com"});

    auto node = [](HVNCookieBrowser b) {
        auto n = HVNScaneOuputObject::create();
        n->cookieDomain = "criteo.com";
        n->setName(std::string("criteo.com [x]"));
        n->setFilePath(HVNCookieBrowsers::location(b));
        n->isCheck = 1;
        return n;
    };
    HVNPathDBManager db;
    std::vector<HVNPathDBManager::CookieCleanFailure> failures;
    EXPECT_TRUE(db.cleanChromeCookies({node(HVNCookieBrowser::Chrome)}, &failures, {"kept.criteo.com"}));
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(hvn::test::storeHosts(chrome), (Strings{"kept.criteo.com", "notcriteo.com"}));
    // Safari removes whole domains only.
    EXPECT_TRUE(db.cleanSafariCookies({node(HVNCookieBrowser::Safari)}, &failures));
    EXPECT_EQ(hvn::test::safariJarDomains(jar), (Strings{"www.criteo.com"}));
}

}  // namespace
