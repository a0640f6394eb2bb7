// Reading Standard MIDI Files: what the reader delivers through its callbacks, in which order, and
// how it ends on files that are not valid.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "alg/midi/midi_rw.h"
#include "support/melody.h"
#include "support/midi_recorder.h"
#include "support/smf_bytes.h"

using namespace varimel;
using namespace varimel::test;
namespace s = varimel::test::smf;

namespace {

using Sequential = MidiRecorder<MidiFileReader>;
using Merged = MidiRecorder<MergedMidiReader>;

struct Outcome {
    int result = -1;
    Log log;
    std::string message;
};

struct Setup {
    int mode = 1;
    std::uint8_t first = 0;
    std::uint8_t second = 0;
    bool deltas = false;
    bool progress = false;
    bool where = false;
};

template <class Reader>
Outcome read(const s::Bytes& bytes, const Setup& setup = {}) {
    TempMidiFile file(bytes);
    Reader reader(file.pathString(), setup.mode);
    reader.setOptions(setup.first, setup.second);
    reader.logDeltas = setup.deltas;
    reader.logProgress = setup.progress;
    reader.logWhere = setup.where;
    Outcome outcome;
    outcome.result = reader.run();
    outcome.log = reader.log;
    outcome.message = reader.messageText();
    return outcome;
}

// The log without the lines every file has (header, track frame, end of file).
Log events(const Log& log) {
    Log kept;
    for (const std::string& line : log) {
        const bool frame = line.rfind("header", 0) == 0 || line.rfind("trackStart", 0) == 0 ||
                           line.rfind("trackEnd", 0) == 0 || line.rfind("eot", 0) == 0 ||
                           line.rfind("eof", 0) == 0;
        if (!frame) kept.push_back(line);
    }
    return kept;
}

s::Bytes oneTrack(const s::Bytes& body, int division = 96) {
    return s::file(0, division, {body});
}

// A file with a bit of everything and no sysex, for truncation and mutation.
s::Bytes richFile() {
    return s::file(
        1, 480,
        {s::cat({s::text(0, 3, "Melody"), s::tempo(0, 400000), s::meta(0, 0x58, {3, 2, 24, 8}),
                 s::meta(0, 0x59, {0xFE, 0}), s::endOfTrack()}),
         s::cat({s::event(0, {0xC0, 5}), s::controller(0, 0, 7, 100), s::noteOn(0, 0, 60, 90),
                 s::event(240, {62, 90}),  // running status
                 s::noteOff(240, 0, 60), s::event(0, {0xE0, 0, 0x40}), s::noteOn(240, 0, 62, 0),
                 s::endOfTrack()}),
         s::cat({s::noteOn(120, 1, 48, 70), s::noteOff(600, 1, 48), s::endOfTrack()})});
}

// ---------------------------------------------------------------------------------------------
// Header

TEST(MidiHeader, BytesBeforeTheHeaderAreSkippedInBothReadModes) {
    const s::Bytes wrapped =
        s::cat({s::ascii("RIFF"), s::be32(1234), s::ascii("RMIDdata"),
                oneTrack(s::cat({s::noteOn(0, 0, 60, 100), s::endOfTrack()}))});
    for (int mode : {0, 1}) {
        const Outcome out = read<Sequential>(wrapped, {.mode = mode});
        EXPECT_EQ(out.result, 1) << "mode " << mode;
        EXPECT_EQ(out.log, (Log{"header 0 1 96", "trackStart 1 8 0", "on 0 60 100", "eot",
                                "trackEnd 1", "eof"}))
            << "mode " << mode;
    }
}

TEST(MidiHeader, WindowModeLooksForTheHeaderOnlyInTheFirstKilobyte) {
    const s::Bytes late =
        s::cat({s::Bytes(2000, 0), oneTrack(s::cat({s::noteOn(0, 0, 60, 100), s::endOfTrack()}))});
    EXPECT_EQ(read<Sequential>(late, {.mode = 1}).result, 1);
    const Outcome window = read<Sequential>(late, {.mode = 0});
    EXPECT_EQ(window.result, 0);
    EXPECT_EQ(window.message, "error: missing midi header MThd\n");
}

TEST(MidiHeader, FormatZeroWithTwoTracksIsReadWithAWarning) {
    const s::Bytes bytes = s::file(0, 96,
                                   {s::cat({s::noteOn(0, 0, 60, 100), s::endOfTrack()}),
                                    s::cat({s::noteOn(0, 1, 64, 100), s::endOfTrack()})});
    for (const Outcome& out : {read<Sequential>(bytes), read<Merged>(bytes)}) {
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(events(out.log), (Log{"warning wrong midi type", "on 0 60 100", "on 1 64 100"}));
    }
}

TEST(MidiHeader, LongerHeaderIsSkippedToItsDeclaredEnd) {
    // The extra header bytes look like a track chunk: a reader that does not skip them trips.
    const s::Bytes bytes = s::cat(
        {s::chunk("MThd",
                  s::cat({s::be16(0), s::be16(1), s::be16(96), s::ascii("MTrk"), s::be32(0)})),
         s::trackChunk(s::cat({s::noteOn(0, 0, 60, 1), s::endOfTrack()}))});
    const Outcome out = read<Merged>(bytes);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(events(out.log), Log{"on 0 60 1"});
}

TEST(MidiHeader, BrokenHeadersAndTrackChunksNameTheirFault) {
    const s::Bytes track = s::trackChunk(s::endOfTrack());
    const struct {
        s::Bytes bytes;
        const char* message;
    } cases[] = {
        {s::ascii("MTrk is not a header at all"), "error: missing midi header MThd\n"},
        {s::cat({s::chunk("MThd", {0, 1, 0, 1, 0}), track}), "error: illegal midi header\n"},
        {s::cat({s::headerChunk(3, 1, 96), track}), "error: invalid midi version\n"},
        // Chunks of other types are skipped; the track must still come.
        {s::cat({s::headerChunk(1, 1, 96), s::chunk("XTrk", s::endOfTrack())}),
         "error: missing midi track MTrk\n"},
        {s::cat({s::headerChunk(1, 1, 96), s::chunk("\x01Trk", s::endOfTrack()), track}),
         "error: missing midi track MTrk\n"},
    };
    for (const auto& c : cases) {
        for (const Outcome& out : {read<Sequential>(c.bytes), read<Merged>(c.bytes)}) {
            EXPECT_EQ(out.result, 0);
            EXPECT_EQ(out.message, c.message);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Events

TEST(MidiEvents, NoteOnWithVelocityZeroEndsANoteLikeANoteOff) {
    const Outcome out = read<Sequential>(
        oneTrack(s::cat({s::noteOn(0, 2, 60, 100), s::noteOn(10, 2, 60, 0),
                         s::noteOn(0, 2, 62, 100), s::noteOff(10, 2, 62, 64), s::endOfTrack()})));
    EXPECT_EQ(events(out.log), (Log{"on 2 60 100", "off 2 60 0", "on 2 62 100", "off 2 62 64"}));
}

TEST(MidiEvents, RunningStatusContinuesAcrossMetaAndSysexEvents) {
    const Outcome out = read<Sequential>(oneTrack(s::cat({
        s::noteOn(0, 3, 60, 100),
        s::text(0, 1, "hi"),
        s::event(0, {62, 101}),  // still note on, channel 3
        s::sysex(0, {0x01, 0x02, 0xF7}),
        s::event(0, {64, 0}),
        s::endOfTrack(),
    })));
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(events(out.log),
              (Log{"on 3 60 100", "text 1 text hi", "on 3 62 101", "sysex 0102F7", "off 3 64 0"}));
}

TEST(MidiEvents, MetaEventsAreDecodedWhenTheirLengthIsRight) {
    const Outcome out = read<Sequential>(oneTrack(s::cat({
        s::meta(0, 0x00, {0x01, 0x02}),
        s::text(0, 1, "a"),
        s::text(0, 2, "b"),
        s::text(0, 3, "c"),
        s::text(0, 4, "d"),
        s::text(0, 5, "e"),
        s::text(0, 6, "f"),
        s::text(0, 7, "g"),
        s::text(0, 0x0A, "h"),
        s::meta(0, 0x20, {9}),
        s::meta(0, 0x21, {2}),
        s::tempo(0, 600000),
        s::meta(0, 0x54, {0x61, 2, 3, 4, 5}),
        s::meta(0, 0x58, {6, 3, 36, 8}),
        s::meta(0, 0x59, {0xFD, 1}),
        s::meta(0, 0x59, {8, 0}),          // eight sharps: not a key
        s::meta(0, 0x59, {0, 2}),          // mode 2: not a key
        s::meta(0, 0x58, {4, 40, 24, 8}),  // 1 << 40 is no denominator
        s::meta(0, 0x51, {0x07, 0xA1}),    // a tempo needs three bytes
        s::meta(0, 0x20, {1, 2}),
        s::meta(0, 0x7F, {0x43, 0x00}),
        s::endOfTrack(),
    })));
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(events(out.log), (Log{"sequence 258",
                                    "text 1 text a",
                                    "text 2 copyright b",
                                    "text 3 trackname c",
                                    "text 4 instrument d",
                                    "text 5 lyric e",
                                    "text 6 marker f",
                                    "text 7 cuepoint g",
                                    "text 10 - h",
                                    "channelPrefix 9",
                                    "port 2",
                                    "tempo 600000",
                                    "smpte 3 1 2 3 4 5",
                                    "timeSig 6/8 36 8",
                                    "key -3 1",
                                    "meta 59 0800",
                                    "meta 59 0002",
                                    "meta 58 04281808",
                                    "meta 51 07A1",
                                    "meta 20 0102",
                                    "meta 7F 4300"}));
}

TEST(MidiEvents, ChannelAndSystemMessagesAreDecoded) {
    const Outcome out = read<Sequential>(oneTrack(s::cat({
        s::event(0, {0xA1, 60, 33}),
        s::event(0, {0xC2, 19}),
        s::event(0, {0xD3, 44}),
        s::event(0, {0xE4, 0x00, 0x40}),
        s::event(0, {0xE4, 0x7F, 0x7F}),
        s::controller(0, 5, 7, 90),
        s::controller(0, 5, 74, 12),
        s::event(0, {0xF2, 0x01, 0x02}),
        s::event(0, {0xF3, 4}),
        s::event(0, {0xF6}),
        s::event(0, {0xF8}),
        s::event(0, {0xFA}),
        s::event(0, {0xFB}),
        s::event(0, {0xFC}),
        s::event(0, {0xFE}),
        s::endOfTrack(),
    })));
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(events(out.log),
              (Log{"poly 1 60 33", "program 2 19", "pressure 3 44", "bend 4 8192", "bend 4 16383",
                   "cc 5 7 90", "cc 5 74 12", "songPosition 257", "songSelect 4", "tuneRequest",
                   "clock", "start", "continue", "stop", "activeSensing"}));
}

// Overrides a few controller callbacks of their own to see which route a controller takes.
class ControllerSink : public MidiRecorder<MidiFileReader> {
  public:
    using MidiRecorder::MidiRecorder;
    void onVolume(int ch, int value) override { add("volume " + num(ch) + " " + num(value)); }
    void onSustain(int ch, int value) override { add("sustain " + num(ch) + " " + num(value)); }
    void onPitchBendRange(int ch, int semitones) override {
        add("bendRange " + num(ch) + " " + num(semitones));
    }
};

Outcome readControllers(const s::Bytes& body, std::uint8_t first = 0, bool deltas = false) {
    TempMidiFile file(oneTrack(body));
    ControllerSink reader(file.pathString(), 1);
    reader.setOptions(first, 0);
    reader.logDeltas = deltas;
    Outcome outcome;
    outcome.result = reader.run();
    outcome.log = events(reader.log);
    return outcome;
}

TEST(MidiControllers, ControllersGoToTheirOwnCallbacksUnlessUndivided) {
    const s::Bytes body = s::cat({s::controller(0, 1, 7, 80), s::controller(0, 1, 64, 127),
                                  s::controller(0, 1, 10, 64), s::endOfTrack()});
    EXPECT_EQ(readControllers(body).log, (Log{"volume 1 80", "sustain 1 127", "cc 1 10 64"}));
    EXPECT_EQ(readControllers(body, midi::kOptControllersUndivided).log,
              (Log{"cc 1 7 80", "cc 1 64 127", "cc 1 10 64"}));
}

TEST(MidiControllers, RpnZeroFollowedByDataEntryIsOnePitchBendRange) {
    const s::Bytes exact =
        s::cat({s::controller(0, 2, 101, 0), s::controller(0, 2, 100, 0),
                s::controller(0, 2, 6, 12), s::noteOn(5, 2, 60, 1), s::endOfTrack()});
    EXPECT_EQ(readControllers(exact, 0, true).log,
              (Log{"delta 0", "bendRange 2 12", "delta 5", "on 2 60 1", "delta 0"}));
    // Undivided controllers are never combined.
    EXPECT_EQ(readControllers(exact, midi::kOptControllersUndivided).log,
              (Log{"cc 2 101 0", "cc 2 100 0", "cc 2 6 12", "on 2 60 1"}));

    // Not the sequence: running status, another RPN, a delta between.
    const s::Bytes running = s::cat({s::controller(0, 2, 101, 0), s::event(0, {100, 0}),
                                     s::event(0, {6, 12}), s::endOfTrack()});
    EXPECT_EQ(readControllers(running).log, (Log{"cc 2 101 0", "cc 2 100 0", "cc 2 6 12"}));
    const s::Bytes otherRpn = s::cat({s::controller(0, 2, 101, 1), s::controller(0, 2, 100, 0),
                                      s::controller(0, 2, 6, 12), s::endOfTrack()});
    EXPECT_EQ(readControllers(otherRpn).log, (Log{"cc 2 101 1", "cc 2 100 0", "cc 2 6 12"}));
    const s::Bytes later = s::cat({s::controller(0, 2, 101, 0), s::controller(1, 2, 100, 0),
                                   s::controller(0, 2, 6, 12), s::endOfTrack()});
    EXPECT_EQ(readControllers(later).log, (Log{"cc 2 101 0", "cc 2 100 0", "cc 2 6 12"}));
}

TEST(MidiControllers, DefaultPitchBendRangeReplaysTheControllerSequence) {
    const Outcome out =
        read<Sequential>(oneTrack(s::cat({s::controller(0, 4, 101, 0), s::controller(0, 4, 100, 0),
                                          s::controller(0, 4, 6, 7), s::endOfTrack()})),
                         {.deltas = true});
    EXPECT_EQ(events(out.log), (Log{"delta 0", "cc 4 101 0", "delta 0", "cc 4 100 0", "delta 0",
                                    "cc 4 6 7", "delta 0"}));
}

TEST(MidiEvents, OutOfRangeDataBytesAreWarnedAndReadingGoesOn) {
    const Outcome out = read<Sequential>(oneTrack(s::cat({
        s::event(0, {0x90, 0x80, 0x40}),
        s::event(0, {0x90, 60, 0x90}),
        s::event(0, {0xB0, 7, 0xFF}),
        s::event(0, {0xC0, 0x85}),
        s::noteOn(0, 0, 61, 1),
        s::endOfTrack(),
    })));
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(events(out.log), (Log{"warning invalid note value used", "on 0 128 64",
                                    "warning invalid note velocity used", "on 0 60 144",
                                    "warning invalid control value used", "cc 0 7 255",
                                    "warning invalid program used", "program 0 133", "on 0 61 1"}));
}

TEST(MidiEvents, BytesThatCannotStartAnEventEndTheRead) {
    const Outcome data =
        read<Sequential>(oneTrack(s::cat({s::event(0, {60, 64}), s::endOfTrack()})));
    EXPECT_EQ(data.result, 0);
    EXPECT_EQ(data.message, "error: illegal midi command 3C\n");
    for (int status : {0xF1, 0xF4, 0xF5, 0xF9, 0xFD}) {
        const Outcome out =
            read<Merged>(oneTrack(s::cat({s::event(0, {status, 0}), s::endOfTrack()})));
        char expected[64];
        std::snprintf(expected, sizeof expected, "error: unexpected command byte %02X\n", status);
        EXPECT_EQ(out.result, 0);
        EXPECT_EQ(out.message, expected);
    }
}

TEST(MidiEvents, GarbageAfterEndOfTrackIsWarnedWithCountAndTrackNumberAndNotRead) {
    // The garbage would read as a note on.
    const s::Bytes bytes =
        s::file(1, 96,
                {s::cat({s::noteOn(0, 0, 60, 100), s::endOfTrack()}),
                 s::cat({s::noteOn(0, 1, 64, 100), s::endOfTrack(), s::noteOn(0, 1, 65, 100)})});
    for (const Outcome& out : {read<Sequential>(bytes), read<Merged>(bytes)}) {
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(events(out.log),
                  (Log{"on 0 60 100", "on 1 64 100", "warning 4 bytes garbage at end of track 2"}));
    }
}

TEST(MidiEvents, PeekShowsBytesWithoutConsumingThem) {
    TempMidiFile file(oneTrack(s::endOfTrack()));
    for (int mode : {0, 1}) {
        Sequential reader(file.pathString(), mode);
        const std::uint8_t* bytes = reader.peek(4);
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), 4), "MThd");
        EXPECT_EQ(reader.position(), 0);
        EXPECT_EQ(reader.peek(static_cast<int>(reader.fileSize()) + 1), nullptr);
        EXPECT_EQ(reader.run(), 1);
    }
}

// ---------------------------------------------------------------------------------------------
// System exclusive

TEST(MidiSysex, KnownResetMessagesCallTheirOwnCallbacks) {
    const Outcome out = read<Sequential>(oneTrack(s::cat({
        s::sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}),
        s::sysex(0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}),
        s::sysex(0, {0x41, 0x1F, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x7F, 0x42, 0xF7}),
        s::sysex(0, {0x43, 0x15, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}),
        // Device 0x20 is outside the pattern; a longer message is another message.
        s::sysex(0, {0x41, 0x20, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}),
        s::sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0x00, 0xF7}),
        // An F7 packet is not a whole message.
        s::cat({s::varLen(0), {0xF7, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}),
        s::endOfTrack(),
    })));
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(events(out.log),
              (Log{"gmOn", "gsReset", "gsExit", "xgOn", "sysex 4120421240007F0041F7",
                   "sysex 7E7F090100F7", "sysex 7E7F0901F7"}));
}

