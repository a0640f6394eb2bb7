#include <gtest/gtest.h>

#include <map>

#include "accompaniment/ArrangementRenderer.h"
#include "accompaniment/PartPlan.h"
#include "accompaniment/StyleRenderer.h"
#include "accompaniment/Tarangsmaster.h"
#include "engine/ByteIO.h"
#include "support/accompaniment_fixture.h"

using namespace varimel;
using namespace varimel::test;

namespace {

constexpr int kOrgan = accompaniment_list::kOrgan;
constexpr int kBass = accompaniment_list::kBass;
constexpr int kDrums = accompaniment_list::kDrums;

// A part whose every pattern bar holds one organ root, one bass root and one drum hit of
// `drum`, so that a test can tell which part played a bar.
ArrangementPart markerPart(int drum, int bars) {
    ArrangementPart part;
    for (int bar = 0; bar < bars; ++bar) {
        part.organ.push_back(ev(1, bar, 0, 0, 0, 100));
        part.bass.push_back(ev(1, bar, 0, 0, 3, 100));
        part.drums.push_back(ev(drum, bar, 0, 0, 0, 60));
    }
    return part;
}

Arrangement makeArrangement(int numerator, int denominator, int ppq,
                            std::vector<ArrangementPart> parts) {
    Arrangement arrangement;
    arrangement.meterNum = static_cast<int8_t>(numerator);
    arrangement.meterDen = static_cast<int8_t>(denominator);
    arrangement.ppq = static_cast<int16_t>(ppq);
    arrangement.parts = std::move(parts);
    return arrangement;
}

// Writes "arangs.lst" with the given groups and an arrangement file for every entry.
void writeArrangements(const TempFolder& folder, const std::vector<ArrangementGroup>& groups) {
    ArrangementList list;
    list.groups = groups;
    folder.write("arangs.lst", serializeArrangementList(list));
    for (const ArrangementGroup& group : groups) {
        for (const ArrangementEntry& entry : group.entries) {
            Arrangement arrangement =
                makeArrangement(group.key >> 8, group.key & 0xFF, 120, {markerPart(50, 1)});
            arrangement.parts[0].organProgram = 18;
            arrangement.parts[0].organVolume = 77;
            folder.write(entry.name + ".art", serializeArrangement(arrangement));
        }
    }
}

ArrangementGroup group(int numerator, int denominator,
                       std::vector<std::pair<int16_t, std::string>> entries) {
    ArrangementGroup g;
    g.key = static_cast<uint16_t>(meterKey(numerator, denominator));
    for (auto& [mask, name] : entries) g.entries.push_back({mask, name});
    return g;
}

std::vector<int> drumKeysInBar(const NoteTracks& notes, int bar) {
    std::vector<int> keys;
    for (const NoteRecord& note : notesInBar(notes, kDrums, bar)) keys.push_back(note.key);
    return keys;
}

// A loaded piece with one chord in every bar and an arrangement in force.
Piece arrangedPiece(const Arrangement* arrangement, int bars, MelodyOptions options = {},
                    std::string_view meter = "4/4") {
    Piece piece = loadPiece(meter, bars, std::move(options));
    setChords(piece.composition(), std::vector<ChordCode>(static_cast<size_t>(bars), kC));
    piece.composition().arrangement = arrangement;
    piece.composition().arrangementId = arrangement ? 0 : kNoArrangement;
    piece.composition().setAccompanimentParts(accompaniment_part::kArrangement);
    return piece;
}

const std::vector<int> kSimpleDrums44 = {35, 42, 42, 42, 42};

}  // namespace

// --- Library --------------------------------------------------------------------------------

