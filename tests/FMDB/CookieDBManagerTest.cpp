#include "HVN/Code/Clearer/FMDB/HVNCookieDBManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "HVN/Code/Clearer/FMDB/FMResultSet.h"
#include "Platform/PropertyList.h"
#include "Sentrel/VirusCookieDBManager.h"
#include "Support/LogLines.h"
#include "Support/TestRoots.h"

namespace {

namespace fs = std::filesystem;
using hvn::Value;
using hvn::test::LogLines;

// One row of a Firefox store: baseDomain (ignored without that column) and host.
struct FirefoxRow {
    std::string baseDomain, host;
};

class CookieDBManagerTest : public hvn::test::RootsTest {
protected:
    std::string home(const std::string& relative) const { return roots.home() + "/" + relative; }
    // Where a path really is (the temporary folder may lie behind a link).
    static std::string real(const std::string& path) { return fs::weakly_canonical(path).string(); }

    static void exec(FMDatabase& db, const std::string& sql) {
        char* error = nullptr;
        int rc = sqlite3_exec(db.db(), sql.c_str(), nullptr, nullptr, &error);
        ASSERT_EQ(rc, SQLITE_OK) << (error ? error : "") << " in " << sql;
    }

    // A Chrome `Cookies` database of schema 18 or 24 holding one cookie per host value.
    void makeChrome(const std::string& path, const std::vector<Value>& hosts, int schema = 18) {
        fs::create_directories(fs::path(path).parent_path());
        FMDatabase db(path);
        ASSERT_TRUE(db.open());
        const std::string version = schema == 18 ? "is_same_party INTEGER NOT NULL,"
                                                 : "source_type INTEGER NOT NULL, has_cross_site_ancestor "
                                                   "INTEGER NOT NULL,";
        exec(db,
             "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR);"
             "INSERT INTO meta VALUES ('version', '" + std::to_string(schema) +
                 "'), ('last_compatible_version', '" + std::to_string(schema) +
                 "');"
                 "CREATE TABLE cookies(creation_utc INTEGER NOT NULL, host_key TEXT NOT NULL, top_frame_site_key "
                 "TEXT NOT NULL, name TEXT NOT NULL, value TEXT NOT NULL, encrypted_value BLOB NOT NULL, path TEXT "
                 "NOT NULL, expires_utc INTEGER NOT NULL, is_secure INTEGER NOT NULL, is_httponly INTEGER NOT NULL, "
                 "last_access_utc INTEGER NOT NULL, has_expires INTEGER NOT NULL, is_persistent INTEGER NOT NULL, "
                 "priority INTEGER NOT NULL, samesite INTEGER NOT NULL, source_scheme INTEGER NOT NULL, "
                 "source_port INTEGER NOT NULL, " +
                 version +
                 " last_update_utc INTEGER NOT NULL);"
                 "CREATE UNIQUE INDEX cookies_unique_index ON cookies(host_key, top_frame_site_key, name, path);");
        int n = 0;
        for (const Value& host : hosts) {
            const std::string extra = schema == 18 ? "0" : "0, 0";
            ASSERT_TRUE(db.executeUpdate("insert into cookies values (13300000000000000, ?, '', ?, 'v', x'', '/', "
                                         "0, 1, 0, 0, 0, 1, 1, 0, 2, 443, " +
                                             extra + ", 0)",
                                         {host, Value("n" + std::to_string(n++))}));
        }
    }

