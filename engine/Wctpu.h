// MeterMap: converts between absolute ticks and bar:beat:tick positions, one segment of
// constant meter at a time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace varimel {

// A point in the song, everything counted from 0. Stored in notes, events and project files.
struct SongPosition {
    uint16_t bar = 0;
    uint8_t beat = 0;
    uint16_t tick = 0;  // within the beat

    friend bool operator==(const SongPosition&, const SongPosition&) = default;
};

// A run of bars in one meter, from startBar up to the next segment's start.
struct MeterSegment {
    int32_t startBar = 0;
    uint8_t numerator = 4;
    uint8_t denominator = 4;  // the note value (4 = quarter), not the exponent
    int32_t ticksPerBar = 0;
    int32_t ticksPerBeat = 0;

    friend bool operator==(const MeterSegment&, const MeterSegment&) = default;
};

class MeterMap {
  public:
    static constexpr int32_t kDivisionsPerWhole = 64;

    int32_t ticksPerWhole = 4 * 480;
    int32_t shortestNote = 0;        // shortest melody note in ticks
    uint32_t shortestNoteUnits = 0;  // the same, quantised, in 64ths
    int32_t gapTolerance = 0;        // a 32nd or a 16th in ticks, after analysis
    int32_t barCount = 0;
    int32_t divisionsPerWhole = kDivisionsPerWhole;
    int32_t sixteenth = 120;
    int32_t ticksPerQuarter = 480;

    void setTicksPerQuarter(int32_t quarter);
    void addSegment(int32_t startBar, int numerator, int denominator);
    void clearSegments();

    const std::vector<MeterSegment>& segments() const { return segments_; }
    int32_t segmentCount() const { return static_cast<int32_t>(segments_.size()); }
    // Replaces all segments at once (project files store them with their computed lengths).
    void setSegments(std::vector<MeterSegment> segments);

    // The last segment whose start bar is not after `bar`; segment 0 when none; null without any.
    const MeterSegment* segmentOfBar(int32_t bar) const;
    int32_t ticksPerBar(int32_t bar) const;
    void meterOfBar(int32_t bar, int& numerator, int& denominator) const;
    // The meter the piece is in: bar 0's, or bar 1's when bar 0 is a pick-up bar written in a
    // shorter meter of its own (a 1/4 upbeat before 3/4 is in 3/4).
    void meterOfPiece(int& numerator, int& denominator) const;

    SongPosition positionOfTick(int32_t ticks) const;
    int32_t tickOfPosition(const SongPosition& pos) const;
    // Where a bar starts, and the length of its beats (0 and 1 without any meter).
    void barStartAndBeat(int32_t bar, int64_t& start, int64_t& beatTicks) const;
    int32_t tickOfBar(int32_t bar) const;
    int32_t distance(const SongPosition& a, const SongPosition& b) const;
    uint32_t quantiseDuration(int32_t ticks) const;

    // The first bar after `bar` where another segment takes over; INT64_MAX when none does.
    int64_t nextMeterChange(int64_t bar) const;
    // Like positionOfTick, but the bar is not cut to 16 bits (loaders check it against their
    // limit).
    int64_t barOfTick(int64_t ticks) const;

  private:
    // A run of bars governed by one segment: the effective meter map, whatever order the
    // segments were added in. Rebuilt whenever the segments change.
    struct Run {
        int64_t startBar;
        int64_t startTick;
        size_t segment;  // index into segments_ (an index, so that copies stay valid)
    };
    void rebuildRuns();
    const Run* runOfTick(int64_t ticks) const;
    const Run* runOfBar(int64_t bar) const;

    std::vector<MeterSegment> segments_;
    std::vector<Run> runs_;
};

// Ticks of positions taken bar after bar, as tickOfPosition gives them, with each bar's start
// looked up once rather than for every position.
class PositionTicks {
  public:
    explicit PositionTicks(const MeterMap& meters) : meters_(meters) {}
    int32_t operator()(const SongPosition& pos) {
        if (pos.bar != bar_) {
            meters_.barStartAndBeat(pos.bar, barStart_, beatTicks_);
            bar_ = pos.bar;
        }
        const int64_t tick = barStart_ + int64_t{pos.beat} * beatTicks_ + pos.tick;
        return static_cast<int32_t>(std::clamp<int64_t>(tick, std::numeric_limits<int32_t>::min(),
                                                        std::numeric_limits<int32_t>::max()));
    }

  private:
    const MeterMap& meters_;
    int32_t bar_ = -1;
    int64_t barStart_ = 0;
    int64_t beatTicks_ = 1;
};

// The position of a tick as the window and the command line show it: the bar from 1 right-aligned
// in three characters, the beat from 1 in two digits and the tick within the beat in three
// (the start of the piece is "  1:01:000").
std::string positionText(const MeterMap& meters, int32_t tick);

// A position typed as bar:beat:tick (bar and beat from 1). Up to five characters before the
// first ':' are the bar, up to two after it the beat and up to three after the second ':' the
// tick; blanks count as 0, and 0 stays 0 when made 0-based. A bar beyond `barCount` gives the
// start of bar `barCount`, the end of the piece.
struct ParsedPosition {
    SongPosition position;
    int32_t tick = 0;
};
ParsedPosition parsePosition(const MeterMap& meters, int32_t barCount, std::string_view text);

}  // namespace varimel
