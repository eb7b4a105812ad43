// HVNDaemon: the privileged daemon of the bundle. Run as root for one user, it removes files,
// thins executables and switches launchd jobs on that user's requests, which arrive on the
// socket $HALVORN_ROOT/run/halvorn/HVNDamonObject.sock (Platform/DaemonConnection.h). Every
// path passes the removal gate for the user's roots. It can also print the systemd service
// that runs it, made from its launch-daemon property list.
#include <pwd.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Companions/HVNDaemon/DaemonServer.h"
#include "Companions/HVNDaemon/DaemonService.h"
#include "Companions/HVNDaemon/DaemonSocket.h"
#include "Companions/HVNDaemon/SystemdUnit.h"
#include "Platform/DaemonConnection.h"
#include "Platform/Host.h"
#include "Platform/Log.h"
#include "Platform/PropertyList.h"
#include "Platform/Roots.h"

namespace {

const char* kUsage =
    "usage: HVNDaemon --foreground --user USER [--home DIR]\n"
    "       HVNDaemon --print-unit PLIST --user USER [--home DIR]\n"
    "\n"
    "Serves the requests of USER (a user name or uid) on the socket\n"
    "$HALVORN_ROOT/run/halvorn/HVNDamonObject.sock: removing files (overwriting them first on\n"
    "request), thinning universal executables to this machine's architecture and switching\n"
    "launchd jobs off and on. Only root and USER may connect. Every path must pass the removal\n"
    "gate for USER's home folder, DIR and the system root $HALVORN_ROOT (default /): no\n"
    "symbolic links are followed, no other mount is entered, and no root, no ancestor of one\n"
    "and nothing directly inside one is touched. Must run as root. SIGTERM or SIGINT ends it.\n"
    "\n"
    "  --foreground       serve in the foreground (as the systemd service does)\n"
    "  --user USER        the user served\n"
    "  --home DIR         a home folder to protect as well (besides USER's own)\n"
    "  --print-unit PLIST print the systemd service made from the launch-daemon list PLIST\n"
    "  --help             show this text\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "HVNDaemon: %s\n%s", message.c_str(), kUsage);
    return 2;
}

struct User {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string home;  // from the user database; empty when unknown
};

bool lookUpUser(const std::string& text, User& user) {
    passwd* pw = nullptr;
    char* end = nullptr;
    errno = 0;
    const unsigned long n = std::strtoul(text.c_str(), &end, 10);
    if (!text.empty() && *end == '\0' && errno == 0 && text[0] != '-' && n <= 0xFFFFFFFEul) {
        user.uid = static_cast<uid_t>(n);
        pw = getpwuid(user.uid);
    } else {
        pw = getpwnam(text.c_str());
        if (!pw) return false;
        user.uid = pw->pw_uid;
    }
    if (pw) {
        user.gid = pw->pw_gid;
        if (pw->pw_dir) user.home = pw->pw_dir;
    }
    return true;
}

int printUnit(const std::string& plistPath, const User& user, const std::string& home) {
    auto plist = hvn::PropertyList::readFile(plistPath);
    if (!plist) {
        std::fprintf(stderr, "HVNDaemon: %s cannot be read as a property list\n", plistPath.c_str());
        return 1;
    }
    std::vector<std::string> extra{"--foreground", "--user", std::to_string(user.uid)};
    if (!home.empty()) {
        extra.push_back("--home");
        extra.push_back(home);
    }
    std::vector<std::string> environment;
    if (hvn::Roots::system() != "/") environment.push_back("HALVORN_ROOT=" + hvn::Roots::system());
    std::string error;
    auto unit = hvndaemon::systemdUnit(*plist, extra, environment, &error);
    if (!unit) {
        std::fprintf(stderr, "HVNDaemon: %s: %s\n", plistPath.c_str(), error.c_str());
        return 1;
    }
    std::fputs(unit->c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int serve(const User& user, const std::string& home) {
    if (geteuid() != 0) {
        std::fprintf(stderr, "HVNDaemon: must run as root\n");
        return 1;
    }
    // The signals that end the daemon arrive on a descriptor; every thread started later
    // inherits the mask, so none of them is interrupted.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    if (pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) return 1;
    const int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (stopFd < 0) {
        std::fprintf(stderr, "HVNDaemon: signalfd: %s\n", std::strerror(errno));
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<std::string> roots{hvn::Roots::system()};
    if (!user.home.empty()) roots.push_back(user.home);
    if (!home.empty()) roots.push_back(home);
    hvn::RemovalGate gate(roots);

    std::string error;
    auto socket =
        hvndaemon::DaemonSocket::open(hvn::DaemonConnection::socketPath(), user.uid, user.gid, &error);
    if (!socket) {
        hvn::Log::write("HVNDaemon: " + error);
        std::fprintf(stderr, "HVNDaemon: %s\n", error.c_str());
        return 1;
    }
    const std::string arch = hvn::Host::machine();
    hvn::Log::writef("HVNDaemon: serving uid %u on %s (architecture %s)", static_cast<unsigned>(user.uid),
                     hvn::DaemonConnection::socketPath().c_str(), arch.c_str());
    hvndaemon::DaemonService service(std::move(gate), arch);
    hvndaemon::DaemonServer server(service, user.uid);
    const bool served = server.run(socket->fd(), stopFd);
    // No more requests: stop the work under way, then take the socket away.
    service.shutdown();
    socket->close();
    close(stopFd);
    hvn::Log::write("HVNDaemon: ending");
    return served ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    bool foreground = false;
    std::string userText, home, unitPlist;
    bool printUnitMode = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--foreground") {
            foreground = true;
        } else if (a == "--user" || a == "--home" || a == "--print-unit") {
            if (i + 1 >= argc) return usageError("missing argument to " + a);
            std::string value = argv[++i];
            if (a == "--user") {
                userText = value;
            } else if (a == "--home") {
                home = value;
            } else {
                unitPlist = value;
                printUnitMode = true;
            }
        } else {
            return usageError("unknown argument '" + a + "'");
        }
    }
    if (userText.empty()) return usageError("--user is required");
    if (!home.empty() && home[0] != '/') return usageError("--home must be an absolute folder");
    User user;
    if (!lookUpUser(userText, user)) return usageError("no such user: " + userText);
    if (printUnitMode) return printUnit(unitPlist, user, home);
    if (!foreground) return usageError("--foreground or --print-unit is required");
    return serve(user, home);
}