TEST(ArrangementFiles, ListLayoutIsLittleEndianFieldByField) {
    ArrangementList list;
    list.groups = {group(4, 4, {{1, "Slow"}, {2, "Mid"}}), group(6, 8, {{7, "Jig"}})};
    const std::vector<uint8_t> bytes = serializeArrangementList(list);
    ASSERT_EQ(bytes.size(), 4u + 2 + 4 + 2 * 24 + 4 + 24);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 10),
              (std::vector<uint8_t>{'V', 'A', 'L', 0, 2, 0, 0x04, 0x04, 2, 0}));
    EXPECT_EQ(bytes[10 + 6], 1);  // tempo mask of the first entry
    EXPECT_EQ(bytes[10 + 8], 'S');
    ArrangementList read;
    ASSERT_TRUE(parseArrangementList(bytes, read));
    EXPECT_EQ(read.groups, list.groups);
    EXPECT_EQ(serializeArrangementList(read), bytes);
}

TEST(ArrangementFiles, APartWithoutOrganEventsHasNoEventData) {
    Arrangement arrangement = makeArrangement(3, 4, 96, {markerPart(50, 1), ArrangementPart{}});
    arrangement.parts.push_back(markerPart(51, 2));
    arrangement.parts[0].drumsVolume = 90;
    const std::vector<uint8_t> bytes = serializeArrangement(arrangement);
    ASSERT_EQ(bytes.size(), 12u + (16 + 3 * 14) + 16 + (16 + 6 * 14));
    EXPECT_EQ(bytes[4], 3);
    EXPECT_EQ(bytes[5], 4);
    EXPECT_EQ(bytes[8], 96);
    EXPECT_EQ(bytes[10], 3);
    EXPECT_EQ(bytes[12 + 6], 90);  // drums volume of part 0
    Arrangement read;
    ASSERT_TRUE(parseArrangement(bytes, read));
    EXPECT_EQ(read, arrangement);
    EXPECT_EQ(serializeArrangement(read), bytes);

    // Bass or drum counts behind an organ count of 0 announce nothing.
    std::vector<uint8_t> stray =
        serializeArrangement(makeArrangement(4, 4, 120, {ArrangementPart{}}));
    stray[12 + 12] = 5;
    ASSERT_TRUE(parseArrangement(stray, read));
    EXPECT_TRUE(read.parts[0].bass.empty());
}

TEST(ArrangementFiles, DamagedFilesAreRefusedWithoutBelievingTheirCounts) {
    const std::vector<uint8_t> good =
        serializeArrangement(makeArrangement(4, 4, 120, {markerPart(50, 2)}));
    Arrangement read;
    EXPECT_FALSE(parseArrangement(std::vector<uint8_t>(good.begin(), good.end() - 1), read));
    EXPECT_TRUE(read.parts.empty());
    std::vector<uint8_t> manyParts = good;
    manyParts[10] = 0xFF;
    manyParts[11] = 0x7F;
    EXPECT_FALSE(parseArrangement(manyParts, read));
    std::vector<uint8_t> negativeBass = good;
    negativeBass[12 + 12] = 0xFF;
    negativeBass[12 + 13] = 0xFF;
    EXPECT_FALSE(parseArrangement(negativeBass, read));
    std::vector<uint8_t> manyDrums = good;
    manyDrums[12 + 14] = 0xFF;
    manyDrums[12 + 15] = 0x7F;
    EXPECT_FALSE(parseArrangement(manyDrums, read));

    ArrangementList list;
    list.groups = {group(4, 4, {{1, "A"}})};
    const std::vector<uint8_t> listBytes = serializeArrangementList(list);
    ArrangementList readList;
    EXPECT_FALSE(parseArrangementList({'V', 'A', 'X', 0, 0, 0}, readList));
    EXPECT_FALSE(parseArrangementList({'V', 'A', 'L', 0, 0}, readList));
    EXPECT_FALSE(parseArrangementList(std::vector<uint8_t>(listBytes.begin(), listBytes.end() - 1),
                                      readList));
    std::vector<uint8_t> moreGroups = listBytes;
    moreGroups[4] = 2;  // claims a second group that is not there
    EXPECT_FALSE(parseArrangementList(moreGroups, readList));
    std::vector<uint8_t> manyEntries = listBytes;
    manyEntries[8] = manyEntries[9] = 0xFF;
    EXPECT_FALSE(parseArrangementList(manyEntries, readList));
    std::vector<uint8_t> negativeGroups = listBytes;
    negativeGroups[5] = 0x80;
    EXPECT_FALSE(parseArrangementList(negativeGroups, readList));
    EXPECT_TRUE(parseArrangementList({'V', 'A', 'L', '?', 0, 0}, readList));  // no groups
}

