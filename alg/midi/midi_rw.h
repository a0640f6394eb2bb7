// MidiFileReader and MergedMidiReader: decode a Standard MIDI File (format 0, 1 or 2) and report
// every item through a table of virtual callbacks, track by track or merged in time order.
// A sink derives from one of them and overrides only the callbacks it cares about.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "alg/midi/midi_buffer.h"
#include "alg/midi/midi_codes.h"

namespace varimel {

class MidiFileReader : public MidiFileBuffer {
  public:
    MidiFileReader(const std::string& fileName, int mode);
    MidiFileReader(std::FILE* handle, int mode);
    explicit MidiFileReader(std::vector<std::uint8_t> bytes);
    ~MidiFileReader() override = default;

    // The callback table. Everything does nothing unless said otherwise.
    // error / warning (slots 1, 2) are inherited from MidiFileBuffer.

    // Reads the header and then every track in file order. Returns 1, or 0 on failure.
    virtual int run();
    // Reads the MThd chunk; returns 1 or 0.
    virtual int readHeader();
    // Reads one MTrk chunk at the current position; returns 1 or 0.
    virtual int readTrack(int trackNumber);
    // Reads one event; returns the number of bytes it took, 0 on error.
    virtual std::int64_t readEvent(std::int64_t trackEnd);

    virtual void onHeader(int format, int trackCount, int division);
    // channel: the one channel of all channel messages of the track, -1 none (or not scanned),
    // -2 several.
    virtual void onTrackStart(int trackNumber, std::int64_t length, int channel);
    virtual void onTrackEnd(int trackNumber);
    virtual void onDeltaTime(long delta);
    // Raw delivery: data are the event's bytes after its status byte as they stand in the file.
    virtual void onRawEvent(int status, int length, const std::uint8_t* data);
    virtual void onRawLargeEvent(int status, const FileRegion& region);
    virtual void onMetaEvent(int type, int length, const std::uint8_t* data);
    virtual void onLargeMetaEvent(int type, const FileRegion& region);
    // typeName is nullptr for the types 0x08..0x0F.
    virtual void onTextEvent(int type, int length, const char* typeName, const std::uint8_t* data);
    virtual void onEndOfTrack();
    virtual void onChannelPrefix(int channel);
    virtual void onPort(int port);
    virtual void onSequenceNumber(int number);
    virtual void onSmpteOffset(int frameRateCode, int hours, int minutes, int seconds, int frames,
                               int subframes);
    // denominator as a number (4 for quarters), not as its exponent.
    virtual void onTimeSignature(int numerator, int denominator, int clocksPerClick,
                                 int thirtySecondsPerQuarter);
    virtual void onTempo(long microsecondsPerQuarter);
    virtual void onKeySignature(int sharpsFlats, int minor);
    virtual void onProgramChange(int ch, int program);
    virtual void onController(int ch, int number, int value);
    // Each of these defaults to onController with its controller number.
    virtual void onBankSelectMsb(int ch, int value);
    virtual void onModulation(int ch, int value);
    virtual void onBreath(int ch, int value);
    virtual void onFootController(int ch, int value);
    virtual void onPortamentoTime(int ch, int value);
    virtual void onDataEntry(int ch, int value);
    virtual void onVolume(int ch, int value);
    virtual void onPan(int ch, int value);
    virtual void onCc11(int ch, int value);
    virtual void onBankSelectLsb(int ch, int value);
    virtual void onSustain(int ch, int value);
    virtual void onReverbDepth(int ch, int value);
    virtual void onChorusDepth(int ch, int value);
    virtual void onDataIncrement(int ch, int value);
    virtual void onDataDecrement(int ch, int value);
    virtual void onRpnLsb(int ch, int value);
    virtual void onRpnMsb(int ch, int value);
    // Defaults to the controller sequence that sets it: RPN 0, then data entry.
    virtual void onPitchBendRange(int ch, int semitones);
    virtual void onNoteOn(int ch, int key, int velocity);
    virtual void onNoteOff(int ch, int key, int velocity);
    virtual void onPitchBend(int ch, int value);
    virtual void onPolyPressure(int ch, int key, int pressure);
    virtual void onChannelPressure(int ch, int pressure);
    virtual void onSongPosition(int position);
    virtual void onSongSelect(int song);
    virtual void onTuneRequest();
    virtual void onClock();
    virtual void onStart();
    virtual void onContinue();
    virtual void onStop();
    virtual void onActiveSensing();
    virtual void onSysex(int length, const std::uint8_t* data);
    virtual void onLargeSysex(const FileRegion& region);
    virtual void onXgSystemOn();
    virtual void onGmSystemOn();
    virtual void onGsReset();
    virtual void onGsExit();
    virtual void onEndOfFile();
    // Defaults to warning("Unrealistic large pause found").
    virtual void onLargePause(long delta);
    virtual void onProgress(int percent);
    // count buffered bytes at the current position, not consumed; nullptr when not available.
    virtual const std::uint8_t* peek(int count);
    // The merged reader's steps. A sequential reader keeps no per-track state, so it has no
    // tracks to initialise and no merged events to deliver.
    virtual int initTracks();
    virtual int nextEvent();
    // Reports progress 100, then onEndOfFile; returns 1.
    virtual int finish();

