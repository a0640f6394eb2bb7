#include <gtest/gtest.h>

#include "accompaniment/AccompanimentChoice.h"
#include "accompaniment/Tarangsmaster.h"
#include "accompaniment/Tstylemaster.h"
#include "support/accompaniment_fixture.h"

using namespace varimel;
using namespace varimel::test;

namespace {

Style styleFor(int numerator, int denominator, int program, int octave = 4) {
    Style style = makeStyle(numerator, denominator, 120, 1, meterSet({{numerator, denominator}}),
                            {ev(1, 0, 0)}, octave);
    style.program = static_cast<uint8_t>(program);
    return style;
}

// Five 4/4 styles (programs 10..14, the third an octave low) and one 3/4 style (program 30).
struct Libraries {
    TempFolder styleFolder;
    TempFolder arrangementFolder;
    StyleLibrary styles;
    ArrangementLibrary arrangements;
    ChannelSettings channels;
    AccompanimentSetup setup;

    Libraries() {
        StyleList list;
        auto add = [&](int category, const std::string& name, const Style& style) {
            auto& entries = list.categories[static_cast<size_t>(category)];
            entries.push_back({makeStyleId(category, static_cast<int>(entries.size())), name});
            styleFolder.write(name + ".stt", serializeStyle(style));
        };
        add(0, "P10", styleFor(4, 4, 10));
        add(0, "P30", styleFor(3, 4, 30));
        add(0, "P11", styleFor(4, 4, 11));
        add(1, "G12", styleFor(4, 4, 12, 2));
        add(2, "O13", styleFor(4, 4, 13));
        add(2, "O14", styleFor(4, 4, 14));
        styleFolder.write("styles.lst", serializeStyleList(list));
        styles.setDirectory(styleFolder.directory());
        EXPECT_TRUE(styles.load());

        ArrangementList arrangementList;
        ArrangementGroup group;
        group.key = static_cast<uint16_t>(meterKey(4, 4));
        group.entries = {{1, "Slow"}, {2, "Medium"}, {4, "Fast"}};
        arrangementList.groups.push_back(group);
        arrangementFolder.write("arangs.lst", serializeArrangementList(arrangementList));
        for (int i = 0; i < 3; ++i) {
            Arrangement arrangement;
            arrangement.meterNum = 4;
            arrangement.meterDen = 4;
            arrangement.ppq = 120;
            ArrangementPart part;
            part.organ = {ev(1, 0, 0)};
            part.organProgram = static_cast<uint8_t>(17 + i);
            part.organVolume = 60;
            part.bassProgram = static_cast<uint8_t>(32 + i);
            part.bassVolume = 90;
            part.drumsVolume = 110;
            arrangement.parts = {part};
            arrangementFolder.write(group.entries[static_cast<size_t>(i)].name + ".art",
                                    serializeArrangement(arrangement));
        }
        arrangements.setDirectory(arrangementFolder.directory());
        EXPECT_TRUE(arrangements.loadList());

        setup.styles = &styles;
        setup.arrangements = &arrangements;
        setup.channels = &channels;
    }
};

Piece harmonised(std::string_view meter, int bars, int bpm = 120) {
    Piece piece = loadPiece(meter, bars);
    piece.composition().tempo = 60000000 / bpm;
    setChords(piece.composition(), std::vector<ChordCode>(static_cast<size_t>(bars), kC));
    return piece;
}

int programEvent(const Composition& c, int channel) {
    return c.eventValue(static_cast<uint8_t>(event_kind::kProgramChange | channel), 0);
}
int volumeEvent(const Composition& c, int channel) {
    return c.eventValue(static_cast<uint8_t>(event_kind::kController | channel), 7);
}

}  // namespace

