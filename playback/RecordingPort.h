// RecordingPort: an output that keeps every message with the time it was meant for and the time
// it was sent, so that tests and benchmarks can check what the player played, and when.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "playback/Clock.h"
#include "playback/OutputPort.h"

namespace varimel {

struct RecordedMessage {
    ClockTime due = 0;
    ClockTime sent = 0;
    uint32_t message = 0;  // short message; 0 for a silence
    bool silence = false;  // the output was silenced (a reset)
};

// The log a recording port writes; it outlives the port, which the stream owns and closes.
class Recording {
  public:
    explicit Recording(std::size_t reserve = 0);

    void add(const RecordedMessage& entry);
    std::vector<RecordedMessage> messages() const;
    std::size_t size() const;
    void clear();

    // Waits (real time) until `done` holds for the log; false on time-out.
    bool waitFor(const std::function<bool(const std::vector<RecordedMessage>&)>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<RecordedMessage> messages_;
};

class RecordingPort final : public OutputPort {
  public:
    RecordingPort(std::shared_ptr<Recording> recording, Clock& clock)
        : recording_(std::move(recording)), clock_(clock) {}

    void send(uint32_t message, ClockTime due) override;
    void silence() override;

  private:
    std::shared_ptr<Recording> recording_;
    Clock& clock_;
};

}  // namespace varimel
