// Project files: what is written reads back equal, and damaged files are refused safely.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "engine/ByteIO.h"
#include "engine/Mas_file.h"
#include "engine/Wchordmaster.h"
#include "support/melody.h"
#include "support/samples.h"

using namespace varimel;
using namespace varimel::test;

namespace {

std::vector<Step> tune() {
    const char* pitches[] = {"E5", "D5", "C5", "D5", "E5", "E5", "E5", "r",  "D5", "D5", "D5",
                             "r",  "E5", "G5", "A5", "r",  "F5", "D5", "C5", "D5", "E5", "E5",
                             "E5", "C5", "D5", "D5", "E5", "D5", "C5", "r",  "r",  "r"};
    std::vector<Step> steps;
    for (const char* pitch : pitches) steps.push_back({pitch, 1_beat});
    return steps;
}

// A loaded, analysed composition with a harmony filled in by hand (one chord per bar).
std::unique_ptr<ChordMaster> harmonisedTune(const std::string& path) {
    auto master = std::make_unique<ChordMaster>(path);
    EXPECT_EQ(master->loadMidi(), 0);
    Composition& c = *master->composition();
    c.keys = {KeyRecord{7, 0, 0}};
    c.keyMarks[7] = key_mark::kMain;
    c.keyMarks[8] = key_mark::kDominant;
    c.keyMarks[6] = key_mark::kSubdominant;
    c.slots.assign(static_cast<size_t>(c.barCount), HarmonySlot{});
    for (size_t bar = 0; bar < c.slots.size(); ++bar) {
        HarmonySlot& slot = c.slots[bar];
        slot.mainCount = 2;
        slot.extraCount = 3;
        for (size_t i = 0; i < 5; ++i)
            slot.candidates[i] =
                makeChordCode(static_cast<int>(bar + i) % 24, static_cast<int>(i % 5));
        slot.cadenceKind = static_cast<int8_t>(bar % 3 == 2 ? 3 : (bar == 0 ? -1 : 0));
    }
    c.buildChordTrack();
    c.chordTrack[0].extra = (1 << 24) | 3;  // the style identifier
    c.chordTrack[1].enabled = 0;
    c.arrangementId = (2 << 16) | 1;
    c.setAccompanimentParts(2);
    c.setAccompanimentParts(6);
    return master;
}

void expectSameDocument(const Composition& a, const Composition& b) {
    EXPECT_EQ(a.noteTracks().notes(0), b.noteTracks().notes(0));
    EXPECT_EQ(a.conductorEvents.events(), b.conductorEvents.events());
    EXPECT_EQ(a.channelEvents.events(), b.channelEvents.events());
    const MeterMap& ma = a.meterMap();
    const MeterMap& mb = b.meterMap();
    EXPECT_EQ(ma.segments(), mb.segments());
    EXPECT_EQ(ma.ticksPerWhole, mb.ticksPerWhole);
    EXPECT_EQ(ma.shortestNote, mb.shortestNote);
    EXPECT_EQ(ma.shortestNoteUnits, mb.shortestNoteUnits);
    EXPECT_EQ(ma.gapTolerance, mb.gapTolerance);
    EXPECT_EQ(ma.barCount, mb.barCount);
    EXPECT_EQ(ma.sixteenth, mb.sixteenth);
    EXPECT_EQ(ma.ticksPerQuarter, mb.ticksPerQuarter);
    EXPECT_EQ(a.keyMarks, b.keyMarks);
    EXPECT_EQ(a.keys, b.keys);
    EXPECT_EQ(a.slots, b.slots);
    EXPECT_EQ(a.chordTrack, b.chordTrack);
    EXPECT_EQ(a.styleId(), b.styleId());
    EXPECT_EQ(a.arrangementId, b.arrangementId);
    EXPECT_EQ(a.accompanimentParts, b.accompanimentParts);
    EXPECT_EQ(a.previousParts, b.previousParts);
    EXPECT_EQ(a.barCount, b.barCount);
    EXPECT_EQ(a.ticksPerQuarter, b.ticksPerQuarter);
    EXPECT_EQ(a.noteTracks().pitchClassSet(), b.noteTracks().pitchClassSet());
    EXPECT_EQ(a.noteTracks().cachedUpbeat(), b.noteTracks().cachedUpbeat());
    EXPECT_EQ(a.accompanimentOctave, b.accompanimentOctave);
}

std::filesystem::path scratch(const std::string& name) {
    return std::filesystem::temp_directory_path() /
           ("varimel-project-" + std::to_string(::getpid()) + "-" + name);
}

std::vector<uint8_t> fileBytes(const std::filesystem::path& path) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(readWholeFile(path.string(), 1 << 30, bytes));
    return bytes;
}

