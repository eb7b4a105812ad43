#include "Platform/HTTPCookieStorage.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Platform/BinaryCookies.h"
#include "Platform/PropertyList.h"
#include "Platform/RemovalGate.h"
#include "Support/LogLines.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;
namespace BC = hvn::BinaryCookies;
using hvn::HTTPCookie;
using hvn::HTTPCookieStorage;

namespace {

HTTPCookie cookie(std::string domain, std::string name, std::string path = "/", std::string value = "v") {
    HTTPCookie c;
    c.domain = std::move(domain);
    c.name = std::move(name);
    c.path = std::move(path);
    c.value = std::move(value);
    c.expiresDate = 800000000;
    c.creationDate = 700000000;
    return c;
}

class HTTPCookieStorageTest : public hvn::test::RootsTest {
protected:
    void TearDown() override { HTTPCookieStorage::setBeforeReplaceHook({}); }

    std::string legacyJar() const { return roots.home() + "/Library/Cookies/Cookies.binarycookies"; }
    std::string containerJar() const {
        return roots.home() + "/Library/Containers/com.apple.Safari/Data/Library/Cookies/Cookies.binarycookies";
    }
    static std::vector<HTTPCookie> jarCookies() {
        std::vector<HTTPCookie> out = {cookie(".example.com", "sid"), cookie(".example.com", "pref", "/a"),
                                       cookie("example.com", "sid"), cookie(".tracker.test", "id"),
                                       cookie("sub.example.com", "x")};
        out[1].port = 8080;
        out[1].comment = "c";
        out[3].flags = 0x5;
        return out;
    }
    static std::string bytesOf(const std::string& path) { return hvn::readWholeFile(path).value_or("<missing>"); }
    static struct stat statOf(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
        return st;
    }
    // The entries of a folder, to see that no temporary file stays behind.
    static size_t entriesIn(const std::string& dir) {
        size_t n = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
        return n;
    }
    static auto byDomain(const std::string& domain) {
        return [domain](const HTTPCookie& c) { return c.domain == domain; };
    }
};

}  // namespace

TEST_F(HTTPCookieStorageTest, TheContainerJarComesFirstElseTheOlderOne) {
    EXPECT_EQ(HTTPCookieStorage::sharedStoragePath(), legacyJar());
    roots.writeFile(legacyJar(), BC::encode({cookie("old.test", "a")}));
    EXPECT_EQ(HTTPCookieStorage::sharedStoragePath(), legacyJar());
    EXPECT_EQ(HTTPCookieStorage::sharedHTTPCookieStorage().cookies().at(0).domain, "old.test");

    roots.writeFile(containerJar(), BC::encode({cookie("live.test", "b")}));
    EXPECT_EQ(HTTPCookieStorage::sharedStoragePath(), containerJar());
    HTTPCookieStorage shared = HTTPCookieStorage::sharedHTTPCookieStorage();
    EXPECT_EQ(shared.path(), containerJar());
    auto cookies = shared.cookies();
    ASSERT_EQ(cookies.size(), 1u);
    EXPECT_EQ(cookies[0].domain, "live.test");
    // The container folder alone, without its jar, does not count.
    fs::remove(containerJar());
    EXPECT_EQ(HTTPCookieStorage::sharedStoragePath(), legacyJar());
}

