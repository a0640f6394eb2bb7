// Chord edits taken back and done again.
#include <gtest/gtest.h>

#include "engine/Apperr.h"
#include "ui/model/ChordEdit.h"

using namespace varimel;
using namespace varimel::model;

namespace {

ChordCode chord(int key, int type) {
    return static_cast<ChordCode>((key << 8) | type);
}

Composition& withTrack(Composition& c, int bars) {
    c.chordTrack.resize(static_cast<size_t>(bars));
    for (int bar = 0; bar < bars; ++bar)
        c.chordTrack[static_cast<size_t>(bar)].chord = chord(bar, 0);
    c.chordTrack[0].extra = 0x01000003;  // the style
    return c;
}

}  // namespace

TEST(ChordEdit, UndoRestoresTheEntryByteForByteAndRedoRepeatsIt) {
    Composition c;
    withTrack(c, 6);
    const std::vector<ChordTrackEntry> original = c.chordTrack;

    const auto change = makeChordEdit(c, 0, {chord(7, 1), 1});
    ASSERT_TRUE(change);
    ASSERT_TRUE(applyChordEdit(c, *change, true));
    const auto mute = makeChordEdit(c, 4, {c.chordTrack[4].chord, 0});
    ASSERT_TRUE(applyChordEdit(c, *mute, true));
    const std::vector<ChordTrackEntry> edited = c.chordTrack;
    EXPECT_EQ(c.chordTrack[0].chord, chord(7, 1));
    EXPECT_EQ(c.chordTrack[4].enabled, 0);
    // The style in entry 0 is never touched by an edit.
    EXPECT_EQ(c.chordTrack[0].extra, 0x01000003);

    applyChordEdit(c, *mute, false);
    applyChordEdit(c, *change, false);
    EXPECT_EQ(c.chordTrack, original);
    applyChordEdit(c, *change, true);
    applyChordEdit(c, *mute, true);
    EXPECT_EQ(c.chordTrack, edited);
}

TEST(ChordEdit, UndoKeepsAStyleChosenAfterTheEdit) {
    Composition c;
    withTrack(c, 3);
    const auto change = makeChordEdit(c, 0, {kNoChord, 1});
    applyChordEdit(c, *change, true);
    c.chordTrack[0].extra = 0x02000001;  // the user picks another style
    applyChordEdit(c, *change, false);
    EXPECT_EQ(c.chordTrack[0].chord, chord(0, 0));
    EXPECT_EQ(c.chordTrack[0].extra, 0x02000001);
}

TEST(ChordEdit, BarsOutsideTheTrackAndEditsThatChangeNothing) {
    Composition c;
    withTrack(c, 2);
    EXPECT_FALSE(makeChordEdit(c, 2, {kNoChord, 1}));
    EXPECT_FALSE(makeChordEdit(c, -1, {kNoChord, 1}));
    EXPECT_FALSE(applyChordEdit(c, ChordEdit{5, {}, {}}, true));
    EXPECT_TRUE(makeChordEdit(c, 1, {chord(1, 0), 1})->changesNothing());
    EXPECT_FALSE(makeChordEdit(c, 1, {chord(1, 0), 0})->changesNothing());
}

TEST(ChordEdit, DescriptionsNameTheChangeAndTheBarFromOne) {
    const ChordEdit mute{4, {chord(2, 0), 1}, {chord(2, 0), 0}};
    EXPECT_EQ(describeChordEdit(mute), "Mute bar 5");
    EXPECT_EQ(describeChordEdit(ChordEdit{4, mute.after, mute.before}), "Unmute bar 5");
    EXPECT_EQ(describeChordEdit(ChordEdit{2, {chord(2, 0), 1}, {kNoChord, 1}}),
              "No chord in bar 3");
    const std::string text = describeChordEdit(ChordEdit{11, {chord(2, 0), 1}, {chord(5, 0), 1}});
    EXPECT_EQ(text.rfind("Chord ", 0), 0u);
    EXPECT_EQ(text.substr(text.size() - 10), " in bar 12");
    EXPECT_EQ(text.find("  "), std::string::npos);
}