TEST(MidiSysex, RawSysexOptionSkipsThePatterns) {
    const Outcome out = read<Sequential>(
        oneTrack(s::cat({s::sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}), s::endOfTrack()})),
        {.first = midi::kOptRawSysex});
    EXPECT_EQ(events(out.log), Log{"sysex 7E7F0901F7"});
}

TEST(MidiSysex, SysexIsReadByItsDeclaredLengthNotUpToAnF7) {
    // The F7 inside the first message is data; the length says where the message ends.
    const Outcome out = read<Sequential>(oneTrack(s::cat({
        s::event(0, {0xF0, 0x04, 0x01, 0xF7, 0x02, 0xF7}),
        s::noteOn(0, 0, 60, 1),
        s::endOfTrack(),
    })));
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(events(out.log), (Log{"sysex 01F702F7", "on 0 60 1"}));
}

TEST(MidiSysex, SysexLongerThanItsTrackEndsTheRead) {
    // Written without a length, the message's first data byte reads as one (0x7E = 126).
    for (const s::Bytes& body :
         {s::cat({s::event(0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}), s::endOfTrack()}),
          s::cat({s::event(0, {0xF7, 0x10, 0xF8}), s::endOfTrack()})}) {
        const Outcome out = read<Merged>(oneTrack(body));
        EXPECT_EQ(out.result, 0);
        EXPECT_EQ(out.message, "error: end of sysex not found\n");
    }
}