TEST_F(HTTPCookieStorageTest, CookiesAreListedAsStoredAndAMissingJarIsEmpty) {
    HTTPCookieStorage storage(legacyJar());
    std::string error = "stale";
    EXPECT_TRUE(storage.cookies(&error).empty());
    EXPECT_EQ(error, "");

    roots.writeFile(legacyJar(), BC::encode(jarCookies()));
    auto cookies = storage.cookies(&error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(cookies, jarCookies());
    EXPECT_EQ(cookies[0].domain, ".example.com");
    EXPECT_TRUE(cookies[3].isSecure());
    EXPECT_TRUE(cookies[3].isHTTPOnly());
}

TEST_F(HTTPCookieStorageTest, CorruptAndTruncatedJarsAreSkippedWithAReasonAndNeverRewritten) {
    const std::string valid = BC::encode(jarCookies());
    std::string badPage = valid;
    badPage[8 + 4 * 4 + 2] = 7;  // the first page's tag
    const std::vector<std::string> broken = {valid.substr(0, valid.size() - 1), valid.substr(0, 40), "cook",
                                             "not a jar at all", badPage, ""};
    HTTPCookieStorage storage(legacyJar());
    for (const auto& bytes : broken) {
        roots.writeFile(legacyJar(), bytes);
        hvn::test::LogLines log;
        std::string error;
        EXPECT_TRUE(storage.cookies(&error).empty());
        EXPECT_NE(error.find(legacyJar() + ": is not a valid cookie jar: "), std::string::npos) << error;
        EXPECT_TRUE(log.contains("Cookie jar " + legacyJar() + " skipped: is not a valid cookie jar")) << error;

        auto result = storage.deleteCookiesWhere([](const HTTPCookie&) { return true; });
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.removed, 0u);
        EXPECT_NE(result.error.find("left as it is"), std::string::npos) << result.error;
        EXPECT_EQ(bytesOf(legacyJar()), bytes);
        EXPECT_EQ(entriesIn(fs::path(legacyJar()).parent_path()), 1u);
    }
    // A folder where the jar should be is no jar either.
    fs::remove(legacyJar());
    roots.makeDir(legacyJar());
    std::string error;
    EXPECT_TRUE(storage.cookies(&error).empty());
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(storage.deleteCookiesWhere([](const HTTPCookie&) { return true; }).ok);
}

TEST_F(HTTPCookieStorageTest, DeletingRewritesTheJarKeepingOtherRecordsModeAndOwner) {
    const std::string original = BC::encode(jarCookies(), BC::defaultPropertyList(0));
    roots.writeFile(legacyJar(), original);
    ASSERT_EQ(::chmod(legacyJar().c_str(), 0640), 0);
    passwd* nobody = ::getpwnam("nobody");
    const bool root = ::geteuid() == 0 && nobody != nullptr;
    if (root) {
        ASSERT_EQ(::chown(legacyJar().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    const ino_t before = statOf(legacyJar()).st_ino;

    HTTPCookieStorage storage(legacyJar());
    // The leading dot is part of the stored domain: ".example.com" and "example.com" differ.
    auto result = storage.deleteCookiesWhere(byDomain(".example.com"));
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.removed, 2u);
    EXPECT_EQ(result.error, "");

    const std::string now = bytesOf(legacyJar());
    auto oldJar = BC::parse(original);
    auto newJar = BC::parse(now);
    ASSERT_TRUE(oldJar && newJar);
    EXPECT_TRUE(newJar->checksumMatches);
    EXPECT_EQ(newJar->propertyList, BC::defaultPropertyList(0));
    std::vector<std::string> kept, left;
    std::vector<HTTPCookie> expected;
    for (const auto& p : oldJar->pages) {
        for (const auto& r : p.records) {
            if (r.cookie.domain == ".example.com") continue;
            kept.push_back(r.bytes);
            expected.push_back(r.cookie);
        }
    }
    for (const auto& p : newJar->pages) {
        for (const auto& r : p.records) left.push_back(r.bytes);
    }
    EXPECT_EQ(left, kept);
    EXPECT_EQ(storage.cookies(), expected);
    EXPECT_EQ(newJar->pages.size(), 3u);  // the page of .example.com is gone

    struct stat st = statOf(legacyJar());
    EXPECT_NE(st.st_ino, before);  // replaced, not written in place
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, nobody->pw_uid);
        EXPECT_EQ(st.st_gid, nobody->pw_gid);
    }
    EXPECT_EQ(entriesIn(fs::path(legacyJar()).parent_path()), 1u);
}

TEST_F(HTTPCookieStorageTest, NothingSelectedOrNoJarWritesNothing) {
    HTTPCookieStorage storage(legacyJar());
    auto missing = storage.deleteCookiesWhere([](const HTTPCookie&) { return true; });
    EXPECT_TRUE(missing.ok);
    EXPECT_EQ(missing.removed, 0u);
    EXPECT_FALSE(fs::exists(legacyJar()));

    const std::string original = BC::encode(jarCookies());
    roots.writeFile(legacyJar(), original);
    const struct stat before = statOf(legacyJar());
    auto none = storage.deleteCookiesWhere(byDomain("absent.test"));
    EXPECT_TRUE(none.ok);
    EXPECT_EQ(none.removed, 0u);
    const struct stat after = statOf(legacyJar());
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(bytesOf(legacyJar()), original);
}

