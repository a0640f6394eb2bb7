#include "playback/RecordingPort.h"

namespace varimel {

Recording::Recording(std::size_t reserve) {
    messages_.reserve(reserve);
}

void Recording::add(const RecordedMessage& entry) {
    {
        std::lock_guard lock(mutex_);
        messages_.push_back(entry);
    }
    changed_.notify_all();
}

std::vector<RecordedMessage> Recording::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::size_t Recording::size() const {
    std::lock_guard lock(mutex_);
    return messages_.size();
}

void Recording::clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

bool Recording::waitFor(const std::function<bool(const std::vector<RecordedMessage>&)>& done,
                        std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(messages_); });
}

void RecordingPort::send(uint32_t message, ClockTime due) {
    recording_->add({due, clock_.now(), message, false});
}

void RecordingPort::silence() {
    const ClockTime now = clock_.now();
    recording_->add({now, now, 0, true});
}

}  // namespace varimel
