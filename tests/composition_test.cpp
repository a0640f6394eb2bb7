#include <gtest/gtest.h>

#include <cerrno>

#include "engine/Apperr.h"

using namespace varimel;

TEST(KeySignature, FlatAndSharpSignaturesOfFiveToSevenFoldOntoTheSameKeys) {
    EXPECT_EQ(signatureToKey(-5, 0), 0);  // "Cis-dur" written with five flats
    EXPECT_EQ(signatureToKey(-7, 0), 2);  // "H-dur" with seven flats
    EXPECT_EQ(signatureToKey(5, 0), 2);   // five sharps: "H-dur"
    EXPECT_EQ(signatureToKey(7, 0), 0);   // seven sharps: "Cis-dur"
    EXPECT_EQ(signatureToKey(0, 0), 7);
    EXPECT_EQ(signatureToKey(0, 1), 19);
    EXPECT_EQ(signatureToKey(1, 1), 20);
    for (KeyIndex key = 0; key < 24; ++key) {
        const KeySignature signature = keyToSignature(key);
        EXPECT_EQ(signatureToKey(signature.sharpsFlats, signature.minor), key) << key;
        EXPECT_EQ(signature.minor, key >= 12 ? 1 : 0);
    }
    EXPECT_EQ(keyToSignature(1).sharpsFlats, -6);
}

TEST(Composition, StartsWithTheFileDefaults) {
    Composition c;
    EXPECT_EQ(c.tempo, 500000);
    EXPECT_EQ(c.ticksPerQuarter, 480);
    EXPECT_EQ(c.fileFormat, 1);
    EXPECT_EQ(c.fileKey, -1);
    EXPECT_EQ(c.accompanimentOctave, -1);
    EXPECT_EQ(c.arrangementId, -1);
    EXPECT_EQ(c.noteTracks().capacity(0), 50);
    EXPECT_EQ(c.conductorEvents.capacity(), 5);
    EXPECT_EQ(c.eventValue(event_kind::kTempo, 0), 500000);
    EXPECT_EQ(c.eventValue(event_kind::kTempo, 60), 120);  // beats per minute
    int numerator = 0, denominator = 0;
    c.eventValue(event_kind::kTimeSignature, 0, &numerator, &denominator);
    EXPECT_EQ(numerator, 4);
    EXPECT_EQ(denominator, 4);
    int sharpsFlats = 9, minor = 9;
    EXPECT_EQ(c.eventValue(event_kind::kKeySignature, 0, &sharpsFlats, &minor), 7);
    EXPECT_EQ(sharpsFlats, 0);
    EXPECT_EQ(minor, 0);
    EXPECT_EQ(c.eventValue(event_kind::kProgramChange | 3, 0), -1);
}

TEST(Composition, StateFlagsAndAccompanimentParts) {
    Composition c;
    c.setStateFlags(state_flag::kKeyChanged | state_flag::kContentChanged, true);
    EXPECT_TRUE(c.testStateFlags(state_flag::kNeedsHarmony));
    c.setStateFlags(state_flag::kKeyChanged, false);
    EXPECT_FALSE(c.testStateFlags(state_flag::kNeedsHarmony));
    EXPECT_TRUE(c.testStateFlags(state_flag::kNeedsSave));
    c.setStateFlags(0, true);
    EXPECT_EQ(c.stateFlags, 0);

    EXPECT_EQ(c.setAccompanimentParts(2), 2u);
    EXPECT_EQ(c.setAccompanimentParts(2), 2u);
    EXPECT_EQ(c.previousParts, 0u);
    c.setAccompanimentParts(6);
    EXPECT_EQ(c.previousParts, 2u);
}