    // A Firefox `cookies.sqlite` (WAL, as Firefox keeps it), of schema 10 with baseDomain or
    // of schema 16 without.
    void makeFirefox(const std::string& path, const std::vector<FirefoxRow>& rows, bool withBaseDomain) {
        fs::create_directories(fs::path(path).parent_path());
        FMDatabase db(path);
        ASSERT_TRUE(db.open());
        exec(db, "PRAGMA journal_mode=WAL");
        if (withBaseDomain) {
            exec(db,
                 "PRAGMA user_version=10; CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, baseDomain TEXT, "
                 "originAttributes TEXT NOT NULL DEFAULT '', name TEXT, value TEXT, host TEXT, path TEXT, expiry "
                 "INTEGER, lastAccessed INTEGER, creationTime INTEGER, isSecure INTEGER, isHttpOnly INTEGER, "
                 "inBrowserElement INTEGER DEFAULT 0, sameSite INTEGER DEFAULT 0, rawSameSite INTEGER DEFAULT 0, "
                 "CONSTRAINT moz_uniqueid UNIQUE (name, host, path, originAttributes));"
                 "CREATE INDEX moz_basedomain ON moz_cookies (baseDomain, originAttributes);");
        } else {
            exec(db,
                 "PRAGMA user_version=16; CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT "
                 "NOT NULL DEFAULT '', name TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER, lastAccessed "
                 "INTEGER, creationTime INTEGER, isSecure INTEGER, isHttpOnly INTEGER, inBrowserElement INTEGER "
                 "DEFAULT 0, sameSite INTEGER DEFAULT 0, schemeMap INTEGER DEFAULT 0, isPartitionedAttributeSet "
                 "INTEGER DEFAULT 0, CONSTRAINT moz_uniqueid UNIQUE (name, host, path, originAttributes));");
        }
        int n = 0;
        for (const auto& row : rows) {
            std::vector<Value> values = {Value(row.host), Value("n" + std::to_string(n++))};
            if (withBaseDomain) values.insert(values.begin(), Value(row.baseDomain));
            ASSERT_TRUE(db.executeUpdate(withBaseDomain ? "insert into moz_cookies (baseDomain, host, name, value, "
                                                          "path) values (?, ?, ?, 'v', '/')"
                                                        : "insert into moz_cookies (host, name, value, path) values "
                                                          "(?, ?, 'v', '/')",
                                         values));
        }
    }

    // The host column of every row left in a store, sorted.
    static std::vector<std::string> hostsIn(const std::string& path, const std::string& column = "host_key",
                                            const std::string& table = "cookies") {
        std::vector<std::string> hosts;
        FMDatabase db(path);
        if (!db.openWithFlags(SQLITE_OPEN_READONLY)) return hosts;
        if (auto rs = db.executeQuery("select " + column + " from " + table)) {
            while (rs->next()) hosts.push_back(rs->stringForColumnIndex(0).value_or("<null>"));
        }
        std::sort(hosts.begin(), hosts.end());
        return hosts;
    }

    static std::vector<std::string> domains(HVNCookieDBManager& manager, const std::string& type) {
        std::vector<std::string> out;
        auto records = manager.getData(type);
        if (records) {
            for (const auto& r : *records) out.push_back(r.domainText());
        }
        return out;
    }

    static std::vector<std::string> sorted(std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    }

    static std::string bytesOf(const std::string& path) { return hvn::readWholeFile(path).value_or("<none>"); }
};

TEST_F(CookieDBManagerTest, PathsTypesAndAManagerWithoutStores) {
    EXPECT_EQ(HVNCookieDBManager::formatterPath("~/Library/x"), roots.home() + "/Library/x");
    EXPECT_EQ(HVNCookieDBManager::formatterPath("/etc/x"), std::nullopt);
    EXPECT_EQ(HVNCookieDBManager::dataPath("chrome"), "~/Library/Application Support/Google/Chrome/Default/Cookies");
    EXPECT_EQ(HVNCookieDBManager::dataPath("firefox"), "~/Library/Application Support/Firefox/Profiles");

    makeChrome(home(".config/chromium/Default/Cookies"), {Value("a.com")});
    HVNCookieDBManager manager;
    EXPECT_FALSE(manager.db()->databasePath().has_value());  // nothing connected: in memory
    manager.connectDatabase("chrome");
    ASSERT_EQ(manager.storePaths().size(), 1u);
    manager.connectDatabase("safari");  // unknown: left as it was
    EXPECT_EQ(manager.storePaths().size(), 1u);
    EXPECT_EQ(manager.db()->databasePath(), manager.storePaths()[0]);
    EXPECT_EQ(manager.getData("safari"), std::nullopt);
    EXPECT_TRUE(manager.getData("firefox")->empty());  // the chrome stores are not firefox's
    EXPECT_EQ(domains(manager, "chrome"), std::vector<std::string>{"a.com"});

    // No Firefox at all: no store, nothing read, nothing to delete, no file made.
    manager.connectDatabase("firefox");
    EXPECT_TRUE(manager.storePaths().empty());
    EXPECT_TRUE(manager.getData("firefox")->empty());
    EXPECT_TRUE(manager.deleteCookie("a.com", "firefox"));
    EXPECT_FALSE(fs::exists(home(".mozilla")));

    // The statement helpers work on the first store.
    manager.connectDatabase("chrome");
    auto rows = manager.getDataBySQL("select host_key from cookies where host_key = ?", {Value("a.com")});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("host_key"), Value("a.com"));
    EXPECT_TRUE(manager.deleteDataBySQL("delete from cookies where host_key = ?", {Value("a.com")}));
    EXPECT_TRUE(hostsIn(manager.storePaths()[0]).empty());
    EXPECT_FALSE(manager.deleteDataBySQL("delete from no_such_table"));
}