TEST(ArrangementLibrary, LoadListTriesAgainAfterAFailureButNotAfterASuccess) {
    TempFolder folder;
    ArrangementLibrary library(folder.path().string());  // no trailing separator
    EXPECT_FALSE(library.loadList());
    EXPECT_FALSE(library.listLoaded());
    writeArrangements(folder, {group(4, 4, {{7, "Any"}})});
    EXPECT_TRUE(library.loadList());
    std::filesystem::remove(folder.path() / "arangs.lst");
    EXPECT_TRUE(library.loadList());
    EXPECT_EQ(library.groupCount(), 1);
    EXPECT_EQ(library.findByName("Any"), makeArrangementId(0, 0));
}

TEST(ArrangementLibrary, TempoClassesIn44AndAnyTempoElsewhere) {
    ArrangementLibrary library;
    EXPECT_EQ(library.currentMeterKey(), 0x0404);
    EXPECT_EQ(library.tempoClass(94), tempo_class::kSlow);
    EXPECT_EQ(library.tempoClass(95), tempo_class::kMedium);
    EXPECT_EQ(library.tempoClass(139), tempo_class::kMedium);
    EXPECT_EQ(library.tempoClass(140), tempo_class::kFast);
    library.setMeter(3, 4);
    EXPECT_EQ(library.currentMeterKey(), 0x0304);
    EXPECT_EQ(library.tempoClass(60), tempo_class::kAny);
    library.setMeter(4, 2);
    EXPECT_EQ(library.tempoClass(60), tempo_class::kAny);
}

TEST(ArrangementLibrary, AutoChooseFollowsMeterAndTempo) {
    TempFolder folder;
    writeArrangements(folder, {group(3, 4, {{0, "Waltz0"}}),
                               group(4, 4, {{1, "Slow"}, {2, "Medium"}, {4, "Fast"}}),
                               group(3, 4, {{2, "Waltz1"}}), group(6, 8, {{4, "JigFast"}}),
                               group(6, 8, {{1, "JigSlow"}, {6, "JigOther"}})});
    ArrangementLibrary library(folder.directory());
    ASSERT_TRUE(library.loadList());
    EXPECT_EQ(library.autoChoose(100), makeArrangementId(1, 1));
    EXPECT_EQ(library.autoChoose(94), makeArrangementId(1, 0));
    EXPECT_EQ(library.autoChoose(140), makeArrangementId(1, 2));
    EXPECT_EQ(library.autoChoose(139), makeArrangementId(1, 1));
    // A first entry with mask 0 takes every tempo; 3/4 is class 7 anyway.
    library.setMeter(3, 4);
    EXPECT_EQ(library.autoChoose(200), makeArrangementId(0, 0));
    // 6/8 is class 7: the first entry of the first 6/8 group whose mask has any bit.
    library.setMeter(6, 8);
    EXPECT_EQ(library.autoChoose(60), makeArrangementId(3, 0));
    // No group for the meter: Auto, one past the groups.
    library.setMeter(5, 4);
    EXPECT_EQ(library.autoChoose(100), 6 << 16);
    EXPECT_EQ(library.autoId(), 6 << 16);
}