TEST(Composition, SetEventReplacesOrInsertsAtTheFront) {
    Composition c;
    c.meterMap().addSegment(0, 4, 4);
    c.conductorEvents.append({event_kind::kTempo, 400000, 0, {}});
    c.setEvent(event_kind::kKeySignature, 0, packEventValue(-2, 0), 0, false, 1920);
    ASSERT_EQ(c.conductorEvents.count(), 2);
    EXPECT_EQ(c.conductorEvents[0].kind, event_kind::kKeySignature);
    EXPECT_EQ(c.conductorEvents[0].position.bar, 1);
    c.setEvent(event_kind::kKeySignature, 0, packEventValue(3, 1), 0, false, 0);
    ASSERT_EQ(c.conductorEvents.count(), 2);
    int sharpsFlats = 0, minor = 0;
    EXPECT_EQ(c.eventValue(event_kind::kKeySignature, 0, &sharpsFlats, &minor), 22);
    EXPECT_EQ(sharpsFlats, 3);
    EXPECT_EQ(minor, 1);

    // Channel events are found by kind and, when asked, by their first byte.
    c.setEvent(event_kind::kController | 0, 7, packEventValue(7, 90), 0, true, 0);
    c.setEvent(event_kind::kController | 0, 10, packEventValue(10, 30), 0, true, 0);
    EXPECT_EQ(c.eventValue(event_kind::kController | 0, 7), 90);
    EXPECT_EQ(c.eventValue(event_kind::kController | 0, 10), 30);
}

TEST(Composition, EventListGrowsByFive) {
    EventList list(5);
    for (int i = 0; i < 6; ++i) list.append({event_kind::kTempo, i, 0, {}});
    EXPECT_EQ(list.capacity(), 10);
    list.insert(2, {event_kind::kTempo, 99, 0, {}});
    EXPECT_EQ(list[2].value, 99);
    EXPECT_EQ(list[3].value, 2);
    list.remove(0);
    EXPECT_EQ(list[0].value, 1);
    list.remove(100);
    EXPECT_EQ(list.count(), 6);
}

TEST(Composition, RetuneKeepsOnlyTheMelodyChannelsEvents) {
    Composition c;
    c.channelEvents.append(
        {static_cast<uint8_t>(event_kind::kProgramChange | 5), packEventValue(40), 0, {}});
    c.channelEvents.append(
        {static_cast<uint8_t>(event_kind::kProgramChange | 2), packEventValue(1), 0, {}});
    c.channelEvents.append(
        {static_cast<uint8_t>(event_kind::kController | 5), packEventValue(7, 100), 0, {}});
    c.retuneMelodyChannel(5, 0);
    ASSERT_EQ(c.channelEvents.count(), 2);
    EXPECT_EQ(c.channelEvents[0].kind, event_kind::kProgramChange | 0);
    EXPECT_EQ(c.channelEvents[1].kind, event_kind::kController | 0);
    EXPECT_EQ(c.eventValue(event_kind::kProgramChange | 0, 0), 40);
}

namespace {

void addMelody(Composition& c, const std::vector<int>& keys, int32_t step, int32_t startTick = 0) {
    for (size_t i = 0; i < keys.size(); ++i) {
        const int32_t tick = startTick + static_cast<int32_t>(i) * step;
        c.noteTracks().addNote(static_cast<uint8_t>(keys[i]), 0, 100 << 8,
                               c.meterMap().positionOfTick(tick), static_cast<uint16_t>(step),
                               static_cast<uint8_t>(keys[i] % 12));
    }
}

Composition& prepared(Composition& c) {
    c.meterMap().setTicksPerQuarter(480);
    c.meterMap().sixteenth = c.meterMap().shortestNote = 120;
    c.meterMap().addSegment(0, 4, 4);
    return c;
}

}  // namespace