// Every profile of every Chrome-family folder, "Network/Cookies" before "Cookies"; a link in
// place of a profile or a store is passed over; a linked ~/.config is followed to where it is.
TEST_F(CookieDBManagerTest, EveryChromeProfileOfEveryBrowserIsAStore) {
    const std::vector<std::string> userData = {
        "Library/Application Support/Google/Chrome",
        "Library/Application Support/Chromium",
        ".config/google-chrome",
        ".config/chromium",
        ".config/BraveSoftware/Brave-Browser",
        "Library/Application Support/BraveSoftware/Brave-Browser",
        ".config/vivaldi",
        "Library/Application Support/Vivaldi",
        ".config/microsoft-edge",
        "Library/Application Support/Microsoft Edge",
        "snap/chromium/common/chromium",
        ".var/app/org.chromium.Chromium/config/chromium",
        ".var/app/com.google.Chrome/config/google-chrome",
    };
    // ~/.config lives elsewhere.
    const std::string config = roots.makeDir(roots.base() + "/elsewhere/config");
    fs::create_symlink(config, home(".config"));
    const std::string realHome = fs::canonical(roots.home()).string();
    std::vector<std::string> expected;
    for (const auto& folder : userData) {
        std::string real = folder.rfind(".config/", 0) == 0 ? config + folder.substr(7) : realHome + "/" + folder;
        makeChrome(home(folder + "/Default/Cookies"), {Value("d." + std::to_string(expected.size()) + ".com")});
        expected.push_back(real + "/Default/Cookies");
    }
    const std::string chrome = home(".config/google-chrome");
    makeChrome(chrome + "/Default/Network/Cookies", {Value("network.com")}, 24);
    makeChrome(chrome + "/Guest Profile/Cookies", {Value("guest.com")});
    makeChrome(chrome + "/Profile 1/Network/Cookies", {Value("p1.com")});
    makeChrome(chrome + "/System Profile/Cookies", {Value("system.com")});
    roots.makeDir(chrome + "/Crashpad");  // no store: no profile
    makeChrome(roots.base() + "/outside/Profile 9/Cookies", {Value("outside.com")});
    fs::create_symlink(roots.base() + "/outside/Profile 9", chrome + "/Profile 9");
    makeChrome(roots.base() + "/outside/Cookies", {Value("outside.com")});
    roots.makeDir(chrome + "/Profile 2/Network");
    fs::create_symlink(roots.base() + "/outside/Cookies", chrome + "/Profile 2/Network/Cookies");
    fs::create_symlink(roots.base() + "/outside/Cookies", chrome + "/Profile 3");

    std::vector<std::string> wanted = expected;
    const std::string realChrome = config + "/google-chrome";
    auto at = std::find(wanted.begin(), wanted.end(), realChrome + "/Default/Cookies");
    at = wanted.erase(at);
    wanted.insert(at, {realChrome + "/Default/Network/Cookies", realChrome + "/Guest Profile/Cookies",
                       realChrome + "/Profile 1/Network/Cookies", realChrome + "/System Profile/Cookies"});

    LogLines log;
    HVNCookieDBManager manager;
    manager.connectDatabase("chrome");
    EXPECT_EQ(manager.storePaths(), wanted);
    EXPECT_TRUE(log.contains("Profile 2/Network/Cookies is not a plain file"));
    auto found = domains(manager, "chrome");
    EXPECT_EQ(found.size(), wanted.size());
    EXPECT_NE(std::find(found.begin(), found.end(), "network.com"), found.end());
    EXPECT_EQ(std::find(found.begin(), found.end(), "d.2.com"), found.end());  // the old Default/Cookies
    EXPECT_EQ(std::find(found.begin(), found.end(), "outside.com"), found.end());

    // The stores behind the linked ~/.config are named where they are, so they can be cleaned.
    ASSERT_TRUE(manager.deleteCookie("p1.com", "chrome"));
    EXPECT_TRUE(hostsIn(realChrome + "/Profile 1/Network/Cookies").empty());
    EXPECT_TRUE(manager.deleteCookie("outside.com", "chrome"));
    EXPECT_EQ(hostsIn(roots.base() + "/outside/Cookies"), std::vector<std::string>{"outside.com"});
}

