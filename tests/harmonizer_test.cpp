// Chord generation: phrase ends, bar scoring, the chord filters and the candidate lists, on
// melodies built to show one behaviour each, and on the sample tunes.
#include "engine/Harmonizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <numeric>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "engine/ScoreOrder.h"
#include "engine/Tonality.h"
#include "engine/Wchordmaster.h"
#include "support/melody.h"

using namespace varimel;
using namespace varimel::test;

namespace {

const KeyIndex kCMajor = keyFromName("C-dur");

ChordCode chord(std::string_view keyName, int type) {
    return makeChordCode(keyFromName(keyName), type);
}

// Eighths with no rest, no repeated note and nothing long: no cadence rule holds in this bar.
constexpr std::string_view kRunning = "E5e F5 G5 A5 B5 A5 G5 F5";

// A 4/4 melody text from its bars.
std::string bars(std::initializer_list<std::string_view> content) {
    std::string text = "time: 4/4\n";
    for (const std::string_view bar : content) {
        text += bar;
        text += " | ";
    }
    return text;
}

// The harmonizer needs a loaded, analysed melody and a key; the key marks are set as key
// recognition sets them for the key alone.
struct Harmonised {
    std::unique_ptr<ChordMaster> master;
    ChordDictionary dictionary;
    std::unique_ptr<Harmonizer> harmonizer;

    Composition& c() { return *master->composition(); }
    const HarmonySlot& slot(int bar) { return c().slots.at(static_cast<size_t>(bar)); }
    int kind(int bar) { return slot(bar).cadenceKind; }
    ChordCode mainChord(int bar) {
        return slot(bar).mainCount > 0 ? slot(bar).candidates[0] : kNoChord;
    }
    std::vector<ChordCode> mains(int bar) {
        const HarmonySlot& s = slot(bar);
        return {s.candidates.begin(), s.candidates.begin() + s.mainCount};
    }
    std::vector<ChordCode> extras(int bar) {
        const HarmonySlot& s = slot(bar);
        return {s.candidates.begin() + s.mainCount,
                s.candidates.begin() + s.mainCount + s.extraCount};
    }
};

void markKey(Composition& c, KeyIndex key) {
    c.keys = {KeyRecord{static_cast<int16_t>(key)}};
    c.keyMarks.fill(key_mark::kUnused);
    const RelatedKeys related = relatedKeys(key);
    c.keyMarks[static_cast<size_t>(related.dominant)] = key_mark::kDominant;
    c.keyMarks[static_cast<size_t>(related.subdominant)] = key_mark::kSubdominant;
    c.keyMarks[static_cast<size_t>(key)] = key_mark::kMain;
}

// Loads the file, sets the key (the file's key signature when none is given) and harmonises.
std::unique_ptr<Harmonised> harmoniseFile(const std::string& path,
                                          const HarmonyOptions& options = defaultOptions,
                                          KeyIndex key = kNoKey) {
    auto h = std::make_unique<Harmonised>();
    h->master = std::make_unique<ChordMaster>(path);
    const StatusCode loaded = h->master->loadMidi();
    EXPECT_EQ(loaded, status::kOk) << path;
    if (h->master->composition() == nullptr) return h;
    if (key == kNoKey) key = h->c().fileKey >= 0 ? h->c().fileKey : kCMajor;
    markKey(h->c(), key);
    h->dictionary.selectKey(key);
    h->harmonizer = std::make_unique<Harmonizer>(h->c(), h->dictionary, options);
    EXPECT_TRUE(h->harmonizer->prepare());
    h->harmonizer->run();
    return h;
}

std::unique_ptr<Harmonised> harmoniseText(const std::string& text,
                                          const HarmonyOptions& options = defaultOptions,
                                          KeyIndex key = kCMajor) {
    TempMidiFile file(melodyFromText(text));
    return harmoniseFile(file.pathString(), options, key);
}

HarmonyOptions draft(int number) {
    HarmonyOptions options = defaultOptions;
    applyDraft(number, options);
    return options;
}

bool contains(const std::vector<ChordCode>& chords, ChordCode code) {
    return std::find(chords.begin(), chords.end(), code) != chords.end();
}

int rootOf(ChordCode code) {
    return tonicOf(chordKey(code));
}

const std::string kTwinkle = R"(time: 4/4
C5q C5 G5 G5 | A5 A5 G5h | F5q F5 E5 E5 | D5 D5 C5h |
G5q G5 F5 F5 | E5 E5 D5h | G5q G5 F5 F5 | E5 E5 D5h |
C5q C5 G5 G5 | A5 A5 G5h | F5q F5 E5 E5 | D5 D5 C5h |
)";

}  // namespace