// F7 len data with no message open carries arbitrary bytes, here a clock and a tune request.
TEST(MidiSysex, EscapeCarriesItsBytesAndReadingGoesOn) {
    const s::Bytes body = s::cat({s::noteOn(0, 0, 60, 1), s::event(10, {0xF7, 0x01, 0xF8}),
                                  s::event(0, {0xF7, 0x01, 0xF6}), s::event(0, {0xF7, 0x00}),
                                  s::noteOff(10, 0, 60), s::endOfTrack()});
    for (const Outcome& out : {read<Sequential>(oneTrack(body)), read<Merged>(oneTrack(body))}) {
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(events(out.log),
                  (Log{"on 0 60 1", "sysex F8", "sysex F6", "sysex ", "off 0 60 0"}));
    }
}

// F0 without its closing F7 opens a message; F7 packets continue it up to the one ending in F7.
TEST(MidiSysex, PacketsAreJoinedIntoOneMessageBeforeMatching) {
    const s::Bytes body = s::cat({
        s::event(0, {0xF0, 0x03, 0x43, 0x10, 0x4C}),
        s::noteOn(5, 0, 60, 1),  // other events may come between the packets
        s::event(5, {0xF7, 0x03, 0x00, 0x00, 0x7E}),
        s::event(5, {0xF7, 0x02, 0x00, 0xF7}),
        s::event(0, {0xF0, 0x02, 0x01, 0x02}),
        s::event(0, {0xF7, 0x01, 0xF7}),
        s::event(0, {0xF7, 0x01, 0xF8}),  // no message open any more: an escape
        s::noteOff(0, 0, 60),
        s::endOfTrack(),
    });
    for (const Outcome& out : {read<Sequential>(oneTrack(body)), read<Merged>(oneTrack(body))}) {
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(events(out.log),
                  (Log{"on 0 60 1", "xgOn", "sysex 0102F7", "sysex F8", "off 0 60 0"}));
    }
    // Raw sysex delivery hands over every packet as it stands.
    const Outcome raw = read<Sequential>(oneTrack(body), {.first = midi::kOptRawSysex});
    EXPECT_EQ(events(raw.log), (Log{"sysex 43104C", "on 0 60 1", "sysex 00007E", "sysex 00F7",
                                    "sysex 0102", "sysex F7", "sysex F8", "off 0 60 0"}));
}

