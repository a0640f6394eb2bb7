#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "accompaniment/ChordToneTable.h"
#include "accompaniment/StyleRenderer.h"
#include "support/accompaniment_fixture.h"

using namespace varimel;
using namespace varimel::test;

namespace {

constexpr int kChords = accompaniment_list::kChords;

// A piece of `bars` bars with the same chord in every bar and the style on.
Piece styledPiece(const Style& style, int bars, ChordCode chord = kC, MelodyOptions options = {},
                  std::string_view meter = "4/4") {
    Piece piece = loadPiece(meter, bars, std::move(options));
    EXPECT_TRUE(piece.status == status::kOk || piece.status == status::kTooLittleMaterial)
        << piece.status;
    setChords(piece.composition(), std::vector<ChordCode>(static_cast<size_t>(bars), chord));
    piece.composition().style = &style;
    piece.composition().setAccompanimentParts(accompaniment_part::kStyle);
    return piece;
}

// The bars of list 1 that hold a held chord (the renderer's 0x6464 notes) and those with
// pattern notes.
std::set<int> heldBars(const NoteTracks& notes) {
    std::set<int> bars;
    for (const NoteRecord& note : notes.notes(kChords)) {
        if (note.velocity == kHeldChordVelocity) bars.insert(note.position.bar);
    }
    return bars;
}
std::set<int> patternBars(const NoteTracks& notes) {
    std::set<int> bars;
    for (const NoteRecord& note : notes.notes(kChords)) {
        if (note.velocity != kHeldChordVelocity) bars.insert(note.position.bar);
    }
    return bars;
}

std::vector<int> keys(const std::vector<NoteRecord>& notes) {
    std::vector<int> found;
    for (const NoteRecord& note : notes) found.push_back(note.key);
    return found;
}

// One pattern note on the downbeat of each of `bars` pattern bars, velocity 0x5040.
Style barMarkerStyle(int bars, MeterSet meters = meterSet({{4, 4}})) {
    std::vector<PatternEvent> events;
    for (int bar = 0; bar < bars; ++bar) events.push_back(ev(1, bar, 0, 0, 4, 100, 0x5040));
    return makeStyle(4, 4, 480, bars, meters, events);
}

}  // namespace

TEST(ChordToneTable, FillsTheSlotsOfTheSelectorsThePatternUses) {
    const std::vector<PatternEvent> all = {ev(1, 0, 0), ev(3, 0, 0), ev(5, 0, 0), ev(7, 0, 0)};
    ChordToneTable c = buildChordToneTable(kC, all);
    EXPECT_EQ(c.slots, (std::array<int8_t, 7>{0, -1, 4, 7, 7, 12, 12}));  // triad: octave root
    EXPECT_EQ(c.firstTone(), 0);
    ChordToneTable g7 = buildChordToneTable(kG7, all);
    EXPECT_EQ(g7.slots, (std::array<int8_t, 7>{7, -1, 11, 2, 2, 5, 5}));  // F is the seventh

    // Selectors the pattern does not use stay empty, so there is no first tone here.
    ChordToneTable partial = buildChordToneTable(kAm, std::vector<PatternEvent>{ev(-3, 0, 0)});
    EXPECT_EQ(partial.slots, (std::array<int8_t, 7>{-1, -1, 0, -1, -1, -1, -1}));
    EXPECT_EQ(partial.firstTone(), -1);
    EXPECT_EQ(partial.tone(-3), 0);  // the sign is ignored

    // Selectors 0, 2 and above 7 have no tone; neither has a chord without tones.
    for (int selector : {0, 2, 8, 127, -128}) EXPECT_EQ(c.tone(selector), -1) << selector;
    ChordToneTable empty = buildChordToneTable(kEmpty, all);
    EXPECT_EQ(empty.slots, (std::array<int8_t, 7>{-1, -1, -1, -1, -1, -1, -1}));
    EXPECT_EQ(buildChordToneTable(kNoChord, all).firstTone(), -1);
}

