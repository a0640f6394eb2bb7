// Composition: the one document — melody notes, meter, the file's non-note events, the
// recognised key, the per-bar harmony and the accompaniment settings. Also the program's
// error-reporting functions, which are the only part of the engine that throws.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/ChannelSettings.h"
#include "engine/ChordCode.h"
#include "engine/Midi_tnotes.h"
#include "engine/Status.h"
#include "engine/Wctpu.h"

namespace varimel {

class Style;
class Arrangement;

// Event kinds of the conductor list; the channel list uses the status nibble + channel.
namespace event_kind {
inline constexpr uint8_t kTempo = 81;
inline constexpr uint8_t kSmpteOffset = 84;
inline constexpr uint8_t kTimeSignature = 88;
inline constexpr uint8_t kKeySignature = 89;
inline constexpr uint8_t kPolyPressure = 0xA0;
inline constexpr uint8_t kController = 0xB0;
inline constexpr uint8_t kProgramChange = 0xC0;
inline constexpr uint8_t kChannelPressure = 0xD0;
}  // namespace event_kind

// Document state bits; the main window asks the masks.
namespace state_flag {
inline constexpr uint8_t kKeyChanged = 1;
inline constexpr uint8_t kHarmonySettingsChanged = 2;
inline constexpr uint8_t kMelodyLoaded = 4;
inline constexpr uint8_t kAccompanimentModeChanged = 8;
inline constexpr uint8_t kContentChanged = 16;
inline constexpr uint8_t kNeedsHarmony = 7;
inline constexpr uint8_t kNeedsSave = 27;
}  // namespace state_flag

// Key marks written by key recognition, one per KeyIndex.
namespace key_mark {
inline constexpr uint8_t kUnused = 0;
inline constexpr uint8_t kMet = 1;
inline constexpr uint8_t kSubdominant = 2;
inline constexpr uint8_t kDominant = 3;
inline constexpr uint8_t kMain = 4;
}  // namespace key_mark

// A non-note event with a packed value: bits 31..24, 23..16, 15..8, 7..0 hold up to four bytes.
struct TrackEvent {
    uint8_t kind = 0;
    int32_t value = 0;
    int32_t data = 0;
    SongPosition position;

    int firstByte() const { return static_cast<int>((static_cast<uint32_t>(value) >> 24) & 0xFF); }
    int secondByte() const { return static_cast<int>((static_cast<uint32_t>(value) >> 16) & 0xFF); }
    friend bool operator==(const TrackEvent&, const TrackEvent&) = default;
};

inline int32_t packEventValue(int b3, int b2 = 0, int b1 = 0, int b0 = 0) {
    return static_cast<int32_t>(
        (static_cast<uint32_t>(b3 & 0xFF) << 24) | (static_cast<uint32_t>(b2 & 0xFF) << 16) |
        (static_cast<uint32_t>(b1 & 0xFF) << 8) | static_cast<uint32_t>(b0 & 0xFF));
}

// A growable array of events that grows by a fixed step; a failed growth sets `status`
// and leaves the list unchanged.
class EventList {
  public:
    static constexpr int32_t kGrowthStep = 5;

    explicit EventList(int32_t capacity = 5);

    int32_t count() const { return static_cast<int32_t>(events_.size()); }
    int32_t capacity() const { return capacity_; }
    uint8_t status = 0;

    const TrackEvent& operator[](int32_t index) const {
        return events_[static_cast<size_t>(index)];
    }
    TrackEvent& operator[](int32_t index) { return events_[static_cast<size_t>(index)]; }
    const std::vector<TrackEvent>& events() const { return events_; }

    bool insert(int32_t index, const TrackEvent& event);
    bool append(const TrackEvent& event) { return insert(count(), event); }
    void remove(int32_t index);
    void clear() { events_.clear(); }
    // Growth step used by append-heavy callers that grow by 10 instead of 5.
    void setGrowthStep(int32_t step) { growthStep_ = step > 0 ? step : kGrowthStep; }

  private:
    std::vector<TrackEvent> events_;
    int32_t capacity_ = 0;
    int32_t growthStep_ = kGrowthStep;
};

struct KeyRecord {
    int16_t key = 0;
    int16_t reserved1 = 0;
    int16_t reserved2 = 0;
    friend bool operator==(const KeyRecord&, const KeyRecord&) = default;
};

// The harmony of one bar: chosen chords first, then further candidates.
struct HarmonySlot {
    uint8_t mainCount = 0;
    uint8_t extraCount = 0;
    std::array<ChordCode, 12> candidates{};
    int8_t cadenceKind = 0;  // 0 none, 1 held bar, 2.. cadence rule + 1, -1 bar without onsets
    uint8_t spare = 0;
    friend bool operator==(const HarmonySlot&, const HarmonySlot&) = default;
};

struct ChordTrackEntry {
    ChordCode chord = kNoChord;
    uint8_t enabled = 1;
    int32_t extra = -1;  // entry 0 carries the composition's style identifier
    friend bool operator==(const ChordTrackEntry&, const ChordTrackEntry&) = default;
};

// Accompaniment parts (bit set): exactly 1 = block chords only, 2 = style, 4 = arrangement.
namespace accompaniment_part {
inline constexpr uint32_t kBlockChords = 1;
inline constexpr uint32_t kStyle = 2;
inline constexpr uint32_t kArrangement = 4;
}  // namespace accompaniment_part

// Key signature <-> KeyIndex. Signatures of 5..7 accidentals fold onto the enharmonic keys, so
// every signature reads back to the key it was written from.
struct KeySignature {
    int sharpsFlats = 0;
    int minor = 0;
};
KeySignature keyToSignature(KeyIndex key);
KeyIndex signatureToKey(int sharpsFlats, int minor);

class Composition {
  public:
    static constexpr int32_t kDefaultTempo = 500000;
    static constexpr int16_t kDefaultTicksPerQuarter = 480;
    static constexpr int32_t kInitialNoteCapacity = 50;

