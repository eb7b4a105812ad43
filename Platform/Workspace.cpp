#include "Platform/Workspace.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>

#include "Platform/Log.h"
#include "Platform/Process.h"
#include "Platform/PropertyList.h"

namespace hvn::Workspace {

namespace {

std::mutex& overrideMutex() {
    static std::mutex m;
    return m;
}

std::optional<std::vector<RunningApplication>>& overrideList() {
    static std::optional<std::vector<RunningApplication>> list;
    return list;
}

std::string readLink(const std::string& path) {
    std::string buf(4096, '\0');
    ssize_t n = readlink(path.c_str(), buf.data(), buf.size());
    if (n <= 0) return {};
    buf.resize(static_cast<size_t>(n));
    // An executable replaced on disk (an update while the program runs) reads "... (deleted)".
    static const std::string kDeleted = " (deleted)";
    if (buf.size() > kDeleted.size() &&
        buf.compare(buf.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
        buf.resize(buf.size() - kDeleted.size());
    }
    return buf;
}

// The parent process id from /proc/PID/stat; 0 when unreadable. The command name in the
// second field may hold blanks and parentheses, so the fields are read after the last ')'.
int parentPid(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return 0;
    size_t close = line.rfind(')');
    if (close == std::string::npos || close + 4 > line.size()) return 0;
    // ") S PPID ..."
    const char* p = line.c_str() + close + 2;
    while (*p && *p != ' ') ++p;
    return std::atoi(p);
}

std::string baseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The real and effective user ids of a process, and whether it is a zombie, from
// /proc/PID/status; false when it cannot be read.
bool processStatus(int pid, uid_t& real, uid_t& effective, bool& zombie) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    bool haveUids = false;
    zombie = false;
    while (std::getline(in, line)) {
        if (line.rfind("State:", 0) == 0) {
            size_t code = line.find_first_not_of(" \t", 6);
            zombie = code != std::string::npos && (line[code] == 'Z' || line[code] == 'X');
        } else if (line.rfind("Uid:", 0) == 0) {
            unsigned long r = 0, e = 0;
            if (std::sscanf(line.c_str() + 4, "%lu %lu", &r, &e) != 2) return false;
            real = static_cast<uid_t>(r);
            effective = static_cast<uid_t>(e);
            haveUids = true;
        }
    }
    return haveUids;
}

std::vector<int> allPids() {
    std::vector<int> pids;
    if (DIR* dir = opendir("/proc")) {
        while (dirent* e = readdir(dir)) {
            const char* n = e->d_name;
            if (!*n || !std::all_of(n, n + std::char_traits<char>::length(n),
                                    [](char c) { return c >= '0' && c <= '9'; })) {
                continue;
            }
            pids.push_back(std::atoi(n));
        }
        closedir(dir);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string bundleIdentifierForProcessName(const std::string& executableName) {
    static const std::map<std::string, std::string> browsers = {
        {"firefox", "org.mozilla.firefox"},        {"firefox-esr", "org.mozilla.firefox"},
        {"firefox-bin", "org.mozilla.firefox"},    {"chrome", "com.google.Chrome"},
        {"google-chrome", "com.google.Chrome"},    {"chromium", "com.google.Chrome"},
        {"chromium-browser", "com.google.Chrome"}, {"opera", "com.operasoftware.Opera"},
    };
    auto it = browsers.find(executableName);
    return it == browsers.end() ? std::string() : it->second;
}

std::string bundlePathForExecutable(const std::string& executablePath) {
    // The innermost folder component named "*.app" (not the executable's own name).
    size_t lastSlash = executablePath.rfind('/');
    if (lastSlash == std::string::npos) return {};
    std::string found;
    size_t start = 0;
    while (start < lastSlash) {
        size_t slash = executablePath.find('/', start);
        if (slash == std::string::npos || slash > lastSlash) break;
        size_t len = slash - start;
        if (len > 4 && executablePath.compare(slash - 4, 4, ".app") == 0)
            found = executablePath.substr(0, slash);
        start = slash + 1;
    }
    return found;
}

std::vector<RunningApplication> runningApplications() {
    {
        std::lock_guard<std::mutex> lock(overrideMutex());
        if (overrideList()) return *overrideList();
    }
    std::vector<int> pids = allPids();

    std::map<std::string, std::string> identifierOfBundle;  // bundle path -> identifier ("" = none)
    std::vector<RunningApplication> out;
    for (int pid : pids) {
        std::string exe = readLink("/proc/" + std::to_string(pid) + "/exe");
        if (exe.empty()) continue;  // kernel threads, gone, or not ours to read
        RunningApplication app;
        app.pid = pid;
        app.executablePath = exe;
        std::string bundle = bundlePathForExecutable(exe);
        if (!bundle.empty()) {
            auto it = identifierOfBundle.find(bundle);
            if (it == identifierOfBundle.end()) {
                std::string identifier;
                if (auto info = PropertyList::readFile(bundle + "/Contents/Info.plist")) {
                    if (const Value* v = info->find("CFBundleIdentifier"); v && v->isString())
                        identifier = v->asString();
                }
                it = identifierOfBundle.emplace(bundle, identifier).first;
            }
            app.bundleIdentifier = it->second;
            app.bundlePath = bundle;
        }
        if (app.bundleIdentifier.empty()) {
            app.bundlePath.clear();
            app.bundleIdentifier = bundleIdentifierForProcessName(baseName(exe));
        }
        if (app.bundleIdentifier.empty()) continue;
        // Helper processes (renderers, content processes, zygotes) run the executable of
        // their parent: only the instance's first process counts.
        int parent = parentPid(pid);
        if (parent > 0 && readLink("/proc/" + std::to_string(parent) + "/exe") == exe) continue;
        out.push_back(std::move(app));
    }
    return out;
}

void setRunningApplicationsForTesting(std::optional<std::vector<RunningApplication>> applications) {
    std::lock_guard<std::mutex> lock(overrideMutex());
    overrideList() = std::move(applications);
}

std::vector<UserProcess> processesOfCurrentUser() {
    const uid_t me = getuid();
    std::vector<UserProcess> out;
    for (int pid : allPids()) {
        uid_t real = 0, effective = 0;
        bool zombie = false;
        if (!processStatus(pid, real, effective, zombie) || zombie || real != me || effective != me) continue;
        const std::string link = "/proc/" + std::to_string(pid) + "/exe";
        std::string exe = readLink(link);
        if (exe.empty()) continue;
        struct stat st {};
        // stat follows the magic link to the very file the process runs, even a removed one.
        if (stat(link.c_str(), &st) != 0) continue;
        // The process may have ended and its number been reused meanwhile: read the ids again.
        if (!processStatus(pid, real, effective, zombie) || zombie || real != me || effective != me) continue;
        UserProcess p;
        p.pid = pid;
        p.executablePath = std::move(exe);
        p.device = static_cast<uint64_t>(st.st_dev);
        p.inode = static_cast<uint64_t>(st.st_ino);
        out.push_back(std::move(p));
    }
    return out;
}

bool runsExecutable(const UserProcess& process, const std::string& executablePath) {
    if (executablePath.empty()) return false;
    struct stat st {};
    if (stat(executablePath.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_dev) == process.device &&
        static_cast<uint64_t>(st.st_ino) == process.inode) {
        return true;
    }
    return process.executablePath == executablePath;
}

bool openApplication(const std::string& appPath, std::string* errorText) {
    auto fail = [&](const std::string& why) {
        if (errorText) *errorText = "Cannot open the application " + appPath + ": " + why;
        return false;
    };
    const std::string bundle = withoutTrailingSlashes(appPath);
    if (bundle.empty()) return fail("no path");
    std::string name;
    if (auto info = PropertyList::readFile(bundle + "/Contents/Info.plist")) {
        if (const Value* v = info->find("CFBundleExecutable"); v && v->isString()) name = v->asString();
    }
    if (name.empty()) {
        name = baseName(bundle);
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".app") == 0) name.resize(name.size() - 4);
    }
    // The executable must lie in the bundle's own Contents/MacOS.
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return fail("the bundle names no executable");
    const std::string executable = bundle + "/Contents/MacOS/" + name;
    struct stat st {};
    if (stat(executable.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(executable.c_str(), X_OK) != 0)
        return fail(executable + " is not an executable program");
    for (const UserProcess& p : processesOfCurrentUser()) {
        if (runsExecutable(p, executable)) return true;
    }
    ProcessOptions options;
    options.newSession = true;
    // An application opened from a launch agent's program is no part of that agent.
    options.unsetEnvironment.push_back("XPC_SERVICE_NAME");
    std::string error;
    if (Process::startDetached(executable, {}, &error, options) < 0) return fail(error);
    Log::write("Opened the application " + bundle);
    return true;
}

}  // namespace hvn::Workspace
