// MidiFileWriter: writes a Standard MIDI File chunk by chunk, the counterpart of MidiFileReader.
// Every event takes the delta time in ticks since the previous event of its track.
//
// A call that breaks one of the writer's conditions is a programming error of the caller: it throws
// std::logic_error whose text is "midi_rw: " followed by the condition. Problems of the file itself
// (a full disk) are reported through error() and make close() answer 0.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "alg/midi/midi_buffer.h"

namespace varimel {

class MidiFileWriter : public MidiFileBuffer {
  public:
    explicit MidiFileWriter(const std::string& fileName);
    // Writes to a handle the caller opened for writing; it is flushed but left open.
    explicit MidiFileWriter(std::FILE* handle);
    // Writes into memory: `sink` holds the file after close().
    explicit MidiFileWriter(std::vector<std::uint8_t>* sink);
    ~MidiFileWriter() override;

    // The MThd chunk.
    void beginFile(int format, int trackCount, int unitsPerBeat);
    // Opens an MTrk chunk; channel -1 or 0..15 is kept for the caller as trackChannel().
    void beginTrack(int channel = -1);
    // Writes the end-of-track event and patches the chunk length.
    void endTrack(long delta = 0);

    void setTempo(long delta, long microsecondsPerBeat);
    // denominator as a note value (4 for quarters); written as its exponent.
    void timeSignature(long delta, int numerator, int denominator, int clocksPerClick = 24,
                       int thirtySecondsPerQuarter = 8);
    void keySignature(long delta, int sharpsFlats, int minor);
    void smpteOffset(long delta, int frameRateCode, int hours, int minutes, int seconds, int frames,
                     int subframes);
    // type 0x01..0x0F (text, copyright, track name, ...).
    void textEvent(long delta, int type, std::string_view text);
    void metaEvent(long delta, int type, const std::uint8_t* data, std::int64_t length);
    // A framed F0 message; data are the bytes after F0 and should end with F7.
    void sysex(long delta, const std::uint8_t* data, std::int64_t length);
    // A status byte and the bytes that follow it, written as they are.
    void rawEvent(long delta, int code, const std::uint8_t* data, std::int64_t length);

    void noteOff(long delta, int ch, int key, int velocity);
    void noteOn(long delta, int ch, int key, int velocity);
    void polyPressure(long delta, int ch, int key, int pressure);
    void controller(long delta, int ch, int number, int value);
    void programChange(long delta, int ch, int program);
    void channelPressure(long delta, int ch, int pressure);
    void pitchBend(long delta, int ch, int value);  // 0..16383, 8192 centre

    // Moves the write position within what has been written.
    void seek(std::int64_t pos);
    std::int64_t position() const { return filePosition_; }
    std::int64_t midiLength() const { return fileSize(); }

    int unitsPerBeat() const { return unitsPerBeat_; }
    long tempo() const { return tempo_; }
    int trackChannel() const { return trackChannel_; }

    // Writes out what is buffered and closes the file; 1 when every byte reached it, else 0.
    int close();

  private:
    [[noreturn]] static void violated(const char* condition);
    static void requireChannel(int ch);
    void writeDelta(long delta);
    void putByte(int byte);
    void put16(std::uint32_t value);
    void put32(std::uint32_t value);
    void putVarLen(std::uint32_t value);
    void putBytes(const std::uint8_t* data, std::int64_t length);
    void channelMessage(long delta, int kind, int ch, int first, int second, int count);

    int unitsPerBeat_ = 480;
    long tempo_ = 500000;
    int trackChannel_ = -1;
    std::int64_t trackStart_ = -1;  // offset of the open MTrk chunk, -1 when none
    bool closed_ = false;
};

}  // namespace varimel