// --- Whole tunes --------------------------------------------------------------------------

TEST(Harmonizer, TwinkleGetsTonicSubdominantAndDominantChords) {
    const auto plain = harmoniseText(kTwinkle, draft(kDraftII));
    for (int bar = 0; bar < 12; ++bar) {
        const int root = rootOf(plain->mainChord(bar));
        EXPECT_TRUE(root == 0 || root == 5 || root == 7)
            << "bar " << bar << ": " << chordName(plain->mainChord(bar));
    }
    // Either method opens and closes on the tonic and hears the ends of the lines as cadences.
    for (const int d : {kDraftI, kDraftII}) {
        const auto h = harmoniseText(kTwinkle, draft(d));
        EXPECT_EQ(h->mainChord(0), chord("C-dur", 0)) << "draft " << d;
        EXPECT_EQ(h->mainChord(3), chord("C-dur", 0)) << "draft " << d;
        EXPECT_EQ(h->mainChord(11), chord("C-dur", 0)) << "draft " << d;
        for (const int bar : {3, 7, 11}) EXPECT_NE(h->kind(bar), 0) << "bar " << bar;
    }
}

// --- Start bar, held bars and cadence bars -------------------------------------------------

TEST(Harmonizer, PhraseCountingStartsThreeBarsAfterTheFirstFullBar) {
    struct Case {
        std::string_view pickup;
        int cadenceStart;
    };
    // A pick-up leaving more than half of its bar silent is not counted as a bar.
    for (const Case& c :
         {Case{"", 3}, Case{"C5q |", 4}, Case{"C5q D5 |", 3}, Case{"C5q D5 E5 |", 3}}) {
        std::string text = "time: 4/4\n" + std::string(c.pickup);
        for (int bar = 0; bar < 10; ++bar) text += std::string(kRunning) + " | ";
        const auto h = harmoniseText(text);
        EXPECT_EQ(h->harmonizer->firstBar(), 0) << c.pickup;
        EXPECT_EQ(h->harmonizer->cadenceStart(), c.cadenceStart) << c.pickup;
        // The pick-up bar is left without a chord; a melody from the bar line opens on the tonic.
        EXPECT_EQ(h->slot(0).mainCount > 0, c.pickup.empty()) << c.pickup;
    }
}

TEST(Harmonizer, HeldBarsAreFoundByDurationOrBySilenceAfterTheNote) {
    const auto h = harmoniseText(bars({kRunning, kRunning, kRunning, kRunning, "C5w", "E5h rh",
                                       kRunning, kRunning, "R", kRunning, kRunning, "C6h rh"}));
    const NoteRecord* whole = h->c().noteTracks().note(h->harmonizer->decisiveNote(4), 0);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(whole->duration, 1920);
    EXPECT_EQ(h->kind(4), cadence_kind::kHeld);
    EXPECT_EQ(h->kind(5), cadence_kind::kHeld);   // a half note and a half rest
    EXPECT_EQ(h->kind(7), cadence_kind::kHeld);   // its last eighth rings into an empty bar
    EXPECT_EQ(h->kind(11), cadence_kind::kHeld);  // the melody's end counts to its bar line
    EXPECT_EQ(h->kind(6), cadence_kind::kNone);
    EXPECT_EQ(h->kind(8), cadence_kind::kNoOnset);
    EXPECT_EQ(h->mainChord(8), kNoChord);
    EXPECT_EQ(h->harmonizer->lastDecisiveBar(), 11);
}