StatusCode loadProjectBytes(const std::vector<uint8_t>& bytes, HarmonyOptions& options) {
    TempMidiFile file(bytes, ".vml");
    ChordMaster master(file.pathString());
    return master.loadProject(options);
}

}  // namespace

TEST(ProjectFile, WrittenProjectReadsBackEqual) {
    TempMidiFile midi(melody("3/4", tune(), [] {
        MelodyOptions o;
        o.key = "C major";
        o.tempoBpm = 96;
        o.program = 24;
        o.pickup = 1_beat;
        return o;
    }()));
    auto original = harmonisedTune(midi.pathString());
    HarmonyOptions options;
    options.SHBmode = 0;
    options.MinWT = 0.65f;
    options.MaxNumCustomChords = 5;

    const auto path = scratch("roundtrip.vml");
    std::string error;
    ASSERT_TRUE(ProjectWriter::write(path.string(), *original->composition(), options, error))
        << error;

    HarmonyOptions readOptions;
    ChordMaster reopened(path.string());
    EXPECT_EQ(reopened.loadProject(readOptions), 0);
    EXPECT_EQ(reopened.sourceValue, 0x10000u);
    EXPECT_EQ(readOptions, options);
    expectSameDocument(*original->composition(), *reopened.composition());
    EXPECT_EQ(reopened.composition()->noteTracks().barCount(), reopened.composition()->barCount);
    EXPECT_EQ(reopened.composition()->noteTracks().capacity(1), 100);  // ready for the chords

    // Writing the reopened document gives the same bytes again.
    EXPECT_EQ(ProjectWriter::encode(*reopened.composition(), readOptions), fileBytes(path));
    std::filesystem::remove(path);
}

TEST(ProjectFile, ChunksBeforeTheVersionAreRefused) {
    ByteWriter out;
    out.text("ArId");
    out.i32(-1);
    out.u32(0);
    out.u32(0);
    out.text("POpt");
    out.i32(1);
    out.zeros(32);
    out.text("FEnd");
    HarmonyOptions options;
    EXPECT_EQ(loadProjectBytes(out.bytes(), options), 101);

    // "ArId" may stand before the version.
    TempMidiFile midi(melody("4/4", tune()));
    auto master = harmonisedTune(midi.pathString());
    std::vector<uint8_t> bytes = ProjectWriter::encode(*master->composition(), HarmonyOptions{});
    ByteWriter arrangement;
    arrangement.text("ArId");
    arrangement.i32(5);
    arrangement.u32(1);
    arrangement.u32(0);
    bytes.insert(bytes.begin(), arrangement.bytes().begin(), arrangement.bytes().end());
    EXPECT_EQ(loadProjectBytes(bytes, options), 0);
}

TEST(ProjectFile, MissingEndOrUnknownChunkFails) {
    TempMidiFile midi(melody("4/4", tune()));
    auto master = harmonisedTune(midi.pathString());
    std::vector<uint8_t> bytes = ProjectWriter::encode(*master->composition(), HarmonyOptions{});
    HarmonyOptions options;
    EXPECT_EQ(loadProjectBytes(bytes, options), 0);
    EXPECT_EQ(loadProjectBytes(std::vector<uint8_t>(bytes.begin(), bytes.end() - 4), options), 101);
    std::vector<uint8_t> unknown = bytes;
    unknown.insert(unknown.end() - 4, {'X', 'Y', 'Z', 'W'});
    EXPECT_EQ(loadProjectBytes(unknown, options), 101);
}

