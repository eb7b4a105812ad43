#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/PropertyList.h"
#include "Support/TestRoots.h"

namespace {

// What an fsync of this test program flushed, and what the watched file held at that moment.
struct FsyncSeen {
    bool isDirectory = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string watchedContents;
};

std::mutex gFsyncMutex;
std::vector<FsyncSeen>* gFsyncs = nullptr;
std::string gWatchedPath;

// Records every fsync of the process while it lives.
class FsyncRecorder {
public:
    explicit FsyncRecorder(std::string watched) {
        std::lock_guard<std::mutex> g(gFsyncMutex);
        gWatchedPath = std::move(watched);
        gFsyncs = &seen_;
    }
    ~FsyncRecorder() {
        std::lock_guard<std::mutex> g(gFsyncMutex);
        gFsyncs = nullptr;
    }
    std::vector<FsyncSeen> seen() {
        std::lock_guard<std::mutex> g(gFsyncMutex);
        return seen_;
    }

private:
    std::vector<FsyncSeen> seen_;
};

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

class AtomicWriteTest : public hvn::test::RootsTest {
protected:
    std::string dir() { return roots.makeDir(roots.home() + "/Library/Preferences"); }
};

}  // namespace

// The test program's own fsync: the code under test is linked in statically, so its calls
// land here and are recorded before reaching the kernel.
extern "C" int fsync(int fd) {
    {
        std::lock_guard<std::mutex> g(gFsyncMutex);
        struct stat st {};
        if (gFsyncs && ::fstat(fd, &st) == 0) {
            gFsyncs->push_back(
                {S_ISDIR(st.st_mode), st.st_dev, st.st_ino, hvn::readWholeFile(gWatchedPath).value_or("")});
        }
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

TEST_F(AtomicWriteTest, KeepsTheModeAndOwnerOfTheFileItReplaces) {
    std::string path = roots.writeFile(dir() + "/private.plist", "old");
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    std::string error;
    ASSERT_TRUE(hvn::writeFileAtomically(path, "new", &error)) << error;
    EXPECT_EQ(hvn::readWholeFile(path).value_or(""), "new");
    EXPECT_EQ(modeOf(path), 0600u);

    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    passwd* nobody = getpwnam("nobody");
    bool root = geteuid() == 0 && nobody;
    if (root) {
        ASSERT_EQ(::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    ASSERT_TRUE(hvn::writeFileAtomically(path, "newer", &error)) << error;
    EXPECT_EQ(modeOf(path), 0640u);
    if (root) {
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, nobody->pw_uid);
        EXPECT_EQ(st.st_gid, nobody->pw_gid);
    }

    // A new file gets the usual mode, less the umask.
    mode_t mask = ::umask(022);
    std::string fresh = dir() + "/fresh.plist";
    ASSERT_TRUE(hvn::writeFileAtomically(fresh, "x", &error)) << error;
    ::umask(mask);
    EXPECT_EQ(modeOf(fresh), 0644u);
}

TEST_F(AtomicWriteTest, WritesThroughSymbolicLinksAndKeepsThem) {
    std::string real = roots.writeFile(roots.home() + "/dotfiles/prefs.plist", "old");
    ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
    std::string link = dir() + "/linked.plist";
    ASSERT_EQ(::symlink("../../dotfiles/prefs.plist", link.c_str()), 0);
    std::string error;
    ASSERT_TRUE(hvn::writeFileAtomically(link, "through the link", &error)) << error;
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(hvn::readWholeFile(real).value_or(""), "through the link");
    EXPECT_EQ(modeOf(real), 0600u);

    // A chain of links ends at the same file; a link to a file not yet there creates it.
    std::string second = dir() + "/second.plist";
    ASSERT_EQ(::symlink(link.c_str(), second.c_str()), 0);
    ASSERT_TRUE(hvn::writeFileAtomically(second, "twice linked", &error)) << error;
    EXPECT_EQ(hvn::readWholeFile(real).value_or(""), "twice linked");
    std::string dangling = dir() + "/dangling.plist";
    ASSERT_EQ(::symlink("../../dotfiles/new.plist", dangling.c_str()), 0);
    ASSERT_TRUE(hvn::writeFileAtomically(dangling, "created", &error)) << error;
    ASSERT_EQ(::lstat(dangling.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(hvn::readWholeFile(roots.home() + "/dotfiles/new.plist").value_or(""), "created");

    std::string loop = dir() + "/loop.plist";
    ASSERT_EQ(::symlink("loop.plist", loop.c_str()), 0);
    EXPECT_FALSE(hvn::writeFileAtomically(loop, "x", &error));
    EXPECT_NE(error.find(loop), std::string::npos) << error;
}

TEST_F(AtomicWriteTest, FlushesTheFileBeforeTheRenameAndItsFolderAfter) {
    std::string folder = dir();
    std::string path = roots.writeFile(folder + "/synced.plist", "old");
    struct stat dirStat {};
    ASSERT_EQ(::stat(folder.c_str(), &dirStat), 0);
    std::vector<FsyncSeen> seen;
    {
        FsyncRecorder recorder(path);
        std::string error;
        ASSERT_TRUE(hvn::writeFileAtomically(path, "new", &error)) << error;
        seen = recorder.seen();
    }
    bool fileBeforeRename = false, folderAfterRename = false;
    for (const auto& s : seen) {
        if (!s.isDirectory && s.watchedContents == "old") fileBeforeRename = true;
        if (s.isDirectory && s.device == dirStat.st_dev && s.inode == dirStat.st_ino &&
            s.watchedContents == "new")
            folderAfterRename = true;
    }
    EXPECT_TRUE(fileBeforeRename);
    EXPECT_TRUE(folderAfterRename);
}

TEST_F(AtomicWriteTest, NeverReplacesWhatIsNotARegularFile) {
    std::string fifo = dir() + "/fifo.plist";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::string folder = roots.makeDir(dir() + "/folder.plist");
    for (const std::string& path : {fifo, folder}) {
        std::string error;
        EXPECT_FALSE(hvn::writeFileAtomically(path, "x", &error)) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        struct stat st {};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_FALSE(S_ISREG(st.st_mode)) << path;
    }
    // No temporary file is left behind.
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir())) entries += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entries, 0);
}
