// The counts and sizes of HVNCleanManager. Each call counts with its own local counters
// under the queue's lock, so the main thread and the clean thread may count at once.
#include "HVN/Code/Clearer/HVNCleanManager.h"
#include "HVN/Code/Public/HVNCommonFunction.h"

namespace {

using M = HVNModuleInfo;
using ResultMap = HVNCacheScanner::ResultMap;

bool ticked(const HVNScaneOuputObjectPtr& n) {
    return n->isCheck != 0;
}

// Calls fn for every leaf of a list: a top node without children, or a child of a top node.
template <class Fn>
void forEachLeaf(const HVNNodeList& list, Fn&& fn) {
    for (const auto& top : list) {
        const auto& children = top->children();
        if (children.empty()) {
            fn(top, false);
        } else {
            for (const auto& child : children) fn(child, true);
        }
    }
}

template <class Fn>
int64_t sumOver(const HVNCacheScanner& queue, Fn&& perModule) {
    int64_t total = 0;
    queue.readData([&](const ResultMap& data) {
        for (const auto& [module, list] : data) total += perModule(module, list);
    });
    return total;
}

// The disk check reports through its list's last node.
const HVNScaneOuputObjectPtr* lastNode(const HVNNodeList& list) {
    return list.empty() ? nullptr : &list.back();
}

}  // namespace

// --- System ---

int64_t HVNCleanManager::hasSystemIssue() const {
    return sumOver(*scanSystem,
                   [](int32_t, const HVNNodeList& list) { return static_cast<int64_t>(list.size()); });
}

int64_t HVNCleanManager::hasSystemIssueSelected() const {
    return sumOver(*scanSystem, [](int32_t, const HVNNodeList& list) {
        int64_t n = 0;
        for (const auto& top : list) n += ticked(top) ? 1 : 0;
        return n;
    });
}

int64_t HVNCleanManager::allSystemFileSelected() const {
    return sumOver(*scanSystem, [](int32_t, const HVNNodeList& list) {
        int64_t n = 0;
        forEachLeaf(list, [&](const HVNScaneOuputObjectPtr& leaf, bool) { n += ticked(leaf) ? 1 : 0; });
        return n;
    });
}

int64_t HVNCleanManager::allSystemSize() const {
    return sumOver(*scanSystem, [](int32_t, const HVNNodeList& list) {
        int64_t n = 0;
        for (const auto& top : list) n += top->fileSize;
        return n;
    });
}

int64_t HVNCleanManager::allSystemSizeSelected() const {
    return sumOver(*scanSystem, [](int32_t, const HVNNodeList& list) {
        int64_t n = 0;
        for (const auto& top : list) n += ticked(top) ? top->fileSize : 0;
        return n;
    });
}

// --- Disk ---

int64_t HVNCleanManager::hasDiskIssue() const {
    return sumOver(*scanDisk, [](int32_t module, const HVNNodeList& list) -> int64_t {
        if (module == M::DiskCheck) {
            auto last = lastNode(list);
            return last ? (*last)->issueCount : 0;
        }
        int64_t n = 0;
        forEachLeaf(list, [&](const HVNScaneOuputObjectPtr&, bool) { ++n; });
        return n;
    });
}

int64_t HVNCleanManager::hasDiskIssueSelected() const {
    return sumOver(*scanDisk, [](int32_t module, const HVNNodeList& list) -> int64_t {
        if (module == M::DiskCheck) {
            auto last = lastNode(list);
            return last && ticked(*last) ? (*last)->issueCount : 0;
        }
        int64_t n = 0;
        forEachLeaf(list, [&](const HVNScaneOuputObjectPtr& leaf, bool) { n += ticked(leaf) ? 1 : 0; });
        return n;
    });
}

int64_t HVNCleanManager::allDiskFile() const {
    return sumOver(*scanDisk, [](int32_t module, const HVNNodeList& list) -> int64_t {
        if (module == M::DiskCheck) {
            auto last = lastNode(list);
            return last && ticked(*last) ? 3000000 : 0;
        }
        int64_t n = 0;
        forEachLeaf(list, [&](const HVNScaneOuputObjectPtr& leaf, bool isChild) {
            if (!ticked(leaf)) return;
            if (isChild && leaf->removePaths) {
                n += static_cast<int64_t>(leaf->removePaths->size());
            } else {
                n += 1;
            }
        });
        return n;
    });
}

int64_t HVNCleanManager::allDiskSize() const {
    return sumOver(*scanDisk, [](int32_t module, const HVNNodeList& list) {
        int64_t n = 0;
        if (module == M::IPhoto) {
            for (const auto& top : list) n += top->fileSize;
        } else {
            forEachLeaf(list, [&](const HVNScaneOuputObjectPtr& leaf, bool) { n += leaf->fileSize; });
        }
        return n;
    });
}

int64_t HVNCleanManager::allDiskSizeSelected() const {
    return sumOver(*scanDisk, [](int32_t module, const HVNNodeList& list) {
        int64_t n = 0;
        if (module == M::IPhoto) {
            // Only the ticked pictures are replaced by their previews.
            for (const auto& top : list) n += ticked(top) ? top->fileSize : 0;
        } else {
            forEachLeaf(list, [&](const HVNScaneOuputObjectPtr& leaf, bool) {
                n += ticked(leaf) ? leaf->fileSize : 0;
            });
        }
        return n;
    });
}

// --- Internet Security ---

int64_t HVNCleanManager::allInternetVirusSize() const {
    return sumOver(*scanInternetVirus, [](int32_t, const HVNNodeList& list) {
        int64_t n = 0;
        forEachLeaf(
            list, [&](const HVNScaneOuputObjectPtr& leaf, bool) { n += ticked(leaf) ? leaf->fileSize : 0; });
        return n;
    });
}

int64_t HVNCleanManager::internetVirusIssueFileCnt() const {
    return sumOver(*scanInternetVirus, [](int32_t, const HVNNodeList& list) {
        int64_t n = 0;
        for (const auto& top : list) n += HVNCommonFunction::getChildrenCnt(top, false);
        return n;
    });
}

int64_t HVNCleanManager::internetVirusIssueFileCntSelected() const {
    return sumOver(*scanInternetVirus, [](int32_t, const HVNNodeList& list) {
        int64_t n = 0;
        for (const auto& top : list) n += HVNCommonFunction::getChildrenCnt(top, true);
        return n;
    });
}
