// Draft IV: the key, the chord per bar by best path, colouring, candidates and fit, on melodies
// written for one behaviour each, plus a brute-force check of the path on random melodies.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/ChordFit.h"
#include "engine/DraftFour.h"
#include "engine/Mas_file.h"
#include "engine/Tonality.h"
#include "engine/Wchordmaster.h"
#include "support/melody.h"

using namespace varimel;
using namespace varimel::test;
using draft_four::BarScores;
using draft_four::Melody;

namespace {

constexpr int32_t kQuarter = 480;

ChordCode chord(std::string_view key, int type = 0) {
    return makeChordCode(keyFromName(key), type);
}

// A melody in one meter; each bar is a list of pitch names sharing the bar equally ("" for a
// bar without notes). Bars start with a note on their first tick unless `pickupTick` moves the
// first bar's notes later.
Melody melodyOf(int numerator, int denominator, const std::vector<std::string>& bars,
                int32_t pickupTick = 0) {
    Melody m;
    m.ticksPerQuarter = kQuarter;
    const int32_t beat = kQuarter * 4 / denominator;
    const int32_t barLength = beat * numerator;
    for (size_t b = 0; b < bars.size(); ++b) {
        m.bars.push_back({barLength, numerator, denominator, beat});
        std::istringstream words(bars[b]);
        std::vector<std::string> names;
        for (std::string w; words >> w;) names.push_back(w);
        if (names.empty()) continue;
        const int32_t start = b == 0 ? pickupTick : 0;
        const auto length = static_cast<int32_t>((barLength - start) / std::ssize(names));
        for (size_t i = 0; i < names.size(); ++i) {
            m.notes.push_back({static_cast<int32_t>(b), start + static_cast<int32_t>(i) * length,
                               length, *melodytext::pitchFromName(names[i])});
        }
    }
    return m;
}

std::vector<ChordCode> chordsOf(const Melody& m, KeyIndex key) {
    std::vector<ChordCode> out;
    for (const auto& bar : draft_four::harmonise(m, key)) out.push_back(bar.chord);
    return out;
}

// The path score the method maximises: bar scores plus the move bonuses.
double pathScore(const std::vector<BarScores>& scores, const draft_four::Vocabulary& voc,
                 const std::vector<int>& rows) {
    double total = 0;
    int previous = -1;
    for (size_t b = 0; b < scores.size(); ++b) {
        if (!scores[b].scored) continue;
        const auto row = static_cast<size_t>(rows[b]);
        total += scores[b].score[row];
        if (previous >= 0)
            total += moveBonus(voc.rows[static_cast<size_t>(previous)], voc.rows[row]);
        previous = rows[b];
    }
    return total;
}

}  // namespace

// --- Chords ---------------------------------------------------------------------------------

TEST(DraftFour, MelodyOutliningTonicSubdominantDominantTonicGetsThoseChords) {
    const Melody m = melodyOf(4, 4, {"C5 E5 G5 E5", "F5 A5 C6 A5", "G5 B5 D6 B5", "C6 G5 E5 C5"});
    EXPECT_EQ(draft_four::chooseKey(m), keyFromName("C-dur"));
    EXPECT_EQ(
        chordsOf(m, keyFromName("C-dur")),
        (std::vector<ChordCode>{chord("C-dur"), chord("F-dur"), chord("G-dur"), chord("C-dur")}));
}

TEST(DraftFour, MinorKeyUsesItsOwnTableWithTheDominantSeventh) {
    const KeyIndex aMinor = keyFromName("a-moll");
    const Melody m = melodyOf(4, 4, {"A4 C5 E5 C5", "D5 F5 A5 F5", "E5 G#5 B5 D6", "A5 E5 C5 A4"});
    EXPECT_EQ(draft_four::chooseKey(m), aMinor);
    EXPECT_EQ(chordsOf(m, aMinor), (std::vector<ChordCode>{chord("a-moll"), chord("d-moll"),
                                                           chord("E-dur", 1), chord("a-moll")}));
    const draft_four::Vocabulary voc = draft_four::vocabulary(aMinor);
    EXPECT_EQ(voc.count, 9);
    EXPECT_EQ(voc.rows[0].code, chord("a-moll"));
    EXPECT_EQ(draft_four::vocabulary(keyFromName("C-dur")).count, 8);
}

