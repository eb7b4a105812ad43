// What `diskutil info` tells of a volume: the mount that holds a path, read from the mount
// table.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Platform/Value.h"

namespace diskutil {

struct VolumeInfo {
    std::string deviceIdentifier;  // the source without "/dev/" ("sda1", "nvme0n1p2", "overlay")
    std::string deviceNode;        // the source when it is a /dev path, else ""
    std::string mountPoint;
    std::string filesystemType;
    std::string volumeName;  // the file system's label when one is known, else the mount point's name
    bool writable = false;
    int mountId = 0;
    unsigned major = 0, minor = 0;

    // The dictionary of `info -plist`: "DeviceIdentifier", "DeviceNode", "MountPoint",
    // "FilesystemType", "FilesystemName", "VolumeName", "Writable".
    hvn::Value plist() const;
    // The text of `info`: one "   Key:   value" line per field.
    std::string text() const;
};

// The mount of the mount table text that holds `path` (an absolute path, compared lexically
// after normalising): the one with the longest mount point that is `path` or one of its
// ancestors; of several at the same mount point, the last (the one on top). nullopt when no
// mount point holds it. The label comes from the links of `labelFolder` (normally
// /dev/disk/by-label) that lead to the device node; "" skips that look-up.
std::optional<VolumeInfo> volumeForPath(std::string_view mountInfoText, const std::string& path,
                                        const std::string& labelFolder);

// The mount table of this process: <system root>/proc/self/mountinfo when the system root
// has one, else /proc/self/mountinfo. nullopt when neither can be read.
std::optional<std::string> readMountTable();

}  // namespace diskutil
