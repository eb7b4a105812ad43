#include "HVN/Code/ToolBox/Duplicate/DuplicationPathSetting.h"

#include "Platform/Bundle.h"
#include "Platform/FileManager.h"
#include "Platform/PropertyList.h"
#include "Platform/Roots.h"

namespace {

std::string bundleNameWithoutExtension() {
    std::string name = hvn::FileManager::lastPathComponent(hvn::Bundle::mainBundlePath());
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name.empty() ? std::string("Halvorn") : name;
}

}  // namespace

std::string DuplicationPathSetting::filePath() {
    return hvn::Roots::homePath("Library/Application Support") + "/" + bundleNameWithoutExtension() +
           "/UserPathSetting/DuplicationPathSetting.plist";
}

hvn::Value DuplicationPathSetting::entryForPath(const std::string& path) {
    return hvn::Value(hvn::Dictionary{{"state", hvn::Value("1")}, {"path", hvn::Value(path)}});
}

hvn::Array DuplicationPathSetting::loadFilePathArray() {
    hvn::Array list;
    if (auto stored = hvn::PropertyList::readFile(filePath()); stored && stored->isArray()) {
        for (const auto& entry : stored->asArray()) {
            const hvn::Value* path = entry.isDictionary() ? entry.find("path") : nullptr;
            if (path && path->isString() && !path->asString().empty()) list.push_back(entry);
        }
    }
    if (list.empty()) list.push_back(entryForPath(hvn::Roots::home()));
    return list;
}

bool DuplicationPathSetting::saveFilePathArray(const hvn::Array& list, std::string* errorText) {
    return hvn::PropertyList::writeFile(filePath(), hvn::Value(list), hvn::PlistFormat::XML, true, errorText);
}