TEST(ArrangementLibrary, AGroupWithoutAFittingTempoLeavesTheChoiceToLaterGroups) {
    TempFolder folder;
    writeArrangements(folder,
                      {group(4, 4, {{1, "SlowOnly"}}), group(4, 4, {{2, "Mid"}, {4, "Fast"}})});
    ArrangementLibrary library(folder.directory());
    ASSERT_TRUE(library.loadList());
    EXPECT_EQ(library.autoChoose(160), makeArrangementId(1, 1));
    EXPECT_EQ(library.autoChoose(70), makeArrangementId(0, 0));
}

TEST(ArrangementLibrary, SelectLoadsTheFileOrReportsThatItCannot) {
    TempFolder folder;
    writeArrangements(folder, {group(4, 4, {{7, "Good"}, {7, "Missing"}, {7, "Short"}})});
    std::filesystem::remove(folder.path() / "Missing.art");
    folder.write("Short.art", {0, 0, 0, 0, 4, 4, 0, 0, 120, 0, 1});
    ArrangementLibrary library(folder.directory());
    std::vector<std::string> reported;
    library.setErrorReporter([&](const std::string& text) { reported.push_back(text); });
    ASSERT_TRUE(library.loadList());

    EXPECT_EQ(library.select(makeArrangementId(0, 0)), makeArrangementId(0, 0));
    const Arrangement* good = library.current();
    ASSERT_NE(good, nullptr);
    ASSERT_NE(library.currentPart0(), nullptr);
    EXPECT_EQ(library.currentPart0()->organProgram, 18);
    EXPECT_EQ(library.currentPart0()->organVolume, 77);
    // Selecting the loaded one again reads nothing.
    std::filesystem::remove(folder.path() / "Good.art");
    EXPECT_EQ(library.select(makeArrangementId(0, 0)), makeArrangementId(0, 0));
    EXPECT_EQ(library.current(), good);
    EXPECT_TRUE(reported.empty());

    for (int entry : {1, 2}) {
        EXPECT_EQ(library.select(makeArrangementId(0, entry)), kNoArrangement);
        EXPECT_EQ(library.current(), nullptr);
        EXPECT_EQ(library.loadedId(), kNoArrangement);
    }
    EXPECT_EQ(reported, (std::vector<std::string>{"Can't Load selected Arrangement?",
                                                  "Can't Load selected Arrangement?"}));
    // An entry the group does not have is a failed load too.
    EXPECT_EQ(library.select(makeArrangementId(0, 9)), kNoArrangement);
    EXPECT_EQ(reported.size(), 3u);

    // A group index at or past the list's end (Auto) makes none current and is answered as is.
    EXPECT_EQ(library.select(makeArrangementId(1, 0)), makeArrangementId(1, 0));
    EXPECT_EQ(library.select(library.autoId()), library.autoId());
    EXPECT_EQ(library.current(), nullptr);
    EXPECT_EQ(library.select(kNoArrangement), kNoArrangement);
    EXPECT_EQ(reported.size(), 3u);
    // The arrangement a composition was given stays readable after other selections.
    EXPECT_EQ(good->parts.size(), 1u);
}

TEST(ArrangementLibrary, ResetForgetsTheChoiceAndReadsTheListOnTheNextUse) {
    TempFolder folder;
    writeArrangements(folder, {group(4, 4, {{7, "First"}})});
    ArrangementLibrary library(folder.directory());
    ASSERT_TRUE(library.loadList());
    library.select(makeArrangementId(0, 0));
    library.chosenId = makeArrangementId(0, 0);
    library.choiceMade = true;
    writeArrangements(folder, {group(4, 4, {{7, "First"}}), group(3, 4, {{7, "Second"}})});
    library.reset();
    EXPECT_FALSE(library.choiceMade);
    EXPECT_TRUE(library.noArrangement);
    EXPECT_EQ(library.chosenId, kNoArrangement);
    EXPECT_EQ(library.loadedId(), kNoArrangement);
    EXPECT_EQ(library.current(), nullptr);
    ASSERT_TRUE(library.loadList());
    EXPECT_EQ(library.groupCount(), 2);
}

