// StyleRenderer: turns the chord track into accompaniment notes on list 1 — block chords, or a
// style's pattern replayed bar after bar — and runs the renderers the accompaniment mode asks
// for before every playback start.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "accompaniment/PatternFiles.h"
#include "engine/Apperr.h"

namespace varimel {

// Note lists of the accompaniment parts (channels counted from 0; 9 is the GM drum channel).
namespace accompaniment_list {
inline constexpr int kMelody = 0;
inline constexpr int kChords = 1;
inline constexpr int kOrgan = 2;
inline constexpr int kBass = 3;
inline constexpr int kDrums = 9;
}  // namespace accompaniment_list

// Velocity words: note-on velocity << 8 | note-off velocity.
inline constexpr uint16_t kHeldChordVelocity = 0x6464;

// Empties lists 1, 2, 3 and 9 and renders the parts of `accompanimentParts`: block chords when
// it is exactly 1, else the arrangement (bit 4) and then the style (bit 2). Answers the notes
// the last renderer produced; 0, lists untouched, without a chord track.
int renderAccompaniment(Composition& composition);

// One held chord per bar with a chord, at the accompaniment octave.
int renderBlockChords(Composition& composition);

// The composition's style over the chord track; bars the style's meters do not fit, and the
// last melody bar when a pass would start on it, get a held chord instead.
int renderStyle(Composition& composition);

// One pass of the style's pattern from bar `bar`, which it advances past the bars it covered
// (by at least one bar). A pass stops at a bar without chord, at a meter the style does not
// fit and at the end of the piece. Answers the events placed.
int applyStylePattern(NoteTracks& notes, std::span<const ChordTrackEntry> chords, int32_t& bar,
                      int32_t barCount, const Style* style, int basePitch, int list);

// One pass of a style over a C major chord in the style's own meter and ticks, for the style
// dialog to play (list 1 of `notes`) with the given tempo, division and programs.
struct StylePreview {
    std::unique_ptr<NoteTracks> notes;
    int eventsPlaced = 0;
    int32_t tempo = 500000;  // microseconds per quarter note
    int division = 0;
    uint8_t program = 0;
    uint8_t program2 = 0;
};
StylePreview renderStylePreview(const Style& style);

}  // namespace varimel
