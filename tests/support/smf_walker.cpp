#include "support/smf_walker.h"

#include <algorithm>
#include <deque>
#include <map>
#include <tuple>

namespace varimel::test {
namespace {

class ByteCursor {
  public:
    ByteCursor(const std::vector<std::uint8_t>& bytes, std::size_t begin, std::size_t end)
        : bytes_(bytes), position_(begin), end_(end) {}

    bool atEnd() const { return position_ >= end_; }
    std::size_t position() const { return position_; }

    std::optional<std::uint8_t> byte() {
        if (position_ >= end_) return std::nullopt;
        return bytes_[position_++];
    }
    std::optional<std::uint32_t> bigEndian(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            const auto b = byte();
            if (!b) return std::nullopt;
            value = (value << 8) | *b;
        }
        return value;
    }
    // The file standard allows at most four bytes.
    std::optional<std::uint32_t> variableLength() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const auto b = byte();
            if (!b) return std::nullopt;
            value = (value << 7) | (*b & 0x7Fu);
            if ((*b & 0x80) == 0) return value;
        }
        return std::nullopt;
    }
    std::optional<std::vector<std::uint8_t>> take(std::size_t count) {
        if (end_ - position_ < count) return std::nullopt;
        std::vector<std::uint8_t> out(
            bytes_.begin() + static_cast<std::ptrdiff_t>(position_),
            bytes_.begin() + static_cast<std::ptrdiff_t>(position_ + count));
        position_ += count;
        return out;
    }

  private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t position_;
    std::size_t end_;
};

int dataBytesOf(std::uint8_t status) {
    const int kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
}

std::string at(std::size_t offset) {
    return " at byte " + std::to_string(offset);
}

std::optional<std::string> walkTrack(ByteCursor& cursor, SmfTrack& track) {
    std::int64_t tick = 0;
    int runningStatus = -1;
    while (!cursor.atEnd()) {
        const std::size_t eventStart = cursor.position();
        const auto delta = cursor.variableLength();
        if (!delta) return "bad delta time" + at(eventStart);
        tick += *delta;
        SmfEvent event;
        event.tick = tick;
        auto first = cursor.byte();
        if (!first) return "event missing after delta time" + at(eventStart);
        if (*first < 0x80) {
            if (runningStatus < 0) return "data byte without a status" + at(eventStart);
            event.status = static_cast<std::uint8_t>(runningStatus);
            event.statusWasOmitted = true;
            event.data.push_back(*first);
        } else {
            event.status = *first;
        }
        if (event.status == 0xFF) {
            const auto type = cursor.byte();
            const auto length = cursor.variableLength();
            if (!type || !length) return "truncated meta event" + at(eventStart);
            if (*type >= 0x80) return "meta type with its top bit set" + at(eventStart);
            const auto payload = cursor.take(*length);
            if (!payload) return "meta event longer than its track" + at(eventStart);
            event.metaType = *type;
            event.data = *payload;
            runningStatus = -1;  // meta events cancel running status
        } else if (event.status == 0xF0 || event.status == 0xF7) {
            const auto length = cursor.variableLength();
            const auto payload = length ? cursor.take(*length) : std::nullopt;
            if (!payload) return "truncated system exclusive event" + at(eventStart);
            event.data = *payload;
            runningStatus = -1;
        } else if (event.status >= 0xF0) {
            return "status byte not allowed in a file" + at(eventStart);
        } else {
            while (static_cast<int>(event.data.size()) < dataBytesOf(event.status)) {
                const auto b = cursor.byte();
                if (!b) return "truncated channel message" + at(eventStart);
                if (*b >= 0x80) return "status byte where a data byte belongs" + at(eventStart);
                event.data.push_back(*b);
            }
            runningStatus = event.status;
        }
        track.events.push_back(std::move(event));
        const SmfEvent& last = track.events.back();
        if (last.isMeta() && last.metaType == 0x2F) {
            if (!last.data.empty()) return "end of track with data" + at(eventStart);
            if (!cursor.atEnd()) return "events after the end of track" + at(eventStart);
            return std::nullopt;
        }
    }
    return std::string("track without an end-of-track event");
}

}  // namespace

