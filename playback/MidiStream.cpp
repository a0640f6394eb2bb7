#include "playback/MidiStream.h"

#include <algorithm>
#include <cmath>
#include <new>

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#endif
#include <utility>

#include "playback/MidiResult.h"

namespace varimel {

using namespace midi_result;

// --- StreamEvent ----------------------------------------------------------------------------

void StreamEvent::set() {
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    changed_.notify_one();
}

void StreamEvent::reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

void StreamEvent::wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return signalled_; });
    signalled_ = false;
}

bool StreamEvent::waitFor(std::chrono::nanoseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [&] { return signalled_; })) return false;
    signalled_ = false;
    return true;
}

// --- MidiStream -----------------------------------------------------------------------------

namespace {

// How long before an event the scheduler stops sleeping and yields instead.
constexpr ClockTime kSpinWindow = 300'000;

// A real-time priority, as audio programs take one, when the system grants it (root, or a
// realtime limit); otherwise the thread keeps the normal priority.
void raisePriority(std::thread& thread) {
#if defined(__linux__)
    sched_param parameter{};
    parameter.sched_priority = std::max(sched_get_priority_min(SCHED_FIFO), 10);
    pthread_setschedparam(thread.native_handle(), SCHED_FIFO, &parameter);
#else
    (void)thread;
#endif
}

}  // namespace

int MidiStream::open(std::unique_ptr<OutputPort> port, Clock& clock,
                     std::shared_ptr<StreamEvent> notify, std::unique_ptr<MidiStream>& stream) {
    stream.reset();
    if (!port) return kInvalidParam;
    try {
        stream.reset(new MidiStream(std::move(port), clock, std::move(notify)));
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    } catch (const std::system_error&) {
        return kError;  // no thread for the scheduler
    }
    return kOk;
}

MidiStream::MidiStream(std::unique_ptr<OutputPort> port, Clock& clock,
                       std::shared_ptr<StreamEvent> notify)
    : port_(std::move(port)), clock_(clock), notify_(std::move(notify)) {
    queue_.reserve(8);
    anchorTime_ = clock_.now();
    clock_.addListener(waker_);
    try {
        scheduler_ = std::thread([this] { schedule(); });
        raisePriority(scheduler_);
    } catch (...) {
        clock_.removeListener(waker_);
        throw;
    }
}

MidiStream::~MidiStream() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        for (StreamHeader* header : queue_) finishHeader(*header, false);
        queue_.clear();
    }
    wake_.notify_all();
    scheduler_.join();
    clock_.removeListener(waker_);
}

void MidiStream::ClockWaker::clockMoved() {
    { std::lock_guard lock(stream.mutex_); }
    stream.wake_.notify_all();
}

double MidiStream::positionAt(ClockTime time) const {
    if (!running_ || time <= anchorTime_) return anchorTick_;
    return anchorTick_ + static_cast<double>(time - anchorTime_) * division_ / (tempo_ * 1000.0);
}

ClockTime MidiStream::timeOfTick(double tick) const {
    const double nanoseconds = (tick - anchorTick_) * (tempo_ * 1000.0) / division_;
    return anchorTime_ + std::llround(nanoseconds);
}

void MidiStream::reanchor(double tick, ClockTime time) {
    anchorTick_ = tick;
    anchorTime_ = time;
}

void MidiStream::finishHeader(StreamHeader& header, bool signal) {
    header.flags = (header.flags & ~StreamHeader::kInQueue) | StreamHeader::kDone;
    if (signal && notify_) notify_->set();
}

int MidiStream::setTimeDivision(int32_t ticksPerQuarter) {
    if (ticksPerQuarter <= 0 || ticksPerQuarter > 0x7FFF) return kInvalidParam;
    {
        std::lock_guard lock(mutex_);
        const ClockTime now = clock_.now();
        reanchor(positionAt(now), running_ ? now : anchorTime_);
        division_ = ticksPerQuarter;
    }
    wake_.notify_all();
    return kOk;
}

int MidiStream::timeDivision(int32_t& ticksPerQuarter) const {
    std::lock_guard lock(mutex_);
    ticksPerQuarter = division_;
    return kOk;
}

int MidiStream::setTempo(int32_t microsecondsPerQuarter) {
    if (microsecondsPerQuarter <= 0 ||
        static_cast<uint32_t>(microsecondsPerQuarter) > stream_event::kParameterMask) {
        return kInvalidParam;
    }
    {
        std::lock_guard lock(mutex_);
        const ClockTime now = clock_.now();
        reanchor(positionAt(now), running_ ? now : anchorTime_);
        tempo_ = microsecondsPerQuarter;
    }
    wake_.notify_all();
    return kOk;
}

