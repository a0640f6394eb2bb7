// OutputPort: where the MIDI stream's messages go — the built-in synthesiser, an ALSA sequencer
// port, or a recording for tests. The stream calls a port from one thread at a time.
#pragma once

#include <cstdint>

#include "playback/Clock.h"

namespace varimel {

// A short message packs status | data1 << 8 | data2 << 16.
constexpr uint32_t shortMessage(int status, int data1, int data2) {
    return static_cast<uint32_t>(status & 0xFF) | static_cast<uint32_t>(data1 & 0x7F) << 8 |
           static_cast<uint32_t>(data2 & 0x7F) << 16;
}
constexpr int messageStatus(uint32_t message) {
    return static_cast<int>(message & 0xFF);
}
constexpr int messageData1(uint32_t message) {
    return static_cast<int>((message >> 8) & 0x7F);
}
constexpr int messageData2(uint32_t message) {
    return static_cast<int>((message >> 16) & 0x7F);
}

// Data bytes that follow a status byte (channel messages only; 0 for anything else).
constexpr int messageDataLength(int status) {
    switch (status & 0xF0) {
        case 0xC0:
        case 0xD0:
            return 1;
        case 0x80:
        case 0x90:
        case 0xA0:
        case 0xB0:
        case 0xE0:
            return 2;
        default:
            return 0;
    }
}

class OutputPort {
  public:
    virtual ~OutputPort() = default;
    // Sounds one short message now. `due` is when the stream meant it to sound (the port's
    // clock time); real ports ignore it, the recording keeps it to measure lateness.
    virtual void send(uint32_t message, ClockTime due) = 0;
    // Every sounding note stops at once, on every channel.
    virtual void silence() = 0;
};

}  // namespace varimel
