// The bundle's ClearMemory program, run as root over a test system root and as an
// unprivileged user over a test home.
#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "Support/TestRoots.h"

using namespace hvn::test;
namespace fs = std::filesystem;

namespace {

const std::string kClearMemory = std::string(HALVORN_TEST_BUNDLE) + "/Contents/MacOS/ClearMemory";

struct ProgramRun {
    int status = -1;
    std::string out;
};

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Every entry below a folder with what a write, a removal or a rename would change (the
// access time aside: reading may set it).
std::map<std::string, std::string> snapshot(const std::string& base) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(base, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        struct stat st {};
        if (lstat(it->path().c_str(), &st) != 0) continue;
        std::ostringstream s;
        s << std::oct << st.st_mode << std::dec << " " << st.st_uid << " " << st.st_size << " " << st.st_ino
          << " " << st.st_mtim.tv_sec << "." << st.st_mtim.tv_nsec << " " << st.st_ctim.tv_sec << "."
          << st.st_ctim.tv_nsec;
        if (S_ISREG(st.st_mode)) s << " " << contents(it->path().string());
        out[it->path().string()] = s.str();
    }
    return out;
}

// Resident pages of a file in the page cache; -1 when it cannot be asked.
long residentPages(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return -1;
    struct stat st {};
    fstat(fd, &st);
    const long page = sysconf(_SC_PAGESIZE);
    const size_t pages = (st.st_size + page - 1) / page;
    void* map = mmap(nullptr, st.st_size, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (map == MAP_FAILED) return -1;
    std::vector<unsigned char> vec(pages);
    long resident = -1;
    if (mincore(map, st.st_size, vec.data()) == 0) {
        resident = 0;
        for (unsigned char v : vec) resident += v & 1;
    }
    munmap(map, st.st_size);
    return resident;
}

class ClearMemoryTest : public RootsTest {
protected:
    ProgramRun clearMemory(const std::string& arguments = "") const {
        ProgramRun r;
        r.status =
            runCommand("HALVORN_LOG=quiet '" + kClearMemory + "' " + arguments + " 2>/dev/null", &r.out);
        return r;
    }

    // Runs the program as nobody; its standard output comes back through a pipe.
    ProgramRun clearMemoryAsNobody() const {
        ProgramRun r;
        int fds[2];
        if (pipe(fds) != 0) return r;
        r.status = runAsNobody([&] {
            close(fds[0]);
            std::string out;
            int rc = runCommand("HALVORN_LOG=quiet '" + kClearMemory + "' 2>/dev/null", &out);
            (void)!write(fds[1], out.data(), out.size());
            close(fds[1]);
            return rc;
        });
        close(fds[1]);
        char buf[4096];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0) r.out.append(buf, n);
        close(fds[0]);
        return r;
    }

    std::string dropCaches() const { return roots.root() + "/proc/sys/vm/drop_caches"; }

    // A file of the given size owned by uid, written out to the disk (so its pages are clean).
    std::string ownedFile(const std::string& path, size_t size, uid_t uid) const {
        roots.writeFile(path, std::string(size, 'x'));
        int fd = open(path.c_str(), O_RDONLY);
        fsync(fd);
        close(fd);
        EXPECT_EQ(chown(path.c_str(), uid, static_cast<gid_t>(-1)), 0);
        return path;
    }
};

TEST_F(ClearMemoryTest, HelpAndUnknownArguments) {
    ProgramRun help = clearMemory("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: ClearMemory\n", 0), 0u) << help.out;
    EXPECT_EQ(clearMemory("-h").status, 0);
    ProgramRun bad = clearMemory("--all");
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
}

TEST_F(ClearMemoryTest, AsRootItDropsThePageCacheThroughTheSwitchOfTheSystemRoot) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    roots.writeFile(dropCaches(), "0");
    ProgramRun r = clearMemory();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ClearMemory: dropped the clean page cache\n");
    EXPECT_EQ(contents(dropCaches()), "1");
}