// The records are the values as stored (the leading dot is for the callers to drop); the
// program skips empty and non-text values, the library keeps them and logs the row count.
TEST_F(CookieDBManagerTest, ChromeRecordsAndTheLibrarysReader) {
    const std::string store = home(".config/google-chrome/Default/Cookies");
    makeChrome(store, {Value("x.com"), Value(".x.com"), Value(""), Value(hvn::Data{'h', 'i'}), Value("y.com")});
    const std::string realStore = real(store);
    {
        LogLines log;
        HVNCookieDBManager program;
        program.connectDatabase("chrome");
        auto records = program.getData("chrome");
        ASSERT_TRUE(records);
        EXPECT_EQ(sorted(domains(program, "chrome")), (std::vector<std::string>{".x.com", "x.com", "y.com"}));
        for (const auto& r : *records) EXPECT_EQ(r.storePath, realStore);
        EXPECT_FALSE(log.hasLine("5"));
    }
    LogLines log;
    VirusCookieDBManager library;
    library.connectDatabase("chrome");
    auto records = library.getData("chrome");
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 5u);
    EXPECT_EQ(std::count_if(records->begin(), records->end(), [](const auto& r) { return r.baseDomain.isData(); }), 1);
    EXPECT_EQ(std::count_if(records->begin(), records->end(),
                            [](const auto& r) { return r.baseDomain == Value(""); }),
              1);
    EXPECT_TRUE(log.hasLine("5"));
}

// The deletion takes D, ".D" and hosts ending in ".D", in any ASCII case; nothing that only
// contains D, and a quote or a LIKE wildcard in the domain is a plain character.
TEST_F(CookieDBManagerTest, DeletionTakesTheDomainAndItsSubDomainsOnly) {
    const std::string store = home(".config/chromium/Default/Cookies");
    makeChrome(store, {Value("x.com"), Value(".x.com"), Value("a.x.com"), Value(".b.a.X.COM"), Value("dropbox.com"),
                       Value(".dropbox.com"), Value("xx.com"), Value("x.com.evil.net"), Value("it's.com"),
                       Value(".it's.com"), Value("xits.com"), Value("a_b.com"), Value("axb.com"), Value("%.com")});
    HVNCookieDBManager manager;
    manager.connectDatabase("chrome");
    std::vector<HVNCookieDBManager::StoreFailure> failures;
    ASSERT_TRUE(manager.deleteCookie("x.com", "chrome", &failures));
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(hostsIn(store), (std::vector<std::string>{"%.com", ".dropbox.com", ".it's.com", "a_b.com", "axb.com",
                                                       "dropbox.com", "it's.com", "x.com.evil.net", "xits.com",
                                                       "xx.com"}));
    ASSERT_TRUE(manager.deleteCookie("It's.com", "chrome"));
    ASSERT_TRUE(manager.deleteCookie("a_b.com", "chrome"));
    ASSERT_TRUE(manager.deleteCookie("%", "chrome"));
    ASSERT_TRUE(manager.deleteCookie(".DROPBOX.com", "chrome"));  // a leading dot is the same domain
    EXPECT_EQ(hostsIn(store), (std::vector<std::string>{"%.com", "axb.com", "x.com.evil.net", "xits.com", "xx.com"}));

    // A domain gone from the store, an empty domain: nothing else is touched.
    ASSERT_TRUE(manager.deleteCookie("x.com", "chrome"));
    ASSERT_TRUE(manager.deleteCookie("", "chrome"));
    ASSERT_TRUE(manager.deleteCookie(".", "chrome"));
    EXPECT_EQ(hostsIn(store).size(), 5u);

    // A store that vanished since it was connected has nothing left, and is not made anew.
    fs::remove(store);
    EXPECT_TRUE(manager.deleteCookie("xx.com", "chrome"));
    EXPECT_FALSE(fs::exists(store));
}

