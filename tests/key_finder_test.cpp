// Key recognition: fits and statistics, the vote of the three profiles, segmentation, the final
// decision with its statuses, and the key marks the harmonizer reads.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "engine/KeyFinder.h"
#include "engine/Tonality.h"
#include "engine/Wchordmaster.h"
#include "support/melody.h"

namespace varimel {
namespace {

using test::melody;
using test::operator""_beat;
using test::Step;
using test::TempMidiFile;

constexpr KeyIndex kFDur = 6, kCDur = 7, kGDur = 8, kDDur = 9, kADur = 10, kEDur = 11;
constexpr KeyIndex kBDur = 5, kCMoll = 16, kGMoll = 17, kDMoll = 18, kAMoll = 19, kEMoll = 20;
constexpr int kQuarter = 480;

// "C", "F#", "Bb" (optionally followed by an octave digit) to a pitch class.
int pitchClassOf(std::string_view name) {
    static const std::map<char, int> letters = {{'C', 0}, {'D', 2}, {'E', 4}, {'F', 5},
                                                {'G', 7}, {'A', 9}, {'B', 11}};
    int pc = letters.at(name[0]);
    for (std::size_t i = 1; i < name.size() && (name[i] == '#' || name[i] == 'b'); ++i) {
        pc += name[i] == '#' ? 1 : -1;
    }
    return (pc + 12) % 12;
}

int midiPitch(std::string_view name) {
    const std::size_t digit = name.find_first_of("0123456789");
    return 12 * (std::stoi(std::string(name.substr(digit))) + 1) + pitchClassOf(name);
}

// A melody written straight into list 0: bars separated by "|", notes by blanks, each note a
// quarter unless ":n" makes it n quarters. Only bars and durations matter to the finder.
std::unique_ptr<Composition> compose(std::string_view text) {
    auto composition = std::make_unique<Composition>();
    std::istringstream in{std::string(text)};
    std::string token;
    int bar = 0, beat = 0;
    while (in >> token) {
        if (token == "|") {
            ++bar;
            beat = 0;
            continue;
        }
        int quarters = 1;
        if (const auto colon = token.find(':'); colon != std::string::npos) {
            quarters = std::stoi(token.substr(colon + 1));
            token.resize(colon);
        }
        const int pitch = midiPitch(token);
        composition->noteTracks().addNote(
            static_cast<uint8_t>(pitch), 0, 100 << 8,
            SongPosition{static_cast<uint16_t>(bar), static_cast<uint8_t>(beat), 0},
            static_cast<uint16_t>(quarters * kQuarter), static_cast<uint8_t>(pitch % 12));
        beat += quarters;
    }
    return composition;
}

// The same bar text repeated.
std::string repeatBars(std::string_view bar, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += (i ? " | " : "") + std::string(bar);
    return text;
}

// One count per named note: "C D E C" counts C twice.
PitchClassCounts countsOf(std::string_view names) {
    PitchClassCounts counts{};
    std::istringstream in{std::string(names)};
    std::string name;
    while (in >> name) ++counts[static_cast<std::size_t>(pitchClassOf(name))];
    return counts;
}

HarmonyOptions optionsWith(void (*change)(HarmonyOptions&)) {
    HarmonyOptions options = defaultOptions;
    change(options);
    return options;
}

// A finder over a melody, with the statistics already computed.
struct Recognition {
    std::unique_ptr<Composition> composition;
    std::unique_ptr<KeyFinder> finder;

