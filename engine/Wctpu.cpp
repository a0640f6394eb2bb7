#include "engine/Wctpu.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <numeric>

namespace varimel {

namespace {

int32_t clampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// A segment from a damaged file may have a zero length; count it as one tick so that no
// position arithmetic divides by zero.
int64_t barLength(const MeterSegment& segment) {
    return std::max<int64_t>(segment.ticksPerBar, 1);
}
int64_t beatLength(const MeterSegment& segment) {
    return std::max<int64_t>(segment.ticksPerBeat, 1);
}

}  // namespace

void MeterMap::setTicksPerQuarter(int32_t quarter) {
    ticksPerQuarter = quarter;
    ticksPerWhole = 4 * quarter;
}

void MeterMap::addSegment(int32_t startBar, int numerator, int denominator) {
    MeterSegment segment;
    segment.startBar = startBar;
    segment.numerator = static_cast<uint8_t>(numerator);
    segment.denominator = static_cast<uint8_t>(denominator);
    if (denominator != 0) {
        segment.ticksPerBar = clampToInt32(int64_t{numerator} * ticksPerWhole / denominator);
        segment.ticksPerBeat = clampToInt32(int64_t{ticksPerQuarter} * 4 / denominator);
    }
    segments_.push_back(segment);
    rebuildRuns();
}

void MeterMap::clearSegments() {
    segments_.clear();
    runs_.clear();
}

void MeterMap::setSegments(std::vector<MeterSegment> segments) {
    segments_ = std::move(segments);
    rebuildRuns();
}

void MeterMap::rebuildRuns() {
    runs_.clear();
    if (segments_.empty()) return;

    // The governing segment of a bar is the last one (in list order) that starts at or before
    // it. Sweep the start bars in ascending order, keeping the highest list index seen so far.
    std::vector<size_t> order(segments_.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
        return segments_[a].startBar < segments_[b].startBar;
    });

    // Bars before every segment's start belong to segment 0.
    size_t governing = 0;
    bool anyStarted = false;
    size_t next = 0;
    int64_t bar = 0;
    int64_t tick = 0;
    while (true) {
        while (next < order.size() && segments_[order[next]].startBar <= bar) {
            governing = anyStarted ? std::max(governing, order[next]) : order[next];
            anyStarted = true;
            ++next;
        }
        runs_.push_back({bar, tick, governing});
        if (next == order.size()) break;
        const int64_t nextBar = segments_[order[next]].startBar;
        tick += (nextBar - bar) * barLength(segments_[governing]);
        bar = nextBar;
    }
}

const MeterMap::Run* MeterMap::runOfTick(int64_t ticks) const {
    if (runs_.empty()) return nullptr;
    auto it = std::upper_bound(runs_.begin(), runs_.end(), ticks,
                               [](int64_t t, const Run& run) { return t < run.startTick; });
    return it == runs_.begin() ? &runs_.front() : &*(it - 1);
}

const MeterMap::Run* MeterMap::runOfBar(int64_t bar) const {
    if (runs_.empty()) return nullptr;
    auto it = std::upper_bound(runs_.begin(), runs_.end(), bar,
                               [](int64_t b, const Run& run) { return b < run.startBar; });
    return it == runs_.begin() ? &runs_.front() : &*(it - 1);
}

int64_t MeterMap::nextMeterChange(int64_t bar) const {
    auto it = std::upper_bound(runs_.begin(), runs_.end(), bar,
                               [](int64_t b, const Run& run) { return b < run.startBar; });
    return it == runs_.end() ? std::numeric_limits<int64_t>::max() : it->startBar;
}

const MeterSegment* MeterMap::segmentOfBar(int32_t bar) const {
    const Run* run = runOfBar(bar);
    return run ? &segments_[run->segment] : nullptr;
}

int32_t MeterMap::ticksPerBar(int32_t bar) const {
    const MeterSegment* segment = segmentOfBar(bar);
    return segment ? segment->ticksPerBar : 0;
}

void MeterMap::meterOfBar(int32_t bar, int& numerator, int& denominator) const {
    const MeterSegment* segment = segmentOfBar(bar);
    numerator = segment ? segment->numerator : 4;
    denominator = segment ? segment->denominator : 4;
}

void MeterMap::meterOfPiece(int& numerator, int& denominator) const {
    const bool pickUpBar = segmentOfBar(0) != segmentOfBar(1) && ticksPerBar(0) < ticksPerBar(1);
    meterOfBar(pickUpBar ? 1 : 0, numerator, denominator);
}

int64_t MeterMap::barOfTick(int64_t ticks) const {
    const Run* run = runOfTick(std::max<int64_t>(ticks, 0));
    if (!run) return 0;
    return run->startBar +
           (std::max<int64_t>(ticks, 0) - run->startTick) / barLength(segments_[run->segment]);
}

