#include <gtest/gtest.h>

#include "engine/Wctpu.h"

using namespace varimel;

namespace {

MeterMap mapWithDivision(int quarter) {
    MeterMap map;
    map.setTicksPerQuarter(quarter);
    map.sixteenth = quarter / 4;
    return map;
}

}  // namespace

TEST(MeterMap, SegmentLengthsFollowTheMeter) {
    MeterMap map = mapWithDivision(480);
    map.addSegment(0, 6, 8);
    EXPECT_EQ(map.segments()[0].ticksPerBar, 1440);
    EXPECT_EQ(map.segments()[0].ticksPerBeat, 240);
}

TEST(MeterMap, TickAtBarStartBelongsToThatBar) {
    MeterMap map = mapWithDivision(480);
    map.addSegment(0, 3, 4);
    const SongPosition pos = map.positionOfTick(1440);
    EXPECT_EQ(pos.bar, 1);
    EXPECT_EQ(pos.beat, 0);
    EXPECT_EQ(pos.tick, 0);
    const SongPosition inside = map.positionOfTick(1439);
    EXPECT_EQ(inside.bar, 0);
    EXPECT_EQ(inside.beat, 2);
    EXPECT_EQ(inside.tick, 479);
}

TEST(MeterMap, PositionsAndTicksAgreeAcrossMeterChanges) {
    MeterMap map = mapWithDivision(96);
    map.addSegment(0, 2, 4);  // pick-up bar in 2/4
    map.addSegment(1, 3, 4);
    map.addSegment(4, 6, 8);
    EXPECT_EQ(map.tickOfBar(1), 192);
    EXPECT_EQ(map.tickOfBar(4), 192 + 3 * 288);
    EXPECT_EQ(map.tickOfBar(5), 192 + 3 * 288 + 288);
    for (int32_t tick = 0; tick < 5000; tick += 7) {
        const SongPosition pos = map.positionOfTick(tick);
        EXPECT_EQ(map.tickOfPosition(pos), tick) << "tick " << tick;
    }
    int numerator = 0, denominator = 0;
    map.meterOfBar(2, numerator, denominator);
    EXPECT_EQ(numerator, 3);
    EXPECT_EQ(denominator, 4);
    EXPECT_EQ(map.ticksPerBar(0), 192);
    EXPECT_EQ(map.ticksPerBar(40), 288);
}

TEST(MeterMap, LaterSegmentWithTheSameStartBarGoverns) {
    MeterMap map = mapWithDivision(480);
    map.addSegment(0, 4, 4);  // the default meter
    map.addSegment(0, 3, 4);  // a time signature at tick 0
    EXPECT_EQ(map.ticksPerBar(0), 1440);
    EXPECT_EQ(map.positionOfTick(1440).bar, 1);
}

TEST(MeterMap, SegmentsAddedOutOfBarOrderStillGiveEveryBarItsMeter) {
    MeterMap map = mapWithDivision(480);
    map.addSegment(0, 4, 4);
    map.addSegment(4, 3, 4);
    map.addSegment(2, 3, 4);  // added last, starts earlier
    const int expected[] = {1920, 1920, 1440, 1440, 1440, 1440};
    for (int32_t bar = 0; bar < 6; ++bar) EXPECT_EQ(map.ticksPerBar(bar), expected[bar]) << bar;
    EXPECT_EQ(map.tickOfBar(2), 3840);
    EXPECT_EQ(map.tickOfBar(5), 3840 + 3 * 1440);
    EXPECT_EQ(map.positionOfTick(3840 + 1440), (SongPosition{3, 0, 0}));
    for (int32_t tick = 0; tick < 12000; tick += 97) {
        EXPECT_EQ(map.tickOfPosition(map.positionOfTick(tick)), tick) << "tick " << tick;
    }
}

TEST(MeterMap, WithoutSegmentsEverythingFallsIntoBarZero) {
    MeterMap map = mapWithDivision(480);
    const SongPosition pos = map.positionOfTick(300);
    EXPECT_EQ(pos.bar, 0);
    EXPECT_EQ(pos.beat, static_cast<uint8_t>(300));
    EXPECT_EQ(pos.tick, 0);
    EXPECT_EQ(map.segmentOfBar(3), nullptr);
}

TEST(MeterMap, DistanceIsTheDifferenceOfTicks) {
    MeterMap map = mapWithDivision(480);
    map.addSegment(0, 4, 4);
    EXPECT_EQ(map.distance({2, 1, 10}, {1, 0, 0}), 1920 + 480 + 10);
}

TEST(MeterMap, QuantiseDurationRoundsToTheGrid) {
    MeterMap map = mapWithDivision(480);  // 64th = 30 ticks, sixteenth = 120
    EXPECT_EQ(map.quantiseDuration(480), 16u);
    EXPECT_EQ(map.quantiseDuration(120 + 59), 4u);  // just below half a step: down to 4/64
    EXPECT_EQ(map.quantiseDuration(120 + 60), 8u);  // exactly half a step: up to 8/64
    EXPECT_EQ(map.quantiseDuration(45), 2u);        // short notes use the 64th grid
    EXPECT_EQ(map.quantiseDuration(10), 1u);        // never below one grid step
}

TEST(MeterMap, HugeTicksDoNotWalkBarByBar) {
    MeterMap map = mapWithDivision(1);
    map.addSegment(0, 1, 64);  // a one-tick bar
    EXPECT_EQ(map.barOfTick(2'000'000'000), 2'000'000'000);
}

TEST(MeterMap, CopiesKeepTheirOwnMeter) {
    MeterMap original = mapWithDivision(480);
    original.addSegment(0, 3, 4);
    MeterMap copy = original;
    original.clearSegments();
    original.addSegment(0, 4, 4);
    EXPECT_EQ(copy.ticksPerBar(0), 1440);
    EXPECT_EQ(original.ticksPerBar(0), 1920);
}