TEST(ChooseStyle, PicksAutomaticallyBySeedWhenThePieceHasNoStyle) {
    Libraries libraries;
    // Eight bars of quarters: 32 notes + 8 bars, seed 0: the fifth fitting style.
    Piece piece = harmonised("4/4", 8);
    Composition& c = piece.composition();
    ASSERT_EQ(styleSeed(c), 0);
    libraries.setup.arrangementEnabled = true;
    EXPECT_TRUE(chooseStyle(libraries.setup, c));
    EXPECT_EQ(c.style->program, 14);
    // An automatic choice is not stored with the chord track, so a saved project chooses again.
    EXPECT_EQ(c.styleId(), kNoStyle);
    EXPECT_EQ(libraries.styles.selection(), makeStyleId(2, 1));
    EXPECT_EQ(c.accompanimentParts, accompaniment_part::kStyle);
    EXPECT_FALSE(libraries.setup.arrangementEnabled);

    // Seven bars: 28 + 7 = 35, seed 3, the second fitting style.
    Piece other = harmonised("4/4", 7);
    libraries.styles.style(kNoStyle);
    ASSERT_EQ(styleSeed(other.composition()), 3);
    EXPECT_TRUE(chooseStyle(libraries.setup, other.composition()));
    EXPECT_EQ(other.composition().style->program, 11);
}

TEST(ChooseStyle, KeepsThePiecesStyleElseTakesAFittingSelection) {
    Libraries libraries;
    Piece piece = harmonised("4/4", 8);
    Composition& c = piece.composition();
    c.chordTrack.front().extra = makeStyleId(1, 0);
    c.setAccompanimentParts(accompaniment_part::kBlockChords);
    EXPECT_TRUE(chooseStyle(libraries.setup, c));
    EXPECT_EQ(c.style->program, 12);
    // The block-chord bit means something only alone: it goes when the style comes.
    EXPECT_EQ(c.accompanimentParts, accompaniment_part::kStyle);
    EXPECT_EQ(libraries.styles.selection(), makeStyleId(1, 0));

    // No identifier: the library's selection, when it fits the meter.
    Piece fresh = harmonised("4/4", 8);
    libraries.styles.style(makeStyleId(0, 2));
    EXPECT_TRUE(chooseStyle(libraries.setup, fresh.composition()));
    EXPECT_EQ(fresh.composition().style->program, 11);
    // A selection in another meter is not taken: the automatic choice is.
    libraries.styles.style(makeStyleId(0, 1));
    Piece again = harmonised("4/4", 8);
    EXPECT_TRUE(chooseStyle(libraries.setup, again.composition()));
    EXPECT_EQ(again.composition().style->program, 14);
}

TEST(ChooseStyle, NoFittingStyleOrNoLibraryMeansNoStylePart) {
    Libraries libraries;
    Piece piece = harmonised("6/8", 8);
    Composition& c = piece.composition();
    c.setAccompanimentParts(accompaniment_part::kStyle | accompaniment_part::kArrangement);
    EXPECT_FALSE(chooseStyle(libraries.setup, c));
    EXPECT_EQ(c.accompanimentParts, accompaniment_part::kArrangement);
    EXPECT_EQ(noStyleForMeterMessage(c),
              "There are no accompaniment style \n\r for meter 6/8 in our collection.");

    AccompanimentSetup bare;
    EXPECT_FALSE(chooseStyle(bare, c));
    StyleLibrary unloaded(libraries.styleFolder.directory());
    bare.styles = &unloaded;
    EXPECT_FALSE(chooseStyle(bare, c));
}

TEST(StylePatch, PutsTheProgramOnChannelOneAndLowersTheOctave) {
    Libraries libraries;
    Piece piece = harmonised("4/4", 7);  // seed 3: program 11, octave 4
    Composition& c = piece.composition();
    c.accompanimentOctave = 5;
    ASSERT_TRUE(chooseStyle(libraries.setup, c));
    applyStylePatch(libraries.setup, c);
    EXPECT_EQ(libraries.channels.program[1], 11);
    EXPECT_EQ(programEvent(c, 1), 11);
    EXPECT_EQ(c.accompanimentOctave, 4);
    EXPECT_TRUE(libraries.setup.stylePatchSet);

    c.style = libraries.styles.style(makeStyleId(0, 0));
    c.accompanimentOctave = 3;
    applyStylePatch(libraries.setup, c);
    EXPECT_EQ(c.accompanimentOctave, 3);  // a style above the octave leaves it
    EXPECT_EQ(programEvent(c, 1), 10);
}

