#include "alg/midi/midi_writer.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "alg/midi/midi_codes.h"

namespace varimel {

using namespace midi;

namespace {

// Data bytes keep their top bit clear: a set one would read back as a status byte and derail the
// rest of the track.
int dataByte(int value) {
    return value & 0x7F;
}

}  // namespace

MidiFileWriter::MidiFileWriter(const std::string& fileName)
    : MidiFileBuffer(fileName, kModeWrite) {}

MidiFileWriter::MidiFileWriter(std::FILE* handle) : MidiFileBuffer(handle, kModeWrite) {}

MidiFileWriter::MidiFileWriter(std::vector<std::uint8_t>* sink) : MidiFileBuffer(sink) {}

MidiFileWriter::~MidiFileWriter() {
    if (!closed_) closeFile();
}

int MidiFileWriter::close() {
    closed_ = true;
    return closeFile() ? 1 : 0;
}

void MidiFileWriter::violated(const char* condition) {
    throw std::logic_error(std::string("midi_rw: ") + condition);
}

void MidiFileWriter::requireChannel(int ch) {
    if (!(ch >= 0 && ch < 16)) violated("channel >= 0 && channel < 16");
}

// ---- bytes ----

void MidiFileWriter::putBytes(const std::uint8_t* data, std::int64_t length) {
    if (length > 0) store(data, length);
}

void MidiFileWriter::putByte(int byte) {
    const auto value = static_cast<std::uint8_t>(byte);
    store(&value, 1);
}

void MidiFileWriter::put16(std::uint32_t value) {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value)};
    store(bytes, 2);
}

void MidiFileWriter::put32(std::uint32_t value) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
        static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    store(bytes, 4);
}

void MidiFileWriter::putVarLen(std::uint32_t value) {
    value = std::min<std::uint32_t>(value, kMaxVarLen);
    std::uint8_t bytes[4];
    int count = 0;
    do {
        bytes[count++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    for (int i = count - 1; i >= 0; --i) putByte(i > 0 ? (bytes[i] | 0x80) : bytes[i]);
}

void MidiFileWriter::writeDelta(long delta) {
    if (delta < 0) violated("delta >= 0");
    // The same limits at which the reader stops: 2^24 ticks, or an hour at the current tempo.
    const long msPerTick = tempo_ / (static_cast<long>(unitsPerBeat_) * 1000);
    if (delta >= kLargePauseTicks || (delta / 1000) * msPerTick >= kLargePauseSeconds) {
        warning("generating unrealistic large pause");
    }
    putVarLen(static_cast<std::uint32_t>(std::min(delta, kMaxVarLen)));
}

// ---- chunks ----

void MidiFileWriter::beginFile(int format, int trackCount, int unitsPerBeat) {
    if (!(unitsPerBeat != 0)) violated("unitsperbeat_ != 0");
    if (unitsPerBeat < 0 || unitsPerBeat > 0xFFFF) violated("unitsperbeat_ <= 0xffff");
    unitsPerBeat_ = unitsPerBeat;
    put32(kHeaderChunkId);
    put32(6);
    put16(static_cast<std::uint32_t>(format) & 0xFFFF);
    put16(static_cast<std::uint32_t>(trackCount) & 0xFFFF);
    put16(static_cast<std::uint32_t>(unitsPerBeat));
}

void MidiFileWriter::beginTrack(int channel) {
    if (!(channel >= -1 && channel <= 15)) violated("channel >= -1 && channel <= 15");
    trackChannel_ = channel;
    trackStart_ = filePosition_;
    put32(kTrackChunkId);
    put32(0);  // patched by endTrack
}

void MidiFileWriter::endTrack(long delta) {
    // Without an open chunk the patch would land on whatever lies at offset 4.
    if (trackStart_ < 0) violated("beginTrack before endTrack");
    writeDelta(delta);
    putByte(kMeta);
    putByte(kMetaEndOfTrack);
    putByte(0);
    const std::int64_t end = filePosition_;
    filePosition_ = trackStart_ + 4;
    put32(static_cast<std::uint32_t>(end - trackStart_ - 8));
    filePosition_ = end;
    trackStart_ = -1;
    trackChannel_ = -1;
}

void MidiFileWriter::seek(std::int64_t pos) {
    if (!(pos >= 0 && pos <= midiLength())) violated("pos >= 0 && pos <= midilength()");
    filePosition_ = pos;
}

// ---- meta events ----

void MidiFileWriter::metaEvent(long delta, int type, const std::uint8_t* data,
                               std::int64_t length) {
    length = std::clamp<std::int64_t>(length, 0, kMaxVarLen);
    writeDelta(delta);
    putByte(kMeta);
    putByte(type & 0x7F);
    putVarLen(static_cast<std::uint32_t>(length));
    putBytes(data, length);
}

void MidiFileWriter::setTempo(long delta, long microsecondsPerBeat) {
    if (!(microsecondsPerBeat > 0)) violated("msperbeat > 0");
    // The file holds the tempo in three bytes.
    if (microsecondsPerBeat > 0xFFFFFF) violated("msperbeat <= 0xffffff");
    const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(microsecondsPerBeat >> 16),
                                   static_cast<std::uint8_t>(microsecondsPerBeat >> 8),
                                   static_cast<std::uint8_t>(microsecondsPerBeat)};
    metaEvent(delta, kMetaTempo, bytes, 3);
    tempo_ = microsecondsPerBeat;  // the pause before this event still ran at the old tempo
}

void MidiFileWriter::timeSignature(long delta, int numerator, int denominator, int clocksPerClick,
                                   int thirtySecondsPerQuarter) {
    int log2denom = 0;
    while (log2denom < 30 && (1 << log2denom) < denominator) ++log2denom;
    const int denom = denominator;
    if (!((1 << log2denom) == denom)) violated("(1 << log2denom) == denom");
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(numerator),
                                   static_cast<std::uint8_t>(log2denom),
                                   static_cast<std::uint8_t>(clocksPerClick),
                                   static_cast<std::uint8_t>(thirtySecondsPerQuarter)};
    metaEvent(delta, kMetaTimeSignature, bytes, 4);
}

