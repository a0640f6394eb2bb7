#include "playback/Clock.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace varimel {

namespace {

class SteadyClock final : public Clock {
  public:
    ClockTime now() const override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                   ClockTime deadline) override {
        if (deadline == kForever) {
            wake.wait(lock);
            return;
        }
        const std::chrono::steady_clock::time_point until{std::chrono::nanoseconds(deadline)};
        wake.wait_until(lock, until);
    }

    bool runsByItself() const override { return true; }

    void sleepFor(ClockTime duration) override {
        if (duration > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(duration));
    }
};

}  // namespace

Clock& steadyClock() {
    static SteadyClock clock;
    return clock;
}

ManualClock::ManualClock(bool autoAdvance, ClockTime start)
    : autoAdvance_(autoAdvance), now_(start) {}

void ManualClock::waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                            ClockTime deadline) {
    if (deadline == kForever || !autoAdvance_) {
        // Woken by notify, or by setTime through the caller's listener.
        if (now() < deadline) wake.wait(lock);
        return;
    }
    ClockTime current = now_.load();
    while (current < deadline && !now_.compare_exchange_weak(current, deadline)) {
    }
}

void ManualClock::sleepFor(ClockTime duration) {
    const ClockTime until = now() + duration;
    if (autoAdvance_) {
        moveTo(until);
        return;
    }
    std::unique_lock lock(sleepMutex_);
    sleepWake_.wait(lock, [&] { return now() >= until; });
}

void ManualClock::addListener(Listener& listener) {
    std::lock_guard lock(listenersMutex_);
    listeners_.push_back(&listener);
}

void ManualClock::removeListener(Listener& listener) {
    std::lock_guard lock(listenersMutex_);
    std::erase(listeners_, &listener);
}

void ManualClock::setTime(ClockTime time) {
    moveTo(time);
}

void ManualClock::moveTo(ClockTime time) {
    ClockTime current = now_.load();
    while (current < time && !now_.compare_exchange_weak(current, time)) {
    }
    {
        // The time is stored before any waiter is woken, so none can miss it.
        std::lock_guard lock(sleepMutex_);
    }
    sleepWake_.notify_all();
    std::lock_guard lock(listenersMutex_);
    for (Listener* listener : listeners_) listener->clockMoved();
}

}  // namespace varimel