TEST(Composition, AnalysisIndexesBarsAndPicksTheAccompanimentOctave) {
    Composition c;
    prepared(c);
    addMelody(c, {72, 74, 76, 77, 79, 81, 83, 84, 72, 60}, 960, 1440);
    c.conductorEvents.append({event_kind::kTempo, 500000, 0, c.meterMap().positionOfTick(0)});
    c.conductorEvents.append({event_kind::kTempo, 400000, 0, c.meterMap().positionOfTick(20000)});
    EXPECT_EQ(c.analyseMelody(0, true), 0);
    EXPECT_EQ(c.barCount, 6);
    EXPECT_EQ(c.meterMap().barCount, 6);
    EXPECT_EQ(c.noteTracks().cachedUpbeat(), 1440);
    ASSERT_EQ(c.firstNoteOfBar.size(), 6u);
    EXPECT_EQ(c.firstNoteOfBar[0], 0);
    EXPECT_EQ(c.firstNoteOfBar[1], 1);
    EXPECT_EQ(c.firstNoteOfBar[2], 3);
    EXPECT_EQ(c.accompanimentOctave, 4);      // octave 6 is the most frequent: capped at 5, minus 1
    EXPECT_EQ(c.conductorEvents.count(), 1);  // the tempo change after the melody's end is gone
}

TEST(Composition, AnalysisRejectsTwoBarsAndWarnsOnFourPitchClasses) {
    Composition shortOne;
    prepared(shortOne);
    addMelody(shortOne, {60, 62, 64, 65, 67, 69, 71, 72}, 480);
    EXPECT_EQ(shortOne.analyseMelody(0, false), 91);

    Composition fewClasses;
    prepared(fewClasses);
    addMelody(fewClasses, {60, 62, 64, 65, 60, 62, 64, 65, 60, 62, 64, 65}, 480);
    EXPECT_EQ(fewClasses.analyseMelody(0, false), 92);
    EXPECT_EQ(fewClasses.barCount, 3);
    EXPECT_EQ(fewClasses.accompanimentOctave, 4);  // the analysis still completes
}

TEST(Composition, ChordTrackTakesTheFirstChosenChordOfEachBar) {
    Composition c;
    prepared(c);
    addMelody(c, {60, 62, 64, 65, 67, 69, 71, 72, 74, 76, 77, 79}, 480);
    ASSERT_EQ(c.analyseMelody(0, false), 0);
    c.slots.assign(3, HarmonySlot{});
    c.slots[0].mainCount = 1;
    c.slots[0].candidates[0] = makeChordCode(7, 0);
    c.slots[2].mainCount = 2;
    c.slots[2].candidates[0] = makeChordCode(8, 1);
    c.noteTracks().addNote(48, 1, 0, {}, 10, 0);
    c.buildChordTrack();
    ASSERT_EQ(c.chordTrack.size(), 3u);
    EXPECT_EQ(c.chordTrack[0].chord, makeChordCode(7, 0));
    EXPECT_EQ(c.chordTrack[1].chord, kNoChord);
    EXPECT_EQ(c.chordTrack[2].chord, makeChordCode(8, 1));
    EXPECT_EQ(c.chordTrack[1].enabled, 1);
    EXPECT_EQ(c.chordTrack[1].extra, -1);
    EXPECT_EQ(c.noteTracks().count(1), 0);
    EXPECT_EQ(c.partPlan.size(), 3u);
    c.clearDerived();
    EXPECT_FALSE(c.hasChordTrack());
    EXPECT_TRUE(c.slots.empty());
}

TEST(AppError, MidiAndSystemErrorsThrowTheirTexts) {
    setMidiErrorTextProvider([](int code) { return "device busy " + std::to_string(code); });
    EXPECT_NO_THROW(raiseMidiError(0));
    try {
        raiseMidiError(4);
        FAIL() << "no exception";
    } catch (const AppError& e) {
        EXPECT_STREQ(e.what(), "device busy 4");
    }
    EXPECT_EQ(lastError().general, 2);
    EXPECT_EQ(lastError().midi, 4);

    std::string shown;
    setMessageHandler([&shown](const std::string& text) { shown = text; });
    reportError(7);
    EXPECT_EQ(shown, "Error 7");
    EXPECT_EQ(lastError().general, 7);
    EXPECT_NO_THROW(raiseSystemError(true));
    errno = ENOENT;
    EXPECT_THROW(raiseSystemError(false), AppError);
    EXPECT_EQ(lastError().general, 1);
}
