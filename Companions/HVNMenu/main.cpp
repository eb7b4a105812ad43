// HVNMenu: the menu-bar program of Halvorn, started at login by its launch agent. It follows
// the program through the session's distributed notifications: "appStart" (show the menu-bar
// icon) and "appEnd" (the program quits, or the icon was switched off: quit too). One
// instance runs per user; a second one exits at once.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "Platform/DistributedNotificationCenter.h"
#include "Platform/FileManager.h"
#include "Platform/Log.h"
#include "Platform/Roots.h"
#include "Platform/RunLoop.h"

namespace {

const char* kUsage =
    "usage: HVNMenu [--help]\n"
    "\n"
    "The menu-bar program of Halvorn, started at login by the launch agent\n"
    "~/Library/LaunchAgents/com.corvane.HVNMenu.plist. It observes the notifications\n"
    "\"appStart\" (show the menu-bar icon) and \"appEnd\" (quit) of the interface\n"
    "com.corvane.Halvorn.Notifications on the session bus, and exits 0 on \"appEnd\".\n"
    "Only one instance runs per user: the lock file com.corvane.HVNMenu.lock in\n"
    "$XDG_RUNTIME_DIR (else ~/Library/Caches) tells; a second instance exits 0 at once.\n"
    "It exits 1 when no session bus can be reached, or when its connection ends.\n";

constexpr double kBusCheckSeconds = 1.0;

std::string lockFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        struct stat st {};
        if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) return runtime;
    }
    std::string caches = hvn::Roots::homePath("Library/Caches");
    hvn::FileManager::createDirectoryAtPath(caches, true);
    return caches;
}

// The descriptor holding the per-user lock; -2 when another instance holds it; -1 when no
// lock file could be made (this instance then runs unguarded).
int takeInstanceLock() {
    const std::string path = lockFolder() + "/com.corvane.HVNMenu.lock";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        hvn::Log::write("HVNMenu: cannot open the lock file " + path + ": " + std::strerror(errno));
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int e = errno;
        ::close(fd);
        if (e == EWOULDBLOCK) return -2;
        hvn::Log::write("HVNMenu: cannot lock " + path + ": " + std::strerror(e));
        return -1;
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        std::fprintf(stderr, "HVNMenu: unknown argument: %s\n%s", argv[i], kUsage);
        return 2;
    }

    int lock = takeInstanceLock();
    if (lock == -2) {
        hvn::Log::write("HVNMenu: another instance is running");
        return 0;
    }

    hvn::RunLoop& loop = hvn::RunLoop::main();
    loop.bindToCurrentThread();
    auto& center = hvn::DistributedNotificationCenter::defaultCenter();
    bool quit = false;
    int status = 0;
    center.addObserver("appStart", [](const std::string&, const std::string&) {
        hvn::Log::write("HVNMenu: appStart: showing the menu-bar icon");
    });
    center.addObserver("appEnd", [&](const std::string&, const std::string&) {
        hvn::Log::write("HVNMenu: appEnd: quitting");
        quit = true;
    });
    if (!center.isListening()) {
        hvn::Log::write("HVNMenu: no session bus to listen on; quitting");
        return 1;
    }
    hvn::Log::write("HVNMenu: observing appStart and appEnd");

    // Without its bus the program would never hear "appEnd": it ends and lets its agent decide.
    std::function<void()> checkBus = [&] {
        if (!center.isListening()) {
            hvn::Log::write("HVNMenu: the session bus went away; quitting");
            status = 1;
            quit = true;
            return;
        }
        loop.performAfter(kBusCheckSeconds, checkBus);
    };
    loop.performAfter(kBusCheckSeconds, checkBus);

    loop.runUntil([&] { return quit; }, -1);
    if (lock >= 0) ::close(lock);
    return status;
}