    explicit Recognition(std::string_view text, const HarmonyOptions& options = defaultOptions)
        : composition(compose(text)) {
        EXPECT_EQ(computeKeyStatistics(*composition), status::kOk);
        finder = std::make_unique<KeyFinder>(*composition, options);
    }
    KeyStatisticsView statistics() { return KeyStatisticsView(*composition->keyStatistics); }
    std::vector<KeyIndex> keysMarked(uint8_t mark) const {
        std::vector<KeyIndex> keys;
        for (KeyIndex k = 0; k < kKeyCount; ++k) {
            if (composition->keyMarks[static_cast<std::size_t>(k)] == mark) keys.push_back(k);
        }
        return keys;
    }
};

// Loads a melody through the chord master, as a harmonisation would find it.
struct Loaded {
    std::unique_ptr<ChordMaster> master;
    Composition& composition() { return *master->composition(); }
};

Loaded load(std::string_view meter, const std::vector<Step>& steps,
            const test::MelodyOptions& options = {}) {
    TempMidiFile file(melody(meter, steps, options));
    Loaded loaded{std::make_unique<ChordMaster>(file.pathString())};
    const StatusCode status = loaded.master->loadMidi();
    EXPECT_TRUE(status == status::kOk || status == status::kTooLittleMaterial) << status;
    EXPECT_NE(loaded.master->composition(), nullptr);
    return loaded;
}

std::vector<Step> quarters(std::string_view names) {
    std::vector<Step> steps;
    std::istringstream in{std::string(names)};
    std::string name;
    while (in >> name) steps.push_back({name, 1_beat});
    return steps;
}

// --- Fits ------------------------------------------------------------------------------------

TEST(KeyFit, MajorScaleFitsItsKeyAndTheRelativeMinorExactly) {
    const FitResult result = fitOf(countsOf("C D E F G A B"));
    EXPECT_TRUE(result.exact);
    for (KeyIndex k = 0; k < kKeyCount; ++k) {
        SCOPED_TRACE(std::string(keyName(k)));
        EXPECT_EQ(result.fits[static_cast<std::size_t>(k)] == 1.0f, k == kCDur || k == kAMoll);
    }
}

TEST(KeyFit, RaisedSeventhKeepsAMinorExactOnlyWhileRarerThanTheSeventh) {
    // One G# against three G: A minor's VII keeps 3/4 and its raised VII adds the other 1/4.
    // C major cannot do the same: G# also stands against its V.
    const FitResult rare = fitOf(countsOf("A B C D E F G G G G#"));
    EXPECT_EQ(rare.fits[kAMoll], 1.0f);
    EXPECT_LT(rare.fits[kCDur], 1.0f);
    // Four G# against three G: the raised VII is no longer the minority and adds nothing.
    const FitResult common = fitOf(countsOf("A B C D E F G G G G# G# G# G#"));
    EXPECT_FALSE(common.exact);
    EXPECT_NEAR(common.fits[kAMoll], (6.0 + 3.0 / 7.0) / 7.0, 1e-6);
}

TEST(KeyFit, AlteredDegreeAsFrequentAsItsPlainFormIsNoExactFit) {
    // B and Bb equally often: C major's VII keeps half, and its lowered VII, no longer the
    // minority, adds nothing; F major's IV and raised IV likewise.
    const FitResult result = fitOf(countsOf("C D E F G A B Bb"));
    EXPECT_FALSE(result.exact);
    EXPECT_FLOAT_EQ(result.fits[kCDur], 6.5f / 7.0f);
    EXPECT_FLOAT_EQ(result.fits[kFDur], 6.5f / 7.0f);
}

TEST(KeyFit, DegreeWithNeitherItsNoteNorItsNeighbourAddsNothing) {
    // Without F and F#, C major loses its IV and G major its VII: both keep 6 of 7.
    const FitResult result = fitOf(countsOf("C D E G A B"));
    EXPECT_FALSE(result.exact);
    EXPECT_FLOAT_EQ(result.fits[kCDur], 6.0f / 7.0f);
    EXPECT_FLOAT_EQ(result.fits[kGDur], 6.0f / 7.0f);
    EXPECT_FALSE(fitOf(PitchClassCounts{}).exact);
}

// --- Statistics block ------------------------------------------------------------------------

TEST(KeyStatistics, CountsDurationsMasksAndProfileScoresOfTheMelody) {
    Recognition r("C5 E5 G5 C5 | F#5:2 G4:2");
    KeyStatisticsView view = r.statistics();
    EXPECT_EQ(view.counts()[0], 2);
    EXPECT_EQ(view.counts()[7], 2);
    EXPECT_EQ(view.counts()[6], 1);
    EXPECT_EQ(view.durations()[7], 3 * kQuarter);
    EXPECT_EQ(view.durations()[6], 2 * kQuarter);

    // C major: I, III and V; F# is its raised IV, an alteration that leaves no mark.
    EXPECT_EQ(view.degreeMasks()[kCDur], degree_bit::kTriad);
    // A minor: III, V, VII, and F# as its raised VI.
    EXPECT_EQ(view.degreeMasks()[kAMoll], (1 << 2) | (1 << 4) | (1 << 6) | degree_bit::kAlteredVI);

    EXPECT_EQ(view.countScores(0)[kCDur], 6 * 2 + 6 * 1 + 6 * 2);
    EXPECT_EQ(view.countScores(0)[kAMoll], 6 * 2 + 6 * 1 + 3 * 2 + 3 * 1);
    EXPECT_EQ(view.countScores(1)[kAMoll], 5 * 2 + 5 * 1 + 5 * 2);
    EXPECT_EQ(view.countScores(2)[kGDur], 5 * 2);
    EXPECT_EQ(view.durationScores(0)[kCDur], 6 * (2 + 1 + 3) * kQuarter);
    EXPECT_EQ(view.votes()[kCDur], 0);
}

TEST(KeyStatistics, GlobalDecisionStoresTheFitsBitwiseInTheBlock) {
    Recognition r("C5 D5 E5 F5 | G5 A5 B5 C6");
    r.finder->globalDecision();
    KeyStatisticsView view = r.statistics();
    for (KeyIndex k = 0; k < kKeyCount; ++k) {
        EXPECT_EQ(view.fit(k), r.finder->globalFits()[static_cast<std::size_t>(k)]);
    }
    EXPECT_EQ((*r.composition->keyStatistics)[key_statistics::kFits + kCDur], 0x3F800000);
}

// --- acceptKey -------------------------------------------------------------------------------

struct Acceptance : ::testing::Test {
    Composition composition;
    KeyFinder finder{composition, defaultOptions};
    KeyFits fits = [] {
        KeyFits f;
        f.fill(1.0f);
        return f;
    }();
    std::array<int32_t, kKeyCount> votes{};

