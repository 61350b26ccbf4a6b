#include "playback/playing/timer_service.h"

#include <algorithm>

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#endif

namespace pitchloom {

namespace {

template <typename Map>
void eraseId(Map& timers, TimerService::TimerId id) {
    for (auto it = timers.begin(); it != timers.end(); ++it) {
        if (it->second.first == id) {
            timers.erase(it);
            return;
        }
    }
}

}  // namespace

ThreadTimerService::ThreadTimerService() : thread_([this] { run(); }) {}

ThreadTimerService::~ThreadTimerService() {
    shutdown();
}

void ThreadTimerService::shutdown() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        timers_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

std::optional<TimerService::TimerId> ThreadTimerService::scheduleAt(SteadyTime due,
                                                                    Callback callback) {
    TimerId id;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return std::nullopt;
        id = nextId_++;
        timers_.emplace(due, std::make_pair(id, std::move(callback)));
    }
    wake_.notify_all();
    return id;
}

void ThreadTimerService::cancel(TimerId id) {
    std::lock_guard lock(mutex_);
    eraseId(timers_, id);
}

std::size_t ThreadTimerService::pendingCount() const {
    std::lock_guard lock(mutex_);
    return timers_.size();
}

namespace {

// Asks the system to wake this thread on time: no timer slack, and a real-time priority where
// the user may have one (where not, the thread keeps its normal priority).
void preferPunctualWakeUps() {
#if defined(__linux__)
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    sched_param param{};
    param.sched_priority = std::min(10, sched_get_priority_max(SCHED_FIFO));
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
#endif
}

}  // namespace

void ThreadTimerService::run() {
    preferPunctualWakeUps();
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (timers_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const SteadyTime due = timers_.begin()->first;
        if (std::chrono::steady_clock::now() < due) {
            wake_.wait_until(lock, due);
            continue;
        }
        Callback callback = std::move(timers_.begin()->second.second);
        timers_.erase(timers_.begin());
        lock.unlock();
        callback();
        lock.lock();
    }
}

SteadyTime ManualTimerService::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

std::optional<TimerService::TimerId> ManualTimerService::scheduleAt(SteadyTime due,
                                                                    Callback callback) {
    std::lock_guard lock(mutex_);
    const TimerId id = nextId_++;
    timers_.emplace(due, std::make_pair(id, std::move(callback)));
    return id;
}

void ManualTimerService::cancel(TimerId id) {
    std::lock_guard lock(mutex_);
    eraseId(timers_, id);
}

std::size_t ManualTimerService::pendingCount() const {
    std::lock_guard lock(mutex_);
    return timers_.size();
}

bool ManualTimerService::runNext() {
    Callback callback;
    {
        std::lock_guard lock(mutex_);
        if (timers_.empty()) return false;
        auto it = timers_.begin();
        if (it->first > now_) now_ = it->first;
        callback = std::move(it->second.second);
        timers_.erase(it);
    }
    callback();
    return true;
}

int ManualTimerService::runAll(int limit) {
    int ran = 0;
    while (ran < limit && runNext())
        ++ran;
    return ran;
}

void ManualTimerService::advance(std::chrono::milliseconds by) {
    SteadyTime end;
    {
        std::lock_guard lock(mutex_);
        end = now_ + by;
    }
    for (;;) {
        Callback callback;
        {
            std::lock_guard lock(mutex_);
            if (timers_.empty() || timers_.begin()->first > end) {
                now_ = end;
                return;
            }
            auto it = timers_.begin();
            if (it->first > now_) now_ = it->first;
            callback = std::move(it->second.second);
            timers_.erase(it);
        }
        callback();
    }
}

void ManualTimerService::jump(std::chrono::milliseconds by) {
    std::lock_guard lock(mutex_);
    now_ += by;
}

std::optional<std::chrono::nanoseconds> ManualTimerService::nextDelay() const {
    std::lock_guard lock(mutex_);
    if (timers_.empty()) return std::nullopt;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(timers_.begin()->first - now_);
}

}  // namespace pitchloom
