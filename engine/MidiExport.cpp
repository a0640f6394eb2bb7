#include "engine/MidiExport.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "alg/midi/midi_writer.h"
#include "engine/SafeWrite.h"
#include "engine/Tonality.h"

namespace varimel {

namespace {

constexpr int kDrumChannel = 9;

// One thing to write into a track, ordered by tick and then by rank, so that at one tick the
// settings come first and a note ends before the next one of the same key starts.
struct Item {
    int64_t tick;
    int rank;  // 0 settings and meta events, 1 note off, 2 note on
    size_t order;
    std::function<void(MidiFileWriter&, long)> write;
};

void writeItems(MidiFileWriter& writer, std::vector<Item>& items) {
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.rank < b.rank;
    });
    int64_t previous = 0;
    for (const Item& item : items) {
        item.write(writer, static_cast<long>(item.tick - previous));
        previous = item.tick;
    }
}

bool isPowerOfTwo(int value) {
    return value > 0 && (value & (value - 1)) == 0;
}

// Sequencers and notation programs show markers: each bar's chord name is one, at the bar's
// first tick (a muted bar has none). A file without a key signature gets the harmony's key.
void chordMarkers(const Composition& c, std::vector<Item>& items) {
    const MeterMap& meter = c.meterMap();
    for (size_t bar = 0; bar < c.chordTrack.size(); ++bar) {
        const ChordTrackEntry& entry = c.chordTrack[bar];
        if (!entry.enabled || !isValidKey(chordKey(entry.chord))) continue;
        std::string name = chordName(entry.chord, c.pieceKey());
        while (!name.empty() && name.back() == ' ') name.pop_back();
        items.push_back(
            {meter.tickOfBar(static_cast<int32_t>(bar)), 0, items.size(),
             [name](MidiFileWriter& w, long delta) { w.textEvent(delta, 0x06, name); }});
    }
    if (!c.keys.empty() && isValidKey(c.keys.front().key) &&
        !c.findEvent(event_kind::kKeySignature, 0, false)) {
        const KeySignature signature = keyToSignature(c.keys.front().key);
        items.push_back({0, 0, items.size(), [signature](MidiFileWriter& w, long delta) {
                             w.keySignature(delta, signature.sharpsFlats, signature.minor);
                         }});
    }
}

void conductorTrack(MidiFileWriter& writer, const Composition& c) {
    writer.beginTrack(-1);
    std::vector<Item> items;
    const MeterMap& meter = c.meterMap();
    if (!c.comment.empty()) {
        // Notation programs read a text event where a note starts as that note's lyric; the
        // comment goes after the last note ends, where none starts.
        int64_t end = 0;
        for (int list = 0; list < NoteTracks::kListCount; ++list)
            for (const NoteRecord& note : c.noteTracks().notes(list))
                end = std::max<int64_t>(end, meter.tickOfPosition(note.position) + note.duration);
        items.push_back({end, 0, items.size(), [&c](MidiFileWriter& w, long delta) {
                             w.textEvent(delta, 0x01, c.comment);
                         }});
    }
    for (const TrackEvent& event : c.conductorEvents.events()) {
        const int64_t tick = meter.tickOfPosition(event.position);
        const uint32_t value = static_cast<uint32_t>(event.value);
        const int b3 = static_cast<int>(value >> 24), b2 = static_cast<int>((value >> 16) & 0xFF);
        const int b1 = static_cast<int>((value >> 8) & 0xFF), b0 = static_cast<int>(value & 0xFF);
        switch (event.kind) {
            case event_kind::kTempo:
                if (event.value > 0 && event.value <= 0xFFFFFF) {
                    items.push_back({tick, 0, items.size(), [value](MidiFileWriter& w, long delta) {
                                         w.setTempo(delta, static_cast<long>(value));
                                     }});
                }
                break;
            case event_kind::kTimeSignature:
                if (b3 > 0 && isPowerOfTwo(b2)) {
                    items.push_back({tick, 0, items.size(), [=](MidiFileWriter& w, long delta) {
                                         w.timeSignature(delta, b3, b2, b1 ? b1 : 24, b0 ? b0 : 8);
                                     }});
                }
                break;
            case event_kind::kKeySignature: {
                const int sharpsFlats = static_cast<int8_t>(b3);
                if (sharpsFlats >= -7 && sharpsFlats <= 7 && b2 <= 1) {
                    items.push_back({tick, 0, items.size(), [=](MidiFileWriter& w, long delta) {
                                         w.keySignature(delta, sharpsFlats, b2);
                                     }});
                }
                break;
            }
            case event_kind::kSmpteOffset: {
                const int subframes = static_cast<int>(static_cast<uint32_t>(event.data) >> 24);
                items.push_back({tick, 0, items.size(), [=](MidiFileWriter& w, long delta) {
                                     w.smpteOffset(delta, 0, b3 & 0x1F, b2, b1, b0, subframes);
                                 }});
                break;
            }
            default:
                break;
        }
    }
    chordMarkers(c, items);
    writeItems(writer, items);
    writer.endTrack(0);
}