TEST(ChooseArrangement, ChoosesByMeterAndTempoAndPutsTheBandOnItsChannels) {
    Libraries libraries;
    Piece piece = harmonised("4/4", 8, 100);
    Composition& c = piece.composition();
    chooseArrangement(libraries.setup, c, kNoArrangement);
    EXPECT_EQ(c.arrangementId, makeArrangementId(0, 1));
    ASSERT_NE(c.arrangement, nullptr);
    EXPECT_EQ(c.arrangement, libraries.arrangements.current());
    EXPECT_TRUE(c.accompanimentParts & accompaniment_part::kArrangement);
    EXPECT_TRUE(libraries.arrangements.choiceMade);
    EXPECT_TRUE(libraries.setup.arrangementEnabled);
    EXPECT_EQ(libraries.channels.program[2], 18);
    EXPECT_EQ(libraries.channels.volume[2], 60);
    EXPECT_EQ(libraries.channels.program[3], 33);
    EXPECT_EQ(libraries.channels.volume[3], 90);
    EXPECT_EQ(libraries.channels.volume[9], 110);
    EXPECT_EQ(programEvent(c, 2), 18);
    EXPECT_EQ(volumeEvent(c, 9), 110);

    // Once applied, a second choice for the document changes nothing...
    Piece fast = harmonised("4/4", 8, 160);
    chooseArrangement(libraries.setup, fast.composition(), kNoArrangement);
    EXPECT_EQ(fast.composition().arrangementId, kNoArrangement);
    // ...until the next document.
    resetForDocument(libraries.setup);
    EXPECT_FALSE(libraries.arrangements.choiceMade);
    chooseArrangement(libraries.setup, fast.composition(), kNoArrangement);
    EXPECT_EQ(fast.composition().arrangementId, makeArrangementId(0, 2));
}

TEST(ChooseArrangement, WithoutAFittingArrangementTheDefaultBandPlays) {
    Libraries libraries;
    Piece piece = harmonised("3/4", 8);
    Composition& c = piece.composition();
    chooseArrangement(libraries.setup, c, kNoArrangement);
    EXPECT_EQ(c.arrangementId, 2 << 16);  // Auto
    EXPECT_EQ(c.arrangement, nullptr);
    EXPECT_TRUE(libraries.arrangements.noArrangement);
    EXPECT_EQ(libraries.channels.program[2], 16);
    EXPECT_EQ(libraries.channels.volume[2], 70);
    EXPECT_EQ(libraries.channels.program[3], 33);
    EXPECT_EQ(libraries.channels.volume[3], 100);
    EXPECT_EQ(libraries.channels.volume[9], 100);
}

TEST(ChooseArrangement, AnArrangementThatCannotBeLoadedIsReportedAndTheDefaultsApply) {
    Libraries libraries;
    std::vector<std::string> reported;
    libraries.arrangements.setErrorReporter([&](const std::string& t) { reported.push_back(t); });
    std::filesystem::remove(libraries.arrangementFolder.path() / "Medium.art");
    Piece piece = harmonised("4/4", 8, 120);
    Composition& c = piece.composition();
    chooseArrangement(libraries.setup, c, kNoArrangement);
    EXPECT_EQ(reported, (std::vector<std::string>{"Can't Load selected Arrangement?"}));
    EXPECT_EQ(c.arrangement, nullptr);
    EXPECT_EQ(libraries.channels.program[2], 16);

    // While the player runs nothing is chosen.
    resetForDocument(libraries.setup);
    libraries.setup.playing = true;
    Piece other = harmonised("4/4", 8, 60);
    chooseArrangement(libraries.setup, other.composition(), kNoArrangement);
    EXPECT_EQ(other.composition().arrangementId, kNoArrangement);
    EXPECT_FALSE(libraries.arrangements.choiceMade);
}

