// One trash folder found by the trash cleaner: the start-up disk's (the home folder's) or a
// removable volume's. A plain record; HVNTrashCleanner fills it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct HVNTrashItem {
    std::string trashRootDir;  // full path of the trash folder; empty when none was found
    std::string volumnName;    // display name of the volume; empty when no trash was found
    std::string trashIcon;     // image name: "iconDisk" (start-up disk) or "iconUDISK"
    // Full paths of the folders scanned inside this trash (a volume's per-user folders, the
    // files/ folders of freedesktop trashes); none: the trash folder itself is scanned.
    std::optional<std::vector<std::string>> trashSubDir;
    int64_t trashSize = 0;
    std::vector<std::string> trashFiles;  // not filled by the trash cleaner
    bool isSelected = false;
    bool isUpdated = false;
    // The freedesktop trash folders (holding files/ and info/) among the scanned ones: an
    // entry of their files/ folder has its record in info/<name>.trashinfo.
    std::vector<std::string> freedesktopTrashDirs;
};

using HVNTrashItemPtr = std::shared_ptr<HVNTrashItem>;