TEST(MidiSysex, UnclosedPacketsGoOutAsTheyStandWhenTheirTrackEndsOrANewMessageStarts) {
    const s::Bytes bytes =
        s::file(1, 96,
                {s::cat({s::event(0, {0xF0, 0x02, 0x01, 0x02}), s::event(0, {0xF7, 0x01, 0x03}),
                         s::event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}),
                         s::event(0, {0xF0, 0x01, 0x04}), s::endOfTrack(5)}),
                 s::cat({s::noteOn(1, 0, 60, 1), s::endOfTrack()})});
    for (const Outcome& out : {read<Sequential>(bytes), read<Merged>(bytes)}) {
        EXPECT_EQ(out.result, 1);
        Log log = events(out.log);
        std::erase(log, "on 0 60 1");
        EXPECT_EQ(log, (Log{"sysex 010203", "gmOn", "sysex 04"}));
    }
}

TEST(MidiSysex, EventsLongerThanTheWindowAreHandedOverAsFileRegions) {
    s::Bytes longData(70000, 0x11);
    longData.back() = 0xF7;
    const s::Bytes body = s::cat({s::sysex(0, longData), s::meta(0, 0x01, longData),
                                  s::noteOn(0, 0, 60, 1), s::endOfTrack()});
    const Outcome out = read<Sequential>(oneTrack(body), {.mode = 0});
    EXPECT_EQ(out.result, 1);
    // Header 14, track header 8, delta 1, F0 1, length 3: the sysex data begin at 27.
    EXPECT_EQ(events(out.log),
              (Log{"largeSysex 27 70000", "largeMeta 01 70033 70000", "on 0 60 1"}));
}

// ---------------------------------------------------------------------------------------------
// Option bits