TEST(DraftFour, UpbeatBarStaysEmptyAndTheFirstFullBarGetsTheTonic) {
    // A quarter-note pick-up: bar 0 gets no chord, bar 1 the tonic.
    const Melody m =
        melodyOf(4, 4, {"G4", "C5 E5 G5 E5", "F5 A5 C6 A5", "C5 E5 G5 C6"}, 3 * kQuarter);
    EXPECT_EQ(draft_four::firstChordBar(m), 1);
    const auto bars = draft_four::harmonise(m, keyFromName("C-dur"));
    EXPECT_EQ(bars[0].chord, kNoChord);
    EXPECT_EQ(bars[0].rankedCount, 0);
    EXPECT_EQ(bars[1].chord, chord("C-dur"));
    // A note only a sixteenth after the bar line is no upbeat.
    EXPECT_EQ(draft_four::firstChordBar(melodyOf(4, 4, {"C5", "C5"}, kQuarter / 4)), 0);
}

TEST(DraftFour, BarWithoutNotesKeepsTheChordBeforeIt) {
    const Melody m = melodyOf(4, 4, {"C5 E5 G5 E5", "F5 A5 C6 A5", "", "C5 E5 G5 C6"});
    const std::vector<ChordCode> chords = chordsOf(m, keyFromName("C-dur"));
    EXPECT_EQ(chords[1], chord("F-dur"));
    EXPECT_EQ(chords[2], chords[1]);
}

TEST(DraftFour, AddedSixthOrSeventhColoursARunOnlyFromFifteenPercent) {
    const KeyIndex c = keyFromName("C-dur");
    // Two tonic bars of eighths; the added tone takes 2 of the run's 16 eighths (12.5%), or 3.
    const Melody below = melodyOf(4, 4, {"C5 E5 G5 C5 E5 G5 C5 A5", "C5 E5 G5 C5 E5 G5 E5 A5"});
    EXPECT_EQ(chordsOf(below, c), (std::vector<ChordCode>{chord("C-dur"), chord("C-dur")}));
    const Melody sixth = melodyOf(4, 4, {"C5 E5 G5 C5 E5 G5 A5 A5", "C5 E5 G5 C5 E5 G5 E5 A5"});
    EXPECT_EQ(chordsOf(sixth, c), (std::vector<ChordCode>{chord("C-dur", 3), chord("C-dur", 3)}));
    const Melody seventh =
        melodyOf(4, 4, {"C5 E5 G5 C5 E5 G5 Bb5 Bb5", "C5 E5 G5 C5 E5 G5 E5 Bb5"});
    EXPECT_EQ(chordsOf(seventh, c)[1], chord("C-dur", 1));
    // Sixth and seventh equally long: the seventh.
    const Melody both = melodyOf(4, 4, {"C5 E5 G5 C5 E5 A5 A5 A5", "C5 E5 G5 C5 E5 Bb5 Bb5 Bb5"});
    EXPECT_EQ(chordsOf(both, c)[0], chord("C-dur", 1));
}

