#include "ui/model/Transport.h"

#include <algorithm>
#include <cmath>

#include "engine/Wctpu.h"

namespace varimel::model {

namespace {

constexpr std::size_t kTempoTextLength = 6;
constexpr std::size_t kBarColumns = kLoopBarColumns;

// Digits typed from the left of a cleared field leave blanks behind them: those are not zeros.
std::string withoutTrailingBlanks(std::string_view text) {
    std::string result;
    std::size_t fieldStart = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != ':') continue;
        std::string_view field = text.substr(fieldStart, i - fieldStart);
        while (!field.empty() && field.back() == ' ') field.remove_suffix(1);
        result += field;
        if (i < text.size()) result += ':';
        fieldStart = i + 1;
    }
    return result;
}

}  // namespace

std::optional<int> readTempoText(std::string_view text) {
    text = text.substr(0, std::min(text.size(), kTempoTextLength));
    int value = 0;
    bool anyDigit = false;
    for (const char c : text) {
        if (c == ',' || c == '.') break;
        if (c == ' ') {
            value *= 10;
        } else if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            anyDigit = true;
        } else {
            return std::nullopt;
        }
    }
    if (!anyDigit || value < kMinTempoBpm || value > kMaxTempoBpm) return std::nullopt;
    return value;
}

int32_t tempoOfBpm(int bpm) {
    return kMicrosecondsPerMinute / std::max(bpm, 1);
}

int bpmOfTempo(int32_t tempo) {
    if (tempo <= 0) return 0;
    return std::clamp(static_cast<int>(kMicrosecondsPerMinute / tempo), kMinTempoBpm, kMaxTempoBpm);
}

double tempoFactor(int32_t tempo, int32_t originalTempo) {
    if (originalTempo <= 0) originalTempo = kDefaultTempo;
    return static_cast<double>(tempo) / originalTempo;
}

int timerInterval(int32_t tempo) {
    if (tempo <= 0) return kIdleTimerInterval;
    return std::max(static_cast<int>(tempo / kTimerDivisor), 1);
}

LoopingAction loopingAction(bool playing, bool playingLoop, bool buttonDown) {
    if (playing && !playingLoop) return LoopingAction::Release;
    return buttonDown ? LoopingAction::DisposeLoop : LoopingAction::DeleteLoop;
}

int32_t pauseTick(const NotesScale& scale, int cursorPixel) {
    return std::max(scale.tickOfPixel(std::max(cursorPixel, 0)), 0);
}

std::string loopEditText(std::string_view positionText) {
    const std::size_t colon = positionText.find(':');
    const std::size_t barWidth = colon == std::string_view::npos ? positionText.size() : colon;
    std::string text;
    if (barWidth < kBarColumns) text.assign(kBarColumns - barWidth, ' ');
    text += positionText;
    return text;
}

int32_t loopPositionTick(const MeterMap& meters, int32_t barCount, std::string_view text) {
    const int32_t tick = parsePosition(meters, barCount, withoutTrailingBlanks(text)).tick;
    SongPosition end;
    end.bar = static_cast<uint16_t>(std::clamp<int32_t>(barCount, 0, 0xFFFF));
    return std::min(tick, meters.tickOfPosition(end));
}

LoopRange loopFromEdit(const NotesScale& scale, const MeterMap& meters, int32_t barCount,
                       int32_t from, int32_t to, bool editedFrom) {
    if (editedFrom && to <= from) {
        // A start typed at or past the end: the loop is the bar that starts there.
        const int32_t bar = meters.positionOfTick(from).bar;
        to = std::min(meters.tickOfBar(bar + 1), meters.tickOfBar(std::max(barCount, bar + 1)));
    }
    return loopFromTicks(scale, meters, from, to);
}

}  // namespace varimel::model
