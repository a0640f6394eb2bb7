// The transport's rules without a window: the typed tempo, beats per minute and tempo, what the
// Looping button does, where a pause resumes, and the loop editor's texts.
#include <gtest/gtest.h>

#include "engine/Wctpu.h"
#include "ui/model/Transport.h"

using namespace varimel;
using namespace varimel::model;

namespace {

MeterMap fourFour() {
    MeterMap map;
    map.setTicksPerQuarter(480);
    map.addSegment(0, 4, 4);
    return map;
}

}  // namespace

TEST(TempoRule, TypedTempoIsReadAsItsIntegerPartWithinTheScrollBarRange) {
    EXPECT_EQ(readTempoText("120"), 120);
    EXPECT_EQ(tempoOfBpm(*readTempoText("120")), 500000);
    EXPECT_EQ(readTempoText("120,5"), 120);
    EXPECT_EQ(readTempoText("99.99"), 99);
    EXPECT_EQ(readTempoText("8"), 8);
    EXPECT_EQ(readTempoText("255"), 255);
    // Blanks are zeros; only the first six characters count.
    EXPECT_EQ(readTempoText("1 0"), 100);
    EXPECT_EQ(readTempoText("  9"), 9);
    EXPECT_EQ(readTempoText("0000120"), 12);
    // Undone: out of range, unreadable, empty, no integer part.
    for (const char* text : {"300", "7", "256", "0", "abc", "", "12a", ",50", "   "}) {
        EXPECT_FALSE(readTempoText(text).has_value()) << '"' << text << '"';
    }
}

TEST(TempoRule, BeatsPerMinuteAndTempoConvertBothWays) {
    EXPECT_EQ(tempoOfBpm(8), 7500000);
    EXPECT_EQ(tempoOfBpm(255), 235294);
    EXPECT_EQ(bpmOfTempo(500000), 120);
    EXPECT_EQ(bpmOfTempo(7500000), 8);
    // Shown within the scroll bar's range; a tempo that is not positive shows as nothing.
    EXPECT_EQ(bpmOfTempo(100000), 255);
    EXPECT_EQ(bpmOfTempo(60000000), 8);
    EXPECT_EQ(bpmOfTempo(0), 0);
    EXPECT_EQ(bpmOfTempo(-5), 0);
    // The factor scales the piece's own tempo; a piece without one counts as 500000.
    EXPECT_DOUBLE_EQ(tempoFactor(250000, 500000), 0.5);
    EXPECT_DOUBLE_EQ(tempoFactor(7500000, 0), 15.0);
    // The timer: 62 ms at 120 beats per minute, 100 ms before any document.
    EXPECT_EQ(timerInterval(500000), 62);
    EXPECT_EQ(timerInterval(0), kIdleTimerInterval);
    EXPECT_EQ(timerInterval(4000), 1);
}

TEST(LoopingRule, LoopingCannotBeSwitchedOnDuringAPlainPlayback) {
    // Stopped: the button's state decides.
    EXPECT_EQ(loopingAction(false, false, true), LoopingAction::DisposeLoop);
    EXPECT_EQ(loopingAction(false, false, false), LoopingAction::DeleteLoop);
    // A stopped playback of the loop leaves nothing running either.
    EXPECT_EQ(loopingAction(false, true, true), LoopingAction::DisposeLoop);
    // Playing the loop: it may be deleted (playback goes on) or shown again.
    EXPECT_EQ(loopingAction(true, true, false), LoopingAction::DeleteLoop);
    EXPECT_EQ(loopingAction(true, true, true), LoopingAction::DisposeLoop);
    // Playing the plain range: the button goes up again, whichever way it was pressed.
    EXPECT_EQ(loopingAction(true, false, true), LoopingAction::Release);
    EXPECT_EQ(loopingAction(true, false, false), LoopingAction::Release);
}

TEST(PauseTick, ThePauseResumesAtTheCursorsTickTruncated) {
    const MeterMap map = fourFour();
    const NotesScale scale(map, 8, 4);  // 120 pixels per 1920-tick bar: 16 ticks a pixel
    EXPECT_EQ(pauseTick(scale, 0), 0);
    EXPECT_EQ(pauseTick(scale, 130), 2080);
    EXPECT_EQ(pauseTick(scale, -3), 0);
}

TEST(LoopEditor, TextsFillTheFiveColumnsOfBarAndSpilledPositionsStopAtTheEnd) {
    EXPECT_EQ(loopEditText("  3:02:120"), "    3:02:120");
    EXPECT_EQ(loopEditText("123:02:120"), "  123:02:120");
    EXPECT_EQ(loopEditText("12345:01:000"), "12345:01:000");

    const MeterMap map = fourFour();
    EXPECT_EQ(loopPositionTick(map, 8, "    3:02:120"), 2 * 1920 + 480 + 120);
    // Beat 99 of bar 3 and tick 999 of the last beat would lie after the last bar.
    EXPECT_EQ(loopPositionTick(map, 8, "    3:99:000"), 8 * 1920);
    EXPECT_EQ(loopPositionTick(map, 8, "    8:04:999"), 8 * 1920);
    // A spill that stays inside the piece is where the bar's count leads.
    EXPECT_EQ(loopPositionTick(map, 8, "    2:05:000"), 2 * 1920);
    EXPECT_EQ(loopPositionTick(map, 8, "99999:01:000"), 8 * 1920);
}
