#include "Platform/Bundle.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "Platform/PropertyList.h"

namespace hvn::Bundle {

namespace fs = std::filesystem;

namespace {
std::string executablePath() {
    std::error_code ec;
    auto p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}
}  // namespace

std::string mainBundlePath() {
    if (const char* b = std::getenv("HALVORN_BUNDLE"); b && *b) return b;
    fs::path exe = executablePath();
    if (exe.empty()) return {};
    fs::path dir = exe.parent_path();
    // Inside a bundle: X.app/Contents/MacOS/exe.
    if (dir.filename() == "MacOS" && dir.parent_path().filename() == "Contents" &&
        dir.parent_path().parent_path().extension() == ".app") {
        return dir.parent_path().parent_path().string();
    }
    std::error_code ec;
    for (fs::path d = dir; !d.empty(); d = d.parent_path()) {
        if (fs::is_directory(d / "Halvorn.app", ec)) return (d / "Halvorn.app").string();
        if (d == d.root_path()) break;
        // Only the executable's own folder and its parent are searched.
        if (d != dir) break;
    }
    return {};
}

std::string resourcePath() {
    std::string b = mainBundlePath();
    return b.empty() ? std::string() : b + "/Contents/Resources";
}

std::string executableFolder() {
    std::string b = mainBundlePath();
    return b.empty() ? std::string() : b + "/Contents/MacOS";
}

std::string pathForResource(const std::string& name, const std::string& type) {
    std::string r = resourcePath();
    if (r.empty()) return {};
    std::string p = r + "/" + name + (type.empty() ? "" : "." + type);
    std::error_code ec;
    return fs::exists(p, ec) ? p : std::string();
}

Value infoDictionary() {
    std::string b = mainBundlePath();
    if (b.empty()) return Value(Dictionary{});
    auto v = PropertyList::readFile(b + "/Contents/Info.plist");
    if (!v || !v->isDictionary()) return Value(Dictionary{});
    return *v;
}

Value objectForInfoDictionaryKey(const std::string& key) {
    return infoDictionary()[key];
}

std::string bundleIdentifier() {
    Value v = objectForInfoDictionaryKey("CFBundleIdentifier");
    return v.isString() && !v.asString().empty() ? v.asString() : "com.corvane.Halvorn";
}

}  // namespace hvn::Bundle