    int format() const { return format_; }
    int trackCount() const { return trackCount_; }
    int division() const { return division_; }
    int currentTrack() const { return currentTrack_; }
    int trackChannel() const { return trackChannel_; }
    // Absolute tick of the current event: within its track, or the merged time.
    std::int64_t currentTick() const { return currentTick_; }
    std::int64_t elapsedMilliseconds() const {
        return elapsedMs_ + (divisor_ > 0 ? remainder_ / divisor_ : 0);
    }
    long tempo() const { return tempo_; }
    int progress() const { return progress_; }
    bool fatal() const { return fatal_; }
    bool stopped() const { return stop_; }
    int lastVarLenSize() const { return varLenSize_; }
    void setOptions(std::uint8_t first, std::uint8_t second) { options_ = {first, second}; }
    std::array<std::uint8_t, 2> options() const { return options_; }

  protected:
    // Primitive reads at the current position. After a fatal error they return at once.
    const std::uint8_t* readBytes(std::int64_t n) {
        if (!fatal_ && n > 0) {
            if (const std::uint8_t* bytes = fetch(filePosition_, n)) {
                filePosition_ += n;
                return bytes;
            }
        }
        return readBytesOrFail(n);
    }
    int readByte() {  // -1 at the end
        const std::uint8_t* byte = readBytes(1);
        return byte != nullptr ? *byte : -1;
    }
    std::uint32_t read16();
    std::uint32_t read24();
    std::uint32_t read32();
    // Almost every quantity lies whole in the buffer: it is decoded there at once.
    long readVarLen() {
        const std::uint8_t* b = fatal_ ? nullptr : fetch(filePosition_, 4);
        if (b == nullptr) return readVarLenByBytes();
        long value = b[0] & 0x7F;
        int size = 1;
        while (size < 4 && (b[size - 1] & 0x80) != 0) {
            value = (value << 7) | (b[size] & 0x7F);
            ++size;
        }
        filePosition_ += size;
        varLenSize_ = size;
        return value;
    }
    bool skip(std::int64_t n);
    void seek(std::int64_t pos);
    std::int64_t position() const { return filePosition_; }

    // Reports an error that ends the read.
    void fail(const char* text);
    // Lets a sink end the read early, quietly or as a failure.
    void stopReading(bool asFailure);
    // Moves the millisecond clock on by delta ticks at the current tempo. A pause of 2^24 ticks
    // or of an hour or more is reported through onLargePause; the clock then jumps and the
    // answer is false, so that the caller ends what the pause belongs to. Inline: it runs for
    // every tick that has events.
    bool advanceClock(long delta) {
        if (delta < 0) return true;
        // q whole milliseconds per tick, r the rest in 1/divisor ms, divided once per tempo.
        if (tempo_ != clockTempo_ || divisor_ != clockDivisor_) {
            clockTempo_ = tempo_;
            clockDivisor_ = divisor_;
            clockWhole_ = divisor_ > 0 ? tempo_ / divisor_ : 0;
            clockRest_ = divisor_ > 0 ? tempo_ % divisor_ : 0;
        }
        const std::int64_t q = clockWhole_;
        const std::int64_t r = clockRest_;
        if ((delta / 1000) * q >= midi::kLargePauseSeconds || delta >= midi::kLargePauseTicks) {
            onLargePause(delta);
            // The clock jumps to the pause; only the fraction of a millisecond carries over.
            if (divisor_ > 0) remainder_ %= divisor_;
            elapsedMs_ = delta * q;
            return false;
        }
        elapsedMs_ += delta * q;
        if (divisor_ > 0) {
            // r x delta < 2^26 x 2^24, so a remainder below 2^60 + 2^50 cannot overflow.
            remainder_ += r * delta;
            if (remainder_ >= kRemainderCarry) {
                elapsedMs_ += remainder_ / divisor_;
                remainder_ %= divisor_;
            }
        }
        return true;
    }
    // Hands over a sysex sent in packets whose closing packet never came, when its track ends.
    void flushSysexPackets(int trackNumber);
    // Reports progress through onProgress when the percentage grows.
    void reportProgress(std::int64_t percent);
    // A sink that ignores onProgress spares the reader working the percentages out.
    void setProgressReports(bool on) { reportsProgress_ = on; }
    void resetClock();

