#include "playback/EventTable.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <new>

#include "playback/MidiStream.h"
#include "playback/OutputPort.h"

namespace varimel {

bool channelPlayedInMode(uint32_t accompanimentParts, int channel) {
    switch (accompanimentParts) {
        case accompaniment_part::kBlockChords:
        case accompaniment_part::kStyle:
            return channel == 0 || channel == 1;
        case accompaniment_part::kArrangement:
            return channel == 0 || channel == 1 || channel == 3 || channel == 9;
        default:
            return channel == 0;
    }
}

namespace {

[[noreturn]] void raiseOutOfMemory() {
    errno = ENOMEM;
    raiseSystemError(false);
    throw std::bad_alloc();  // not reached: raiseSystemError(false) always throws
}

uint32_t clampTick(int64_t tick) {
    return static_cast<uint32_t>(std::clamp<int64_t>(tick, 0, std::numeric_limits<int32_t>::max()));
}

}  // namespace

void EventTable::clear() {
    entries_.clear();
    times_.clear();
    order_.clear();
    keys_.clear();
    next_ = 0;
    previousTime_ = 0;
    start_ = 0;
}

void EventTable::rewind() {
    next_ = 0;
    previousTime_ = static_cast<uint32_t>(start_);
}

void EventTable::add(const PlayEntry& entry, uint32_t time, Rank rank, uint32_t sourceTick) {
    entries_.push_back(entry);
    times_.push_back(time);
    keys_.push_back({rank, sourceTick});
}

void EventTable::addNotes(const NoteTracks& tracks, int list, int64_t start, int64_t end,
                          bool cutAtEnd) {
    const MeterMap& meter = tracks.meterMap();
    for (const NoteRecord& note : tracks.notes(list)) {
        const int64_t on = meter.tickOfPosition(note.position);
        if (on < start || (cutAtEnd && on >= end)) continue;
        int64_t off = on + note.duration - 1;
        if (cutAtEnd) off = std::min(off, end);
        // A note of one tick or none would otherwise stop before (or as) it starts and hang.
        const bool offAtOn = off <= on;
        off = std::max(off, on);
        PlayEntry entry;
        entry.status = static_cast<uint8_t>(note.list & 0x0F);
        entry.key = note.key;
        entry.kind = PlayEntry::kNoteOn;
        entry.velocity = static_cast<uint8_t>(note.velocity >> 8);
        add(entry, clampTick(on), kNoteOnRank, clampTick(on));
        entry.kind = PlayEntry::kNoteOff;
        entry.velocity = static_cast<uint8_t>(note.velocity & 0xFF);
        add(entry, clampTick(off), offAtOn ? kSameTickNoteOffRank : kEarlierNoteOffRank,
            clampTick(on));
    }
}

void EventTable::sort() {
    order_.resize(entries_.size());
    for (uint32_t i = 0; i < order_.size(); ++i) order_[i] = i;
    std::stable_sort(order_.begin(), order_.end(), [&](uint32_t a, uint32_t b) {
        if (times_[a] != times_[b]) return times_[a] < times_[b];
        if (keys_[a].rank != keys_[b].rank) return keys_[a].rank < keys_[b].rank;
        return keys_[a].sourceTick < keys_[b].sourceTick;
    });
    keys_.clear();
    keys_.shrink_to_fit();
}

void EventTable::build(const Composition& composition, int32_t start, int32_t end) {
    clear();
    start = std::max(start, 0);
    end = std::max(end, start);
    start_ = start;
    previousTime_ = static_cast<uint32_t>(start);
    try {
        const MeterMap& meter = composition.meterMap();
        for (const TrackEvent& event : composition.conductorEvents.events()) {
            if (event.kind != event_kind::kTempo) continue;
            const int64_t tick = meter.tickOfPosition(event.position);
            if (tick >= end) continue;
            PlayEntry entry;
            entry.status = event.kind;
            entry.value = event.value;
            add(entry, clampTick(std::max<int64_t>(tick, start)), kTempoRank, clampTick(tick));
        }
        for (const TrackEvent& event : composition.channelEvents.events()) {
            const int64_t tick = meter.tickOfPosition(event.position);
            if (tick >= end) continue;
            if (!channelPlayedInMode(composition.accompanimentParts, event.kind & 0x0F)) continue;
            PlayEntry entry;
            entry.status = event.kind;
            entry.value = event.value;
            add(entry, clampTick(std::max<int64_t>(tick, start)), kChannelRank, clampTick(tick));
        }
        const NoteTracks& tracks = composition.noteTracks();
        for (int list = 0; list < NoteTracks::kListCount; ++list) {
            addNotes(tracks, list, start, end, true);
        }
        PlayEntry marker;
        marker.kind = PlayEntry::kRangeEnd;
        add(marker, static_cast<uint32_t>(end), kEndRank, static_cast<uint32_t>(end));
        sort();
    } catch (const std::bad_alloc&) {
        clear();
        raiseOutOfMemory();
    }
}

void EventTable::buildLists(const NoteTracks& tracks, std::span<const int> lists) {
    clear();
    try {
        for (const int list : lists) addNotes(tracks, list, 0, 0, false);
        sort();
    } catch (const std::bad_alloc&) {
        clear();
        raiseOutOfMemory();
    }
    start_ = order_.empty() ? 0 : static_cast<int32_t>(times_[order_.front()]);
    previousTime_ = static_cast<uint32_t>(start_);
}

bool EventTable::eventWord(const PlayEntry& entry, const ChannelSettings& channels,
                           double tempoFactor, uint32_t& word) {
    switch (entry.kind) {
        case PlayEntry::kNoteOn:
            word = shortMessage(0x90 | entry.status, entry.key, entry.velocity);
            return true;
        case PlayEntry::kNoteOff:
            word = shortMessage(0x80 | entry.status, entry.key, entry.velocity);
            return true;
        case PlayEntry::kRangeEnd:
            word = nopEventWord();
            return true;
        case PlayEntry::kListEvent:
            break;
    }
    if (entry.status == event_kind::kTempo) {
        // Scaled so that the file's tempo changes keep their ratio to the user's tempo; kept
        // within the 24 bits a tempo event has.
        const double scaled = static_cast<double>(entry.value) * tempoFactor;
        const double limited = std::clamp(scaled, 1.0, double{stream_event::kParameterMask});
        word = tempoEventWord(static_cast<uint32_t>(limited));
        return true;
    }
    const int data1 = static_cast<int>((static_cast<uint32_t>(entry.value) >> 24) & 0xFF);
    const int data2 = static_cast<int>((static_cast<uint32_t>(entry.value) >> 16) & 0xFF);
    if ((entry.status & 0xF0) == event_kind::kController && (data1 & 7) == 7 &&
        channels.silenced(entry.status & 0x0F)) {
        return false;
    }
    word = shortMessage(entry.status, data1, data2);
    return true;
}

int EventTable::fill(std::span<uint32_t> words, uint32_t& wordsUsed, uint32_t& eventCount,
                     const ChannelSettings& channels, double tempoFactor) {
    wordsUsed = 0;
    eventCount = 0;
    const std::size_t capacity = words.size();
    while (next_ < order_.size() && capacity - wordsUsed >= stream_event::kWordsPerEvent) {
        const std::size_t index = next_++;
        uint32_t word = 0;
        if (!eventWord(entry(index), channels, tempoFactor, word)) continue;
        const uint32_t at = time(index);
        words[wordsUsed] = at - previousTime_;
        words[wordsUsed + 1] = 0;
        words[wordsUsed + 2] = word;
        wordsUsed += stream_event::kWordsPerEvent;
        ++eventCount;
        previousTime_ = at;
    }
    return next_ < order_.size() ? 1 : 0;
}

}  // namespace varimel