    bool accepts(KeyIndex key, std::string_view melodyNotes) {
        const PitchClassCounts counts = countsOf(melodyNotes);
        return finder.acceptKey(key, fits, counts, votes);
    }
};

TEST_F(Acceptance, MinorKeyWithoutItsFlatSeventhIsAcceptedWhenTheRaisedSeventhIsThere) {
    EXPECT_TRUE(accepts(kCMoll, "C D Eb F G Ab B"));
    EXPECT_FALSE(accepts(kCMoll, "C D Eb F G Ab"));
}

TEST_F(Acceptance, MajorKeyWithoutItsSharpSeventhIsAcceptedWhenTheLoweredSeventhIsThere) {
    EXPECT_TRUE(accepts(kADur, "A B C# D E F# G"));
    EXPECT_FALSE(accepts(kADur, "A B C# D E F#"));
}

TEST_F(Acceptance, GAndDMajorAndMinorNeedEveryAccidentalOfTheirSignature) {
    EXPECT_FALSE(accepts(kGDur, "G A B C D E F"));
    EXPECT_FALSE(accepts(kDDur, "D E F# G A B C"));
    EXPECT_FALSE(accepts(kGMoll, "G A Bb C D E F"));
    EXPECT_FALSE(accepts(kDMoll, "D E F G A B C"));
    EXPECT_TRUE(accepts(kGDur, "G A B C D E F#"));
    EXPECT_TRUE(accepts(kDMoll, "D E F G A Bb C"));
}

TEST_F(Acceptance, MissingAccidentalOtherThanSixthOrSeventhIsNeverExcused) {
    EXPECT_FALSE(accepts(kFDur, "F G A B C D E"));   // B flat is F major's IV
    EXPECT_FALSE(accepts(kEMoll, "E F G A B C D"));  // F# is E minor's II
}

TEST_F(Acceptance, FitMustReachMinWT) {
    fits[kCDur] = 0.7f;
    EXPECT_TRUE(accepts(kCDur, "C D E F G A B"));
    fits[kCDur] = std::nextafter(0.7f, 0.0f);
    EXPECT_FALSE(accepts(kCDur, "C D E F G A B"));
}

TEST_F(Acceptance, AcceptedKeysVoteAndTheFirstToReachACountLeads) {
    const char* allNotes = "C C# D D# E F F# G G# A A# B";
    EXPECT_TRUE(accepts(kCDur, allNotes));
    EXPECT_TRUE(accepts(kAMoll, allNotes));
    EXPECT_EQ(finder.voteLeader(), kCDur);
    EXPECT_TRUE(accepts(kAMoll, allNotes));
    EXPECT_TRUE(accepts(kCDur, allNotes));
    EXPECT_EQ(votes[kCDur], 2);
    EXPECT_EQ(votes[kAMoll], 2);
    EXPECT_EQ(finder.voteLeader(), kAMoll);
    EXPECT_EQ(finder.voteLeaderVotes(), 2);
    EXPECT_FALSE(accepts(kFDur, "C D E F G A B"));
    EXPECT_EQ(votes[kFDur], 0);
}

// --- chooseKey -------------------------------------------------------------------------------

struct Choice : ::testing::Test {
    static constexpr KeyIndex A = kCDur, B = kGDur, C = kFDur;
    Composition composition;
    KeyFinder finder{composition, defaultOptions};
    std::array<int32_t, kKeyCount> countScores{};
    std::array<int32_t, kKeyCount> durationScores{};
    KeyFits fits{};
    std::array<int32_t, kKeyCount> votes{};
    // Every signature is complete, so only the fits decide acceptance.
    PitchClassCounts counts = countsOf("C C# D D# E F F# G G# A A# B");

