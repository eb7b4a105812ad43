#include "Platform/Volumes.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "Platform/DirectoryWalker.h"
#include "Platform/Roots.h"

namespace hvn::Volumes {

namespace {

bool isOctal(char c) {
    return c >= '0' && c <= '7';
}

std::vector<std::string_view> splitSpaces(std::string_view line) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        size_t j = i;
        while (j < line.size() && line[j] != ' ') ++j;
        if (j > i) out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

bool parseInt(std::string_view s, long& out) {
    if (s.empty() || s.size() > 18) return false;
    long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

std::string readSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string s;
    std::getline(in, s, '\0');
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\r')) s.pop_back();
    return s;
}

bool fileExists(const std::string& path) {
    struct ::stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string parentOf(const std::string& p) {
    auto i = p.rfind('/');
    if (i == std::string::npos || i == 0) return "/";
    return p.substr(0, i);
}

const std::set<std::string, std::less<>>& pseudoFileSystems() {
    static const std::set<std::string, std::less<>> kPseudo = {
        "proc",   "sysfs",       "tmpfs",   "devtmpfs", "devpts",    "cgroup",   "cgroup2",    "securityfs",
        "pstore", "debugfs",     "tracefs", "mqueue",   "hugetlbfs", "configfs", "fusectl",    "bpf",
        "autofs", "binfmt_misc", "nsfs",    "ramfs",    "efivarfs",  "overlay",  "rpc_pipefs", "nfsd"};
    return kPseudo;
}

bool isBelow(const std::string& path, std::string_view folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0;
}

}  // namespace

std::string unescapeField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2]) &&
            isOctal(field[i + 3])) {
            int v = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            out += static_cast<char>(v & 0xff);
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::vector<MountEntry> parseMountInfo(std::string_view text) {
    std::vector<MountEntry> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        auto f = splitSpaces(line);
        // At least: id, parent, maj:min, root, mount point, options, "-", type, source.
        if (f.size() < 9) continue;
        auto dash = std::find(f.begin() + 6, f.end(), std::string_view("-"));
        if (dash == f.end() || std::distance(dash, f.end()) < 3) continue;
        long id = 0, parent = 0, maj = 0, min = 0;
        auto colon = f[2].find(':');
        if (!parseInt(f[0], id) || !parseInt(f[1], parent) || colon == std::string_view::npos ||
            !parseInt(f[2].substr(0, colon), maj) || !parseInt(f[2].substr(colon + 1), min)) {
            continue;
        }
        MountEntry m;
        m.mountId = static_cast<int>(id);
        m.parentId = static_cast<int>(parent);
        m.major = static_cast<unsigned>(maj);
        m.minor = static_cast<unsigned>(min);
        m.root = unescapeField(f[3]);
        m.mountPoint = unescapeField(f[4]);
        m.options = std::string(f[5]);
        m.fsType = std::string(*(dash + 1));
        m.source = unescapeField(*(dash + 2));
        if (std::distance(dash, f.end()) > 3) m.superOptions = std::string(*(dash + 3));
        out.push_back(std::move(m));
    }
    return out;
}

bool isRemovableDevice(unsigned major, unsigned minor, const std::string& sysRoot) {
    std::string link = sysRoot + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    char resolved[PATH_MAX];
    if (!::realpath(link.c_str(), resolved)) return false;
    std::string dev = resolved;
    // A partition's flags live on the disk that holds it.
    std::string disk = fileExists(dev + "/partition") ? parentOf(dev) : dev;
    if (readSmallFile(disk + "/removable") == "1") return true;
    std::string sysRootReal = sysRoot;
    if (::realpath(sysRoot.c_str(), resolved)) sysRootReal = resolved;
    // The device path passes through a USB bus ("usb1", "1-1", ...): look for a "usb" component.
    std::string_view rest(disk);
    rest.remove_prefix(std::min(sysRootReal.size(), rest.size()));
    for (size_t i = 0; i < rest.size();) {
        size_t j = rest.find('/', i);
        if (j == std::string_view::npos) j = rest.size();
        if (rest.substr(i, j - i).substr(0, 3) == "usb") return true;
        i = j + 1;
    }
    // The location attribute of a device ancestor (sysfs-devices-removable).
    for (std::string p = parentOf(disk); p.size() > sysRootReal.size(); p = parentOf(p)) {
        if (readSmallFile(p + "/removable") == "removable") return true;
    }
    return false;
}

bool isRemovableMount(const MountEntry& mount, const std::string& sysRoot, const std::string& devRoot) {
    if (pseudoFileSystems().count(mount.fsType)) return false;
    unsigned major = mount.major, minor = mount.minor;
    if (major == 0 && mount.source.rfind("/dev/", 0) == 0) {
        // FUSE and similar mounts carry an anonymous device number; their source names the disk.
        struct ::stat st;
        std::string node = devRoot + mount.source.substr(4);
        if (::stat(node.c_str(), &st) == 0 && (S_ISBLK(st.st_mode))) {
            major = ::major(st.st_rdev);
            minor = ::minor(st.st_rdev);
        }
    }
    if (major != 0 && isRemovableDevice(major, minor, sysRoot)) return true;
    return isBelow(mount.mountPoint, "/media/") || isBelow(mount.mountPoint, "/run/media/");
}

std::vector<std::string> removableMountPoints(std::string_view mountInfoText, const std::string& sysRoot,
                                              const std::string& devRoot) {
    std::vector<std::string> out;
    std::set<std::string> seen;
    for (const auto& m : parseMountInfo(mountInfoText)) {
        if (!isRemovableMount(m, sysRoot, devRoot)) continue;
        if (seen.insert(m.mountPoint).second) out.push_back(m.mountPoint);
    }
    return out;
}

std::vector<std::string> mountedRemovableMedia() {
    std::vector<std::string> out;
    std::set<std::string> seen;
    std::ifstream in(Roots::systemPath("/proc/self/mountinfo"), std::ios::binary);
    if (in) {
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (const auto& mp :
             removableMountPoints(text, Roots::systemPath("/sys"), Roots::systemPath("/dev"))) {
            std::string p = Roots::systemPath(mp);
            if (seen.insert(p).second) out.push_back(p);
        }
    }
    // Folders only: a link there (macOS keeps one to the start-up disk) is not a volume.
    std::string volumes = Roots::systemPath("/Volumes");
    std::vector<std::string> folders;
    DirectoryWalker::visitEntries(volumes, false, [&](const DirectoryWalker::Entry& e) {
        if (e.isDirectory()) folders.push_back(e.path());
        return DirectoryWalker::Visit::Continue;
    });
    std::sort(folders.begin(), folders.end());
    for (auto& f : folders) {
        if (seen.insert(f).second) out.push_back(std::move(f));
    }
    return out;
}

}  // namespace hvn::Volumes
