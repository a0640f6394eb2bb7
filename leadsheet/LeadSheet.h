// LeadSheet: writes a harmonised composition as a MusicXML lead sheet - the melody with a chord
// symbol at the start of every bar that has a chord, the key, the meters, the tempo and a
// pick-up bar - which notation programs open and print. Optionally a second part holds the
// block chords.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/Apperr.h"
#include "leadsheet/MusicXmlImport.h"

namespace varimel {

struct LeadSheetOptions {
    std::string title;     // empty: no title
    std::string composer;  // empty: no composer
    bool accompaniment = false;
    std::vector<BarRepeat> repeats;  // the repeat signs and endings of the score it came from
};

// The MusicXML 4.0 document (score-partwise) of the composition's melody and chord track.
std::string musicXmlLeadSheet(const Composition& composition, const LeadSheetOptions& options);

// Writes the document through a temporary file; false with `error` set when it failed.
bool exportMusicXml(const Composition& composition, const LeadSheetOptions& options,
                    const std::string& fileName, std::string& error);

// The MusicXML kind of a chord ("major", "dominant", "minor-seventh", ...); "none" for no chord.
const char* musicXmlChordKind(ChordCode chord);
// What follows the root in the chord's name: "", "7", "maj7", "m", "m7b5", ...
std::string chordSuffix(ChordCode chord);

// A pitch as written: step letter, alteration (-1, 0, 1) and octave (middle C is C4).
struct SpelledPitch {
    char step = 'C';
    int alter = 0;
    int octave = 4;
};
// Black keys follow the key signature (`fifths`): flats in flat keys, sharps in sharp keys.
// Without accidentals a melody note is sharp except B-flat (raised degrees are the common
// chromatic notes).
SpelledPitch spellPitch(int midiKey, int fifths);
// A melody note spelled by its key: the notes of the scale by their letters (E-sharp in F-sharp
// major), in minor keys also the raised sixth and seventh (C-sharp in D minor, F-sharp in G
// minor); any other note as spellPitch spells it.
SpelledPitch spellInKey(int midiKey, int fifths, bool minor);

// The key a lead sheet is written in: the harmony's key, else the file's, else C major.
KeyIndex leadSheetKey(const Composition& composition);

}  // namespace varimel
