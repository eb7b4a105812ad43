#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

#include "HVN/Code/Public/HVNAuthorization.h"
#include "HVN/Code/Public/ReomveFile.h"
#include "Platform/DaemonConnection.h"
#include "Platform/FileManager.h"
#include "Platform/Log.h"
#include "Platform/PropertyList.h"
#include "Support/LogLines.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;

namespace {

// The privileged daemon as the removal service sees it: records every request.
class FakeDaemon : public hvn::DaemonObject {
public:
    bool respondsToSelector(const std::string&) override { return true; }
    void removeFile(const std::vector<std::string>& paths, bool isWrite) override {
        std::lock_guard lock(mutex);
        removals.emplace_back(paths, isWrite);
    }
    void lipoApp(const std::vector<std::string>& paths) override {
        std::lock_guard lock(mutex);
        lipos.push_back(paths);
    }
    bool setServerDisable(const std::string& plistPath, bool disable) override {
        std::lock_guard lock(mutex);
        switches.emplace_back(plistPath, disable);
        return switchAnswer;
    }
    void stopRemove() override { ++stops; }

    std::mutex mutex;
    std::vector<std::pair<std::vector<std::string>, bool>> removals;
    std::vector<std::vector<std::string>> lipos;
    std::vector<std::pair<std::string, bool>> switches;
    bool switchAnswer = true;
    int stops = 0;
};

class RemovalPrivilegedTest : public hvn::test::RootsTest {
protected:
    void SetUp() override {
        ReomveFile::resetInstallationFlags();
        oldSleep_ = ReomveFile::setSleepFunction([this](double s) { sleeps.push_back(s); });
        oldLookup_ = hvn::DaemonConnection::setLookupForTesting(
            [this](const std::string& name) -> std::shared_ptr<hvn::DaemonObject> {
                if (name != hvn::kDaemonConnectionName) return nullptr;
                return reachable || fs::exists(marker()) ? daemon : nullptr;
            });
        if (const char* a = std::getenv("HALVORN_AUTH")) oldAuth_ = a;
        // A bundle of our own (with a blank in its path), so that no test ever runs an
        // install script of the real bundle.
        bundle_ = roots.base() + "/My Apps/Halvorn.app";
        roots.makeDir(bundle_ + "/Contents/Resources");
        roots.makeDir(bundle_ + "/Contents/MacOS");
        // The privileged removal helper of the built bundle.
        fs::copy_file(hvn::test::bundlePath() + "/Contents/MacOS/HVNRemove", bundle_ + "/Contents/MacOS/HVNRemove");
        setenv("HALVORN_BUNDLE", bundle_.c_str(), 1);
    }

    void TearDown() override {
        ReomveFile::setSleepFunction(oldSleep_);
        hvn::DaemonConnection::setLookupForTesting(oldLookup_);
        if (oldAuth_) {
            setenv("HALVORN_AUTH", oldAuth_->c_str(), 1);
        } else {
            unsetenv("HALVORN_AUTH");
        }
        ReomveFile::resetInstallationFlags();
    }

    static void setAuth(const char* mode) { setenv("HALVORN_AUTH", mode, 1); }

    std::string marker() const { return roots.base() + "/daemon-started"; }
    std::string cache(const std::string& sub) const { return roots.home() + "/Library/Caches/" + sub; }
    static bool exists(const std::string& p) { return hvn::FileManager::fileExistsAtPath(p, nullptr, false); }

    int installAttempts() const { return static_cast<int>(log_.countLine("installDaemon start")); }
    bool logged(const std::string& line) const { return log_.hasLine(line); }

    // Paths that need not exist (the fake daemon only records them).
    std::vector<std::string> paths(size_t n) const {
        std::vector<std::string> out;
        for (size_t i = 0; i < n; ++i) out.push_back(cache("item" + std::to_string(i)));
        return out;
    }

    // Real items for `rm`: a file, a folder with contents, names with a blank and a dash.
    std::vector<std::string> items(const std::string& tag) const {
        return {roots.writeFile(cache(tag + "/file"), "1"),
                roots.writeFile(cache(tag + "/folder/inner/x"), "2"),
                roots.writeFile(cache(tag + "/with blank"), "3"), roots.writeFile(cache(tag + "/-rf"), "4")};
    }

    // Ships an install script that records its arguments and "starts" the daemon.
    void shipDaemon() {
        std::string res = bundle_ + "/Contents/Resources/";
        roots.writeFile(res + "HVNDaemon", "#!/bin/sh\n");
        roots.writeFile(res + "com.corvane.HVNDaemon.plist", "<plist/>");
        roots.writeFile(res + "copy.sh", "printf '%s\\n' \"$0\" \"$@\" > '" + roots.base() +
                                             "/script-args'\n[ -f \"$1\" ] && [ -f \"$2\" ] && touch '" +
                                             marker() + "'\n");
    }

