// Operation queues: a pool of worker threads running operations, at most
// maxConcurrentOperationCount at once (default: the number of hardware threads).
// An operation carries a cancellation flag that its body checks where it can stop.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace hvn {

class Operation {
public:
    virtual ~Operation() = default;
    // The work; runs on a worker thread.
    virtual void main() = 0;
    void cancel() { cancelled_.store(true); }
    bool isCancelled() const { return cancelled_.load(); }
    bool isFinished() const { return finished_.load(); }

private:
    friend class OperationQueue;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> finished_{false};
};

// An operation made of a function; the function receives the operation so it can check
// isCancelled().
class BlockOperation : public Operation {
public:
    explicit BlockOperation(std::function<void(const Operation&)> fn) : fn_(std::move(fn)) {}
    void main() override { fn_(*this); }

private:
    std::function<void(const Operation&)> fn_;
};

class OperationQueue {
public:
    OperationQueue();
    ~OperationQueue();  // cancels what has not started and waits for the rest
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    void setMaxConcurrentOperationCount(int n);
    int maxConcurrentOperationCount() const;

    void addOperation(std::shared_ptr<Operation> op);
    void addOperation(std::function<void()> fn);

    // Sets the cancellation flag of every queued and running operation. Queued ones still
    // run (their bodies see the flag), as with the platform's queues.
    void cancelAllOperations();
    // Blocks until no operation is queued or running.
    void waitUntilAllOperationsAreFinished();
    size_t operationCount() const;

private:
    void workerLoop();

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::condition_variable idle_;
    std::deque<std::shared_ptr<Operation>> pending_;
    std::vector<std::shared_ptr<Operation>> running_;
    std::vector<std::thread> workers_;
    int maxConcurrent_;
    int busy_ = 0;
    bool stopping_ = false;
};

}  // namespace hvn