TEST_F(HTTPCookieStorageTest, DeleteCookieMatchesDomainNameAndPathExactly) {
    roots.writeFile(legacyJar(), BC::encode(jarCookies()));
    HTTPCookieStorage storage(legacyJar());
    HTTPCookie target = cookie("example.com", "sid");
    target.value = "another value";  // the value plays no part
    auto result = storage.deleteCookie(target);
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.removed, 1u);
    auto left = storage.cookies();
    ASSERT_EQ(left.size(), 4u);
    for (const auto& c : left) EXPECT_FALSE(c.domain == "example.com" && c.name == "sid");
    // A path that differs selects nothing.
    EXPECT_EQ(storage.deleteCookie(cookie(".example.com", "pref", "/")).removed, 0u);
    EXPECT_EQ(storage.deleteCookie(cookie(".example.com", "pref", "/a")).removed, 1u);
    // The last cookie of a jar leaves a valid empty jar.
    EXPECT_TRUE(storage.deleteCookiesWhere([](const HTTPCookie&) { return true; }).ok);
    std::string error;
    EXPECT_TRUE(storage.cookies(&error).empty());
    EXPECT_EQ(error, "");
    auto empty = BC::parse(bytesOf(legacyJar()));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->pages.empty());
}

TEST_F(HTTPCookieStorageTest, AJarThatIsALinkOrLiesBehindALinkedFolderIsNotRewritten) {
    const std::string original = BC::encode(jarCookies());
    const std::string elsewhere = roots.writeFile(roots.base() + "/elsewhere/Cookies.binarycookies", original);

    // The jar itself a link.
    roots.makeDir(fs::path(legacyJar()).parent_path());
    fs::create_symlink(elsewhere, legacyJar());
    HTTPCookieStorage storage(legacyJar());
    EXPECT_EQ(storage.cookies().size(), jarCookies().size());  // reading may follow it
    auto result = storage.deleteCookiesWhere(byDomain(".tracker.test"));
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("symbolic link"), std::string::npos) << result.error;
    EXPECT_TRUE(fs::is_symlink(legacyJar()));
    EXPECT_EQ(bytesOf(elsewhere), original);
    // With nothing selected there is nothing to refuse.
    EXPECT_TRUE(storage.deleteCookiesWhere(byDomain("absent.test")).ok);

    // The folder holding the jar a link.
    fs::remove(legacyJar());
    fs::remove(fs::path(legacyJar()).parent_path());
    fs::create_symlink(roots.base() + "/elsewhere", fs::path(legacyJar()).parent_path());
    result = storage.deleteCookiesWhere(byDomain(".tracker.test"));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error.rfind("Refusing to remove " + legacyJar() + ": ", 0), 0u) << result.error;
    EXPECT_EQ(bytesOf(elsewhere), original);
    EXPECT_EQ(entriesIn(roots.base() + "/elsewhere"), 1u);
}

TEST_F(HTTPCookieStorageTest, TheGivenGateDecides) {
    const std::string original = BC::encode(jarCookies());
    roots.writeFile(legacyJar(), original);
    // A gate that protects the jar's folder refuses what sits directly inside it.
    hvn::RemovalGate strict({fs::path(legacyJar()).parent_path().string()});
    HTTPCookieStorage storage(legacyJar());
    auto refused = storage.deleteCookiesWhere(byDomain(".tracker.test"), &strict);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.error.rfind("Refusing to remove " + legacyJar(), 0), 0u) << refused.error;
    EXPECT_EQ(bytesOf(legacyJar()), original);
    hvn::RemovalGate plain({roots.home()});
    EXPECT_TRUE(storage.deleteCookiesWhere(byDomain(".tracker.test"), &plain).ok);
}

