#include "accompaniment/PatternFiles.h"

#include <algorithm>
#include <filesystem>

#include "engine/ByteIO.h"

namespace varimel {

namespace {

constexpr uint8_t kStyleMagic[3] = {'L', 'S', 'T'};
constexpr uint8_t kArrangementMagic[3] = {'V', 'A', 'L'};
constexpr uint8_t kMagicFourthByte = 0;

bool readMagic(ByteReader& in, const uint8_t (&magic)[3]) {
    uint8_t head[4] = {};
    if (!in.bytes(head, 4)) return false;
    return head[0] == magic[0] && head[1] == magic[1] && head[2] == magic[2];
}

void writeMagic(ByteWriter& out, const uint8_t (&magic)[3]) {
    out.raw(magic, 3);
    out.u8(kMagicFourthByte);
}

// A fixed field of kLibraryNameSize bytes holding a zero-terminated name; a field without a
// terminator is cut at its end.
bool readName(ByteReader& in, std::string& name) {
    uint8_t field[kLibraryNameSize] = {};
    if (!in.bytes(field, kLibraryNameSize)) return false;
    const auto end = std::find(std::begin(field), std::end(field), uint8_t{0});
    name.assign(std::begin(field), end);
    return true;
}

void writeName(ByteWriter& out, const std::string& name) {
    const size_t length = std::min(name.size(), kLibraryNameSize - 1);
    out.raw(reinterpret_cast<const uint8_t*>(name.data()), length);
    out.zeros(kLibraryNameSize - length);
}

bool readEvent(ByteReader& in, PatternEvent& event) {
    uint8_t tone = 0, octave = 0, beat = 0;
    bool ok = in.u8(tone) && in.skip(1) && in.u8(octave) && in.skip(1) && in.i16(event.duration) &&
              in.i16(event.bar) && in.u8(beat) && in.skip(1) && in.u16(event.tick) &&
              in.u16(event.velocities);
    event.tone = static_cast<int8_t>(tone);
    event.octave = static_cast<int8_t>(octave);
    event.beat = beat;
    return ok;
}

void writeEvent(ByteWriter& out, const PatternEvent& event) {
    out.u8(static_cast<uint8_t>(event.tone));
    out.u8(0);
    out.u8(static_cast<uint8_t>(event.octave));
    out.u8(0);
    out.i16(event.duration);
    out.i16(event.bar);
    out.u8(event.beat);
    out.u8(0);
    out.u16(event.tick);
    out.u16(event.velocities);
}

// Reads `count` events, refusing before allocating when the bytes left cannot hold them or the
// line is longer than any pattern.
bool readEvents(ByteReader& in, int64_t count, std::vector<PatternEvent>& events) {
    events.clear();
    if (count > kMaxPatternEvents || !in.fits(count, kPatternEventSize)) return false;
    events.resize(static_cast<size_t>(count));
    for (PatternEvent& event : events) {
        if (!readEvent(in, event)) return false;
    }
    return true;
}

}  // namespace

bool meterFits(MeterSet meters, int numerator, int denominator) {
    // A zero byte marks a place without a meter; no real meter is 0/0.
    if (numerator <= 0 || denominator <= 0) return false;
    const uint32_t wanted = meterCode(numerator, denominator);
    for (int byte = 0; byte < 4; ++byte) {
        if ((meters & 0xFF) == wanted) return true;
        if (meters < 256) return false;
        meters >>= 8;
    }
    return false;
}

// --- Style list and style files -------------------------------------------------------------

bool parseStyleList(const std::vector<uint8_t>& bytes, StyleList& out) {
    out = StyleList{};
    ByteReader in(bytes);
    if (!readMagic(in, kStyleMagic)) return false;
    std::array<int32_t, kStyleCategoryCount> counts{};
    for (int32_t& count : counts) {
        if (!in.i32(count)) return false;
    }
    bool anyRead = false;
    for (int category = 0; category < kStyleCategoryCount; ++category) {
        const int32_t count = counts[static_cast<size_t>(category)];
        if (count == 0) continue;
        // A negative or oversized count is a short read: the categories before it stay.
        if (!in.fits(count, kStyleEntrySize)) break;
        std::vector<StyleEntry> entries(static_cast<size_t>(count));
        bool complete = true;
        for (StyleEntry& entry : entries) {
            complete = in.i32(entry.id) && in.skip(8) && readName(in, entry.name);
            if (!complete) break;
        }
        if (!complete) break;
        out.categories[static_cast<size_t>(category)] = std::move(entries);
        anyRead = true;
    }
    return anyRead;
}

std::vector<uint8_t> serializeStyleList(const StyleList& list) {
    ByteWriter out;
    writeMagic(out, kStyleMagic);
    for (const auto& entries : list.categories) out.i32(static_cast<int32_t>(entries.size()));
    for (const auto& entries : list.categories) {
        for (const StyleEntry& entry : entries) {
            out.i32(entry.id);
            out.zeros(8);
            writeName(out, entry.name);
        }
    }
    return std::move(out.bytes());
}

bool parseStyle(const std::vector<uint8_t>& bytes, Style& out) {
    out = Style{};
    ByteReader in(bytes);
    Style style;
    uint8_t octave = 0, meterNum = 0, meterDen = 0;
    int32_t eventCount = 0;
    const bool header = in.skip(1) && in.u8(style.bars) && in.u8(octave) &&
                        in.u8(style.beatsPerBar) && in.u8(style.program) && in.u8(style.program2) &&
                        in.skip(2) && in.u8(meterNum) && in.u8(meterDen) && in.i16(style.ppq) &&
                        in.u32(style.meters) && in.i32(eventCount);
    if (!header || !readEvents(in, eventCount, style.events)) return false;
    style.octave = static_cast<int8_t>(octave);
    style.meterNum = static_cast<int8_t>(meterNum);
    style.meterDen = static_cast<int8_t>(meterDen);
    style.valid = true;
    out = std::move(style);
    return true;
}

std::vector<uint8_t> serializeStyle(const Style& style) {
    ByteWriter out;
    out.u8(0);
    out.u8(style.bars);
    out.u8(static_cast<uint8_t>(style.octave));
    out.u8(style.beatsPerBar);
    out.u8(style.program);
    out.u8(style.program2);
    out.zeros(2);
    out.u8(static_cast<uint8_t>(style.meterNum));
    out.u8(static_cast<uint8_t>(style.meterDen));
    out.i16(style.ppq);
    out.u32(style.meters);
    out.i32(style.eventCount());
    for (const PatternEvent& event : style.events) writeEvent(out, event);
    return std::move(out.bytes());
}

// --- Arrangement list and arrangement files -------------------------------------------------

bool parseArrangementList(const std::vector<uint8_t>& bytes, ArrangementList& out) {
    out = ArrangementList{};
    ByteReader in(bytes);
    int16_t groupCount = 0;
    if (!readMagic(in, kArrangementMagic) || !in.i16(groupCount) || groupCount < 0) return false;
    ArrangementList list;
    for (int g = 0; g < groupCount; ++g) {
        uint32_t word = 0;
        if (!in.u32(word)) return false;
        ArrangementGroup group;
        group.key = static_cast<uint16_t>(word & 0xFFFF);
        const int64_t count = word >> 16;
        if (!in.fits(count, kArrangementEntrySize)) return false;
        group.entries.resize(static_cast<size_t>(count));
        for (ArrangementEntry& entry : group.entries) {
            if (!in.skip(6) || !in.i16(entry.tempoMask) || !readName(in, entry.name)) return false;
        }
        list.groups.push_back(std::move(group));
    }
    out = std::move(list);
    return true;
}

std::vector<uint8_t> serializeArrangementList(const ArrangementList& list) {
    ByteWriter out;
    writeMagic(out, kArrangementMagic);
    out.i16(static_cast<int16_t>(list.groups.size()));
    for (const ArrangementGroup& group : list.groups) {
        out.u32(static_cast<uint32_t>(group.entries.size()) << 16 | group.key);
        for (const ArrangementEntry& entry : group.entries) {
            out.zeros(6);
            out.i16(entry.tempoMask);
            writeName(out, entry.name);
        }
    }
    return std::move(out.bytes());
}

bool parseArrangement(const std::vector<uint8_t>& bytes, Arrangement& out) {
    out = Arrangement{};
    ByteReader in(bytes);
    Arrangement arrangement;
    uint8_t meterNum = 0, meterDen = 0;
    int16_t partCount = 0;
    if (!in.skip(4) || !in.u8(meterNum) || !in.u8(meterDen) || !in.skip(2) ||
        !in.i16(arrangement.ppq) || !in.i16(partCount) || partCount < 0) {
        return false;
    }
    arrangement.meterNum = static_cast<int8_t>(meterNum);
    arrangement.meterDen = static_cast<int8_t>(meterDen);
    // Every part has at least its head, so the count cannot claim more than the bytes hold.
    if (!in.fits(partCount, kArrangementPartHeadSize)) return false;
    arrangement.parts.resize(static_cast<size_t>(partCount));
    for (ArrangementPart& part : arrangement.parts) {
        int16_t organCount = 0, bassCount = 0, drumCount = 0;
        const bool head = in.skip(2) && in.u8(part.organProgram) && in.u8(part.bassProgram) &&
                          in.u8(part.organVolume) && in.u8(part.bassVolume) &&
                          in.u8(part.drumsVolume) && in.skip(3) && in.i16(organCount) &&
                          in.i16(bassCount) && in.i16(drumCount);
        if (!head) return false;
        if (organCount <= 0) continue;
        if (!readEvents(in, organCount, part.organ) || !readEvents(in, bassCount, part.bass) ||
            !readEvents(in, drumCount, part.drums)) {
            return false;
        }
    }
    out = std::move(arrangement);
    return true;
}

std::vector<uint8_t> serializeArrangement(const Arrangement& arrangement) {
    ByteWriter out;
    out.zeros(4);
    out.u8(static_cast<uint8_t>(arrangement.meterNum));
    out.u8(static_cast<uint8_t>(arrangement.meterDen));
    out.zeros(2);
    out.i16(arrangement.ppq);
    out.i16(static_cast<int16_t>(arrangement.parts.size()));
    for (const ArrangementPart& part : arrangement.parts) {
        const bool hasEvents = !part.organ.empty();
        out.zeros(2);
        out.u8(part.organProgram);
        out.u8(part.bassProgram);
        out.u8(part.organVolume);
        out.u8(part.bassVolume);
        out.u8(part.drumsVolume);
        out.zeros(3);
        out.i16(static_cast<int16_t>(part.organ.size()));
        out.i16(static_cast<int16_t>(hasEvents ? part.bass.size() : 0));
        out.i16(static_cast<int16_t>(hasEvents ? part.drums.size() : 0));
        if (!hasEvents) continue;
        for (const PatternEvent& event : part.organ) writeEvent(out, event);
        for (const PatternEvent& event : part.bass) writeEvent(out, event);
        for (const PatternEvent& event : part.drums) writeEvent(out, event);
    }
    return std::move(out.bytes());
}

std::string joinPath(std::string_view directory, std::string_view name) {
    std::string path(directory);
    if (path.empty()) return std::string(name);
    const char last = path.back();
    const bool endsWithSeparator =
        last == static_cast<char>(std::filesystem::path::preferred_separator) || last == '/';
    if (!endsWithSeparator) path += static_cast<char>(std::filesystem::path::preferred_separator);
    path += name;
    return path;
}

}  // namespace varimel
