#include "HVN/Code/Clearer/HVNScanLanguageOperation.h"

#include <unicode/unistr.h>

#include <any>
#include <exception>
#include <set>
#include <utility>
#include <vector>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/Public/HVNSearchApplications.h"
#include "Platform/BundleInfo.h"
#include "Platform/DirectoryWalker.h"
#include "Platform/FileManager.h"
#include "Platform/Locale.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"

namespace {

constexpr const char* kUnknown = "Unknown";

std::string lowerCased(const std::string& text) {
    std::string out;
    icu::UnicodeString::fromUTF8(text).toLower().toUTF8String(out);
    return out;
}

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return icu::UnicodeString::fromUTF8(a).foldCase() == icu::UnicodeString::fromUTF8(b).foldCase();
}

// Characters as the text's user sees them counted (code points).
size_t characterCount(const std::string& text) {
    size_t n = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++n;
    }
    return n;
}

const std::string& stringOf(const hvn::Value& entry, const char* key) {
    const hvn::Value* v = entry.find(key);
    return v ? v->asString() : hvn::Value::null().asString();
}

void postPathUpdate(const std::string& path) {
    hvn::NotificationCenter::defaultCenter().post(kPathUpdateNotification, std::any(path));
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

}  // namespace

HVNScanLanguageOperation::HVNScanLanguageOperation(hvn::Dictionary languageInfos,
                                                   HVNScanResultDelegate* delegate)
    : languageInfos(std::move(languageInfos)), delegate(delegate) {}

void HVNScanLanguageOperation::main() {
    try {
        if (!isCancelled()) scanLanguage();
    } catch (const std::exception& e) {
        hvn::Log::writef("Exception: %s", e.what());
    } catch (...) {
        hvn::Log::write("Exception: unknown");
    }
}

void HVNScanLanguageOperation::determineLocalCountry() {
    const std::vector<std::string> preferred = hvn::Locale::preferredLanguages();
    std::optional<std::string> chosen;
    if (!preferred.empty()) {
        if (preferred[0] != "en") {
            chosen = preferred[0];
        } else if (preferred.size() > 1) {
            chosen = preferred[1];
        }
    }
    localCountry = kUnknown;
    if (!chosen) return;
    for (const auto& [key, entry] : languageInfos) {
        if (!key.empty() && chosen->find(key) != std::string::npos) {
            localCountry = stringOf(entry, "language");
            return;
        }
    }
}

std::optional<std::string> HVNScanLanguageOperation::languageKeyForFolderName(const std::string& H) const {
    const bool shortName = characterCount(H) < 3;
    std::string firstPiece;
    if (!shortName) {
        const char separator = H.find('_') != std::string::npos ? '_' : '-';
        firstPiece = H.substr(0, H.find(separator));
    }
    for (const auto& [K, entry] : languageInfos) {
        if (H == stringOf(entry, "language")) return K;
        if (shortName ? H == K : firstPiece == K) return K;
    }
    return std::nullopt;
}

bool HVNScanLanguageOperation::isLanguageCanRemove(const std::string& name, const std::string& key) {
    if (name == "English") return false;
    const hvn::Value kept = HVNCommonFunction::getSettingValueByKey("Language");
    if (!kept.isArray()) return true;
    const std::string lowerKey = lowerCased(key);
    for (const auto& record : kept.asArray()) {
        const std::string& localCode = stringOf(record, "localCode");
        if (localCode.empty()) continue;
        if (equalsIgnoringCase(name, localCode)) return false;
        // An empty code is in no text, as with the platform's substring search.
        if (!lowerKey.empty() && lowerCased(localCode).find(lowerKey) != std::string::npos) return false;
    }
    return true;
}

size_t HVNScanLanguageOperation::searchObjectInArray(const std::string& country, const HVNNodeList& array) {
    for (size_t i = 0; i < array.size(); ++i) {
        if (array[i] && array[i]->countryName == country) return i;
    }
    return kNotFound;
}

size_t HVNScanLanguageOperation::searchObjectInArrayForName(const std::string& name,
                                                            const HVNNodeList& array) {
    for (size_t i = 0; i < array.size(); ++i) {
        if (array[i] && array[i]->name() == name) return i;
    }
    return kNotFound;
}