TEST_F(HTTPCookieStorageTest, AJarChangedWhileBeingRewrittenIsLeftAsTheOtherWriterMadeIt) {
    HTTPCookieStorage storage(legacyJar());
    const std::string dir = fs::path(legacyJar()).parent_path().string();

    // Another writer adds a cookie in place.
    roots.writeFile(legacyJar(), BC::encode(jarCookies()));
    std::vector<HTTPCookie> more = jarCookies();
    more.push_back(cookie("new.test", "fresh"));
    const std::string theirs = BC::encode(more);
    HTTPCookieStorage::setBeforeReplaceHook([&] { roots.writeFile(legacyJar(), theirs); });
    auto result = storage.deleteCookiesWhere(byDomain(".tracker.test"));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.removed, 0u);
    EXPECT_NE(result.error.find("changed while it was being rewritten"), std::string::npos) << result.error;
    EXPECT_EQ(bytesOf(legacyJar()), theirs);
    EXPECT_EQ(entriesIn(dir), 1u);

    // Another writer replaces the file by one of the same size and time: another inode.
    const std::string same = BC::encode(jarCookies());
    roots.writeFile(legacyJar(), same);
    HTTPCookieStorage::setBeforeReplaceHook([&] {
        const std::string side = dir + "/side";
        roots.writeFile(side, same);
        struct stat st = statOf(legacyJar());
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, side.c_str(), times, 0), 0);
        ASSERT_EQ(::rename(side.c_str(), legacyJar().c_str()), 0);
    });
    const ino_t before = statOf(legacyJar()).st_ino;
    result = storage.deleteCookiesWhere(byDomain(".tracker.test"));
    EXPECT_FALSE(result.ok);
    EXPECT_NE(statOf(legacyJar()).st_ino, before);
    EXPECT_EQ(bytesOf(legacyJar()), same);
    EXPECT_EQ(entriesIn(dir), 1u);

    // A jar removed meanwhile is not brought back.
    HTTPCookieStorage::setBeforeReplaceHook([&] { fs::remove(legacyJar()); });
    result = storage.deleteCookiesWhere(byDomain(".tracker.test"));
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(fs::exists(legacyJar()));
    EXPECT_EQ(entriesIn(dir), 0u);

    // Untouched, the same deletion goes through.
    HTTPCookieStorage::setBeforeReplaceHook({});
    roots.writeFile(legacyJar(), same);
    EXPECT_TRUE(storage.deleteCookiesWhere(byDomain(".tracker.test")).ok);
}

TEST_F(HTTPCookieStorageTest, AJarThatCannotBeReplacedStaysWithNoTemporaryFileLeft) {
    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root to drop to nobody";
    const std::string original = BC::encode(jarCookies());
    roots.writeFile(legacyJar(), original);
    const std::string dir = fs::path(legacyJar()).parent_path().string();
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(legacyJar().c_str(), 0644), 0);
    // nobody can read the jar but not write in its folder.
    int rc = hvn::test::runAsNobody([&] {
        HTTPCookieStorage storage(legacyJar());
        if (storage.cookies().size() != jarCookies().size()) return 1;
        auto result = storage.deleteCookiesWhere(byDomain(".tracker.test"));
        if (result.ok || result.removed != 0) return 2;
        if (result.error.find("temporary file") == std::string::npos) return 3;
        return 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(bytesOf(legacyJar()), original);
    EXPECT_EQ(entriesIn(dir), 1u);
}

TEST_F(HTTPCookieStorageTest, AJarWithAWrongChecksumIsReadAndRewrittenWithTheRightOne) {
    std::string bytes = BC::encode(jarCookies());
    auto jar = BC::parse(bytes);
    ASSERT_TRUE(jar);
    const size_t at = bytes.size() - 75 - 12;
    bytes[at + 3] = char(bytes[at + 3] ^ 0x55);
    roots.writeFile(legacyJar(), bytes);
    HTTPCookieStorage storage(legacyJar());
    EXPECT_EQ(storage.cookies().size(), jarCookies().size());
    EXPECT_TRUE(storage.deleteCookiesWhere(byDomain(".tracker.test")).ok);
    auto after = BC::parse(bytesOf(legacyJar()));
    ASSERT_TRUE(after);
    EXPECT_TRUE(after->checksumMatches);
    EXPECT_EQ(after->cookieCount(), jarCookies().size() - 1);
}
