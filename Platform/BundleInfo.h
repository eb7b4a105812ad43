// Other bundles on disk (applications, plug-ins, preference panes, widgets): their
// information dictionary and the file their icon comes from. The main bundle is
// Platform/Bundle.h. Callable from any thread.
#pragma once

#include <optional>
#include <string>

#include "Platform/Value.h"

namespace hvn::BundleInfo {

// The information dictionary of the bundle at bundlePath: Contents/Info.plist, else
// Info.plist at the bundle's top (widgets keep it there); XML or binary. nullopt when
// neither is a readable regular file of at most 8 MB holding a dictionary (a missing,
// corrupt, oversized or special file is never read further).
std::optional<Dictionary> infoDictionary(const std::string& bundlePath);

// The path the icon of an item would come from: for a bundle whose information names
// CFBundleIconFile, that file in Contents/Resources (".icns" added when it has no
// extension) when it exists; otherwise the item's own path, which a view turns into the
// icon of its type. Empty for an empty path.
std::string iconPath(const std::string& path);

}  // namespace hvn::BundleInfo
