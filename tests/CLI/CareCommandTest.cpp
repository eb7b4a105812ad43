// End-to-end tests of `halvorn care`: the built command runs as a child process over a
// temporary home (laid out like a macOS home or like a Linux desktop home) and system root;
// its JSON report is compared with the entries the shipped rules name, and --fix is checked
// against a full listing of both roots before and after.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/Bundle.h"
#include "Platform/Log.h"
#include "Platform/PropertyList.h"
#include "CLI/CareTestSupport.h"
#include "Support/TestRoots.h"

extern char** environ;

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

using namespace caretest;

class CareCommandTest : public caretest::CareTestBase {
protected:
    // --- The homes ---
    // A macOS home and system root. Returns what each module must report (every entry
    // ticked); the trash group is checked separately.
    std::map<int, Leaves> makeMacHome() {
        // User caches: a folder counted whole (hidden files inside included, links not), a
        // loose file; hidden entries are not reported; Safari's folder belongs to the
        // browser module, and of Google's folder everything but Chrome stays with module 1.
        file(h("Library/Caches/com.vendor.editor/Cache.db"), 1000);
        file(h("Library/Caches/com.vendor.editor/.state"), 7);
        file(h("Library/Caches/com.vendor.editor/sub/blob"), 3000);
        fs::create_symlink(h("Documents/keep.txt"), h("Library/Caches/com.vendor.editor/link"));
        file(h("Library/Caches/loose.cache"), 50);
        file(h("Library/Caches/.hidden-cache"), 9);
        file(h("Library/Caches/com.apple.Safari/Cache.db"), 2000);
        file(h("Library/Caches/com.apple.Safari/fsCachedData/ab"), 60);
        file(h("Library/Caches/com.apple.Safari/.nosync"), 1);
        file(h("Library/Caches/Google/Chrome/Default/Cache/data_1"), 4000);
        file(h("Library/Caches/Google/Updater/log"), 30);
        file(h("Library/Caches/Google/.lock"), 3);
        // Logs.
        file(h("Library/Logs/editor.log"), 120);
        file(h("Library/Logs/DiagnosticReports/crash1.ips"), 80);
        // Safari's history (every file below ~/Library/Safari whose name holds "History.db",
        // hidden folders walked too), its history list and its last session.
        file(h("Library/Safari/History.db"), 500);
        file(h("Library/Safari/History.db-wal"), 40);
        file(h("Library/Safari/Profiles/p1/History.db"), 70);
        file(h("Library/Safari/.backup/History.db-lock"), 5);
        file(h("Library/Safari/History.plist"), 90);
        file(h("Library/Safari/LastSession.plist"), 25);
        file(h("Library/Safari/Bookmarks.plist"), 33);
        // Trash.
        file(h(".Trash/old.txt"), 11);
        file(h(".Trash/oldfolder/a"), 22);
        file(h(".Trash/.DS_Store"), 6);
        // Never reported.
        file(h("Downloads/setup.dmg"), 1000);
        file(h("Documents/keep.txt"), 15);
        file(h("Library/Application Support/Editor/data.db"), 44);
        file(h(".zshrc"), 12);
        // System root.
        file(r("Library/Caches/com.apple.sys/cache.data"), 250);
        file(r("Library/Logs/system.log"), 45);
        file(r("var/log/system.log.0.bz2"), 12);
        file(r("var/log/wifi.log"), 13);

        const std::string hc = h("Library/Caches");
        return {
            {1,
             {{hc + "/com.vendor.editor", {"com.vendor.editor", 4007, 1}},
              {hc + "/loose.cache", {"loose.cache", 50, 1}},
              {hc + "/Google/Updater", {"Updater", 30, 1}},
              {hc + "/Google/.lock", {".lock", 3, 1}}}},
            {3,
             {{h("Library/Logs/editor.log"), {"editor.log", 120, 1}},
              {h("Library/Logs/DiagnosticReports"), {"DiagnosticReports", 80, 1}}}},
            {5,
             {{h("Library/Safari/History.db"), {"History.db", 500, 1}},
              {h("Library/Safari/History.db-wal"), {"History.db-wal", 40, 1}},
              {h("Library/Safari/Profiles/p1/History.db"), {"History.db", 70, 1}},
              {h("Library/Safari/.backup/History.db-lock"), {"History.db-lock", 5, 1}},
              {h("Library/Safari/History.plist"), {"History.plist", 90, 1}}}},
            {6, {{h("Library/Safari/LastSession.plist"), {"LastSession.plist", 25, 1}}}},
            {7,
             {{hc + "/com.apple.Safari/Cache.db", {"Cache.db", 2000, 1}},
              {hc + "/com.apple.Safari/fsCachedData", {"fsCachedData", 60, 1}},
              {hc + "/Google/Chrome/Default", {"Default", 4000, 1}}}},
            {9, {{h(".Trash/old.txt"), {"old.txt", 11, 1}}, {h(".Trash/oldfolder"), {"oldfolder", 22, 1}}}},
            {0, {{r("Library/Caches/com.apple.sys"), {"com.apple.sys", 250, 1}}}},
            {2,
             {{r("Library/Logs/system.log"), {"system.log", 45, 1}},
              {r("var/log/system.log.0.bz2"), {"system.log.0.bz2", 12, 1}}}},
        };
    }