int MidiStream::tempo(int32_t& microsecondsPerQuarter) const {
    std::lock_guard lock(mutex_);
    microsecondsPerQuarter = tempo_;
    return kOk;
}

int MidiStream::prepareHeader(StreamHeader& header) {
    if (header.data == nullptr && header.bufferWords != 0) return kInvalidParam;
    std::lock_guard lock(mutex_);
    header.flags = header.flags | StreamHeader::kPrepared;
    return kOk;
}

int MidiStream::unprepareHeader(StreamHeader& header) {
    std::lock_guard lock(mutex_);
    if (header.inQueue()) return kStillPlaying;
    header.flags = header.flags & ~StreamHeader::kPrepared;
    return kOk;
}

int MidiStream::out(StreamHeader& header) {
    if (header.wordsRecorded > header.bufferWords ||
        header.wordsRecorded % stream_event::kWordsPerEvent != 0) {
        return kInvalidParam;
    }
    {
        std::lock_guard lock(mutex_);
        if (!header.prepared()) return kUnprepared;
        if (header.inQueue()) return kStillPlaying;
        try {
            queue_.push_back(&header);
        } catch (const std::bad_alloc&) {
            return kNoMemory;
        }
        header.flags = (header.flags & ~StreamHeader::kDone) | StreamHeader::kInQueue;
    }
    wake_.notify_all();
    return kOk;
}

int MidiStream::restart() {
    {
        std::lock_guard lock(mutex_);
        if (running_) return kOk;
        anchorTime_ = clock_.now();
        running_ = true;
    }
    wake_.notify_all();
    return kOk;
}

int MidiStream::pause() {
    std::lock_guard lock(mutex_);
    if (!running_) return kOk;
    const ClockTime now = clock_.now();
    reanchor(positionAt(now), now);
    running_ = false;
    return kOk;
}

int MidiStream::position(int64_t& ticks) const {
    std::lock_guard lock(mutex_);
    ticks = static_cast<int64_t>(std::floor(positionAt(clock_.now())));
    return kOk;
}

int MidiStream::reset() {
    {
        std::lock_guard lock(mutex_);
        port_->silence();
        for (StreamHeader* header : queue_) finishHeader(*header, true);
        queue_.clear();
        readWord_ = 0;
        running_ = false;
        lastEventTick_ = 0;
        reanchor(0, clock_.now());
    }
    wake_.notify_all();
    return kOk;
}

int MidiStream::shortMessage(uint32_t message) {
    if (messageDataLength(messageStatus(message)) == 0) return kInvalidParam;
    std::lock_guard lock(mutex_);
    port_->send(message & stream_event::kParameterMask, clock_.now());
    return kOk;
}

void MidiStream::schedule() {
    std::unique_lock lock(mutex_);
    while (!closing_) {
        if (!running_ || queue_.empty()) {
            clock_.waitUntil(lock, wake_, kForever);
            continue;
        }
        StreamHeader& header = *queue_.front();
        if (readWord_ + stream_event::kWordsPerEvent > header.wordsRecorded) {
            queue_.erase(queue_.begin());
            readWord_ = 0;
            finishHeader(header, true);
            continue;
        }
        const uint32_t* event = header.data + readWord_;
        const int64_t dueTick = lastEventTick_ + event[0];
        const ClockTime due = timeOfTick(static_cast<double>(dueTick));
        const ClockTime now = clock_.now();
        if (now < due) {
            // Tempo, division, a reset or new buffers may change what comes next: re-check.
            // A sleeping thread wakes a little late, so it sleeps until shortly before the
            // event and yields through the rest.
            if (!clock_.runsByItself() || due - now > kSpinWindow) {
                clock_.waitUntil(lock, wake_, clock_.runsByItself() ? due - kSpinWindow : due);
            } else {
                lock.unlock();
                std::this_thread::yield();
                lock.lock();
            }
            continue;
        }
        const uint32_t word = event[2];
        switch (eventType(word)) {
            case stream_event::kShortMessage:
                port_->send(word & stream_event::kParameterMask, due);
                break;
            case stream_event::kTempo:
                if ((word & stream_event::kParameterMask) != 0) {
                    // Anchored at the event's own time, so a late event does not shift the rest.
                    reanchor(static_cast<double>(dueTick), due);
                    tempo_ = static_cast<int32_t>(word & stream_event::kParameterMask);
                }
                break;
            default:
                break;
        }
        lastEventTick_ = dueTick;
        readWord_ += stream_event::kWordsPerEvent;
    }
}

}  // namespace varimel
