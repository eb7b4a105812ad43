#include "HVN/Code/Clearer/HVNScaniPhotoOperation.h"

#include <algorithm>
#include <any>
#include <exception>
#include <set>
#include <utility>
#include <vector>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/FileManager.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Platform/UniformType.h"

namespace {

std::string joinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

}  // namespace

HVNScaniPhotoOperation::HVNScaniPhotoOperation(std::string libraryDirPath, HVNScanResultDelegate* delegate)
    : libraryDirPath(std::move(libraryDirPath)), delegate(delegate) {}

void HVNScaniPhotoOperation::main() {
    try {
        if (!isCancelled()) scaniPhoto();
    } catch (const std::exception& e) {
        hvn::Log::writef("Exception: %s", e.what());
    } catch (...) {
        hvn::Log::write("Exception: unknown");
    }
}

bool HVNScaniPhotoOperation::isImageFile(const std::string& path) {
    auto attributes = hvn::FileManager::attributesOfItemAtPath(path);
    if (!attributes || !attributes->isRegularFile()) return false;
    const auto& tree = hvn::UniformType::contentTypeTreeRef(hvn::UniformType::lastPathComponent(path),
                                                            hvn::UniformType::ItemKind::File);
    return std::find(tree.begin(), tree.end(), "public.image") != tree.end();
}

std::string HVNScaniPhotoOperation::candidateMasterPath(const std::string& previewPath,
                                                        const std::string& previewsRoot,
                                                        const std::string& mastersRoot) {
    const std::string twoUp =
        HVNCommonFunction::getDirPathByPath(HVNCommonFunction::getDirPathByPath(previewPath));
    std::string candidate = joinPath(twoUp, HVNCommonFunction::getFileNameByPath(previewPath));
    // Only a path inside the previews folder maps to one inside the masters folder; a
    // preview directly in that folder would map beside it.
    const std::string prefix = previewsRoot + "/";
    if (candidate.compare(0, prefix.size(), prefix) != 0) return {};
    return mastersRoot + candidate.substr(previewsRoot.size());
}

HVNNodeList HVNScaniPhotoOperation::nodesFromPairs(const HVNiPhotoImageList& pairs) {
    HVNNodeList nodes;
    nodes.reserve(pairs.size());
    for (const auto& pair : pairs) {
        if (!pair) continue;
        auto node = HVNScaneOuputObject::create();
        node->setFilePath(pair->masterImagePath);
        node->setName(HVNCommonFunction::getFileNameByPath(pair->masterImagePath));
        node->setDirPath(HVNCommonFunction::getDirPathByPath(pair->masterImagePath));
        node->fileSize = pair->fileSize;
        node->prePath = pair->previewImagePath;
        node->icon = pair->masterImagePath;
        node->isCheck = 1;
        nodes.push_back(std::move(node));
    }
    return nodes;
}

void HVNScaniPhotoOperation::scaniPhoto() {
    HVNiPhotoImageList found;
    std::string library;
    if (auto names = hvn::FileManager::contentsOfDirectoryAtPath(libraryDirPath)) {
        for (const auto& name : *names) {
            if (hvn::FileManager::pathExtension(name) == "photolibrary") {
                library = joinPath(libraryDirPath, name);
                break;
            }
        }
    }

    if (!library.empty()) {
        const std::string R = joinPath(library, "Previews");
        const std::string M = joinPath(library, "Masters");
        std::vector<std::string> previews;
        std::vector<std::string> stack;
        stack.reserve(20);
        std::set<std::pair<uint64_t, uint64_t>> listed;
        if (auto start = hvn::FileManager::attributesOfItemAtPath(R); start && start->isDirectory()) {
            listed.insert({start->device, start->inode});
            stack.push_back(R);
        }
        while (!stack.empty()) {
            const std::string folder = std::move(stack.back());
            stack.pop_back();
            hvn::NotificationCenter::defaultCenter().post(kPathUpdateNotification, std::any(folder));
            auto entries = hvn::FileManager::entriesOfDirectoryAtPath(folder);
            if (!entries) continue;
            for (const auto& entry : *entries) {
                if (isCancelled()) return;
                const std::string path = joinPath(folder, entry.name);
                auto attributes = hvn::FileManager::attributesOfItemAtPath(path);
                if (!attributes) continue;
                if (attributes->isDirectory()) {
                    if (listed.insert({attributes->device, attributes->inode}).second) stack.push_back(path);
                } else if (isImageFile(path)) {
                    previews.push_back(path);
                }
            }
        }

        for (const auto& P : previews) {
            if (isCancelled()) return;
            const std::string master = candidateMasterPath(P, R, M);
            if (master.empty() || !isImageFile(master)) continue;
            auto preview = hvn::FileManager::attributesOfItemAtPath(P);
            auto original = hvn::FileManager::attributesOfItemAtPath(master);
            if (!preview || !original) continue;  // vanished meanwhile
            auto pair = std::make_shared<HVNiPhotoImageObject>();
            pair->previewImagePath = P;
            pair->masterImagePath = master;
            pair->fileSize = preview->size + original->size;
            found.push_back(std::move(pair));
        }
    }

    if (isCancelled()) return;
    pairs_ = std::move(found);
    if (delegate) delegate->finishScan(nodesFromPairs(pairs_), kModule);
}