    KeyIndex choose(std::vector<KeyIndex> order, float threshold = 1.0f) {
        return finder.chooseKey(order, countScores, durationScores, threshold, fits, counts, votes);
    }
};

TEST_F(Choice, TakesTheFirstAcceptedCandidateWhoseCountScoreStandsAlone) {
    countScores[A] = 30, countScores[B] = 20, countScores[C] = 10;
    fits[A] = 0.5f, fits[B] = 0.9f, fits[C] = 0.9f;
    EXPECT_EQ(choose({A, B, C}), B);
    EXPECT_EQ(votes[A] + votes[C], 0);
    EXPECT_EQ(votes[B], 1);
}

TEST_F(Choice, NeverTestsTheLastCandidateOnItsOwn) {
    countScores[A] = 30, countScores[B] = 20;
    fits[A] = 0.5f, fits[B] = 1.0f;
    EXPECT_EQ(choose({A, B}), kNoKey);
    EXPECT_EQ(choose({B}), kNoKey);
    EXPECT_EQ(votes[B], 0);
}

TEST_F(Choice, StopsAtACandidateWithoutCountScore) {
    countScores[A] = 30;
    fits[A] = 0.5f, fits[B] = 1.0f, fits[C] = 1.0f;
    EXPECT_EQ(choose({A, B, C}), kNoKey);
}

TEST_F(Choice, EqualCountScoresAreTriedByDurationScore) {
    countScores[A] = 20, countScores[B] = 20, countScores[C] = 10;
    durationScores[A] = 5, durationScores[B] = 9;
    fits[A] = 0.9f, fits[B] = 0.9f;
    EXPECT_EQ(choose({A, B, C}), B);
    EXPECT_EQ(votes[A], 0);
}

TEST_F(Choice, FullTieVotesForEveryAcceptedKeyThatFitsAsWellAsTheThreshold) {
    countScores[A] = 20, countScores[B] = 20, countScores[C] = 20;
    durationScores[A] = 5, durationScores[B] = 5, durationScores[C] = 5;
    fits[A] = 1.0f, fits[B] = 1.0f, fits[C] = 0.9f;
    EXPECT_EQ(choose({C, A, B}), A);
    EXPECT_EQ(votes[A], 1);
    EXPECT_EQ(votes[B], 1);
    EXPECT_EQ(votes[C], 0);  // accepted on its own, but not as good as the threshold
}

TEST_F(Choice, FullTieWithoutAnyKeyAtTheThresholdGoesOnWithTheNextMember) {
    countScores[A] = 20, countScores[B] = 20, countScores[C] = 10;
    durationScores[A] = 5, durationScores[B] = 5;
    fits[A] = 0.9f, fits[B] = 0.9f;
    // Nothing reaches 1.0, so the tie tests nobody; B, the run's last member, is then tested
    // on its own.
    EXPECT_EQ(choose({A, B, C}), B);
    EXPECT_EQ(votes[A], 0);
}

// --- Segments --------------------------------------------------------------------------------

TEST(EvaluateSegment, KeysBecomeStableInTheOrderTheirTriadCompletes) {
    Recognition r("C5 E5 G5 A5 B5 D5");
    KeySegment segment;
    segment.counts = countsOf("C E G A B D");
    for (const char* pc : {"C", "E", "G", "A", "B", "D"}) {
        segment.pitchClasses[static_cast<std::size_t>(segment.pitchClassCount++)] =
            static_cast<int16_t>(pitchClassOf(pc));
    }
    r.finder->evaluateSegment(segment);
    ASSERT_EQ(segment.stableCount, 4);
    EXPECT_EQ(std::vector<int>(segment.stableKeys.begin(), segment.stableKeys.begin() + 4),
              (std::vector<int>{kCDur, kAMoll, kEMoll, kGDur}));
    // Keys without I, III and V have no scores; F major lacks its tonic here.
    EXPECT_GT(segment.countScoreRow(0)[kCDur], 0);
    EXPECT_EQ(segment.countScoreRow(0)[kFDur], 0);
    EXPECT_EQ(segment.durationScoreRow(2)[kFDur], 0);
    // No F or F#: nothing fits exactly; the best stable key gives the threshold.
    EXPECT_FLOAT_EQ(segment.threshold, 6.0f / 7.0f);

    Recognition loose("C5", optionsWith([](HarmonyOptions& o) { o.ModeStT = 0; }));
    KeySegment two;
    two.counts = countsOf("C E");
    two.pitchClasses = {0, 4};
    two.pitchClassCount = 2;
    loose.finder->evaluateSegment(two);
    // Any two of I, III and V suffice: C major (I, III) and A minor (III, V).
    EXPECT_EQ(std::vector<int>(two.stableKeys.begin(), two.stableKeys.begin() + two.stableCount),
              (std::vector<int>{kCDur, kAMoll}));
    EXPECT_EQ(two.threshold, std::max(two.fits[kCDur], two.fits[kAMoll]));
}

TEST(EvaluateSegment, ThresholdIsOneWithAnExactFitAndZeroWithoutStableKeys) {
    Recognition r("C5");
    KeySegment scale;
    scale.counts = countsOf("C D E F G A B");
    scale.pitchClasses = {0, 2, 4, 5, 7, 9, 11};
    scale.pitchClassCount = 7;
    r.finder->evaluateSegment(scale);
    EXPECT_EQ(scale.threshold, 1.0f);

    KeySegment second;
    second.counts = countsOf("C D");
    second.pitchClasses = {0, 2};
    second.pitchClassCount = 2;
    r.finder->evaluateSegment(second);
    EXPECT_EQ(second.stableCount, 0);
    EXPECT_EQ(second.threshold, 0.0f);
}

TEST(EvaluateSegment, ScoreCellsSaturateAfterEveryPitchClassInFirstOccurrenceOrder) {
    Recognition r("C5");
    constexpr int32_t kLargest = std::numeric_limits<int32_t>::max();
    auto triad = [](int32_t c, int32_t e, int32_t g) {
        KeySegment segment;
        segment.counts = countsOf("C E G");
        segment.durations[0] = c;
        segment.durations[4] = e;
        segment.durations[7] = g;
        segment.pitchClasses = {0, 4, 7};
        segment.pitchClassCount = 3;
        return segment;
    };
    KeySegment huge = triad(kLargest, kLargest, 5);
    r.finder->evaluateSegment(huge);
    EXPECT_EQ(huge.durationScoreRow(0)[kCDur], kLargest);
    EXPECT_EQ(huge.countScoreRow(0)[kCDur], 6 * 3);
    EXPECT_EQ(huge.durationScoreRow(2)[kAMoll], 0);  // no tonic triad

    // C saturates the cell; E's negative duration then takes 6 x 10 off, G adds 6 x 5 back.
    KeySegment negative = triad(kLargest, -10, 5);
    r.finder->evaluateSegment(negative);
    EXPECT_EQ(negative.durationScoreRow(0)[kCDur], kLargest - 30);
    EXPECT_EQ(negative.countScoreRow(1)[kCDur], 5 * 3);
    EXPECT_EQ(negative.stableCount, huge.stableCount);
}

TEST(Segmentation, SegmentsCloseAfterMinTaktBTBarsOnceSevenPitchClassesAreMet) {
    const std::string scaleBar = "C5 E5 G5 C5 D5 F5 A5 B5";
    Recognition r(repeatBars(scaleBar, 8));
    r.finder->globalDecision();
    ASSERT_EQ(r.finder->segmentMelody(), status::kOk);
    const auto& segments = r.finder->segments();
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].startBar, 0);
    EXPECT_EQ(segments[0].endBar, 3);
    EXPECT_EQ(segments[0].lastNote, 31);
    EXPECT_EQ(segments[1].firstNote, 32);
    EXPECT_EQ(segments[1].startBar, 4);
    EXPECT_EQ(segments[1].lastNote, 63);
    EXPECT_EQ(segments[0].key, kCDur);
    EXPECT_EQ(segments[1].key, kCDur);

