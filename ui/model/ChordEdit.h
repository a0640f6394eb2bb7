// ChordEdit: one change the chords grid makes to a bar's entry of the chord track (its chord and
// whether it sounds), kept so that it can be taken back and done again. Entry 0's `extra` holds
// the style and is never part of an edit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/ChordCode.h"

namespace varimel {
class Composition;
}

namespace varimel::model {

struct ChordState {
    ChordCode chord = kNoChord;
    uint8_t enabled = 1;
    friend bool operator==(const ChordState&, const ChordState&) = default;
};

struct ChordEdit {
    int bar = 0;
    ChordState before;
    ChordState after;
    bool changesNothing() const { return before == after; }
};

// The edit that makes bar `bar` of the chord track `after`; none when the bar does not exist.
std::optional<ChordEdit> makeChordEdit(const Composition& composition, int bar,
                                       const ChordState& after);
// Puts the bar's entry into the state after (forward) or before the edit. False, changing
// nothing, when the bar is outside the chord track.
bool applyChordEdit(Composition& composition, const ChordEdit& edit, bool forward);
// What the Edit menu calls the change: "Chord G7 in bar 12", "Mute bar 5", "Unmute bar 5",
// "No chord in bar 3" (bars counted from 1).
std::string describeChordEdit(const ChordEdit& edit, KeyIndex pieceKey = kNoKey);

}  // namespace varimel::model
