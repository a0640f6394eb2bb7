// ArrangementRenderer: organ, bass and drums (lists 2, 3 and 9) from the current arrangement's
// parts laid over the chord track by the part plan; without an arrangement, the simple band
// accompaniment (held organ chord, bass root, kick and hi-hat).
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "accompaniment/PatternFiles.h"
#include "engine/Apperr.h"

namespace varimel {

// General MIDI percussion notes of the simple accompaniment (GM 1 percussion key map).
namespace gm_drum {
inline constexpr uint8_t kAcousticBassDrum = 35;
inline constexpr uint8_t kClosedHiHat = 42;
}  // namespace gm_drum

// Answers the notes on the organ list.
int renderArrangement(Composition& composition);

// One pass of part `part` from bar `bar`, which it advances past the bars it covered (by at
// least one bar). `continues` is 1 when the next bar plays the same part; otherwise only the
// first pattern bar is played. Answers the drum events placed.
int applyArrangementPart(NoteTracks& notes, std::span<const ChordTrackEntry> chords, int32_t& bar,
                         int32_t lastBar, const Arrangement* arrangement, int part, int organBase,
                         int continues);

// The chord held on the organ, its root in the bass, a kick on the downbeat and a closed hi-hat
// on every beat.
void renderSimpleBar(NoteTracks& notes, std::span<const ChordTrackEntry> chords, int32_t bar,
                     int organBase);
void renderSimpleAccompaniment(NoteTracks& notes, std::span<const ChordTrackEntry> chords,
                               int32_t fromBar, int32_t barCount, int organBase);

// One pass of an arrangement's first part over a C major chord in its own meter and ticks, for
// the arrangement dialog to play (organ, bass and drums lists of `notes`).
struct ArrangementPreview {
    std::unique_ptr<NoteTracks> notes;
    int32_t tempo = 500000;  // microseconds per quarter note
    int division = 0;
    uint8_t organProgram = 0;
    uint8_t bassProgram = 0;
};
// Null notes when the arrangement has no part or no timing.
ArrangementPreview renderArrangementPreview(const Arrangement& arrangement);

}  // namespace varimel
