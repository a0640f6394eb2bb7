// EventTable: the time-ordered events of one play range — the file's tempo and channel events and
// the notes of every list — and the filling of stream buffers from it. Shared by the player and
// the offline renderer, so that a rendered file sounds exactly as playback does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/Apperr.h"
#include "engine/ChannelSettings.h"

namespace varimel {

// Stream buffers hold 8192 words, three per event, so at most 2730 events.
inline constexpr uint32_t kStreamBufferWords = 8192;

// The channels whose stored channel events are played for an accompaniment mode: the melody's
// always, the accompaniment's for block chords or a style, and the bass and drums for an
// arrangement alone.
bool channelPlayedInMode(uint32_t accompanimentParts, int channel);

struct PlayEntry {
    enum Kind : uint8_t { kListEvent = 0, kNoteOn = 1, kNoteOff = 2, kRangeEnd = 3 };
    Kind kind = kListEvent;
    uint8_t status = 0;  // list event: its kind byte; note: the note's list (its channel)
    uint8_t key = 0;
    uint8_t velocity = 0;  // note on: the velocity word's high byte; note off: its low byte
    int32_t value = 0;     // list event: its packed value
};

class EventTable {
  public:
    // The entries of [start, end): tempo events and the channel events the mode plays, all below
    // end and none earlier than start (what lies before start is sent at start); the notes that
    // start in the range, with their note offs cut at end; and a silent marker at end, so that a
    // buffer runs until the range's end even when its last bars are rests. Throws AppError with
    // the system's text when memory runs out.
    void build(const Composition& composition, int32_t start, int32_t end);
    // The notes of the given lists only, placed from the earliest note on (the previews).
    void buildLists(const NoteTracks& tracks, std::span<const int> lists);

    void clear();
    // Back to the first entry, for another pass of a loop.
    void rewind();

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    bool exhausted() const { return next_ >= order_.size(); }
    int32_t start() const { return start_; }

    // In time order.
    const PlayEntry& entry(std::size_t index) const { return entries_[order_[index]]; }
    uint32_t time(std::size_t index) const { return times_[order_[index]]; }

    // Fills `words` with the next events as (delta, 0, event word) triples, from the range start
    // on the first fill and from the last event sent afterwards. A controller event of a silenced
    // channel whose number has its low three bits set (7, 15, ... 127) is dropped, so that the
    // file's volume cannot undo a mute; tempo events are scaled by `tempoFactor`. Stops when
    // fewer than three free words would remain or the entries run out. Answers 1 when more
    // events are to come, else 0; `wordsUsed` and `eventCount` tell what was written.
    int fill(std::span<uint32_t> words, uint32_t& wordsUsed, uint32_t& eventCount,
             const ChannelSettings& channels, double tempoFactor);

    // The event word of one entry; false when it is dropped.
    static bool eventWord(const PlayEntry& entry, const ChannelSettings& channels,
                          double tempoFactor, uint32_t& word);

  private:
    enum Rank : uint8_t {
        kTempoRank,
        kChannelRank,
        kEarlierNoteOffRank,
        kNoteOnRank,
        kSameTickNoteOffRank,
        kEndRank
    };
    void add(const PlayEntry& entry, uint32_t time, Rank rank, uint32_t sourceTick);
    void addNotes(const NoteTracks& tracks, int list, int64_t start, int64_t end, bool cutAtEnd);
    void sort();

    std::vector<PlayEntry> entries_;
    std::vector<uint32_t> times_;
    std::vector<uint32_t> order_;
    // Equal times: tempo, then channel events, then note offs of earlier notes, note ons and
    // the offs of notes that start there; within those, the order of the source ticks, so that
    // of two program changes moved to the range start the later one wins.
    struct SortKey {
        Rank rank;
        uint32_t sourceTick;
    };
    std::vector<SortKey> keys_;
    std::size_t next_ = 0;
    uint32_t previousTime_ = 0;
    int32_t start_ = 0;
};

}  // namespace varimel