    Recognition shorter(repeatBars(scaleBar, 8),
                        optionsWith([](HarmonyOptions& o) { o.MinTaktBT = 2; }));
    ASSERT_EQ(shorter.finder->segmentMelody(), status::kOk);
    EXPECT_EQ(shorter.finder->segments().size(), 4u);
}

TEST(Segmentation, TailWithoutABoundaryJoinsTheLastSegment) {
    Recognition r(repeatBars("C5 E5 G5 C5 D5 F5 A5 B5", 4) + " | E5 G5 C6 | G5 C5");
    ASSERT_EQ(r.finder->segmentMelody(), status::kOk);
    const auto& segments = r.finder->segments();
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].lastNote, 36);
    EXPECT_EQ(segments[0].endBar, 5);
    EXPECT_EQ(segments[0].counts[0], 4 * 2 + 2);
    EXPECT_EQ(r.finder->closedSegmentCount(), 1);
}

TEST(Segmentation, StretchWithoutAKeyKeepsGrowingWithoutCountingNotesTwice) {
    // Twelve pitch classes in equal numbers fit no key at all.
    const std::string chromatic = "C5 C#5 D5 D#5 E5 F5 F#5 G5 G#5 A5 A#5 B5";
    Recognition r(repeatBars(chromatic, 6));
    ASSERT_EQ(r.finder->segmentMelody(), status::kOk);
    const auto& segments = r.finder->segments();
    ASSERT_EQ(segments.size(), 3u);
    auto total = [](const KeySegment& s) {
        return std::accumulate(s.counts.begin(), s.counts.end(), 0);
    };
    // The first closes after four bars; the second holds those and bar 4, but begins at bar 4.
    EXPECT_EQ(total(segments[0]), 48);
    EXPECT_EQ(segments[1].firstNote, 48);
    EXPECT_EQ(segments[1].startBar, 4);
    EXPECT_EQ(total(segments[1]), 60);
    // The last note closes the third; the (empty-handed) rest of the stretch is merged once.
    EXPECT_EQ(segments[2].startBar, 5);
    EXPECT_EQ(total(segments[2]), 72);
    for (const KeySegment& s : segments) EXPECT_EQ(s.key, kNoKey);
}