// Eighths of kRunning as builder steps, one bar of them.
std::vector<Step> runningBar() {
    std::vector<Step> steps;
    for (const char* pitch : {"E5", "F5", "G5", "A5", "B5", "A5", "G5", "F5"}) {
        steps.push_back({pitch, 0.5_beat});
    }
    return steps;
}

TEST(Harmonizer, ANoteMustFillNineTenthsOfItsBarToHoldIt) {
    // 4/4 at 480 ticks: a bar of 1920. A D (no tonic-triad degree, so no other rule marks the
    // bar held) lasting 85% and then 90% of its bar, each followed by an F up to the bar line.
    std::vector<Step> steps;
    for (int bar = 0; bar < 4; ++bar) {
        for (const Step& step : runningBar()) steps.push_back(step);
    }
    steps.push_back({"D5", 1632_ticks});
    steps.push_back({"F5", 288_ticks});
    steps.push_back({"D5", 1728_ticks});
    steps.push_back({"F5", 192_ticks});
    for (int bar = 0; bar < 4; ++bar) {
        for (const Step& step : runningBar()) steps.push_back(step);
    }
    TempMidiFile file(melody("4/4", steps));
    const auto h = harmoniseFile(file.pathString());
    ASSERT_EQ(h->c().barCount, 10);
    ASSERT_EQ(h->harmonizer->cadenceStart(), 3);
    EXPECT_NE(h->kind(4), cadence_kind::kHeld) << "85% of the bar";
    EXPECT_EQ(h->kind(5), cadence_kind::kHeld) << "90% of the bar";
    const NoteRecord* held = h->c().noteTracks().note(h->harmonizer->decisiveNote(5), 0);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->duration, 1728);
}

TEST(Harmonizer, AlteredSixthAndSeventhDegreesWeighThreeInTheBarScores) {
    // Bar 1 holds A B C G#. Per key: the weight of each note's degree (I, III, V: 6; II, IV: 2;
    // VI, VII: 4; altered VI or VII: 3; any other alteration: 0), plus 2 when I, III and V are
    // all there, else 1 for I and III.
    TempMidiFile file(melodyFromText(bars({kRunning, "A4q B4 C5 G#4", kRunning, kRunning})));
    const auto h = harmoniseFile(file.pathString(), defaultOptions, keyFromName("a-moll"));
    const std::array<float, kKeyCount> scores = h->harmonizer->noteScores(1);
    auto score = [&](std::string_view key) {
        return scores[static_cast<size_t>(keyFromName(key))];
    };
    // A minor: I 6 + II 2 + III 6 + raised VII 3, and 1 for I and III.
    EXPECT_EQ(score("a-moll"), 18.0f);
    // C major: VI 4 + VII 4 + I 6 + G# as the lowered VI 3.
    EXPECT_EQ(score("C-dur"), 17.0f);
    // E major: IV 2 + V 6 + III 6 + C as the lowered VI 3.
    EXPECT_EQ(score("E-dur"), 17.0f);
    // G major: II 2 + III 6 + IV 2; G# is its raised I and earns nothing.
    EXPECT_EQ(score("G-dur"), 10.0f);
}

TEST(Harmonizer, RestsMarkCadencesAtPhraseMiddleAndEndWithTheirPairedBar) {
    constexpr std::string_view kRestAtEnd = "E5e F5 G5 A5 B5 A5 G5 r";
    // The fourth bar and the eighth: both halves of the first phrase found in place.
    const auto inPlace = harmoniseText(bars({kRunning, kRunning, kRunning, kRestAtEnd, kRunning,
                                             kRunning, kRunning, kRestAtEnd, kRunning, kRunning}));
    EXPECT_EQ(inPlace->kind(3), 2);
    EXPECT_EQ(inPlace->kind(7), 2);
    EXPECT_EQ(inPlace->c().noteTracks().note(inPlace->harmonizer->decisiveNote(3), 0)->key, 79);

    // A bar early: the cadence moves to bar 2, and its pair is taken three bars after it.
    const auto early =
        harmoniseText(bars({kRunning, kRunning, kRestAtEnd, kRunning, kRunning, kRestAtEnd,
                            kRestAtEnd, kRunning, kRunning, kRunning, kRunning, kRunning}));
    EXPECT_EQ(early->kind(2), 2);
    EXPECT_EQ(early->kind(5), 2);
    EXPECT_EQ(early->kind(3), 0);
    EXPECT_EQ(early->kind(6), 0);
}

