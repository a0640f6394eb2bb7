// SmfWalker: a small, strict decoder of Standard MIDI File bytes for tests, independent of the
// program's reader, so that tests can look at what a writer or fixture really contains.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varimel::test {

struct SmfEvent {
    std::int64_t tick = 0;    // absolute, within its track
    std::uint8_t status = 0;  // the status in force (running status resolved); 0xFF for meta
    std::uint8_t metaType = 0;
    std::vector<std::uint8_t> data;  // channel message data bytes, or the meta/sysex payload
    bool statusWasOmitted = false;   // written with running status
    bool isMeta() const { return status == 0xFF; }
    int channel() const { return status < 0xF0 ? status & 0x0F : -1; }
    int kind() const { return status < 0xF0 ? status & 0xF0 : status; }
};

struct SmfTrack {
    std::vector<SmfEvent> events;  // the final end-of-track event included
};

struct SmfNote {
    std::int64_t startTick = 0;
    std::int64_t durationTicks = 0;
    int track = 0;  // index of the track chunk
    int channel = 0;
    int key = 0;
    int velocity = 0;
    int releaseVelocity = 0;
};

struct SmfFile {
    int format = 0;
    int division = 0;
    std::vector<SmfTrack> tracks;

    // Note on/off pairs, a note on with velocity 0 counting as a note off; ordered by start,
    // then track, then the order of the note ons. A key struck again before its release is
    // paired first in, first out.
    std::vector<SmfNote> notes() const;
    // Meta events of one type from every track, ordered by tick.
    std::vector<SmfEvent> metas(std::uint8_t type) const;
};

struct SmfWalk {
    std::optional<SmfFile> file;
    std::string error;  // why the bytes are not a well-formed file
};

SmfWalk walkSmf(const std::vector<std::uint8_t>& bytes);

}  // namespace varimel::test