// --- Part plan ------------------------------------------------------------------------------

namespace {

Piece plannedPiece(int bars, int bpm, const std::map<int, int8_t>& marks,
                   MelodyOptions options = {}) {
    Piece piece = loadPiece("4/4", bars, std::move(options));
    Composition& c = piece.composition();
    c.tempo = 60000000 / bpm;
    setChords(c, std::vector<ChordCode>(static_cast<size_t>(c.barCount), kC));
    for (const auto& [bar, mark] : marks) c.slots[static_cast<size_t>(bar)].cadenceKind = mark;
    buildPartPlan(c);
    return piece;
}

std::vector<int16_t> planOf(std::initializer_list<std::pair<int, int16_t>> runs) {
    std::vector<int16_t> plan;
    for (const auto& [length, part] : runs) plan.insert(plan.end(), length, part);
    return plan;
}

}  // namespace

TEST(PartPlan, ThirtyTwoBarsAt120BpmChangeEveryEightBarsAtPhraseMarks) {
    // Cadences at the bar before 8, on 16 itself (a strong mark), after 24.
    Piece piece = plannedPiece(32, 120, {{7, 2}, {16, 3}, {25, 5}});
    EXPECT_EQ(piece.composition().partPlan,
              planOf({{8, 0}, {1, 1}, {7, 2}, {1, 3}, {7, 0}, {1, 1}, {7, 2}}));
}

TEST(PartPlan, SlowPiecesAndShortPiecesChangeEveryFourBars) {
    // At 60 bpm the candidates are 4, 8, ... 28. Bar 4 carries a strong mark itself; 12 finds
    // a mark at 13; 24 and 28 both find the mark at 26, two bars away; 8, 16 and 20 find none.
    Piece slow = plannedPiece(32, 60, {{4, 1}, {13, -1}, {26, 4}});
    EXPECT_EQ(slow.composition().partPlan,
              planOf({{4, 0}, {1, 3}, {7, 2}, {1, 1}, {11, 0}, {1, 1}, {3, 2}, {1, 1}, {3, 0}}));

    // Six bars are too few for eight-bar phrases: one candidate, bar 4.
    Piece shortPiece = plannedPiece(6, 120, {{3, 2}});
    EXPECT_EQ(shortPiece.composition().partPlan, planOf({{4, 0}, {1, 1}, {1, 2}}));
    Piece strong = plannedPiece(6, 120, {{4, 4}});
    EXPECT_EQ(strong.composition().partPlan, planOf({{4, 0}, {1, 3}, {1, 2}}));
    // The strength comes from the candidate bar's own mark, not from the mark that was found.
    Piece near = plannedPiece(6, 120, {{2, 4}, {5, 2}});
    EXPECT_EQ(near.composition().partPlan, planOf({{4, 0}, {1, 1}, {1, 2}}));
    Piece unmarked = plannedPiece(6, 120, {});
    EXPECT_EQ(unmarked.composition().partPlan, planOf({{6, 0}}));
}

TEST(PartPlan, NineBarsAfterAPickUpAreLongEnoughForEightBarPhrases) {
    MelodyOptions pickup;
    pickup.pickup = 1_beat;
    // A pick-up bar and eight more: the only candidate is bar 8, too far from the mark at 4.
    Piece nine = plannedPiece(8, 120, {{4, 2}}, pickup);
    ASSERT_EQ(nine.composition().barCount, 9);
    EXPECT_EQ(nine.composition().partPlan, planOf({{9, 0}}));
    // One bar fewer: four-bar phrases, and bar 4 takes its fill.
    Piece eight = plannedPiece(7, 120, {{4, 2}}, pickup);
    ASSERT_EQ(eight.composition().barCount, 8);
    EXPECT_EQ(eight.composition().partPlan, planOf({{4, 0}, {1, 1}, {3, 2}}));
}

