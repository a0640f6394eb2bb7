#include "accompaniment/ChordToneTable.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/Tonality.h"

namespace varimel {

namespace {

constexpr int kOctave = 12;
constexpr int kHeldChordGap = 10;
constexpr int kHighestPitch = 127;
constexpr int kMaxTick = 0xFFFF;

int selectorOf(int8_t tone) {
    return std::abs(static_cast<int>(tone));
}

}  // namespace

int ChordToneTable::tone(int selector) const {
    selector = std::abs(selector);
    if (selector < 1 || selector > kSelectorCount) return kNoTone;
    return slots[static_cast<size_t>(selector - 1)];
}

uint8_t selectorsUsed(std::span<const PatternEvent> events) {
    uint8_t mask = 0;
    for (const PatternEvent& event : events) {
        const int selector = selectorOf(event.tone);
        if (selector >= 1 && selector <= kSelectorCount) mask |= uint8_t(1u << (selector - 1));
    }
    return mask;
}

ChordToneTable buildChordToneTable(ChordCode chord, uint8_t selectorMask) {
    ChordToneTable table;
    if (chord < 0) return table;
    const ChordTones tones = chordTones(chordKey(chord), chordType(chord), 0);
    auto toneAt = [&](int index) { return index < tones.count ? tones[index] : kNoTone; };
    auto uses = [&](int selector) { return (selectorMask & (1u << (selector - 1))) != 0; };
    auto fill = [&](int selector, int value) {
        table.slots[static_cast<size_t>(selector - 1)] = static_cast<int8_t>(value);
    };

    if (uses(1)) fill(1, toneAt(0));
    if (uses(3)) fill(3, toneAt(1));
    if (uses(4) || uses(5)) {
        fill(4, toneAt(2));
        fill(5, toneAt(2));
    }
    if (uses(6) || uses(7)) {
        // A triad has no fourth tone: its root an octave up takes the place.
        const int fourth = tones.count >= 4   ? toneAt(3)
                           : tones.count >= 1 ? toneAt(0) + kOctave
                                              : kNoTone;
        fill(6, fourth);
        fill(7, fourth);
    }
    return table;
}

ChordCode playableChord(std::span<const ChordTrackEntry> chords, int32_t bar) {
    if (bar < 0 || static_cast<size_t>(bar) >= chords.size()) return kNoChord;
    const ChordTrackEntry& entry = chords[static_cast<size_t>(bar)];
    return entry.enabled != 0 && entry.chord >= 0 ? entry.chord : kNoChord;
}

bool barEnabled(std::span<const ChordTrackEntry> chords, int32_t bar) {
    return bar >= 0 && static_cast<size_t>(bar) < chords.size() &&
           chords[static_cast<size_t>(bar)].enabled != 0;
}

uint8_t foldPitch(int pitch) {
    while (pitch < 0) pitch += kOctave;
    while (pitch > kHighestPitch) pitch -= kOctave;
    return static_cast<uint8_t>(pitch);
}

uint16_t heldChordDuration(const MeterMap& meterMap, int32_t bar) {
    const int32_t ticks = meterMap.ticksPerBar(bar) - kHeldChordGap;
    return static_cast<uint16_t>(std::clamp(ticks, 1, kMaxTick));
}

SongPosition placeEvent(const PatternEvent& event, int32_t firstBar, const PatternTiming& timing) {
    SongPosition position;
    position.bar = static_cast<uint16_t>(firstBar + event.bar);
    int beat = event.beat;
    double tick = event.tick;
    if (timing.beatRatio != 1.0) {
        const double x = beat * timing.beatRatio;
        const double whole = std::floor(x);
        beat = static_cast<int>(whole);
        tick =
            std::trunc(timing.ppq * (x - whole) * 4.0 / timing.meterDen / timing.beatRatio + tick);
    }
    const float scaled = std::trunc(static_cast<float>(tick) * timing.tickScale);
    position.beat = static_cast<uint8_t>(beat);
    // Ticks past 16 bits only come from damaged patterns; they stop at the field's limit.
    position.tick = static_cast<uint16_t>(std::clamp(scaled, 0.0f, static_cast<float>(kMaxTick)));
    return position;
}

uint16_t scaledDuration(const PatternEvent& event, const PatternTiming& timing) {
    const float scaled = std::trunc(static_cast<float>(event.duration) * timing.tickScale);
    // A note needs at least one tick so that its note-off follows its note-on.
    return static_cast<uint16_t>(std::clamp(scaled, 1.0f, static_cast<float>(kMaxTick)));
}

void prepareScratchMeter(MeterMap& meterMap, int numerator, int denominator, int ppq) {
    meterMap.ticksPerWhole = ppq * 4;
    meterMap.shortestNote = meterMap.ticksPerWhole / 16;
    meterMap.sixteenth = meterMap.ticksPerWhole / 16;
    meterMap.ticksPerQuarter = meterMap.ticksPerWhole / 4;
    meterMap.addSegment(0, numerator, denominator);
}

}  // namespace varimel