TEST(Harmonizer, CadenceBarsChooseOnlyTriadsAndDominantSevenths) {
    // The same notes before phrase counting starts and at the first phrase middle, where the
    // quarter-note C marks a cadence.
    constexpr std::string_view kSixth = "C5q E5 G5 A5";
    const auto h =
        harmoniseText(bars({kRunning, kSixth, kRunning, kSixth, kRunning, kRunning, kRunning,
                            kRunning, kRunning, kRunning, kRunning, kRunning}));
    ASSERT_EQ(h->kind(1), 0);
    EXPECT_EQ(h->mainChord(1), chord("C-dur", 3));  // C6
    EXPECT_EQ(h->kind(3), 5);                       // rule 4: a long tonic
    EXPECT_EQ(h->mainChord(3), chord("C-dur", 0));
    for (const ChordCode code : h->mains(3)) EXPECT_LE(chordType(code), 1) << chordName(code);
}

TEST(Harmonizer, TheStepIntoAPhraseEndDecidesTheCadence) {
    // Falling to a long tonic closes on the tonic; a short tonic after a longer supertonic is
    // heard over the dominant.
    const auto full =
        harmoniseText(bars({kRunning, kRunning, kRunning, "G5e F5 E5 D5 C5h", kRunning, kRunning,
                            kRunning, kRunning, kRunning, kRunning, kRunning, kRunning}));
    ASSERT_EQ(full->kind(3), 5);
    EXPECT_EQ(rootOf(full->mainChord(3)), 0);

    const auto half =
        harmoniseText(bars({kRunning, kRunning, kRunning, "G5e F5 D5h C5q", kRunning, kRunning,
                            kRunning, kRunning, kRunning, kRunning, kRunning, kRunning}));
    ASSERT_EQ(half->kind(3), 5);
    EXPECT_EQ(half->mainChord(3), chord("G-dur", 0));
    // Only the dominant keys kept a score: few chords, so the piece's own chords come first.
    const std::vector<ChordCode> extras = half->extras(3);
    ASSERT_GE(extras.size(), 3u);
    EXPECT_EQ(extras[0], chord("C-dur", 0));
    EXPECT_EQ(extras[1], chord("G-dur", 1));
    EXPECT_EQ(extras[2], chord("F-dur", 0));
}

TEST(Harmonizer, CadenceBarWithoutCadenceBonusStillGetsAChord) {
    // The first G of bar 3 is followed by a rest (rule 1) and preceded by one, so no melodic
    // step leads into it and no key earns a cadence bonus.
    const auto h = harmoniseText(bars({kRunning, kRunning, kRunning, "rq G5 rq G5", kRunning,
                                       kRunning, kRunning, kRunning, kRunning, kRunning}));
    ASSERT_EQ(h->kind(3), 2);
    const NoteRecord* decisive = h->c().noteTracks().note(h->harmonizer->decisiveNote(3), 0);
    ASSERT_NE(decisive, nullptr);
    EXPECT_EQ(decisive->position.beat, 1);
    EXPECT_GE(h->slot(3).mainCount, 1);
    for (const ChordCode code : h->mains(3)) EXPECT_LE(chordType(code), 1) << chordName(code);
}

TEST(Harmonizer, BarWithFewPitchClassesBorrowsItsNeighboursNotes) {
    // A bar of one long E says little; the A before it and the C after it make it A-minor-like.
    const auto h = harmoniseText(bars({"C5e D5 E5 F5 G5 F5 D5 A5", "E5w",
                                       "C6e B5 A5 G5 F5 E5 D5 C5", kRunning, kRunning, kRunning}));
    const ChordCode main = h->mainChord(1);
    const ChordTones tones = chordTones(chordKey(main), chordType(main));
    EXPECT_NE(std::find(tones.begin(), tones.end(), 9), tones.end()) << chordName(main);
}