TEST_F(ClearMemoryTest, AsRootAMissingOrLinkedSwitchIsLeftAloneAndTheCachesAreReleased) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    roots.writeFile(roots.home() + "/.cache/app/blob", std::string(8192, 'c'));
    ProgramRun r = clearMemory();
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(fs::exists(dropCaches())) << "never created";
    EXPECT_EQ(r.out, "ClearMemory: dropped the cached pages of 1 files\n");

    // A link in the switch's place is not followed.
    const std::string target = roots.writeFile(roots.base() + "/precious", "keep");
    fs::create_directories(fs::path(dropCaches()).parent_path());
    fs::create_symlink(target, dropCaches());
    r = clearMemory();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(contents(target), "keep");
    EXPECT_EQ(r.out, "ClearMemory: dropped the cached pages of 1 files\n");
}

TEST_F(ClearMemoryTest, AsAUserItWritesNothingAndTouchesOnlyItsOwnCacheFiles) {
    if (!canRunAsNobody()) GTEST_SKIP() << "needs root and the user nobody to drop to";
    const uid_t nobody = getpwnam("nobody")->pw_uid;
    // A switch that anyone could write: a user's run must still leave it alone.
    roots.writeFile(dropCaches(), "0");
    chmod(dropCaches().c_str(), 0666);
    const std::string cache = roots.home() + "/.cache";
    const std::string library = roots.home() + "/Library/Caches";
    ownedFile(cache + "/mine", 4096, nobody);
    ownedFile(library + "/com.example/mine too", 100, nobody);
    ownedFile(cache + "/odd\nname\xff", 10, nobody);
    ownedFile(cache + "/empty-is-skipped", 0, nobody);
    roots.writeFile(cache + "/roots-file", "r");  // owned by root
    // A link to a file of the user elsewhere, a link cycle, a FIFO and a folder it cannot read.
    const std::string elsewhere = ownedFile(roots.base() + "/elsewhere", 10, nobody);
    fs::create_symlink(elsewhere, cache + "/link");
    fs::create_symlink(cache, cache + "/loop");
    ASSERT_EQ(mkfifo((cache + "/fifo").c_str(), 0666), 0);
    chown((cache + "/fifo").c_str(), nobody, static_cast<gid_t>(-1));
    ownedFile(cache + "/closed/inside", 10, nobody);
    chmod((cache + "/closed").c_str(), 0700);
    for (const std::string& d : {cache, library, library + "/com.example"}) chmod(d.c_str(), 0755);

    const auto before = snapshot(roots.base());
    ProgramRun r = clearMemoryAsNobody();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ClearMemory: dropped the cached pages of 3 files\n");
    EXPECT_EQ(snapshot(roots.base()), before);
    EXPECT_EQ(contents(dropCaches()), "0");
}

TEST_F(ClearMemoryTest, AsAUserTheCleanPagesOfItsCacheFilesLeaveMemory) {
    if (!canRunAsNobody()) GTEST_SKIP() << "needs root and the user nobody to drop to";
    const uid_t nobody = getpwnam("nobody")->pw_uid;
    const std::string file = ownedFile(roots.home() + "/.cache/big", 1 << 20, nobody);
    const std::string other = ownedFile(roots.home() + "/.cache/not-mine", 1 << 20, 0);
    // Read both into the page cache.
    contents(file);
    contents(other);
    const long cachedMine = residentPages(file);
    const long cachedOther = residentPages(other);
    if (cachedMine <= 0 || cachedOther <= 0) GTEST_SKIP() << "this file system keeps no page cache to drop";
    ProgramRun r = clearMemoryAsNobody();
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(residentPages(file), 0) << "the user's own cache file left the page cache";
    EXPECT_GT(residentPages(other), 0) << "a file the user does not own stays";
}

}  // namespace