TEST(BlockChords, HoldEachEnabledChordForTheBarLessTenTicks) {
    Piece piece = loadPiece("4/4", 4);
    Composition& c = piece.composition();
    setChords(c, {kC, kNoChord, kG7, kAm});
    c.chordTrack[3].enabled = 0;
    c.setAccompanimentParts(accompaniment_part::kBlockChords);
    EXPECT_EQ(renderAccompaniment(c), 7);

    const int base = c.accompanimentOctave * 12;
    const auto bar0 = notesInBar(c.noteTracks(), kChords, 0);
    EXPECT_EQ(keys(bar0), (std::vector<int>{base, base + 4, base + 7}));
    for (const NoteRecord& note : bar0) {
        EXPECT_EQ(note.duration, 1910);
        EXPECT_EQ(note.velocity, 0x6464);
        EXPECT_EQ(note.pitchClass, 0);
        EXPECT_EQ(note.position, (SongPosition{0, 0, 0}));
    }
    EXPECT_TRUE(notesInBar(c.noteTracks(), kChords, 1).empty());
    EXPECT_EQ(keys(notesInBar(c.noteTracks(), kChords, 2)),
              (std::vector<int>{base + 7, base + 11, base + 2, base + 5}));  // in degree order
    EXPECT_TRUE(notesInBar(c.noteTracks(), kChords, 3).empty());             // muted
}

TEST(BlockChords, TheLastChordSoundsUntilAHeldFinalNoteEnds) {
    // Two bars of quarters, then a final note held over three bars: the harmony has three
    // bars, the last chord sounds to the end of the fifth.
    std::vector<Step> steps;
    for (const char* pitch : {"C5", "D5", "E5", "F5", "G5", "A5", "B5", "C6"})
        steps.push_back({pitch, 1_beat});
    steps.push_back({"C5", 12_beats});
    TempMidiFile file(melody("4/4", steps));
    ChordMaster master(file.pathString());
    ASSERT_EQ(master.loadMidi(), status::kOk);
    Composition& c = *master.composition();
    ASSERT_EQ(c.barCount, 3);
    setChords(c, {kC, kG7, kC});
    c.setAccompanimentParts(accompaniment_part::kBlockChords);
    renderAccompaniment(c);
    const MeterMap& meter = c.noteTracks().meterMap();
    const auto last = notesInBar(c.noteTracks(), kChords, 2);
    ASSERT_EQ(last.size(), 3u);
    for (const NoteRecord& note : last)
        EXPECT_EQ(meter.tickOfPosition(note.position) + note.duration, 5 * 1920);
    for (const NoteRecord& note : notesInBar(c.noteTracks(), kChords, 1))
        EXPECT_EQ(note.duration, 1910);  // the chords before it keep their length
    EXPECT_EQ(c.barCount, 3);
}