    // A Linux desktop home (XDG folders, freedesktop trash) and system root.
    std::map<int, Leaves> makeLinuxHome() {
        file(h(".cache/thumbnails/normal/t1.png"), 1300);
        file(h(".cache/pip/http/x"), 700);
        file(h(".cache/.hidden"), 3);
        file(h(".cache/google-chrome/Default/Cache/Cache_Data/data_0"), 2100);
        file(h(".cache/google-chrome/Default/Code Cache/js/f"), 400);
        file(h(".cache/mozilla/firefox/abcd.default-release/cache2/entries/E1"), 3100);
        file(h(".cache/mozilla/extensions/e"), 17);
        file(h(".local/share/xorg/Xorg.0.log"), 66);
        file(h(".config/google-chrome/Default/History"), 140);
        file(h(".config/google-chrome/Default/History-journal"), 8);
        file(h(".config/google-chrome/Default/Visited Links"), 19);
        file(h(".config/google-chrome/Default/Current Session"), 35);
        file(h(".config/google-chrome/Default/Sessions/Session_1"), 44);
        file(h(".config/google-chrome/Default/Preferences"), 27);
        file(h(".config/google-chrome/Default/Cookies"), 20);
        file(h(".mozilla/firefox/abcd.default-release/formhistory.sqlite"), 88);
        file(h(".mozilla/firefox/abcd.default-release/places.sqlite"), 99);
        // The home trash: two entries with their records, a hidden entry, a record without
        // an entry, and the size cache.
        const std::string trash = h(".local/share/Trash");
        file(trash + "/files/report.pdf", 101);
        file(trash + "/files/photos/p1.jpg", 202);
        file(trash + "/files/.hidden", 1);
        roots.writeFile(trash + "/info/report.pdf.trashinfo",
                        "[Trash Info]\nPath=/home/u/report.pdf\nDeletionDate=2024-01-02T03:04:05\n");
        roots.writeFile(trash + "/info/photos.trashinfo",
                        "[Trash Info]\nPath=/home/u/photos\nDeletionDate=2024-01-02T03:04:05\n");
        roots.writeFile(trash + "/info/orphan.trashinfo",
                        "[Trash Info]\nPath=/home/u/orphan\nDeletionDate=2024-01-02T03:04:05\n");
        roots.writeFile(trash + "/directorysizes", "202 1704164645 photos\n");
        // Never reported.
        file(h("Downloads/big.iso"), 1000);
        file(h("Documents/keep.txt"), 15);
        file(h(".bashrc"), 12);
        // System root.
        file(r("var/cache/apt/archives/vim_9.0.deb"), 1200);
        file(r("var/cache/apt/archives/lock"), 0);
        file(r("var/cache/apt/archives/partial/curl_8.deb"), 600);
        file(r("var/log/syslog.2.gz"), 23);
        file(r("var/log/dpkg.log.old"), 24);
        file(r("var/log/syslog"), 25);
        file(r("var/log/apt/history.log.1.gz"), 26);
        file(r("var/log/apt/history.log"), 27);

        const std::string chrome = h(".config/google-chrome/Default");
        return {
            {1,
             {{h(".cache/thumbnails"), {"thumbnails", 1300, 1}},
              {h(".cache/pip"), {"pip", 700, 1}},
              {h(".cache/mozilla/extensions"), {"extensions", 17, 1}}}},
            {3, {{h(".local/share/xorg/Xorg.0.log"), {"Xorg.0.log", 66, 1}}}},
            {5,
             {{chrome + "/History", {"History", 140, 1}},
              {chrome + "/History-journal", {"History-journal", 8, 1}},
              {chrome + "/Visited Links", {"Visited Links", 19, 1}},
              {h(".mozilla/firefox/abcd.default-release/formhistory.sqlite"),
               {"formhistory.sqlite", 88, 1}}}},
            {6,
             {{chrome + "/Current Session", {"Current Session", 35, 1}},
              {chrome + "/Sessions/Session_1", {"Session_1", 44, 1}}}},
            {7,
             {{h(".cache/google-chrome/Default"), {"Default", 2500, 1}},
              {h(".cache/mozilla/firefox/abcd.default-release"), {"abcd.default-release", 3100, 1}}}},
            {9,
             {{trash + "/files/report.pdf", {"report.pdf", 101, 1}},
              {trash + "/files/photos", {"photos", 202, 1}}}},
            {0,
             {{r("var/cache/apt/archives/vim_9.0.deb"), {"vim_9.0.deb", 1200, 1}},
              {r("var/cache/apt/archives/partial/curl_8.deb"), {"curl_8.deb", 600, 1}}}},
            {2,
             {{r("var/log/syslog.2.gz"), {"syslog.2.gz", 23, 1}},
              {r("var/log/dpkg.log.old"), {"dpkg.log.old", 24, 1}},
              {r("var/log/apt/history.log.1.gz"), {"history.log.1.gz", 26, 1}}}},
        };
    }