TEST(Segmentation, MelodyOfFewerThanSevenPitchClassesIsOneSegment) {
    Recognition r(repeatBars("C5 D5 E5 G5", 6));
    ASSERT_EQ(r.finder->segmentMelody(), status::kOk);
    ASSERT_EQ(r.finder->segments().size(), 1u);
    EXPECT_EQ(r.finder->segments()[0].lastNote, 23);
}

// --- Recognition -----------------------------------------------------------------------------

TEST(KeyRecognition, ProfilesDecideBetweenAMajorScaleAndItsRelativeMinor) {
    Loaded major = load("4/4", quarters("C5 E5 G5 C5 D5 E5 F5 E5 G5 A5 B5 C6 G5 E5 C5 C5"));
    Loaded minor = load("4/4", quarters("A4 C5 E5 A4 B4 C5 D5 E5 F5 E5 G5 E5 A5 E5 A4 A4"));
    const KeyResult majorKey = findKey(major.composition(), defaultOptions);
    const KeyResult minorKey = findKey(minor.composition(), defaultOptions);
    EXPECT_EQ(majorKey.key, kCDur);
    EXPECT_EQ(majorKey.status, status::kOk);
    EXPECT_EQ(minorKey.key, kAMoll);
    ASSERT_EQ(minor.composition().keys.size(), 1u);
    EXPECT_EQ(minor.composition().keys[0].key, kAMoll);
    EXPECT_EQ(minor.composition().keyStatistics, nullptr);
}

TEST(KeyRecognition, ExactFitIsDecidedGloballyWithTwoVotes) {
    Recognition r("C5 E5 G5 C5 | D5 E5 F5 E5 | G5 A5 B5 C6 | G5 E5 C5:2");
    EXPECT_EQ(r.finder->globalDecision(), kCDur);
    EXPECT_GE(r.statistics().votes()[kCDur], 2);
    EXPECT_EQ(r.composition->keys.at(0).key, kCDur);
}

TEST(KeyRecognition, ApplyPKeyHarmonisesInTheRelativeKey) {
    const auto steps = quarters("F4 A4 C5 F4 G4 A4 Bb4 C5 D5 C5 Bb4 A4 G4 E4 F4 F4");
    Loaded plain = load("4/4", steps);
    EXPECT_EQ(findKey(plain.composition(), defaultOptions).key, kFDur);

    Loaded relative = load("4/4", steps);
    const KeyResult result =
        findKey(relative.composition(), optionsWith([](HarmonyOptions& o) { o.ApplyPKey = true; }));
    EXPECT_EQ(result.key, kDMoll);
    EXPECT_EQ(result.status, status::kOk);
    EXPECT_EQ(relative.composition().keys.at(0).key, kDMoll);
    // The marks follow the key harmonised in: D minor's dominant A major, subdominant G minor.
    const auto& marks = relative.composition().keyMarks;
    EXPECT_EQ(marks[kDMoll], key_mark::kMain);
    EXPECT_EQ(marks[kADur], key_mark::kDominant);
    EXPECT_EQ(marks[kGMoll], key_mark::kSubdominant);
    EXPECT_NE(marks[kFDur], key_mark::kMain);
}

TEST(KeyRecognition, FewerThanThreePitchClassesAnswer92) {
    Recognition r(repeatBars("C5 D5 C5 D5", 4));
    const KeyResult result = r.finder->recognise();
    EXPECT_EQ(result.status, status::kTooLittleMaterial);
    EXPECT_EQ(result.key, kNoKey);
    EXPECT_TRUE(r.composition->keys.empty());

    Recognition empty("");
    EXPECT_EQ(empty.finder->recognise().status, status::kTooLittleMaterial);
}

TEST(KeyRecognition, MelodyThatNoKeyAcceptsAnswers95) {
    Recognition r("C5 D5 E5 F#5 | G#5 A#5 C6 D6 | E5 F#5 G#5 A#5");
    const KeyResult result = r.finder->recognise();
    EXPECT_EQ(result.status, status::kKeyNotRecognised);
    EXPECT_EQ(result.key, kNoKey);
    EXPECT_TRUE(r.composition->keys.empty());
    EXPECT_EQ(r.keysMarked(key_mark::kUnused).size(), 24u);
}

TEST(KeyRecognition, ProfilesSplitBetweenAMajorKeyAndItsRelativeMinorAnswer96) {
    // C, D, F, G and A only: neither C major nor A minor has its tonic triad, and neither F
    // major nor D minor may go without B flat. The profiles fall back on C major (first) and
    // A minor (second), one vote each.
    Recognition r("F4 C5 C5 C5 | C5 D5 C5 D5 | G4 D5 D5 D5 | C5 F4 G4 A4 | C5 G4 D5 D5");
    const KeyResult result = r.finder->recognise();
    EXPECT_EQ(result.status, status::kMajorOrRelativeMinor);
    EXPECT_EQ(result.key, kCDur);
    EXPECT_EQ(r.finder->finalChoices()[0], kCDur);
    EXPECT_EQ(r.finder->finalChoices()[1], kAMoll);
    EXPECT_TRUE(r.composition->keys.empty());
}

