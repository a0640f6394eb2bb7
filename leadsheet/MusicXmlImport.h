// MusicXmlImport: reads the melody of a MusicXML score - one part, one voice - and writes it as
// a Standard MIDI File, so that it opens through the same loader, melody check and analysis as
// any MIDI melody.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varimel {

struct MusicXmlChoice {
    int part = 1;   // counted from 1, in the order of the file
    int voice = 0;  // the voice number of the notes; 0: the voice of the part's first note
};

// The repeat signs and endings at one bar's lines, as the score writes them.
struct BarRepeat {
    int32_t bar = 0;            // counted from 0 as the composition counts bars (a pick-up is 0)
    bool forward = false;       // |: at the bar's start
    bool backward = false;      // :| at the bar's end
    int times = 0;              // with backward: how often the passage plays; 0 when not given
    std::string endingNumber;   // "1", "2", "1, 2"
    bool endingStarts = false;  // an ending begins with the bar
    std::string endingStop;     // at the bar's end: "stop", "discontinue" or ""
    friend bool operator==(const BarRepeat&, const BarRepeat&) = default;
};

// What came out of the score, for the MIDI file and for tests.
struct ImportedMelody {
    struct Note {
        int64_t start;  // ticks
        int64_t duration;
        int key;
        int channel = 0;
    };
    struct Meter {
        int64_t tick;
        int numerator;
        int denominator;
    };
    struct Key {
        int64_t tick;
        int fifths;
        int minor;
    };
    struct Tempo {
        int64_t tick;
        int32_t microsecondsPerQuarter;
    };
    int ticksPerQuarter = 480;
    std::vector<Note> notes;
    std::vector<Meter> meters;
    std::vector<Key> keys;
    std::vector<Tempo> tempos;
    std::vector<std::string> warnings;  // what was read differently from the score
    std::string title;                  // the work's title, else the movement's
    std::string composer;
    std::vector<BarRepeat> repeats;  // in bar order
};

// Reads a score from its text. False with `problem` set for a file that is not a score or that
// goes beyond the limits of a melody file.
bool readMusicXml(std::string_view text, const MusicXmlChoice& choice, ImportedMelody& melody,
                  std::string& problem);

// Writes the melody as a Standard MIDI File (format 1: conductor track, melody on channel 0).
bool writeMelodyMidi(const ImportedMelody& melody, const std::string& fileName,
                     std::string& problem);

}  // namespace varimel