// Spared domains keep their cookies and their sub-domains' where a removal of a parent
// domain reaches them; nothing else stays.
TEST_F(CookieDBManagerTest, SparedDomainsKeepTheirCookies) {
    const std::string chrome = home(".config/chromium/Default/Cookies");
    makeChrome(chrome, {Value("x.com"), Value("a.x.com"), Value(".A.x.com"), Value("b.a.x.com"), Value("ba.x.com"),
                        Value("c.x.com"), Value("it's.x.com"), Value("it_s.x.com")});
    HVNCookieDBManager manager;
    manager.connectDatabase("chrome");
    const std::vector<std::string> spared = {".a.x.com", "it's.x.com", "", "unrelated.org"};
    ASSERT_TRUE(manager.deleteCookie("x.com", "chrome", spared));
    EXPECT_EQ(hostsIn(chrome), (std::vector<std::string>{".A.x.com", "a.x.com", "b.a.x.com", "it's.x.com"}));

    const std::string firefox = home(".mozilla/firefox/p/cookies.sqlite");
    makeFirefox(firefox, {{"x.com", "x.com"}, {"x.com", ".mail.x.com"}, {"x.com", "www.x.com"}}, true);
    manager.connectDatabase("firefox");
    ASSERT_TRUE(manager.deleteCookie("x.com", "firefox", std::vector<std::string>{"mail.x.com"}));
    EXPECT_EQ(hostsIn(firefox, "host", "moz_cookies"), std::vector<std::string>{".mail.x.com"});
}