TEST(KeyRecognition, KeyOfAnEarlierRunDoesNotCountAsFoundGlobally) {
    // No F at all: no exact fit, so the key comes from the segments. The relative key that the
    // first run leaves in the composition must not be taken for a global decision and turned
    // back by the second.
    Recognition r("C5 E5 G5 C5 | D5 E5 A5 G5 | B4 C5 D5 E5 | G5 E5 C5:2",
                  optionsWith([](HarmonyOptions& o) { o.ApplyPKey = true; }));
    const KeyResult first = r.finder->recognise();
    const KeyResult second = r.finder->recognise();
    EXPECT_EQ(first.key, kAMoll);
    EXPECT_EQ(second.key, kAMoll);
    EXPECT_EQ(r.composition->keys.at(0).key, kAMoll);
}

// --- Marks -----------------------------------------------------------------------------------

// Segments that list the given stable keys, for the marking rules alone.
void setSegments(KeyFinder& finder, const std::vector<std::vector<KeyIndex>>& stableLists) {
    finder.segments().clear();
    for (const auto& keys : stableLists) {
        KeySegment segment;
        for (const KeyIndex k : keys) {
            segment.stableKeys[static_cast<std::size_t>(segment.stableCount++)] =
                static_cast<int16_t>(k);
        }
        finder.segments().push_back(segment);
    }
}

TEST(MarkKeys, SingleSegmentMarksItsStableKeysThatFitTheWholeMelodyWell) {
    Recognition r("C5 E5 G5 C5 | D5 E5 F5 E5 | G5 A5 B5 C6 | G5 E5 C5:2");
    r.finder->globalDecision();
    setSegments(*r.finder, {{kCDur, kAMoll, kEDur}});
    r.finder->markKeysInMelody();
    EXPECT_EQ(r.composition->keyMarks[kAMoll], key_mark::kMet);
    EXPECT_EQ(r.composition->keyMarks[kEDur], key_mark::kUnused);  // fits under 0.7
    EXPECT_EQ(r.composition->keyMarks[kCDur], key_mark::kMain);
    EXPECT_EQ(r.composition->keyMarks[kGDur], key_mark::kDominant);
    EXPECT_EQ(r.composition->keyMarks[kFDur], key_mark::kSubdominant);
    EXPECT_EQ(r.finder->status(), status::kOk);
}

TEST(MarkKeys, EachWindowMarksItsTwoHighestCounts) {
    Recognition r("C5");
    // Six segments make two windows of three: in the second, E major (once) is the second
    // count; over all six it would be third behind D major (twice) and not be marked.
    setSegments(*r.finder, {{kDDur}, {kDDur}, {}, {kEDur, kADur}, {kADur}, {kADur}});
    r.finder->markKeysInMelody();
    EXPECT_EQ(r.keysMarked(key_mark::kMet), (std::vector<KeyIndex>{kDDur, kADur, kEDur}));
}

TEST(MarkKeys, LastWindowTakesTheRemainingSegments) {
    Recognition r("C5");
    // Eleven segments: windows of three, three and five. In the last, F major (three times)
    // and G major (twice) are marked, B-dur (once) is third.
    std::vector<std::vector<KeyIndex>> lists(6);
    lists.insert(lists.end(), {{kFDur}, {kFDur}, {kFDur}, {kGDur, kBDur}, {kGDur}});
    setSegments(*r.finder, lists);
    r.finder->markKeysInMelody();
    EXPECT_EQ(r.keysMarked(key_mark::kMet), (std::vector<KeyIndex>{kFDur, kGDur}));
}

TEST(MarkKeys, CrowdedWindowDropsItsSecondCountEvenWhereEarlierWindowsMarkedIt) {
    Recognition r("C5");
    // First window: C major marked. Second window: five keys twice, C major and six more once:
    // twelve marked, so the single ones, C major among them, are dropped again.
    std::vector<KeyIndex> both = {0, 1, 2, 3, 4};
    std::vector<KeyIndex> once = {kCDur, kGDur, kDDur, kADur, kEDur, kBDur, kFDur};
    std::vector<KeyIndex> withOnce = both;
    withOnce.insert(withOnce.end(), once.begin(), once.end());
    setSegments(*r.finder, {{kCDur}, {kCDur}, {}, both, withOnce, {}});
    r.finder->markKeysInMelody();
    EXPECT_EQ(r.keysMarked(key_mark::kMet), both);
    EXPECT_EQ(r.finder->status(), status::kOk);
}

