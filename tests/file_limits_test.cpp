// The limits of engine/Limits.h, end to end: a melody or project file beyond any of them is
// refused with status 101 and a reason, without being processed; one just inside is read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "accompaniment/PatternFiles.h"
#include "accompaniment/StyleRenderer.h"
#include "engine/CompositionLoader.h"
#include "engine/Limits.h"
#include "engine/Mas_file.h"
#include "engine/Wchordmaster.h"
#include "settings/HarmonyOptions.h"
#include "support/melody.h"
#include "support/reader_paths.h"
#include "support/smf_bytes.h"

namespace varimel {
namespace {

using test::TempMidiFile;
namespace smf = test::smf;

constexpr int kDivision = 480;
constexpr int kThirtySecond = kDivision / 8;

// A one-track melody of `count` 32nd notes walking up and down a C major scale in octave 5:
// 32 notes a 4/4 bar, one channel, never two notes at once.
std::vector<std::uint8_t> scaleRun(int count) {
    static const int kKeys[] = {72, 74, 76, 77, 79, 81, 83, 84, 83, 81, 79, 77, 76, 74};
    smf::Bytes body = smf::tempo(0, 500000);
    body.reserve(static_cast<size_t>(count) * 8 + 64);
    for (int i = 0; i < count; ++i) {
        const int key = kKeys[i % 14];
        const smf::Bytes on = smf::noteOn(0, 0, key, 100);
        const smf::Bytes off = smf::noteOff(kThirtySecond, 0, key);
        body.insert(body.end(), on.begin(), on.end());
        body.insert(body.end(), off.begin(), off.end());
    }
    const smf::Bytes end = smf::endOfTrack();
    body.insert(body.end(), end.begin(), end.end());
    return smf::cat({smf::headerChunk(0, 1, kDivision), smf::trackChunk(body)});
}

struct Loaded {
    StatusCode status;
    std::string message;
};

Loaded loadMelody(const std::filesystem::path& path) {
    ChordMaster master(path.string());
    const StatusCode status = master.loadMidi();
    return {status, master.readerMessage()};
}

// Bytes followed by a hole the file system does not store, so that a test can afford a file of
// hundreds of megabytes.
void writeSparse(test::ScratchFile& file, const smf::Bytes& head, std::uintmax_t size) {
    ASSERT_TRUE(file.write(head));
    std::filesystem::resize_file(file.path(), size);
}

TEST(MidiFileLimits, AFileAboveTheSizeLimitIsRefusedWithoutBeingRead) {
    // A header, then a track that claims to run to the end of 200 MB.
    const smf::Bytes head =
        smf::cat({smf::headerChunk(0, 1, kDivision), smf::ascii("MTrk"), smf::be32(200u << 20)});
    test::ScratchFile file(".mid");
    writeSparse(file, head, 200u << 20);
    const Loaded loaded = loadMelody(file.path());
    EXPECT_EQ(loaded.status, status::kUnreadableFile);
    EXPECT_NE(loaded.message.find("larger than 16 MB"), std::string::npos) << loaded.message;
}

TEST(MidiFileLimits, AFileAtTheSizeLimitIsRead) {
    // A tune padded with a text event up to exactly the limit.
    const smf::Bytes tune = scaleRun(256);
    const size_t chunkOverhead = 14 + 8;  // header chunk, track chunk head
    const size_t eventBytes = tune.size() - chunkOverhead;
    const size_t padding = limits::kMaxMidiFileSize - tune.size() - 1 - 2 - 4;  // delta, FF 01, len
    smf::Bytes body(tune.begin() + static_cast<std::ptrdiff_t>(chunkOverhead), tune.end());
    ASSERT_EQ(body.size(), eventBytes);
    // The text event goes first, before the notes.
    smf::Bytes text =
        smf::cat({smf::varLen(0), {0xFF, 0x01}, smf::varLen(static_cast<std::uint32_t>(padding))});
    ASSERT_EQ(text.size(), 7u);
    text.resize(text.size() + padding, 'x');
    body.insert(body.begin(), text.begin(), text.end());
    const smf::Bytes bytes = smf::cat({smf::headerChunk(0, 1, kDivision), smf::trackChunk(body)});
    ASSERT_EQ(bytes.size(), limits::kMaxMidiFileSize);
    TempMidiFile file(bytes);
    const Loaded loaded = loadMelody(file.path());
    EXPECT_EQ(loaded.status, status::kOk) << loaded.message;
}

TEST(MidiFileLimits, TheMostNotesAreReadAndOneMoreIsRefused) {
    {
        TempMidiFile file(scaleRun(limits::kMaxNotes));
        ChordMaster master(file.pathString());
        EXPECT_EQ(master.loadMidi(), status::kOk) << master.readerMessage();
        EXPECT_EQ(master.composition()->noteTracks().count(0), limits::kMaxNotes);
        // The whole engine copes with that much music.
        EXPECT_TRUE(test::isKnownStatus(master.harmonise(defaultOptions)));
    }
    TempMidiFile file(scaleRun(limits::kMaxNotes + 1));
    const Loaded loaded = loadMelody(file.path());
    EXPECT_EQ(loaded.status, status::kUnreadableFile);
    EXPECT_NE(loaded.message.find("more than 200000 notes"), std::string::npos) << loaded.message;
}

TEST(MidiFileLimits, TheLastBarIsReadAndTheNextIsRefused) {
    // 4/4 at 480: a bar is 1920 ticks. The tune, then one note at the start of the given bar.
    auto withNoteInBar = [](std::uint32_t bar) {
        smf::Bytes tune = scaleRun(256);                     // 8 bars
        smf::Bytes body(tune.begin() + 22, tune.end() - 4);  // without its end of track
        // The rest in steps of 1000 bars (32 minutes), each shorter than a pause the reader
        // stops at.
        for (std::uint32_t wait = bar * 1920 - 8 * 1920; wait > 0;) {
            const std::uint32_t step = std::min<std::uint32_t>(wait, 1000 * 1920);
            body = smf::cat({body, smf::text(step, 1, "rest")});
            wait -= step;
        }
        body = smf::cat(
            {body, smf::noteOn(0, 0, 72, 100), smf::noteOff(240, 0, 72), smf::endOfTrack()});
        return smf::cat({smf::headerChunk(0, 1, kDivision), smf::trackChunk(body)});
    };
    TempMidiFile last(withNoteInBar(limits::kMaxBars - 1));
    EXPECT_EQ(loadMelody(last.path()).status, status::kOk);
    TempMidiFile beyond(withNoteInBar(limits::kMaxBars));
    const Loaded loaded = loadMelody(beyond.path());
    EXPECT_EQ(loaded.status, status::kUnreadableFile);
    EXPECT_NE(loaded.message.find("longer than 10000 bars"), std::string::npos) << loaded.message;
}

TEST(MidiFileLimits, MoreEventsBesidesNotesThanTheLimitAreRefused) {
    // Controller sweeps at one tick apart, in running status after a tune.
    auto withControllers = [](int count) {
        smf::Bytes tune = scaleRun(256);
        smf::Bytes body(tune.begin() + 22, tune.end() - 4);
        body.reserve(body.size() + static_cast<size_t>(count) * 3 + 8);
        body.push_back(0);
        body.insert(body.end(), {0xB0, 11, 0});
        for (int i = 1; i < count; ++i)
            body.insert(body.end(), {0, 11, static_cast<std::uint8_t>(i & 0x7F)});
        const smf::Bytes end = smf::endOfTrack();
        body.insert(body.end(), end.begin(), end.end());
        return smf::cat({smf::headerChunk(0, 1, kDivision), smf::trackChunk(body)});
    };
    // The tune brings its tempo event.
    TempMidiFile atLimit(withControllers(limits::kMaxEvents - 1));
    EXPECT_EQ(loadMelody(atLimit.path()).status, status::kOk);
    TempMidiFile beyond(withControllers(limits::kMaxEvents));
    const Loaded loaded = loadMelody(beyond.path());
    EXPECT_EQ(loaded.status, status::kUnreadableFile);
    EXPECT_NE(loaded.message.find("more than 500000 events"), std::string::npos) << loaded.message;
}

TEST(MidiFileLimits, ThousandsOfTracksAreMergedInTimeOrder) {
    // Track i holds the i-th note of the melody, so the merge must interleave every track.
    constexpr int kTracks = 20000;
    static const int kKeys[] = {72, 74, 76, 77, 79, 81, 83};
    smf::Bytes bytes = smf::headerChunk(1, kTracks, kDivision);
    for (int i = 0; i < kTracks; ++i) {
        const int key = kKeys[i % 7];
        const smf::Bytes track = smf::trackChunk(
            smf::cat({smf::noteOn(static_cast<std::uint32_t>(i * kThirtySecond), 0, key, 100),
                      smf::noteOff(kThirtySecond, 0, key), smf::endOfTrack()}));
        bytes.insert(bytes.end(), track.begin(), track.end());
    }
    TempMidiFile file(bytes);
    ChordMaster master(file.pathString());
    EXPECT_EQ(master.loadMidi(), status::kOk) << master.readerMessage();
    const auto& notes = master.composition()->noteTracks().notes(0);
    ASSERT_EQ(notes.size(), static_cast<size_t>(kTracks));
    for (size_t i = 0; i < notes.size(); ++i) {
        ASSERT_EQ(notes[i].key, kKeys[i % 7]) << i;
        ASSERT_EQ(notes[i].duration, kThirtySecond) << i;
    }
}

TEST(MidiFileLimits, NoteOffsWithoutNotesCostNothingBesideManySoundingNotes) {
    // Many notes that never end, then a flood of note-offs for a key that never sounded: each
    // must find at once that nothing of its key sounds.
    smf::Bytes body;
    for (int i = 0; i < 50000; ++i) {
        const smf::Bytes on = smf::noteOn(kThirtySecond, i % 16, 40 + i % 60, 100);
        body.insert(body.end(), on.begin(), on.end());
    }
    body.insert(body.end(), {0, 0x80, 127, 0});
    for (int i = 0; i < 300000; ++i) body.insert(body.end(), {0, 127, 0});
    const smf::Bytes end = smf::endOfTrack();
    body.insert(body.end(), end.begin(), end.end());
    TempMidiFile file(smf::cat({smf::headerChunk(0, 1, kDivision), smf::trackChunk(body)}));
    CompositionLoader loader(file.pathString());
    Composition composition;
    ASSERT_EQ(loader.attach(composition), 0);
    EXPECT_EQ(loader.run(), 1) << loader.messageText();
    EXPECT_EQ(loader.openNoteCount(), 50000);
}

// --- Project files ----------------------------------------------------------------------------

StatusCode openProject(const std::vector<std::uint8_t>& bytes) {
    test::ScratchFile file(".vml");
    EXPECT_TRUE(file.write(bytes));
    ChordMaster master(file.path());
    HarmonyOptions options = defaultOptions;
    return master.loadProject(options);
}

TEST(ProjectFileLimits, AFileAboveTheSizeLimitIsRefusedWithoutBeingRead) {
    test::ScratchFile file(".vml");
    writeSparse(file, smf::ascii("VVml"), limits::kMaxProjectFileSize + 1);
    ChordMaster master(file.path());
    HarmonyOptions options = defaultOptions;
    EXPECT_EQ(master.loadProject(options), status::kUnreadableFile);
}

TEST(ProjectFileLimits, TheMostNotesAreReadAndOneMoreIsRefused) {
    TempMidiFile melodyFile(scaleRun(limits::kMaxNotes));
    ChordMaster master(melodyFile.pathString());
    ASSERT_EQ(master.loadMidi(), status::kOk);
    std::vector<std::uint8_t> bytes = ProjectWriter::encode(*master.composition(), defaultOptions);
    EXPECT_EQ(openProject(bytes), status::kOk);

    // No composition holds one more, so the file gets it by hand: the last note twice.
    const auto chunk =
        std::search(bytes.begin(), bytes.end(), std::begin("MNts"), std::begin("MNts") + 4);
    ASSERT_NE(chunk, bytes.end());
    const auto count = chunk + 4;
    const std::uint32_t more = limits::kMaxNotes + 1;
    for (int i = 0; i < 4; ++i) count[i] = static_cast<std::uint8_t>(more >> (8 * i));
    const auto lastNote = count + 4 + 14 * (limits::kMaxNotes - 1);
    const std::vector<std::uint8_t> note(lastNote, lastNote + 14);
    bytes.insert(lastNote + 14, note.begin(), note.end());
    EXPECT_EQ(openProject(bytes), status::kUnreadableFile);
}

TEST(ProjectFileLimits, AChordTrackLongerThanTheBarLimitIsRefused) {
    TempMidiFile melodyFile(scaleRun(256));
    ChordMaster master(melodyFile.pathString());
    ASSERT_EQ(master.loadMidi(), status::kOk);
    Composition& c = *master.composition();
    c.chordTrack.assign(static_cast<size_t>(limits::kMaxBars), ChordTrackEntry{});
    EXPECT_EQ(openProject(ProjectWriter::encode(c, defaultOptions)), status::kOk);
    c.chordTrack.push_back(ChordTrackEntry{});
    EXPECT_EQ(openProject(ProjectWriter::encode(c, defaultOptions)), status::kUnreadableFile);
}

// --- Style and arrangement files ----------------------------------------------------------

PatternEvent crowdedEvent(int i) {
    PatternEvent event;
    event.tone = static_cast<int8_t>(1 + i % 3);  // root, third, fifth
    event.octave = 4;
    event.duration = 30;
    event.tick = static_cast<uint16_t>(i % 120);
    event.beat = static_cast<uint8_t>(i % 4);
    return event;  // every one in pattern bar 0
}

Style crowdedStyle(int events) {
    Style style;
    style.bars = 1;
    style.octave = 4;
    style.meterNum = 4;
    style.meterDen = 4;
    style.ppq = 120;
    style.meters = meterCode(4, 4);
    for (int i = 0; i < events; ++i) style.events.push_back(crowdedEvent(i));
    style.valid = true;
    return style;
}

Arrangement crowdedArrangement(int eventsPerLine) {
    Arrangement arrangement;
    arrangement.meterNum = 4;
    arrangement.meterDen = 4;
    arrangement.ppq = 120;
    arrangement.parts.resize(4);
    for (ArrangementPart& part : arrangement.parts) {
        for (int i = 0; i < eventsPerLine; ++i) {
            part.organ.push_back(crowdedEvent(i));
            part.bass.push_back(crowdedEvent(i));
            PatternEvent drum = crowdedEvent(i);
            drum.tone = 42;
            part.drums.push_back(drum);
        }
    }
    return arrangement;
}

TEST(PatternFileLimits, APatternLineLongerThanTheLimitIsRefused) {
    Style style;
    EXPECT_TRUE(parseStyle(serializeStyle(crowdedStyle(kMaxPatternEvents)), style));
    EXPECT_FALSE(parseStyle(serializeStyle(crowdedStyle(kMaxPatternEvents + 1)), style));
    Arrangement arrangement;
    EXPECT_TRUE(
        parseArrangement(serializeArrangement(crowdedArrangement(kMaxPatternEvents)), arrangement));
    EXPECT_FALSE(parseArrangement(serializeArrangement(crowdedArrangement(kMaxPatternEvents + 1)),
                                  arrangement));
}

TEST(PatternFileLimits, ADensePatternOverALongPieceStopsAtTheNoteLimit) {
    // One whole note a bar, harmonised, then every pattern event in one bar: 4096 notes a bar
    // would pass the limit after 49 bars.
    constexpr int kBars = 200;
    static const int kKeys[] = {72, 74, 76, 77, 79, 81, 83};
    smf::Bytes body;
    for (int bar = 0; bar < kBars; ++bar) {
        body = smf::cat({body, smf::noteOn(0, 0, kKeys[bar % 7], 100),
                         smf::noteOff(4 * kDivision, 0, kKeys[bar % 7])});
    }
    body = smf::cat({body, smf::endOfTrack()});
    TempMidiFile file(smf::cat({smf::headerChunk(0, 1, kDivision), smf::trackChunk(body)}));
    ChordMaster master(file.pathString());
    ASSERT_EQ(master.loadMidi(), status::kOk);
    ASSERT_TRUE(test::isKnownStatus(master.harmonise(defaultOptions)));
    Composition& c = *master.composition();
    ASSERT_EQ(c.chordTrack.size(), static_cast<size_t>(kBars));

    const Style style = crowdedStyle(kMaxPatternEvents);
    c.style = &style;
    c.accompanimentParts = accompaniment_part::kStyle;
    renderAccompaniment(c);
    EXPECT_EQ(c.noteTracks().count(accompaniment_list::kChords), limits::kMaxNotes);
    c.style = nullptr;

    const Arrangement arrangement = crowdedArrangement(kMaxPatternEvents);
    c.arrangement = &arrangement;
    c.accompanimentParts = accompaniment_part::kArrangement;
    renderAccompaniment(c);
    c.arrangement = nullptr;
    for (const int list :
         {accompaniment_list::kOrgan, accompaniment_list::kBass, accompaniment_list::kDrums}) {
        EXPECT_GT(c.noteTracks().count(list), 0) << list;
        EXPECT_LE(c.noteTracks().count(list), limits::kMaxNotes) << list;
    }
}

}  // namespace
}  // namespace varimel