SmfWalk walkSmf(const std::vector<std::uint8_t>& bytes) {
    SmfWalk walk;
    ByteCursor header(bytes, 0, bytes.size());
    const auto magic = header.take(4);
    if (!magic || *magic != std::vector<std::uint8_t>{'M', 'T', 'h', 'd'}) {
        walk.error = "no MThd at the start";
        return walk;
    }
    const auto length = header.bigEndian(4);
    const auto format = header.bigEndian(2);
    const auto trackCount = header.bigEndian(2);
    const auto division = header.bigEndian(2);
    if (!length || *length < 6 || !format || !trackCount || !division) {
        walk.error = "truncated or short header";
        return walk;
    }
    if (!header.take(*length - 6)) {
        walk.error = "header longer than the file";
        return walk;
    }
    SmfFile file;
    file.format = static_cast<int>(*format);
    file.division = static_cast<int>(*division);
    std::size_t offset = header.position();
    for (std::uint32_t i = 0; i < *trackCount; ++i) {
        ByteCursor chunk(bytes, offset, bytes.size());
        const auto trackMagic = chunk.take(4);
        const auto trackLength = chunk.bigEndian(4);
        if (!trackMagic || *trackMagic != std::vector<std::uint8_t>{'M', 'T', 'r', 'k'} ||
            !trackLength) {
            walk.error = "track " + std::to_string(i) + ": no MTrk" + at(offset);
            return walk;
        }
        const std::size_t begin = chunk.position();
        if (bytes.size() - begin < *trackLength) {
            walk.error = "track " + std::to_string(i) + ": chunk longer than the file";
            return walk;
        }
        ByteCursor events(bytes, begin, begin + *trackLength);
        SmfTrack track;
        if (auto problem = walkTrack(events, track)) {
            walk.error = "track " + std::to_string(i) + ": " + *problem;
            return walk;
        }
        file.tracks.push_back(std::move(track));
        offset = begin + *trackLength;
    }
    if (offset != bytes.size()) {
        walk.error = "bytes after the last track" + at(offset);
        return walk;
    }
    walk.file = std::move(file);
    return walk;
}

std::vector<SmfNote> SmfFile::notes() const {
    std::vector<std::pair<std::size_t, SmfNote>> found;  // (order of the note on, note)
    std::size_t order = 0;
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        std::map<std::pair<int, int>, std::deque<std::size_t>> sounding;  // (channel, key)
        for (const SmfEvent& event : tracks[t].events) {
            const int kind = event.kind();
            if (kind != 0x90 && kind != 0x80) continue;
            const std::pair<int, int> id{event.channel(), event.data[0]};
            if (kind == 0x90 && event.data[1] > 0) {
                SmfNote note;
                note.startTick = event.tick;
                note.track = static_cast<int>(t);
                note.channel = event.channel();
                note.key = event.data[0];
                note.velocity = event.data[1];
                note.durationTicks = -1;  // stays -1 when never released
                sounding[id].push_back(found.size());
                found.emplace_back(order++, note);
            } else if (auto place = sounding.find(id);
                       place != sounding.end() && !place->second.empty()) {
                SmfNote& note = found[place->second.front()].second;
                place->second.pop_front();
                note.durationTicks = event.tick - note.startTick;
                note.releaseVelocity = kind == 0x80 ? event.data[1] : 0;
            }
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return std::tie(a.second.startTick, a.second.track, a.first) <
               std::tie(b.second.startTick, b.second.track, b.first);
    });
    std::vector<SmfNote> out;
    for (auto& [unused, note] : found) out.push_back(note);
    return out;
}

std::vector<SmfEvent> SmfFile::metas(std::uint8_t type) const {
    std::vector<SmfEvent> out;
    for (const SmfTrack& track : tracks)
        for (const SmfEvent& event : track.events)
            if (event.isMeta() && event.metaType == type) out.push_back(event);
    std::stable_sort(out.begin(), out.end(),
                     [](const SmfEvent& a, const SmfEvent& b) { return a.tick < b.tick; });
    return out;
}

}  // namespace varimel::test