TEST(ProjectFile, RepeatedChunksAppendOrReplace) {
    TempMidiFile midi(melody("4/4", tune()));
    auto master = harmonisedTune(midi.pathString());
    const Composition& c = *master->composition();
    std::vector<uint8_t> bytes = ProjectWriter::encode(c, HarmonyOptions{});
    // Append a second copy of the ArId chunk with other values before "FEnd".
    ByteWriter extra;
    extra.text("ArId");
    extra.i32(77);
    extra.u32(1);
    extra.u32(4);
    bytes.insert(bytes.end() - 4, extra.bytes().begin(), extra.bytes().end());
    TempMidiFile file(bytes, ".vml");
    ChordMaster reopened(file.pathString());
    HarmonyOptions options;
    ASSERT_EQ(reopened.loadProject(options), 0);
    EXPECT_EQ(reopened.composition()->arrangementId, 77);
    EXPECT_EQ(reopened.composition()->accompanimentParts, 1u);
}

TEST(ProjectFile, DamagedFilesAreRefusedWithoutCrashing) {
    TempMidiFile midi(melody("4/4", tune(), [] {
        MelodyOptions o;
        o.key = "G major";
        o.tempoBpm = 120;
        return o;
    }()));
    auto master = harmonisedTune(midi.pathString());
    const std::vector<uint8_t> good =
        ProjectWriter::encode(*master->composition(), HarmonyOptions{});
    HarmonyOptions options;

    for (size_t size = 0; size + 1 < good.size(); size += 3) {
        const StatusCode status =
            loadProjectBytes(std::vector<uint8_t>(good.begin(), good.begin() + size), options);
        EXPECT_EQ(status, 101) << "truncated to " << size;
    }

    std::mt19937 random(3);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> flipped = good;
        for (int flips = 0; flips < 4; ++flips) {
            flipped[random() % flipped.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
        }
        const StatusCode status = loadProjectBytes(flipped, options);
        EXPECT_TRUE(status == 0 || status == 101 || status == 91 || status == 92) << status;
    }
}

TEST(ProjectFile, AbsurdCountsDoNotAllocate) {
    for (const char* chunk : {"GPar", "TPar", "MNts", "AChr", "RChr", "Qsec"}) {
        ByteWriter out;
        out.text("VVml");
        out.i32(1);
        out.text(chunk);
        out.i32(0x7FFFFFFF);
        out.zeros(64);
        out.text("FEnd");
        HarmonyOptions options;
        EXPECT_EQ(loadProjectBytes(out.bytes(), options), 101) << chunk;
    }
    ByteWriter meter;
    meter.text("VVml");
    meter.i32(1);
    meter.text("TTel");
    meter.i32(0x40000000);  // word count
    meter.text("FEnd");
    HarmonyOptions options;
    EXPECT_EQ(loadProjectBytes(meter.bytes(), options), 101);
}

TEST(ProjectFile, MeterBlockWithExtraWordsReadsTheFirstTen) {
    TempMidiFile midi(melody("4/4", tune()));
    auto master = harmonisedTune(midi.pathString());
    std::vector<uint8_t> bytes = ProjectWriter::encode(*master->composition(), HarmonyOptions{});
    // Find "TTel" and widen its block to 12 words.
    const std::string id = "TTel";
    auto at = std::search(bytes.begin(), bytes.end(), id.begin(), id.end());
    ASSERT_NE(at, bytes.end());
    const size_t count = static_cast<size_t>(at - bytes.begin()) + 4;
    bytes[count] = 12;
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(count + 4 + 9 * 4), 12, 0xAB);
    TempMidiFile file(bytes, ".vml");
    ChordMaster reopened(file.pathString());
    HarmonyOptions options;
    ASSERT_EQ(reopened.loadProject(options), 0);
    EXPECT_EQ(reopened.composition()->meterMap().segments(),
              master->composition()->meterMap().segments());
}