    // Checks a report against the expected entries: default modules in their categories,
    // exactly the expected leaves, nothing outside the two roots, one ticked trash group.
    void expectReport(const json& doc, const std::map<int, Leaves>& expected, const std::string& trashDir) {
        EXPECT_EQ(categoryNames(doc), (std::vector<std::string>{"Internet Security", "System", "Disk"}));
        EXPECT_EQ(moduleIds(doc, "Internet Security"), (std::vector<int>{21, 22}));
        EXPECT_EQ(moduleIds(doc, "System"), (std::vector<int>{1, 3, 5, 6, 7, 15, 16, 18}));
        EXPECT_EQ(moduleIds(doc, "Disk"), (std::vector<int>{0, 2, 8, 9, 10, 11, 12, 13}));
        for (const auto& [id, l] : allLeaves(doc)) {
            auto it = expected.find(id);
            EXPECT_EQ(l, it == expected.end() ? Leaves{} : it->second) << "module " << id;
            for (const auto& [path, leaf] : l) {
                EXPECT_TRUE(isAtOrBelow(path, roots.home()) || isAtOrBelow(path, roots.root())) << path;
            }
        }
        const json* m1 = module(doc, 1);
        ASSERT_NE(m1, nullptr);
        EXPECT_EQ((*m1)["settingsName"], "User Cache Files");
        EXPECT_EQ((*m1)["displayName"], "User Cache Files");
        const json* m7 = module(doc, 7);
        ASSERT_NE(m7, nullptr);
        EXPECT_EQ((*m7)["settingsName"], "Browser Cache");
        EXPECT_EQ((*m7)["displayName"], "Internet Caches");
        // Per module: size = sum of the top nodes, issues = leaves, the size text.
        for (const auto& c : doc["categories"]) {
            for (const auto& m : c["modules"]) {
                int64_t size = 0;
                for (const auto& n : m["items"]) size += n["fileSize"].get<int64_t>();
                EXPECT_EQ(m["size"], size) << m["id"];
                EXPECT_EQ(m["issues"], leaves(doc, m["id"]).size()) << m["id"];
                EXPECT_EQ(m["sizeText"], size > 1 ? HVNCommonFunction::getSizeDesc(size) : std::string())
                    << m["id"];
            }
        }
        // The trash: one group for the start-up disk holding the entries.
        const json* trash = module(doc, 9);
        ASSERT_NE(trash, nullptr);
        ASSERT_EQ((*trash)["items"].size(), 1u);
        const json& group = (*trash)["items"][0];
        EXPECT_EQ(group["name"], "Macintosh HD");
        EXPECT_EQ(group["isCheck"], 1);
        EXPECT_EQ(group["filePath"], trashDir + "/Macintosh HD");
        int64_t sum = 0;
        for (const auto& [p, leaf] : expected.at(9)) sum += leaf.size;
        EXPECT_EQ(group["fileSize"], sum);
        EXPECT_EQ(group["children"].size(), expected.at(9).size());
    }

    // Runs --fix --yes over a home and checks that exactly the ticked entries went.
    void fixAndCheck(const std::map<int, Leaves>& expected, const std::vector<std::string>& alsoGone) {
        settings("list");  // a user who has started the program once
        json before = careJson();
        int64_t cleanedSize = 0, issues = 0;
        std::vector<std::string> removed = alsoGone;
        for (const auto& [id, l] : allLeaves(before)) {
            for (const auto& [path, leaf] : l) {
                ASSERT_EQ(leaf.check, 1);
                removed.push_back(path);
                cleanedSize += leaf.size;
            }
        }
        // Issues as the care screen counts them: top nodes in System, leaves in Disk.
        for (const auto& c : before["categories"]) {
            for (const auto& m : c["modules"]) {
                issues += c["name"] == "System" ? m["items"].size() : leaves(before, m["id"]).size();
            }
        }
        const Listing start = listing();
        const std::string db = hvn::test::bundlePath() + "/Contents/Resources/CleanPath.db";
        const auto dbBytes = hvn::readWholeFile(db);

        CareRun run = care("--json --fix --yes");
        ASSERT_EQ(run.rc, 0) << run.err << run.out;
        json doc = json::parse(run.out, nullptr, false);
        ASSERT_TRUE(doc.is_object()) << run.out;
        EXPECT_EQ(allLeaves(doc), allLeaves(before));  // the report is the scan, before the clean
        ASSERT_TRUE(doc.contains("clean"));
        EXPECT_EQ(doc["clean"]["notice"], hvn::format("%ld issues have been fixed and %s have been cleaned!",
                                                      static_cast<long>(issues),
                                                      HVNCommonFunction::getSizeDesc(cleanedSize).c_str()));
        EXPECT_EQ(doc["clean"]["stopped"], false);
        EXPECT_EQ(doc["clean"]["notRemoved"], json::array());

        // Everything reported is gone with what it held; everything else is as it was
        // (folders may have changed times since entries left them).
        const Listing end = listing();
        for (const auto& [path, item] : start) {
            bool gone = false;
            for (const auto& g : removed) gone = gone || isAtOrBelow(path, g);
            auto it = end.find(path);
            if (gone) {
                EXPECT_EQ(it, end.end()) << "still there: " << path;
            } else if (it == end.end()) {
                ADD_FAILURE() << "removed but not reported: " << path;
            } else if (item.isDir()) {
                EXPECT_EQ(it->second.mode, item.mode) << path;
            } else if (path.find("/Trash/directorysizes") == std::string::npos) {
                EXPECT_TRUE(it->second == item) << "changed: " << path;
            }
        }
        for (const auto& [path, item] : end) EXPECT_TRUE(start.count(path)) << "new: " << path;
        EXPECT_EQ(hvn::readWholeFile(db), dbBytes);

        // A second scan finds nothing left.
        json again = careJson();
        for (const auto& [id, l] : allLeaves(again)) EXPECT_TRUE(l.empty()) << "module " << id;
    }
};

TEST_F(CareCommandTest, MacHomeReportsExactlyTheRuleEntries) {
    auto expected = makeMacHome();
    expectReport(careJson(), expected, h(".Trash"));
}

TEST_F(CareCommandTest, LinuxHomeReportsExactlyTheRuleEntries) {
    auto expected = makeLinuxHome();
    expectReport(careJson(), expected, h(".local/share/Trash"));
}