TEST(AccompanimentMode, PartsAreAddedSetOrOnlyShown) {
    Libraries libraries;
    Piece piece = harmonised("4/4", 8, 60);
    Composition& c = piece.composition();
    ASSERT_TRUE(chooseStyle(libraries.setup, c));
    EXPECT_EQ(setAccompanimentMode(libraries.setup, c, accompaniment_part::kArrangement,
                                   ModeChange::kAdd),
              6u);
    EXPECT_EQ(c.accompanimentParts, 6u);
    EXPECT_TRUE(libraries.setup.stylePatchSet);
    EXPECT_TRUE(libraries.setup.arrangementPatchesSet);
    EXPECT_EQ(c.arrangementId, makeArrangementId(0, 0));  // slow
    EXPECT_TRUE(c.testStateFlags(state_flag::kAccompanimentModeChanged));

    // "1-beat" and back: the previous parts return.
    setAccompanimentMode(libraries.setup, c, accompaniment_part::kBlockChords,
                         ModeChange::kSetExactly);
    EXPECT_EQ(c.accompanimentParts, 1u);
    EXPECT_FALSE(libraries.setup.arrangementEnabled);
    setAccompanimentMode(libraries.setup, c, c.previousParts, ModeChange::kSetExactly);
    EXPECT_EQ(c.accompanimentParts, 6u);

    // Switching the style off leaves the arrangement; showing only changes nothing.
    setAccompanimentMode(libraries.setup, c, accompaniment_part::kArrangement,
                         ModeChange::kSetExactly);
    EXPECT_EQ(c.accompanimentParts, 4u);
    EXPECT_EQ(
        setAccompanimentMode(libraries.setup, c, accompaniment_part::kStyle, ModeChange::kShowOnly),
        6u);
    EXPECT_EQ(c.accompanimentParts, 4u);

    libraries.setup.playing = true;
    setAccompanimentMode(libraries.setup, c, accompaniment_part::kBlockChords,
                         ModeChange::kSetExactly);
    EXPECT_EQ(c.accompanimentParts, 4u);
}

TEST(CreateAccompaniment, TakesAStyleWhenOneFitsElseTheBlockChordsWithTheDefaultInstrument) {
    Libraries libraries;
    Piece piece = harmonised("4/4", 8);
    EXPECT_TRUE(createAccompanimentParts(libraries.setup, piece.composition(), 5));
    EXPECT_EQ(piece.composition().accompanimentParts, accompaniment_part::kStyle);
    EXPECT_EQ(libraries.channels.program[1], 14);  // the style's instrument

    resetForDocument(libraries.setup);
    Piece jig = harmonised("6/8", 8);
    EXPECT_FALSE(createAccompanimentParts(libraries.setup, jig.composition(), 5));
    EXPECT_EQ(jig.composition().accompanimentParts, accompaniment_part::kBlockChords);
    EXPECT_EQ(libraries.channels.program[1], 5);
    EXPECT_EQ(programEvent(jig.composition(), 1), 5);
}

TEST(ChannelVolume, ZeroSilencesWithoutBeingStored) {
    Libraries libraries;
    Piece piece = harmonised("4/4", 4);
    Composition& c = piece.composition();
    setChannelVolume(libraries.setup, c, 2, 80);
    EXPECT_EQ(libraries.channels.volume[2], 80);
    EXPECT_EQ(volumeEvent(c, 2), 80);
    setChannelVolume(libraries.setup, c, 2, 0);
    EXPECT_EQ(libraries.channels.volume[2], 80);
    EXPECT_EQ(volumeEvent(c, 2), 80);
    setChannelVolume(libraries.setup, c, 16, 90);  // no such channel
    applyPatch(libraries.setup, c, -1, 3);
    EXPECT_EQ(c.channelEvents.count(), 1);
}

