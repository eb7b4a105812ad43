// diskutil: the bundle's disk utility. It tells which device holds a path (`info`) and
// verifies or repairs the ownership and modes of the user's home folder tree
// (`verifyPermissions`, `repairPermissions`, see PermissionsCheck.h), writing one line per
// problem between a start line and a closing line, so that a report of N problems has
// N + 2 lines.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "Companions/diskutil/DiskutilText.h"
#include "Companions/diskutil/PermissionsCheck.h"
#include "Companions/diskutil/VolumeInfo.h"
#include "Platform/PropertyList.h"
#include "Platform/Roots.h"

namespace {

const char* kUsage =
    "usage: diskutil info [-plist] PATH\n"
    "       diskutil verifyPermissions DEVICE\n"
    "       diskutil repairPermissions [--yes] DEVICE\n"
    "\n"
    "info               describes the volume that holds PATH (device identifier, mount point,\n"
    "                   file system, volume name); -plist writes it as an XML property list\n"
    "verifyPermissions  checks the ownership and modes of the home folder tree (HOME) on the\n"
    "                   disk DEVICE: items another user owns, files and folders others may\n"
    "                   write to, an open home folder, ~/.ssh, ~/.gnupg and private keys\n"
    "                   readable by others; one line per problem\n"
    "repairPermissions  asks \"(y/N)\" on standard output, reads the answer from standard\n"
    "                   input and, on \"y\", mends those problems (modes only lose bits;\n"
    "                   owners change only when run as root); --yes does not ask\n"
    "\n"
    "Symbolic links are never followed and other mounts are never entered.\n";

int usageError() {
    std::fputs(kUsage, stderr);
    return 1;
}

int info(const std::vector<std::string>& args) {
    bool plist = false;
    std::string path;
    for (const std::string& a : args) {
        if (a == "-plist") {
            plist = true;
        } else if (path.empty()) {
            path = a;
        } else {
            return usageError();
        }
    }
    if (path.empty()) return usageError();
    std::optional<std::string> table = diskutil::readMountTable();
    if (!table) {
        std::fprintf(stderr, "Could not read the mount table: %s\n", std::strerror(errno));
        return 1;
    }
    std::string lookup = path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        lookup = real;
        std::free(real);
    }
    std::optional<diskutil::VolumeInfo> volume =
        diskutil::volumeForPath(*table, lookup, "/dev/disk/by-label");
    if (!volume) {
        std::fprintf(stderr, "Could not find disk: %s\n", diskutil::escapeForLine(path).c_str());
        return 1;
    }
    if (plist) {
        std::fputs(hvn::PropertyList::serialize(volume->plist(), hvn::PlistFormat::XML).c_str(), stdout);
    } else {
        std::fputs(volume->text().c_str(), stdout);
    }
    return 0;
}

// True when the answer read from standard input is yes.
bool confirmRepair(const std::string& device) {
    std::printf("Repair permissions on disk %s? (y/N) ", device.c_str());
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
    return answer == "y" || answer == "Y";
}

int permissions(bool repair, const std::vector<std::string>& args) {
    bool yes = false;
    std::string device;
    for (const std::string& a : args) {
        if (repair && a == "--yes") {
            yes = true;
        } else if (device.empty() && !a.empty() && a[0] != '-') {
            device = a;
        } else {
            return usageError();
        }
    }
    if (device.empty()) return usageError();
    const std::string shownDevice = diskutil::escapeForLine(device);
    if (repair && !yes && !confirmRepair(shownDevice)) {
        std::printf("\nPermissions repair cancelled\n");
        return 1;
    }

    diskutil::PermissionsOptions options;
    options.home = hvn::Roots::home();
    options.repair = repair;
    options.mayChown = ::geteuid() == 0;
    std::printf("Started %s permissions on disk %s\n", repair ? "repair" : "verify", shownDevice.c_str());
    std::fflush(stdout);
    diskutil::PermissionsOutcome outcome = diskutil::checkPermissions(options, stdout, stderr);
    if (!outcome.started) return 2;
    std::printf("%s\n", repair ? "Permissions repair complete" : "Permissions verification complete");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usageError();
    const std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "info") return info(args);
    if (command == "verifyPermissions") return permissions(false, args);
    if (command == "repairPermissions") return permissions(true, args);
    std::fprintf(stderr, "diskutil: unknown command \"%s\"\n", diskutil::escapeForLine(command).c_str());
    return usageError();
}