TEST(PartPlan, BelowSeventyOneBpmAPieceIsSlow) {
    // At 70 bpm bar 4 is a candidate and takes its fill; at 71 the phrases are eight bars long.
    EXPECT_EQ(plannedPiece(16, 70, {{4, 2}}).composition().partPlan,
              planOf({{4, 0}, {1, 1}, {11, 2}}));
    EXPECT_EQ(plannedPiece(16, 71, {{4, 2}}).composition().partPlan, planOf({{16, 0}}));
}

TEST(PartPlan, BarsBeforeTheFirstMelodyNoteHaveNoPart) {
    Piece late = loadPiece("4/4", 6);
    Composition& c = late.composition();
    setChords(c, std::vector<ChordCode>(6, kC));
    // Move the melody two bars later: bars 0 and 1 lose their part.
    NoteTracks& notes = c.noteTracks();
    for (int32_t i = 0; i < notes.count(0); ++i) {
        NoteRecord* note = notes.mutableNote(i, 0);
        note->position.bar = static_cast<uint16_t>(std::min(note->position.bar + 2, 5));
    }
    buildPartPlan(c);
    EXPECT_EQ(c.partPlan, planOf({{2, -1}, {4, 0}}));
}

// --- Rendering ------------------------------------------------------------------------------

TEST(ArrangementRendering, WithoutAnArrangementEveryBarIsSimpleWithTheOrganAnOctaveLower) {
    Piece piece = arrangedPiece(nullptr, 4);
    Composition& c = piece.composition();
    c.chordTrack[2].chord = kNoChord;
    renderAccompaniment(c);
    const int organBase = c.accompanimentOctave * 12 - 12;
    for (int bar = 0; bar < 4; ++bar) {
        EXPECT_EQ(drumKeysInBar(c.noteTracks(), bar), kSimpleDrums44) << bar;
        const auto organ = notesInBar(c.noteTracks(), kOrgan, bar);
        const auto bass = notesInBar(c.noteTracks(), kBass, bar);
        if (bar == 2) {
            EXPECT_TRUE(organ.empty());
            EXPECT_TRUE(bass.empty());
            continue;
        }
        ASSERT_EQ(organ.size(), 3u);
        EXPECT_EQ(organ[0].key, organBase);
        EXPECT_EQ(organ[1].key, organBase + 4);
        EXPECT_EQ(organ[0].duration, 1910);
        EXPECT_EQ(organ[0].velocity, 0x6464);
        ASSERT_EQ(bass.size(), 1u);
        EXPECT_EQ(bass[0].key, 36);
        EXPECT_EQ(bass[0].velocity, 0x6440);
    }
    const auto drums = notesInBar(c.noteTracks(), kDrums, 1);
    EXPECT_EQ(drums[0].position, (SongPosition{1, 0, 0}));
    EXPECT_EQ(drums[4].position, (SongPosition{1, 3, 0}));
    EXPECT_EQ(drums[4].duration, 120);
    EXPECT_EQ(drums[4].pitchClass, 42);
}

TEST(ArrangementRendering, PartsFollowThePlanAndOnlyContinuingPartsPlayOnAfterTheirFirstBar) {
    const Arrangement arrangement = makeArrangement(
        4, 4, 120, {markerPart(50, 2), markerPart(51, 2), markerPart(52, 2), markerPart(53, 2)});
    Piece piece = arrangedPiece(&arrangement, 10);
    Composition& c = piece.composition();
    c.partPlan = {0, 0, 0, 1, 2, 2, 2, 3, 0, 0};
    renderAccompaniment(c);
    const std::vector<std::vector<int>> expected = {{50}, {50}, {50}, {51}, {52},
                                                    {52}, {52}, {53}, {50}, kSimpleDrums44};
    for (int bar = 0; bar < 10; ++bar) {
        EXPECT_EQ(drumKeysInBar(c.noteTracks(), bar), expected[static_cast<size_t>(bar)]) << bar;
    }
    const int organBase = c.accompanimentOctave * 12;
    EXPECT_EQ(notesInBar(c.noteTracks(), kOrgan, 5)[0].key, organBase);
    EXPECT_EQ(notesInBar(c.noteTracks(), kBass, 5)[0].key, 36);
    EXPECT_EQ(notesInBar(c.noteTracks(), kOrgan, 5)[0].duration, 400);  // 100 ticks at ppq 120
}

