// The two roots every path is derived from: the home folder (HOME) and the system root
// (HALVORN_ROOT, default "/"). Tests and sandboxes point both at temporary folders.
// Both are read from the environment on every call, so a test may change them.
#pragma once

#include <string>

namespace hvn::Roots {

// The home folder, without a trailing slash ("/" stays "/").
std::string home();
// The system root, without a trailing slash; "/" for the real system.
std::string system();

// An absolute system path of the program ("/Library/Caches") under the system root.
// A path already under the system root is returned unchanged.
std::string systemPath(const std::string& absolutePath);
// A path relative to the home folder ("Library/Caches" or "/Library/Caches").
std::string homePath(const std::string& relativePath);
// A rule path: "~..." is below the home folder, an absolute path below the system root,
// anything else (empty, relative) is returned as it is.
std::string resolveRulePath(const std::string& path);

// A path stored in a file that names another file (an alias's target, a launch agent's
// program, an autostart entry's command): a path inside the home folder stays as it is,
// any other absolute path is looked up below the system root (systemPath); a relative or
// empty path is returned as it is.
std::string locateStoredPath(const std::string& path);

// True for paths the removal service must never remove: the system root, the home
// folder, and any folder directly inside either of them. Compares lexically after
// removing "." and ".." components and repeated or trailing slashes.
bool isProtectedPath(const std::string& path);

// Lexically normalised absolute path ("/a//b/./c/" -> "/a/b/c").
std::string normalize(const std::string& path);

}  // namespace hvn::Roots
