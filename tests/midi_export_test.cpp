// MIDI export: every sample melody exports and reads back to the same notes and meta events.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "engine/ByteIO.h"
#include "engine/CompositionLoader.h"
#include "engine/MidiExport.h"
#include "engine/Wchordmaster.h"
#include "support/melody.h"
#include "support/samples.h"
#include "support/smf_walker.h"

using namespace varimel;
using namespace varimel::test;

namespace {

std::string scratchFile(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("varimel-export-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

// Conductor events compared by kind, value and tick.
std::vector<std::tuple<int, int32_t, int32_t>> conductor(const Composition& c) {
    std::vector<std::tuple<int, int32_t, int32_t>> events;
    for (const TrackEvent& e : c.conductorEvents.events()) {
        events.emplace_back(e.kind, e.value, c.meterMap().tickOfPosition(e.position));
    }
    std::sort(events.begin(), events.end(),
              [](const auto& a, const auto& b) { return std::get<2>(a) < std::get<2>(b); });
    return events;
}

}  // namespace

class ExportSample : public ::testing::TestWithParam<std::string> {};

TEST_P(ExportSample, ReadsBackToTheSameMelodyAndMeter) {
    ChordMaster original(GetParam());
    const StatusCode status = original.loadMidi();
    if (status != 0 && status != 92)
        GTEST_SKIP() << "not a usable melody (status " << status << ")";
    const std::string exported = scratchFile(std::filesystem::path(GetParam()).filename().string());
    std::string error;
    ASSERT_TRUE(exportMidi(*original.composition(), nullptr, exported, error)) << error;

    ChordMaster reread(exported);
    EXPECT_EQ(reread.loadMidi(), status);
    const Composition& a = *original.composition();
    const Composition& b = *reread.composition();
    EXPECT_EQ(a.noteTracks().notes(0), b.noteTracks().notes(0));
    EXPECT_EQ(a.meterMap().segments(), b.meterMap().segments());
    EXPECT_EQ(a.barCount, b.barCount);
    EXPECT_EQ(a.ticksPerQuarter, b.ticksPerQuarter);
    EXPECT_EQ(conductor(a), conductor(b));
    EXPECT_EQ(a.channelEvents.events(), b.channelEvents.events());
    std::filesystem::remove(exported);
}

INSTANTIATE_TEST_SUITE_P(Samples, ExportSample, ::testing::ValuesIn(sampleMelodyFiles()),
                         [](const auto& info) {
                             return std::filesystem::path(info.param).stem().string();
                         });

TEST(Export, AccompanimentChannelsGetTheirOwnTracksAndInstruments) {
    std::vector<Step> steps;
    const char* pitches[] = {"C5", "E5", "G5", "A5", "F5", "D5", "B4", "C5"};
    for (int i = 0; i < 16; ++i) steps.push_back({pitches[i % 8], 1_beat});
    TempMidiFile midi(melody("4/4", steps));
    ChordMaster master(midi.pathString());
    ASSERT_EQ(master.loadMidi(), 0);
    Composition& c = *master.composition();
    c.comment = "generated";
    NoteTracks& notes = c.noteTracks();
    notes.addNote(48, 1, 90 << 8, {0, 0, 0}, 1920, 0);
    notes.addNote(36, 3, 100 << 8, {1, 0, 0}, 480, 0);
    notes.addNote(42, 9, 80 << 8, {1, 2, 0}, 60, 0);
    ChannelSettings channels;
    channels.program[1] = 24;
    channels.volume[3] = 90;

    const std::string exported = scratchFile("accompaniment.mid");
    std::string error;
    ASSERT_TRUE(exportMidi(c, &channels, exported, error)) << error;

    Composition back;
    CompositionLoader loader(exported);
    ASSERT_EQ(loader.attach(back), 0);
    ASSERT_EQ(loader.run(), 1);
    EXPECT_EQ(back.trackCount, 5);  // conductor, melody, accompaniment, bass, drums
    EXPECT_EQ(back.noteTracks().count(0), 16);
    ASSERT_EQ(back.noteTracks().count(1), 1);
    EXPECT_EQ(back.noteTracks().note(0, 1)->duration, 1920);
    ASSERT_EQ(back.noteTracks().count(3), 1);
    EXPECT_EQ(back.noteTracks().note(0, 3)->position.bar, 1);
    ASSERT_EQ(back.noteTracks().count(9), 1);
    EXPECT_EQ(back.noteTracks().note(0, 9)->position.beat, 2);
    EXPECT_EQ(back.eventValue(event_kind::kProgramChange | 1, 0), 24);
    EXPECT_EQ(back.eventValue(event_kind::kController | 3, 7), 90);
    EXPECT_EQ(back.eventValue(event_kind::kProgramChange | 9, 0), -1);  // drums have no program
    std::filesystem::remove(exported);
}

TEST(Export, ANoteOfNoLengthEndsAfterItStarts) {
    std::vector<Step> steps;
    const char* pitches[] = {"C5", "E5", "G5", "A5", "F5", "D5", "B4", "C5"};
    for (int i = 0; i < 16; ++i) steps.push_back({pitches[i % 8], 1_beat});
    TempMidiFile midi(melody("4/4", steps));
    ChordMaster master(midi.pathString());
    ASSERT_EQ(master.loadMidi(), 0);
    NoteTracks& notes = master.composition()->noteTracks();
    // Bar 1: a chord tone of no length where the one before ends, then one that goes on.
    notes.addNote(48, 1, 90 << 8, {0, 0, 0}, 1920, 0);
    notes.addNote(48, 1, 90 << 8, {1, 0, 0}, 0, 0);
    notes.addNote(48, 1, 90 << 8, {1, 0, 0}, 480, 0);
    const std::string exported = scratchFile("zero-length.mid");
    std::string error;
    ASSERT_TRUE(exportMidi(*master.composition(), nullptr, exported, error)) << error;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(readWholeFile(exported, 1 << 20, bytes));
    std::filesystem::remove(exported);
    const SmfWalk walked = walkSmf(bytes);
    ASSERT_TRUE(walked.file) << walked.error;
    // Key 48 at tick 1920: the earlier note's off, the short note's on and off, the next on.
    std::string order;
    for (const SmfTrack& track : walked.file->tracks) {
        for (const SmfEvent& event : track.events) {
            if (event.tick != 1920 || event.data.empty() || event.data[0] != 48) continue;
            const bool on = event.kind() == 0x90 && event.data[1] > 0;
            if (event.kind() == 0x80 || event.kind() == 0x90) order += on ? "+" : "-";
        }
    }
    EXPECT_EQ(order, "-+-+");
    std::vector<int64_t> lengths;
    for (const SmfNote& note : walked.file->notes()) {
        if (note.key == 48) lengths.push_back(note.durationTicks);
    }
    EXPECT_EQ(lengths, (std::vector<int64_t>{1920, 0, 480}));
}

TEST(Export, FailedExportLeavesThePreviousFile) {
    const std::string folder = scratchFile("folder");
    std::filesystem::create_directories(folder);
    Composition c;
    std::string error;
    EXPECT_FALSE(exportMidi(c, nullptr, folder + "/missing/out.mid", error));
    EXPECT_FALSE(error.empty());
    std::filesystem::remove_all(folder);
}

TEST(ChordMaster, StoresPlayedChannelsIntoTheChannelEvents) {
    Composition* c = nullptr;
    std::vector<Step> steps;
    for (int i = 0; i < 16; ++i) steps.push_back({i % 2 ? "E5" : "C5", 1_beat});
    TempMidiFile midi(melody("4/4", steps));
    ChordMaster master(midi.pathString());
    master.loadMidi();
    c = master.composition();
    ASSERT_NE(c, nullptr);
    // A controller whose number shares the volume controller's low bits keeps its value.
    c->channelEvents.append({event_kind::kController | 0, packEventValue(71, 20), 0, {}});
    ChannelSettings channels;
    channels.program[0] = 73;
    channels.volume[0] = 80;
    channels.program[2] = 16;
    c->channelSettings = &channels;
    c->accompanimentParts = accompaniment_part::kArrangement;
    master.storeChannelSettings();
    EXPECT_EQ(c->eventValue(event_kind::kController | 0, 7), 80);
    EXPECT_EQ(c->eventValue(event_kind::kController | 0, 71), 20);
    EXPECT_EQ(c->eventValue(event_kind::kProgramChange | 0, 0), 73);
    EXPECT_EQ(c->eventValue(event_kind::kProgramChange | 2, 0), 16);
    EXPECT_EQ(c->eventValue(event_kind::kProgramChange | 1, 0), -1);  // channel 1 is not played
    EXPECT_EQ(c->eventValue(event_kind::kProgramChange | 9, 0), -1);
    EXPECT_EQ(c->eventValue(event_kind::kController | 9, 7), 100);
    channels.volume[0] = 60;
    master.storeChannelSettings();  // replaces, does not add
    EXPECT_EQ(c->eventValue(event_kind::kController | 0, 7), 60);
}
