// Clock: the time base of the MIDI stream's scheduler, either the system's steady clock or a
// clock that tests drive by hand, so that timing logic runs in microseconds of real time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <vector>

namespace varimel {

// Nanoseconds on the clock's own scale.
using ClockTime = int64_t;
inline constexpr ClockTime kForever = std::numeric_limits<ClockTime>::max();

class Clock {
  public:
    // Told when a hand-driven clock moves, so that a thread waiting for a deadline re-checks.
    class Listener {
      public:
        virtual void clockMoved() = 0;

      protected:
        ~Listener() = default;
    };

    virtual ~Clock() = default;

    virtual ClockTime now() const = 0;
    // With `lock` held on the mutex that guards the caller's state: blocks until the clock reaches
    // `deadline` or `wake` is notified (or spuriously); the caller re-checks its state.
    virtual void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                           ClockTime deadline) = 0;
    virtual void sleepFor(ClockTime duration) = 0;
    // True when the clock runs by itself, so that a waiter may spin through the last moments.
    virtual bool runsByItself() const { return false; }

    virtual void addListener(Listener&) {}
    virtual void removeListener(Listener&) {}
};

// The process-wide steady clock.
Clock& steadyClock();

// A clock that moves only when told. In auto-advance mode a wait for a deadline jumps the clock
// to it at once, as if the wait had taken exactly that long: a whole piece then plays in a blink
// with every event on its due time. Auto-advance serves one waiting thread (one open stream).
class ManualClock : public Clock {
  public:
    explicit ManualClock(bool autoAdvance = false, ClockTime start = 0);

    ClockTime now() const override { return now_.load(); }
    void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                   ClockTime deadline) override;
    void sleepFor(ClockTime duration) override;
    void addListener(Listener& listener) override;
    void removeListener(Listener& listener) override;

    void advance(ClockTime duration) { setTime(now() + duration); }
    // Moves forward only; wakes every waiting thread.
    void setTime(ClockTime time);
    bool autoAdvance() const { return autoAdvance_; }

  private:
    void moveTo(ClockTime time);

    const bool autoAdvance_;
    std::atomic<ClockTime> now_;
    std::mutex listenersMutex_;
    std::vector<Listener*> listeners_;
    std::mutex sleepMutex_;
    std::condition_variable sleepWake_;
};

}  // namespace varimel