    std::shared_ptr<FakeDaemon> daemon = std::make_shared<FakeDaemon>();
    bool reachable = false;
    std::vector<double> sleeps;
    std::string bundle_;

private:
    ReomveFile::SleepFunction oldSleep_;
    hvn::DaemonConnection::Lookup oldLookup_;
    std::optional<std::string> oldAuth_;
    hvn::test::LogLines log_;
};

}  // namespace

TEST_F(RemovalPrivilegedTest, BatchesGoToTheDaemonAndLargeOnesArePaced) {
    reachable = true;
    struct Case {
        size_t count;
        bool rewrite;
        std::vector<double> waits;
    };
    for (const Case& c :
         {Case{1, true, {}}, Case{5000, false, {}}, Case{5000, true, {}}, Case{5001, false, {1}},
          Case{5001, true, {2}}, Case{12000, false, {2}}, Case{12000, true, {4}}}) {
        sleeps.clear();
        EXPECT_TRUE(ReomveFile::removeSystemFile(paths(c.count), c.rewrite));
        ASSERT_FALSE(daemon->removals.empty());
        EXPECT_EQ(daemon->removals.back().first.size(), c.count);
        EXPECT_EQ(daemon->removals.back().second, c.rewrite);
        EXPECT_EQ(sleeps, c.waits) << c.count << (c.rewrite ? " with rewrite" : "");
    }
    EXPECT_EQ(installAttempts(), 0);
    EXPECT_TRUE(ReomveFile::removeSystemFile({}, false));
    EXPECT_EQ(daemon->removals.size(), 7u);
}

TEST_F(RemovalPrivilegedTest, ThinningIsPacedPerFiftyExecutables) {
    reachable = true;
    for (auto [count, waits] : std::vector<std::pair<size_t, std::vector<double>>>{
             {1, {}}, {50, {}}, {51, {1}}, {100, {2}}, {149, {2}}}) {
        sleeps.clear();
        EXPECT_TRUE(ReomveFile::lipoWithPrivileges(paths(count)));
        EXPECT_EQ(daemon->lipos.back().size(), count);
        EXPECT_EQ(sleeps, waits) << count;
    }
}

TEST_F(RemovalPrivilegedTest, JobSwitchingAndStopReachOnlyAReachableDaemon) {
    setAuth("allow");
    ReomveFile::stopClearSystemFile();
    EXPECT_EQ(daemon->stops, 0);
    EXPECT_EQ(installAttempts(), 0);  // stopping never installs

    reachable = true;
    EXPECT_TRUE(ReomveFile::setServerDisable("/Library/LaunchDaemons/x.plist", true));
    daemon->switchAnswer = false;
    EXPECT_FALSE(ReomveFile::setServerDisable("/Library/LaunchDaemons/x.plist", false));
    ASSERT_EQ(daemon->switches.size(), 2u);
    EXPECT_EQ(daemon->switches[0], std::make_pair(std::string("/Library/LaunchDaemons/x.plist"), true));
    EXPECT_EQ(daemon->switches[1].second, false);
    ReomveFile::stopClearSystemFile();
    EXPECT_EQ(daemon->stops, 1);
}

TEST_F(RemovalPrivilegedTest, ACancelledPromptRunsNoRmAndIsAskedAgainNextTime) {
    setAuth("deny");
    shipDaemon();
    std::vector<std::string> batch = items("a");
    EXPECT_FALSE(ReomveFile::removeSystemFile(batch, false));
    for (const auto& p : batch) EXPECT_TRUE(exists(p)) << p;
    EXPECT_EQ(installAttempts(), 1);
    EXPECT_TRUE(sleeps.empty());
    // The cancelled installation left no copy of the daemon files behind.
    EXPECT_FALSE(exists(cache("HVNDaemon")));
    EXPECT_FALSE(exists(cache("com.corvane.HVNDaemon.plist")));

    EXPECT_FALSE(ReomveFile::removeSystemFile(batch, true));
    EXPECT_EQ(installAttempts(), 2);
    EXPECT_FALSE(ReomveFile::lipoWithPrivileges(paths(2)));
    EXPECT_FALSE(ReomveFile::lipoWithPrivileges(paths(2)));
    EXPECT_FALSE(ReomveFile::setServerDisable("/x.plist", true));
    EXPECT_EQ(installAttempts(), 5);
    EXPECT_TRUE(sleeps.empty());

    EXPECT_FALSE(ReomveFile::removeFileWithPrivileges(batch[0]));
    EXPECT_TRUE(exists(batch[0]));
    EXPECT_TRUE(logged("Error: User canceled."));
}

