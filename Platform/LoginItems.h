// The user's login-item list, kept as XDG autostart entries: the per-user folder
// ($XDG_CONFIG_HOME/autostart, else HOME/.config/autostart) over the system folders
// ($XDG_CONFIG_DIRS, else /etc/xdg, each with /autostart, below the system root; the first is
// the most important). For each file name ending in ".desktop" only the most important copy
// counts, the user's above all: a user file that cannot be read hides the system file of the
// same name too.
//
// An entry is a login item unless it says Hidden=true or X-GNOME-Autostart-enabled=false
// (which also hides the copies of less important folders). An entry without Exec, or whose
// file does not parse, is skipped with a log line.
//
// Keys of this program in the entries:
// - "X-Halvorn-Hidden" (boolean): the login item's hide-on-launch property (a desktop has no
//   such switch; the key only carries the property for this program).
// - "X-Halvorn-Order" (integer): written on the entries this program adds, so that an added
//   item comes last. The list is in file-name order (byte order), entries without the key
//   first, then the ones with it by its value (file name order among equals).
//
// Changes are written only in the user's folder: a new or rewritten entry goes through a
// temporary file in that folder and a rename, keeps the replaced file's mode bits (0644 less the
// umask for a new one), never writes through a symbolic link (a link entry is replaced by a file), and an
// existing user file is changed or removed only when the removal gate admits it and it is
// still the file that was listed. A system entry is never touched: it is hidden for the user
// by a per-user copy with Hidden=true.
//
// Every function reads the environment (HOME, HALVORN_ROOT, XDG_*) when called. Threads: any;
// callers serialise changes of one list (LoginItemManager holds a lock).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Platform/RemovalGate.h"

namespace hvn {

inline constexpr const char* kHalvornHiddenKey = "X-Halvorn-Hidden";
inline constexpr const char* kHalvornOrderKey = "X-Halvorn-Order";

struct AutostartEntry {
    std::string fileName;      // "name.desktop"
    std::string filePath;      // the file that defines the entry
    bool isUserEntry = false;  // filePath lies in the user's folder
    // The user's file shadows a system file of the same name (removing the user's file alone
    // would bring that one back).
    bool shadowsSystemEntry = false;
    FileIdentity identity;               // of filePath when listed (the file itself, a link not followed)
    std::string displayName;             // Name, else the file name without ".desktop"
    std::string command;                 // Exec, unescaped
    std::optional<std::string> program;  // the program word of Exec
    // The program located: an absolute path located with Roots::locateStoredPath, a bare name
    // searched in the PATH folders below the system root, a relative path below the home
    // folder; nullopt when nothing (or only a dangling link) is there: a broken entry.
    std::optional<std::string> target;
    std::string icon;              // Icon as written
    bool hidden = false;           // X-Halvorn-Hidden
    std::optional<int64_t> order;  // X-Halvorn-Order
    std::string contents;          // the file's text when listed

    bool isBroken() const { return !target.has_value(); }
};

namespace LoginItems {

// The user's autostart folder and the system's, most important first (below the root).
std::string userFolder();
std::vector<std::string> systemFolders();

// The login items now, in the list order (see the file comment).
std::vector<AutostartEntry> list();

// Locates an Exec program (see AutostartEntry::target).
std::optional<std::string> locateProgram(const std::string& program);

// What a removal took away, for putting the entry back later.
struct RemovedEntry {
    std::string fileName;
    std::string contents;  // the text the entry had
};

// Removes the entry from the user's login items: a user file is removed through the removal
// gate, or, when it shadows a system entry, rewritten with Hidden=true; a system entry gets a
// per-user copy with Hidden=true. False with errorText when the file changed since it was
// listed, the gate refuses, or the write or removal fails; nothing is changed then.
bool remove(const AutostartEntry& entry, RemovedEntry* removed = nullptr, std::string* errorText = nullptr);

// Adds a login item that starts programPath (absolute): a new user file named after the
// program (".desktop"; "-2", "-3", ... before it when the name is taken by a file of either
// folder) with Type=Application, Name (the program's display name), Exec and X-Halvorn-Order
// after every listed entry. Never replaces an existing file. The file name, or nullopt with
// errorText.
std::optional<std::string> add(const std::string& programPath, std::string* errorText = nullptr);

// Puts a removed entry back as the last login item: its text with Hidden and
// X-GNOME-Autostart-enabled dropped and X-Halvorn-Order after every listed entry, under its
// file name when that is free or holds a user file that is no login item (the Hidden copy a
// removal wrote), else under a free name. The file name, or nullopt with errorText (also
// when the text does not parse).
std::optional<std::string> restore(const RemovedEntry& removed, std::string* errorText = nullptr);

// Sets X-Halvorn-Hidden of the entry: its user file is rewritten, a system entry gets a user
// copy. False with errorText as for remove().
bool setHidden(const AutostartEntry& entry, bool hidden, std::string* errorText = nullptr);

}  // namespace LoginItems

}  // namespace hvn
