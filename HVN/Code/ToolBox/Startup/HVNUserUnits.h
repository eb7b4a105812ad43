// The user's systemd units as launch services of the startup list: the "*.service" files of
// the user's unit folder ($XDG_CONFIG_HOME/systemd/user, else HOME/.config/systemd/user).
// A unit starts at login when a symbolic link in one of the folder's "*.wants" folders
// points at it (enabled). Disabling removes those links and records them in the standard
// user defaults under "DisableUnit" (an array of dictionaries: "Unit" = the unit file's
// path, "Links" = array of {"Path": link path, "Target": the link's text}), so that
// enabling puts them back as they were. A unit is listed when it is enabled or recorded as
// disabled here, and the program of its first ExecStart exists.
//
// Links and unit files are removed only through the removal gate (FileManager::removeItem);
// a symbolic link is never followed for a removal, and a unit file that is a link is no unit
// of this list. Threads: any; callers serialise changes (the page and the command line call
// from one thread).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Platform/FileManager.h"
#include "Platform/ListedItem.h"

inline constexpr const char* kDisableUnitKey = "DisableUnit";

struct HVNUserUnit {
    std::string path;                // the unit file
    std::string name;                // its file name without ".service"
    std::string program;             // the program of ExecStart, located below the roots
    std::vector<std::string> links;  // the "*.wants" links that point at it now
    bool disable = false;            // no link now, and recorded as disabled by this program
};

class HVNUserUnits {
public:
    HVNUserUnits() = delete;

    // The user's unit folder.
    static std::string unitFolder();

    // The units that start at login or were disabled here, in file-name order. A folder that
    // cannot be read gives none; a unit that cannot be read is skipped with a log line.
    static std::vector<HVNUserUnit> list();

    // Removes the unit's "*.wants" links, after recording them. True when every link went
    // (or the unit was disabled already); false with errorText when it has no link, or a
    // link could not be removed (the links removed are put back and nothing is recorded).
    static bool disable(const std::string& unitPath, std::string* errorText = nullptr);
    // Puts the recorded links back (creating a missing "*.wants" folder) and forgets the
    // record. True when done (or nothing was recorded and the unit is enabled); false with
    // errorText when a link's place holds something else or cannot be written.
    static bool enable(const std::string& unitPath, std::string* errorText = nullptr);

    // Removes the unit file (refused when it is no longer the listed one), then its
    // "*.wants" links, and forgets its record. The result of the unit file's removal: when it
    // is not Removed, nothing else was changed. toTrash moves the unit file to the trash
    // (Platform/MoveToTrash.h) instead; *trashedPath (may be null) gets where it went.
    static hvn::RemovalResult remove(const std::string& unitPath,
                                     const std::optional<hvn::ListedItem>& listed, bool toTrash = false,
                                     std::string* trashedPath = nullptr);

    // The program word of the first ExecStart= of the [Service] section of a unit's text:
    // the prefixes "-@:+!" dropped, a double-quoted word unquoted, "%h" as the home folder.
    // nullopt when there is none.
    static std::optional<std::string> execProgram(const std::string& unitText);

    // True when path names a unit of this list (it ends in ".service").
    static bool isUnitPath(const std::string& path);
};
