// MIDI export: every sample melody exports and reads back to the same notes and meta events.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>

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

// Exports the composition and decodes the written bytes with the test's own decoder, which keeps
// the events in the order they were written.
SmfFile exportedEvents(const Composition& c, const std::string& name) {
    const std::string exported = scratchFile(name);
    std::string error;
    EXPECT_TRUE(exportMidi(c, nullptr, exported, error)) << error;
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(readWholeFile(exported, 1 << 20, bytes));
    std::filesystem::remove(exported);
    SmfWalk walk = walkSmf(bytes);
    EXPECT_TRUE(walk.file.has_value()) << walk.error;
    return walk.file.value_or(SmfFile{});
}

// A melody of quarter notes, the pitches repeated to the count given, loaded as a document.
std::unique_ptr<ChordMaster> loadedQuarters(const std::vector<const char*>& pitches, size_t count,
                                            const MelodyOptions& options = {}) {
    std::vector<Step> steps;
    for (size_t i = 0; i < count; ++i) steps.push_back({pitches[i % pitches.size()], 1_beat});
    TempMidiFile midi(melody("4/4", steps, options));
    auto master = std::make_unique<ChordMaster>(midi.pathString());
    EXPECT_EQ(master->loadMidi(), 0);
    return master;
}

bool isNoteOn(const SmfEvent& e) {
    return e.kind() == 0x90 && e.data.size() == 2 && e.data[1] > 0;
}
bool isNoteOff(const SmfEvent& e) {
    return (e.kind() == 0x80 || e.kind() == 0x90) && e.data.size() == 2 &&
           (e.kind() == 0x80 || e.data[1] == 0);
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
    const auto master = loadedQuarters({"C5", "E5", "G5", "A5", "F5", "D5", "B4", "C5"}, 16);
    ASSERT_NE(master->composition(), nullptr);
    Composition& c = *master->composition();
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
    // The comment is a text event where no note starts, so no notation program takes it for a
    // lyric: after the last note (the melody's sixteen quarters) ends.
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(readWholeFile(exported, 1 << 20, bytes));
    const test::SmfWalk walk = test::walkSmf(bytes);
    ASSERT_TRUE(walk.file) << walk.error;
    const auto texts = walk.file->metas(0x01);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(std::string(texts[0].data.begin(), texts[0].data.end()), "generated");
    EXPECT_EQ(texts[0].tick, 16 * 480);
    for (const test::SmfNote& note : walk.file->notes()) EXPECT_LT(note.startTick, texts[0].tick);
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

TEST(Export, ANoteEndsBeforeTheNextOneOfItsKeyStartsAndSilentNotesStillSound) {
    // C C (the second starts where the first ends) E G ..., the E stored with velocity 0.
    const auto master = loadedQuarters({"C5", "C5", "E5", "G5", "A5", "F5", "D5", "B4"}, 16);
    ASSERT_NE(master->composition(), nullptr);
    Composition& c = *master->composition();
    NoteRecord* silent = c.noteTracks().mutableNote(2, 0);
    ASSERT_NE(silent, nullptr);
    ASSERT_EQ(silent->key, 76);
    silent->velocity &= 0x00FF;

    const SmfFile file = exportedEvents(c, "order.mid");
    ASSERT_EQ(file.tracks.size(), 2u);
    const std::vector<SmfEvent>& events = file.tracks[1].events;
    // At tick 480 the first C ends before the second begins.
    std::vector<std::pair<bool, int>> at480;  // (is a note on, key)
    for (const SmfEvent& e : events) {
        if (e.tick == 480 && (isNoteOn(e) || isNoteOff(e)))
            at480.emplace_back(isNoteOn(e), e.data[0]);
    }
    EXPECT_EQ(at480, (std::vector<std::pair<bool, int>>{{false, 72}, {true, 72}}));
    // In the order written, every key sounds at most once at a time: on, off, on, off...
    std::map<int, bool> sounding;
    int ons = 0;
    for (const SmfEvent& e : events) {
        if (isNoteOn(e)) {
            EXPECT_FALSE(sounding[e.data[0]]) << "key " << int{e.data[0]} << " at " << e.tick;
            sounding[e.data[0]] = true;
            ++ons;
        } else if (isNoteOff(e)) {
            EXPECT_TRUE(sounding[e.data[0]]) << "key " << int{e.data[0]} << " at " << e.tick;
            sounding[e.data[0]] = false;
        }
    }
    EXPECT_EQ(ons, 16);
    // The silent E is struck as softly as possible, not written as a note off.
    const auto silentOn = std::find_if(events.begin(), events.end(), [](const SmfEvent& e) {
        return e.tick == 960 && e.kind() == 0x90;
    });
    ASSERT_NE(silentOn, events.end());
    EXPECT_EQ(silentOn->data, (std::vector<uint8_t>{76, 1}));
}

TEST(Export, SevenSharpsAndSevenFlatsAreWrittenBack) {
    for (const auto& [key, sharpsFlats] :
         {std::pair{"C# major", 7}, std::pair{"Cb major", -7}, std::pair{"Ab minor", -7}}) {
        SCOPED_TRACE(key);
        MelodyOptions options;
        options.key = key;
        const auto master =
            loadedQuarters({"C5", "D5", "E5", "F5", "G5", "A5", "B5", "C6"}, 12, options);
        ASSERT_NE(master->composition(), nullptr);
        const std::vector<SmfEvent> signatures =
            exportedEvents(*master->composition(), "seven.mid").metas(0x59);
        ASSERT_EQ(signatures.size(), 1u);
        ASSERT_EQ(signatures[0].data.size(), 2u);
        EXPECT_EQ(static_cast<int8_t>(signatures[0].data[0]), sharpsFlats);
    }
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
