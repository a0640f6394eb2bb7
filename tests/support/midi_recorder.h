// MidiRecorder: a MIDI reader sink that writes every callback it receives into a log of short
// lines ("on 0 60 100", "tempo 500000", "warning ..."), so that a test can compare what the
// reader delivered with what the file holds.
//
//   MidiRecorder<MergedMidiReader> reader(file.pathString(), 1);
//   ASSERT_EQ(reader.run(), 1);
//   EXPECT_EQ(reader.log, (Log{"header 1 1 480", ...}));
//
// The controller callbacks of their own (onVolume, onRpnMsb, ...) and onPitchBendRange keep the
// reader's defaults, so they show up as the onController lines those defaults produce.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "alg/midi/midi_rw.h"

namespace varimel::test {

using Log = std::vector<std::string>;

inline std::string hexBytes(const std::uint8_t* data, std::int64_t length) {
    std::string text;
    char byte[4];
    for (std::int64_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, "%02X", data[i]);
        text += byte;
    }
    return text;
}

template <class Reader>
class MidiRecorder : public Reader {
  public:
    template <class Source>
    MidiRecorder(Source source, int mode) : Reader(source, mode) {}

    Log log;
    bool logDeltas = false;    // "delta n" lines
    bool logProgress = false;  // "progress n" lines
    bool logWhere = false;     // " @tick#track" after every line

    void error(const char* text) override {
        Reader::error(text);
        add(std::string("error ") + text);
    }
    void warning(const char* text) override {
        Reader::warning(text);
        add(std::string("warning ") + text);
    }
    void onHeader(int format, int tracks, int division) override {
        add("header " + num(format) + " " + num(tracks) + " " + num(division));
    }
    void onTrackStart(int track, std::int64_t length, int channel) override {
        add("trackStart " + num(track) + " " + num(length) + " " + num(channel));
    }
    void onTrackEnd(int track) override { add("trackEnd " + num(track)); }
    void onDeltaTime(long delta) override {
        if (logDeltas) add("delta " + num(delta));
    }
    void onRawEvent(int status, int length, const std::uint8_t* data) override {
        add("raw " + hex(status) + " " + hexBytes(data, length));
    }
    void onRawLargeEvent(int status, const FileRegion& region) override {
        add("rawLarge " + hex(status) + " " + num(region.position) + " " + num(region.length));
    }
    void onMetaEvent(int type, int length, const std::uint8_t* data) override {
        add("meta " + hex(type) + " " + hexBytes(data, length));
    }
    void onLargeMetaEvent(int type, const FileRegion& region) override {
        add("largeMeta " + hex(type) + " " + num(region.position) + " " + num(region.length));
    }
    void onTextEvent(int type, int length, const char* name, const std::uint8_t* data) override {
        add("text " + num(type) + " " + (name != nullptr ? name : "-") + " " +
            std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length)));
    }
    void onEndOfTrack() override { add("eot"); }
    void onChannelPrefix(int channel) override { add("channelPrefix " + num(channel)); }
    void onPort(int port) override { add("port " + num(port)); }
    void onSequenceNumber(int number) override { add("sequence " + num(number)); }
    void onSmpteOffset(int rate, int h, int m, int s, int f, int sub) override {
        add("smpte " + num(rate) + " " + num(h) + " " + num(m) + " " + num(s) + " " + num(f) + " " +
            num(sub));
    }
    void onTimeSignature(int n, int d, int clocks, int thirtySeconds) override {
        add("timeSig " + num(n) + "/" + num(d) + " " + num(clocks) + " " + num(thirtySeconds));
    }
    void onTempo(long tempo) override { add("tempo " + num(tempo)); }
    void onKeySignature(int sharpsFlats, int minor) override {
        add("key " + num(sharpsFlats) + " " + num(minor));
    }
    void onProgramChange(int ch, int program) override {
        add("program " + num(ch) + " " + num(program));
    }
    void onController(int ch, int number, int value) override {
        add("cc " + num(ch) + " " + num(number) + " " + num(value));
    }
    void onNoteOn(int ch, int key, int velocity) override {
        add("on " + num(ch) + " " + num(key) + " " + num(velocity));
    }
    void onNoteOff(int ch, int key, int velocity) override {
        add("off " + num(ch) + " " + num(key) + " " + num(velocity));
    }
    void onPitchBend(int ch, int value) override { add("bend " + num(ch) + " " + num(value)); }
    void onPolyPressure(int ch, int key, int pressure) override {
        add("poly " + num(ch) + " " + num(key) + " " + num(pressure));
    }
    void onChannelPressure(int ch, int pressure) override {
        add("pressure " + num(ch) + " " + num(pressure));
    }
    void onSongPosition(int position) override { add("songPosition " + num(position)); }
    void onSongSelect(int song) override { add("songSelect " + num(song)); }
    void onTuneRequest() override { add("tuneRequest"); }
    void onClock() override { add("clock"); }
    void onStart() override { add("start"); }
    void onContinue() override { add("continue"); }
    void onStop() override { add("stop"); }
    void onActiveSensing() override { add("activeSensing"); }
    void onSysex(int length, const std::uint8_t* data) override {
        add("sysex " + hexBytes(data, length));
    }
    void onLargeSysex(const FileRegion& region) override {
        add("largeSysex " + num(region.position) + " " + num(region.length));
    }
    void onXgSystemOn() override { add("xgOn"); }
    void onGmSystemOn() override { add("gmOn"); }
    void onGsReset() override { add("gsReset"); }
    void onGsExit() override { add("gsExit"); }
    void onEndOfFile() override { add("eof"); }
    void onLargePause(long delta) override {
        add("largePause " + num(delta));
        Reader::onLargePause(delta);
    }
    void onProgress(int percent) override {
        if (logProgress) add("progress " + num(percent));
    }

    // The read position, for tests that check what an event consumed.
    using Reader::position;

  protected:
    void add(std::string line) {
        if (logWhere) line += " @" + num(this->currentTick()) + "#" + num(this->currentTrack());
        log.push_back(std::move(line));
    }
    static std::string num(long long value) { return std::to_string(value); }
    static std::string hex(int value) {
        char text[8];
        std::snprintf(text, sizeof text, "%02X", value);
        return text;
    }
};

}  // namespace varimel::test
