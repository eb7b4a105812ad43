#include "Platform/BundleInfo.h"

#include <sys/stat.h>

#include "Platform/PropertyList.h"
#include "Platform/UniformType.h"

namespace hvn::BundleInfo {

namespace {

constexpr off_t kMaxInfoSize = 8 * 1024 * 1024;

std::optional<Dictionary> readInfo(const std::string& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxInfoSize)
        return std::nullopt;
    std::optional<Value> v = PropertyList::readFile(file);
    if (!v || !v->isDictionary()) return std::nullopt;
    return v->asDictionary();
}

}  // namespace

std::optional<Dictionary> infoDictionary(const std::string& bundlePath) {
    if (bundlePath.empty()) return std::nullopt;
    if (auto d = readInfo(bundlePath + "/Contents/Info.plist")) return d;
    return readInfo(bundlePath + "/Info.plist");
}

std::string iconPath(const std::string& path) {
    if (path.empty()) return path;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        if (auto info = infoDictionary(path)) {
            auto it = info->find("CFBundleIconFile");
            if (it != info->end() && it->second.isString() && !it->second.asString().empty()) {
                std::string name = it->second.asString();
                if (name.find('/') == std::string::npos && name != "." && name != "..") {
                    if (UniformType::pathExtension(name).empty()) name += ".icns";
                    std::string icon = path + "/Contents/Resources/" + name;
                    struct stat ist {};
                    if (::stat(icon.c_str(), &ist) == 0 && S_ISREG(ist.st_mode)) return icon;
                }
            }
        }
    }
    return path;
}

}  // namespace hvn::BundleInfo
