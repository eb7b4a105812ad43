#include "Platform/RunLoop.h"

#include <chrono>

namespace hvn {

double SteadyClock::now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

RunLoop::RunLoop() : clock_(&steady_) {}

RunLoop& RunLoop::main() {
    static RunLoop* loop = new RunLoop;  // never released: background threads may post late
    return *loop;
}

void RunLoop::bindToCurrentThread() { mainThread_.store(std::this_thread::get_id()); }

bool RunLoop::isMainThread() const { return mainThread_.load() == std::this_thread::get_id(); }

void RunLoop::performOnMainThread(Task fn) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(fn));
    }
    cv_.notify_all();
}

RunLoop::TimerId RunLoop::performAfter(double seconds, Task fn) {
    TimerId id;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        id = nextTimer_++;
        timers_.emplace(clock().now() + seconds, std::make_pair(id, std::move(fn)));
    }
    cv_.notify_all();
    return id;
}

void RunLoop::cancel(TimerId id) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->second.first == id) {
            timers_.erase(it);
            return;
        }
    }
}

bool RunLoop::takeReady(Task& out, double now) {
    if (!queue_.empty()) {
        out = std::move(queue_.front());
        queue_.pop_front();
        return true;
    }
    if (!timers_.empty() && timers_.begin()->first <= now) {
        out = std::move(timers_.begin()->second.second);
        timers_.erase(timers_.begin());
        return true;
    }
    return false;
}

int RunLoop::runPending() {
    if (mainThread_.load() == std::thread::id()) bindToCurrentThread();
    int ran = 0;
    size_t budget;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        budget = queue_.size() + timers_.size();
    }
    while (budget-- > 0) {
        Task t;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!takeReady(t, clock().now())) break;
        }
        t();
        ++ran;
    }
    return ran;
}

bool RunLoop::runUntil(const std::function<bool()>& pred, double timeoutSeconds) {
    if (mainThread_.load() == std::thread::id()) bindToCurrentThread();
    const double start = clock().now();
    const double realStart = steady_.now();
    for (;;) {
        if (pred()) return true;
        Task t;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            double now = clock().now();
            // The timeout counts on the loop's clock and, for a manual clock that nothing
            // advances, on the real one too.
            if (timeoutSeconds >= 0 &&
                (now - start >= timeoutSeconds || steady_.now() - realStart >= timeoutSeconds)) {
                return pred();
            }
            if (!takeReady(t, now)) {
                if (clock().isManual() && queue_.empty() && !timers_.empty()) {
                    // Idle with a timer pending: jump to it, within the timeout.
                    double due = timers_.begin()->first;
                    if (timeoutSeconds >= 0 && due - start > timeoutSeconds) {
                        clock().advanceTo(start + timeoutSeconds);
                        return pred();
                    }
                    clock().advanceTo(due);
                    continue;
                }
                // Wait briefly: pred() may become true through another thread's work.
                double wait = 0.005;
                if (!timers_.empty() && !clock().isManual()) {
                    wait = std::min(wait, std::max(0.0, timers_.begin()->first - now));
                }
                cv_.wait_for(lock, std::chrono::duration<double>(wait));
                continue;
            }
        }
        t();
    }
}

void RunLoop::setClock(Clock* clock) { clock_.store(clock ? clock : &steady_); }

Clock& RunLoop::clock() const { return *clock_.load(); }

void RunLoop::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear();
    timers_.clear();
}

}  // namespace hvn
