#include "Support/TestRoots.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Platform/UserDefaults.h"

namespace hvn::test {

namespace fs = std::filesystem;

namespace {
void saveEnv(const char* name, std::string& old, bool& had) {
    const char* v = std::getenv(name);
    had = v != nullptr;
    if (v) old = v;
}
void restoreEnv(const char* name, const std::string& old, bool had) {
    if (had) {
        setenv(name, old.c_str(), 1);
    } else {
        unsetenv(name);
    }
}
}  // namespace

TempRoots::TempRoots() {
    std::string tmpl = (fs::temp_directory_path() / "halvorn-test-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    if (!made) throw std::runtime_error("mkdtemp failed");
    base_ = made;
    chmod(base_.c_str(), 0755);
    home_ = base_ + "/home";
    root_ = base_ + "/root";
    fs::create_directories(home_);
    fs::create_directories(root_);
    saveEnv("HOME", oldHome_, hadHome_);
    saveEnv("HALVORN_ROOT", oldRoot_, hadRoot_);
    saveEnv("HALVORN_BUNDLE", oldBundle_, hadBundle_);
    setenv("HOME", home_.c_str(), 1);
    setenv("HALVORN_ROOT", root_.c_str(), 1);
    setenv("HALVORN_BUNDLE", HALVORN_TEST_BUNDLE, 1);
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const char* v = std::getenv(name);
        oldXdg_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
        unsetenv(name);
    }
}

TempRoots::~TempRoots() {
    hvn::UserDefaults::standardUserDefaults().reload();
    restoreEnv("HOME", oldHome_, hadHome_);
    restoreEnv("HALVORN_ROOT", oldRoot_, hadRoot_);
    restoreEnv("HALVORN_BUNDLE", oldBundle_, hadBundle_);
    for (const auto& [name, value] : oldXdg_) restoreEnv(name.c_str(), value.value_or(""), value.has_value());
    std::error_code ec;
    // Make everything removable again (tests may have taken permissions away).
    for (auto it = fs::recursive_directory_iterator(base_, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) chmod(it->path().c_str(), 0755);
    }
    fs::remove_all(base_, ec);
}

std::string TempRoots::writeFile(const std::string& path, const std::string& contents) const {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    return path;
}

std::string TempRoots::makeDir(const std::string& path) const {
    fs::create_directories(path);
    return path;
}

bool canRunAsNobody() { return geteuid() == 0 && getpwnam("nobody") != nullptr; }

int runAsNobody(const std::function<int()>& fn) {
    if (!canRunAsNobody()) return -1;
    passwd* pw = getpwnam("nobody");
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(pw->pw_gid) != 0 || setuid(pw->pw_uid) != 0) _exit(125);
        int rc = 125;
        try {
            rc = fn();
        } catch (...) {
        }
        std::fflush(nullptr);
        _exit(rc);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string cliPath() { return HALVORN_TEST_CLI; }
std::string bundlePath() { return HALVORN_TEST_BUNDLE; }

int runCommand(const std::string& command, std::string* output) {
    std::fflush(nullptr);
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace hvn::test
