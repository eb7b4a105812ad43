// The overwrite pass of shredding: a regular file's data is overwritten in place before it
// is unlinked, so that its blocks no longer hold what it held.
//
// Only the allocated extents are written (SEEK_DATA / SEEK_HOLE), so a sparse file (a disk
// image) is never filled in and nothing is allocated that was not; nothing is written past
// the length the file had when the pass began. After the pass the file must still be the
// same inode at that name with the same length: data appended during the pass, or a file
// swapped in meanwhile, makes the pass fail so that the entry is reported as not removed.
// A file with other hard links is not overwritten (its data stays reachable through its
// other names) and may be unlinked.
//
// Threads: any; no shared state.
#pragma once

#include <functional>
#include <string>

namespace hvn::Shredder {

// True when this process may unlink the entry `name` of the folder open at folderFd: the
// folder is writable and searchable, and under the sticky bit the entry or the folder is
// ours (or we are root).
bool mayUnlink(int folderFd, const char* name);

// Overwrites the regular file `name` of the folder open at folderFd (path only serves the
// messages) and flushes it to disk. True when the file may now be unlinked: it was
// overwritten and is unchanged, or it has other hard links. False with errorText ("Could not
// overwrite <path>: ...") otherwise; the file is then left in place (a pass that failed
// half-way leaves what it had written).
bool overwriteForRemoval(int folderFd, const char* name, const std::string& path, std::string* errorText);

// Test hook: runs after the overwrite pass and before its checks (another writer's turn).
// An empty function removes it.
void setAfterPassHookForTesting(std::function<void(const std::string& path)> hook);

}  // namespace hvn::Shredder
