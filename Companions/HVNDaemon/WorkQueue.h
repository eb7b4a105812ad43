// The daemon's one work thread: requests are answered at once and their work runs here, one
// piece after another in the order posted.
//
// Threads: post, stopRemovals and shutdown may be called from any thread; the work runs on
// the queue's own thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace hvndaemon {

class WorkQueue {
public:
    // A piece of work; it checks stop between the items it works through and returns soon
    // once it is set.
    using Work = std::function<void(const std::atomic<bool>& stop)>;

    WorkQueue();
    ~WorkQueue();  // shutdown()
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    // Queues work behind what is already queued. A removal is stopped by stopRemovals();
    // other work only by shutdown(). Work posted after shutdown() is dropped.
    void post(Work work, bool isRemoval);
    // Sets the stop flag of the removal under way and of every removal still queued (those
    // then do not start). Later removals run as usual.
    void stopRemovals();
    // Stops the work under way, drops what is queued and waits for the thread to end.
    void shutdown();

private:
    struct Item {
        Work work;
        bool isRemoval = false;
        std::atomic<bool> stop{false};
    };
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<Item>> queue_;
    std::shared_ptr<Item> current_;
    bool ending_ = false;
    std::thread thread_;
};

}  // namespace hvndaemon