// --- Order of bars and the chord filters ---------------------------------------------------

TEST(Harmonizer, SmartHarmonyBuilderChecksABarAgainstTheFollowingChord) {
    // Bar 5 spells F sharp major, a chord the C major dictionary does not know. The unusual-
    // chord filter compares it with the bar harmonised just before: bar 4 when working
    // forwards, the empty bar 6 when working backwards from the final held note.
    const std::string text =
        bars({kRunning, kRunning, kRunning, kRunning, kRunning, "F#5e A#5 C#6 A#5 F#5 C#6 F#5 A#5",
              "R", kRunning, kRunning, kRunning, kRunning, "C6w"});
    HarmonyOptions options = defaultOptions;
    options.CSFilter = true;

    options.SHBmode = 0;
    const auto forwards = harmoniseText(text, options);
    EXPECT_NE(forwards->mainChord(5), chord("Fis-dur", 0));

    options.SHBmode = 1;
    const auto backwards = harmoniseText(text, options);
    ASSERT_EQ(backwards->harmonizer->lastDecisiveBar(), 11);
    EXPECT_EQ(backwards->mainChord(5), chord("Fis-dur", 0));
}

TEST(Harmonizer, UnusualChordFilterKeepsMainChordsInsideTheDictionary) {
    const std::string text = bars(
        {kRunning, kRunning, "F#5e A#5 C#6 A#5 F#5 A#5 C#6 A#5", kRunning, kRunning, kRunning});
    HarmonyOptions options = defaultOptions;
    options.SHBmode = 0;
    const auto free = harmoniseText(text, options);
    EXPECT_EQ(free->mainChord(2), chord("Fis-dur", 0));

    options.CSFilter = true;
    const auto filtered = harmoniseText(text, options);
    for (int bar = 1; bar < 6; ++bar) {
        for (const ChordCode code : filtered->mains(bar)) {
            EXPECT_TRUE(filtered->dictionary.isKnownChordKey(chordKey(code)))
                << "bar " << bar << ": " << chordName(code);
        }
    }
}

TEST(Harmonizer, DissonanceFilterAvoidsChordsClashingWithAHeldNote) {
    // E sounds through most of bar 1; F major would put F a semitone above it.
    const std::string text =
        bars({kRunning, "E5h.. D5s F5s", kRunning, kRunning, kRunning, kRunning});
    const auto free = harmoniseText(text);
    EXPECT_EQ(free->mainChord(1), chord("F-dur", 0));

    HarmonyOptions options = defaultOptions;
    options.DSFilter = true;
    const auto filtered = harmoniseText(text, options);
    for (const ChordCode code : filtered->mains(1)) {
        EXPECT_NE(chordKey(code), keyFromName("F-dur")) << chordName(code);
        EXPECT_NE(chordKey(code), keyFromName("d-moll")) << chordName(code);
    }

    // B and C count as a semitone apart only across the octave, which the filter ignores.
    const auto heldB = harmoniseText(
        bars({kRunning, "B5h.. D6s G5s", kRunning, kRunning, kRunning, kRunning}), draft(kDraftII));
    const std::vector<ChordCode> offered = [&] {
        std::vector<ChordCode> all = heldB->mains(1);
        for (const ChordCode code : heldB->extras(1)) all.push_back(code);
        return all;
    }();
    EXPECT_TRUE(std::any_of(offered.begin(), offered.end(), [](ChordCode code) {
        const ChordTones tones = chordTones(chordKey(code), chordType(code));
        return std::find(tones.begin(), tones.end(), 0) != tones.end();
    }));
}

// --- Candidate lists -----------------------------------------------------------------------