TEST(DraftFour, TiesGoToTheLowerIndex) {
    // All pitch classes equally long: every key correlates alike, and the first and last notes
    // on C favour C major and c minor equally; C major has the lower index.
    Melody m = melodyOf(4, 4, {"C5 C#5 D5 D#5", "E5 F5 F#5 G5", "G#5 A5 A#5 B5"});
    m.notes[0].duration = kQuarter / 2;
    m.notes.push_back({2, 7 * kQuarter / 2, kQuarter / 2, 72});
    const auto scores = draft_four::keyScores(m);
    EXPECT_DOUBLE_EQ(scores[static_cast<size_t>(keyFromName("C-dur"))],
                     scores[static_cast<size_t>(keyFromName("c-moll"))]);
    EXPECT_EQ(draft_four::chooseKey(m), keyFromName("C-dur"));
    // Two bars scoring alike for every chord: only a move pays. Every last chord can be reached
    // by one, so the last is row 0 (I), reached from the lowest dominant row (V).
    const draft_four::Vocabulary voc = draft_four::vocabulary(keyFromName("C-dur"));
    std::vector<BarScores> flat(2);
    for (BarScores& bar : flat) bar.scored = true;
    EXPECT_EQ(draft_four::bestPath(flat, voc), (std::vector<int>{1, 0}));
}

TEST(DraftFour, CompoundMeterCountsDottedQuarterBeats) {
    // 6/8: the fourth eighth is the middle beat (level 2), the second an off-beat (level 0).
    const KeyIndex c = keyFromName("C-dur");
    const Melody m = melodyOf(6, 8, {"C5 D5 D5 E5 E5 E5"});
    const BarScores bar = draft_four::barScores(m, c)[0];
    const auto tonicShare = [](double rho) { return std::log(rho / 3); };
    const auto otherScaleShare = [](double rho) { return std::log((1.0 - rho - 0.05) / 4); };
    // Weights: eighths 0..2 count one beat each, eighths 3..5 a quarter of that.
    const double sum =
        tonicShare(0.9) + 2 * otherScaleShare(0.6) + 0.25 * tonicShare(0.7) + 0.5 * tonicShare(0.6);
    EXPECT_NEAR(bar.score[0], std::log(0.45) + 10.0 * sum / 3.75, 1e-9);
}

TEST(DraftFour, PathMaximisesTheScoreOnRandomMelodies) {
    std::mt19937 random(20261207);
    for (int trial = 0; trial < 40; ++trial) {
        const KeyIndex key = static_cast<KeyIndex>(random() % kKeyCount);
        Melody m;
        const int bars = 1 + static_cast<int>(random() % 6);
        for (int b = 0; b < bars; ++b) {
            m.bars.push_back({4 * kQuarter, 4, 4, kQuarter});
            if (random() % 5 == 0) continue;  // now and then a bar without notes
            for (int32_t tick = 0; tick < 4 * kQuarter;) {
                const int32_t length = static_cast<int32_t>(kQuarter / 2 * (1 + random() % 4));
                m.notes.push_back({b, tick, length, 55 + static_cast<int>(random() % 24)});
                tick += length;  // the last note may run into the next bar
            }
        }
        if (m.notes.empty()) continue;
        const draft_four::Vocabulary voc = draft_four::vocabulary(key);
        const std::vector<BarScores> scores = draft_four::barScores(m, key);
        const std::vector<int> path = draft_four::bestPath(scores, voc);
        // Every assignment of rows to the scored bars.
        std::vector<size_t> scored;
        for (size_t b = 0; b < scores.size(); ++b) {
            if (scores[b].scored) scored.push_back(b);
        }
        std::vector<int> rows(scores.size(), 0);
        double best = -1e300;
        for (;;) {
            best = std::max(best, pathScore(scores, voc, rows));
            size_t i = 0;
            while (i < scored.size() && ++rows[scored[i]] == voc.count) rows[scored[i++]] = 0;
            if (i == scored.size()) break;
        }
        EXPECT_NEAR(pathScore(scores, voc, path), best, 1e-9) << "trial " << trial;
    }
}

// --- On a loaded composition ----------------------------------------------------------------

namespace {

struct Loaded {
    std::unique_ptr<ChordMaster> master;
    StatusCode loadStatus = 0;
    Composition& c() { return *master->composition(); }
};

Loaded load(const std::string& text) {
    TempMidiFile file(melodyFromText(text));
    Loaded loaded;
    loaded.master = std::make_unique<ChordMaster>(file.pathString());
    loaded.loadStatus = loaded.master->loadMidi();
    return loaded;
}

const std::string kCadence = R"(time: 4/4
key: C major
C5q E5 G5 E5 | F5 A5 C6 A5 | G5 B5 D6 B5 | C6 G5 E5 C5 |
)";

}  // namespace

