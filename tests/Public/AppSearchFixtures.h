// Fake application bundles for the application search and uninstaller tests.
#pragma once

#include <sys/stat.h>

#include <string>

#include "Platform/PropertyList.h"
#include "Support/TestRoots.h"

namespace hvn::test {

struct FakeBundle {
    std::string bundleID = "com.example.Foo";
    std::string name = "Foo";  // CFBundleName
    std::string version = "1.2";
    std::string executable = "Foo";
    std::string iconFile;  // CFBundleIconFile (also written to Resources when set)
    PlistFormat format = PlistFormat::XML;
    std::string executableBytes = std::string(1000, 'x');
};

// Writes path/Contents/{Info.plist, MacOS/<exe>} (and the icon); returns path.
inline std::string makeBundle(const TempRoots& roots, const std::string& path, const FakeBundle& b = {}) {
    Dictionary info;
    if (!b.bundleID.empty()) info["CFBundleIdentifier"] = b.bundleID;
    if (!b.name.empty()) info["CFBundleName"] = b.name;
    if (!b.version.empty()) info["CFBundleShortVersionString"] = b.version;
    if (!b.executable.empty()) info["CFBundleExecutable"] = b.executable;
    if (!b.iconFile.empty()) {
        info["CFBundleIconFile"] = b.iconFile;
        roots.writeFile(path + "/Contents/Resources/" + b.iconFile + ".icns", "icns");
    }
    roots.writeFile(path + "/Contents/Info.plist", PropertyList::serialize(Value(info), b.format));
    if (!b.executable.empty()) roots.writeFile(path + "/Contents/MacOS/" + b.executable, b.executableBytes);
    return path;
}

}  // namespace hvn::test