TEST(ModeLights, OneLightPerPartAndTheStyleLightTellsWhetherAStyleCanPlay) {
    using L = LightLook;
    EXPECT_EQ(modeLights(1, true), (std::array<L, 3>{L::On, L::Off, L::Off}));
    EXPECT_EQ(modeLights(1, false), (std::array<L, 3>{L::On, L::Unavailable, L::Off}));
    EXPECT_EQ(modeLights(2, false), (std::array<L, 3>{L::Off, L::On, L::Off}));
    EXPECT_EQ(modeLights(6, true), (std::array<L, 3>{L::Off, L::On, L::On}));
    EXPECT_EQ(modeLights(4, true), (std::array<L, 3>{L::Off, L::Off, L::On}));
    EXPECT_EQ(modeLights(4, false), (std::array<L, 3>{L::Off, L::Unavailable, L::On}));
    EXPECT_EQ(modeLights(0, true), (std::array<L, 3>{L::Off, L::Off, L::Off}));
}

TEST(ModeSwitches, OneBeatGoesBackAndTheLastPartOffLeavesTheBlockChords) {
    Libraries libraries;
    AccompanimentSetup& setup = libraries.setup;
    Piece piece = harmonised("4/4", 8, 60);
    Composition& c = piece.composition();
    ASSERT_TRUE(chooseStyle(setup, c));
    setAccompanimentMode(setup, c, accompaniment_part::kArrangement, ModeChange::kAdd);
    ASSERT_EQ(c.accompanimentParts, 6u);

    // "1-beat" on and off again: the style and the arrangement come back.
    EXPECT_EQ(toggleAccompanimentPart(setup, c, 0), SwitchOutcome::kChanged);
    EXPECT_EQ(c.accompanimentParts, 1u);
    EXPECT_EQ(toggleAccompanimentPart(setup, c, 0), SwitchOutcome::kChanged);
    EXPECT_EQ(c.accompanimentParts, 6u);

    // The arrangement off, then the style off: never silent.
    toggleAccompanimentPart(setup, c, 2);
    EXPECT_EQ(c.accompanimentParts, 2u);
    EXPECT_FALSE(setup.arrangementEnabled);  // the style dialog's box follows
    toggleAccompanimentPart(setup, c, 1);
    EXPECT_EQ(c.accompanimentParts, 1u);
    // The style on from the block chords drops them.
    toggleAccompanimentPart(setup, c, 1);
    EXPECT_EQ(c.accompanimentParts, 2u);

    // Outside the three rows, or while playing, nothing changes.
    EXPECT_EQ(toggleAccompanimentPart(setup, c, 3), SwitchOutcome::kRefused);
    setup.playing = true;
    EXPECT_EQ(toggleAccompanimentPart(setup, c, 0), SwitchOutcome::kRefused);
    EXPECT_EQ(c.accompanimentParts, 2u);
}

TEST(ModeSwitches, OneBeatWithNothingBeforeStaysAndStyleNeedsASelection) {
    Libraries libraries;
    Piece piece = harmonised("6/8", 8);  // no style for this meter
    Composition& c = piece.composition();
    EXPECT_FALSE(createAccompanimentParts(libraries.setup, c, 5));
    ASSERT_EQ(c.accompanimentParts, 1u);
    ASSERT_EQ(c.previousParts, 0u);
    toggleAccompanimentPart(libraries.setup, c, 0);
    EXPECT_EQ(c.accompanimentParts, 1u);

    libraries.styles.style(kNoStyle);
    EXPECT_EQ(toggleAccompanimentPart(libraries.setup, c, 1), SwitchOutcome::kStyleUnavailable);
    EXPECT_EQ(c.accompanimentParts, 1u);
    AccompanimentSetup bare;
    EXPECT_EQ(toggleAccompanimentPart(bare, c, 1), SwitchOutcome::kStyleUnavailable);
}