TEST(ArrangementRendering, TheLastBarAlwaysGetsASimpleBarAndBarsWithoutPartNothing) {
    const Arrangement arrangement = makeArrangement(4, 4, 120, {markerPart(50, 4)});
    Piece piece = arrangedPiece(&arrangement, 4);
    Composition& c = piece.composition();
    c.partPlan = {-1, 0, 0, 0};
    renderAccompaniment(c);
    EXPECT_TRUE(drumKeysInBar(c.noteTracks(), 0).empty());
    EXPECT_EQ(drumKeysInBar(c.noteTracks(), 1), (std::vector<int>{50}));
    EXPECT_EQ(drumKeysInBar(c.noteTracks(), 2), (std::vector<int>{50}));
    // The pass placed its third bar in bar 3 as well; the simple bar comes on top.
    std::vector<int> last = {50};
    last.insert(last.end(), kSimpleDrums44.begin(), kSimpleDrums44.end());
    EXPECT_EQ(drumKeysInBar(c.noteTracks(), 3), last);
}

TEST(ArrangementRendering, AThreeFourBarInAFourFourArrangementIsASimpleBar) {
    const Arrangement arrangement = makeArrangement(4, 4, 120, {markerPart(50, 1)});
    MelodyOptions options;
    options.meterChanges = {{2, "3/4"}, {3, "4/4"}};
    Piece piece = arrangedPiece(&arrangement, 5, options);
    Composition& c = piece.composition();
    renderAccompaniment(c);
    EXPECT_EQ(drumKeysInBar(c.noteTracks(), 1), (std::vector<int>{50}));
    EXPECT_EQ(drumKeysInBar(c.noteTracks(), 2), (std::vector<int>{35, 42, 42, 42}));
    EXPECT_EQ(notesInBar(c.noteTracks(), kOrgan, 2)[0].duration, 1430);
    EXPECT_EQ(drumKeysInBar(c.noteTracks(), 3), (std::vector<int>{50}));
}

TEST(ArrangementPart, APassMeetingANewMeterEndsWithASimpleBarThere) {
    const Arrangement arrangement = makeArrangement(4, 4, 120, {markerPart(50, 3)});
    MelodyOptions options;
    options.meterChanges = {{2, "3/4"}};
    Piece piece = loadPiece("4/4", 4, options);
    setChords(piece.composition(), std::vector<ChordCode>(4, kC));
    int32_t bar = 0;
    EXPECT_EQ(applyArrangementPart(piece.notes(), piece.composition().chordTrack, bar, 3,
                                   &arrangement, 0, 48, 1),
              2);
    EXPECT_EQ(bar, 3);
    EXPECT_EQ(drumKeysInBar(piece.notes(), 1), (std::vector<int>{50}));
    EXPECT_EQ(drumKeysInBar(piece.notes(), 2), (std::vector<int>{35, 42, 42, 42}));
    EXPECT_EQ(notesInBar(piece.notes(), kOrgan, 2).size(), 3u);  // the simple bar's chord
}