TEST(Harmonizer, CustomChordLimitsHoldForEverySlot) {
    HarmonyOptions options = draft(kDraftII);
    ASSERT_EQ(options.MaxNumCustomChords, 5);
    const auto drafted = harmoniseText(kTwinkle, options);
    bool reachedLimit = false;
    for (const HarmonySlot& slot : drafted->c().slots) {
        EXPECT_LE(slot.mainCount, 3);
        EXPECT_LE(slot.extraCount, 5);
        reachedLimit = reachedLimit || slot.extraCount == 5;
    }
    EXPECT_TRUE(reachedLimit);

    // More custom chords than places in a slot are cut to what fits.
    options = defaultOptions;
    options.MaxNumCustomChords = 40;
    const auto generous = harmoniseText(kTwinkle, options);
    reachedLimit = false;
    for (const HarmonySlot& slot : generous->c().slots) {
        EXPECT_LE(slot.extraCount, Harmonizer::kMaxCustomChords);
        EXPECT_LE(slot.mainCount + slot.extraCount, 12);
        reachedLimit = reachedLimit || slot.extraCount == Harmonizer::kMaxCustomChords;
    }
    EXPECT_TRUE(reachedLimit);

    options.MaxNumCustomChords = 0;
    const auto none = harmoniseText(kTwinkle, options);
    for (const HarmonySlot& slot : none->c().slots) EXPECT_EQ(slot.extraCount, 0);
    EXPECT_EQ(none->mainChord(0), chord("C-dur", 0));
}

TEST(Harmonizer, EmptyBarIsOfferedThePieceChordsThenItsNeighbours) {
    const auto h = harmoniseText(bars(
        {kRunning, kRunning, kRunning, kRunning, kRunning, "C6h rh", "R", kRunning, kRunning}));
    ASSERT_EQ(h->slot(6).mainCount, 0);
    const std::vector<ChordCode> extras = h->extras(6);
    ASSERT_EQ(extras.size(), 9u);
    EXPECT_EQ(extras[0], chord("C-dur", 0));
    EXPECT_EQ(extras[1], chord("G-dur", 1));
    EXPECT_EQ(extras[2], chord("F-dur", 0));
    // The following bar has its turn first.
    const std::vector<ChordCode> following = h->mains(7);
    ASSERT_FALSE(following.empty());
    ASSERT_FALSE(contains({extras.begin(), extras.begin() + 3}, following[0]));
    EXPECT_EQ(extras[3], following[0]);
    std::vector<ChordCode> neighbours;
    for (const int bar : {5, 7}) {
        for (const ChordCode code : h->mains(bar)) neighbours.push_back(code);
        for (const ChordCode code : h->extras(bar)) neighbours.push_back(code);
    }
    for (size_t i = 3; i < extras.size(); ++i) {
        EXPECT_TRUE(contains(neighbours, extras[i])) << chordName(extras[i]);
        EXPECT_EQ(std::count(extras.begin(), extras.end(), extras[i]), 1);
    }
}

// --- Preparation ---------------------------------------------------------------------------

TEST(Harmonizer, CannotPrepareWithoutAKey) {
    TempMidiFile file(melodyFromText(kTwinkle));
    ChordMaster master(file.pathString());
    ASSERT_EQ(master.loadMidi(), status::kOk);
    Composition& c = *master.composition();
    c.keys.clear();
    ChordDictionary dictionary;
    Harmonizer harmonizer(c, dictionary);
    EXPECT_FALSE(harmonizer.prepare());
    EXPECT_TRUE(harmonizer.failed());
    harmonizer.run();
    EXPECT_TRUE(c.slots.empty());
}

// --- Every sample tune ---------------------------------------------------------------------

class HarmonizerSample : public testing::TestWithParam<const char*> {};