TEST(MidiOptions, RawBitsDeliverChannelMessagesUndecoded) {
    const s::Bytes body =
        s::cat({s::noteOn(0, 1, 60, 100), s::event(0, {61, 0}), s::event(0, {0xA1, 60, 5}),
                s::controller(0, 1, 7, 9), s::event(0, {0xC1, 3}), s::event(0, {0xD1, 4}),
                s::event(0, {0xE1, 0, 64}), s::endOfTrack()});
    const Outcome all = read<Sequential>(oneTrack(body), {.first = 0xF0, .second = 0x03});
    EXPECT_EQ(events(all.log), (Log{"raw 91 3C64", "raw 91 3D00", "raw A1 3C05", "raw B1 0709",
                                    "raw C1 03", "raw D1 04", "raw E1 0040"}));
    const Outcome notesOnly = read<Sequential>(oneTrack(body), {.first = midi::kOptRawNotes});
    EXPECT_EQ(events(notesOnly.log), (Log{"raw 91 3C64", "raw 91 3D00", "poly 1 60 5", "cc 1 7 9",
                                          "program 1 3", "pressure 1 4", "bend 1 8192"}));
}

TEST(MidiOptions, RawMetaBitKeepsEndOfTrackDecoded) {
    const Outcome out = read<Sequential>(
        oneTrack(s::cat({s::tempo(0, 500000), s::text(0, 3, "x"), s::endOfTrack()})),
        {.first = midi::kOptRawMeta});
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(events(out.log), (Log{"meta 51 07A120", "meta 03 78"}));
    EXPECT_NE(std::find(out.log.begin(), out.log.end(), "eot"), out.log.end());
}

TEST(MidiOptions, RawSystemBitDeliversMetaSysexAndSystemMessagesAsTheyStand) {
    const Outcome out = read<Sequential>(
        oneTrack(s::cat({s::tempo(0, 500000), s::sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}),
                         s::event(0, {0xF2, 1, 2}), s::event(0, {0xF8}), s::noteOn(0, 0, 60, 1),
                         s::endOfTrack()})),
        {.second = midi::kOpt2RawSystem});
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(events(out.log), (Log{"raw FF 510307A120", "raw F0 057E7F0901F7", "raw F2 0102",
                                    "raw F8 ", "on 0 60 1", "raw FF 2F00"}));
}

TEST(MidiOptions, HeadersOnlyReadsTheChunksButNoEvents) {
    const Outcome out = read<Sequential>(richFile(), {.first = midi::kOptHeadersOnly});
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.log,
              (Log{"header 1 3 480", "trackStart 1 35 -1", "trackEnd 1", "trackStart 2 33 -1",
                   "trackEnd 2", "trackStart 3 13 -1", "trackEnd 3", "eof"}));
}

TEST(MidiTracks, TrackStartNamesTheOneChannelOfTheTrack) {
    const s::Bytes bytes = s::file(1, 96,
                                   {s::cat({s::text(0, 3, "conductor"), s::endOfTrack()}),
                                    s::cat({s::event(0, {0xC3, 1}), s::noteOn(0, 3, 60, 1),
                                            s::event(0, {60, 0}), s::endOfTrack()}),
                                    s::cat({s::sysex(0, {0x01, 0xF7}), s::noteOn(0, 1, 60, 1),
                                            s::noteOn(0, 2, 60, 1), s::endOfTrack()})});
    const Outcome out = read<Sequential>(bytes);
    Log starts;
    for (const std::string& line : out.log) {
        if (line.rfind("trackStart", 0) == 0) starts.push_back(line);
    }
    EXPECT_EQ(starts, (Log{"trackStart 1 17 -1", "trackStart 2 14 3", "trackStart 3 17 -2"}));
}

TEST(MidiTracks, ChunksOfOtherTypesAreSkipped) {
    const s::Bytes bytes = s::cat(
        {s::headerChunk(1, 2, 96), s::chunk("XFIH", {1, 2, 3}),
         s::trackChunk(s::cat({s::noteOn(0, 0, 60, 1), s::endOfTrack()})), s::chunk("Xy z", {}),
         s::trackChunk(s::cat({s::noteOn(0, 1, 62, 1), s::endOfTrack()}))});
    for (const Outcome& out : {read<Sequential>(bytes), read<Merged>(bytes)}) {
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(events(out.log), (Log{"on 0 60 1", "on 1 62 1"}));
    }
}

TEST(MidiTracks, TrackRunningPastTheEndOfTheFileIsRefusedUnlessOnlyItsLastBytesAreMissing) {
    const s::Bytes body = s::cat({s::noteOn(0, 0, 60, 1), s::noteOff(96, 0, 60), s::endOfTrack()});
    const auto claiming = [&](std::uint32_t extra) {
        return s::cat({s::headerChunk(0, 1, 96), s::ascii("MTrk"),
                       s::be32(static_cast<std::uint32_t>(body.size()) + extra), body});
    };
    for (const Outcome& out :
         {read<Sequential>(claiming(16 << 20)), read<Merged>(claiming(16 << 20))}) {
        EXPECT_EQ(out.result, 0);
        EXPECT_EQ(out.message, "error: track 1 runs 16777216 bytes past the end of the file\n");
    }
    for (std::uint32_t extra : {1u, 2u, 3u}) {
        for (const Outcome& out :
             {read<Sequential>(claiming(extra)), read<Merged>(claiming(extra))}) {
            EXPECT_EQ(out.result, 1) << extra;
            // As for any chunk longer than its events, the missing bytes are counted as garbage.
            EXPECT_EQ(events(out.log), (Log{"on 0 60 1", "off 0 60 0",
                                            "warning " + std::to_string(extra) +
                                                " bytes garbage at end of track 1"}))
                << extra;
        }
    }
    EXPECT_EQ(read<Merged>(claiming(4)).result, 0);
}

// ---------------------------------------------------------------------------------------------
// Time: large pauses and the millisecond clock

TEST(MidiTime, DeltaOfTwoToTheTwentyFourStopsReadingQuietly) {
    const s::Bytes bytes =
        oneTrack(s::cat({s::noteOn(0, 0, 60, 1), s::noteOff(0x1000000, 0, 60), s::endOfTrack()}));
    for (const Outcome& out : {read<Sequential>(bytes), read<Merged>(bytes)}) {
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(events(out.log), (Log{"on 0 60 1", "largePause 16777216",
                                        "warning Unrealistic large pause found"}));
        EXPECT_EQ(out.log.back(), "eof");
    }
}