TEST_F(CareCommandTest, TextReportHasALinePerCategoryAndModuleAndNoProgressOffATerminal) {
    makeLinuxHome();
    json doc = careJson();
    CareRun run = care("");
    ASSERT_EQ(run.rc, 0) << run.err;
    EXPECT_EQ(run.err, "");  // standard error is a file here: no progress line
    for (const auto& c : doc["categories"]) {
        EXPECT_TRUE(std::regex_search(run.out, std::regex("(^|\n)" + c["name"].get<std::string>() + " +\\S")))
            << c["name"];
        for (const auto& m : c["modules"]) {
            std::string text =
                m["sizeText"].get<std::string>().empty() ? "-" : m["sizeText"].get<std::string>();
            int64_t n = m["issues"];
            std::string line = "\n  " + m["displayName"].get<std::string>() + " +" +
                               std::regex_replace(text, std::regex("\\."), "\\.") + "  " + std::to_string(n) +
                               (n == 1 ? " entry\n" : " entries\n");
            EXPECT_TRUE(std::regex_search(run.out, std::regex(line))) << line << "\n" << run.out;
        }
    }
}

// A name that is not UTF-8 shows U+FFFD in "name" and "filePath", and keeps its exact
// bytes in "nameBytes" and "filePathBytes"; two names that differ only in such bytes stay
// two entries. Well-formed names, accented ones too, have no bytes keys.
TEST_F(CareCommandTest, NamesThatAreNotUtf8KeepTheirExactBytesInJson) {
    const std::string ff = "bad\xff.cache", fe = "bad\xfe.cache", accent = "caf\xc3\xa9";
    file(h(".cache/" + ff + "/data"), 10);
    file(h(".cache/" + fe + "/data"), 20);
    file(h(".cache/" + accent + "/data"), 30);
    json doc = careJson("--only 1");
    const json* m = module(doc, 1);
    ASSERT_NE(m, nullptr);
    std::map<std::string, json> byPath;
    for (const auto& n : (*m)["items"]) byPath[exact(n, "filePath")] = n;
    ASSERT_EQ(byPath.size(), 3u) << m->dump();
    for (const auto& [name, size] : std::vector<std::pair<std::string, int>>{{ff, 10}, {fe, 20}}) {
        const json& n = byPath[h(".cache/" + name)];
        EXPECT_EQ(n["name"], "bad\xef\xbf\xbd.cache") << n;
        EXPECT_EQ(n["filePath"], h(".cache/bad\xef\xbf\xbd.cache")) << n;
        EXPECT_EQ(exact(n, "name"), name);
        EXPECT_EQ(n["fileSize"], size);
    }
    const json& a = byPath[h(".cache/" + accent)];
    EXPECT_EQ(a["name"], accent);
    EXPECT_FALSE(a.contains("nameBytes") || a.contains("filePathBytes")) << a;
}

