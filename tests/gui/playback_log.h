// Reading what the player sent, from a recording: the melody's note-ons and their keys, and
// whether a channel message went out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "playback/RecordingPort.h"

namespace varimel {

inline bool isNoteOn(uint32_t message, int channel) {
    return (message & 0xF0) == 0x90 && static_cast<int>(message & 0x0F) == channel &&
           ((message >> 16) & 0x7F) > 0;
}

inline int keyOf(uint32_t message) {
    return static_cast<int>((message >> 8) & 0x7F);
}

// The melody's note-ons among the messages from `from` on.
inline std::vector<RecordedMessage> melodyNotes(const std::vector<RecordedMessage>& all,
                                                std::size_t from) {
    std::vector<RecordedMessage> notes;
    for (std::size_t i = from; i < all.size(); ++i) {
        if (isNoteOn(all[i].message, 0)) notes.push_back(all[i]);
    }
    return notes;
}

// Whether a message with this status byte and first data byte (and second, unless -1) was sent.
inline bool wasSent(const std::vector<RecordedMessage>& log, uint32_t status, uint32_t data1,
                    int data2 = -1) {
    for (const RecordedMessage& m : log) {
        if ((m.message & 0xFF) == status && ((m.message >> 8) & 0x7F) == data1 &&
            (data2 < 0 || ((m.message >> 16) & 0x7F) == static_cast<uint32_t>(data2)))
            return true;
    }
    return false;
}

}  // namespace varimel
