#include "Companions/diskutil/VolumeInfo.h"

#include <dirent.h>
#include <limits.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Platform/PropertyList.h"
#include "Platform/Roots.h"
#include "Platform/Volumes.h"

namespace diskutil {

namespace {

bool holds(const std::string& mountPoint, const std::string& path) {
    if (mountPoint == "/") return true;
    if (path.compare(0, mountPoint.size(), mountPoint) != 0) return false;
    return path.size() == mountPoint.size() || path[mountPoint.size()] == '/';
}

std::optional<std::string> realPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return std::nullopt;
    std::string out(real);
    std::free(real);
    return out;
}

// udev writes label names with "\xHH" escapes for spaces, slashes and unsafe bytes.
std::string unescapeUdev(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' && std::isxdigit(name[i + 2]) &&
            std::isxdigit(name[i + 3])) {
            out += static_cast<char>(std::strtol(name.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        } else {
            out += name[i];
        }
    }
    return out;
}

std::string labelOf(const std::string& deviceNode, const std::string& labelFolder) {
    if (deviceNode.empty() || labelFolder.empty()) return {};
    std::optional<std::string> device = realPath(deviceNode);
    if (!device) return {};
    DIR* dir = ::opendir(labelFolder.c_str());
    if (!dir) return {};
    std::string label;
    while (dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        std::optional<std::string> target = realPath(labelFolder + "/" + e->d_name);
        if (target && *target == *device) {
            label = unescapeUdev(e->d_name);
            break;
        }
    }
    ::closedir(dir);
    return label;
}

bool hasOption(const std::string& options, const std::string& option) {
    size_t start = 0;
    while (start <= options.size()) {
        size_t end = options.find(',', start);
        if (end == std::string::npos) end = options.size();
        if (options.compare(start, end - start, option) == 0) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

hvn::Value VolumeInfo::plist() const {
    hvn::Dictionary d;
    d["DeviceIdentifier"] = deviceIdentifier;
    d["DeviceNode"] = deviceNode;
    d["MountPoint"] = mountPoint;
    d["FilesystemType"] = filesystemType;
    d["FilesystemName"] = filesystemType;
    d["VolumeName"] = volumeName;
    d["Writable"] = writable;
    return hvn::Value(std::move(d));
}

std::string VolumeInfo::text() const {
    std::string out;
    auto line = [&](const char* key, const std::string& value) {
        std::string k = std::string("   ") + key + ":";
        if (k.size() < 30) k.append(30 - k.size(), ' ');
        out += k + value + "\n";
    };
    line("Device Identifier", deviceIdentifier);
    line("Device Node", deviceNode);
    line("Volume Name", volumeName);
    line("Mount Point", mountPoint);
    line("File System Type", filesystemType);
    line("Read-Only Volume", writable ? "No" : "Yes");
    return out;
}

std::optional<VolumeInfo> volumeForPath(std::string_view mountInfoText, const std::string& path,
                                        const std::string& labelFolder) {
    const std::string wanted = hvn::Roots::normalize(path);
    const hvn::Volumes::MountEntry* best = nullptr;
    std::vector<hvn::Volumes::MountEntry> mounts = hvn::Volumes::parseMountInfo(mountInfoText);
    for (const auto& m : mounts) {
        if (m.mountPoint.empty() || m.mountPoint[0] != '/') continue;
        const std::string point = hvn::Roots::normalize(m.mountPoint);
        if (!holds(point, wanted)) continue;
        // Later lines at the same or a deeper mount point cover the earlier ones.
        if (!best || point.size() >= hvn::Roots::normalize(best->mountPoint).size()) best = &m;
    }
    if (!best) return std::nullopt;

    VolumeInfo info;
    info.mountId = best->mountId;
    info.major = best->major;
    info.minor = best->minor;
    info.mountPoint = hvn::Roots::normalize(best->mountPoint);
    info.filesystemType = best->fsType;
    info.writable = !hasOption(best->options, "ro") && !hasOption(best->superOptions, "ro");
    const std::string& source = best->source;
    if (source.rfind("/dev/", 0) == 0 && source.size() > 5) {
        info.deviceNode = source;
        info.deviceIdentifier = source.substr(5);
    } else if (!source.empty() && source != "none") {
        info.deviceIdentifier = source;
    } else {
        info.deviceIdentifier = std::to_string(best->major) + ":" + std::to_string(best->minor);
    }
    info.volumeName = labelOf(info.deviceNode, labelFolder);
    if (info.volumeName.empty()) {
        const size_t slash = info.mountPoint.find_last_of('/');
        info.volumeName = info.mountPoint == "/" ? info.deviceIdentifier : info.mountPoint.substr(slash + 1);
    }
    return info;
}

std::optional<std::string> readMountTable() {
    if (hvn::Roots::system() != "/") {
        if (auto table = hvn::readWholeFile(hvn::Roots::systemPath("/proc/self/mountinfo"))) return table;
    }
    // The kernel's table is not a regular file of known size: read it as a stream.
    FILE* f = std::fopen("/proc/self/mountinfo", "re");
    if (!f) return std::nullopt;
    std::string text;
    char buffer[8192];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
    return text;
}

}  // namespace diskutil