void channelTrack(MidiFileWriter& writer, const Composition& c, const ChannelSettings* channels,
                  int channel) {
    writer.beginTrack(channel);
    std::vector<Item> items;
    const std::string name = exportTrackName(channel);
    items.push_back({0, 0, items.size(),
                     [name](MidiFileWriter& w, long delta) { w.textEvent(delta, 0x03, name); }});
    if (channels) {
        const int program = channels->program[static_cast<size_t>(channel)] & 0x7F;
        const int volume = channels->volume[static_cast<size_t>(channel)] & 0x7F;
        if (channel != kDrumChannel) {
            items.push_back({0, 0, items.size(), [=](MidiFileWriter& w, long delta) {
                                 w.programChange(delta, channel, program);
                             }});
        }
        items.push_back({0, 0, items.size(), [=](MidiFileWriter& w, long delta) {
                             w.controller(delta, channel, 7, volume);
                         }});
    }

    const MeterMap& meter = c.meterMap();
    for (const TrackEvent& event : c.channelEvents.events()) {
        if ((event.kind & 0x0F) != channel) continue;
        const int64_t tick = meter.tickOfPosition(event.position);
        const int first = event.firstByte() & 0x7F;
        const int second = event.secondByte() & 0x7F;
        switch (event.kind & 0xF0) {
            case event_kind::kPolyPressure:
                items.push_back({tick, 0, items.size(), [=](MidiFileWriter& w, long delta) {
                                     w.polyPressure(delta, channel, first, second);
                                 }});
                break;
            case event_kind::kController:
                items.push_back({tick, 0, items.size(), [=](MidiFileWriter& w, long delta) {
                                     w.controller(delta, channel, first, second);
                                 }});
                break;
            case event_kind::kProgramChange:
                items.push_back({tick, 0, items.size(), [=](MidiFileWriter& w, long delta) {
                                     w.programChange(delta, channel, first);
                                 }});
                break;
            case event_kind::kChannelPressure:
                items.push_back({tick, 0, items.size(), [=](MidiFileWriter& w, long delta) {
                                     w.channelPressure(delta, channel, first);
                                 }});
                break;
            default:
                break;
        }
    }

    for (const NoteRecord& note : c.noteTracks().notes(channel)) {
        const int64_t start = meter.tickOfPosition(note.position);
        const int key = note.key & 0x7F;
        const int velocity = std::max((note.velocity >> 8) & 0x7F, 1);
        const int release = note.velocity & 0x7F;
        if (note.duration == 0) {
            // A note of no length ends right after its own start: its off sorted before the
            // on would leave it sounding until the key's next off.
            items.push_back({start, 2, items.size(), [=](MidiFileWriter& w, long delta) {
                                 w.noteOn(delta, channel, key, velocity);
                                 w.noteOff(0, channel, key, release);
                             }});
            continue;
        }
        items.push_back({start, 2, items.size(), [=](MidiFileWriter& w, long delta) {
                             w.noteOn(delta, channel, key, velocity);
                         }});
        items.push_back(
            {start + note.duration, 1, items.size(),
             [=](MidiFileWriter& w, long delta) { w.noteOff(delta, channel, key, release); }});
    }
    writeItems(writer, items);
    writer.endTrack(0);
}

}  // namespace

const char* exportTrackName(int channel) {
    switch (channel) {
        case 0:
            return "Melody";
        case 1:
            return "Accompaniment";
        case 2:
            return "Organ";
        case 3:
            return "Bass";
        case kDrumChannel:
            return "Drums";
        default:
            return "Notes";
    }
}

bool exportMidi(const Composition& composition, const ChannelSettings* channels,
                const std::string& fileName, std::string& error) {
    std::vector<int> noteChannels;
    for (int channel = 0; channel < NoteTracks::kListCount; ++channel) {
        if (composition.noteTracks().count(channel) > 0) noteChannels.push_back(channel);
    }
    // The writer patches what it wrote, so the file is made in memory and then written as a
    // whole, which also serves FIFOs and standard output.
    std::vector<std::uint8_t> bytes;
    int written = 0;
    try {
        MidiFileWriter writer(&bytes);
        writer.beginFile(1, static_cast<int>(noteChannels.size()) + 1,
                         composition.ticksPerQuarter > 0 ? composition.ticksPerQuarter : 480);
        conductorTrack(writer, composition);
        for (int channel : noteChannels) channelTrack(writer, composition, channels, channel);
        written = writer.close();
    } catch (const std::logic_error& violation) {
        error = violation.what();
        return false;
    }
    if (!written || bytes.empty()) {
        error = "cannot write " + fileName + ": write error (may be disk full)";
        return false;
    }
    return writeFileAtomically(
        fileName, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
        &error);
}

}  // namespace varimel