    // Track state shared with the merged reader.
    int currentTrack_ = 0;
    int trackChannel_ = -1;
    std::int64_t currentTick_ = 0;
    int runningStatus_ = -1;
    std::int64_t chunkStart_ = 0;
    std::int64_t chunkLength_ = 0;
    bool trackEnded_ = false;  // an end-of-track event was read
    bool stop_ = false;        // ends the reading loop without error
    const std::uint8_t* readBytesOrFail(std::int64_t n);
    bool fatal_ = false;  // an error occurred; every further read returns at once
    int progress_ = -1;
    bool reportsProgress_ = true;
    int trackCount_ = 0;
    std::array<std::uint8_t, 2> options_{};

  private:
    long readVarLenByBytes();
    std::int64_t findHeader();
    bool peekVarLen(std::int64_t* pos, long* value);
    int scanTrackChannel(std::int64_t begin, std::int64_t end);
    // Reads the id and length of the next track chunk, skipping chunks of other types; false
    // (with the error reported) when there is none or it runs past the end of the file.
    bool findTrackChunk(int trackNumber);
    bool largeEventFits(std::int64_t end);
    void endOfTrackSeen(std::int64_t eventEnd, std::int64_t trackEnd);
    bool deliverRaw(int status, std::int64_t from, std::int64_t to);
    bool readMeta(std::int64_t trackEnd);
    void decodeMeta(int type, int length, const std::uint8_t* data);
    bool readSysex(int status, std::int64_t trackEnd);
    void deliverSysex(const std::uint8_t* data, std::int64_t length);
    bool readSystemMessage(int status);
    bool readChannelMessage(int status, std::int64_t trackEnd);
    // A note on or off, to onNoteOn or onNoteOff.
    void deliverNote(int status, int key, int velocity);
    // Every channel message but the decoded notes.
    bool readOtherChannelMessage(int status, std::int64_t trackEnd);
    void dispatchController(int status, int number, int value, std::int64_t trackEnd);
    bool matchPitchBendRange(int status, std::int64_t trackEnd, int* semitones);

    int format_ = 0;
    int division_ = 0;
    static constexpr std::int64_t kRemainderCarry = std::int64_t{1} << 60;
    // The clock: elapsedMs_ plus remainder_ / divisor_ milliseconds. The remainder is carried
    // over into whole milliseconds only when it grows large, not on every event.
    std::int64_t elapsedMs_ = 0;
    std::int64_t remainder_ = 0;  // in 1/(division x 1000) ms
    std::int64_t divisor_ = 0;    // division x 1000
    long tempo_ = midi::kDefaultTempo;
    // tempo_ / divisor_ and tempo_ % divisor_, for the tempo and divisor they were taken of.
    long clockTempo_ = -1;
    std::int64_t clockDivisor_ = -1;
    std::int64_t clockWhole_ = 0;
    std::int64_t clockRest_ = 0;
    int varLenSize_ = 0;
    // Sysex messages sent in packets (F0 without its closing F7, then F7 packets), by track,
    // joined until the packet that ends with F7.
    std::map<int, std::vector<std::uint8_t>> sysexPackets_;
};

// Reads all tracks at once and delivers their events in one order of absolute time: at one tick
// track by track in track order, and within a track in file order.
class MergedMidiReader : public MidiFileReader {
  public:
    MergedMidiReader(const std::string& fileName, int mode);
    MergedMidiReader(std::FILE* handle, int mode);
    explicit MergedMidiReader(std::vector<std::uint8_t> bytes);

    int run() override;
    int initTracks() override;
    int nextEvent() override;

  private:
    void allocateTracks();
    struct TrackCursor;
    void queueTrack(std::size_t track);
    // Reports the progress through the longest track, whose next event starts at position().
    void reportTrackProgress(const TrackCursor& track);
    // Format 2: the tracks are independent sequences played one after the other, so the next
    // unfinished track after `track` starts at `tick`.
    void queueNextSequence(std::size_t track, std::int64_t tick);

    // Where each track stands: its next event's position and tick, the end of its chunk, the
    // running status saved for it, and whether it is done.
    struct TrackCursor {
        std::int64_t position = 0;
        std::int64_t end = 0;
        std::int64_t tick = 0;
        int savedStatus = -1;
        bool finished = false;
    };

    bool tracksReady_ = false;
    // The unfinished tracks by (next-event tick, track index), smallest first, so that a file of
    // thousands of tracks costs a logarithm per event rather than a pass over every track.
    std::vector<std::pair<std::int64_t, std::size_t>> trackQueue_;
    std::vector<TrackCursor> tracks_;
    int longestTrack_ = -1;
    std::int64_t longestLength_ = 0;
    // The position in the longest track before which the progress cannot move on.
    std::int64_t progressDue_ = 0;
};

}  // namespace varimel
