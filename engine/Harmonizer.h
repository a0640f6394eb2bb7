// Harmonizer: chooses the chords of a melody once its key is known — one harmonic slot per bar
// with up to three main chords (the first goes into the chord track) and further candidates the
// user may pick instead. Phrase ends (cadence bars) are found first and held to cadential chords.
//
//   dictionary.selectKey(composition.keys[0].key);
//   Harmonizer harmonizer(composition, dictionary);
//   if (!harmonizer.prepare()) status = 1; else { harmonizer.run(); composition.buildChordTrack();
//   }
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/Apperr.h"
#include "engine/ChordDictionary.h"
#include "settings/HarmonyOptions.h"

namespace varimel {

// HarmonySlot::cadenceKind values: a cadence rule n marks its bar with n + 1.
namespace cadence_kind {
inline constexpr int8_t kNoOnset = -1;
inline constexpr int8_t kNone = 0;
inline constexpr int8_t kHeld = 1;
}  // namespace cadence_kind

class Harmonizer {
  public:
    // A slot holds 12 chords: at most 3 main ones, so at most 9 custom candidates.
    static constexpr int kMaxMainChords = 3;
    static constexpr int kMaxCustomChords = 9;

    // The options are copied here; composition and dictionary (already set to the composition's
    // key) must outlive the harmonizer.
    Harmonizer(Composition& composition, const ChordDictionary& dictionary,
               const HarmonyOptions& options = currentOptions);

    // Allocates the slots (all empty) and the working arrays. False, with failed() set, when
    // memory runs out (the composition is then left without slots) or it has no key.
    bool prepare();
    // Fills every slot of the composition. Does nothing unless prepare() succeeded.
    void run();

    bool failed() const { return failed_; }

    // What the run decided about the melody's phrases.
    int32_t firstBar() const { return firstBar_; }
    int32_t cadenceStart() const { return cadenceStart_; }
    int32_t lastDecisiveBar() const { return lastDecisiveBar_; }
    // The note that made the bar held or cadential, -1 for none.
    int32_t decisiveNote(int32_t bar) const;
    // What each key earns from a bar's own notes (degree weights and the triad bonus), before
    // chord types, roles, progressions and cadences add theirs. After prepare(); all zero for a
    // bar outside the piece.
    std::array<float, kKeyCount> noteScores(int32_t bar);

  private:
    struct PitchClassStats {
        int32_t count = 0;
        int32_t duration = 0;
    };

    // Steps of a run.
    void presetStartBar();
    void markHeldBars();
    void markCadences();
    void harmoniseBars();
    void harmoniseBar(int32_t bar);
    void completeCandidates();

    // Bar scoring.
    void countPitchClasses(int32_t bar, bool cadence);
    void scoreKeys();
    // The pitch classes that sound through most of the bar.
    uint16_t sustainedPitchClasses(int32_t bar) const;
    void chooseChordTypes(uint16_t sustained, bool cadence);
    void addRoleBonus();
    void addProgressionBonus(int32_t bar);
    void addCadenceBonus(int32_t bar);
    void selectChords(int32_t bar);

    // The cadence rules 1..4 in a bar: the note that satisfies the rule, or -1.
    int32_t findCadenceNote(int rule, int32_t bar) const;
    bool markIfRuleHolds(int rule, int32_t bar);
    bool availableForCadence(int32_t bar) const;

    // Melody access.
    const NoteRecord& note(int32_t index) const { return (*notes_)[static_cast<size_t>(index)]; }
    int32_t barOf(int32_t index) const { return note(index).position.bar; }
    int32_t endOf(int32_t index) const {
        return noteStart_[static_cast<size_t>(index)] + note(index).duration;
    }
    int32_t startOf(int32_t index) const { return noteStart_[static_cast<size_t>(index)]; }
    // The next note's start; after the melody's last note, the start of the following bar.
    int32_t nextOnset(int32_t index) const;
    int32_t firstNoteIn(int32_t bar) const;
    bool hasOnset(int32_t bar) const { return firstNoteIn(bar) >= 0; }
    int32_t barLength(int32_t bar) const { return barLength_[static_cast<size_t>(bar)]; }
    bool insidePiece(int32_t bar) const { return bar >= 0 && bar < barCount_; }
    int8_t& cadenceKindOf(int32_t bar) {
        return composition_.slots[static_cast<size_t>(bar)].cadenceKind;
    }
    int8_t cadenceKindOf(int32_t bar) const {
        return composition_.slots[static_cast<size_t>(bar)].cadenceKind;
    }

    Composition& composition_;
    const ChordDictionary& dictionary_;
    HarmonyOptions options_;
    const std::vector<NoteRecord>* notes_ = nullptr;
    const MeterMap* meter_ = nullptr;
    KeyIndex mainKey_ = kNoKey;

    int direction_ = 1;
    int markWeight_ = 0;
    int maxCustomChords_ = 0;
    int32_t barCount_ = 0;
    int32_t noteCount_ = 0;
    int32_t upbeat_ = 0;
    int32_t lastDecisiveBar_ = -1;
    int32_t firstBar_ = 0;
    int32_t cadenceStart_ = 0;
    bool prepared_ = false;
    bool failed_ = false;

    std::vector<int32_t> decisiveNote_;
    std::vector<uint8_t> noteClass_;
    std::vector<int32_t> noteStart_;
    std::vector<int32_t> barStart_;  // one more than bars: the end of the last bar
    std::vector<int32_t> barLength_;
    std::array<int, kKeyCount> keyClass_{};
    std::array<int, kKeyCount> keyDegree_{};  // degree code of each key's tonic in the main key
    // Per key and type: the pitch classes the chord pattern accepts (bit per pitch class) and
    // the chord's own tones.
    // Key after key, one row of types each: flat, so that a bar's masks come in one sweep.
    std::array<uint16_t, kKeyCount * kChordTypeCount> patternFits_{};
    std::array<std::array<uint16_t, kChordTypeCount>, kKeyCount> chordToneSet_{};

    // The bar being harmonised.
    std::array<float, kKeyCount> score_{};
    std::array<int, kKeyCount> chordType_{};
    // The keys in the order of the last bar's scores.
    std::array<int, kKeyCount> keyOrder_ = [] {
        std::array<int, kKeyCount> keys{};
        for (size_t k = 0; k < keys.size(); ++k) keys[k] = static_cast<int>(k);
        return keys;
    }();
    std::array<int32_t, 12> pcCount_{};
    std::array<PitchClassStats, 12> pcStats_{};

    // What scoreKeys and chooseChordTypes make of a bar depends only on its pitch-class counts,
    // its sustained pitch classes and whether it ends a phrase. Tunes repeat whole bars, so each
    // such content is worked out once per piece and found again by its hash.
    struct BarContent {
        std::array<int32_t, 12> counts{};
        uint16_t sustained = 0;
        bool cadence = false;
        friend bool operator==(const BarContent&, const BarContent&) = default;
    };
    struct BarChoice {
        BarContent content;
        std::array<float, kKeyCount> scores{};
        std::array<int8_t, kKeyCount> types{};
    };
    // The choice made for this content before, or the empty slot (-1) where it goes.
    int32_t& choiceSlot(const BarContent& content);
    std::vector<BarChoice> choices_;    // room for one per bar, made in prepare()
    std::vector<int32_t> choiceSlots_;  // open addressing into choices_, -1 empty
};

}  // namespace varimel