TEST(ProjectFile, FailedSaveKeepsThePreviousFile) {
    const auto folder = scratch("readonly");
    std::filesystem::create_directories(folder);
    const auto target = folder / "song.vml";
    { std::ofstream(target) << "previous"; }
    std::string error;
    // A target that is a folder cannot be replaced.
    EXPECT_FALSE(writeFileAtomically(folder.string(), {1, 2, 3}, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(writeFileAtomically(target.string(), {1, 2, 3}, error)) << error;
    EXPECT_EQ(fileBytes(target), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(writeFileAtomically((folder / "missing" / "x.vml").string(), {1}, error));
    EXPECT_EQ(fileBytes(target), (std::vector<uint8_t>{1, 2, 3}));
    std::filesystem::remove_all(folder);
}

class ProjectSample : public ::testing::TestWithParam<std::string> {};

TEST_P(ProjectSample, HarmonisedSampleRoundTrips) {
    ChordMaster original(GetParam());
    const StatusCode loaded = original.loadMidi();
    if (loaded != 0 && loaded != 92)
        GTEST_SKIP() << "not a usable melody (status " << loaded << ")";
    HarmonyOptions options = defaultOptions;
    if (loaded == 92) options.AutoKey = false;
    original.harmonise(options);
    original.composition()->setAccompanimentParts(accompaniment_part::kStyle);

    const auto path = scratch(std::filesystem::path(GetParam()).stem().string() + ".vml");
    std::string error;
    ASSERT_TRUE(ProjectWriter::write(path.string(), *original.composition(), options, error))
        << error;
    HarmonyOptions readOptions;
    ChordMaster reopened(path.string());
    ASSERT_EQ(reopened.loadProject(readOptions), 0);
    EXPECT_EQ(readOptions, options);
    expectSameDocument(*original.composition(), *reopened.composition());
    std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(Samples, ProjectSample, ::testing::ValuesIn(sampleMelodyFiles()),
                         [](const auto& info) {
                             return std::filesystem::path(info.param).stem().string();
                         });

TEST(ProjectFile, AFilesOwnMeterIsItsOnlySegmentAndOldProjectsWithTwoStillRead) {
    std::vector<Step> steps;
    const char* pitches[] = {"G4", "A4", "B4", "C5", "D5", "E5", "D5", "B4", "G4"};
    for (int i = 0; i < 36; ++i) steps.push_back({pitches[i % 9], 1_beat});
    TempMidiFile midi(melody("3/4", steps));
    ChordMaster master(midi.pathString());
    ASSERT_EQ(master.loadMidi(), 0);
    Composition& c = *master.composition();
    ASSERT_EQ(c.meterMap().segments().size(), 1u);
    EXPECT_EQ(c.meterMap().ticksPerBar(0), 1440);

    // Projects saved before kept the default 4/4 segment in front of the file's own.
    std::vector<MeterSegment> old = c.meterMap().segments();
    MeterMap defaultMeter;
    defaultMeter.setTicksPerQuarter(c.ticksPerQuarter);
    defaultMeter.addSegment(0, 4, 4);
    old.insert(old.begin(), defaultMeter.segments().front());
    c.meterMap().setSegments(old);
    TempDir dir;
    std::string error;
    ASSERT_TRUE(ProjectWriter::write((dir / "old.vml").string(), c, defaultOptions, error))
        << error;
    ChordMaster reread((dir / "old.vml").string());
    ASSERT_EQ(reread.loadProject(), 0);
    EXPECT_EQ(reread.composition()->meterMap().segments().size(), 2u);
    EXPECT_EQ(reread.composition()->meterMap().ticksPerBar(0), 1440);
    EXPECT_EQ(reread.composition()->barCount, 12);
}
