// ChordToneTable: what each chord-tone selector of a pattern means over one chord, and the few
// helpers the style and arrangement renderers share (chord lookup, pitch range, beat remapping).
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "accompaniment/PatternFiles.h"
#include "engine/Apperr.h"

namespace varimel {

inline constexpr int kSelectorCount = 7;
inline constexpr int kNoTone = -1;

// Seven slots indexed by selector - 1, each a pitch class (or a pitch class + 12) or -1.
// Selector 1 is the root, 3 the third, 4 and 5 the fifth, 6 and 7 the fourth chord tone (the
// root an octave up in a triad); selector 2 has no tone.
struct ChordToneTable {
    std::array<int8_t, kSelectorCount> slots{kNoTone, kNoTone, kNoTone, kNoTone,
                                             kNoTone, kNoTone, kNoTone};

    // Slot 1: the root when some event uses selector 1, else -1. Tones below it are played an
    // octave higher, so the voicing stands on the root.
    int firstTone() const { return slots[0]; }
    // The tone of a selector (sign ignored); -1 for selectors 0, 2, above 7 and for tones the
    // chord does not have.
    int tone(int selector) const;
};

// Bit s - 1 set for every selector s (1..7) that some event uses.
uint8_t selectorsUsed(std::span<const PatternEvent> events);

// Only the slots of selectors in `selectorMask` are filled, as the pattern asks for them. A
// chord with fewer tones than a selector needs leaves that slot at -1.
ChordToneTable buildChordToneTable(ChordCode chord, uint8_t selectorMask);
inline ChordToneTable buildChordToneTable(ChordCode chord, std::span<const PatternEvent> events) {
    return buildChordToneTable(chord, selectorsUsed(events));
}

// The chord of a bar when the bar is enabled and has one; -1 for a muted bar, a bar without
// chord and a bar outside the track.
ChordCode playableChord(std::span<const ChordTrackEntry> chords, int32_t bar);
bool barEnabled(std::span<const ChordTrackEntry> chords, int32_t bar);

// Folds a computed pitch into the MIDI range by octaves, so a low octave byte or a raised tone
// near the top never sends a data byte with its high bit set.
uint8_t foldPitch(int pitch);

// Duration in ticks of a bar's held chord: the bar less 10 ticks, so repeated chords re-strike.
uint16_t heldChordDuration(const MeterMap& meterMap, int32_t bar);

// A pattern position remapped to the target meter and scaled to the target's ticks. The
// beat ratio is target numerator / pattern numerator; tickScale is target ppq / pattern ppq.
struct PatternTiming {
    double beatRatio = 1.0;
    float tickScale = 1.0f;
    int ppq = 0;
    int meterDen = 0;
};
SongPosition placeEvent(const PatternEvent& event, int32_t firstBar, const PatternTiming& timing);
uint16_t scaledDuration(const PatternEvent& event, const PatternTiming& timing);

// Gives a scratch meter map (one without segments) the pattern's meter from bar 0, in 480 ticks
// a quarter or in the pattern's own `ppq`.
void prepareScratchMeter(MeterMap& meterMap, int numerator, int denominator, int ppq = 480);

}  // namespace varimel
