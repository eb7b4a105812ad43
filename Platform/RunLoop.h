// The process's main run loop. Other threads hand work to the main thread with
// performOnMainThread (queued; the caller goes on) and performAfter (timers). The loop
// runs only inside runUntil()/runPending() on the thread bound as the main thread.
// The Qt front end drains it from Qt's own loop; the command line and tests call runUntil.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace hvn {

// Monotonic time in seconds.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
    // A manual clock jumps to the given time when the run loop is idle; a real one waits.
    virtual bool isManual() const { return false; }
    virtual void advanceTo(double) {}
};

class SteadyClock : public Clock {
public:
    double now() const override;
};

// For tests: time moves only when advanced, or when the run loop is idle and a timer is
// pending (then it jumps straight to that timer), so delays run at once and in order.
class ManualClock : public Clock {
public:
    double now() const override { return now_.load(); }
    bool isManual() const override { return true; }
    void advanceTo(double t) override {
        if (t > now_.load()) now_.store(t);
    }
    void advance(double seconds) { now_.store(now_.load() + seconds); }

private:
    std::atomic<double> now_{1000.0};
};

class RunLoop {
public:
    using Task = std::function<void()>;
    using TimerId = uint64_t;

    static RunLoop& main();

    // Makes the calling thread the main thread.
    void bindToCurrentThread();
    bool isMainThread() const;

    // Queues fn to run on the main thread; never runs it synchronously.
    void performOnMainThread(Task fn);
    // Runs fn on the main thread once `seconds` have passed on the loop's clock.
    TimerId performAfter(double seconds, Task fn);
    void cancel(TimerId id);

    // Runs queued tasks and due timers on the calling thread (binding it as the main thread
    // when none is bound) until pred() is true or timeoutSeconds of the loop's clock have
    // passed. Returns pred()'s final value. A negative timeout waits without limit.
    bool runUntil(const std::function<bool()>& pred, double timeoutSeconds);
    // Runs what is queued now and the timers already due; returns the number of tasks run.
    int runPending();

    // Replaces the loop's clock (tests); nullptr restores the steady clock. Not owned.
    void setClock(Clock* clock);
    Clock& clock() const;

    // Drops every queued task and timer (tests, between cases).
    void reset();

private:
    RunLoop();
    bool takeReady(Task& out, double now);

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Task> queue_;
    std::multimap<double, std::pair<TimerId, Task>> timers_;
    TimerId nextTimer_ = 1;
    std::atomic<std::thread::id> mainThread_{};
    SteadyClock steady_;
    std::atomic<Clock*> clock_;
};

}  // namespace hvn
