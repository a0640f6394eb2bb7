// MelodyFiles: opens a melody from any file the program reads - a Standard MIDI File, a
// MusicXML score (.musicxml, .xml, compressed .mxl) or an ABC tune (.abc, through abc2midi) -
// into a chord master, with the same checks, analysis and statuses as a MIDI melody.
#pragma once

#include <string>
#include <vector>

#include "engine/Wchordmaster.h"
#include "leadsheet/MusicXmlImport.h"

namespace varimel {

enum class MelodyFormat { kMidi, kMusicXml, kCompressedMusicXml, kAbc };

// By extension, in any case; everything else is read as MIDI.
MelodyFormat melodyFormatOf(const std::string& path);
// Whether the extension names a melody file the program opens (.mid, .midi, .musicxml, .xml,
// .mxl, .abc); the window's Open dialog and folder scans use it.
bool isMelodyFile(const std::string& path);
// The Open dialog's filter.
const char* melodyFileFilter();

struct MelodySource {
    MusicXmlChoice musicXml;
    int tune = 0;               // the X: number of an ABC tune; 0: the file's first tune
    int converterSeconds = 20;  // the longest the ABC converter may run
};

// What a score or tune says about itself, for its lead sheet.
struct MelodyInfo {
    std::string title;               // T: of a tune, the work title of a score; empty when none
    std::string composer;            // C: of a tune, the score's composer
    std::vector<BarRepeat> repeats;  // a score's repeat signs and endings, as written
};

// Loads the file into the master and answers its status. `warnings` receives what was read
// differently from the file (grace notes dropped, chords reduced, repeats not played out).
StatusCode loadMelodyFile(ChordMaster& master, const MelodySource& source,
                          std::vector<std::string>& warnings);
StatusCode loadMelodyFile(ChordMaster& master, const MelodySource& source,
                          std::vector<std::string>& warnings, MelodyInfo& info);

// The tunes of an ABC file: X: number and title, in file order.
struct AbcTune {
    int number = 0;
    std::string title;
    std::string composer;
};
std::vector<AbcTune> abcTunes(const std::string& path);

// The ABC converter, and the Debian package that holds it.
inline constexpr const char* kAbcConverter = "abc2midi";
inline constexpr const char* kAbcPackage = "abcmidi";

}  // namespace varimel

namespace varimel {

// A length in whole notes.
struct AbcLength {
    long n = 0;
    long d = 1;
};

// How an ABC tune begins: the length of its first bar by the meter in force at the first bar
// line, and of the notes before that bar line (zero when the tune starts on it). `known` is
// false when the tune has no meter or the notes before the bar line are beyond the reckoning.
struct AbcOpening {
    bool known = false;
    AbcLength bar;
    AbcLength pickUp;
};
AbcOpening abcOpening(const std::string& text, int tune);

}  // namespace varimel