SongPosition MeterMap::positionOfTick(int32_t ticks) const {
    SongPosition pos;
    const int64_t t = std::max<int32_t>(ticks, 0);
    const Run* run = runOfTick(t);
    if (!run) {
        pos.beat = static_cast<uint8_t>(t);  // no meter: everything in bar 0
        return pos;
    }
    // Every value here fits 32 bits (ticks are int32, lengths positive), and 32-bit divisions
    // are several times cheaper: this runs for every event of every file loaded.
    const auto length = static_cast<uint32_t>(barLength(segments_[run->segment]));
    const auto beatTicks = static_cast<uint32_t>(beatLength(segments_[run->segment]));
    const auto offset = static_cast<uint32_t>(t - run->startTick);
    const uint32_t remainder = offset % length;
    const uint32_t beat = remainder / beatTicks;
    pos.bar = static_cast<uint16_t>(run->startBar + offset / length);
    pos.beat = static_cast<uint8_t>(beat);
    pos.tick = static_cast<uint16_t>(remainder - beat * beatTicks);
    return pos;
}

void MeterMap::barStartAndBeat(int32_t bar, int64_t& start, int64_t& beatTicks) const {
    const Run* run = runOfBar(bar);
    if (!run) {
        start = 0;
        beatTicks = 1;
        return;
    }
    start = run->startTick + (bar - run->startBar) * barLength(segments_[run->segment]);
    beatTicks = segments_[run->segment].ticksPerBeat;
}

int32_t MeterMap::tickOfPosition(const SongPosition& pos) const {
    return PositionTicks(*this)(pos);
}

int32_t MeterMap::tickOfBar(int32_t bar) const {
    const Run* run = runOfBar(bar);
    if (!run) return 0;
    return clampToInt32(run->startTick +
                        (int64_t{bar} - run->startBar) * barLength(segments_[run->segment]));
}

int32_t MeterMap::distance(const SongPosition& a, const SongPosition& b) const {
    return tickOfPosition(a) - tickOfPosition(b);
}

uint32_t MeterMap::quantiseDuration(int32_t ticks) const {
    const int32_t sixtyFourth = std::max(ticksPerWhole / 64, 1);
    const int32_t grid = std::max(ticks < sixteenth ? sixtyFourth : sixteenth, 1);
    const int32_t below = std::max(ticks / grid * grid, grid);
    const int32_t point = (ticks - below >= grid / 2) ? below + grid : below;
    return static_cast<uint32_t>(point / sixtyFourth);
}

std::string positionText(const MeterMap& meters, int32_t tick) {
    const SongPosition position = meters.positionOfTick(tick);
    char text[32];
    std::snprintf(text, sizeof text, "%3d:%02d:%03d", position.bar + 1, position.beat + 1,
                  position.tick);
    return text;
}

namespace {

// The digits of a field of at most `width` characters; blanks count as 0 and reading stops at
// anything else.
int32_t fieldValue(std::string_view field, size_t width) {
    int32_t value = 0;
    for (const char c : field.substr(0, width)) {
        if (c == ' ') {
            value *= 10;
        } else if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
        } else {
            break;
        }
    }
    return value;
}

}  // namespace

ParsedPosition parsePosition(const MeterMap& meters, int32_t barCount, std::string_view text) {
    const size_t firstColon = text.find(':');
    const std::string_view barField = text.substr(0, firstColon);
    std::string_view beatField;
    std::string_view tickField;
    if (firstColon != std::string_view::npos) {
        const std::string_view rest = text.substr(firstColon + 1);
        const size_t secondColon = rest.find(':');
        beatField = rest.substr(0, secondColon);
        if (secondColon != std::string_view::npos) tickField = rest.substr(secondColon + 1);
    }
    // Five characters of bar: take the last five when more were typed before the colon.
    const std::string_view barDigits =
        barField.size() > 5 ? barField.substr(barField.size() - 5) : barField;
    int32_t bar = std::max(fieldValue(barDigits, 5) - 1, 0);
    int32_t beat = std::max(fieldValue(beatField, 2) - 1, 0);
    int32_t tick = fieldValue(tickField, 3);
    if (bar >= barCount) {
        bar = std::max(barCount, 0);
        beat = 0;
        tick = 0;
    }
    ParsedPosition parsed;
    parsed.position.bar = static_cast<uint16_t>(std::min<int32_t>(bar, 0xFFFF));
    parsed.position.beat = static_cast<uint8_t>(beat);
    parsed.position.tick = static_cast<uint16_t>(tick);
    parsed.tick = meters.tickOfPosition(parsed.position);
    return parsed;
}

}  // namespace varimel
