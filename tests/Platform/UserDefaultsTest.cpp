#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "Platform/NotificationCenter.h"
#include "Platform/PropertyList.h"
#include "Platform/UserDefaults.h"
#include "Support/ConcurrentProcesses.h"
#include "Support/LogLines.h"
#include "Support/TestRoots.h"

using namespace hvn;

namespace {

class UserDefaultsTest : public test::RootsTest {
protected:
    void SetUp() override { defaults().reload(); }
    static UserDefaults& defaults() { return UserDefaults::standardUserDefaults(); }
    static Value onDisk(const std::string& key) {
        auto file = PropertyList::readFile(defaults().filePath());
        return file ? (*file)[key] : Value();
    }
    std::string preferencesDir() { return roots.makeDir(roots.home() + "/Library/Preferences"); }
};

}  // namespace

TEST_F(UserDefaultsTest, ThreadsChangingOneKeyLoseNoChange) {
    auto& d = defaults();
    EXPECT_TRUE(d.objectForKey("n").isNull());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&d] {
            for (int i = 0; i < 50; ++i) d.update("n", [](Value& v) { v = Value(v.asInteger() + 1); });
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_TRUE(d.synchronize());
    EXPECT_EQ(onDisk("n").asInteger(), 200);
    d.reload();
    EXPECT_EQ(d.objectForKey("n").asInteger(), 200);
    EXPECT_EQ(d.filePath(), roots.home() + "/Library/Preferences/com.corvane.Halvorn.plist");
}

