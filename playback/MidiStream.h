// MidiStream: a timed MIDI stream over one output port. The caller queues buffers of
// (delta ticks, stream 0, event word) triples; a scheduler thread sends each event when its tick
// comes, at the stream's tempo and time division, both changeable while playing. Finished
// buffers are handed back one by one with a signal on the caller's event. Every call answers a
// code of MidiResult.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "playback/Clock.h"
#include "playback/OutputPort.h"

namespace varimel {

// The high byte of an event word says what it is; the low 24 bits are its parameter.
namespace stream_event {
inline constexpr uint32_t kShortMessage = 0x00;  // parameter: status | data1 << 8 | data2 << 16
inline constexpr uint32_t kTempo = 0x01;         // parameter: microseconds per quarter note
inline constexpr uint32_t kNop = 0x02;           // takes its time, sends nothing
inline constexpr uint32_t kParameterMask = 0x00FFFFFF;
inline constexpr uint32_t kWordsPerEvent = 3;
}  // namespace stream_event

constexpr uint32_t tempoEventWord(uint32_t microsecondsPerQuarter) {
    return stream_event::kTempo << 24 | (microsecondsPerQuarter & stream_event::kParameterMask);
}
constexpr uint32_t nopEventWord() {
    return stream_event::kNop << 24;
}
constexpr uint32_t eventType(uint32_t word) {
    return word >> 24;
}

// An auto-reset event: set wakes one wait, which consumes it.
class StreamEvent {
  public:
    void set();
    void reset();
    void wait();
    // False when the time ran out first.
    bool waitFor(std::chrono::nanoseconds timeout);

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_ = false;
};

// A buffer the caller owns. While it is prepared and queued the stream reads it; the caller may
// refill it only after unprepareHeader succeeded.
struct StreamHeader {
    uint32_t* data = nullptr;
    uint32_t bufferWords = 0;    // capacity
    uint32_t wordsRecorded = 0;  // words holding events, a multiple of three

    bool prepared() const { return (flags & kPrepared) != 0; }
    bool inQueue() const { return (flags & kInQueue) != 0; }
    bool done() const { return (flags & kDone) != 0; }

    static constexpr uint32_t kDone = 1;
    static constexpr uint32_t kPrepared = 2;
    static constexpr uint32_t kInQueue = 4;
    std::atomic<uint32_t> flags{0};  // written by the stream only
};

class MidiStream {
  public:
    static constexpr int32_t kDefaultDivision = 480;
    static constexpr int32_t kDefaultTempo = 500000;

    // Opens a stream that starts paused at tick 0. `notify` (may be null) is set once for every
    // buffer that is done or handed back by a reset.
    static int open(std::unique_ptr<OutputPort> port, Clock& clock,
                    std::shared_ptr<StreamEvent> notify, std::unique_ptr<MidiStream>& stream);
    // Closing hands back queued buffers without signalling and silences nothing: reset first.
    ~MidiStream();
    MidiStream(const MidiStream&) = delete;
    MidiStream& operator=(const MidiStream&) = delete;

    int setTimeDivision(int32_t ticksPerQuarter);
    int timeDivision(int32_t& ticksPerQuarter) const;
    int setTempo(int32_t microsecondsPerQuarter);
    int tempo(int32_t& microsecondsPerQuarter) const;

    int prepareHeader(StreamHeader& header);
    int unprepareHeader(StreamHeader& header);
    int out(StreamHeader& header);
    // Starts or resumes playing; does nothing while playing.
    int restart();
    int pause();
    // Ticks since the stream started (or was last reset), advancing with time while it plays.
    int position(int64_t& ticks) const;
    // Silences the output at once, hands back every queued buffer (signalling each) and leaves
    // the stream paused at tick 0.
    int reset();
    // Sends one short message now, whatever is queued.
    int shortMessage(uint32_t message);

  private:
    struct ClockWaker final : Clock::Listener {
        explicit ClockWaker(MidiStream& stream) : stream(stream) {}
        void clockMoved() override;
        MidiStream& stream;
    };

    MidiStream(std::unique_ptr<OutputPort> port, Clock& clock, std::shared_ptr<StreamEvent> notify);
    void schedule();
    double positionAt(ClockTime time) const;  // needs mutex_
    ClockTime timeOfTick(double tick) const;  // needs mutex_
    void reanchor(double tick, ClockTime time);
    void finishHeader(StreamHeader& header, bool signal);

    std::unique_ptr<OutputPort> port_;
    Clock& clock_;
    std::shared_ptr<StreamEvent> notify_;
    ClockWaker waker_{*this};

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool closing_ = false;
    bool running_ = false;
    int32_t division_ = kDefaultDivision;
    int32_t tempo_ = kDefaultTempo;
    // Position = anchorTick_ + the time since anchorTime_ at the current tempo (frozen when
    // paused). Re-anchored at every tempo or division change so that earlier time keeps its rate.
    double anchorTick_ = 0;
    ClockTime anchorTime_ = 0;
    int64_t lastEventTick_ = 0;         // the tick the next event's delta counts from
    std::vector<StreamHeader*> queue_;  // reserved, so queueing allocates nothing
    uint32_t readWord_ = 0;             // in the front buffer
    std::thread scheduler_;
};

}  // namespace varimel
