// Transport: the rules of the main window's play controls that need no control — reading a typed
// tempo, beats per minute and microseconds per quarter note, what the Looping button does, where a
// pause resumes, and the loop editor's texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ui/model/NotesGeometry.h"

namespace varimel {
class MeterMap;
}

namespace varimel::model {

inline constexpr int kMinTempoBpm = 8;
inline constexpr int kMaxTempoBpm = 255;
inline constexpr int32_t kMicrosecondsPerMinute = 60000000;
// The tempo of a piece without a tempo event.
inline constexpr int32_t kDefaultTempo = 500000;
// The play timer's interval before a document is shown, and the divisor that makes it from the
// document's tempo.
inline constexpr int kIdleTimerInterval = 100;
inline constexpr int32_t kTimerDivisor = 8000;

// The typed tempo: the first 6 characters, a comma read as a decimal point, a blank as 0, and
// the integer part. Empty when it is unreadable or outside kMinTempoBpm..kMaxTempoBpm (the edit
// is then undone).
std::optional<int> readTempoText(std::string_view text);

// 60000000 / bpm; bpm is at least 1.
int32_t tempoOfBpm(int bpm);
// The beats per minute a tempo shows as, kept within the scroll bar's range; 0 for a tempo
// that is not positive.
int bpmOfTempo(int32_t tempo);
// The player's tempo factor: the user's tempo over the piece's own (its tempo event).
double tempoFactor(int32_t tempo, int32_t originalTempo);
// The play timer's interval for a piece's tempo, in milliseconds.
int timerInterval(int32_t tempo);

// What a click on the Looping button does, given the button's new state and whether the
// playback that runs (if any) plays the loop.
enum class LoopingAction {
    DisposeLoop,  // the loop from me_From and me_To becomes active and is shown
    DeleteLoop,   // the loop is deleted
    Release,      // a plain playback runs: looping cannot be switched on now; the button goes up
};
LoopingAction loopingAction(bool playing, bool playingLoop, bool buttonDown);

// Where playback resumes after a pause: the cursor's pixel as a tick (never before the start).
int32_t pauseTick(const NotesScale& scale, int cursorPixel);

// The loop editor's columns of bar before the first ':'.
inline constexpr int kLoopBarColumns = 5;

// A position text for the loop editor, whose mask holds five columns of bar: the bar is padded
// on the left ("  3:02:120" becomes "    3:02:120").
std::string loopEditText(std::string_view positionText);

// A typed loop position as a tick. Blanks after the digits of a field are ignored ("3    " is bar
// 3), blanks between them read as zeros. A beat or tick that spills beyond its bar could land
// past the piece: the tick is then the end of the piece (the start of bar `barCount`).
int32_t loopPositionTick(const MeterMap& meters, int32_t barCount, std::string_view text);

// The loop after one of its ends was typed. A start typed at or past the end gives a loop of the
// bar that starts there; otherwise the two ends are ordered (see loopFromTicks).
LoopRange loopFromEdit(const NotesScale& scale, const MeterMap& meters, int32_t barCount,
                       int32_t from, int32_t to, bool editedFrom);

}  // namespace varimel::model