// `halvorn care ARGS` as a child with pipes on its standard input, output and error, so that
// a test can answer the prompt and send signals while it runs.
class CareChild {
public:
    explicit CareChild(const std::string& args) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            if (v.rfind("XDG_DATA_HOME=", 0) != 0 && v.rfind("HALVORN_LOG=", 0) != 0 &&
                v.rfind("HALVORN_AUTH=", 0) != 0) {
                env.push_back(v);
            }
        }
        env.push_back("HALVORN_LOG=quiet");
        env.push_back("HALVORN_AUTH=deny");
        std::vector<std::string> argv = {hvn::test::cliPath(), "care"};
        std::stringstream ss(args);
        for (std::string a; ss >> a;) argv.push_back(a);
        std::vector<char*> envp, argp;
        for (auto& e : env) envp.push_back(e.data());
        for (auto& a : argv) argp.push_back(a.data());
        envp.push_back(nullptr);
        argp.push_back(nullptr);

        int in[2], out[2], err[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            if (dup2(in[0], 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0 || chdir("/") != 0)
                _exit(126);
            execve(argp[0], argp.data(), envp.data());
            _exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        in_ = in[1];
        out_ = out[0];
        err_ = err[0];
    }
    ~CareChild() {
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : {in_, out_, err_}) {
            if (fd >= 0) ::close(fd);
        }
    }
    bool started() const { return pid_ > 0; }

    // Reads until standard error holds text; false after the timeout or at the end of it.
    bool waitForError(const std::string& text, std::chrono::seconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (run_.err.find(text) == std::string::npos) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(static_cast<int>(left.count()))) return false;
        }
        return true;
    }
    void write(const std::string& text) {
        ASSERT_EQ(::write(in_, text.data(), text.size()), ssize_t(text.size()));
    }
    void signal(int sig) { kill(pid_, sig); }
    // Reads both outputs to their end and waits for the exit.
    CareRun finish() {
        while (readSome(-1)) {
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        status_ = status;
        run_.rc = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        return run_;
    }

private:
    // Waits up to timeoutMs (-1: no limit) for output and reads it; false once both are at
    // their end, or when nothing came in time.
    bool readSome(int timeoutMs) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (out_ < 0 && err_ < 0) return false;
        if (poll(fds, 2, timeoutMs) <= 0) return false;
        for (auto [fd, text] : {std::pair{&out_, &run_.out}, std::pair{&err_, &run_.err}}) {
            if (*fd < 0 || !(fds[fd == &out_ ? 0 : 1].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            ssize_t n = ::read(*fd, buf, sizeof buf);
            if (n > 0) {
                text->append(buf, static_cast<size_t>(n));
            } else {
                ::close(*fd);
                *fd = -1;
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int status_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    CareRun run_;
};

// Ctrl-C during a clean stops it and ends with status 130, as during a scan; what is left
// of the selection is listed as left in place.
TEST_F(CareCommandTest, CtrlCDuringACleanStopsItAndExitsOneThirty) {
    settings("list");
    for (const char* args : {"--json --fix", "--fix"}) {
        auto expected = makeLinuxHome();
        for (int i = 0; i < 2000; ++i) file(h(".cache/pip/http/f" + std::to_string(i)), 10);
        CareChild child(args);
        ASSERT_TRUE(child.started());
        ASSERT_TRUE(child.waitForError("? [y/N] ", std::chrono::seconds(120))) << args;
        // The answer is in the pipe before the signal: the prompt reads "y" and the clean
        // starts with the interrupt already noted, or gets it while it runs.
        child.write("y\n");
        child.signal(SIGINT);
        CareRun run = child.finish();
        EXPECT_EQ(run.rc, 130) << args << "\n" << run.err << run.out;
        std::set<std::string> stillThere;
        for (const auto& [id, l] : expected) {
            for (const auto& [path, leaf] : l) {
                if (fs::exists(path)) stillThere.insert(path);
            }
        }
        if (std::string(args).find("--json") != std::string::npos) {
            json doc = json::parse(run.out, nullptr, false);
            ASSERT_TRUE(doc.is_object()) << run.out;
            EXPECT_EQ(doc["clean"]["stopped"], true);
            EXPECT_EQ(doc["clean"]["notice"], "");
            std::set<std::string> left;
            for (const auto& e : doc["clean"]["notRemoved"]) left.insert(exact(e, "filePath"));
            // Every reported entry of the selection that is still there is listed, and no more
            // (the trash records go with their entries and are not listed).
            for (const auto& p : stillThere) EXPECT_TRUE(left.count(p)) << p;
            for (const auto& p : left) EXPECT_TRUE(fs::exists(p)) << p;
        } else {
            EXPECT_NE(run.out.find("Clean stopped.\n"), std::string::npos) << run.out;
            EXPECT_EQ(run.out.find("have been cleaned"), std::string::npos) << run.out;
        }
    }
}

TEST_F(CareCommandTest, FixYesRemovesExactlyTheTickedEntriesOfAMacHome) {
    fixAndCheck(makeMacHome(), {});
}

TEST_F(CareCommandTest, FixYesRemovesExactlyTheTickedEntriesOfALinuxHomeWithTheirTrashRecords) {
    const std::string info = h(".local/share/Trash/info");
    fixAndCheck(makeLinuxHome(), {info + "/report.pdf.trashinfo", info + "/photos.trashinfo"});
    EXPECT_TRUE(fs::exists(info + "/orphan.trashinfo"));
}

// Emptying a freedesktop trash also drops the size cache lines of the folders that went.
TEST_F(CareCommandTest, EmptyingTheTrashDropsStaleDirectorySizes) {
    makeLinuxHome();
    CareRun run = care("--json --fix --yes --only 9");
    ASSERT_EQ(run.rc, 0) << run.err;
    EXPECT_FALSE(fs::exists(h(".local/share/Trash/files/photos")));
    EXPECT_EQ(hvn::readWholeFile(h(".local/share/Trash/directorysizes")).value_or("").find("photos"),
              std::string::npos);
}

TEST_F(CareCommandTest, WithoutFixNothingChanges) {
    makeMacHome();
    makeLinuxHome();
    // A first run on a new home writes the default settings (and their lock file) and nothing else.
    Listing fresh = listing();
    careJson();
    Listing seeded = listing();
    std::vector<std::string> diff = differences(fresh, seeded);
    EXPECT_EQ(diff, (std::vector<std::string>{"changed: " + h("Library"), "new: " + h("Library/Preferences"),
                                              "new: " + prefsPath(), "new: " + prefsPath() + ".lock"}));

    for (const char* args : {"--json", "", "--only 1,9", "--skip 3"}) {
        CareRun run = care(args);
        EXPECT_EQ(run.rc, 0) << args << run.err;
    }
    EXPECT_EQ(differences(seeded, listing()), std::vector<std::string>{});
}

TEST_F(CareCommandTest, DecliningThePromptChangesNothing) {
    auto expected = makeLinuxHome();
    settings("list");
    json doc = careJson();
    const int64_t ticked = tickedLeafCount(doc);
    int64_t size = 0;
    for (const auto& c : doc["categories"]) {
        for (const auto& m : c["modules"]) size += m["size"].get<int64_t>();
    }
    const std::string prompt = hvn::format("Clean %ld items (%s)? [y/N] ", static_cast<long>(ticked),
                                           HVNCommonFunction::getSizeDesc(size).c_str());
    const Listing start = listing();
    for (const char* answer : {"n\n", "", "yes please\n", "N\n"}) {
        CareRun run = care("--json --fix", answer);
        EXPECT_EQ(run.rc, 0) << run.err;
        EXPECT_NE(run.err.find(prompt), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Nothing was cleaned."), std::string::npos) << run.err;
        json out = json::parse(run.out, nullptr, false);
        ASSERT_TRUE(out.is_object()) << run.out;
        EXPECT_EQ(out["clean"], json::parse(R"({"notice":"","stopped":false,"notRemoved":[]})")) << answer;
    }
    EXPECT_EQ(differences(start, listing()), std::vector<std::string>{});

    // "y" cleans.
    CareRun run = care("--fix --only 3", "y\n");
    EXPECT_EQ(run.rc, 0) << run.err;
    EXPECT_NE(run.out.find("have been cleaned!"), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(h(".local/share/xorg/Xorg.0.log")));
    EXPECT_TRUE(fs::exists(h(".cache/pip/http/x")));
}

TEST_F(CareCommandTest, StoredSettingsChooseModulesAndCategories) {
    makeLinuxHome();
    settings("set SystemCleanModules '[\"User Log Files\"]'");
    json doc = careJson();
    EXPECT_EQ(moduleIds(doc, "System"), std::vector<int>{3});
    EXPECT_EQ(moduleIds(doc, "Disk"), (std::vector<int>{0, 2, 8, 9, 10, 11, 12, 13}));
    EXPECT_TRUE(leaves(doc, 1).empty());

    // Downloads only when its item is enabled.
    settings("set DiskCleanModules '[\"User Downloads\"]'");
    doc = careJson();
    EXPECT_EQ(moduleIds(doc, "Disk"), std::vector<int>{14});
    EXPECT_EQ(leaves(doc, 14), (Leaves{{h("Downloads/big.iso"), {"big.iso", 1000, 1}}}));

    // The category boxes: stored NO turns a category off.
    storeChoice("SystemSelect", false);
    EXPECT_EQ(categoryNames(careJson()), (std::vector<std::string>{"Internet Security", "Disk"}));
    storeChoice("SystemSelect", true);
    storeChoice("InternetVirusSelect", false);
    EXPECT_EQ(categoryNames(careJson()), (std::vector<std::string>{"System", "Disk"}));
    storeChoice("SystemSelect", false);
    storeChoice("DiscSelect", false);
    const Listing start = listing();
    CareRun run = care("--json --fix --yes");
    EXPECT_EQ(run.rc, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("You must select at least one item to continue the scan."), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("Please select one option at least."), std::string::npos) << run.err;
    EXPECT_EQ(differences(start, listing()), std::vector<std::string>{});
}

TEST_F(CareCommandTest, OnlyAndSkipLimitTheRunWithoutChangingTheSettings) {
    auto expected = makeLinuxHome();
    settings("list");
    const auto prefs = hvn::readWholeFile(prefsPath());
    ASSERT_TRUE(prefs.has_value());

    json doc = careJson("--only 1,3");
    EXPECT_EQ(moduleIds(doc, "System"), (std::vector<int>{1, 3}));
    EXPECT_EQ(moduleIds(doc, "Disk"), std::vector<int>{});
    EXPECT_EQ(leaves(doc, 1), expected[1]);
    EXPECT_EQ(moduleIds(careJson("--only=7"), "System"), std::vector<int>{7});
    doc = careJson("--skip 9,1 --skip 0");
    EXPECT_EQ(moduleIds(doc, "System"), (std::vector<int>{3, 5, 6, 7, 15, 16, 18}));
    EXPECT_EQ(moduleIds(doc, "Disk"), (std::vector<int>{2, 8, 10, 11, 12, 13}));
    doc = careJson("--only 1 --skip 1");
    EXPECT_EQ(moduleIds(doc, "System"), std::vector<int>{});
    // --only does not enable a module the settings leave off.
    EXPECT_EQ(moduleIds(careJson("--only 14"), "Disk"), std::vector<int>{});

    // A clean limited to the logs leaves every other entry.
    CareRun run = care("--fix --yes --only 3");
    ASSERT_EQ(run.rc, 0) << run.err;
    EXPECT_FALSE(fs::exists(h(".local/share/xorg/Xorg.0.log")));
    doc = careJson();
    for (const auto& [id, l] : allLeaves(doc)) EXPECT_EQ(l, id == 3 ? Leaves{} : expected[id]) << id;
    EXPECT_EQ(hvn::readWholeFile(prefsPath()), prefs);
}

TEST_F(CareCommandTest, BadOptionsExitTwoAndTouchNothing) {
    makeMacHome();
    const Listing start = listing();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--bogus", "unknown option '--bogus'"},
        {"--json extra", "unknown option 'extra'"},
        {"--only 20", "unknown module identifier '20'"},
        {"--only abc", "unknown module identifier 'abc'"},
        {"--only 1,-1", "unknown module identifier '-1'"},
        {"--only 4294967297", "unknown module identifier '4294967297'"},
        {"--skip 99999999999999999999", "unknown module identifier"},
        {"--only", "--only needs a list of module identifiers"},
        {"--skip ,", "no module identifier given"},
        {"--yes", "--yes goes with --fix"},
        {"-y --json", "--yes goes with --fix"},
    };
    for (const auto& [args, message] : cases) {
        CareRun run = care(args);
        EXPECT_EQ(run.rc, 2) << args;
        EXPECT_EQ(run.out, "") << args;
        EXPECT_NE(run.err.find(message), std::string::npos) << args << ": " << run.err;
    }
    CareRun help = care("--help");
    EXPECT_EQ(help.rc, 0);
    EXPECT_NE(help.out.find("usage: halvorn care"), std::string::npos);
    EXPECT_EQ(differences(start, listing()), std::vector<std::string>{});
}

TEST_F(CareCommandTest, UnreadableRuleDatabaseExitsOneAndTouchesNothing) {
    makeLinuxHome();
    settings("list");
    const std::string bundle = roots.base() + "/Copy.app";
    fs::copy(hvn::test::bundlePath(), bundle, fs::copy_options::recursive);
    const std::string db = bundle + "/Contents/Resources/CleanPath.db";
    const Listing start = listing();
    const std::string env = "HALVORN_BUNDLE=" + bundle;

    // The copy works as the original does.
    CareRun ok = care("--json --only 3", "", env);
    ASSERT_EQ(ok.rc, 0) << ok.err;
    EXPECT_NE(ok.out.find("Xorg.0.log"), std::string::npos);
    ASSERT_EQ(differences(start, listing()), std::vector<std::string>{});

    struct Case {
        const char* what;
        std::function<void()> make;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"missing", [&] { fs::remove(db); }, "does not exist"},
        {"not a database", [&] { roots.writeFile(db, std::string(4096, 'z')); }, "rule database"},
        {"empty file", [&] { roots.writeFile(db, ""); }, "rule database"},
        {"no rule table",
         [&] {
             fs::remove(db);
             ASSERT_EQ(hvn::test::runCommand("sqlite3 " + db + " 'create table other(x)'"), 0);
         },
         "rule database"},
    };
    for (const auto& c : cases) {
        c.make();
        const auto dbBytes = hvn::readWholeFile(db);
        for (const char* args : {"--json", "--fix --yes"}) {
            CareRun run = care(args, "", env);
            EXPECT_EQ(run.rc, 1) << c.what << " " << args;
            EXPECT_EQ(run.out, "") << c.what;
            EXPECT_NE(run.err.find(c.message), std::string::npos) << c.what << ": " << run.err;
            EXPECT_NE(run.err.find("CleanPath.db"), std::string::npos) << c.what << ": " << run.err;
        }
        EXPECT_EQ(hvn::readWholeFile(db), dbBytes) << c.what;
        EXPECT_EQ(differences(start, listing()), std::vector<std::string>{}) << c.what;
    }
}

// Why the tests run as nobody cannot run here (they need root, the user nobody, and a build
// folder nobody may run the command from); empty when they can.
std::string whyNobodyCannotRun() {
    if (!hvn::test::canRunAsNobody()) return "needs root and the user nobody";
    const std::string info = hvn::test::bundlePath() + "/Contents/Info.plist";
    if (hvn::test::runAsNobody([&] {
            return access(hvn::test::cliPath().c_str(), X_OK) == 0 && access(info.c_str(), R_OK) == 0 ? 0 : 1;
        }) != 0) {
        return "nobody cannot run the built command in this build folder";
    }
    return "";
}

class CareAsNobodyTest : public CareCommandTest {
protected:
    // Makes the home nobody's, with the given folders (each holding a file) left root's, so
    // that nobody cannot remove them.
    void lockForNobody(const std::vector<std::string>& lockedFolders) {
        std::string command = "chown -R nobody '" + roots.home() + "'";
        for (const auto& f : lockedFolders) {
            ASSERT_EQ(f.find('\''), std::string::npos) << f;
            command += " && chown -R root '" + f + "'";
        }
        ASSERT_EQ(hvn::test::runCommand(command), 0) << command;
    }
    // Runs the built command as nobody with the privileged route refused.
    CareRun runNobody(const std::vector<std::string>& args) {
        CareRun run;
        const std::string outPath = roots.base() + "/nobody-out", errPath = roots.base() + "/nobody-err";
        int out = ::open(outPath.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        int err = ::open(errPath.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        EXPECT_TRUE(out >= 0 && err >= 0);
        if (out < 0 || err < 0) return run;
        run.rc = hvn::test::runAsNobody([&] {
            int in = ::open("/dev/null", O_RDONLY);
            if (in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir("/") != 0)
                return 126;
            setenv("HALVORN_AUTH", "deny", 1);
            setenv("HALVORN_LOG", "quiet", 1);
            unsetenv("XDG_DATA_HOME");
            std::vector<char*> argv;
            std::string cli = hvn::test::cliPath();
            argv.push_back(cli.data());
            std::vector<std::string> copy = args;
            for (auto& a : copy) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(cli.c_str(), argv.data());
            return 127;
        });
        ::close(out);
        ::close(err);
        run.out = hvn::readWholeFile(outPath).value_or("");
        run.err = hvn::readWholeFile(errPath).value_or("");
        return run;
    }
};

// An entry the user may not remove (a folder of root's in a home of nobody's, run as
// nobody with the privileged route refused) is reported as not removed, and the exit status
// says so; the rest is cleaned.
TEST_F(CareAsNobodyTest, AnEntryThatCannotBeRemovedIsReportedAndFailsTheRun) {
    if (std::string why = whyNobodyCannotRun(); !why.empty()) GTEST_SKIP() << why;
    file(h(".cache/app1/data"), 1500);
    file(h(".cache/locked/inner/y"), 20);
    file(h(".cache/app2/data"), 700);
    settings("list");
    lockForNobody({h(".cache/locked")});

    CareRun run = runNobody({"care", "--json", "--fix", "--yes", "--only", "1"});
    ASSERT_EQ(run.rc, 1) << run.err << run.out;
    json doc = json::parse(run.out, nullptr, false);
    ASSERT_TRUE(doc.is_object()) << run.out;
    EXPECT_EQ(leaves(doc, 1).size(), 3u);
    ASSERT_EQ(doc["clean"]["notRemoved"].size(), 1u) << doc["clean"].dump();
    const json& entry = doc["clean"]["notRemoved"][0];
    EXPECT_EQ(entry["filePath"], h(".cache/locked"));
    EXPECT_EQ(entry.size(), 2u) << entry;  // no bytes for a UTF-8 path
    EXPECT_NE(entry["reason"].get<std::string>().find("Permission denied"), std::string::npos) << entry;
    EXPECT_EQ(doc["clean"]["stopped"], false);
    // The notice counts what went, not what was selected.
    EXPECT_EQ(doc["clean"]["notice"],
              "2 issues have been fixed and " + HVNCommonFunction::getSizeDesc(2200) + " have been cleaned!");
    EXPECT_FALSE(fs::exists(h(".cache/app1")));
    EXPECT_FALSE(fs::exists(h(".cache/app2")));
    EXPECT_EQ(hvn::readWholeFile(h(".cache/locked/inner/y")), std::string(20, 'x'));

    // Nothing of the selection can go: the plain report says so too.
    run = runNobody({"care", "--fix", "--yes", "--only", "1"});
    EXPECT_EQ(run.rc, 1) << run.err;
    EXPECT_NE(run.out.find("Clean Finish!\nCould not be removed (1):\n  " + h(".cache/locked") + "  ("),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Permission denied)\n"), std::string::npos) << run.out;
    EXPECT_TRUE(fs::exists(h(".cache/locked/inner/y")));
}

// Names that are not UTF-8, or that hold a newline or a terminal escape, are listed one
// escaped line each among what could not be removed, and keep their exact bytes in JSON.
TEST_F(CareAsNobodyTest, NamesThatCannotBeRemovedAreListedOneEscapedLineEach) {
    if (std::string why = whyNobodyCannotRun(); !why.empty()) GTEST_SKIP() << why;
    const std::string forged = h(".cache/evil\n  forged entry");
    const std::string red = h(".cache/red\x1b[31mname");
    const std::string bad = h(".cache/bad\xff");
    for (const auto& f : {forged, red, bad}) file(f + "/data", 10);
    file(h(".cache/app1/data"), 1500);
    settings("list");
    lockForNobody({forged, red, bad});

    CareRun run = runNobody({"care", "--fix", "--yes", "--only", "1"});
    EXPECT_EQ(run.rc, 1) << run.err;
    EXPECT_FALSE(fs::exists(h(".cache/app1")));
    const std::string heading = "Could not be removed (3):\n";
    const size_t at = run.out.find(heading);
    ASSERT_NE(at, std::string::npos) << run.out;
    // Each line is the escaped path, then the reason in brackets.
    std::set<std::string> lines;
    std::stringstream rest(run.out.substr(at + heading.size()));
    for (std::string line; std::getline(rest, line);) lines.insert(line.substr(0, line.find("  (", 2)));
    EXPECT_EQ(lines,
              (std::set<std::string>{"  " + h(".cache/evil\\n  forged entry"),
                                     "  " + h(".cache/red\\x1b[31mname"), "  " + h(".cache/bad\\xff")}));
    EXPECT_EQ(run.out.find_first_of("\x1b\xff"), std::string::npos);
    EXPECT_EQ(run.err.find_first_of("\x1b\xff"), std::string::npos);

    run = runNobody({"care", "--json", "--fix", "--yes", "--only", "1"});
    ASSERT_EQ(run.rc, 1) << run.err << run.out;
    json doc = json::parse(run.out, nullptr, false);
    ASSERT_TRUE(doc.is_object()) << run.out;
    std::map<std::string, json> left;  // by exact path
    for (const auto& e : doc["clean"]["notRemoved"]) {
        ASSERT_TRUE(e.is_object()) << e;
        left[exact(e, "filePath")] = e;
    }
    ASSERT_EQ(left.size(), 3u) << doc["clean"].dump();
    for (const auto& p : {forged, red, bad}) {
        ASSERT_TRUE(left.count(p)) << p;
        EXPECT_NE(left[p]["reason"], "") << p;
        EXPECT_EQ(left[p].contains("filePathBytes"), p == bad) << p;
    }
    EXPECT_EQ(left[bad]["filePath"], h(".cache/bad\xef\xbf\xbd"));
    for (const auto& p : {forged, red, bad}) EXPECT_TRUE(fs::exists(p + "/data")) << p;
}

}  // namespace

namespace {

// One-click care as an attacker would try it, with the administrator's rights granted: a
// stick whose trash holds links to folders elsewhere, and a rule folder that is a link to
// the home folder. Nothing outside the trash entries is listed, and nothing is removed.
TEST_F(CareCommandTest, LinksPlantedInTrashesAndRuleFoldersRemoveNothingOutsideThem) {
    const std::string etc = roots.makeDir(roots.base() + "/etc");
    file(etc + "/passwd", 30);
    file(r("Volumes/Stick/.Trashes/501/old.txt"), 5);
    fs::create_symlink(etc, r("Volumes/Stick/.Trashes/502"));
    fs::create_symlink(etc, r("Volumes/Stick/.Trashes/503"));
    file(h("Documents/letter"), 4);
    fs::create_symlink(roots.home(), h(".cache"));
    settings("list");

    CareRun run = care("--json --fix --yes --only 1,9", "", "HALVORN_AUTH=allow");
    ASSERT_EQ(run.rc, 0) << run.err << run.out;
    json doc = json::parse(run.out, nullptr, false);
    ASSERT_TRUE(doc.is_object()) << run.out;
    EXPECT_TRUE(leaves(doc, 1).empty());
    Leaves trash = leaves(doc, 9);
    ASSERT_EQ(trash.size(), 1u) << run.out;
    EXPECT_EQ(trash.begin()->first, r("Volumes/Stick/.Trashes/501/old.txt"));
    EXPECT_FALSE(fs::exists(r("Volumes/Stick/.Trashes/501/old.txt")));
    EXPECT_TRUE(fs::exists(etc + "/passwd"));
    EXPECT_TRUE(fs::exists(h("Documents/letter")));
    EXPECT_TRUE(doc["clean"]["notRemoved"].empty());
}

}  // namespace