void MidiFileWriter::keySignature(long delta, int sharpsFlats, int minor) {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(static_cast<std::int8_t>(sharpsFlats)),
                                   static_cast<std::uint8_t>(minor)};
    metaEvent(delta, kMetaKeySignature, bytes, 2);
}

void MidiFileWriter::smpteOffset(long delta, int frameRateCode, int hours, int minutes, int seconds,
                                 int frames, int subframes) {
    const std::uint8_t bytes[5] = {
        static_cast<std::uint8_t>((frameRateCode << 5) | (hours & 0x1F)),
        static_cast<std::uint8_t>(minutes), static_cast<std::uint8_t>(seconds),
        static_cast<std::uint8_t>(frames), static_cast<std::uint8_t>(subframes)};
    metaEvent(delta, kMetaSmpteOffset, bytes, 5);
}

void MidiFileWriter::textEvent(long delta, int type, std::string_view text) {
    metaEvent(delta, type, reinterpret_cast<const std::uint8_t*>(text.data()),
              static_cast<std::int64_t>(text.size()));
}

void MidiFileWriter::sysex(long delta, const std::uint8_t* data, std::int64_t length) {
    length = std::clamp<std::int64_t>(length, 0, kMaxVarLen);
    writeDelta(delta);
    putByte(kSysex);
    putVarLen(static_cast<std::uint32_t>(length));
    putBytes(data, length);
}

void MidiFileWriter::rawEvent(long delta, int code, const std::uint8_t* data, std::int64_t length) {
    if (!(code >= 0x80)) violated("code >= 0x80");
    if (code > 0xFF) violated("code <= 0xff");
    writeDelta(delta);
    putByte(code);
    putBytes(data, length);
}

// ---- channel messages ----

void MidiFileWriter::channelMessage(long delta, int kind, int ch, int first, int second,
                                    int count) {
    requireChannel(ch);
    writeDelta(delta);
    putByte(kind | ch);
    putByte(dataByte(first));
    if (count == 2) putByte(dataByte(second));
}

void MidiFileWriter::noteOff(long delta, int ch, int key, int velocity) {
    channelMessage(delta, kNoteOff, ch, key, velocity, 2);
}

void MidiFileWriter::noteOn(long delta, int ch, int key, int velocity) {
    channelMessage(delta, kNoteOn, ch, key, velocity, 2);
}

void MidiFileWriter::polyPressure(long delta, int ch, int key, int pressure) {
    channelMessage(delta, kPolyPressure, ch, key, pressure, 2);
}

void MidiFileWriter::controller(long delta, int ch, int number, int value) {
    channelMessage(delta, kControlChange, ch, number, value, 2);
}

void MidiFileWriter::programChange(long delta, int ch, int program) {
    channelMessage(delta, kProgramChange, ch, program, 0, 1);
}

void MidiFileWriter::channelPressure(long delta, int ch, int pressure) {
    channelMessage(delta, kChannelPressure, ch, pressure, 0, 1);
}

void MidiFileWriter::pitchBend(long delta, int ch, int value) {
    value = std::clamp(value, 0, 0x3FFF);
    channelMessage(delta, kPitchBend, ch, value & 0x7F, value >> 7, 2);
}

}  // namespace varimel
