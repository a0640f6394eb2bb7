#include "alg/midi/midi_rw.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>
#include <new>
#include <string_view>

namespace varimel {

using namespace midi;

namespace {

// In window mode only the first kilobyte is searched for a wrapped header.
constexpr std::int64_t kWindowHeaderSearch = 1024;
// A time-signature exponent beyond this would not fit an int as 1 << exponent.
constexpr int kMaxDenominatorExponent = 30;
// Eight bytes that follow an RPN MSB of 0 when a file sets the pitch-bend range:
// delta 0, Bn 100 0 (RPN LSB 0), delta 0, Bn 6 v (data entry).
constexpr int kPitchBendRangeTail = 8;
// A track chunk may claim a few bytes more than the file holds when a writer miscounted; fewer
// than a whole event (delta and end-of-track: 4 bytes) cannot hide anything, so it is read.
constexpr std::int64_t kTrackShortfallAllowed = 3;

constexpr std::array<const char*, 7> kTextTypeNames = {
    "text", "copyright", "trackname", "instrument", "lyric", "marker", "cuepoint"};

struct SysexPattern {
    std::array<std::uint8_t, 10> bytes;
    std::size_t size;
    void (MidiFileReader::*callback)();
};

// The bytes after 0xF0; the second byte (device number) is compared on its high nibble only.
// Sources: General MIDI System On, Roland GS Reset and GS exit, Yamaha XG System On.
const std::array<SysexPattern, 4> kSysexPatterns = {{
    {{0x7E, 0x7F, 0x09, 0x01, 0xF7}, 5, &MidiFileReader::onGmSystemOn},
    {{0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, 10, &MidiFileReader::onGsReset},
    {{0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x7F, 0x42, 0xF7}, 10, &MidiFileReader::onGsExit},
    {{0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}, 8, &MidiFileReader::onXgSystemOn},
}};

bool matches(const SysexPattern& pattern, const std::uint8_t* data, std::int64_t length) {
    if (length != static_cast<std::int64_t>(pattern.size)) return false;
    for (std::size_t i = 0; i < pattern.size; ++i) {
        const bool same =
            i == 1 ? (data[i] & 0xF0) == (pattern.bytes[i] & 0xF0) : data[i] == pattern.bytes[i];
        if (!same) return false;
    }
    return true;
}

bool isChannelStatus(int status) {
    return status >= 0x80 && status < 0xF0;
}

int dataBytesOf(int status) {
    const int kind = status & 0xF0;
    return kind == kProgramChange || kind == kChannelPressure ? 1 : 2;
}

// Data bytes of a system common or real-time message; -1 for the undefined ones.
int systemDataBytes(int status) {
    switch (status) {
        case kSongPosition:
            return 2;
        case kSongSelect:
            return 1;
        case kTuneRequest:
        case kClock:
        case kStart:
        case kContinue:
        case kStop:
        case kActiveSensing:
            return 0;
        default:
            return -1;
    }
}

// The rules of the file format let a reader skip chunks of types it does not know; their type is
// four ASCII characters. Anything else where a chunk should start is not a chunk.
bool isChunkId(std::uint32_t id) {
    for (int shift = 0; shift < 32; shift += 8) {
        const std::uint32_t c = (id >> shift) & 0xFF;
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

// A reader opened in write mode would truncate the file it is meant to read.
int readMode(int mode) {
    return mode == MidiFileBuffer::kModeWholeFile ? mode : MidiFileBuffer::kModeWindow;
}

}  // namespace

MidiFileReader::MidiFileReader(const std::string& fileName, int mode)
    : MidiFileBuffer(fileName, readMode(mode)) {}

MidiFileReader::MidiFileReader(std::FILE* handle, int mode)
    : MidiFileBuffer(handle, readMode(mode)) {}

MidiFileReader::MidiFileReader(std::vector<std::uint8_t> bytes)
    : MidiFileBuffer(std::move(bytes)) {}

// ---- primitive reads ----

const std::uint8_t* MidiFileReader::readBytesOrFail(std::int64_t n) {
    if (fatal_ || n < 0) return nullptr;
    if (const std::uint8_t* bytes = fetch(filePosition_, n)) {
        filePosition_ += n;
        return bytes;
    }
    if (bufferSize() <= 0) {
        fail("out of memory");
    } else if (n > bufferSize()) {
        warning("midi event larger than internal bufsize ignored");
    } else {
        fail("unexpected end of file");
    }
    return nullptr;
}

std::uint32_t MidiFileReader::read16() {
    const std::uint8_t* b = readBytes(2);
    return b != nullptr ? (std::uint32_t{b[0]} << 8) | b[1] : 0;
}

std::uint32_t MidiFileReader::read24() {
    const std::uint8_t* b = readBytes(3);
    return b != nullptr ? (std::uint32_t{b[0]} << 16) | (std::uint32_t{b[1]} << 8) | b[2] : 0;
}

std::uint32_t MidiFileReader::read32() {
    const std::uint8_t* b = readBytes(4);
    if (b == nullptr) return 0;
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) |
           b[3];
}

long MidiFileReader::readVarLenByBytes() {
    long value = 0;
    varLenSize_ = 0;
    for (int i = 0; i < 4; ++i) {
        const int byte = readByte();
        if (byte < 0) return 0;
        ++varLenSize_;
        value = (value << 7) | (byte & 0x7F);
        if ((byte & 0x80) == 0) break;
    }
    return value;
}

bool MidiFileReader::skip(std::int64_t n) {
    if (fatal_) return false;
    if (n < 0 || filePosition_ + n > fileSize()) {
        fail("unexpected end of file");
        return false;
    }
    filePosition_ += n;
    return true;
}

void MidiFileReader::seek(std::int64_t pos) {
    if (pos >= 0) filePosition_ = pos;
}

const std::uint8_t* MidiFileReader::peek(int count) {
    return count >= 0 ? fetch(filePosition_, count) : nullptr;
}

void MidiFileReader::fail(const char* text) {
    error(text);
    fatal_ = true;
    stop_ = true;
}

void MidiFileReader::stopReading(bool asFailure) {
    stop_ = true;
    if (asFailure) fatal_ = true;
}

void MidiFileReader::reportProgress(std::int64_t percent) {
    if (!reportsProgress_) return;
    const int clamped = static_cast<int>(std::clamp<std::int64_t>(percent, 0, 100));
    if (clamped <= progress_) return;
    progress_ = clamped;
    onProgress(clamped);
}

void MidiFileReader::resetClock() {
    elapsedMs_ = 0;
    remainder_ = 0;
}

// ---- header and tracks ----

std::int64_t MidiFileReader::findHeader() {
    const std::int64_t size = fileSize();
    if (size < 4) return -1;
    const std::int64_t span =
        mode() == kModeWholeFile ? size : std::min({size, bufferSize(), kWindowHeaderSearch + 3});
    const std::uint8_t* bytes = fetch(0, span);
    if (bytes == nullptr) return -1;
    const std::string_view view(reinterpret_cast<const char*>(bytes),
                                static_cast<std::size_t>(span));
    const std::size_t at = view.find("MThd");
    return at == std::string_view::npos ? -1 : static_cast<std::int64_t>(at);
}

int MidiFileReader::readHeader() {
    fatal_ = false;
    if (!isOpen()) return 0;
    const std::int64_t start = findHeader();
    if (start < 0) {
        fail("missing midi header MThd");
        return 0;
    }
    seek(start);
    if (read32() != kHeaderChunkId) {
        if (!fatal_) fail("missing midi header MThd");
        return 0;
    }
    const std::uint32_t length = read32();
    if (fatal_) return 0;
    if (length < 6) {
        fail("illegal midi header");
        return 0;
    }
    const std::uint32_t format = read16();
    if (fatal_) return 0;
    if (format > 2) {
        fail("invalid midi version");
        return 0;
    }
    const std::uint32_t tracks = read16();
    const std::uint32_t division = read16();
    if (fatal_) return 0;
    format_ = static_cast<int>(format);
    trackCount_ = static_cast<int>(tracks);
    division_ = static_cast<int>(division);
    divisor_ = std::int64_t{division_} * 1000;
    tempo_ = kDefaultTempo;
    resetClock();
    if (format_ == 0 && trackCount_ > 1) warning("wrong midi type");
    onHeader(format_, trackCount_, division_);
    seek(start + 8 + std::int64_t{length});
    return fatal_ ? 0 : 1;
}

bool MidiFileReader::peekVarLen(std::int64_t* pos, long* value) {
    *value = 0;
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t* byte = fetch((*pos)++, 1);
        if (byte == nullptr) return false;
        *value = (*value << 7) | (*byte & 0x7F);
        if ((*byte & 0x80) == 0) break;
    }
    return true;
}

int MidiFileReader::scanTrackChannel(std::int64_t begin, std::int64_t end) {
    int channel = -1;
    int running = -1;
    std::int64_t pos = begin;
    long value = 0;
    while (pos < end) {
        if (!peekVarLen(&pos, &value)) break;  // the delta
        const std::uint8_t* next = fetch(pos, 1);
        if (next == nullptr) break;
        int status = *next;
        if (status < 0x80) {
            if (running < 0) break;
            status = running;
        } else {
            ++pos;
        }
        if (status == kMeta) {
            const std::uint8_t* type = fetch(pos++, 1);
            if (type == nullptr || *type == kMetaEndOfTrack || !peekVarLen(&pos, &value)) break;
            pos += value;
        } else if (status == kSysex || status == kSysexEscape) {
            if (!peekVarLen(&pos, &value)) break;
            pos += value;
        } else if (isChannelStatus(status)) {
            running = status;
            const int ch = status & 0x0F;
            if (channel == -1) {
                channel = ch;
            } else if (channel != ch) {
                return -2;
            }
            pos += dataBytesOf(status);
        } else if (systemDataBytes(status) >= 0) {
            pos += systemDataBytes(status);
        } else {
            break;  // a byte the reader will refuse
        }
    }
    return channel;
}

bool MidiFileReader::findTrackChunk(int trackNumber) {
    for (bool skipped = false;; skipped = true) {
        chunkStart_ = filePosition_;
        if (skipped && filePosition_ >= fileSize()) {
            fail("missing midi track MTrk");
            return false;
        }
        const std::uint32_t id = read32();
        if (fatal_) return false;
        if (id != kTrackChunkId && !isChunkId(id)) {
            fail("missing midi track MTrk");
            return false;
        }
        const std::int64_t length = read32();
        if (fatal_) return false;
        const std::int64_t beyond = filePosition_ + length - fileSize();
        if (id == kTrackChunkId) {
            chunkLength_ = length;
            if (beyond <= kTrackShortfallAllowed) return true;
            char text[96];
            std::snprintf(text, sizeof text, "track %d runs %lld bytes past the end of the file",
                          trackNumber, static_cast<long long>(beyond));
            fail(text);
            return false;
        }
        // A chunk of another type; one that does not fit the file hides no track either.
        if (beyond > 0) {
            fail("missing midi track MTrk");
            return false;
        }
        seek(filePosition_ + length);
    }
}

int MidiFileReader::readTrack(int trackNumber) {
    if (fatal_) return 0;
    runningStatus_ = -1;
    currentTick_ = 0;
    resetClock();
    currentTrack_ = trackNumber;
    trackEnded_ = false;
    if (!findTrackChunk(trackNumber)) return 0;
    const std::int64_t dataStart = filePosition_;
    const std::int64_t end = dataStart + chunkLength_;
    const bool headersOnly = (options_[0] & kOptHeadersOnly) != 0;
    trackChannel_ = headersOnly ? -1 : scanTrackChannel(dataStart, end);
    onTrackStart(trackNumber, chunkLength_, trackChannel_);
    if (!headersOnly) {
        // What follows an end-of-track event inside the chunk is not music: it is skipped. A large
        // pause ends this track only; the next one is read from its start.
        while (!stop_ && !trackEnded_ && filePosition_ < end) {
            if (fileSize() > 0) reportProgress(filePosition_ * 100 / fileSize());
            const long delta = readVarLen();
            if (fatal_) return 0;
            if (delta >= kLargePauseTicks) {
                onLargePause(delta);
                break;
            }
            if (filePosition_ >= end) break;  // a trailing delta without its event
            onDeltaTime(delta);
            currentTick_ += delta;
            const bool inTime = advanceClock(delta);
            const std::int64_t before = filePosition_;
            if (readEvent(end) <= 0 || filePosition_ <= before) {
                stopReading(true);
                return 0;
            }
            if (!inTime) break;
        }
    }
    if (fatal_) return 0;
    flushSysexPackets(trackNumber);
    seek(end);
    onTrackEnd(trackNumber);
    return 1;
}

int MidiFileReader::run() {
    stop_ = false;
    progress_ = -1;
    if (!readHeader()) return 0;
    for (int track = 1; track <= trackCount_ && !stop_; ++track) {
        if (!readTrack(track)) return 0;
    }
    if (fatal_) return 0;
    return finish();
}

int MidiFileReader::initTracks() {
    return 0;
}

int MidiFileReader::nextEvent() {
    return 0;
}

int MidiFileReader::finish() {
    while (!sysexPackets_.empty()) flushSysexPackets(sysexPackets_.begin()->first);
    progress_ = 100;
    onProgress(100);
    onEndOfFile();
    return 1;
}

// ---- events ----

std::int64_t MidiFileReader::readEvent(std::int64_t trackEnd) {
    if (fatal_) return 0;
    eventStart_ = filePosition_;
    // A note, with its status byte or in running status, decoded from the bytes at hand: nearly
    // every event of a melody.
    if (const std::uint8_t* bytes = fetch(filePosition_, 3);
        bytes != nullptr && (options_[0] & kOptRawNotes) == 0) {
        const bool running = bytes[0] < 0x80;
        const int noteStatus = running ? runningStatus_ : bytes[0];
        if (noteStatus >= 0 && (noteStatus & 0xE0) == 0x80) {
            const std::uint8_t* data = running ? bytes : bytes + 1;
            filePosition_ += running ? 2 : 3;
            runningStatus_ = noteStatus;
            deliverNote(noteStatus, data[0], data[1]);
            return fatal_ ? 0 : filePosition_ - eventStart_;
        }
    }
    int status = 0;
    const std::uint8_t* next = fetch(filePosition_, 1);
    if (next != nullptr && *next < 0x80 && runningStatus_ >= 0) {
        status = runningStatus_;
    } else {
        status = readByte();
        if (status < 0) return 0;
    }
    if (status < 0x80) {
        char text[64];
        std::snprintf(text, sizeof text, "illegal midi command %02X", status);
        fail(text);
        return 0;
    }
    bool ok = false;
    if (status < 0xF0) {
        ok = readChannelMessage(status, trackEnd);
    } else if (status == kMeta) {
        ok = readMeta(trackEnd);
    } else if (status == kSysex || status == kSysexEscape) {
        ok = readSysex(status, trackEnd);
    } else {
        ok = readSystemMessage(status);
    }
    if (!ok || fatal_) return 0;
    return filePosition_ - eventStart_;
}

bool MidiFileReader::largeEventFits(std::int64_t end) {
    if (end <= fileSize()) return true;
    fail("unexpected end of file");
    return false;
}

bool MidiFileReader::deliverRaw(int status, std::int64_t from, std::int64_t to) {
    const std::int64_t length = to - from;
    if (length > bufferSize()) {
        if (!largeEventFits(to)) return false;
        onRawLargeEvent(status, FileRegion{file(), from, length});
        return true;
    }
    const std::uint8_t* data = fetch(from, length);
    if (data == nullptr) {
        fail("unexpected end of file");
        return false;
    }
    onRawEvent(status, static_cast<int>(length), data);
    return true;
}

void MidiFileReader::endOfTrackSeen(std::int64_t eventEnd, std::int64_t trackEnd) {
    trackEnded_ = true;
    if (eventEnd >= trackEnd) return;
    char text[96];
    std::snprintf(text, sizeof text, "%ld bytes garbage at end of track %d",
                  static_cast<long>(trackEnd - eventEnd), currentTrack_);
    warning(text);
}

bool MidiFileReader::readMeta(std::int64_t trackEnd) {
    const int type = readByte();
    if (type < 0) return false;
    const long length = readVarLen();
    if (fatal_) return false;
    const std::int64_t dataStart = filePosition_;
    const std::int64_t after = dataStart + length;
    const bool rawAll = (options_[1] & kOpt2RawSystem) != 0;
    const bool rawMeta = (options_[0] & kOptRawMeta) != 0 && type != kMetaEndOfTrack;
    if (rawAll) {
        if (!deliverRaw(kMeta, eventStart_ + 1, after)) return false;
        // The clock follows the tempo whether or not the event is decoded for the sink.
        if (type == kMetaTempo && length >= 3) {
            if (const std::uint8_t* d = fetch(dataStart, 3))
                tempo_ = (d[0] << 16) | (d[1] << 8) | d[2];
        }
        if (type == kMetaEndOfTrack) endOfTrackSeen(after, trackEnd);
    } else if (length > bufferSize()) {
        if (!largeEventFits(after)) return false;
        onLargeMetaEvent(type, FileRegion{file(), dataStart, length});
    } else {
        const std::uint8_t* data = readBytes(length);
        if (data == nullptr) return false;
        if (type == kMetaEndOfTrack) {
            endOfTrackSeen(after, trackEnd);
            onEndOfTrack();
        } else if (rawMeta) {
            if (type == kMetaTempo && length >= 3)
                tempo_ = (data[0] << 16) | (data[1] << 8) | data[2];
            onMetaEvent(type, static_cast<int>(length), data);
        } else {
            decodeMeta(type, static_cast<int>(length), data);
        }
    }
    seek(after);
    return true;
}

void MidiFileReader::decodeMeta(int type, int length, const std::uint8_t* d) {
    if (type == kMetaSequenceNumber && length == 2) {
        onSequenceNumber((d[0] << 8) | d[1]);
    } else if (type >= kMetaTextFirst && type <= kMetaTextLast) {
        const auto index = static_cast<std::size_t>(type - kMetaTextFirst);
        onTextEvent(type, length, index < kTextTypeNames.size() ? kTextTypeNames[index] : nullptr,
                    d);
    } else if (type == kMetaChannelPrefix && length == 1) {
        onChannelPrefix(d[0]);
    } else if (type == kMetaPort && length == 1) {
        onPort(d[0]);
    } else if (type == kMetaTempo && length >= 3) {
        // A shorter tempo event would take its value from the bytes of the next event.
        tempo_ = (d[0] << 16) | (d[1] << 8) | d[2];
        onTempo(tempo_);
    } else if (type == kMetaSmpteOffset && length == 5) {
        onSmpteOffset(d[0] >> 5, d[0] & 0x1F, d[1], d[2], d[3], d[4]);
    } else if (type == kMetaTimeSignature && length == 4 && d[1] <= kMaxDenominatorExponent) {
        onTimeSignature(d[0], 1 << d[1], d[2], d[3]);
    } else if (type == kMetaKeySignature && length == 2) {
        const int sharpsFlats = static_cast<std::int8_t>(d[0]);
        const int minor = d[1];
        if (sharpsFlats >= -7 && sharpsFlats <= 7 && (minor == 0 || minor == 1)) {
            onKeySignature(sharpsFlats, minor);
        } else {
            onMetaEvent(type, length, d);
        }
    } else {
        onMetaEvent(type, length, d);
    }
}

// In a file every sysex event carries its length: F0 len data starts a message (it is whole when
// its data end with F7), F7 len data either continues a message sent in packets or, with no
// message open, carries arbitrary bytes (an escape, such as a real-time message).
bool MidiFileReader::readSysex(int status, std::int64_t trackEnd) {
    const std::int64_t start = filePosition_;
    const long declared = readVarLen();
    if (fatal_) return false;
    const std::int64_t length = declared;
    const std::int64_t dataStart = filePosition_;
    const std::int64_t after = dataStart + length;
    if (after > trackEnd) {
        fail("end of sysex not found");
        return false;
    }
    if ((options_[1] & kOpt2RawSystem) != 0) {
        if (!deliverRaw(status, start, after)) return false;
        seek(after);
        return true;
    }
    const bool raw = (options_[0] & kOptRawSysex) != 0;
    // A new message ends an open one, which goes out as it stands (before the bytes of this one
    // are fetched, since a callback may move the window).
    if (status == kSysex && !raw) flushSysexPackets(currentTrack_);
    if (length > bufferSize()) {
        if (!largeEventFits(after)) return false;
        // A packet too large to join makes the message it belongs to one that cannot be had whole.
        sysexPackets_.erase(currentTrack_);
        onLargeSysex(FileRegion{file(), dataStart, length});
        seek(after);
        return true;
    }
    const std::uint8_t* data = readBytes(length);
    if (data == nullptr) return false;
    const bool closed = length > 0 && data[length - 1] == kSysexEscape;
    const auto open = sysexPackets_.find(currentTrack_);
    if (raw || (status == kSysexEscape && open == sysexPackets_.end())) {
        onSysex(static_cast<int>(length), data);
        return true;
    }
    if (status == kSysex && closed) {
        deliverSysex(data, length);
        return true;
    }
    try {
        std::vector<std::uint8_t>& joined =
            open != sysexPackets_.end() ? open->second : sysexPackets_[currentTrack_];
        joined.insert(joined.end(), data, data + length);
    } catch (const std::bad_alloc&) {
        fail("out of memory");
        return false;
    }
    if (closed) {
        const std::vector<std::uint8_t> whole = std::move(sysexPackets_[currentTrack_]);
        sysexPackets_.erase(currentTrack_);
        deliverSysex(whole.data(), static_cast<std::int64_t>(whole.size()));
    }
    return true;
}

void MidiFileReader::deliverSysex(const std::uint8_t* data, std::int64_t length) {
    for (const SysexPattern& pattern : kSysexPatterns) {
        if (matches(pattern, data, length)) {
            (this->*pattern.callback)();
            return;
        }
    }
    onSysex(static_cast<int>(length), data);
}

void MidiFileReader::flushSysexPackets(int trackNumber) {
    const auto open = sysexPackets_.find(trackNumber);
    if (open == sysexPackets_.end()) return;
    const std::vector<std::uint8_t> unfinished = std::move(open->second);
    sysexPackets_.erase(open);
    onSysex(static_cast<int>(unfinished.size()), unfinished.data());
}

bool MidiFileReader::readSystemMessage(int status) {
    const int count = systemDataBytes(status);
    if (count < 0) {
        char text[64];
        std::snprintf(text, sizeof text, "unexpected command byte %02X", status);
        fail(text);
        return false;
    }
    const std::uint8_t* data = readBytes(count);
    if (data == nullptr) return false;
    if ((options_[1] & kOpt2RawSystem) != 0) {
        onRawEvent(status, count, data);
        return true;
    }
    switch (status) {
        case kSongPosition:
            onSongPosition(data[0] + 128 * data[1]);
            break;
        case kSongSelect:
            onSongSelect(data[0]);
            break;
        case kTuneRequest:
            onTuneRequest();
            break;
        case kClock:
            onClock();
            break;
        case kStart:
            onStart();
            break;
        case kContinue:
            onContinue();
            break;
        case kStop:
            onStop();
            break;
        default:
            onActiveSensing();
            break;
    }
    return true;
}

inline bool MidiFileReader::readChannelMessage(int status, std::int64_t trackEnd) {
    runningStatus_ = status;
    const int kind = status & 0xF0;
    // Notes come first, decoded here: they are nearly every event of a melody.
    if ((kind == kNoteOn || kind == kNoteOff) && (options_[0] & kOptRawNotes) == 0) {
        const std::uint8_t* data = readBytes(2);
        if (data == nullptr) return false;
        deliverNote(status, data[0], data[1]);
        return true;
    }
    return readOtherChannelMessage(status, trackEnd);
}

inline void MidiFileReader::deliverNote(int status, int key, int velocity) {
    // Key and velocity arrive copied: a callback that peeks may move the window under the bytes.
    if (key >= 0x80) warning("invalid note value used");
    if (velocity >= 0x80) warning("invalid note velocity used");
    if ((status & 0xF0) == kNoteOn && velocity > 0) {
        onNoteOn(status & 0x0F, key, velocity);
    } else {
        onNoteOff(status & 0x0F, key, velocity);
    }
}

bool MidiFileReader::readOtherChannelMessage(int status, std::int64_t trackEnd) {
    const int kind = status & 0xF0;
    const int ch = status & 0x0F;
    const int count = dataBytesOf(status);
    const std::uint8_t* data = readBytes(count);
    if (data == nullptr) return false;
    // Copied: a callback that peeks may move the window under the pointer.
    const std::array<std::uint8_t, 2> bytes = {data[0], count == 2 ? data[1] : std::uint8_t{0}};
    const int a = bytes[0];
    const int b = bytes[1];
    const std::uint8_t first = options_[0];
    const std::uint8_t second = options_[1];
    switch (kind) {
        case kNoteOff:
        case kNoteOn:
            if (a >= 0x80) warning("invalid note value used");
            if (b >= 0x80) warning("invalid note velocity used");
            if ((first & kOptRawNotes) != 0) {
                onRawEvent(status, count, bytes.data());
            } else if (kind == kNoteOn && b > 0) {
                onNoteOn(ch, a, b);
            } else {
                onNoteOff(ch, a, b);
            }
            break;
        case kPolyPressure:
            if ((first & kOptRawPolyPressure) != 0) {
                onRawEvent(status, count, bytes.data());
            } else {
                onPolyPressure(ch, a, b);
            }
            break;
        case kControlChange:
            if (b >= 0x80) warning("invalid control value used");
            if ((first & kOptRawControllers) != 0) {
                onRawEvent(status, count, bytes.data());
            } else if ((first & kOptControllersUndivided) != 0) {
                onController(ch, a, b);
            } else {
                dispatchController(status, a, b, trackEnd);
            }
            break;
        case kProgramChange:
            if (a >= 0x80) warning("invalid program used");
            if ((first & kOptRawPrograms) != 0) {
                onRawEvent(status, count, bytes.data());
            } else {
                onProgramChange(ch, a);
            }
            break;
        case kChannelPressure:
            if ((second & kOpt2RawChannelPressure) != 0) {
                onRawEvent(status, count, bytes.data());
            } else {
                onChannelPressure(ch, a);
            }
            break;
        default:  // pitch bend
            if ((second & kOpt2RawPitchBend) != 0) {
                onRawEvent(status, count, bytes.data());
            } else {
                onPitchBend(ch, a + 128 * b);
            }
            break;
    }
    return true;
}

bool MidiFileReader::matchPitchBendRange(int status, std::int64_t trackEnd, int* semitones) {
    if (filePosition_ + kPitchBendRangeTail > trackEnd) return false;
    const std::uint8_t* t = peek(kPitchBendRangeTail);
    if (t == nullptr) return false;
    const bool found = t[0] == 0 && t[1] == status && t[2] == kCcRpnLsb && t[3] == 0 && t[4] == 0 &&
                       t[5] == status && t[6] == kCcDataEntry && t[7] < 0x80;
    if (!found) return false;
    *semitones = t[7];
    filePosition_ += kPitchBendRangeTail;
    return true;
}

void MidiFileReader::dispatchController(int status, int number, int value, std::int64_t trackEnd) {
    const int ch = status & 0x0F;
    switch (number) {
        case kCcBankSelectMsb:
            onBankSelectMsb(ch, value);
            break;
        case kCcModulation:
            onModulation(ch, value);
            break;
        case kCcBreath:
            onBreath(ch, value);
            break;
        case kCcFootController:
            onFootController(ch, value);
            break;
        case kCcPortamentoTime:
            onPortamentoTime(ch, value);
            break;
        case kCcDataEntry:
            onDataEntry(ch, value);
            break;
        case kCcVolume:
            onVolume(ch, value);
            break;
        case kCcPan:
            onPan(ch, value);
            break;
        case kCc11:
            onCc11(ch, value);
            break;
        case kCcBankSelectLsb:
            onBankSelectLsb(ch, value);
            break;
        case kCcSustain:
            onSustain(ch, value);
            break;
        case kCcReverbDepth:
            onReverbDepth(ch, value);
            break;
        case kCcChorusDepth:
            onChorusDepth(ch, value);
            break;
        case kCcDataIncrement:
            onDataIncrement(ch, value);
            break;
        case kCcDataDecrement:
            onDataDecrement(ch, value);
            break;
        case kCcRpnLsb:
            onRpnLsb(ch, value);
            break;
        case kCcRpnMsb: {
            // Only RPN 0 (MSB 0, LSB 0) is the pitch-bend range.
            int semitones = 0;
            if (value == 0 && matchPitchBendRange(status, trackEnd, &semitones)) {
                onPitchBendRange(ch, semitones);
            } else {
                onRpnMsb(ch, value);
            }
            break;
        }
        default:
            onController(ch, number, value);
            break;
    }
}

// ---- default callbacks ----

void MidiFileReader::onHeader(int, int, int) {}
void MidiFileReader::onTrackStart(int, std::int64_t, int) {}
void MidiFileReader::onTrackEnd(int) {}
void MidiFileReader::onDeltaTime(long) {}
void MidiFileReader::onRawEvent(int, int, const std::uint8_t*) {}
void MidiFileReader::onRawLargeEvent(int, const FileRegion&) {}
void MidiFileReader::onMetaEvent(int, int, const std::uint8_t*) {}
void MidiFileReader::onLargeMetaEvent(int, const FileRegion&) {}
void MidiFileReader::onTextEvent(int, int, const char*, const std::uint8_t*) {}
void MidiFileReader::onEndOfTrack() {}
void MidiFileReader::onChannelPrefix(int) {}
void MidiFileReader::onPort(int) {}
void MidiFileReader::onSequenceNumber(int) {}
void MidiFileReader::onSmpteOffset(int, int, int, int, int, int) {}
void MidiFileReader::onTimeSignature(int, int, int, int) {}
void MidiFileReader::onTempo(long) {}
void MidiFileReader::onKeySignature(int, int) {}
void MidiFileReader::onProgramChange(int, int) {}
void MidiFileReader::onController(int, int, int) {}
void MidiFileReader::onBankSelectMsb(int ch, int value) {
    onController(ch, kCcBankSelectMsb, value);
}
void MidiFileReader::onModulation(int ch, int value) {
    onController(ch, kCcModulation, value);
}
void MidiFileReader::onBreath(int ch, int value) {
    onController(ch, kCcBreath, value);
}
void MidiFileReader::onFootController(int ch, int value) {
    onController(ch, kCcFootController, value);
}
void MidiFileReader::onPortamentoTime(int ch, int value) {
    onController(ch, kCcPortamentoTime, value);
}
void MidiFileReader::onDataEntry(int ch, int value) {
    onController(ch, kCcDataEntry, value);
}
void MidiFileReader::onVolume(int ch, int value) {
    onController(ch, kCcVolume, value);
}
void MidiFileReader::onPan(int ch, int value) {
    onController(ch, kCcPan, value);
}
void MidiFileReader::onCc11(int ch, int value) {
    onController(ch, kCc11, value);
}
void MidiFileReader::onBankSelectLsb(int ch, int value) {
    onController(ch, kCcBankSelectLsb, value);
}
void MidiFileReader::onSustain(int ch, int value) {
    onController(ch, kCcSustain, value);
}
void MidiFileReader::onReverbDepth(int ch, int value) {
    onController(ch, kCcReverbDepth, value);
}
void MidiFileReader::onChorusDepth(int ch, int value) {
    onController(ch, kCcChorusDepth, value);
}
void MidiFileReader::onDataIncrement(int ch, int value) {
    onController(ch, kCcDataIncrement, value);
}
void MidiFileReader::onDataDecrement(int ch, int value) {
    onController(ch, kCcDataDecrement, value);
}
void MidiFileReader::onRpnLsb(int ch, int value) {
    onController(ch, kCcRpnLsb, value);
}
void MidiFileReader::onRpnMsb(int ch, int value) {
    onController(ch, kCcRpnMsb, value);
}

void MidiFileReader::onPitchBendRange(int ch, int semitones) {
    onRpnMsb(ch, 0);
    onDeltaTime(0);
    onRpnLsb(ch, 0);
    onDeltaTime(0);
    onDataEntry(ch, semitones);
}

void MidiFileReader::onNoteOn(int, int, int) {}
void MidiFileReader::onNoteOff(int, int, int) {}
void MidiFileReader::onPitchBend(int, int) {}
void MidiFileReader::onPolyPressure(int, int, int) {}
void MidiFileReader::onChannelPressure(int, int) {}
void MidiFileReader::onSongPosition(int) {}
void MidiFileReader::onSongSelect(int) {}
void MidiFileReader::onTuneRequest() {}
void MidiFileReader::onClock() {}
void MidiFileReader::onStart() {}
void MidiFileReader::onContinue() {}
void MidiFileReader::onStop() {}
void MidiFileReader::onActiveSensing() {}
void MidiFileReader::onSysex(int, const std::uint8_t*) {}
void MidiFileReader::onLargeSysex(const FileRegion&) {}
void MidiFileReader::onXgSystemOn() {}
void MidiFileReader::onGmSystemOn() {}
void MidiFileReader::onGsReset() {}
void MidiFileReader::onGsExit() {}
void MidiFileReader::onEndOfFile() {}
void MidiFileReader::onLargePause(long) {
    warning("Unrealistic large pause found");
}
void MidiFileReader::onProgress(int) {}

// ---- merged reading ----

MergedMidiReader::MergedMidiReader(const std::string& fileName, int mode)
    : MidiFileReader(fileName, mode) {
    allocateTracks();
}

MergedMidiReader::MergedMidiReader(std::FILE* handle, int mode) : MidiFileReader(handle, mode) {
    allocateTracks();
}

MergedMidiReader::MergedMidiReader(std::vector<std::uint8_t> bytes)
    : MidiFileReader(std::move(bytes)) {
    allocateTracks();
}

void MergedMidiReader::allocateTracks() {
    if (MidiFileReader::readHeader() == 0) {
        trackCount_ = 0;
        return;
    }
    try {
        tracks_.assign(static_cast<std::size_t>(trackCount_), TrackCursor{});
    } catch (const std::bad_alloc&) {
        tracks_.clear();
        trackCount_ = 0;
        return;
    }
    tracksReady_ = true;
}

int MergedMidiReader::initTracks() {
    if (!tracksReady_) return 0;
    stop_ = false;
    seek(0);
    if (readHeader() == 0) return 0;
    const std::size_t count = tracks_.size();
    if (static_cast<std::size_t>(trackCount_) != count) {
        stopReading(true);
        return 0;
    }
    std::fill(tracks_.begin(), tracks_.end(), TrackCursor{});
    longestTrack_ = -1;
    longestLength_ = 0;

    const auto savedOptions = options_;
    options_[0] |= kOptHeadersOnly;
    bool ok = true;
    for (std::size_t i = 0; i < count && ok; ++i) {
        if (readTrack(static_cast<int>(i) + 1) == 0) {
            ok = false;
            break;
        }
        TrackCursor& track = tracks_[i];
        const std::int64_t dataStart = chunkStart_ + 8;
        const std::int64_t chunkEnd = dataStart + chunkLength_;
        track.end = chunkEnd;
        if (longestTrack_ < 0 || chunkLength_ > longestLength_) {
            longestTrack_ = static_cast<int>(i);
            longestLength_ = chunkLength_;
        }
        if (chunkLength_ == 0) {
            track.finished = true;
            continue;
        }
        seek(dataStart);
        const long delta = readVarLen();
        if (fatal_) {
            ok = false;
            break;
        }
        track.tick = delta;
        track.position = position();
        if (position() >= chunkEnd) track.finished = true;
        if (delta >= kLargePauseTicks) {
            onLargePause(delta);
            track.finished = true;
        }
        seek(chunkEnd);
    }
    options_ = savedOptions;
    trackQueue_.clear();
    if (!ok) return 0;
    if (format() == 2) {
        queueNextSequence(0, 0);
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            if (!tracks_[i].finished) queueTrack(i);
        }
    }
    progress_ = 0;
    progressDue_ = 0;
    currentTick_ = 0;
    runningStatus_ = -1;
    resetClock();
    return 1;
}

void MergedMidiReader::reportTrackProgress(const TrackCursor& track) {
    const std::int64_t dataStart = track.end - longestLength_;
    const std::int64_t consumed = position() - dataStart;
    // The percentage is counted up to the position instead of divided out: it grows a step at a
    // time, and each step is due at ceil(step x length / 100) bytes.
    int percent = progress_;
    while (percent < 100 && consumed >= ((percent + 1) * longestLength_ + 99) / 100) ++percent;
    reportProgress(percent);
    // Before this position the percentage cannot pass the one just reported.
    progressDue_ = progress_ >= 100 ? std::numeric_limits<std::int64_t>::max()
                                    : dataStart + ((progress_ + 1) * longestLength_ + 99) / 100;
}

int MergedMidiReader::nextEvent() {
    if (trackQueue_.empty()) return 0;
    const std::int64_t tick = trackQueue_.front().first;
    // Never more than one track's delta, so it fits a long.
    const long delta = static_cast<long>(tick - currentTick_);
    onDeltaTime(delta);
    // A pause of an hour in the merged time ends the piece: everything before it is read.
    if (!advanceClock(delta)) stop_ = true;
    currentTick_ = tick;

    // The queue hands out the tracks of this tick in track order: the lowest track wins a tie.
    while (!trackQueue_.empty() && trackQueue_.front().first == tick) {
        // The track stays on top of the queue while its events at this tick are read.
        const std::size_t i = trackQueue_.front().second;
        TrackCursor& track = tracks_[i];
        // Leaving in the middle: the track is off the queue, as when it is done.
        auto leave = [this](int result) {
            std::pop_heap(trackQueue_.begin(), trackQueue_.end(), std::greater<>{});
            trackQueue_.pop_back();
            return result;
        };
        const bool longest =
            static_cast<int>(i) == longestTrack_ && longestLength_ > 0 && reportsProgress_;
        currentTrack_ = static_cast<int>(i) + 1;
        runningStatus_ = track.savedStatus;
        seek(track.position);
        // The track's events at this tick, one after the other from where it stands.
        while (!track.finished && track.tick == tick) {
            if (longest && position() >= progressDue_) reportTrackProgress(track);
            currentTick_ = tick;
            trackEnded_ = false;
            const std::int64_t before = position();
            if (readEvent(track.end) <= 0 || position() <= before) {
                stopReading(true);
                return leave(0);
            }
            if (stop_ || trackEnded_ || position() >= track.end) {
                track.finished = true;
            } else {
                track.savedStatus = runningStatus_;
                const long next = readVarLen();
                if (fatal_) return leave(0);
                track.tick += next;
                track.position = position();
                if (position() >= track.end) track.finished = true;
                // Ends this track only, as the sequential reader does: the other tracks are
                // read to their ends.
                if (next >= kLargePauseTicks) {
                    onLargePause(next);
                    track.finished = true;
                }
            }
            if (stop_) return leave(1);
        }
        if (!track.finished && trackQueue_.size() == 1) {
            trackQueue_.front().first = track.tick;  // alone: nothing to reorder
        } else {
            std::pop_heap(trackQueue_.begin(), trackQueue_.end(), std::greater<>{});
            trackQueue_.pop_back();
            if (!track.finished) queueTrack(i);
        }
        if (track.finished) {
            flushSysexPackets(currentTrack_);
            if (format() == 2) queueNextSequence(i + 1, tick);
        }
    }
    return 1;
}

void MergedMidiReader::queueNextSequence(std::size_t track, std::int64_t tick) {
    for (std::size_t j = track; j < tracks_.size(); ++j) {
        if (tracks_[j].finished) continue;
        tracks_[j].tick += tick;
        queueTrack(j);
        return;
    }
}

void MergedMidiReader::queueTrack(std::size_t track) {
    trackQueue_.emplace_back(tracks_[track].tick, track);
    std::push_heap(trackQueue_.begin(), trackQueue_.end(), std::greater<>{});
}

int MergedMidiReader::run() {
    if (initTracks() == 0) return 0;
    while (!stop_ && nextEvent() != 0) {
    }
    if (fatal_) return 0;
    return finish();
}

}  // namespace varimel
