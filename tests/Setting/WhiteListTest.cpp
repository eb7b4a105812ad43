// The cookies white list: what is gathered and offered, what the moves write, what the
// search shows, and that removal never reaches a kept, unticked or other browser's cookie.
#include <gtest/gtest.h>

#include <algorithm>

#include "HVN/Code/Clearer/HVNCookieBrowser.h"
#include "HVN/Code/Setting/HVNWhiteListVC.h"
#include "Platform/PropertyList.h"
#include "Support/CookieFixtures.h"
#include "Support/RecordingView.h"
#include "Support/TestRoots.h"

namespace {

using hvn::test::storeHosts;
using Strings = std::vector<std::string>;

// The page's view: the rows of both lists as domains, the move buttons and the controls.
class RecordingView : public hvn::test::RecordingView {
public:
    Strings removalRows() const { return firstCells(HVNWhiteListVC::kRemovalList); }
    Strings whiteRows() const { return firstCells(HVNWhiteListVC::kWhiteList); }
    bool isEnabled(const char* element) const { return enabled(element).value_or(true); }
};

class WhiteListTest : public hvn::test::RootsTest {
protected:
    std::string h(const std::string& rel) const { return roots.home() + "/" + rel; }
    std::string jar() const { return h("Library/Cookies/Cookies.binarycookies"); }
    std::string chrome() const { return h(".config/google-chrome/Default/Cookies"); }
    std::string firefox() const { return h(".mozilla/firefox/abcd.default-release/cookies.sqlite"); }
    void keep(const Strings& domains) {
        hvn::Array a;
        for (const auto& d : domains) a.emplace_back(d);
        ASSERT_TRUE(hvn::PropertyList::writeFile(h("Library/ignore.plist"), hvn::Value(a)));
    }
    static Strings names(const HVNNodeList& nodes, HVNCookieBrowser browser) {
        Strings out;
        for (const auto& n : nodes) {
            if (HVNCookieBrowsers::ofNode(*n) == browser) out.push_back(n->name());
        }
        return out;
    }
    static HVNScaneOuputObjectPtr find(const HVNNodeList& nodes, HVNCookieBrowser b, const std::string& name) {
        for (const auto& n : nodes) {
            if (HVNCookieBrowsers::ofNode(*n) == b && n->name() == name) return n;
        }
        return nullptr;
    }
};

TEST_F(WhiteListTest, GathersEveryBrowserNormalisedAndLeavesKeptDomainsOut) {
    hvn::test::writeSafariJar(jar(), {".example.com", "example.com", "kept.org", ".sub.kept.org"});
    hvn::test::writeChromeStore(chrome(), {".news.site", "news.site", "kept.org"});
    hvn::test::writeFirefoxStore(firefox(), {".fx.com", "www.fx.com"}, false);
    keep({"kept.org"});

    RecordingView view;
    HVNWhiteListVC vc(&view);
    EXPECT_EQ(vc.safariCookies, (Strings{"example.com", "sub.kept.org"}));
    HVNNodeList nodes = vc.getCookies();
    EXPECT_EQ(names(nodes, HVNCookieBrowser::Safari), (Strings{"example.com", "sub.kept.org"}));
    EXPECT_EQ(names(nodes, HVNCookieBrowser::Chrome), (Strings{"news.site"}));
    EXPECT_EQ(names(nodes, HVNCookieBrowser::Firefox), (Strings{"fx.com", "www.fx.com"}));
    for (const auto& n : nodes) EXPECT_EQ(n->isCheck, 1) << n->name();
    EXPECT_EQ(find(nodes, HVNCookieBrowser::Safari, "example.com")->filePath(), h("Library/Cookies"));
    EXPECT_EQ(find(nodes, HVNCookieBrowser::Chrome, "news.site")->filePath(),
              h("Library/Application Support/Google/Chrome/Default"));

    // The settings page: the white list as it is; the removal list without the first
    // listed domain that contains a kept one.
    EXPECT_EQ(view.whiteRows(), (Strings{"kept.org"}));
    Strings removal = view.removalRows();
    EXPECT_EQ(std::count(removal.begin(), removal.end(), "sub.kept.org"), 0);
    EXPECT_EQ(std::count(removal.begin(), removal.end(), "example.com"), 1);
}

TEST_F(WhiteListTest, MovesRewriteTheFileAtOnceAndTheNextScanHonoursThem) {
    hvn::test::writeSafariJar(jar(), {"alpha.com", "beta.com", "Gamma.net"});
    RecordingView view;
    HVNWhiteListVC vc(&view);
    // No white list yet: the default of the resources (empty) is used, and nothing is
    // written until the list changes.
    EXPECT_FALSE(hvn::PropertyList::readFile(HVNWhiteListVC::whiteListPath()).has_value());
    EXPECT_TRUE(vc.keepCookiesRecord.empty());

    vc.removalListSelectionChanged(1);
    EXPECT_TRUE(view.isEnabled(HVNWhiteListVC::kAddButton));
    EXPECT_FALSE(view.isEnabled(HVNWhiteListVC::kCancelButton));
    vc.addCookies({"beta.com"});
    auto file = hvn::PropertyList::readFile(HVNWhiteListVC::whiteListPath());
    ASSERT_TRUE(file && file->isArray());
    ASSERT_EQ(file->asArray().size(), 1u);
    EXPECT_EQ(file->asArray()[0].asString(), "beta.com");
    EXPECT_EQ(view.whiteRows(), (Strings{"beta.com"}));
    EXPECT_EQ(names(HVNWhiteListVC().getCookies(), HVNCookieBrowser::Safari), (Strings{"alpha.com", "Gamma.net"}));

    vc.whiteListSelectionChanged(1);
    EXPECT_TRUE(view.isEnabled(HVNWhiteListVC::kCancelButton));
    EXPECT_FALSE(view.isEnabled(HVNWhiteListVC::kAddButton));
    vc.cancelCookies({"beta.com"});
    EXPECT_TRUE(hvn::PropertyList::readFile(HVNWhiteListVC::whiteListPath())->asArray().empty());
    EXPECT_EQ(names(HVNWhiteListVC().getCookies(), HVNCookieBrowser::Safari),
              (Strings{"alpha.com", "beta.com", "Gamma.net"}));

    // Search: case ignored, ascending order; an empty text shows everything.
    vc.searchRemovalList("A");
    EXPECT_EQ(view.removalRows(), (Strings{"Gamma.net", "alpha.com", "beta.com"}));
    vc.searchRemovalList("MMA");
    EXPECT_EQ(view.removalRows(), (Strings{"Gamma.net"}));
    vc.searchRemovalList("");
    EXPECT_EQ(view.removalRows().size(), 3u);

    vc.disabledCookie(true);
    EXPECT_FALSE(view.isEnabled(HVNWhiteListVC::kWhiteSearchField));
}

TEST_F(WhiteListTest, RemovalSparesKeptUntickedAndOtherBrowsersCookies) {
    hvn::test::writeSafariJar(jar(), {".x.com", "other.org"});
    hvn::test::writeChromeStore(chrome(), {"x.com", ".x.com", "www.x.com", "dropbox.com", "kept.x.com",
                                           "mail.x.com", "notx.com"});
    hvn::test::writeFirefoxStore(firefox(), {".x.com", "fx.org"}, true);
    keep({"kept.x.com"});

    HVNWhiteListVC vc;
    HVNNodeList nodes = vc.getCookies();
    // Only the Chrome x.com node and www.x.com stay ticked.
    for (const auto& n : nodes) n->isCheck = 0;
    for (const char* name : {"x.com", "www.x.com"}) {
        HVNScaneOuputObjectPtr n = find(nodes, HVNCookieBrowser::Chrome, name);
        ASSERT_TRUE(n) << name;
        n->isCheck = 1;
    }

    std::vector<HVNWhiteListVC::CleanFailure> failures;
    HVNNodeList handled = vc.cleanCookies(nodes, &failures);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(handled.size(), 2u);
    // Sub-domains go with x.com, except the kept one and the unticked mail.x.com; hosts
    // that merely contain x.com stay.
    EXPECT_EQ(storeHosts(chrome()), (Strings{"dropbox.com", "kept.x.com", "mail.x.com", "notx.com"}));
    // The same domain in Safari and Firefox was not ticked there.
    EXPECT_EQ(hvn::test::safariJarDomains(jar()), (Strings{".x.com", "other.org"}));
    EXPECT_EQ(storeHosts(firefox()), (Strings{".x.com", "fx.org"}));

    // A ticked node of a kept domain is never removed.
    keep({"fx.org", "kept.x.com"});
    HVNWhiteListVC again;
    auto fx = HVNScaneOuputObject::create();
    fx->setName(std::string("fx.org"));
    fx->cookieDomain = "fx.org";
    fx->setFilePath(HVNCookieBrowsers::location(HVNCookieBrowser::Firefox));
    fx->isCheck = 1;
    again.cleanCookies({fx});
    EXPECT_EQ(storeHosts(firefox()), (Strings{".x.com", "fx.org"}));
}

}  // namespace