// Firefox: in each profiles folder the first store of the depth-first walk; links to folders
// are not entered and the depth is bounded.
TEST_F(CookieDBManagerTest, FirefoxStoreIsTheFirstOfTheWalkInEachProfilesFolder) {
    const std::string profiles = home(".mozilla/firefox");
    roots.writeFile(profiles + "/profiles.ini", "[Profile0]\nPath=a.default\n");
    makeFirefox(profiles + "/a.default/cookies.sqlite", {{"", "a.com"}}, false);
    makeFirefox(profiles + "/b.default-release/cookies.sqlite", {{"", "b.com"}}, false);
    // Entered first (last in order), but a link: neither it nor the loop back is followed.
    makeFirefox(roots.base() + "/outside/cookies.sqlite", {{"", "outside.com"}}, false);
    fs::create_symlink(roots.base() + "/outside", profiles + "/z-link");
    fs::create_symlink(profiles, profiles + "/b.default-release/loop");

    // The other folders, each with one store; the macOS one holds a store deeper down.
    makeFirefox(home("Library/Application Support/Firefox/Profiles/x.default/sub/cookies.sqlite"),
                {{"mac.com", "www.mac.com"}}, true);
    makeFirefox(home(".config/mozilla/firefox/p/cookies.sqlite"), {{"", "config.com"}}, false);
    makeFirefox(home("snap/firefox/common/.mozilla/firefox/p/cookies.sqlite"), {{"", "snap.com"}}, false);
    makeFirefox(home(".var/app/org.mozilla.firefox/.mozilla/firefox/p/cookies.sqlite"), {{"", "flatpak.com"}},
                false);

    const std::string realHome = fs::canonical(roots.home()).string();
    HVNCookieDBManager manager;
    manager.connectDatabase("firefox");
    EXPECT_EQ(manager.storePaths(),
              (std::vector<std::string>{
                  realHome + "/Library/Application Support/Firefox/Profiles/x.default/sub/cookies.sqlite",
                  realHome + "/.mozilla/firefox/b.default-release/cookies.sqlite",
                  realHome + "/.config/mozilla/firefox/p/cookies.sqlite",
                  realHome + "/snap/firefox/common/.mozilla/firefox/p/cookies.sqlite",
                  realHome + "/.var/app/org.mozilla.firefox/.mozilla/firefox/p/cookies.sqlite"}));
    EXPECT_EQ(domains(manager, "firefox"),
              (std::vector<std::string>{"mac.com", "b.com", "config.com", "snap.com", "flatpak.com"}));

    // The walk itself: most recent entry first, a plain file yields nothing, depth bounded.
    EXPECT_EQ(HVNCookieDBManager::pathOfDatabase(profiles, "cookies.sqlite"),
              profiles + "/b.default-release/cookies.sqlite");
    EXPECT_EQ(HVNCookieDBManager::pathOfDatabase(profiles + "/profiles.ini", "cookies.sqlite"), std::nullopt);
    std::string deep = roots.base() + "/deep";
    for (int i = 0; i < 20; ++i) deep += "/d";
    roots.writeFile(deep + "/cookies.sqlite", "");
    EXPECT_EQ(HVNCookieDBManager::pathOfDatabase(roots.base() + "/deep", "cookies.sqlite"), std::nullopt);
    EXPECT_NE(HVNCookieDBManager::pathOfDatabase(roots.base() + "/deep/d/d/d/d/d/d/d/d/d/d", "cookies.sqlite"),
              std::nullopt);
}

// Without baseDomain the store is read and cleaned through host; with it, a deletion takes
// the rows whose baseDomain or host is the domain or below it.
TEST_F(CookieDBManagerTest, FirefoxStoresWithAndWithoutBaseDomain) {
    const std::string modern = home(".mozilla/firefox/p.default/cookies.sqlite");
    makeFirefox(modern, {{"", ".x.com"}, {"", "x.com"}, {"", "www.x.com"}, {"", "dropbox.com"}, {"", ".X.com"}},
                false);
    HVNCookieDBManager manager;
    manager.connectDatabase("firefox");
    EXPECT_EQ(domains(manager, "firefox"), (std::vector<std::string>{"x.com", "www.x.com", "dropbox.com", "X.com"}));
    ASSERT_TRUE(manager.deleteCookie("x.com", "firefox"));
    EXPECT_EQ(hostsIn(modern, "host", "moz_cookies"), std::vector<std::string>{"dropbox.com"});

    fs::remove_all(home(".mozilla"));
    const std::string old = home(".mozilla/firefox/p.default/cookies.sqlite");
    makeFirefox(old,
                {{"example.co.uk", "www.example.co.uk"},
                 {"example.co.uk", ".example.co.uk"},
                 {"x.com", "a.sub.x.com"},
                 {"x.com", "other.x.com"},
                 {"box.com", "box.com"},
                 {"dropbox.com", "dropbox.com"},
                 {"dropbox.com", "www.dropbox.com"}},
                true);
    manager.connectDatabase("firefox");
    EXPECT_EQ(sorted(domains(manager, "firefox")),
              (std::vector<std::string>{"box.com", "dropbox.com", "example.co.uk", "x.com"}));
    ASSERT_TRUE(manager.deleteCookie("example.co.uk", "firefox"));  // by baseDomain
    ASSERT_TRUE(manager.deleteCookie("sub.x.com", "firefox"));      // by host below it
    ASSERT_TRUE(manager.deleteCookie("box.com", "firefox"));        // not dropbox.com's rows
    EXPECT_EQ(hostsIn(old, "host", "moz_cookies"),
              (std::vector<std::string>{"dropbox.com", "other.x.com", "www.dropbox.com"}));
    EXPECT_EQ(hostsIn(old, "baseDomain", "moz_cookies"),
              (std::vector<std::string>{"dropbox.com", "dropbox.com", "x.com"}));
}

