#include "DuplicateFixtures.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "Platform/NotificationCenter.h"
#include "Platform/OperationQueue.h"

namespace dupes_test {

std::string pattern(size_t length, uint32_t seed) {
    std::string s(length, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = static_cast<char>(x & 0xFF);
    }
    return s;
}

std::string withByteChanged(std::string contents, size_t offset) {
    contents[offset] = static_cast<char>(contents[offset] ^ 0x5A);
    return contents;
}

SearchRecord runSearch(THDuplicationHelper& engine) {
    auto queue = std::make_shared<hvn::OperationQueue>();
    queue->setMaxConcurrentOperationCount(1);
    engine.notificationQueue = queue;
    SearchRecord record;
    std::mutex mutex;
    auto& center = hvn::NotificationCenter::defaultCenter();
    hvn::ObservationToken groups(
        center.addObserver(kTHDuplicationNotification, [&](const hvn::Notification& n) {
            const auto* self = std::any_cast<const THDuplicationHelper*>(&n.object);
            if (!self || *self != &engine) return;
            std::lock_guard<std::mutex> lock(mutex);
            if (n.userInfo.find(kTHDuplicationFinished)) {
                ++record.finishedNotifications;
                record.finishedWasLast = true;
                return;
            }
            record.finishedWasLast = false;
            ++record.groupNotifications;
            Group g;
            g.size = static_cast<uint64_t>(n.userInfo[kTHDuplicationFileSize].asInteger());
            for (const auto& p : n.userInfo[kTHDuplicationFileList].asArray())
                g.files.push_back(p.asString());
            std::sort(g.files.begin(), g.files.end());
            record.groups[n.userInfo[kTHDuplicationFileHash].asString()] = std::move(g);
        }));
    hvn::ObservationToken progress(
        center.addObserver(kTHDuplicationProgressNotification, [&](const hvn::Notification& n) {
            std::lock_guard<std::mutex> lock(mutex);
            record.progressPaths.push_back(n.userInfo["path"].asString());
        }));
    engine.startSearch();
    engine.waitUntilFinished();
    queue->waitUntilAllOperationsAreFinished();
    std::lock_guard<std::mutex> lock(mutex);
    return record;
}

std::vector<std::vector<std::string>> fileLists(const SearchRecord& record) {
    std::vector<std::vector<std::string>> out;
    for (const auto& [hash, g] : record.groups) out.push_back(g.files);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace dupes_test
