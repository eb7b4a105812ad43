// The freedesktop.org trash folders: where the home trash and the trashes of other volumes
// are, how an entry of a trash's files/ folder is paired with its info/<name>.trashinfo,
// and the upkeep of the trash's directorysizes cache.
//
// A trash folder ("trash dir") holds files/ (the trashed items), info/ (one .trashinfo per
// item, named after the item's name in files/ plus ".trashinfo") and, optionally, the
// directorysizes cache. Nothing here creates a trash folder: finding one only reports what
// exists. Every function may be called from any thread.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace hvn::Trash {

// The home trash: $XDG_DATA_HOME/Trash when XDG_DATA_HOME is set to an absolute path,
// else ~/.local/share/Trash (home from hvn::Roots). Whether it exists is not checked.
std::string homeTrashDir();

// True when `adminTrash` ($topdir/.Trash) may hold per-user trashes: it is a folder, not a
// symbolic link, and has the sticky bit.
bool isUsableAdminTrash(const std::string& adminTrash);

// The existing trash folders of user `uid` on the volume mounted at `topdir`, in this
// order: $topdir/.Trash/$uid (only when $topdir/.Trash passes isUsableAdminTrash and the
// per-user folder is a folder, not a link), then $topdir/.Trash-$uid (a folder, not a link).
std::vector<std::string> volumeTrashDirs(const std::string& topdir, uid_t uid);

// "<trashDir>/files" and "<trashDir>/info/<name>.trashinfo".
std::string filesDir(const std::string& trashDir);
std::string infoPathFor(const std::string& trashDir, const std::string& entryName);

// RFC 2396 percent-decoding as used by .trashinfo Path= values and directorysizes names;
// nullopt for a malformed escape.
std::optional<std::string> percentDecode(const std::string& text);

// Rewrites <trashDir>/directorysizes without the lines whose item no longer has a
// .trashinfo (and without malformed lines), through a temporary file and a rename. True
// when the cache is missing or already clean or was rewritten; false with errorText when it
// could not be read or replaced.
bool dropStaleDirectorySizes(const std::string& trashDir, std::string* errorText = nullptr);

}  // namespace hvn::Trash
