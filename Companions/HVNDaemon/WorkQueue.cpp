#include "Companions/HVNDaemon/WorkQueue.h"

#include "Platform/Log.h"

namespace hvndaemon {

WorkQueue::WorkQueue() : thread_([this] { run(); }) {}

WorkQueue::~WorkQueue() {
    shutdown();
}

void WorkQueue::post(Work work, bool isRemoval) {
    auto item = std::make_shared<Item>();
    item->work = std::move(work);
    item->isRemoval = isRemoval;
    {
        std::lock_guard lock(mutex_);
        if (ending_) return;
        queue_.push_back(std::move(item));
    }
    wake_.notify_one();
}

void WorkQueue::stopRemovals() {
    std::lock_guard lock(mutex_);
    if (current_ && current_->isRemoval) current_->stop = true;
    for (auto& item : queue_) {
        if (item->isRemoval) item->stop = true;
    }
}

void WorkQueue::shutdown() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
        if (current_) current_->stop = true;
        queue_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void WorkQueue::run() {
    for (;;) {
        std::shared_ptr<Item> item;
        {
            std::unique_lock lock(mutex_);
            current_.reset();
            wake_.wait(lock, [this] { return ending_ || !queue_.empty(); });
            if (ending_) return;
            item = queue_.front();
            queue_.pop_front();
            if (item->stop) continue;
            current_ = item;
        }
        try {
            item->work(item->stop);
        } catch (const std::exception& e) {
            hvn::Log::write(std::string("HVNDaemon: a piece of work failed: ") + e.what());
        } catch (...) {
            hvn::Log::write("HVNDaemon: a piece of work failed");
        }
    }
}

}  // namespace hvndaemon
