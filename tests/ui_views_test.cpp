// The piano roll's and the chords grid's geometry: positions as text, sections of mixed meters,
// the loop and marker rules, and the grid's columns.
#include <gtest/gtest.h>

#include "engine/Apperr.h"
#include "engine/Wctpu.h"
#include "ui/model/ChordsGridLayout.h"
#include "ui/model/NotesGeometry.h"

using namespace varimel;
using namespace varimel::model;

namespace {

MeterMap meters(std::initializer_list<std::tuple<int, int, int>> segments, int quarter = 480) {
    MeterMap map;
    map.setTicksPerQuarter(quarter);
    for (const auto& [bar, numerator, denominator] : segments) {
        map.addSegment(bar, numerator, denominator);
    }
    return map;
}

}  // namespace

TEST(PositionText, WritesBarBeatAndTickAsTheWindowShowsThem) {
    const MeterMap map = meters({{0, 4, 4}});
    EXPECT_EQ(positionText(map, 0), "  1:01:000");
    // Bar 12, beat 10, tick 5 counted from 1 needs a ten-beat bar.
    const MeterMap ten = meters({{0, 10, 4}});
    EXPECT_EQ(positionText(ten, 11 * 10 * 480 + 9 * 480 + 5), " 12:10:005");
    EXPECT_EQ(positionText(map, 1920 * 2 + 480 + 123), "  3:02:123");
}

TEST(PositionText, ParsingReadsBackWhatWasWrittenAndStopsAtTheEnd) {
    const MeterMap map = meters({{0, 3, 4}});
    const ParsedPosition parsed = parsePosition(map, 16, " 12:03:005");
    EXPECT_EQ(parsed.position.bar, 11);
    EXPECT_EQ(parsed.position.beat, 2);
    EXPECT_EQ(parsed.position.tick, 5);
    EXPECT_EQ(parsed.tick, 11 * 1440 + 2 * 480 + 5);
    EXPECT_EQ(positionText(map, parsed.tick), " 12:03:005");

    // Blanks count as 0 and a 0 bar or beat stays at the start.
    EXPECT_EQ(parsePosition(map, 16, "    0: 0:   ").tick, 0);
    EXPECT_EQ(parsePosition(map, 16, "2: 1:  7").tick, 1440 + 7);
    // A bar beyond the piece gives its end.
    const ParsedPosition beyond = parsePosition(map, 16, "99999:02:100");
    EXPECT_EQ(beyond.position.bar, 16);
    EXPECT_EQ(beyond.tick, 16 * 1440);
}

TEST(NotesScale, SectionsFollowEachBarsMeter) {
    // 2/4 then 4/4: the view is scaled by the first bar, the later bars are twice as wide.
    const MeterMap twoThenFour = meters({{0, 2, 4}, {2, 4, 4}});
    const NotesScale scale(twoThenFour, 6, 2);
    EXPECT_EQ(scale.pixelsPerBeat(), 60);
    EXPECT_EQ(scale.barWidth(), 120);
    EXPECT_EQ(scale.sectionWidth(0), 120);
    EXPECT_EQ(scale.sectionWidth(2), 240);
    EXPECT_EQ(scale.sectionLeft(6), 2 * 120 + 4 * 240);
    // The scroll range reaches the end of the last bar, not 6 x the first bar's width.
    EXPECT_EQ(scale.horizontalScrollMaximum(0), (2 * 120 + 4 * 240) / 60);

    // 3/4 then 6/8: both bars last 1440 ticks, so every section has the same width and a note
    // at the start of bar 5 lies exactly on its section's left edge.
    const MeterMap threeThenSix = meters({{0, 3, 4}, {4, 6, 8}});
    const NotesScale mixed(threeThenSix, 8, 3);
    for (int bar = 1; bar < 8; ++bar) {
        EXPECT_EQ(mixed.sectionWidth(bar), mixed.sectionWidth(0)) << bar;
    }
    EXPECT_EQ(mixed.pixelOfTick(threeThenSix.tickOfBar(5)), mixed.sectionLeft(5));
    EXPECT_EQ(mixed.barAtPixel(mixed.sectionLeft(5)), 5);
    EXPECT_EQ(mixed.barAtPixel(mixed.sectionLeft(5) - 1), 4);
}

TEST(NotesScale, TheKeyUnderThePointerCountsFromTheTopRow) {
    EXPECT_EQ(NotesScale::keyAtY(0, 0), 131);
    EXPECT_EQ(NotesScale::keyAtY(7, 0), 131);
    EXPECT_EQ(NotesScale::keyAtY(8, 0), 130);
    EXPECT_EQ(NotesScale::keyAtY(0, 8 * 71), 60);
    EXPECT_EQ(NotesScale::verticalScrollMaximum(400), 132 - 50);
}

