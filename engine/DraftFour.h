// DraftFour: the fourth harmony draft. The key comes from the melody's pitch-class profile (or
// from the user), then every bar gets one chord from a small table of the key's own chords,
// chosen as the best path through all bars, with sixths and sevenths where the melody holds
// them. Its chords agree with folk musicians' far more often than the drafts of the
// harmonizer, and it needs no key recognition beforehand.
//
//   const draft_four::Melody melody = draft_four::melodyOf(composition);
//   const KeyIndex key = draft_four::chooseKey(melody);
//   const std::vector<draft_four::BarHarmony> bars = draft_four::harmonise(melody, key);
//
// `runDraftFour` does all of that on a composition and fills its key and slots.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/Apperr.h"
#include "engine/ChordCode.h"
#include "engine/Status.h"
#include "settings/HarmonyOptions.h"

namespace varimel {
namespace draft_four {

// One melody note as the composition holds it: its bar, its tick inside that bar, its length in
// ticks and its MIDI pitch.
struct Note {
    int32_t bar = 0;
    int32_t tick = 0;
    int32_t duration = 0;
    int pitch = 60;
};

// The meter of one bar.
struct BarMeter {
    int32_t ticksPerBar = 0;
    int numerator = 4;
    int denominator = 4;
    int32_t ticksPerBeat = 0;
};

// Everything the draft reads: the notes in time order, the meter of every bar, the division
// and the key of the file's first key signature (kNoKey without one).
struct Melody {
    std::vector<Note> notes;
    std::vector<BarMeter> bars;
    int32_t ticksPerQuarter = 480;
    KeyIndex fileKey = kNoKey;
};

// The chord table of a key: at most nine chords, each with its tonal function and prior share.
enum class Function : uint8_t { kTonic, kSubdominant, kDominant };

struct ChordRow {
    ChordCode code = kNoChord;
    int root = 0;        // pitch class
    uint16_t tones = 0;  // bit per pitch class
    Function function = Function::kTonic;
    double logPrior = 0;
};

struct Vocabulary {
    std::array<ChordRow, 9> rows{};
    int count = 0;
};

Vocabulary vocabulary(KeyIndex key);

// The path bonus for one move between consecutive bars (tonic to subdominant, subdominant to
// dominant, dominant to tonic).
double moveBonus(const ChordRow& from, const ChordRow& to);

// The chosen chord of a bar (kNoChord before the first chord bar) and the ranked choices for
// the chords grid: the chord itself, then up to two chords with other roots.
struct BarHarmony {
    ChordCode chord = kNoChord;
    std::array<ChordCode, 3> ranked{kNoChord, kNoChord, kNoChord};
    int rankedCount = 0;
};

// Per bar, the score of every row of the key's vocabulary; `scored` is false for bars without
// melody and for bars before the first chord bar.
struct BarScores {
    bool scored = false;
    std::array<double, 9> score{};
};

Melody melodyOf(const Composition& composition);

// Per bar and pitch class, the melody's ticks, notes cut at bar lines.
using BarDurations = std::vector<std::array<int64_t, 12>>;
BarDurations barDurations(const Melody& melody);

// The score of each of the 24 keys: how well the melody's durations per pitch class correlate
// with the key's profile, with small bonuses for a first and a last note on the tonic and a
// larger one for the file's key signature.
std::array<double, kKeyCount> keyScores(const Melody& melody);
// The best-scoring key, the lower index on ties; kNoKey for a melody without notes.
KeyIndex chooseKey(const Melody& melody);

// The first bar that gets a chord: the first note's bar, or the next when the melody starts
// with an upbeat of an eighth or more.
int32_t firstChordBar(const Melody& melody);

std::vector<BarScores> barScores(const Melody& melody, KeyIndex key);
// The rows (indices into the vocabulary) of the best path through the scored bars; -1 for the
// other bars. Bars after the first chord bar without a score hold the row before them.
std::vector<int> bestPath(const std::vector<BarScores>& scores, const Vocabulary& vocabulary);

// Steps 2 to 7: one chord per bar in the given key.
std::vector<BarHarmony> harmonise(const Melody& melody, KeyIndex key);

}  // namespace draft_four

// Draft IV on a loaded composition: the key (recognised, or with AutoKey off the key the file's
// key signature now says), the key marks of that key, and one slot per bar with the chosen
// chord first (mainCount 1) and the alternatives, then the tonic, dominant seventh and
// subdominant chords, as custom candidates (at most MaxNumCustomChords of them). The caller
// builds the chord track. Status 0, or 92 for a melody without notes; 1 when memory runs out.
StatusCode runDraftFour(Composition& composition, const HarmonyOptions& options);

}  // namespace varimel
