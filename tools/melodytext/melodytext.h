// Melody text: a small, readable way to write down a melody, and the Standard MIDI File bytes
// made from it. Used to build the sample melodies and the test fixtures, so it carries its own
// file encoder and never touches the program's MIDI reader or writer.
//
// A melody text, line by line ('#' at the start of a word begins a comment):
//
//   title: Twinkle Twinkle Little Star     global headers come first
//   division: 480                          ticks per quarter note (default 480)
//   tempo: 100                             quarter notes per minute; no tempo event when absent
//   key: C major                           key signature ("E minor", "Bb major", "none")
//   time: 4/4                              initial meter; no time signature event when absent
//   format: 1                              0 or 1 (default 1)
//   running-status: no                     "yes" leaves out repeated status bytes
//   note-off: note-off                     or "zero-velocity" (note on with velocity 0)
//
//   track: Melody                          starts a track (optional for the first one)
//   channel: 0                             zero-based MIDI channel 0..15 (default 0)
//   program: 73                            optional program change at the start
//   velocity: 100                          note-on velocity (default 100)
//   C4q C4 G4 G4 | A4 A4 G4h | ...
//
// Notes are scientific pitch names (C4 = MIDI 60, F#4, Bb3, C-1 = 0) followed by a length:
// w h q e s t (whole .. 32nd), dots ("q." "q.."), "3" for a triplet ("e3"). A missing length
// repeats the previous one. "r" is a rest ("rq", "rh."), "R" a whole-bar rest ("R*4" four of
// them), "[C4 E4 G4]h" a chord, "C4h~ C4q" a tie. "|" (or "||") is a bar line; every bar must
// fill its meter, except the first, which may be a pick-up: it is padded with silence in front
// so that it ends on the bar line. "time 2/4" at the start of a bar changes the meter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varimel::melodytext {

struct TimeSignature {
    int numerator = 4;
    int denominator = 4;  // the note value: 4 = quarter, 8 = eighth
    friend bool operator==(const TimeSignature&, const TimeSignature&) = default;
};

struct KeySignature {
    int sharpsOrFlats = 0;  // -7..7, negative for flats
    bool minor = false;
    friend bool operator==(const KeySignature&, const KeySignature&) = default;
};

struct MeterChange {
    std::int64_t tick = 0;
    TimeSignature meter;
};

struct Note {
    std::int64_t startTick = 0;
    std::int64_t durationTicks = 0;
    int key = 60;  // MIDI note number
    int velocity = 100;
};

struct Track {
    std::string name;
    int channel = 0;  // zero-based
    std::optional<int> program;
    std::vector<Note> notes;   // any order; the encoder sorts by time
    std::int64_t endTick = 0;  // end of track; raised to the last note end when shorter
};

enum class NoteOffStyle { NoteOff, ZeroVelocityNoteOn };

struct Melody {
    std::string title;
    int format = 1;  // 0: everything in one track; 1: conductor track, then one per Track
    int division = 480;
    std::optional<int> microsecondsPerQuarter;  // none: no tempo event
    std::optional<KeySignature> key;            // none: no key-signature event
    std::vector<MeterChange> meters;            // none: no time-signature event at all
    std::vector<Track> tracks;
    bool runningStatus = false;
    NoteOffStyle noteOff = NoteOffStyle::NoteOff;
    int releaseVelocity = 64;  // the neutral value the MIDI standard recommends
};

struct ParseError {
    int line = 0;  // 1-based
    std::string message;
    std::string toString() const;  // "line 12: ..."
};

struct ParseResult {
    Melody melody;  // complete only when there are no errors
    std::vector<ParseError> errors;
    bool ok() const { return errors.empty(); }
    std::string errorText() const;  // one error per line
};

ParseResult parse(std::string_view text);

// Standard MIDI File bytes of a melody. Throws std::invalid_argument for a melody that cannot be
// encoded (channel, key, velocity or division out of range, negative times).
std::vector<std::uint8_t> encodeSmf(const Melody& melody);

// The pieces of the notation, for callers that build melodies in code.
std::optional<int> pitchFromName(std::string_view name);         // "C4" -> 60
std::optional<TimeSignature> parseMeter(std::string_view text);  // "6/8"
std::optional<KeySignature> parseKey(std::string_view text);     // "G major", "E minor"
std::int64_t ticksPerBar(const TimeSignature& meter, int division);
std::int64_t ticksPerBeat(const TimeSignature& meter, int division);  // one denominator note

}  // namespace varimel::melodytext