TEST(MidiTime, LargePauseEndsOnlyItsOwnTrack) {
    const s::Bytes bytes =
        s::file(1, 96,
                {s::cat({s::tempo(0, 600000), s::endOfTrack(0x1000000)}),
                 s::cat({s::noteOn(0, 0, 60, 1), s::noteOff(0x1000000, 0, 60),
                         s::noteOn(0, 0, 61, 1), s::endOfTrack()}),
                 s::cat({s::noteOn(10, 0, 62, 1), s::noteOff(96, 0, 62), s::endOfTrack()})});
    for (const Outcome& out : {read<Sequential>(bytes), read<Merged>(bytes)}) {
        EXPECT_EQ(out.result, 1);
        Log log = events(out.log);
        std::erase(log, "largePause 16777216");
        std::erase(log, "warning Unrealistic large pause found");
        std::sort(log.begin(), log.end());
        EXPECT_EQ(log, (Log{"off 0 62 0", "on 0 60 1", "on 0 62 1", "tempo 600000"}));
    }
}

TEST(MidiTime, PauseOfAnHourAtTheCurrentTempoStopsReading) {
    // Division 1 at 500000 us per quarter: 500 ms per tick, whole seconds counted per 1000 ticks.
    const auto pause = [](std::uint32_t ticks) {
        return events(read<Sequential>(oneTrack(s::cat({s::noteOn(0, 0, 60, 1),
                                                        s::noteOff(ticks, 0, 60), s::endOfTrack()}),
                                                1))
                          .log);
    };
    EXPECT_EQ(pause(7999), (Log{"on 0 60 1", "off 0 60 0"}));
    EXPECT_EQ(pause(8000), (Log{"on 0 60 1", "largePause 8000",
                                "warning Unrealistic large pause found", "off 0 60 0"}));
}

class ClockSink : public MidiRecorder<MergedMidiReader> {
  public:
    using MidiRecorder::MidiRecorder;
    void onNoteOn(int, int key, int) override {
        add(std::to_string(key) + " at " + std::to_string(elapsedMilliseconds()));
    }
};

TEST(MidiTime, MillisecondClockFollowsTempoAndCarriesTheRemainder) {
    // At division 96 a tick lasts 5.208 ms: 96 single ticks must add up to exactly 500 ms.
    s::Bytes steps;
    for (int i = 0; i < 96; ++i) steps = s::cat({steps, s::meta(1, 0x7F, {})});
    const s::Bytes bytes = s::file(1, 96,
                                   {s::cat({steps, s::tempo(0, 250000), s::endOfTrack()}),
                                    s::cat({s::noteOn(96, 0, 1, 1), s::noteOn(48, 0, 2, 1),
                                            s::noteOn(48, 0, 3, 1), s::endOfTrack()})});
    TempMidiFile file(bytes);
    ClockSink reader(file.pathString(), 1);
    ASSERT_EQ(reader.run(), 1);
    Log log = events(reader.log);
    std::erase(log, "meta 7F ");
    EXPECT_EQ(log, (Log{"tempo 250000", "1 at 500", "2 at 625", "3 at 750"}));
}

// ---------------------------------------------------------------------------------------------
// Merged reading

TEST(MidiMerged, EventsOfOneTickComeInTrackOrderThenFileOrder) {
    const s::Bytes bytes =
        s::file(1, 96,
                {s::cat({s::noteOn(0, 0, 10, 1), s::noteOn(480, 0, 11, 1), s::endOfTrack()}),
                 s::cat({s::noteOn(0, 1, 20, 1), s::noteOn(240, 1, 21, 1), s::endOfTrack(240)}),
                 s::cat({s::noteOn(0, 2, 30, 1), s::noteOn(0, 2, 31, 1), s::noteOn(480, 2, 32, 1),
                         s::endOfTrack()})});
    const Outcome out = read<Merged>(bytes, {.deltas = true, .where = true});
    EXPECT_EQ(out.result, 1);
    // A delta line carries the place of the event before it.
    EXPECT_EQ(out.log, (Log{
                           "header 1 3 96 @0#0", "trackStart 1 13 -1 @0#1",
                           "trackEnd 1 @0#1",    "trackStart 2 14 -1 @0#2",
                           "trackEnd 2 @0#2",    "trackStart 3 17 -1 @0#3",
                           "trackEnd 3 @0#3",    "delta 0 @0#3",
                           "on 0 10 1 @0#1",     "on 1 20 1 @0#2",
                           "on 2 30 1 @0#3",     "on 2 31 1 @0#3",
                           "delta 240 @0#3",     "on 1 21 1 @240#2",
                           "delta 240 @240#2",   "on 0 11 1 @480#1",
                           "eot @480#1",         "eot @480#2",
                           "on 2 32 1 @480#3",   "eot @480#3",
                           "eof @480#3",
                       }));
}

TEST(MidiMerged, FormatTwoSequencesFollowOneAnother) {
    const s::Bytes bytes =
        s::file(2, 96,
                {s::cat({s::noteOn(0, 0, 60, 1), s::noteOff(96, 0, 60), s::endOfTrack(96)}),
                 s::Bytes{},  // an empty track between them
                 s::cat({s::noteOn(10, 0, 62, 1), s::noteOff(96, 0, 62), s::endOfTrack()})});
    const Outcome out = read<Merged>(bytes, {.where = true});
    EXPECT_EQ(out.result, 1);
    // The second sequence starts where the first one ended (its end-of-track, tick 192).
    EXPECT_EQ(events(out.log),
              (Log{"on 0 60 1 @0#1", "off 0 60 0 @96#1", "on 0 62 1 @202#3", "off 0 62 0 @298#3"}));
}