TEST(DraftFourRun, SlotsHoldTheChordThenAlternativesThenTonicDominantSubdominant) {
    Loaded loaded = load(kCadence);
    ASSERT_EQ(loaded.loadStatus, status::kOk);
    ASSERT_EQ(loaded.master->harmonise(defaultOptions, ChordMethod::kDraftFour), status::kOk);
    Composition& c = loaded.c();
    EXPECT_EQ(loaded.master->key, keyFromName("C-dur"));
    EXPECT_EQ(c.keyMarks[static_cast<size_t>(keyFromName("C-dur"))], key_mark::kMain);
    EXPECT_EQ(c.keyMarks[static_cast<size_t>(keyFromName("G-dur"))], key_mark::kDominant);
    ASSERT_EQ(c.chordTrack.size(), 4u);
    EXPECT_EQ(c.chordTrack[1].chord, chord("F-dur"));
    for (size_t bar = 0; bar < c.slots.size(); ++bar) {
        const HarmonySlot& slot = c.slots[bar];
        EXPECT_EQ(slot.mainCount, 1);
        EXPECT_EQ(slot.candidates[0], c.chordTrack[bar].chord);
        const auto end = slot.candidates.begin() + slot.mainCount + slot.extraCount;
        EXPECT_GE(end - slot.candidates.begin(), 3);
        for (const ChordCode main : {chord("C-dur"), chord("G-dur", 1), chord("F-dur")}) {
            EXPECT_NE(std::find(slot.candidates.begin(), end, main), end) << "bar " << bar;
        }
        EXPECT_EQ(std::set<ChordCode>(slot.candidates.begin(), end).size(),
                  static_cast<size_t>(end - slot.candidates.begin()));
    }
    // The alternatives of step 7 come right after the chord and have other roots.
    const HarmonySlot& second = c.slots[1];
    EXPECT_NE(tonicOf(chordKey(second.candidates[1])), tonicOf(chordKey(second.candidates[0])));

    HarmonyOptions few = defaultOptions;
    few.MaxNumCustomChords = 1;
    ASSERT_EQ(loaded.master->harmonise(few, ChordMethod::kDraftFour), status::kOk);
    for (const HarmonySlot& slot : c.slots) EXPECT_EQ(slot.extraCount, 1);
}

TEST(DraftFourRun, KeySetByTheUserIsUsed) {
    Loaded loaded = load(kCadence);
    ASSERT_EQ(loaded.loadStatus, status::kOk);
    // What choosing a key does: AutoKey off, the key signature says the key.
    HarmonyOptions options = defaultOptions;
    options.AutoKey = false;
    const KeySignature aMinor = keyToSignature(keyFromName("a-moll"));
    loaded.c().setEvent(event_kind::kKeySignature, 0,
                        packEventValue(aMinor.sharpsFlats, aMinor.minor), 0, false, 0);
    ASSERT_EQ(loaded.master->harmonise(options, ChordMethod::kDraftFour), status::kOk);
    EXPECT_EQ(loaded.master->key, keyFromName("a-moll"));
    EXPECT_EQ(loaded.c().keys.front().key, keyFromName("a-moll"));
    // In C major the first bar is C; in A minor its tonic chord (with the melody's G, Am7).
    EXPECT_EQ(chordKey(loaded.c().chordTrack[0].chord), keyFromName("a-moll"));
}

TEST(DraftFourRun, MelodyWithTooLittleMaterialStillGetsChords) {
    Loaded loaded = load("time: 4/4\nC5h G5 | E5w | G5h C5 |\n");
    ASSERT_EQ(loaded.loadStatus, status::kTooLittleMaterial);
    ASSERT_EQ(loaded.master->harmonise(defaultOptions, ChordMethod::kDraftFour), status::kOk);
    EXPECT_EQ(loaded.master->key, keyFromName("C-dur"));
    for (const ChordTrackEntry& entry : loaded.c().chordTrack) EXPECT_NE(entry.chord, kNoChord);
}

