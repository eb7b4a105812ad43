#include "Clearer/CleanManagerTestSupport.h"

#include <chrono>
#include <thread>

#include "Platform/RunLoop.h"

namespace hvn::test {

FakeScanOperation::FakeScanOperation(HVNScanResultDelegate* t, int32_t m, HVNNodeList r, double delay)
    : target(t), module(m), result(std::move(r)), delaySeconds(delay) {}

void FakeScanOperation::main() {
    started_.store(true);
    using namespace std::chrono_literals;
    while (startGate && startGate->load() == 0 && !isCancelled()) std::this_thread::sleep_for(1ms);
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(delaySeconds);
    while (std::chrono::steady_clock::now() < until && !isCancelled()) std::this_thread::sleep_for(1ms);
    while (runUntilCancelled && !isCancelled()) std::this_thread::sleep_for(1ms);
    if (isCancelled() || !target) return;
    target->finishScan(result, module);
}

NotificationCounter::NotificationCounter(const std::string& name) {
    token_ = hvn::NotificationCenter::defaultCenter().addObserver(name, [this](const hvn::Notification& n) {
        if (!hvn::RunLoop::main().isMainThread()) offMain_.fetch_add(1);
        if (auto texts = std::any_cast<std::vector<std::string>>(&n.object)) {
            std::lock_guard<std::mutex> lock(mutex_);
            lastTexts_ = *texts;
        }
        count_.fetch_add(1);
    });
}

bool NotificationCounter::waitFor(int n) {
    return hvn::RunLoop::main().runUntil([&] { return count_.load() >= n; }, 10);
}

std::vector<std::string> NotificationCounter::lastTexts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastTexts_;
}

HVNScaneOuputObjectPtr makeNode(const std::string& dirPath, const std::string& name, int64_t fileSize,
                                int8_t isCheck, HVNNodeList children) {
    auto n = HVNScaneOuputObject::create();
    n->setDirPath(dirPath);
    n->setName(name);
    n->fileSize = fileSize;
    n->isCheck = isCheck;
    if (!children.empty()) n->setSubObjects(std::move(children));
    return n;
}

HVNNodeList makeNodes(const std::vector<std::string>& names) {
    HVNNodeList out;
    for (const auto& n : names) out.push_back(makeNode("/nonexistent", n, 1, 1));
    return out;
}

}  // namespace hvn::test