TEST(MidiMerged, RunningStatusIsKeptPerTrack) {
    const s::Bytes bytes =
        s::file(1, 96,
                {s::cat({s::noteOn(0, 0, 60, 1), s::event(10, {62, 1}), s::endOfTrack()}),
                 s::cat({s::noteOn(5, 1, 64, 1), s::event(10, {65, 1}), s::endOfTrack()})});
    const Outcome out = read<Merged>(bytes, {.where = true});
    EXPECT_EQ(events(out.log),
              (Log{"on 0 60 1 @0#1", "on 1 64 1 @5#2", "on 0 62 1 @10#1", "on 1 65 1 @15#2"}));
}

TEST(MidiMerged, EmptyTracksAndFilesWithoutTracksAreRead) {
    const s::Bytes emptyChunk =
        s::cat({s::headerChunk(1, 2, 96), s::trackChunk({}),
                s::trackChunk(s::cat({s::noteOn(3, 0, 60, 1), s::endOfTrack()}))});
    const Outcome out = read<Merged>(emptyChunk);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(events(out.log), Log{"on 0 60 1"});

    const Outcome none = read<Merged>(s::headerChunk(1, 0, 96));
    EXPECT_EQ(none.result, 1);
    EXPECT_EQ(none.log, (Log{"header 1 0 96", "eof"}));
}

TEST(MidiMerged, ProgressGrowsToOneHundredBeforeTheEnd) {
    s::Bytes notes;
    for (int i = 0; i < 200; ++i) notes = s::cat({notes, s::noteOn(10, 0, 60, 1)});
    const s::Bytes bytes = s::file(
        1, 96,
        {s::cat({s::noteOn(0, 1, 1, 1), s::endOfTrack()}), s::cat({notes, s::endOfTrack()})});
    for (const Outcome& out :
         {read<Merged>(bytes, {.progress = true}), read<Sequential>(bytes, {.progress = true})}) {
        std::vector<int> percents;
        for (const std::string& line : out.log) {
            if (line.rfind("progress ", 0) == 0) percents.push_back(std::stoi(line.substr(9)));
        }
        ASSERT_GT(percents.size(), 10u);
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
        EXPECT_EQ(std::adjacent_find(percents.begin(), percents.end()), percents.end());
        EXPECT_EQ(percents.back(), 100);
        EXPECT_EQ(out.log.back(), "eof");
        // A percent is a few bytes of the long track here: every one is reported, none skipped.
        EXPECT_EQ(percents.back() - percents.front() + 1, static_cast<int>(percents.size()));
    }
}

TEST(MidiMerged, ReaderLeavesTheCallersHandleOpen) {
    TempMidiFile file(richFile());
    std::FILE* handle = std::fopen(file.pathString().c_str(), "rb");
    ASSERT_NE(handle, nullptr);
    for (int mode : {0, 1}) {
        Merged reader(handle, mode);
        EXPECT_EQ(reader.run(), 1);
        EXPECT_EQ(reader.fileSize(), static_cast<std::int64_t>(richFile().size()));
    }
    ASSERT_EQ(std::fseek(handle, 0, SEEK_SET), 0);
    EXPECT_EQ(std::fgetc(handle), 'M');
    std::fclose(handle);
}

TEST(MidiMerged, SequentialAndMergedReadersDeliverTheSameEvents) {
    const s::Bytes bytes = richFile();
    for (int mode : {0, 1}) {
        const Outcome sequential = read<Sequential>(bytes, {.mode = mode});
        const Outcome merged = read<Merged>(bytes, {.mode = mode});
        ASSERT_EQ(sequential.result, 1);
        ASSERT_EQ(merged.result, 1);
        Log sortedSequential = events(sequential.log);
        Log sortedMerged = events(merged.log);
        std::sort(sortedSequential.begin(), sortedSequential.end());
        std::sort(sortedMerged.begin(), sortedMerged.end());
        EXPECT_EQ(sortedSequential, sortedMerged);
    }
}

// ---------------------------------------------------------------------------------------------
// Files that are not valid: every one ends with a result, never a crash or a hang.

template <class Reader>
int runFile(const std::string& path, int mode) {
    Reader reader(path, mode);
    return reader.run();
}

template <class Reader>
int runHandle(std::FILE* handle, int mode) {
    Reader reader(handle, mode);
    return reader.run();
}

int runBytesEveryWay(const s::Bytes& bytes) {
    TempMidiFile file(bytes);
    int results = 0;
    for (int mode : {0, 1}) {
        results += runFile<Sequential>(file.pathString(), mode);
        results += runFile<Merged>(file.pathString(), mode);
    }
    return results;
}

TEST(MidiBadInput, MissingEmptyAndDirectoryPathsFail) {
    const std::string missing =
        (std::filesystem::temp_directory_path() / "varimel-no-such-file.mid").string();
    const std::string directory = std::filesystem::temp_directory_path().string();
    for (const std::string& path : {missing, directory}) {
        for (int mode : {0, 1}) {
            Merged reader(path, mode);
            EXPECT_FALSE(reader.isOpen()) << path;
            EXPECT_EQ(reader.run(), 0) << path;
            EXPECT_EQ(runFile<Sequential>(path, mode), 0) << path;
        }
    }
    {
        TempMidiFile empty(s::Bytes{0});
        std::filesystem::resize_file(empty.path(), 0);
        for (int mode : {0, 1}) {
            EXPECT_EQ(runFile<Merged>(empty.pathString(), mode), 0);
            EXPECT_EQ(runFile<Sequential>(empty.pathString(), mode), 0);
        }
    }
    EXPECT_EQ(runBytesEveryWay(s::ascii("MThd")), 0);
}

TEST(MidiBadInput, ReaderAskedForWriteModeLeavesTheFileIntact) {
    const s::Bytes bytes = richFile();
    TempMidiFile file(bytes);
    EXPECT_EQ(runFile<Merged>(file.pathString(), MidiFileBuffer::kModeWrite), 1);
    EXPECT_EQ(std::filesystem::file_size(file.path()), bytes.size());
}

TEST(MidiBadInput, DirectoryOpenedByTheCallerReadsAsEmpty) {
    std::FILE* handle = std::fopen(std::filesystem::temp_directory_path().string().c_str(), "rb");
    if (handle == nullptr) GTEST_SKIP() << "directories cannot be opened here";
    for (int mode : {0, 1}) {
        EXPECT_EQ(runHandle<Merged>(handle, mode), 0);
        EXPECT_EQ(runHandle<Sequential>(handle, mode), 0);
    }
    std::fclose(handle);
}