int64_t HVNScanLanguageOperation::directorySize(const std::string& folder) {
    auto start = hvn::FileManager::attributesOfItemAtPath(folder);
    if (!start || !start->isDirectory()) return 0;
    int64_t total = 0;
    std::set<std::pair<uint64_t, uint64_t>> entered{{start->device, start->inode}};
    std::vector<std::string> stack;
    stack.reserve(100);
    stack.push_back(folder);
    while (!stack.empty()) {
        const std::string path = std::move(stack.back());
        stack.pop_back();
        postPathUpdate(path);
        auto entries = hvn::FileManager::entriesOfDirectoryAtPath(path);
        if (!entries) continue;
        for (const auto& entry : *entries) {
            if (isCancelled()) return total;
            const std::string child = joinPath(path, entry.name);
            // The entry itself, never what a link points to.
            auto attributes = hvn::FileManager::attributesOfItemAtPath(child);
            if (!attributes) continue;  // vanished meanwhile
            if (attributes->isDirectory()) {
                if (entered.insert({attributes->device, attributes->inode}).second) stack.push_back(child);
            } else {
                total += attributes->size;
            }
        }
    }
    return total;
}

void HVNScanLanguageOperation::scanLanguage() {
    hvn::Log::write("start language");
    determineLocalCountry();
    HVNNodeList result;

    HVNAppItemList applications;
    if (applications_) {
        applications = *applications_;
    } else {
        HVNSearchApplications& search = HVNSearchApplications::shareHVNSearchApplications();
        search.waitFinish();
        applications = search.allApplications();
    }

    for (const auto& app : applications) {
        if (isCancelled()) return;
        if (!app || app->path.empty()) continue;
        postPathUpdate(app->path);
        const std::string appName = hvn::FileManager::lastPathComponent(app->path);
        const std::string appFolder = HVNCommonFunction::getDirPathByPath(app->path);
        const std::string appIcon = hvn::BundleInfo::iconPath(app->path);

        auto record = [&](const std::string& F, const std::string& key) {
            const hvn::Value& entry = languageInfos.at(key);
            const std::string& country = stringOf(entry, "country");
            const int64_t S = static_cast<int64_t>(1.1 * static_cast<double>(directorySize(F)));

            auto makeApplicationNode = [&] {
                auto node = HVNScaneOuputObject::create();
                node->setName(appName);
                node->setDirPath(appFolder);
                node->icon = appIcon;
                node->isCheck = 1;
                node->fileSize = S;
                node->removePaths = std::vector<std::string>{F};
                return node;
            };

            size_t languageIndex = searchObjectInArray(country, result);
            if (languageIndex == kNotFound) {
                auto language = HVNScaneOuputObject::create();
                language->setName(stringOf(entry, "language"));
                language->countryName = country;
                language->icon = country;  // the flag image of that name
                language->isCheck = 1;
                language->setSubObjects(HVNNodeList{makeApplicationNode()});
                language->fileSize = S;
                result.push_back(std::move(language));
                return;
            }
            const HVNScaneOuputObjectPtr& language = result[languageIndex];
            size_t childIndex = searchObjectInArrayForName(appName, language->children());
            if (childIndex == kNotFound) {
                language->insertObject(makeApplicationNode(), language->countOfChildren());
            } else {
                HVNScaneOuputObjectPtr child = language->objectInChildrenAtIndex(childIndex);
                child->fileSize += S;
                if (!child->removePaths) child->removePaths.emplace();
                child->removePaths->push_back(F);
            }
            language->fileSize += S;
        };

        bool cancelled = false;
        hvn::WalkOptions options;
        options.followStartLink = false;
        options.progressEvery = 0;
        hvn::DirectoryWalker::visitEntries(
            joinPath(app->path, "Contents"), true,
            [&](const hvn::DirectoryWalker::Entry& e) {
                if (isCancelled()) {
                    cancelled = true;
                    return hvn::DirectoryWalker::Visit::Stop;
                }
                if (!e.isDirectory()) return hvn::DirectoryWalker::Visit::Continue;
                const std::string name(e.name());
                if (hvn::FileManager::pathExtension(name) != "lproj")
                    return hvn::DirectoryWalker::Visit::Continue;
                const std::string H = name.substr(0, name.size() - 6);  // without ".lproj"
                std::optional<std::string> key = languageKeyForFolderName(H);
                if (!key) return hvn::DirectoryWalker::Visit::Continue;
                const std::string& language = stringOf(languageInfos.at(*key), "language");
                if (isLanguageCanRemove(language, *key)) record(e.path(), *key);
                return hvn::DirectoryWalker::Visit::SkipChildren;
            },
            options);
        if (cancelled || isCancelled()) return;
    }

    if (isCancelled()) return;
    if (delegate) delegate->finishScan(std::move(result), kModule);
    hvn::Log::write("end language");
}
