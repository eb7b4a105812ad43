// Mounted volumes: the mount table (/proc/self/mountinfo) and the workspace's list of mounted
// removable media.
//
// A mount is removable when its block device (or the disk holding that partition) has the
// `removable` flag, when the device sits on a USB bus, when a device ancestor reports the
// `removable` location, or, as a last hint, when it is mounted below /media/ or /run/media/.
// Everything is read below the system root (hvn::Roots), so that a sandbox with its own
// proc/self/mountinfo and sys/ tree sees only its own volumes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hvn::Volumes {

// One line of /proc/self/mountinfo.
struct MountEntry {
    int mountId = 0;
    int parentId = 0;
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;        // root of the mount within its file system
    std::string mountPoint;  // unescaped
    std::string options;     // per-mount options
    std::string fsType;
    std::string source;  // the device or other source, unescaped
    std::string superOptions;
};

// Undoes the octal escapes of the mount table ("\040" space, "\011" tab, "\012" newline,
// "\134" backslash, and any other three-digit octal escape).
std::string unescapeField(std::string_view field);

// Parses mountinfo text; malformed lines are skipped.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// True when the block device MAJ:MIN is removable according to the sysfs tree at `sysRoot`
// (normally "/sys"): its `removable` flag (or its disk's, for a partition) is 1, its device
// path passes through a USB bus, or one of its device ancestors has a `removable` attribute
// reading "removable". False when the device is unknown there.
bool isRemovableDevice(unsigned major, unsigned minor, const std::string& sysRoot);

// True when the mount is on removable media: a removable device (for a mount without a
// block device number, such as FUSE, the device named by `source` when it is a /dev node
// under `devRoot`), or a mount point strictly below /media/ or /run/media/. Pseudo file
// systems (proc, sysfs, tmpfs, ...) never are.
bool isRemovableMount(const MountEntry& mount, const std::string& sysRoot, const std::string& devRoot);

// The mount points of the removable mounts of a mount table, in table order, each once.
std::vector<std::string> removableMountPoints(std::string_view mountInfoText, const std::string& sysRoot,
                                              const std::string& devRoot);

// The workspace's mounted removable media: the removable mounts of
// <system root>/proc/self/mountinfo (mount points below the system root as they stand in
// the table, i.e. mapped through Roots::systemPath), followed by every folder of
// <system root>/Volumes (sorted by name) not already listed. Never fails: unreadable tables
// or folders give fewer entries.
std::vector<std::string> mountedRemovableMedia();

}  // namespace hvn::Volumes
