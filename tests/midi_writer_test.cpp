// Writing Standard MIDI Files: what is written reads back through the reader, the chunk lengths
// are right, broken calls are refused and a failed write is reported.
#include "alg/midi/midi_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>

#include "support/melody.h"
#include "support/midi_recorder.h"
#include "support/smf_bytes.h"
#include "support/smf_walker.h"

using namespace varimel;
using namespace varimel::test;
namespace s = varimel::test::smf;

namespace {

// A file name in the temporary folder, removed again at the end of the test.
class TempPath {
  public:
    TempPath() : file_(s::Bytes{0}) {}  // the writer truncates it
    std::string name() const { return file_.pathString(); }
    s::Bytes bytes() const {
        std::ifstream in(file_.path(), std::ios::binary);
        return s::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

  private:
    TempMidiFile file_;
};

class RecordingWriter : public MidiFileWriter {
  public:
    using MidiFileWriter::MidiFileWriter;
    Log log;
    void error(const char* text) override {
        MidiFileWriter::error(text);
        log.push_back(std::string("error ") + text);
    }
    void warning(const char* text) override {
        MidiFileWriter::warning(text);
        log.push_back(std::string("warning ") + text);
    }
};

Log readBack(const std::string& path, bool deltas = false) {
    MidiRecorder<MidiFileReader> reader(path, 1);
    reader.logDeltas = deltas;
    EXPECT_EQ(reader.run(), 1) << reader.messageText();
    return reader.log;
}

std::string conditionOf(const std::function<void(MidiFileWriter&)>& call) {
    TempPath path;
    MidiFileWriter writer(path.name());
    writer.beginFile(1, 1, 480);
    try {
        call(writer);
    } catch (const std::logic_error& e) {
        return e.what();
    }
    return "no condition broken";
}

TEST(MidiWriter, WrittenEventsReadBackOneForOne) {
    TempPath path;
    {
        MidiFileWriter writer(path.name());
        writer.beginFile(1, 2, 96);
        writer.beginTrack();
        writer.textEvent(0, 3, "Conductor");
        writer.setTempo(0, 600000);
        writer.timeSignature(0, 6, 8, 36, 8);
        writer.keySignature(0, -3, 1);
        writer.smpteOffset(0, 3, 1, 2, 3, 4, 5);
        writer.endTrack(384);
        writer.beginTrack(2);
        EXPECT_EQ(writer.trackChannel(), 2);
        const std::uint8_t gmOn[] = {0x7E, 0x7F, 0x09, 0x01, 0xF7};
        writer.sysex(0, gmOn, 5);
        writer.programChange(0, 2, 19);
        writer.controller(0, 2, 7, 100);
        writer.noteOn(0, 2, 60, 90);
        writer.polyPressure(10, 2, 60, 30);
        writer.channelPressure(10, 2, 40);
        writer.pitchBend(10, 2, 8192);
        writer.noteOff(66, 2, 60, 64);
        const std::uint8_t sequence[] = {0x00, 0x07};
        writer.metaEvent(0, 0x00, sequence, 2);
        const std::uint8_t noteData[] = {62, 70};
        writer.rawEvent(1, 0x92, noteData, 2);
        writer.endTrack();
        EXPECT_EQ(writer.close(), 1);
    }
    EXPECT_EQ(readBack(path.name(), true), (Log{"header 1 2 96", "trackStart 1 48 -1",
                                                "delta 0",       "text 3 trackname Conductor",
                                                "delta 0",       "tempo 600000",
                                                "delta 0",       "timeSig 6/8 36 8",
                                                "delta 0",       "key -3 1",
                                                "delta 0",       "smpte 3 1 2 3 4 5",
                                                "delta 384",     "eot",
                                                "trackEnd 1",    "trackStart 2 48 2",
                                                "delta 0",       "gmOn",
                                                "delta 0",       "program 2 19",
                                                "delta 0",       "cc 2 7 100",
                                                "delta 0",       "on 2 60 90",
                                                "delta 10",      "poly 2 60 30",
                                                "delta 10",      "pressure 2 40",
                                                "delta 10",      "bend 2 8192",
                                                "delta 66",      "off 2 60 64",
                                                "delta 0",       "sequence 7",
                                                "delta 1",       "on 2 62 70",
                                                "delta 0",       "eot",
                                                "trackEnd 2",    "eof"}));
    // An independent decoder agrees that the chunks are well formed.
    const SmfWalk walk = walkSmf(path.bytes());
    ASSERT_TRUE(walk.file.has_value()) << walk.error;
    EXPECT_EQ(walk.file->tracks.size(), 2u);
}

TEST(MidiWriter, TrackLengthsArePatchedAlsoWhenTheFileOutgrowsTheBuffer) {
    TempPath path;
    const int notes = 20000;  // 160 kB of events, more than two buffer windows
    {
        MidiFileWriter writer(path.name());
        writer.beginFile(1, 2, 480);
        writer.beginTrack(0);
        for (int i = 0; i < notes; ++i) {
            writer.noteOn(i == 0 ? 0 : 120, 0, 60 + i % 12, 100);
            writer.noteOff(120, 0, 60 + i % 12, 0);
        }
        writer.endTrack();
        writer.beginTrack();
        writer.textEvent(0, 1, "after");
        writer.endTrack();
        EXPECT_EQ(writer.close(), 1);
        EXPECT_EQ(writer.midiLength(), static_cast<std::int64_t>(path.bytes().size()));
    }
    const s::Bytes bytes = path.bytes();
    const SmfWalk walk = walkSmf(bytes);
    ASSERT_TRUE(walk.file.has_value()) << walk.error;
    ASSERT_EQ(walk.file->tracks.size(), 2u);
    const auto notesRead = walk.file->notes();
    ASSERT_EQ(notesRead.size(), static_cast<std::size_t>(notes));
    EXPECT_EQ(notesRead.back().startTick, (notes - 1) * 240);
    const Log log = readBack(path.name());
    EXPECT_EQ(log[log.size() - 4], "text 1 text after");
}

TEST(MidiWriter, DeltaTimesRoundTripAtEveryLengthOfTheirEncoding) {
    TempPath path;
    const long deltas[] = {0, 0x7F, 0x80, 0x3FFF, 0x4000, 0x1FFFFF, 0x200000, 0xFFFFFF};
    {
        RecordingWriter writer(path.name());
        writer.beginFile(0, 1, 0x7FFF);
        writer.beginTrack(0);
        writer.setTempo(0, 1);  // so that no delta is an hour long
        for (long delta : deltas) writer.noteOn(delta, 0, 60, 1);
        writer.endTrack();
        EXPECT_EQ(writer.close(), 1);
        EXPECT_TRUE(writer.log.empty());
    }
    Log expected;
    for (long delta : deltas) expected.push_back("delta " + std::to_string(delta));
    Log read;
    for (const std::string& line : readBack(path.name(), true)) {
        if (line.rfind("delta", 0) == 0) read.push_back(line);
    }
    read.erase(read.begin());  // the tempo event's
    read.pop_back();           // the end of track's
    EXPECT_EQ(read, expected);
}

TEST(MidiWriter, UnrealisticPausesAreWarnedAtTheReadersLimits) {
    const auto warnings = [](int division, long delta) {
        TempPath path;
        RecordingWriter writer(path.name());
        writer.beginFile(0, 1, division);
        writer.beginTrack();
        writer.noteOn(delta, 0, 60, 1);
        return writer.log;
    };
    const Log warned{"warning generating unrealistic large pause"};
    // At 500000 us per quarter and division 1, 8000 ticks are past an hour for the reader.
    EXPECT_EQ(warnings(1, 7999), Log{});
    EXPECT_EQ(warnings(1, 8000), warned);
    EXPECT_EQ(warnings(0x7FFF, 0xFFFFFF), Log{});
    EXPECT_EQ(warnings(0x7FFF, 0x1000000), warned);
}

TEST(MidiWriter, DataBytesNeverLookLikeStatusBytes) {
    TempPath path;
    {
        MidiFileWriter writer(path.name());
        writer.beginFile(0, 1, 96);
        writer.beginTrack();
        writer.noteOn(0, 0, 200, 300);
        writer.pitchBend(0, 0, 20000);
        writer.noteOn(0, 1, 60, 1);
        writer.endTrack();
    }
    const Log log = readBack(path.name());
    EXPECT_EQ(std::vector<std::string>(log.begin() + 2, log.begin() + 5),
              (Log{"on 0 72 44", "bend 0 16383", "on 1 60 1"}));
}

TEST(MidiWriter, SeekRewritesBytesWithinTheFile) {
    TempPath path;
    {
        MidiFileWriter writer(path.name());
        writer.beginFile(0, 1, 96);
        writer.beginTrack();
        writer.endTrack();
        const std::int64_t end = writer.position();
        writer.seek(0);
        writer.beginFile(0, 1, 120);  // the same header with another division
        writer.seek(end);
        EXPECT_EQ(writer.midiLength(), end);
    }
    EXPECT_EQ(readBack(path.name())[0], "header 0 1 120");
}

TEST(MidiWriter, BrokenCallsStopWithTheConditionAndTheModuleName) {
    const std::uint8_t none[] = {0};
    EXPECT_EQ(conditionOf([](MidiFileWriter& w) { w.beginFile(1, 1, 0); }),
              "midi_rw: unitsperbeat_ != 0");
    EXPECT_EQ(conditionOf([](MidiFileWriter& w) { w.setTempo(0, 0); }), "midi_rw: msperbeat > 0");
    EXPECT_EQ(conditionOf([](MidiFileWriter& w) { w.setTempo(0, 0x1000000); }),
              "midi_rw: msperbeat <= 0xffffff");
    for (int denominator : {0, 3, 6, -4}) {
        EXPECT_EQ(conditionOf([=](MidiFileWriter& w) { w.timeSignature(0, 4, denominator); }),
                  "midi_rw: (1 << log2denom) == denom");
    }
    EXPECT_EQ(conditionOf([](MidiFileWriter& w) { w.beginTrack(16); }),
              "midi_rw: channel >= -1 && channel <= 15");
    EXPECT_EQ(conditionOf([](MidiFileWriter& w) { w.beginTrack(-2); }),
              "midi_rw: channel >= -1 && channel <= 15");
    const std::function<void(MidiFileWriter&, int)> channelMessages[] = {
        [](MidiFileWriter& w, int ch) { w.noteOff(0, ch, 60, 0); },
        [](MidiFileWriter& w, int ch) { w.noteOn(0, ch, 60, 1); },
        [](MidiFileWriter& w, int ch) { w.polyPressure(0, ch, 60, 1); },
        [](MidiFileWriter& w, int ch) { w.controller(0, ch, 7, 1); },
        [](MidiFileWriter& w, int ch) { w.programChange(0, ch, 1); },
        [](MidiFileWriter& w, int ch) { w.channelPressure(0, ch, 1); },
        [](MidiFileWriter& w, int ch) { w.pitchBend(0, ch, 0); },
    };
    for (const auto& message : channelMessages) {
        for (int ch : {-1, 16}) {
            EXPECT_EQ(conditionOf([&](MidiFileWriter& w) { message(w, ch); }),
                      "midi_rw: channel >= 0 && channel < 16");
        }
        EXPECT_EQ(conditionOf([&](MidiFileWriter& w) { message(w, 15); }), "no condition broken");
    }
    EXPECT_EQ(conditionOf([&](MidiFileWriter& w) { w.rawEvent(0, 0x7F, none, 1); }),
              "midi_rw: code >= 0x80");
    EXPECT_EQ(conditionOf([](MidiFileWriter& w) { w.seek(-1); }),
              "midi_rw: pos >= 0 && pos <= midilength()");
    EXPECT_EQ(conditionOf([](MidiFileWriter& w) { w.seek(w.midiLength() + 1); }),
              "midi_rw: pos >= 0 && pos <= midilength()");
    EXPECT_EQ(conditionOf([](MidiFileWriter& w) { w.seek(w.midiLength()); }),
              "no condition broken");
    EXPECT_EQ(conditionOf([](MidiFileWriter& w) { w.endTrack(); }),
              "midi_rw: beginTrack before endTrack");
    EXPECT_EQ(conditionOf([](MidiFileWriter& w) {
                  w.beginTrack();
                  w.noteOn(-1, 0, 60, 1);
              }),
              "midi_rw: delta >= 0");
}

TEST(MidiWriter, FailedWritesAreReportedAndCloseAnswersZero) {
    const std::string unwritable =
        (std::filesystem::temp_directory_path() / "varimel-no-such-folder" / "x.mid").string();
    std::vector<std::string> targets{unwritable};
    if (std::filesystem::exists("/dev/full")) targets.push_back("/dev/full");
    for (const std::string& target : targets) {
        RecordingWriter writer(target);
        writer.beginFile(0, 1, 96);
        writer.beginTrack();
        writer.noteOn(0, 0, 60, 1);
        writer.endTrack();
        EXPECT_EQ(writer.close(), 0) << target;
        EXPECT_EQ(writer.log, Log{"error write error (may be disk full)"}) << target;
        EXPECT_STREQ(writer.messageText(), "error: write error (may be disk full)\n");
    }
}

TEST(MidiWriter, WriterFlushesButLeavesTheCallersHandleOpen) {
    std::FILE* handle = std::tmpfile();
    ASSERT_NE(handle, nullptr);
    {
        MidiFileWriter writer(handle);
        writer.beginFile(0, 1, 96);
        writer.beginTrack();
        writer.noteOn(0, 0, 60, 1);
        writer.endTrack();
    }
    ASSERT_EQ(std::fseek(handle, 0, SEEK_SET), 0);
    s::Bytes bytes(64);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), handle));
    std::fclose(handle);
    EXPECT_EQ(bytes, s::file(0, 96, {s::cat({s::noteOn(0, 0, 60, 1), s::endOfTrack()})}));
}

}  // namespace
