// The melody's own Standard MIDI File encoder: a conductor track of meta events, one track per
// voice, note on/off pairs. Deliberately tiny and independent of the program's writer.
#include <algorithm>
#include <stdexcept>
#include <string>

#include "melodytext/melodytext.h"

namespace varimel::melodytext {
namespace {

// Events at the same tick are written in this order: names and conductor metas first, so a
// reader knows the meter before the notes; note offs before note ons, so a repeated key is
// released before it is struck again; the off of a zero-length note after its own on.
enum EventRank : int {
    RankName = 0,
    RankMeta = 1,
    RankProgram = 2,
    RankNoteOff = 3,
    RankNoteOn = 4,
    RankZeroLengthOff = 5,
};

struct Event {
    std::int64_t tick = 0;
    int rank = 0;
    std::size_t sequence = 0;  // keeps the order of insertion among equals (chord notes)
    std::vector<std::uint8_t> bytes;
};

constexpr std::uint8_t kMeta = 0xFF;
constexpr std::uint8_t kMetaTrackName = 0x03;
constexpr std::uint8_t kMetaEndOfTrack = 0x2F;
constexpr std::uint8_t kMetaTempo = 0x51;
constexpr std::uint8_t kMetaTimeSignature = 0x58;
constexpr std::uint8_t kMetaKeySignature = 0x59;
constexpr std::uint8_t kNoteOff = 0x80;
constexpr std::uint8_t kNoteOn = 0x90;
constexpr std::uint8_t kProgramChange = 0xC0;
constexpr std::uint32_t kLargestDelta = 0x0FFFFFFF;  // four bytes of variable-length quantity

void require(bool condition, const std::string& what) {
    if (!condition) throw std::invalid_argument("encodeSmf: " + what);
}

void appendVariableLength(std::vector<std::uint8_t>& out, std::uint32_t value) {
    std::uint8_t groups[4];
    int count = 0;
    do {
        groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 1) out.push_back(static_cast<std::uint8_t>(groups[--count] | 0x80));
    out.push_back(groups[0]);
}

void appendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
}

std::vector<std::uint8_t> metaEvent(std::uint8_t type, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> bytes{kMeta, type};
    appendVariableLength(bytes, static_cast<std::uint32_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

std::vector<std::uint8_t> nameEvent(const std::string& name) {
    return metaEvent(kMetaTrackName, std::vector<std::uint8_t>(name.begin(), name.end()));
}

int exponentOfTwo(int value) {
    int exponent = 0;
    while ((1 << exponent) < value) ++exponent;
    return exponent;
}

std::vector<std::uint8_t> timeSignatureEvent(const TimeSignature& meter) {
    require(meter.numerator >= 1 && meter.numerator <= 255, "time signature numerator");
    const int exponent = exponentOfTwo(meter.denominator);
    require(meter.denominator >= 1 && (1 << exponent) == meter.denominator && exponent <= 6,
            "time signature denominator must be a power of two up to 64");
    // MIDI clocks (24 per quarter) per metronome click: one click per beat, or per dotted beat
    // in compound meters (6/8, 9/8, 12/8), as the MIDI file standard's own 6/8 example does.
    int clocksPerClick = 96 / meter.denominator;
    if (meter.denominator >= 8 && meter.numerator % 3 == 0 && meter.numerator > 3)
        clocksPerClick *= 3;
    return metaEvent(
        kMetaTimeSignature,
        {static_cast<std::uint8_t>(meter.numerator), static_cast<std::uint8_t>(exponent),
         static_cast<std::uint8_t>(std::clamp(clocksPerClick, 1, 255)), 8});
}

class TrackBuilder {
  public:
    void add(std::int64_t tick, int rank, std::vector<std::uint8_t> bytes) {
        require(tick >= 0, "negative time");
        events_.push_back(Event{tick, rank, events_.size(), std::move(bytes)});
    }
    void addAll(const TrackBuilder& other) {
        for (const Event& event : other.events_)
            events_.push_back(Event{event.tick, event.rank, events_.size(), event.bytes});
    }
    std::int64_t lastTick() const {
        std::int64_t last = 0;
        for (const Event& event : events_) last = std::max(last, event.tick);
        return last;
    }

    std::vector<std::uint8_t> chunk(std::int64_t endTick, bool runningStatus) {
        std::stable_sort(events_.begin(), events_.end(), [](const Event& a, const Event& b) {
            if (a.tick != b.tick) return a.tick < b.tick;
            if (a.rank != b.rank) return a.rank < b.rank;
            return a.sequence < b.sequence;
        });
        std::vector<std::uint8_t> body;
        std::int64_t previousTick = 0;
        int status = -1;
        auto writeDelta = [&](std::int64_t tick) {
            const std::int64_t delta = tick - previousTick;
            require(delta <= kLargestDelta, "gap between events too large for a delta time");
            appendVariableLength(body, static_cast<std::uint32_t>(delta));
            previousTick = tick;
        };
        for (const Event& event : events_) {
            writeDelta(event.tick);
            const bool channelMessage = event.bytes[0] < 0xF0;
            const bool omitStatus = runningStatus && channelMessage && event.bytes[0] == status;
            body.insert(body.end(), event.bytes.begin() + (omitStatus ? 1 : 0), event.bytes.end());
            // Meta and system exclusive events cancel running status in a file.
            status = channelMessage ? event.bytes[0] : -1;
        }
        writeDelta(std::max(endTick, previousTick));
        body.insert(body.end(), {kMeta, kMetaEndOfTrack, 0x00});

        std::vector<std::uint8_t> out{'M', 'T', 'r', 'k'};
        appendBigEndian(out, static_cast<std::uint32_t>(body.size()), 4);
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }

  private:
    std::vector<Event> events_;
};

TrackBuilder conductorEvents(const Melody& melody) {
    TrackBuilder conductor;
    if (!melody.title.empty()) conductor.add(0, RankName, nameEvent(melody.title));
    for (const MeterChange& change : melody.meters)
        conductor.add(change.tick, RankMeta, timeSignatureEvent(change.meter));
    if (melody.key) {
        require(melody.key->sharpsOrFlats >= -7 && melody.key->sharpsOrFlats <= 7,
                "key signature outside -7..7");
        conductor.add(0, RankMeta,
                      metaEvent(kMetaKeySignature,
                                {static_cast<std::uint8_t>(melody.key->sharpsOrFlats & 0xFF),
                                 static_cast<std::uint8_t>(melody.key->minor ? 1 : 0)}));
    }
    if (melody.microsecondsPerQuarter) {
        const int tempo = *melody.microsecondsPerQuarter;
        require(tempo >= 1 && tempo <= 0xFFFFFF, "tempo outside one 24-bit value");
        std::vector<std::uint8_t> data;
        appendBigEndian(data, static_cast<std::uint32_t>(tempo), 3);
        conductor.add(0, RankMeta, metaEvent(kMetaTempo, data));
    }
    return conductor;
}

TrackBuilder voiceEvents(const Melody& melody, const Track& track) {
    require(track.channel >= 0 && track.channel <= 15, "channel outside 0..15");
    const auto channel = static_cast<std::uint8_t>(track.channel);
    TrackBuilder voice;
    if (!track.name.empty()) voice.add(0, RankName, nameEvent(track.name));
    if (track.program) {
        require(*track.program >= 0 && *track.program <= 127, "program outside 0..127");
        voice.add(0, RankProgram,
                  {static_cast<std::uint8_t>(kProgramChange | channel),
                   static_cast<std::uint8_t>(*track.program)});
    }
    std::vector<Note> notes = track.notes;
    std::stable_sort(notes.begin(), notes.end(),
                     [](const Note& a, const Note& b) { return a.startTick < b.startTick; });
    for (const Note& note : notes) {
        require(note.key >= 0 && note.key <= 127, "key outside 0..127");
        require(note.velocity >= 1 && note.velocity <= 127, "velocity outside 1..127");
        require(note.durationTicks >= 0, "negative duration");
        const auto key = static_cast<std::uint8_t>(note.key);
        voice.add(note.startTick, RankNoteOn,
                  {static_cast<std::uint8_t>(kNoteOn | channel), key,
                   static_cast<std::uint8_t>(note.velocity)});
        const int offRank = note.durationTicks == 0 ? RankZeroLengthOff : RankNoteOff;
        if (melody.noteOff == NoteOffStyle::ZeroVelocityNoteOn)
            voice.add(note.startTick + note.durationTicks, offRank,
                      {static_cast<std::uint8_t>(kNoteOn | channel), key, 0});
        else
            voice.add(note.startTick + note.durationTicks, offRank,
                      {static_cast<std::uint8_t>(kNoteOff | channel), key,
                       static_cast<std::uint8_t>(melody.releaseVelocity)});
    }
    return voice;
}

}  // namespace

std::vector<std::uint8_t> encodeSmf(const Melody& melody) {
    require(melody.format == 0 || melody.format == 1, "only formats 0 and 1 are written");
    // The top bit of the division selects SMPTE timing, which these melodies never use.
    require(melody.division >= 1 && melody.division <= 0x7FFF, "division outside 1..32767");
    require(melody.releaseVelocity >= 0 && melody.releaseVelocity <= 127,
            "release velocity outside 0..127");

    TrackBuilder conductor = conductorEvents(melody);
    std::vector<TrackBuilder> voices;
    std::int64_t pieceEnd = conductor.lastTick();
    for (const Track& track : melody.tracks) {
        voices.push_back(voiceEvents(melody, track));
        pieceEnd = std::max({pieceEnd, track.endTick, voices.back().lastTick()});
    }

    std::vector<std::vector<std::uint8_t>> chunks;
    if (melody.format == 0) {
        TrackBuilder merged = conductor;
        for (const TrackBuilder& voice : voices) merged.addAll(voice);
        chunks.push_back(merged.chunk(pieceEnd, melody.runningStatus));
    } else {
        chunks.push_back(conductor.chunk(pieceEnd, melody.runningStatus));
        for (std::size_t i = 0; i < voices.size(); ++i) {
            const std::int64_t end = std::max(melody.tracks[i].endTick, voices[i].lastTick());
            chunks.push_back(voices[i].chunk(end, melody.runningStatus));
        }
    }
    require(chunks.size() <= 0xFFFF, "too many tracks");

    std::vector<std::uint8_t> file{'M', 'T', 'h', 'd', 0, 0, 0, 6};
    appendBigEndian(file, static_cast<std::uint32_t>(melody.format), 2);
    appendBigEndian(file, static_cast<std::uint32_t>(chunks.size()), 2);
    appendBigEndian(file, static_cast<std::uint32_t>(melody.division), 2);
    for (const auto& chunk : chunks) file.insert(file.end(), chunk.begin(), chunk.end());
    return file;
}

}  // namespace varimel::melodytext
