// Pieces, chord tracks, styles and library folders for the accompaniment tests:
//
//   Piece piece = loadPiece("4/4", 10);              // ten bars of quarter notes, loaded
//   setChords(piece.composition(), {C, G7, Am, ...}); // one chord per bar, chord track built
//   Style style = makeStyle(4, 4, 120, 1, {meterCode(4, 4)}, {ev(1, 0, 0, 1)});
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "accompaniment/PatternFiles.h"
#include "engine/Wchordmaster.h"
#include "support/melody.h"

namespace varimel::test {

inline constexpr ChordCode kC = makeChordCode(7, 0);      // C major
inline constexpr ChordCode kG7 = makeChordCode(8, 1);     // G dominant seventh
inline constexpr ChordCode kF = makeChordCode(6, 0);      // F major
inline constexpr ChordCode kAm = makeChordCode(19, 0);    // A minor
inline constexpr ChordCode kEm = makeChordCode(20, 0);    // E minor
inline constexpr ChordCode kEmpty = makeChordCode(7, 4);  // a chord type without tones

struct Piece {
    std::unique_ptr<ChordMaster> master;
    StatusCode status = 0;
    Composition& composition() { return *master->composition(); }
    NoteTracks& notes() { return master->composition()->noteTracks(); }
};

// `bars` bars of quarter (or the meter's beat) notes walking up and down a scale in octave 5.
inline Piece loadPiece(std::string_view meter, int bars, MelodyOptions options = {}) {
    static const char* kPitches[] = {"C5", "D5", "E5", "F5", "G5", "A5", "B5",
                                     "C6", "B5", "A5", "G5", "F5", "E5", "D5"};
    int numerator = 4;
    if (!meter.empty()) numerator = std::stoi(std::string(meter.substr(0, meter.find('/'))));
    std::vector<Step> steps;
    int n = 0;
    for (int bar = 0; bar < bars; ++bar) {
        int beats = numerator;
        for (const MeterChangeAt& change : options.meterChanges) {
            if (change.bar <= bar)
                beats = std::stoi(change.meter.substr(0, change.meter.find('/')));
        }
        for (int beat = 0; beat < beats; ++beat) steps.push_back({kPitches[n++ % 14], 1_beat});
    }
    TempMidiFile file(melody(meter, steps, options));
    Piece piece;
    piece.master = std::make_unique<ChordMaster>(file.pathString());
    piece.status = piece.master->loadMidi();
    return piece;
}

// One chord per bar, as the harmoniser would leave them: slots, then the chord track.
inline void setChords(Composition& composition, const std::vector<ChordCode>& chords) {
    composition.slots.assign(static_cast<size_t>(composition.barCount), HarmonySlot{});
    for (size_t bar = 0; bar < composition.slots.size() && bar < chords.size(); ++bar) {
        if (chords[bar] < 0) continue;
        composition.slots[bar].mainCount = 1;
        composition.slots[bar].candidates[0] = chords[bar];
    }
    composition.buildChordTrack();
}

// A pattern event: selector (or drum note), pattern bar, beat, tick, octave, duration.
inline PatternEvent ev(int tone, int bar, int beat, int tick = 0, int octave = 4,
                       int duration = 100, uint16_t velocities = 0x6440) {
    PatternEvent event;
    event.tone = static_cast<int8_t>(tone);
    event.bar = static_cast<int16_t>(bar);
    event.beat = static_cast<uint8_t>(beat);
    event.tick = static_cast<uint16_t>(tick);
    event.octave = static_cast<int8_t>(octave);
    event.duration = static_cast<int16_t>(duration);
    event.velocities = velocities;
    return event;
}

inline MeterSet meterSet(std::initializer_list<std::pair<int, int>> meters) {
    MeterSet set = 0;
    int shift = 0;
    for (const auto& [numerator, denominator] : meters) {
        set |= meterCode(numerator, denominator) << shift;
        shift += 8;
    }
    return set;
}

inline Style makeStyle(int meterNum, int meterDen, int ppq, int bars, MeterSet meters,
                       std::vector<PatternEvent> events, int octave = 4) {
    Style style;
    style.bars = static_cast<uint8_t>(bars);
    style.octave = static_cast<int8_t>(octave);
    style.beatsPerBar = static_cast<uint8_t>(meterNum);
    style.program = 0;
    style.meterNum = static_cast<int8_t>(meterNum);
    style.meterDen = static_cast<int8_t>(meterDen);
    style.ppq = static_cast<int16_t>(ppq);
    style.meters = meters;
    style.events = std::move(events);
    style.valid = true;
    return style;
}

// A fresh folder in the system's temporary folder, removed with everything in it.
class TempFolder {
  public:
    TempFolder() {
        std::random_device entropy;
        path_ = std::filesystem::temp_directory_path() /
                ("varimel-acc-" + std::to_string(entropy()) + std::to_string(entropy()));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The folder as the settings keep it: with a trailing separator.
    std::string directory() const { return (path_ / "").string(); }

    void write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream out(path_ / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }

  private:
    std::filesystem::path path_;
};

// Notes of a list that start in a bar.
inline std::vector<NoteRecord> notesInBar(const NoteTracks& notes, int list, int bar) {
    std::vector<NoteRecord> found;
    for (const NoteRecord& note : notes.notes(list)) {
        if (note.position.bar == bar) found.push_back(note);
    }
    return found;
}

}  // namespace varimel::test