TEST(StyleRendering, AFourBarStyleOverTenBarsStartsPassesAtZeroFourAndEight) {
    const Style style = barMarkerStyle(4);
    Piece piece = styledPiece(style, 10);
    renderAccompaniment(piece.composition());
    // The third pass plays its first two bars in bars 8 and 9 and stops at bar 10.
    EXPECT_EQ(patternBars(piece.notes()), (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_TRUE(heldBars(piece.notes()).empty());

    // Passes start where applyStylePattern says they end.
    std::vector<int32_t> starts;
    for (int32_t bar = 0; bar < 10;) {
        starts.push_back(bar);
        applyStylePattern(piece.notes(), piece.composition().chordTrack, bar, 10, &style, 48,
                          kChords);
    }
    EXPECT_EQ(starts, (std::vector<int32_t>{0, 4, 8}));
}

TEST(StyleRendering, TheLastMelodyBarIsHeldWhenAPassWouldStartOnIt) {
    const Style style = barMarkerStyle(3);
    Piece piece = styledPiece(style, 10);
    renderAccompaniment(piece.composition());
    EXPECT_EQ(patternBars(piece.notes()), (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(heldBars(piece.notes()), (std::set<int>{9}));
    const int base = style.octave * 12;  // held chords take the style's octave
    EXPECT_EQ(keys(notesInBar(piece.notes(), kChords, 9)),
              (std::vector<int>{base, base + 4, base + 7}));
}

TEST(StyleRendering, ABarInAForeignMeterGetsAHeldChordOfItsOwnLength) {
    const Style style = barMarkerStyle(2);  // fits 4/4 only
    MelodyOptions options;
    options.meterChanges = {{3, "3/4"}, {4, "4/4"}};
    Piece piece = styledPiece(style, 10, kC, options);
    renderAccompaniment(piece.composition());
    // Passes at 0 and 2 (cut short by bar 3), bar 3 held, passes at 4, 6 and 8.
    EXPECT_EQ(heldBars(piece.notes()), (std::set<int>{3}));
    EXPECT_EQ(patternBars(piece.notes()), (std::set<int>{0, 1, 2, 4, 5, 6, 7, 8, 9}));
    for (const NoteRecord& note : notesInBar(piece.notes(), kChords, 3)) {
        EXPECT_EQ(note.duration, 3 * 480 - 10);
    }
}

TEST(StyleRendering, APassStopsAtAMutedBarAndTheNextStartsAfterIt) {
    const Style style = barMarkerStyle(4);
    Piece piece = styledPiece(style, 10);
    piece.composition().chordTrack[2].enabled = 0;
    piece.composition().chordTrack[5].chord = kNoChord;
    renderAccompaniment(piece.composition());
    EXPECT_EQ(patternBars(piece.notes()), (std::set<int>{0, 1, 3, 4, 6, 7, 8, 9}));
    EXPECT_TRUE(heldBars(piece.notes()).empty());
}

TEST(StyleRendering, TicksAndDurationsScaleFromTheStylesPpq) {
    // ppq 120 into a piece at 480 ticks per quarter: everything times four.
    const Style style = makeStyle(4, 4, 120, 1, meterSet({{4, 4}}),
                                  {ev(1, 0, 0, 0, 4, 110), ev(3, 0, 1, 30, 4, 60)});
    Piece piece = styledPiece(style, 4);
    renderAccompaniment(piece.composition());
    const auto bar1 = notesInBar(piece.notes(), kChords, 1);
    ASSERT_EQ(bar1.size(), 2u);
    EXPECT_EQ(bar1[0].duration, 440);
    EXPECT_EQ(bar1[1].position, (SongPosition{1, 1, 120}));
    EXPECT_EQ(bar1[1].duration, 240);
}

TEST(StyleRendering, A44StyleInA24PieceRemapsItsBeats) {
    // Beat ratio 2/4: beat 1 lands on beat 0 at ppq ticks, beat 2 on beat 1.
    const Style style = makeStyle(4, 4, 120, 1, meterSet({{4, 4}, {2, 4}}),
                                  {ev(1, 0, 0), ev(3, 0, 1), ev(5, 0, 2), ev(1, 0, 3, 30)});
    Piece piece = styledPiece(style, 6, kC, {}, "2/4");
    renderAccompaniment(piece.composition());
    const auto bar0 = notesInBar(piece.notes(), kChords, 0);
    ASSERT_EQ(bar0.size(), 4u);
    EXPECT_EQ(bar0[0].position, (SongPosition{0, 0, 0}));
    EXPECT_EQ(bar0[1].position, (SongPosition{0, 0, 480}));  // 120 before scaling
    EXPECT_EQ(bar0[2].position, (SongPosition{0, 1, 0}));
    // Beat 3 tick 30: x = 1.5, beat 1, tick 120 * 0.5 * 4 / 4 / 0.5 + 30 = 150, scaled 600.
    EXPECT_EQ(bar0[3].position, (SongPosition{0, 1, 600}));
}

TEST(StyleRendering, TonesBelowTheRootAreRaisedOnlyWhenThePatternUsesTheRoot) {
    const int octave = 4;
    const int base = octave * 12;
    // A minor: A = 9, C = 0, E = 4.
    const Style withRoot =
        makeStyle(4, 4, 480, 1, meterSet({{4, 4}}), {ev(1, 0, 0), ev(3, 0, 1), ev(5, 0, 2)});
    Piece first = styledPiece(withRoot, 4, kAm);
    renderAccompaniment(first.composition());
    EXPECT_EQ(keys(notesInBar(first.notes(), kChords, 0)),
              (std::vector<int>{base + 9, base + 12, base + 16}));
    // The chord tone is kept as the note's pitch class.
    EXPECT_EQ(notesInBar(first.notes(), kChords, 0)[1].pitchClass, 0);

    const Style withoutRoot =
        makeStyle(4, 4, 480, 1, meterSet({{4, 4}}), {ev(3, 0, 1), ev(5, 0, 2)});
    Piece second = styledPiece(withoutRoot, 4, kAm);
    renderAccompaniment(second.composition());
    EXPECT_EQ(keys(notesInBar(second.notes(), kChords, 0)), (std::vector<int>{base + 0, base + 4}));
}

TEST(StyleRendering, EventOctavesAreCountedFromTheStylesOctave) {
    const Style style = makeStyle(4, 4, 480, 1, meterSet({{4, 4}}),
                                  {ev(1, 0, 0, 0, 2), ev(1, 0, 1, 0, 4), ev(1, 0, 2, 0, 6)}, 4);
    Piece piece = styledPiece(style, 4, kG7);
    renderAccompaniment(piece.composition());
    EXPECT_EQ(keys(notesInBar(piece.notes(), kChords, 0)),
              (std::vector<int>{24 + 7, 48 + 7, 72 + 7}));
}

TEST(StyleRendering, SelectorsWithoutAToneAndToneLessChordsPlayNothing) {
    // Selectors 0, 2 and 9 have no tone: those events are left out, the others play.
    const Style style =
        makeStyle(4, 4, 480, 1, meterSet({{4, 4}}),
                  {ev(1, 0, 0), ev(0, 0, 1), ev(2, 0, 2), ev(9, 0, 3), ev(7, 0, 3)});
    Piece piece = styledPiece(style, 4);
    renderAccompaniment(piece.composition());
    const auto bar0 = notesInBar(piece.notes(), kChords, 0);
    EXPECT_EQ(keys(bar0), (std::vector<int>{48, 60}));  // the root, and the octave for 7

    // A chord type without tones: nothing in its bars, and the walk still ends.
    Piece empty = styledPiece(style, 4, kEmpty);
    renderAccompaniment(empty.composition());
    EXPECT_EQ(empty.notes().count(kChords), 0);
}

TEST(StyleRendering, DamagedStylesNeverStallTheWalk) {
    Style noEvents = makeStyle(4, 4, 480, 2, meterSet({{4, 4}}), {});
    Piece first = styledPiece(noEvents, 5);
    renderAccompaniment(first.composition());
    EXPECT_EQ(heldBars(first.notes()), (std::set<int>{4}));  // only the last bar is held

    Style noPpq = barMarkerStyle(1);
    noPpq.ppq = 0;
    Piece second = styledPiece(noPpq, 5);
    renderAccompaniment(second.composition());
    EXPECT_TRUE(patternBars(second.notes()).empty());

    // Pattern bars before the start and a pitch far above the MIDI range.
    Style wild = makeStyle(4, 4, 480, 1, meterSet({{4, 4}}),
                           {ev(1, -3, 0), ev(1, 0, 0, 0, 12), ev(7, 0, 1, 0, 10)});
    Piece third = styledPiece(wild, 3, kG7);
    renderAccompaniment(third.composition());
    for (const NoteRecord& note : third.notes().notes(kChords)) {
        EXPECT_LE(note.key, 127);
        EXPECT_LT(note.position.bar, 3);
    }
    EXPECT_EQ(third.notes().count(kChords), 2 * 2 + 4);  // bars 0 and 1 play, bar 2 is held
}

TEST(StyleRendering, RenderingDispatchesOnTheAccompanimentParts) {
    const Style style = barMarkerStyle(1);
    Piece piece = styledPiece(style, 4);
    Composition& c = piece.composition();
    ASSERT_TRUE(c.hasChordTrack());

    c.setAccompanimentParts(accompaniment_part::kBlockChords);
    EXPECT_EQ(renderAccompaniment(c), 4 * 3);
    EXPECT_EQ(c.noteTracks().capacity(kChords), 50);  // first render creates the lists
    EXPECT_EQ(c.noteTracks().capacity(accompaniment_list::kDrums), 50);

    // 1 with another bit is not the block-chord mode: the style plays, the lists are renewed.
    c.setAccompanimentParts(accompaniment_part::kBlockChords | accompaniment_part::kStyle);
    EXPECT_EQ(renderAccompaniment(c), 3 + 3);  // three pattern notes, the last bar held
    EXPECT_EQ(heldBars(c.noteTracks()), (std::set<int>{3}));

    // Arrangement then style: the answer is the style's count; the band lists are filled too.
    c.setAccompanimentParts(accompaniment_part::kStyle | accompaniment_part::kArrangement);
    EXPECT_EQ(renderAccompaniment(c), 6);
    EXPECT_GT(c.noteTracks().count(accompaniment_list::kOrgan), 0);
    EXPECT_GT(c.noteTracks().count(accompaniment_list::kDrums), 0);

    c.setAccompanimentParts(0);
    EXPECT_EQ(renderAccompaniment(c), 0);
    EXPECT_EQ(c.noteTracks().count(kChords), 0);
}

TEST(StyleRendering, WithoutAChordTrackNothingChanges) {
    const Style style = barMarkerStyle(1);
    Piece piece = loadPiece("4/4", 4);
    Composition& c = piece.composition();
    c.style = &style;
    c.setAccompanimentParts(accompaniment_part::kStyle);
    c.noteTracks().addNote(60, 1, 0x6464, {0, 0, 0}, 100, 0);
    EXPECT_EQ(renderAccompaniment(c), 0);
    EXPECT_EQ(c.noteTracks().count(kChords), 1);
}

TEST(StyleRendering, ThePieceEndsWithTheLaterOfMelodyAndAccompaniment) {
    // A style whose notes ring long past their bar.
    const Style style = makeStyle(4, 4, 480, 1, meterSet({{4, 4}}), {ev(1, 0, 0, 0, 4, 8000)});
    Piece piece = styledPiece(style, 4);
    Composition& c = piece.composition();
    const int32_t melodyEnd = c.noteTracks().secondEndTick();
    ASSERT_EQ(melodyEnd, 4 * 1920);
    renderAccompaniment(c);
    // Bar 3 is held (the last melody bar) and ends with the melody.
    EXPECT_EQ(c.noteTracks().melodyEndTick(), melodyEnd);
    c.chordTrack[3].enabled = 0;
    renderAccompaniment(c);
    EXPECT_EQ(c.noteTracks().melodyEndTick(), 2 * 1920 + 8000);  // bar 2's note, last on list 1
    c.setAccompanimentParts(accompaniment_part::kBlockChords);
    renderAccompaniment(c);
    EXPECT_EQ(c.noteTracks().melodyEndTick(), melodyEnd);
}

TEST(StylePreview, PlaysOnePassOverCMajorInTheStylesOwnTicks) {
    const Style style = makeStyle(3, 4, 96, 2, meterSet({{3, 4}}),
                                  {ev(1, 0, 0, 0, 3, 90), ev(3, 0, 1, 48, 4, 48), ev(5, 1, 2)}, 4);
    const StylePreview preview = renderStylePreview(style);
    ASSERT_TRUE(preview.notes);
    EXPECT_EQ(preview.eventsPlaced, 3);
    EXPECT_EQ(preview.division, 96);
    EXPECT_EQ(preview.tempo, 500000);
    const auto& notes = preview.notes->notes(kChords);
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(keys(notes), (std::vector<int>{36, 52, 55}));  // C2, E3, G3
    EXPECT_EQ(notes[1].position, (SongPosition{0, 1, 48}));  // unscaled
    EXPECT_EQ(notes[1].duration, 48);
    EXPECT_EQ(preview.notes->melodyEndTick(), 3 * 96 + 2 * 96 + 100);
    EXPECT_EQ(preview.notes->meterMap().ticksPerBar(0), 3 * 96);

    // A pattern with events past its bars finds no chord there and stops.
    Style longer = style;
    longer.bars = 1;
    EXPECT_EQ(renderStylePreview(longer).eventsPlaced, 2);
}

TEST(StylePattern, WithoutAStyleNothingHappens) {
    NoteTracks notes;
    const std::vector<ChordTrackEntry> chords(2, ChordTrackEntry{kC, 1, -1});
    int32_t bar = 1;
    EXPECT_EQ(applyStylePattern(notes, chords, bar, 2, nullptr, 48, kChords), 0);
    EXPECT_EQ(bar, 1);

    // A scratch set without meter gets 480 ticks per quarter and the style's meter.
    const Style style = makeStyle(3, 4, 120, 1, meterSet({{3, 4}}), {ev(1, 0, 2, 60, 4, 30)});
    bar = 0;
    EXPECT_EQ(applyStylePattern(notes, chords, bar, 2, &style, 48, kChords), 1);
    EXPECT_EQ(bar, 1);
    EXPECT_EQ(notes.meterMap().ticksPerBar(0), 1440);
    EXPECT_EQ(notes.notes(kChords)[0].position, (SongPosition{0, 2, 240}));
    EXPECT_EQ(notes.notes(kChords)[0].duration, 120);
}
