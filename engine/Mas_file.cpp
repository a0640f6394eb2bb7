#include "engine/Mas_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "engine/ByteIO.h"
#include "engine/Limits.h"

namespace varimel {

namespace {

constexpr size_t kTrackEventSize = 20;
constexpr size_t kNoteRecordSize = 14;
constexpr size_t kChordEntrySize = 8;
constexpr size_t kSlotSize = 28;
constexpr size_t kSegmentSize = 16;
constexpr size_t kKeyRecordSize = 6;
constexpr int32_t kMeterWords = 9;  // segment count + the 8 meter-map values
constexpr int32_t kMeterBlockWords = 10;

bool readPosition(ByteReader& in, SongPosition& position, bool padAfterTick) {
    uint8_t pad = 0;
    uint16_t padWord = 0;
    const bool ok =
        in.u16(position.bar) && in.u8(position.beat) && in.u8(pad) && in.u16(position.tick);
    return ok && (!padAfterTick || in.u16(padWord));
}

void writePosition(ByteWriter& out, const SongPosition& position, bool padAfterTick) {
    out.u16(position.bar);
    out.u8(position.beat);
    out.zeros(1);
    out.u16(position.tick);
    if (padAfterTick) out.zeros(2);
}

bool readEvent(ByteReader& in, TrackEvent& event) {
    uint32_t value = 0;
    return in.u8(event.kind) && in.skip(3) && in.u32(value) && in.i32(event.data) &&
           readPosition(in, event.position, true) &&
           (event.value = static_cast<int32_t>(value), true);
}

void writeEvent(ByteWriter& out, const TrackEvent& event) {
    out.u8(event.kind);
    out.zeros(3);
    out.i32(event.value);
    out.i32(event.data);
    writePosition(out, event.position, true);
}

bool readNote(ByteReader& in, NoteRecord& note) {
    uint8_t pad = 0;
    return in.u8(note.key) && in.u8(note.list) && in.u16(note.velocity) &&
           readPosition(in, note.position, false) && in.u16(note.duration) &&
           in.u8(note.pitchClass) && in.u8(pad);
}

void writeNote(ByteWriter& out, const NoteRecord& note) {
    out.u8(note.key);
    out.u8(note.list);
    out.u16(note.velocity);
    writePosition(out, note.position, false);
    out.u16(note.duration);
    out.u8(note.pitchClass);
    out.zeros(1);
}

bool readSlot(ByteReader& in, HarmonySlot& slot) {
    bool ok = in.u8(slot.mainCount) && in.u8(slot.extraCount);
    for (ChordCode& chord : slot.candidates) ok = ok && in.i16(chord);
    uint8_t kind = 0;
    ok = ok && in.u8(kind) && in.u8(slot.spare);
    slot.cadenceKind = static_cast<int8_t>(kind);
    return ok;
}

void writeSlot(ByteWriter& out, const HarmonySlot& slot) {
    out.u8(slot.mainCount);
    out.u8(slot.extraCount);
    for (ChordCode chord : slot.candidates) out.i16(chord);
    out.u8(static_cast<uint8_t>(slot.cadenceKind));
    out.u8(slot.spare);
}

// A chord code as the engine makes them: none (negative), or a key and one of the chord types.
bool validChord(ChordCode chord) {
    return chord < 0 || (isValidKey(chordKey(chord)) && chordType(chord) < kChordTypeCount);
}

bool validMeter(const MeterMap& meter) {
    if (meter.ticksPerQuarter <= 0 || meter.ticksPerQuarter > 0x7FFF) return false;
    if (meter.ticksPerWhole != 4 * meter.ticksPerQuarter) return false;
    // The sixteenth follows from the division; the shortest note is one of the notes, and a
    // stored duration has 16 bits.
    if (meter.sixteenth != meter.ticksPerQuarter / 4) return false;
    if (meter.shortestNote < 0 || meter.shortestNote > 0xFFFF) return false;
    if (meter.barCount < 0 || meter.barCount > limits::kMaxBars) return false;
    if (meter.segments().empty()) return false;
    for (const MeterSegment& segment : meter.segments()) {
        // A meter change inside the last bar starts on the bar line after it.
        if (segment.startBar < 0 || segment.startBar > limits::kMaxBars) return false;
        if (segment.numerator == 0 || segment.denominator == 0) return false;
        // The lengths are stored, not derived; they must be the ones the meter gives.
        MeterMap expected;
        expected.setTicksPerQuarter(meter.ticksPerQuarter);
        expected.addSegment(segment.startBar, segment.numerator, segment.denominator);
        const MeterSegment& derived = expected.segments().front();
        if (derived.ticksPerBeat <= 0 || segment.ticksPerBar != derived.ticksPerBar ||
            segment.ticksPerBeat != derived.ticksPerBeat) {
            return false;
        }
    }
    return true;
}

// A position inside its bar, as the meter map makes them from ticks: the tick within its beat,
// the beat within the bar's length (which need not be a whole number of beats).
bool validPosition(const MeterMap& meter, const SongPosition& position) {
    if (position.bar >= limits::kMaxBars) return false;
    const MeterSegment* segment = meter.segmentOfBar(position.bar);
    return segment != nullptr && position.tick < segment->ticksPerBeat &&
           int64_t{position.beat} * segment->ticksPerBeat + position.tick < segment->ticksPerBar;
}

bool before(const SongPosition& a, const SongPosition& b) {
    if (a.bar != b.bar) return a.bar < b.bar;
    if (a.beat != b.beat) return a.beat < b.beat;
    return a.tick < b.tick;
}

// What every other part of the program takes for granted of a composition, and a loaded MIDI
// file always gives: a meter that can place notes, a melody in time order inside the limits,
// and chords the vocabulary knows. A file that breaks any of it was damaged or not written by us.
bool consistentComposition(const Composition& c) {
    const MeterMap& meter = c.meterMap();
    if (!validMeter(meter)) return false;
    const NoteTracks& notes = c.noteTracks();
    for (int list = 0; list < NoteTracks::kListCount; ++list) {
        const std::vector<NoteRecord>& listNotes = notes.notes(list);
        for (size_t i = 0; i < listNotes.size(); ++i) {
            const NoteRecord& note = listNotes[i];
            if (note.key > 127 || !validPosition(meter, note.position)) return false;
            if (i > 0 && before(note.position, listNotes[i - 1].position)) return false;
        }
    }
    for (const EventList* list : {&c.conductorEvents, &c.channelEvents}) {
        for (const TrackEvent& event : list->events()) {
            if (!validPosition(meter, event.position)) return false;
        }
    }
    if (c.chordTrack.size() > static_cast<size_t>(limits::kMaxBars) ||
        c.slots.size() > static_cast<size_t>(limits::kMaxBars)) {
        return false;
    }
    for (const ChordTrackEntry& entry : c.chordTrack) {
        if (!validChord(entry.chord)) return false;
    }
    for (const HarmonySlot& slot : c.slots) {
        if (slot.mainCount + slot.extraCount > static_cast<int>(slot.candidates.size())) {
            return false;
        }
        for (const ChordCode chord : slot.candidates) {
            if (!validChord(chord)) return false;
        }
    }
    if (c.keys.size() > static_cast<size_t>(kKeyCount)) return false;
    for (const KeyRecord& key : c.keys) {
        if (key.key != kNoKey && !isValidKey(key.key)) return false;
    }
    return true;
}

}  // namespace

// --- Reading ---------------------------------------------------------------------------------

ProjectReader::ProjectReader(std::string fileName, Composition& composition,
                             HarmonyOptions& options)
    : fileName_(std::move(fileName)), composition_(composition), options_(options) {}

bool ProjectReader::read() {
    version_ = -1;
    std::vector<uint8_t> bytes;
    if (!readWholeFile(fileName_, kMaxFileSize, bytes)) return false;
    ByteReader in(bytes);

    bool success = false;
    try {
        while (true) {
            char id[4];
            if (!in.bytes(reinterpret_cast<uint8_t*>(id), 4)) break;
            const std::string chunk(id, 4);
            int32_t yield = -1;
            // Data chunks need a version first.
            auto data = [&](auto&& reader) { return version_ == -1 ? 0 : reader(); };
            if (chunk == "POpt") {
                yield = data([&] { return readOptions(in); });
            } else if (chunk == "GPar") {
                yield = data([&] { return readEvents(in, composition_.conductorEvents); });
            } else if (chunk == "TPar") {
                yield = data([&] { return readEvents(in, composition_.channelEvents); });
            } else if (chunk == "MNts") {
                yield = data([&] { return readNotes(in); });
            } else if (chunk == "AChr") {
                yield = data([&] { return readChordTrack(in); });
            } else if (chunk == "RChr") {
                yield = data([&] { return readSlots(in); });
            } else if (chunk == "TTel") {
                yield = data([&] { return readMeterAndKeys(in); });
            } else if (chunk == "Qsec") {
                yield = data([&] { return skipSection(in); });
            } else if (chunk == "VVml") {
                if (!in.i32(version_)) break;
            } else if (chunk == "ArId") {
                if (!readArrangement(in)) break;
            } else if (chunk == "FEnd") {
                success = true;
                break;
            } else {
                break;
            }
            if (yield == 0) break;
        }
    } catch (const std::bad_alloc&) {
        success = false;
    }
    if (!success || !consistentComposition(composition_)) return false;

    MeterMap& meter = composition_.meterMap();
    composition_.barCountAtAnalysis = composition_.barCount = meter.barCount;
    composition_.noteTracks().setBarCount(meter.barCount);
    composition_.fileFormat = 1;
    composition_.ticksPerQuarter = static_cast<int16_t>(meter.ticksPerQuarter);
    return true;
}

int32_t ProjectReader::readOptions(ByteReader& in) {
    int32_t flag = 0;
    HarmonyOptionsBytes raw{};
    if (!in.i32(flag) || !in.bytes(raw.data(), raw.size())) return 0;
    options_ = deserializeHarmonyOptions(raw);
    return flag;
}

int32_t ProjectReader::readEvents(ByteReader& in, EventList& list) {
    int32_t count = 0;
    if (!in.i32(count) || !in.fits(count, kTrackEventSize)) return 0;
    const int64_t kept =
        int64_t{composition_.conductorEvents.count()} + composition_.channelEvents.count() + count;
    if (kept > limits::kMaxEvents) return 0;
    list.setGrowthStep(10);
    for (int32_t i = 0; i < count; ++i) {
        TrackEvent event;
        if (!readEvent(in, event) || !list.append(event)) return 0;
    }
    return count;
}

int32_t ProjectReader::readNotes(ByteReader& in) {
    int32_t count = 0;
    if (!in.i32(count) || count <= 0 || !in.fits(count, kNoteRecordSize)) return 0;
    if (!composition_.notes) composition_.notes = std::make_unique<NoteTracks>(count);
    NoteTracks& notes = composition_.noteTracks();
    int64_t held = count;
    for (int list = 0; list < NoteTracks::kListCount; ++list) held += notes.count(list);
    if (held > limits::kMaxNotes) return 0;
    for (int32_t i = 0; i < count; ++i) {
        NoteRecord note;
        if (!readNote(in, note)) return 0;
        if (note.list >= NoteTracks::kListCount) return 0;  // not a list of ours: a damaged file
        if (!notes.append(note)) return 0;
    }
    if (const NoteRecord* first = notes.note(0, 0)) notes.setFirstBar(first->position.bar);
    uint16_t pitchClassSet = 0;
    uint8_t distinct = 0;
    int32_t upbeat = 0;
    if (!in.u16(pitchClassSet) || !in.u8(distinct) || !in.i32(upbeat)) return 0;
    notes.restoreSummary(pitchClassSet, distinct, upbeat);
    return count;
}

int32_t ProjectReader::readChordTrack(ByteReader& in) {
    int32_t count = 0;
    if (!in.i32(count) || !in.fits(count, kChordEntrySize) || count > limits::kMaxBars) return 0;
    std::vector<ChordTrackEntry> track(static_cast<size_t>(count));
    for (ChordTrackEntry& entry : track) {
        uint8_t pad = 0;
        if (!in.i16(entry.chord) || !in.u8(entry.enabled) || !in.u8(pad) || !in.i32(entry.extra)) {
            return 0;
        }
    }
    composition_.chordTrack = std::move(track);
    composition_.barCount = count;
    return count;
}

int32_t ProjectReader::readSlots(ByteReader& in) {
    int32_t count = 0;
    if (!in.i32(count) || !in.fits(count, kSlotSize) || count > limits::kMaxBars) return 0;
    std::vector<HarmonySlot> slots(static_cast<size_t>(count));
    for (HarmonySlot& slot : slots) {
        if (!readSlot(in, slot)) return 0;
    }
    composition_.slots = std::move(slots);
    return count;
}

int32_t ProjectReader::readMeterAndKeys(ByteReader& in) {
    MeterMap& meter = composition_.meterMap();
    meter = MeterMap{};
    int32_t wordCount = 0;
    if (!in.i32(wordCount) || wordCount < 0 || !in.fits(wordCount, 4)) return 0;
    std::array<int32_t, kMeterBlockWords> block{};
    for (int32_t i = 0; i < wordCount; ++i) {
        int32_t word = 0;
        if (!in.i32(word)) return 0;
        // The block holds ten words; further ones from a newer writer are skipped.
        if (i < kMeterBlockWords) block[static_cast<size_t>(i)] = word;
    }
    meter.ticksPerWhole = block[1];
    meter.shortestNote = block[2];
    meter.shortestNoteUnits = static_cast<uint32_t>(block[3]);
    meter.gapTolerance = block[4];
    meter.barCount = block[5];
    meter.divisionsPerWhole = block[6];
    meter.sixteenth = block[7];
    meter.ticksPerQuarter = block[8];

    const int32_t segmentCount = std::max(block[0], 0);
    std::vector<MeterSegment> segments;
    for (int32_t i = 0; i < segmentCount && in.remaining() >= kSegmentSize; ++i) {
        MeterSegment segment;
        uint16_t pad = 0;
        if (!in.i32(segment.startBar) || !in.u8(segment.numerator) || !in.u8(segment.denominator) ||
            !in.u16(pad) || !in.i32(segment.ticksPerBar) || !in.i32(segment.ticksPerBeat)) {
            break;
        }
        segments.push_back(segment);
    }
    meter.setSegments(std::move(segments));

    int32_t keyCount = 0;
    if (!in.bytes(composition_.keyMarks.data(), composition_.keyMarks.size()) ||
        !in.i32(keyCount) || !in.fits(keyCount, kKeyRecordSize)) {
        return 0;
    }
    std::vector<KeyRecord> keys(static_cast<size_t>(keyCount));
    for (KeyRecord& key : keys) {
        if (!in.i16(key.key) || !in.i16(key.reserved1) || !in.i16(key.reserved2)) return 0;
    }
    composition_.keys = std::move(keys);
    return 1;
}

int32_t ProjectReader::skipSection(ByteReader& in) {
    int32_t length = 0;
    if (!in.i32(length) || length < 0 || !in.skip(static_cast<size_t>(length))) return 0;
    return length;
}

bool ProjectReader::readArrangement(ByteReader& in) {
    return in.i32(composition_.arrangementId) && in.u32(composition_.accompanimentParts) &&
           in.u32(composition_.previousParts);
}

// --- Writing ---------------------------------------------------------------------------------

std::vector<uint8_t> ProjectWriter::encode(const Composition& c, const HarmonyOptions& options) {
    ByteWriter out;
    out.text("VVml");
    out.i32(kVersion);

    out.text("POpt");
    out.i32(1);
    const HarmonyOptionsBytes optionBytes = serializeHarmonyOptions(options);
    out.raw(optionBytes.data(), optionBytes.size());

    // An empty list would end the reading, so it is left out.
    for (const auto& [id, list] :
         {std::pair{"GPar", &c.conductorEvents}, std::pair{"TPar", &c.channelEvents}}) {
        if (list->count() == 0) continue;
        out.text(id);
        out.i32(list->count());
        for (const TrackEvent& event : list->events()) writeEvent(out, event);
    }

    const NoteTracks& notes = c.noteTracks();
    if (notes.count(0) > 0) {
        out.text("MNts");
        out.i32(notes.count(0));
        for (const NoteRecord& note : notes.notes(0)) writeNote(out, note);
        out.u16(notes.pitchClassSet());
        out.u8(notes.distinctCount());
        out.i32(notes.cachedUpbeat());
    }

    if (c.hasChordTrack()) {
        out.text("AChr");
        out.i32(static_cast<int32_t>(c.chordTrack.size()));
        for (const ChordTrackEntry& entry : c.chordTrack) {
            out.i16(entry.chord);
            out.u8(entry.enabled);
            out.zeros(1);
            out.i32(entry.extra);
        }
        if (!c.slots.empty()) {
            out.text("RChr");
            out.i32(static_cast<int32_t>(c.slots.size()));
            for (const HarmonySlot& slot : c.slots) writeSlot(out, slot);
        }
    }

    const MeterMap& meter = c.meterMap();
    out.text("TTel");
    out.i32(kMeterWords);
    out.i32(meter.segmentCount());
    for (int32_t value :
         {meter.ticksPerWhole, meter.shortestNote, static_cast<int32_t>(meter.shortestNoteUnits),
          meter.gapTolerance, meter.barCount, meter.divisionsPerWhole, meter.sixteenth,
          meter.ticksPerQuarter}) {
        out.i32(value);
    }
    for (const MeterSegment& segment : meter.segments()) {
        out.i32(segment.startBar);
        out.u8(segment.numerator);
        out.u8(segment.denominator);
        out.zeros(2);
        out.i32(segment.ticksPerBar);
        out.i32(segment.ticksPerBeat);
    }
    out.raw(c.keyMarks.data(), c.keyMarks.size());
    out.i32(c.keyCount());
    for (const KeyRecord& key : c.keys) {
        out.i16(key.key);
        out.i16(key.reserved1);
        out.i16(key.reserved2);
    }

    out.text("ArId");
    out.i32(c.arrangementId);
    out.u32(c.accompanimentParts);
    out.u32(c.previousParts);

    out.text("FEnd");
    return std::move(out.bytes());
}

bool ProjectWriter::write(const std::string& fileName, const Composition& composition,
                          const HarmonyOptions& options, std::string& error) {
    return writeFileAtomically(fileName, encode(composition, options), error);
}

}  // namespace varimel