// A cut inside a track's events is an unexpected end; a cut that leaves the track chunk claiming
// more than the file holds names the track.
TEST(MidiBadInput, EveryTruncationEndsWithUnexpectedEndOfFileOrATrackPastTheEnd) {
    const s::Bytes whole = richFile();
    const auto expected = [](const std::string& message) {
        return message == "error: unexpected end of file\n" ||
               (message.rfind("error: track ", 0) == 0 &&
                message.find(" bytes past the end of the file\n") != std::string::npos);
    };
    for (std::size_t length = 4; length < whole.size(); ++length) {
        TempMidiFile file(s::Bytes(whole.begin(), whole.begin() + static_cast<long>(length)));
        for (int mode : {0, 1}) {
            Merged merged(file.pathString(), mode);
            EXPECT_EQ(merged.run(), 0) << length;
            EXPECT_TRUE(expected(merged.messageText())) << length << merged.messageText();
            Sequential sequential(file.pathString(), mode);
            EXPECT_EQ(sequential.run(), 0) << length;
            EXPECT_TRUE(expected(sequential.messageText())) << length << sequential.messageText();
        }
    }
}

TEST(MidiBadInput, LengthsFarBeyondTheFileFail) {
    const s::Bytes header = s::headerChunk(1, 1, 96);
    const s::Bytes cases[] = {
        // A track chunk that claims two gigabytes and has no end-of-track event.
        s::cat({header, s::ascii("MTrk"), s::be32(0x7FFFFFFF), s::noteOn(0, 0, 60, 1)}),
        s::cat({header, s::ascii("MTrk"), s::be32(0xFFFFFFFF), s::noteOn(0, 0, 60, 1)}),
        // A header that claims four gigabytes.
        s::cat({s::ascii("MThd"), s::be32(0xFFFFFFFF), s::be16(1), s::be16(1), s::be16(96),
                s::trackChunk(s::endOfTrack())}),
        // 65535 tracks declared, one present.
        s::cat({s::headerChunk(1, 0xFFFF, 96), s::trackChunk(s::endOfTrack())}),
        // Meta and sysex events far longer than the file.
        s::cat({header,
                s::trackChunk(
                    s::cat({s::varLen(0), {0xFF, 0x01}, s::varLen(0x0FFFFFFF), s::ascii("abc")}))}),
        s::cat({header, s::trackChunk(s::cat(
                            {s::varLen(0), {0xF0}, s::varLen(0x0FFFFFFF), s::ascii("abc")}))}),
    };
    for (const s::Bytes& bytes : cases) EXPECT_EQ(runBytesEveryWay(bytes), 0);
}

TEST(MidiBadInput, DivisionZeroIsReadWithoutAClock) {
    const Outcome out = read<Merged>(oneTrack(
        s::cat({s::noteOn(0, 0, 60, 1), s::noteOff(0x7FFFFF, 0, 60), s::endOfTrack()}), 0));
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(events(out.log), (Log{"on 0 60 1", "off 0 60 0"}));
}

TEST(MidiBadInput, RandomMutationsOfAValidFileAlwaysEnd) {
    const s::Bytes original = s::cat(
        {richFile(), s::trackChunk(s::cat({s::sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}),
                                           s::controller(0, 0, 101, 0), s::controller(0, 0, 100, 0),
                                           s::controller(0, 0, 6, 2), s::endOfTrack()}))});
    std::mt19937 random(20240601);
    std::uniform_int_distribution<std::size_t> place(0, original.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    int succeeded = 0;
    for (int round = 0; round < 3000; ++round) {
        s::Bytes bytes = original;
        const int changes = 1 + round % 4;
        for (int i = 0; i < changes; ++i)
            bytes[place(random)] = static_cast<std::uint8_t>(byte(random));
        if (round % 5 == 0) bytes.resize(place(random));
        std::FILE* handle = std::tmpfile();
        ASSERT_NE(handle, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), handle);
        std::fflush(handle);
        const int mode = round % 2;
        const int merged = runHandle<Merged>(handle, mode);
        const int sequential = runHandle<Sequential>(handle, mode);
        EXPECT_TRUE(merged == 0 || merged == 1);
        EXPECT_TRUE(sequential == 0 || sequential == 1);
        succeeded += merged;
        std::fclose(handle);
    }
    // Many mutations hit only data bytes; the file still reads.
    EXPECT_GT(succeeded, 100);
}

TEST(MidiBadInput, FiftyMegabytesOfNoiseEndWithinSeconds) {
    s::Bytes noise(50u << 20);
    std::mt19937 random(7);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random());
    const auto start = std::chrono::steady_clock::now();
    {
        TempMidiFile file(noise);
        for (int mode : {0, 1}) {
            EXPECT_EQ(runFile<Merged>(file.pathString(), mode), 0);
            EXPECT_EQ(runFile<Sequential>(file.pathString(), mode), 0);
        }
    }
    // Behind a header and a track chunk that claims all of it, the noise is read as events
    // until something in it cannot be one, or a delta is too long to be music.
    noise.insert(noise.begin(), 22, 0);
    const s::Bytes frame = s::cat({s::headerChunk(1, 1, 96), s::ascii("MTrk"),
                                   s::be32(static_cast<std::uint32_t>(noise.size() - 22))});
    std::copy(frame.begin(), frame.end(), noise.begin());
    TempMidiFile file(noise);
    for (int mode : {0, 1}) {
        Merged merged(file.pathString(), mode);
        const int result = merged.run();
        if (result == 1) {
            EXPECT_EQ(merged.log.back(), "eof");
            EXPECT_STREQ(merged.messageText(), "warning: Unrealistic large pause found\n");
        } else {
            EXPECT_EQ(std::string(merged.messageText()).rfind("error: ", 0), 0u);
        }
        Sequential sequential(file.pathString(), mode);
        EXPECT_EQ(sequential.run(), result);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

}  // namespace