TEST(Loop, ShortDragsAreClicksAndShortLoopsAreStretched) {
    const MeterMap map = meters({{0, 4, 4}});
    const NotesScale scale(map, 8, 4);
    EXPECT_FALSE(dragSetsLoop(100, 100 + 96, scale.barWidth()));  // 0.8 bar exactly
    EXPECT_TRUE(dragSetsLoop(300, 300 - 97, scale.barWidth()));

    const LoopRange dragged = loopFromPixels(scale, 400, 130);
    EXPECT_EQ(dragged.startPixel, 130);
    EXPECT_EQ(dragged.endPixel, 400);
    EXPECT_EQ(dragged.startTick, scale.tickOfPixel(130));

    const LoopRange shortDrag = loopFromPixels(scale, 200, 230);
    EXPECT_EQ(shortDrag.endPixel, 230 + 60);

    // Typed positions: less than half of the start's bar apart, the end moves half a bar on.
    const LoopRange typed = loopFromTicks(scale, map, 1920 + 480, 1920);
    EXPECT_EQ(typed.startTick, 1920);
    EXPECT_EQ(typed.endTick, 1920 + 480 + 960);
    EXPECT_EQ(loopFromTicks(scale, map, 0, 960).endTick, 960);
}

TEST(Markers, OnePerPixelWithNamesThatAreNeverReused) {
    MarkerList markers;
    EXPECT_TRUE(markers.insert(300));
    EXPECT_TRUE(markers.jumpsEnabled);
    EXPECT_FALSE(markers.insert(300));
    EXPECT_TRUE(markers.insert(100));
    EXPECT_TRUE(markers.insert(200));
    ASSERT_EQ(markers.markers().size(), 3u);
    EXPECT_EQ(markers.markers()[0].pixel, 100);
    EXPECT_EQ(markers.markers()[2].pixel, 300);

    // After a deletion a new marker does not take a name still in use.
    EXPECT_TRUE(markers.remove("m_1"));
    EXPECT_TRUE(markers.insert(150));
    EXPECT_EQ(markers.find("m_0")->pixel, 300);
    EXPECT_EQ(markers.find("m_2")->pixel, 200);
    EXPECT_EQ(markers.find("m_3")->pixel, 150);
    EXPECT_TRUE(markers.remove("m_2"));
    EXPECT_EQ(markers.find("m_0")->pixel, 300);

    EXPECT_EQ(markers.previous(300)->pixel, 150);
    EXPECT_EQ(markers.next(150)->pixel, 300);
    EXPECT_EQ(markers.previous(150), nullptr);

    markers.remove("m_0");
    markers.remove("m_3");
    EXPECT_FALSE(markers.jumpsEnabled);
}

TEST(ChordsGrid, NarrowAndWideColumns) {
    const auto narrow = columnElements(4, 240, 60, 3);
    ASSERT_EQ(narrow.size(), 6u);
    EXPECT_EQ(narrow[0].name, "AChr_4");
    EXPECT_EQ(narrow[0].rect.width, 59);
    EXPECT_EQ(narrow[1].name, "Chr_4_1");
    EXPECT_EQ(narrow[1].rect.width, 41);
    EXPECT_EQ(narrow[1].rect.height, 49);
    EXPECT_EQ(narrow[2].rect.y, 29 + 53);
    EXPECT_EQ(narrow[4].name, "NCChr_4");
    EXPECT_EQ(narrow[4].rect.y, 188);
    EXPECT_EQ(narrow[5].name, "SCChr_4");
    EXPECT_EQ(narrow[5].rect.y, 206);

    const auto wide = columnElements(4, 240, 83, 2);
    ASSERT_EQ(wide.size(), 5u);
    EXPECT_EQ(wide[1].rect.width, 80);
    EXPECT_EQ(wide[1].rect.height, 37);
    // Centred on x + w / 2 - 1.
    EXPECT_EQ(wide[1].rect.x + wide[1].rect.width / 2, 240 + 83 / 2 - 1);
    EXPECT_EQ(wide[3].rect.y, 190);
    EXPECT_EQ(wide[4].rect.x, wide[3].rect.x + wide[3].rect.width);
}

TEST(ChordsGrid, AtMostThreeButtonsAndTheRestAreFurtherChords) {
    HarmonySlot slot;
    slot.mainCount = 4;
    slot.extraCount = 2;
    for (int i = 0; i < 6; ++i) slot.candidates[i] = static_cast<ChordCode>((i << 8) | 1);
    const BarCandidates bar = barCandidates(slot);
    EXPECT_EQ(bar.buttons, 3);
    EXPECT_EQ(bar.further, 3);
    EXPECT_EQ(bar.chordOfIndex(2), slot.candidates[1]);
    EXPECT_EQ(bar.chordOfIndex(4), slot.candidates[3]);  // the first further chord
    EXPECT_EQ(bar.lookup(-1), slot.candidates[3]);
    EXPECT_EQ(bar.lookup(-3), slot.candidates[5]);
    EXPECT_EQ(bar.lookup(-4), kNoChord);
    EXPECT_EQ(bar.chordOfIndex(kNoIndex), kNoChord);
    EXPECT_EQ(bar.chordOfIndex(0), kNoChord);
    EXPECT_EQ(gridTag(12, 2), (12 << 8) | 2);
    EXPECT_EQ(tagBar(gridTag(12, 2)), 12);
    EXPECT_EQ(tagIndex(gridTag(12, 255)), 255);
}
