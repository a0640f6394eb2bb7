#include "ui/model/ChordEdit.h"

#include "engine/Apperr.h"
#include "engine/Tonality.h"

namespace varimel::model {

namespace {

bool validBar(const Composition& composition, int bar) {
    return bar >= 0 && static_cast<size_t>(bar) < composition.chordTrack.size();
}

// Chord names carry a blank for plain major chords ("C "); menus do not want it.
std::string trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    while (!text.empty() && text.front() == ' ') text.erase(text.begin());
    return text;
}

}  // namespace

std::optional<ChordEdit> makeChordEdit(const Composition& composition, int bar,
                                       const ChordState& after) {
    if (!validBar(composition, bar)) return std::nullopt;
    const ChordTrackEntry& entry = composition.chordTrack[static_cast<size_t>(bar)];
    return ChordEdit{bar, ChordState{entry.chord, entry.enabled}, after};
}

bool applyChordEdit(Composition& composition, const ChordEdit& edit, bool forward) {
    if (!validBar(composition, edit.bar)) return false;
    ChordTrackEntry& entry = composition.chordTrack[static_cast<size_t>(edit.bar)];
    const ChordState& state = forward ? edit.after : edit.before;
    entry.chord = state.chord;
    entry.enabled = state.enabled;
    return true;
}

std::string describeChordEdit(const ChordEdit& edit, KeyIndex pieceKey) {
    const std::string bar = std::to_string(edit.bar + 1);
    if (edit.before.chord == edit.after.chord && edit.before.enabled != edit.after.enabled) {
        return (edit.after.enabled ? "Unmute bar " : "Mute bar ") + bar;
    }
    if (edit.after.chord == kNoChord) return "No chord in bar " + bar;
    return "Chord " + trimmed(chordName(edit.after.chord, pieceKey)) + " in bar " + bar;
}

}  // namespace varimel::model
