#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace pitchloom {

using SteadyTime = std::chrono::steady_clock::time_point;

/// One-shot timers whose callbacks run on a thread other than the window's. Timers are armed
/// for an absolute due time, so a chain of them keeps to its schedule instead of adding up
/// the latency of every callback.
class TimerService {
public:
    using Callback = std::function<void()>;
    using TimerId = std::uint64_t;

    virtual ~TimerService() = default;

    /// The smallest period in milliseconds the service supports.
    virtual int minPeriodMs() const = 0;
    virtual SteadyTime now() const = 0;
    /// Arms a one-shot timer; nothing when the service refuses (it has stopped).
    virtual std::optional<TimerId> scheduleAt(SteadyTime due, Callback callback) = 0;
    /// Disarms a timer that has not fired yet; a timer that fired or runs is left alone.
    virtual void cancel(TimerId id) = 0;
    /// Number of timers armed and not yet fired.
    virtual std::size_t pendingCount() const = 0;
};

/// The real service: one thread waiting on a steady clock.
class ThreadTimerService : public TimerService {
public:
    ThreadTimerService();
    ~ThreadTimerService() override;

    int minPeriodMs() const override { return 1; }
    SteadyTime now() const override { return std::chrono::steady_clock::now(); }
    std::optional<TimerId> scheduleAt(SteadyTime due, Callback callback) override;
    void cancel(TimerId id) override;
    std::size_t pendingCount() const override;

    /// Drops every pending timer and ends the thread after the running callback returns.
    void shutdown();

private:
    void run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<SteadyTime, std::pair<TimerId, Callback>> timers_;
    TimerId nextId_ = 1;
    bool stopping_ = false;
    std::thread thread_;
};

/// Time stands still until advanced, and callbacks run on the caller: the tests' clock, and the
/// audio renderer's, which moves it from one event to the next as it renders.
class ManualTimerService : public TimerService {
public:
    int minPeriodMs() const override { return 1; }
    SteadyTime now() const override;
    std::optional<TimerId> scheduleAt(SteadyTime due, Callback callback) override;
    void cancel(TimerId id) override;
    std::size_t pendingCount() const override;

    /// Moves the clock to the next due timer and runs it; false when none is armed.
    bool runNext();
    /// Runs timers until none is armed or `limit` have run; returns how many ran.
    int runAll(int limit = 1000000);
    /// Moves the clock on, running every timer that falls due on the way.
    void advance(std::chrono::milliseconds by);
    /// Moves the clock on without running anything, as a thread held up elsewhere would.
    void jump(std::chrono::milliseconds by);
    /// Due time of the next armed timer, relative to the current time.
    std::optional<std::chrono::nanoseconds> nextDelay() const;

private:
    mutable std::mutex mutex_;
    SteadyTime now_{};
    std::multimap<SteadyTime, std::pair<TimerId, Callback>> timers_;
    TimerId nextId_ = 1;
};

}  // namespace pitchloom
