#include "Platform/Workspace.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>

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

}  // namespace hvn::Workspace