TEST_F(RemovalPrivilegedTest, AfterOneInstallationAttemptBatchesGoStraightToRm) {
    setAuth("allow");  // the bundle ships no daemon: the installation cannot make it reachable
    std::vector<std::string> first = items("a");
    EXPECT_TRUE(ReomveFile::removeSystemFile(first, true));
    for (const auto& p : first) EXPECT_FALSE(exists(p)) << p;
    EXPECT_TRUE(exists(cache("a")));
    EXPECT_EQ(installAttempts(), 1);
    EXPECT_EQ(sleeps, std::vector<double>{1});

    std::vector<std::string> second = items("b");
    EXPECT_TRUE(ReomveFile::removeSystemFile(second, false));
    for (const auto& p : second) EXPECT_FALSE(exists(p)) << p;
    EXPECT_EQ(installAttempts(), 1);
    EXPECT_EQ(sleeps, std::vector<double>{1});

    // Each request kind tries its own installation once, then gives up quietly.
    EXPECT_TRUE(ReomveFile::lipoWithPrivileges(paths(3)));
    EXPECT_TRUE(ReomveFile::lipoWithPrivileges(paths(3)));
    EXPECT_FALSE(ReomveFile::setServerDisable("/x.plist", true));
    EXPECT_FALSE(ReomveFile::setServerDisable("/x.plist", true));
    EXPECT_EQ(installAttempts(), 3);
    EXPECT_TRUE(daemon->lipos.empty());
}

TEST_F(RemovalPrivilegedTest, AnInstalledDaemonTakesTheBatchOnTheRetry) {
    setAuth("allow");
    shipDaemon();
    EXPECT_TRUE(ReomveFile::removeSystemFile(paths(3), true));
    ASSERT_EQ(daemon->removals.size(), 1u);
    EXPECT_TRUE(daemon->removals[0].second);
    EXPECT_EQ(sleeps, std::vector<double>{1});
    EXPECT_EQ(installAttempts(), 1);

    // The script got the three paths as three arguments, blanks and all, then the uid it
    // starts the daemon for, and the copies in the caches folder are gone again.
    std::string args = hvn::readWholeFile(roots.base() + "/script-args").value_or("");
    EXPECT_EQ(args, bundle_ + "/Contents/Resources/copy.sh\n" + cache("HVNDaemon") + "\n" +
                        cache("com.corvane.HVNDaemon.plist") + "\n" + std::to_string(getuid()) + "\n");
    EXPECT_FALSE(exists(cache("HVNDaemon")));
    EXPECT_FALSE(exists(cache("com.corvane.HVNDaemon.plist")));
}

TEST_F(RemovalPrivilegedTest, ProtectedPathsNeverReachThePrivilegedRoutes) {
    std::string letter = roots.writeFile(roots.home() + "/Documents/letter", "dear");
    std::string sys = roots.writeFile(roots.root() + "/Library/c", "c");
    reachable = true;
    std::string fine = cache("fine");
    // The refused paths are reported, and the rest still goes: the batch as such worked.
    std::map<std::string, std::string> left;
    std::vector<hvn::RemovalBatch::Request> batch;
    for (const auto& p : {roots.home(), roots.root() + "/Library", fine, std::string("/")}) batch.push_back({p, {}});
    EXPECT_TRUE(ReomveFile::removeSystemFile(batch, false, &left));
    ASSERT_EQ(daemon->removals.size(), 1u);
    EXPECT_EQ(daemon->removals[0].first, std::vector<std::string>{fine});
    EXPECT_EQ(left.size(), 3u);
    EXPECT_EQ(left.count(fine), 0u);
    for (const auto& [path, reason] : left) EXPECT_EQ(reason.rfind("Refusing to remove " + path, 0), 0u) << reason;

    reachable = false;
    setAuth("allow");
    std::string file = roots.writeFile(cache("file"), "x");
    EXPECT_TRUE(ReomveFile::removeSystemFile({roots.home() + "/Documents", file}, false));
    EXPECT_FALSE(exists(file));
    EXPECT_FALSE(ReomveFile::removeFileWithPrivileges(roots.home()));
    EXPECT_FALSE(ReomveFile::removeFileWithPrivileges(roots.root() + "/Library/"));
    EXPECT_EQ(hvn::readWholeFile(letter).value_or(""), "dear");
    EXPECT_EQ(hvn::readWholeFile(sys).value_or(""), "c");

    std::string folder = roots.writeFile(cache("folder/inner"), "x");
    EXPECT_TRUE(ReomveFile::removeFileWithPrivileges(cache("folder")));
    EXPECT_FALSE(exists(cache("folder")));
}
