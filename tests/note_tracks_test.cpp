#include <gtest/gtest.h>

#include "engine/Midi_tnotes.h"

using namespace varimel;

namespace {

// Note tracks at 480 ticks per quarter in 4/4.
NoteTracks tracksIn44() {
    NoteTracks tracks(10);
    tracks.meterMap().setTicksPerQuarter(480);
    tracks.meterMap().sixteenth = 120;
    tracks.meterMap().addSegment(0, 4, 4);
    return tracks;
}

void add(NoteTracks& tracks, int key, int32_t tick, int duration = 480, int list = 0) {
    tracks.addNote(static_cast<uint8_t>(key), static_cast<uint8_t>(list), 100 << 8,
                   tracks.meterMap().positionOfTick(tick), static_cast<uint16_t>(duration),
                   static_cast<uint8_t>(key % 12));
}

// A scale of n quarter notes from C4 (all notes distinct, monophonic).
void addScale(NoteTracks& tracks, int n, int list = 0, int base = 60) {
    const int steps[] = {0, 2, 4, 5, 7, 9, 11, 12, 14, 16, 17, 19};
    for (int i = 0; i < n; ++i) add(tracks, base + steps[i % 12], i * 480, 480, list);
}

}  // namespace

TEST(NoteTracks, GrowsByTenAndKeepsEarlierNotes) {
    NoteTracks tracks = tracksIn44();
    addScale(tracks, 10);
    EXPECT_EQ(tracks.capacity(0), 10);
    add(tracks, 72, 10 * 480);
    EXPECT_EQ(tracks.capacity(0), 20);
    ASSERT_EQ(tracks.count(0), 11);
    EXPECT_EQ(tracks.note(0, 0)->key, 60);
    EXPECT_EQ(tracks.note(9, 0)->key, 76);
    EXPECT_EQ(tracks.note(10, 0)->key, 72);
}

TEST(NoteTracks, OutOfRangeIndexesGiveNothing) {
    NoteTracks tracks = tracksIn44();
    addScale(tracks, 3);
    EXPECT_EQ(tracks.note(3, 0), nullptr);
    EXPECT_EQ(tracks.note(-1, 0), nullptr);
    EXPECT_EQ(tracks.note(0, 16), nullptr);
    EXPECT_EQ(tracks.pitchClassOf(5, -1, 0), -1);
    EXPECT_EQ(tracks.startTick(5, 0), -1);
    EXPECT_EQ(tracks.endTick(5, 0, 0), -1);
    tracks.removeNote(-1, 0);
    tracks.removeNote(7, 0);
    EXPECT_EQ(tracks.count(0), 3);
}

TEST(NoteTracks, RemoveNoteShiftsLaterNotesDown) {
    NoteTracks tracks = tracksIn44();
    addScale(tracks, 4);
    tracks.removeNote(1, 0);
    ASSERT_EQ(tracks.count(0), 3);
    EXPECT_EQ(tracks.note(1, 0)->key, 64);
}

TEST(NoteTracks, LookupsByBarAndTick) {
    NoteTracks tracks = tracksIn44();
    addScale(tracks, 9);  // bars 0, 1 and the first beat of bar 2
    tracks.finaliseMelody(0);
    tracks.meterMap().barCount = tracks.barCount();
    EXPECT_EQ(tracks.barCount(), 3);
    EXPECT_EQ(tracks.firstIndexInBar(1, 0, false), 4);
    EXPECT_EQ(tracks.noteInBar(4, 1, 0)->key, 67);
    EXPECT_EQ(tracks.noteInBar(4, 0, 0), nullptr);
    EXPECT_EQ(tracks.pitchClassOf(4, 0, 0), -1);
    EXPECT_EQ(tracks.pitchClassOf(4, 1, 0), 7);
    EXPECT_EQ(tracks.indexAtTick(481, 0), 2);
    EXPECT_EQ(tracks.indexAtTick(480, 0), 1);

    int32_t index = -5;
    EXPECT_EQ(tracks.noteAtTick(0, 0, index)->key, 60);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(tracks.noteAtTick(100000, 0, index), nullptr);
    EXPECT_EQ(index, 9);

    EXPECT_EQ(tracks.endTick(-1, 0, 2), 3 * 1920);
    EXPECT_EQ(tracks.restBetween(8, 9, 0), 3 * 1920 - (8 * 480 + 480));
    EXPECT_EQ(tracks.hasDurationOrOtherKey(0, 0, -1), 480);
    EXPECT_EQ(tracks.hasDurationOrOtherKey(0, 0, 60), 1);
}

TEST(NoteTracks, BarIndexAnswersFirstNoteOfBar) {
    NoteTracks tracks = tracksIn44();
    add(tracks, 60, 0);
    add(tracks, 62, 2 * 1920);  // bar 1 is empty
    std::vector<int32_t> index{0, -1, 1};
    tracks.setBarIndex(&index);
    EXPECT_EQ(tracks.firstIndexInBar(1, 0, false), 1);  // no note: count - 1
    EXPECT_EQ(tracks.firstIndexInBar(1, 0, true), 1);
    EXPECT_EQ(tracks.firstIndexInBar(2, 0, false), 1);
    EXPECT_EQ(tracks.firstIndexInBar(99, 0, true), 1);
}