TEST_F(UserDefaultsTest, ProcessesWritingAtOnceLoseNoKey) {
    defaults().setObject(Value("kept"), "before");
    constexpr int kProcesses = 16, kKeys = 5;
    auto codes = test::runInProcessesAtOnce(kProcesses, [](int p) {
        auto& d = UserDefaults::standardUserDefaults();
        for (int k = 0; k < kKeys; ++k) {
            if (!d.setObject(Value(p * 100 + k), "p" + std::to_string(p) + "-" + std::to_string(k))) return 1;
        }
        return 0;
    });
    for (int p = 0; p < kProcesses; ++p) EXPECT_EQ(codes[static_cast<size_t>(p)], 0) << "process " << p;
    int missing = 0;
    for (int p = 0; p < kProcesses; ++p) {
        for (int k = 0; k < kKeys; ++k) {
            std::string key = "p" + std::to_string(p) + "-" + std::to_string(k);
            if (onDisk(key) != Value(p * 100 + k) || defaults().objectForKey(key) != Value(p * 100 + k))
                ++missing;
        }
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(onDisk("before"), Value("kept"));
}

TEST_F(UserDefaultsTest, AnObjectThatReadTheFileEarlierNeitherServesNorWritesAStaleCopy) {
    auto& d = defaults();
    ASSERT_TRUE(d.setObject(Value("c"), "C"));
    EXPECT_TRUE(d.objectForKey("B").isNull());

    // Another process changes the file: a new file renamed over it.
    auto codes = test::runInProcessesAtOnce(
        1, [](int) { return UserDefaults::standardUserDefaults().setObject(Value("b"), "B") ? 0 : 1; });
    ASSERT_EQ(codes[0], 0);
    EXPECT_EQ(d.objectForKey("B"), Value("b"));
    ASSERT_TRUE(d.setObject(Value("a"), "A"));
    EXPECT_EQ(onDisk("A"), Value("a"));
    EXPECT_EQ(onDisk("B"), Value("b"));
    EXPECT_EQ(onDisk("C"), Value("c"));

    // A program that rewrites the file in place (same inode) is noticed as well.
    Dictionary changed{{"A", Value("a")}, {"B", Value("b2")}, {"C", Value("c")}};
    ASSERT_TRUE(PropertyList::writeFile(d.filePath(), Value(changed), PlistFormat::XML, false));
    EXPECT_EQ(d.objectForKey("B"), Value("b2"));
    ASSERT_TRUE(d.setObject(Value("d"), "D"));
    EXPECT_EQ(onDisk("B"), Value("b2"));
    EXPECT_EQ(onDisk("D"), Value("d"));
}

TEST_F(UserDefaultsTest, KeepsALinkedOrPrivatePreferencesFileAsTheUserMadeIt) {
    std::string real = roots.writeFile(roots.home() + "/dotfiles/halvorn.plist",
                                       PropertyList::serialize(Value(Dictionary{{"B", Value("b")}})));
    ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
    preferencesDir();
    ASSERT_EQ(::symlink(real.c_str(), defaults().filePath().c_str()), 0);
    std::string error;
    ASSERT_TRUE(defaults().setObject(Value("a"), "A", &error)) << error;

    struct stat st {};
    ASSERT_EQ(::lstat(defaults().filePath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    auto target = PropertyList::readFile(real);
    ASSERT_TRUE(target.has_value());
    EXPECT_EQ((*target)["A"], Value("a"));
    EXPECT_EQ((*target)["B"], Value("b"));
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(UserDefaultsTest, ADamagedFileIsKeptAsideNotOverwritten) {
    auto& d = defaults();
    std::string path = d.filePath();
    roots.writeFile(path + ".damaged", "damaged before");
    roots.writeFile(path, "this is not a property list");
    EXPECT_TRUE(d.objectForKey("Setting").isNull());
    EXPECT_FALSE(d.synchronize());
    // A change that changes nothing leaves the file where it is.
    ASSERT_TRUE(d.removeObjectForKey("absent"));
    EXPECT_EQ(readWholeFile(path).value_or(""), "this is not a property list");

    ASSERT_TRUE(d.setObject(Value("v"), "k"));
    EXPECT_TRUE(d.synchronize());
    EXPECT_EQ(readWholeFile(path + ".damaged").value_or(""), "damaged before");
    EXPECT_EQ(readWholeFile(path + ".damaged.1").value_or(""), "this is not a property list");
    d.reload();
    EXPECT_EQ(d.objectForKey("k"), Value("v"));
}

TEST_F(UserDefaultsTest, AFileThatCannotBeReadIsNeverReplaced) {
    auto& d = defaults();
    int changes = 0;
    ObservationToken token = NotificationCenter::defaultCenter().addObserver(
        kUserDefaultsDidChangeNotification, [&](const Notification&) { ++changes; });
    roots.makeDir(d.filePath() + "/inside");
    {
        test::LogLines log;
        std::string error;
        EXPECT_FALSE(d.setObject(Value("a"), "A", &error));
        EXPECT_NE(error.find(d.filePath() + " is not a regular file"), std::string::npos) << error;
        EXPECT_TRUE(log.contains(error)) << error;
    }
    EXPECT_TRUE(std::filesystem::is_directory(d.filePath() + "/inside"));
    EXPECT_FALSE(d.synchronize());
    EXPECT_EQ(changes, 0);
    std::filesystem::remove_all(d.filePath());

    if (!test::canRunAsNobody()) GTEST_SKIP() << "needs root, to run the writer as the user nobody";
    passwd* nobody = getpwnam("nobody");
    std::string folder = preferencesDir();
    ASSERT_EQ(::chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    std::string contents = PropertyList::serialize(Value(Dictionary{{"B", Value("b")}}));
    std::string path = roots.writeFile(d.filePath(), contents);
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);  // root's file, which nobody cannot read

    // The child reports through its exit code: 0 when the change failed with the reason.
    int rc = test::runAsNobody([&path] {
        auto& nobodys = UserDefaults::standardUserDefaults();
        nobodys.reload();
        std::string error;
        if (nobodys.setObject(Value("a"), "A", &error)) return 1;
        if (error.find(path + " cannot be read (Permission denied)") == std::string::npos) return 2;
        return nobodys.synchronize() ? 3 : 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(readWholeFile(path).value_or(""), contents);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_FALSE(std::filesystem::exists(path + ".damaged"));
}