// A store the browser holds locked: the read gives nothing and a log line, the deletion is
// reported as not done, both within the bound; once the lock is gone the same works.
TEST_F(CookieDBManagerTest, LockedStoresAreReportedNotCleaned) {
    const std::string chrome = home(".config/google-chrome/Default/Cookies");
    makeChrome(chrome, {Value("x.com")});
    const std::string firefox = home(".mozilla/firefox/p.default/cookies.sqlite");
    makeFirefox(firefox, {{"", "x.com"}}, false);
    const std::string realChrome = real(chrome), realFirefox = real(firefox);

    FMDatabase chromeHolder(chrome);
    ASSERT_TRUE(chromeHolder.open());
    ASSERT_TRUE(chromeHolder.beginTransaction());  // BEGIN EXCLUSIVE
    ASSERT_TRUE(chromeHolder.executeUpdate("update cookies set value = 'w'"));
    FMDatabase firefoxHolder(firefox);  // as Firefox keeps its store: exclusive locking mode
    ASSERT_TRUE(firefoxHolder.open());
    exec(firefoxHolder, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; update moz_cookies set value = 'w'");

    for (bool library : {false, true}) {
        SCOPED_TRACE(library ? "library" : "program");
        LogLines log;
        std::unique_ptr<HVNCookieDBManager> manager = library ? std::make_unique<VirusCookieDBManager>()
                                                              : std::make_unique<HVNCookieDBManager>();
        manager->busyRetryTimeout = 20;
        for (const std::string type : {"chrome", "firefox"}) {
            manager->connectDatabase(type);
            const std::string store = type == "chrome" ? realChrome : realFirefox;
            auto start = std::chrono::steady_clock::now();
            EXPECT_TRUE(manager->getData(type)->empty());
            EXPECT_TRUE(log.contains("Cookie store " + store + " is held locked by the browser; nothing read"));
            std::vector<HVNCookieDBManager::StoreFailure> failures;
            EXPECT_FALSE(manager->deleteCookie("x.com", type, &failures));
            EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
            ASSERT_EQ(failures.size(), 1u);
            EXPECT_EQ(failures[0].storePath, store);
            EXPECT_EQ(failures[0].reason, HVNCookieDBManager::kLockedStoreReason);
        }
        // The library's connections write the layer's lines and the failed deletion.
        EXPECT_EQ(log.contains("Database busy (" + realChrome + ")"), library);
        EXPECT_EQ(log.contains("Err 5: "), library);
    }

    ASSERT_TRUE(chromeHolder.commit());
    ASSERT_TRUE(chromeHolder.close());
    exec(firefoxHolder, "COMMIT");
    ASSERT_TRUE(firefoxHolder.close());
    HVNCookieDBManager manager;
    manager.busyRetryTimeout = 20;
    for (const std::string type : {"chrome", "firefox"}) {
        manager.connectDatabase(type);
        EXPECT_EQ(domains(manager, type), std::vector<std::string>{"x.com"});
        EXPECT_TRUE(manager.deleteCookie("x.com", type));
        EXPECT_TRUE(manager.getData(type)->empty());
    }
}

// A file that is not a cookie database is read as nothing and never written.
TEST_F(CookieDBManagerTest, CorruptStoresAreSkippedAndLeftAsTheyAre) {
    const std::string garbage = roots.writeFile(home(".config/chromium/Default/Cookies"),
                                                std::string(4096, 'z') + "not a database");
    const std::string noTable = home(".config/chromium/Profile 1/Cookies");
    {
        fs::create_directories(fs::path(noTable).parent_path());
        FMDatabase db(noTable);
        ASSERT_TRUE(db.open());
        exec(db, "CREATE TABLE meta(key TEXT, value TEXT); INSERT INTO meta VALUES ('version', '18')");
    }
    const std::string firefox = home(".mozilla/firefox/p/cookies.sqlite");
    {
        fs::create_directories(fs::path(firefox).parent_path());
        FMDatabase db(firefox);
        ASSERT_TRUE(db.open());
        exec(db, "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, name TEXT)");  // no host
    }
    const std::string garbageBytes = bytesOf(garbage), noTableBytes = bytesOf(noTable), firefoxBytes = bytesOf(firefox);

    for (bool library : {false, true}) {
        SCOPED_TRACE(library ? "library" : "program");
        fs::remove(home(".config/chromium/Profile 2/Cookies"));
        makeChrome(home(".config/chromium/Profile 2/Cookies"), {Value("good.com")});
        LogLines log;
        std::unique_ptr<HVNCookieDBManager> manager = library ? std::make_unique<VirusCookieDBManager>()
                                                              : std::make_unique<HVNCookieDBManager>();
        manager->connectDatabase("chrome");
        EXPECT_EQ(domains(*manager, "chrome"), std::vector<std::string>{"good.com"});
        EXPECT_TRUE(log.contains("Skipping cookie store " + manager->storePaths()[0] + ": not a cookie database"));
        EXPECT_TRUE(log.contains("Skipping cookie store " + manager->storePaths()[1] + ": not a cookie database"));
        std::vector<HVNCookieDBManager::StoreFailure> failures;
        EXPECT_FALSE(manager->deleteCookie("good.com", "chrome", &failures));
        ASSERT_EQ(failures.size(), 2u);
        EXPECT_NE(failures[0].reason.find("not a cookie database"), std::string::npos);
        EXPECT_TRUE(hostsIn(home(".config/chromium/Profile 2/Cookies")).empty());

        manager->connectDatabase("firefox");
        EXPECT_TRUE(manager->getData("firefox")->empty());
        EXPECT_FALSE(manager->deleteCookie("good.com", "firefox"));
    }
    EXPECT_EQ(bytesOf(garbage), garbageBytes);
    EXPECT_EQ(bytesOf(noTable), noTableBytes);
    EXPECT_EQ(bytesOf(firefox), firefoxBytes);
    EXPECT_FALSE(fs::exists(garbage + "-journal"));
}

// A store swapped for a link, or a profile folder swapped for one, after the store was found:
// nothing behind the link is read or written.
TEST_F(CookieDBManagerTest, LinkedStoresAreNeverWritten) {
    const std::string profile = home(".config/chromium/Default");
    makeChrome(profile + "/Cookies", {Value("x.com")});
    const std::string target = roots.base() + "/outside/Default/Cookies";
    makeChrome(target, {Value("x.com"), Value("a.x.com")});
    const std::string targetBytes = bytesOf(target);

    HVNCookieDBManager manager;
    manager.connectDatabase("chrome");
    ASSERT_EQ(manager.storePaths().size(), 1u);
    const std::string store = manager.storePaths()[0];

    fs::remove(store);
    fs::create_symlink(target, store);
    EXPECT_TRUE(manager.getData("chrome")->empty());
    std::vector<HVNCookieDBManager::StoreFailure> failures;
    EXPECT_FALSE(manager.deleteCookie("x.com", "chrome", &failures));
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].reason, "Refusing to change " + store + ": not a plain file");
    EXPECT_FALSE(manager.deleteDataBySQL("delete from cookies"));

    // The profile folder itself replaced by a link: the removal gate refuses the path.
    fs::remove(store);
    fs::remove(fs::path(store).parent_path());
    fs::create_symlink(fs::path(target).parent_path(), fs::path(store).parent_path());
    failures.clear();
    EXPECT_TRUE(manager.getData("chrome")->empty());
    EXPECT_FALSE(manager.deleteCookie("x.com", "chrome", &failures));
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].reason.find("Refusing to remove " + store), std::string::npos) << failures[0].reason;
    EXPECT_EQ(bytesOf(target), targetBytes);
    EXPECT_EQ(hostsIn(target).size(), 2u);
}

}  // namespace