TEST(NoteTracks, UpbeatShorterThanAnEighthCountsAsZero) {
    NoteTracks tracks = tracksIn44();
    add(tracks, 60, 200);  // less than an eighth (240)
    EXPECT_EQ(tracks.upbeat(0), 0);

    NoteTracks pickUp = tracksIn44();
    add(pickUp, 60, 1440);  // a quarter-note pick-up in bar 0
    EXPECT_EQ(pickUp.upbeat(0), 1440);
}

TEST(NoteTracks, MelodyCheckNeedsSevenNotes) {
    NoteTracks six = tracksIn44();
    addScale(six, 6);
    EXPECT_FALSE(six.melodyCheck(0));
    EXPECT_EQ(six.status(), 92);

    NoteTracks seven = tracksIn44();
    addScale(seven, 7);
    EXPECT_TRUE(seven.melodyCheck(0));
    EXPECT_EQ(seven.status(), 0);
}

TEST(NoteTracks, MelodyCheckAllowsTwoNotesTogetherButNotThree) {
    NoteTracks pair = tracksIn44();
    for (int i = 0; i < 8; ++i) add(pair, 60 + 2 * i, i * 480);
    add(pair, 79, 7 * 480);
    add(pair, 81, 8 * 480);
    EXPECT_TRUE(pair.melodyCheck(0));

    NoteTracks chord = tracksIn44();
    for (int i = 0; i < 7; ++i) add(chord, 60 + 2 * i, i * 480);
    add(chord, 76, 7 * 480);
    add(chord, 79, 7 * 480 + 5);  // within the threshold (480 / 32 - 1 = 14)
    add(chord, 83, 7 * 480 + 10);
    EXPECT_FALSE(chord.melodyCheck(0));
    EXPECT_EQ(chord.status(), 90);
}

TEST(NoteTracks, DoubledNotesCountAsOne) {
    NoteTracks tracks = tracksIn44();
    for (int i = 0; i < 5; ++i) add(tracks, 60 + 2 * i, i * 480);
    add(tracks, 72, 5 * 480, 240);
    add(tracks, 72, 5 * 480, 480);        // the same note again, longer
    EXPECT_FALSE(tracks.melodyCheck(0));  // six distinct notes only
    EXPECT_EQ(tracks.status(), 92);
    EXPECT_EQ(tracks.count(0), 6);
    EXPECT_EQ(tracks.note(5, 0)->duration, 480);  // the survivor keeps the longer length

    // Doubles inside the melody: the notes after them close up in their order.
    NoteTracks inside = tracksIn44();
    add(inside, 60, 0, 240);
    for (int copy = 0; copy < 3; ++copy) add(inside, 62, 480, 120 * (copy + 1));
    for (int i = 2; i < 8; ++i) add(inside, 60 + 2 * i, i * 480);
    EXPECT_TRUE(inside.melodyCheck(0));
    ASSERT_EQ(inside.count(0), 8);
    EXPECT_EQ(inside.note(1, 0)->duration, 360);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(inside.note(i, 0)->key, 60 + 2 * i) << i;
}

TEST(NoteTracks, MelodyCheckRejectsFewPitchClassesAndLowMelodies) {
    NoteTracks fourClasses = tracksIn44();
    const int keys[] = {60, 62, 64, 65, 60, 62, 64, 65};
    for (int i = 0; i < 8; ++i) add(fourClasses, keys[i], i * 480);
    EXPECT_FALSE(fourClasses.melodyCheck(0));
    EXPECT_EQ(fourClasses.status(), 92);

    NoteTracks low = tracksIn44();
    addScale(low, 8, 0, 36);  // mostly octave 3 (MIDI 36..47)
    EXPECT_FALSE(low.melodyCheck(0));
    EXPECT_EQ(low.status(), 93);
}

TEST(NoteTracks, FinaliseMovesTheMelodyToListZero) {
    NoteTracks tracks = tracksIn44();
    addScale(tracks, 9, 5);
    add(tracks, 40, 0, 480, 3);
    tracks.finaliseMelody(5);
    EXPECT_EQ(tracks.count(0), 9);
    EXPECT_EQ(tracks.note(0, 0)->list, 0);
    EXPECT_EQ(tracks.count(5), 0);
    EXPECT_EQ(tracks.count(3), 0);
    EXPECT_EQ(tracks.capacity(3), 0);
    EXPECT_EQ(tracks.barCount(), 3);
    EXPECT_EQ(tracks.melodyEndTick(), 9 * 480);
    EXPECT_EQ(tracks.secondEndTick(), 9 * 480);
    EXPECT_EQ(tracks.distinctPitchClasses(), 7);
    EXPECT_EQ(tracks.distinctPitchClasses(0b101), 2);
}

TEST(NoteTracks, EndTickIsTheLatestEndAmongTheLastFourNotes) {
    NoteTracks tracks = tracksIn44();
    add(tracks, 60, 0, 480);
    add(tracks, 62, 480, 3000);  // a long note that ends after the last note
    add(tracks, 64, 960, 120);
    add(tracks, 65, 1080, 120);
    add(tracks, 67, 1200, 120);
    tracks.finaliseMelody(0);
    EXPECT_EQ(tracks.melodyEndTick(), 3480);
}