TEST(ArrangementPart, ABarWithoutChordLendsItsPassTheNextBarsChord) {
    ArrangementPart part;
    part.organ = {ev(1, 0, 0), ev(3, 1, 0)};
    part.bass = {ev(1, 0, 0, 0, 3), ev(5, 1, 0, 0, 3)};
    part.drums = {ev(36, 0, 0), ev(38, 1, 0)};
    const Arrangement arrangement = makeArrangement(4, 4, 480, {part});
    const std::vector<ChordTrackEntry> chords = {{kNoChord, 1, -1}, {kG7, 1, -1}, {kC, 1, -1}};

    // Continuing into a bar with a chord: the first pattern bar of the lines is left out.
    NoteTracks continuing;
    int32_t bar = 0;
    EXPECT_EQ(applyArrangementPart(continuing, chords, bar, 2, &arrangement, 0, 48, 1), 2);
    EXPECT_EQ(bar, 2);
    ASSERT_EQ(continuing.count(kOrgan), 1);
    EXPECT_EQ(continuing.notes(kOrgan)[0].key, 48 + 11);  // B, the third of G7, in bar 1
    EXPECT_EQ(continuing.notes(kOrgan)[0].position.bar, 1);
    ASSERT_EQ(continuing.count(kBass), 1);
    EXPECT_EQ(continuing.notes(kBass)[0].key, 36 + 2 + 12);  // D, above the root G

    // Not continuing: only the drums play, and only their first bar.
    NoteTracks alone;
    bar = 0;
    EXPECT_EQ(applyArrangementPart(alone, chords, bar, 2, &arrangement, 0, 48, 0), 1);
    EXPECT_EQ(bar, 1);
    EXPECT_EQ(alone.count(kOrgan), 0);
    EXPECT_EQ(alone.count(kBass), 0);

    // No drums and no lines: the next pass still starts one bar later.
    Arrangement silent = arrangement;
    silent.parts[0].drums.clear();
    NoteTracks none;
    bar = 0;
    EXPECT_EQ(applyArrangementPart(none, chords, bar, 2, &silent, 0, 48, 0), 0);
    EXPECT_EQ(bar, 1);
}

TEST(ArrangementPart, TheBassFindsTonesTheOrganDoesNotUse) {
    ArrangementPart part;
    part.organ = {ev(1, 0, 0), ev(3, 0, 0)};
    part.bass = {ev(5, 0, 0, 0, 3), ev(7, 0, 1, 0, 3)};
    const Arrangement arrangement = makeArrangement(4, 4, 480, {part});
    const std::vector<ChordTrackEntry> chords = {{kAm, 1, -1}};
    NoteTracks notes;
    int32_t bar = 0;
    applyArrangementPart(notes, chords, bar, 0, &arrangement, 0, 48, 0);
    ASSERT_EQ(notes.count(kBass), 2);
    EXPECT_EQ(notes.notes(kBass)[0].key, 36 + 4 + 12);  // E, raised above the root A
    EXPECT_EQ(notes.notes(kBass)[1].key, 36 + 9 + 12);  // the octave of the triad's root
    EXPECT_EQ(notes.notes(kOrgan)[1].key, 48 + 12);     // C above A
    // The simple accompaniment of a scratch set assumes 4/4 at 480 ticks per quarter.
    NoteTracks scratch;
    renderSimpleAccompaniment(scratch, chords, 0, 1, 48);
    EXPECT_EQ(scratch.meterMap().ticksPerBar(0), 1920);
    EXPECT_EQ(scratch.notes(kDrums).size(), 5u);
}

TEST(ArrangementRendering, AnArrangementWithFewerPartsWrapsAroundThem) {
    const Arrangement arrangement =
        makeArrangement(4, 4, 120, {markerPart(50, 1), markerPart(51, 1)});
    Piece piece = arrangedPiece(&arrangement, 5);
    Composition& c = piece.composition();
    c.partPlan = {0, 1, 2, 3, 0};
    renderAccompaniment(c);
    EXPECT_EQ(drumKeysInBar(c.noteTracks(), 2), (std::vector<int>{50}));
    EXPECT_EQ(drumKeysInBar(c.noteTracks(), 3), (std::vector<int>{51}));

    Arrangement empty = makeArrangement(4, 4, 120, {});
    c.arrangement = &empty;
    renderAccompaniment(c);
    EXPECT_EQ(drumKeysInBar(c.noteTracks(), 2), kSimpleDrums44);
}
