#include "Platform/OperationQueue.h"

#include <algorithm>

namespace hvn {

OperationQueue::OperationQueue() {
    unsigned n = std::thread::hardware_concurrency();
    maxConcurrent_ = n ? static_cast<int>(n) : 2;
}

OperationQueue::~OperationQueue() {
    cancelAllOperations();
    waitUntilAllOperationsAreFinished();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    cv_.notify_all();
    for (auto& t : workers_) t.join();
}

void OperationQueue::setMaxConcurrentOperationCount(int n) {
    std::lock_guard<std::mutex> lock(mutex_);
    maxConcurrent_ = std::max(1, n);
}

int OperationQueue::maxConcurrentOperationCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return maxConcurrent_;
}

void OperationQueue::addOperation(std::shared_ptr<Operation> op) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back(std::move(op));
        // Threads are started lazily, up to the concurrency limit.
        if (static_cast<int>(workers_.size()) < maxConcurrent_ &&
            static_cast<int>(workers_.size()) - busy_ < static_cast<int>(pending_.size())) {
            workers_.emplace_back([this] { workerLoop(); });
        }
    }
    cv_.notify_one();
}

void OperationQueue::addOperation(std::function<void()> fn) {
    addOperation(std::make_shared<BlockOperation>([fn = std::move(fn)](const Operation&) { fn(); }));
}

void OperationQueue::cancelAllOperations() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& op : pending_) op->cancel();
    for (auto& op : running_) op->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return pending_.empty() && busy_ == 0; });
}

size_t OperationQueue::operationCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.size() + static_cast<size_t>(busy_);
}

void OperationQueue::workerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        cv_.wait(lock, [this] { return stopping_ || (!pending_.empty() && busy_ < maxConcurrent_); });
        if (stopping_ && pending_.empty()) return;
        if (pending_.empty() || busy_ >= maxConcurrent_) continue;
        auto op = std::move(pending_.front());
        pending_.pop_front();
        ++busy_;
        running_.push_back(op);
        lock.unlock();
        try {
            op->main();
        } catch (...) {
            // An operation that raised simply ends; the queue goes on.
        }
        op->finished_.store(true);
        lock.lock();
        running_.erase(std::find(running_.begin(), running_.end(), op));
        --busy_;
        if (pending_.empty() && busy_ == 0) idle_.notify_all();
        cv_.notify_one();
    }
}

}  // namespace hvn