TEST(MarkKeys, MoreThanTenKeysMetAnswer97) {
    Recognition r("C5");
    std::vector<KeyIndex> eleven(11);
    std::iota(eleven.begin(), eleven.end(), 0);
    setSegments(*r.finder, {eleven, eleven});
    r.finder->markKeysInMelody();
    EXPECT_EQ(r.keysMarked(key_mark::kMet).size(), 11u);
    EXPECT_EQ(r.finder->status(), status::kManyKeys);

    Recognition ten("C5");
    setSegments(*ten.finder, {std::vector<KeyIndex>(eleven.begin(), eleven.end() - 1), eleven});
    ten.finder->markKeysInMelody();
    EXPECT_EQ(ten.keysMarked(key_mark::kMet).size(), 10u);
    EXPECT_EQ(ten.finder->status(), status::kOk);
}

// --- The file's key --------------------------------------------------------------------------

TEST(FileKey, WithoutAutoKeyAndWithoutSignatureTheKeyIsCMajor) {
    Loaded loaded = load("4/4", quarters("F4 A4 C5 F4 G4 A4 Bb4 C5 D5 C5 Bb4 A4 G4 E4 F4 F4"));
    loaded.composition().keyMarks.fill(9);
    const KeyResult result =
        findKey(loaded.composition(), optionsWith([](HarmonyOptions& o) { o.AutoKey = false; }));
    EXPECT_EQ(result.key, kCDur);
    EXPECT_EQ(result.status, status::kOk);
    ASSERT_EQ(loaded.composition().keys.size(), 1u);
    EXPECT_EQ(loaded.composition().keys[0].key, kCDur);
    const auto& marks = loaded.composition().keyMarks;
    EXPECT_EQ(marks[kCDur], key_mark::kMain);
    EXPECT_EQ(marks[kGDur], key_mark::kDominant);
    EXPECT_EQ(marks[kFDur], key_mark::kSubdominant);
    EXPECT_EQ(std::count(marks.begin(), marks.end(), 0), 21);
}

TEST(FileKey, SignatureGivesTheKeyAndMinorKeysMarkTheirOwnRelatives) {
    Loaded loaded =
        load("4/4", quarters("E4 G4 B4 E5 D5 C5 B4 A4 G4 F#4 E4 E4"), {.key = "E minor"});
    Composition& composition = loaded.composition();
    const KeyResult result =
        KeyFinder(composition, optionsWith([](HarmonyOptions& o) { o.AutoKey = false; })).run();
    EXPECT_EQ(result.key, kEMoll);

    KeyFinder finder(composition, defaultOptions);
    finder.markRelatedKeys(kAMoll);
    EXPECT_EQ(composition.keyMarks[kAMoll], key_mark::kMain);
    EXPECT_EQ(composition.keyMarks[kEDur], key_mark::kDominant);  // the harmonic minor's V
    EXPECT_EQ(composition.keyMarks[kDMoll], key_mark::kSubdominant);
    // kNoKey stands for the composition's own key.
    finder.markRelatedKeys();
    EXPECT_EQ(composition.keyMarks[kEMoll], key_mark::kMain);
}

// --- Sample tunes ----------------------------------------------------------------------------

// Keys the melodies themselves bear out. Not listed: tunes whose notes alone point elsewhere
// (Ode to Joy never sounds C#, Au clair de la lune dwells on D and A, Drunken Sailor is Dorian),
// and the two samples that do not load as single melodies.
const std::map<std::string, KeyIndex> kSampleKeys = {
    {"twinkle.mid", kCDur},       {"greensleeves.mid", kAMoll},       {"korobeiniki.mid", kEMoll},
    {"yankee_doodle.mid", kGDur}, {"oh_susanna.mid", kFDur},          {"silent_night.mid", kBDur},
    {"row_your_boat.mid", kCDur}, {"good_morning_to_all.mid", kGDur}, {"frere_jacques.mid", kCDur},
};

TEST(SampleKeys, RecognisedKeysOfTheSampleTunes) {
    for (const auto& [name, expected] : kSampleKeys) {
        SCOPED_TRACE(name);
        const std::string path = std::string(VARIMEL_SAMPLES_DIR) + "/" + name;
        ASSERT_TRUE(std::filesystem::exists(path));
        ChordMaster master(path);
        ASSERT_EQ(master.loadMidi(), status::kOk);
        Composition& composition = *master.composition();
        const KeyResult result = findKey(composition, defaultOptions);
        EXPECT_EQ(result.status, status::kOk);
        EXPECT_EQ(result.key, expected) << keyName(result.key);
        // One main key, and its relatives marked beside it.
        const auto& marks = composition.keyMarks;
        EXPECT_EQ(std::count(marks.begin(), marks.end(), key_mark::kMain), 1);
        EXPECT_EQ(marks[static_cast<std::size_t>(expected)], key_mark::kMain);
        EXPECT_EQ(marks[static_cast<std::size_t>(relatedKeys(expected).dominant)],
                  key_mark::kDominant);
    }
}

}  // namespace
}  // namespace varimel