    Composition();
    ~Composition();
    Composition(const Composition&) = delete;
    Composition& operator=(const Composition&) = delete;

    void clearDerived();

    void setStateFlags(uint8_t mask, bool set);
    bool testStateFlags(uint8_t mask) const { return (stateFlags & mask) != 0; }
    uint32_t setAccompanimentParts(uint32_t bits);

    // Event access. `firstByte` 0 matches any value.
    TrackEvent* findEvent(uint8_t kind, int32_t firstByte, bool inChannelList);
    const TrackEvent* findEvent(uint8_t kind, int32_t firstByte, bool inChannelList) const;
    void setEvent(uint8_t kind, int32_t firstByte, int32_t value, int32_t data, bool inChannelList,
                  int32_t tick);
    // Kind 81: tempo (or arg * 1000000 / tempo when arg != 0); 88: meter into first/second;
    // 89: signature into first/second, returns its KeyIndex; other kinds: a channel event's byte.
    int32_t eventValue(uint8_t kind, int32_t arg, int* first = nullptr,
                       int* second = nullptr) const;
    void retuneMelodyChannel(int channel, int newChannel);
    void trimConductorEvents();

    StatusCode analyseMelody(int melodyRow, bool retune);
    void buildChordTrack();

    NoteTracks& noteTracks() { return *notes; }
    const NoteTracks& noteTracks() const { return *notes; }
    MeterMap& meterMap() { return notes->meterMap(); }
    const MeterMap& meterMap() const { return notes->meterMap(); }
    bool hasChordTrack() const { return !chordTrack.empty(); }
    // The style identifier lives in the chord track's first entry.
    int32_t styleId() const { return chordTrack.empty() ? -1 : chordTrack.front().extra; }
    // The key the piece is written in: the recognised one, else the file's signature; chord
    // names are spelled for it.
    KeyIndex pieceKey() const {
        if (!keys.empty() && isValidKey(keys.front().key)) return keys.front().key;
        return isValidKey(fileKey) ? fileKey : kNoKey;
    }

    uint8_t stateFlags = 0;
    int32_t tempo = kDefaultTempo;
    uint8_t fileFormat = 1;
    uint16_t trackCount = 0;
    int16_t ticksPerQuarter = kDefaultTicksPerQuarter;
    // The MIDI file held a usable time signature (the conductor list may have lost it since,
    // when a melody without notes had its trailing conductor events trimmed).
    bool meterFromFile = false;
    std::unique_ptr<NoteTracks> notes;
    EventList conductorEvents;
    EventList channelEvents;
    ChannelSettings* channelSettings = nullptr;  // the open document's, not owned
    std::array<uint8_t, 24> keyMarks{};
    std::vector<HarmonySlot> slots;
    std::vector<ChordTrackEntry> chordTrack;
    int32_t barCountAtAnalysis = 0;
    std::vector<int32_t> firstNoteOfBar;  // read by the note tracks as their bar index
    int32_t barCount = 0;
    const Style* style = nullptr;
    std::vector<int16_t> partPlan;
    const Arrangement* arrangement = nullptr;
    int32_t arrangementId = -1;
    uint32_t accompanimentParts = 0;
    uint32_t previousParts = 0;
    std::unique_ptr<std::array<int32_t, 240>> keyStatistics;
    int8_t fileKey = -1;
    int8_t currentKey = -1;
    int8_t accompanimentOctave = -1;
    std::vector<KeyRecord> keys;
    int32_t keyCount() const { return static_cast<int32_t>(keys.size()); }
    StatusCode analysisStatus = 0;
    std::string comment;
    int32_t commentLength() const { return static_cast<int32_t>(comment.size()); }

  private:
    EventList& list(bool inChannelList) { return inChannelList ? channelEvents : conductorEvents; }
    const EventList& list(bool inChannelList) const {
        return inChannelList ? channelEvents : conductorEvents;
    }
};

// --- Error reporting -------------------------------------------------------------------------

// The text exceptions of the program: MIDI output and system errors. Caught at the player
// thread's boundary and shown to the user.
class AppError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct LastError {
    int general = 0;
    int midi = 0;
};
LastError lastError();

// Shows a short message to the user (the GUI installs a message box; default: standard error).
void setMessageHandler(std::function<void(const std::string&)> handler);
// Gives the text of a MIDI output result code (installed by the playback layer).
void setMidiErrorTextProvider(std::function<std::string(int)> provider);

void reportError(int code);
void raiseSystemError(bool ok);
void raiseMidiError(int result);

}  // namespace varimel