TEST_P(HarmonizerSample, EveryBarWithMelodyGetsAChordWithinTheSlotLimits) {
    const std::string path = std::string(VARIMEL_SAMPLES_DIR) + "/" + GetParam();
    for (const int d : {kDraftI, kDraftII}) {
        const auto h = harmoniseFile(path, draft(d));
        ASSERT_NE(h->harmonizer, nullptr);
        Composition& c = h->c();
        const int32_t upbeat = c.noteTracks().upbeat(0);
        const auto& firstNote = c.firstNoteOfBar;
        ASSERT_EQ(c.slots.size(), static_cast<size_t>(c.barCount));
        for (int bar = 0; bar < c.barCount; ++bar) {
            const HarmonySlot& slot = h->slot(bar);
            const bool hasOnset = firstNote[static_cast<size_t>(bar)] >= 0;
            SCOPED_TRACE("draft " + std::to_string(d) + ", bar " + std::to_string(bar));
            EXPECT_LE(slot.mainCount, 3);
            EXPECT_LE(slot.extraCount, d == kDraftII ? 5 : 9);
            const std::vector<ChordCode> all(
                slot.candidates.begin(),
                slot.candidates.begin() + slot.mainCount + slot.extraCount);
            for (const ChordCode code : all) {
                EXPECT_TRUE(isValidKey(chordKey(code)) && chordType(code) < kChordTypeCount);
                EXPECT_EQ(std::count(all.begin(), all.end(), code), 1) << chordName(code);
            }
            if (hasOnset && (bar > 0 || upbeat == 0)) {
                EXPECT_GE(slot.mainCount, 1);
            }
            if (slot.cadenceKind > 0) {
                for (const ChordCode code : h->mains(bar)) EXPECT_LE(chordType(code), 1);
            }
            if (bar >= h->harmonizer->cadenceStart() && !hasOnset) {
                EXPECT_EQ(slot.cadenceKind, cadence_kind::kNoOnset);
                EXPECT_EQ(slot.mainCount, 0);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, HarmonizerSample,
                         testing::Values("twinkle.mid", "ode_to_joy.mid", "greensleeves.mid",
                                         "korobeiniki.mid", "drunken_sailor.mid",
                                         "yankee_doodle.mid", "oh_susanna.mid", "silent_night.mid",
                                         "row_your_boat.mid", "good_morning_to_all.mid",
                                         "au_clair_de_la_lune.mid"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             name = name.substr(0, name.find('.'));
                             std::erase(name, '_');
                             return name;
                         });

// The packed score order answers what a stable sort by descending score does: ties in list
// order (or index order from any start), -0 equal to +0, negative scores, and lists longer than
// the packed array.
TEST(ScoreOrder, AgreesWithAStableSortOnTiesSignedZerosAndLongLists) {
    std::mt19937 random(7);
    const float values[] = {0.0f, -0.0f, 1.0f, -1.0f, 2.5f, 3.0f, -7.25f};
    for (int round = 0; round < 300; ++round) {
        const size_t n = static_cast<size_t>(round % 41);
        std::vector<float> scores(n);
        for (float& score : scores) score = values[random() % std::size(values)];
        auto scoreOf = [&](int i) { return scores[static_cast<size_t>(i)]; };
        std::vector<int> expected(n);
        std::iota(expected.begin(), expected.end(), 0);
        std::shuffle(expected.begin(), expected.end(), random);
        std::vector<int> listed = expected;
        std::vector<int> fromAnyStart = expected;
        std::stable_sort(expected.begin(), expected.end(),
                         [&](int a, int b) { return scoreOf(a) > scoreOf(b); });
        sortByScore(std::span<int>(listed), scoreOf);
        EXPECT_EQ(listed, expected) << "round " << round;

        std::sort(expected.begin(), expected.end(), [&](int a, int b) {
            return scoreOf(a) != scoreOf(b) ? scoreOf(a) > scoreOf(b) : a < b;
        });
        sortIndicesByScore(std::span<int>(fromAnyStart), scoreOf);
        EXPECT_EQ(fromAnyStart, expected) << "round " << round;
    }
    std::vector<int> counts = {3, -2, 3, 0, -2};
    std::vector<int> order = {0, 1, 2, 3, 4};
    sortByScore(std::span<int>(order), [&](int i) { return counts[static_cast<size_t>(i)]; });
    EXPECT_EQ(order, (std::vector<int>{0, 2, 3, 1, 4}));
}