TEST(DraftFourRun, FitIsTheShareOfTheBarsMelodyOnTheChordTones) {
    Loaded loaded = load("time: 4/4\nC5q E5 G5 E5 | C5h D5 | R | C5w |\n");
    ASSERT_EQ(loaded.master->harmonise(defaultOptions, ChordMethod::kDraftFour), status::kOk);
    Composition& c = loaded.c();
    for (ChordTrackEntry& entry : c.chordTrack) entry.chord = chord("C-dur");
    c.chordTrack[3].chord = kNoChord;
    const std::vector<double> fit = chordFit(c);
    ASSERT_EQ(fit.size(), 4u);
    EXPECT_DOUBLE_EQ(fit[0], 1.0);
    EXPECT_DOUBLE_EQ(fit[1], 0.5);
    EXPECT_DOUBLE_EQ(fit[2], -1.0);  // no melody
    EXPECT_DOUBLE_EQ(fit[3], -1.0);  // no chord
}

TEST(DraftFourRun, ProjectReopensWithTheDraftsChords) {
    // Sixths and sevenths too: C6 over the first two bars, Am7 in the third.
    Loaded loaded = load(R"(time: 4/4
C5e E5 G5 C5 E5 G5 A5 A5 | C5 E5 G5 C5 E5 G5 E5 A5 | A4 C5 E5 G5 A4 C5 E5 G5 | F5q D5 C5h |
)");
    ASSERT_EQ(loaded.master->harmonise(defaultOptions, ChordMethod::kDraftFour), status::kOk);
    const Composition& made = loaded.c();
    EXPECT_EQ(made.chordTrack[0].chord, chord("C-dur", 3));
    const std::filesystem::path project =
        std::filesystem::temp_directory_path() /
        ("varimel-draftfour-" + std::to_string(::getpid()) + ".vml");
    std::string error;
    ASSERT_TRUE(ProjectWriter::write(project.string(), made, defaultOptions, error)) << error;
    ChordMaster reopened(project.string());
    HarmonyOptions stored;
    EXPECT_EQ(reopened.loadProject(stored), status::kOk);
    std::filesystem::remove(project);
    ASSERT_NE(reopened.composition(), nullptr);
    EXPECT_EQ(reopened.composition()->chordTrack, made.chordTrack);
    EXPECT_EQ(reopened.composition()->slots, made.slots);
    EXPECT_EQ(stored, defaultOptions);
}

TEST(DraftFourRun, ReharmonisedProjectKeepsTheKeyOfItsSignature) {
    // The melody alone says C major; the file's signature (A minor) tips the balance.
    Loaded loaded =
        load("time: 4/4\nkey: A minor\nA4q C5 E5 C5 | D5 F5 A5 F5 | E5 G5 B5 G5 | C5 E5 G5 C6 |\n");
    ASSERT_EQ(loaded.master->harmonise(defaultOptions, ChordMethod::kDraftFour), status::kOk);
    ASSERT_EQ(loaded.master->key, keyFromName("a-moll"));
    const std::filesystem::path project =
        std::filesystem::temp_directory_path() /
        ("varimel-draftfour-key-" + std::to_string(::getpid()) + ".vml");
    std::string error;
    ASSERT_TRUE(ProjectWriter::write(project.string(), loaded.c(), defaultOptions, error)) << error;
    ChordMaster reopened(project.string());
    HarmonyOptions stored;
    EXPECT_EQ(reopened.loadProject(stored), status::kOk);
    std::filesystem::remove(project);
    ASSERT_EQ(reopened.harmonise(stored, ChordMethod::kDraftFour), status::kOk);
    EXPECT_EQ(reopened.key, keyFromName("a-moll"));
    EXPECT_EQ(reopened.composition()->chordTrack, loaded.c().chordTrack);
}