TEST(StyleCommand, OkAppliesTheSelectionAndTheArrangementBoxCancelChangesNothing) {
    Libraries libraries;
    AccompanimentSetup& setup = libraries.setup;
    Piece piece = harmonised("4/4", 8, 60);
    Composition& c = piece.composition();
    ASSERT_TRUE(createAccompanimentParts(setup, c, 5));
    ASSERT_EQ(libraries.channels.program[1], 14);
    const uint8_t flags = c.stateFlags;

    // Cancel: the piece, its instrument and its flags stay.
    applyStyleDialogResult(setup, c, {false, makeStyleId(1, 0), true});
    EXPECT_EQ(c.accompanimentParts, 2u);
    EXPECT_EQ(libraries.channels.program[1], 14);
    EXPECT_EQ(c.styleId(), kNoStyle);
    EXPECT_EQ(c.stateFlags, flags);

    // OK with a style and the arrangement box: both parts, the style's instrument, the style kept.
    libraries.channels.program[1] = 40;  // the user's instrument gives way to the new style's
    applyStyleDialogResult(setup, c, {true, makeStyleId(1, 0), true});
    EXPECT_EQ(c.accompanimentParts, 6u);
    EXPECT_EQ(c.style->program, 12);
    EXPECT_EQ(libraries.channels.program[1], 12);
    EXPECT_EQ(c.styleId(), makeStyleId(1, 0));
    EXPECT_TRUE(setup.arrangementPatchesSet);

    // OK with the box cleared: the arrangement goes.
    applyStyleDialogResult(setup, c, {true, makeStyleId(1, 0), false});
    EXPECT_EQ(c.accompanimentParts, 2u);

    // OK without a selection: the block chords, and no style stored.
    applyStyleDialogResult(setup, c, {true, kNoStyle, false});
    EXPECT_EQ(c.accompanimentParts, 1u);
    EXPECT_EQ(c.styleId(), kNoStyle);

    // Only the arrangement box: the arrangement alone, never an empty set of parts.
    applyStyleDialogResult(setup, c, {true, kNoStyle, true});
    EXPECT_EQ(c.accompanimentParts, 4u);
    applyStyleDialogResult(setup, c, {true, kNoStyle, false});
    EXPECT_EQ(c.accompanimentParts, 1u);
}

TEST(ArrangementCommand, TheToggleGoesBackAndTheDialogsChoiceReplacesTheApplied) {
    Libraries libraries;
    AccompanimentSetup& setup = libraries.setup;
    Piece piece = harmonised("4/4", 8, 60);
    Composition& c = piece.composition();
    ASSERT_TRUE(createAccompanimentParts(setup, c, 5));

    toggleArrangement(setup, c);
    EXPECT_EQ(c.accompanimentParts, 6u);
    EXPECT_EQ(c.arrangementId, makeArrangementId(0, 0));
    toggleArrangement(setup, c);
    EXPECT_EQ(c.accompanimentParts, 2u);
    // Back on: the arrangement chosen before is kept.
    toggleArrangement(setup, c);
    EXPECT_EQ(c.accompanimentParts, 6u);
    EXPECT_EQ(c.arrangementId, makeArrangementId(0, 0));

    // The dialog's choice replaces it, with its own band.
    applyArrangementChoice(setup, c, makeArrangementId(0, 2));
    EXPECT_EQ(c.arrangementId, makeArrangementId(0, 2));
    EXPECT_EQ(libraries.channels.program[2], 19);
    EXPECT_EQ(libraries.channels.program[3], 34);
    EXPECT_TRUE(c.accompanimentParts & accompaniment_part::kArrangement);
    // "Auto" (beyond the groups): the default band.
    applyArrangementChoice(setup, c, 2 << 16);
    EXPECT_EQ(c.arrangement, nullptr);
    EXPECT_EQ(libraries.channels.program[2], default_band::kOrganProgram);
    EXPECT_EQ(libraries.channels.volume[2], default_band::kOrganVolume);

    // A toggle off from the arrangement alone leaves the block chords.
    setAccompanimentMode(setup, c, accompaniment_part::kBlockChords, ModeChange::kSetExactly);
    setAccompanimentMode(setup, c, accompaniment_part::kArrangement, ModeChange::kSetExactly);
    toggleArrangement(setup, c);
    EXPECT_EQ(c.accompanimentParts, 1u);
}
